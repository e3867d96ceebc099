#include "base/textnumber.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r')
           || c == QLatin1Char('\n');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Collects the leading number of `text` into `number` (ASCII, blanks removed)
// and returns the index just after it; `digits` tells whether the mantissa had
// a digit at all.
qsizetype scanNumber(const QString &text, std::string *number, bool *digits)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipBlanks = [&] {
        while (i < n && isBlank(text[i]))
            ++i;
    };
    *digits = false;
    skipBlanks();
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        if (text[i] == QLatin1Char('-'))
            number->push_back('-');
        ++i;
    }
    bool point = false;
    for (;;) {
        skipBlanks();
        if (i < n && isDigit(text[i])) {
            number->push_back(char(text[i].unicode()));
            *digits = true;
            ++i;
        } else if (i < n && text[i] == QLatin1Char('.') && !point) {
            number->push_back('.');
            point = true;
            ++i;
        } else {
            break;
        }
    }
    if (*digits && i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        // The exponent counts only when at least one digit follows it.
        qsizetype j = i + 1;
        std::string exponent = "e";
        while (j < n && isBlank(text[j]))
            ++j;
        if (j < n && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-'))) {
            exponent.push_back(char(text[j].unicode()));
            ++j;
        }
        bool expDigits = false;
        for (;;) {
            while (j < n && isBlank(text[j]))
                ++j;
            if (j < n && isDigit(text[j])) {
                exponent.push_back(char(text[j].unicode()));
                expDigits = true;
                ++j;
            } else {
                break;
            }
        }
        if (expDigits) {
            *number += exponent;
            i = j;
        }
    }
    return i;
}

double toDouble(const std::string &number)
{
    double value = 0;
    const char *first = number.data();
    if (!number.empty() && number.front() == '-')
        ++first;
    const auto result = std::from_chars(first, number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range)
        value = HUGE_VAL;
    else if (result.ec != std::errc())
        return 0;
    return (!number.empty() && number.front() == '-') ? -value : value;
}

} // namespace

double leadingNumber(const QString &text)
{
    std::string number;
    bool digits = false;
    scanNumber(text, &number, &digits);
    return digits ? toDouble(number) : 0.0;
}

bool isNumeric(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    // Inner blanks are allowed by the reading rule but make no number a user
    // would write; a numeric text is one unbroken number.
    for (QChar c : trimmed)
        if (isBlank(c))
            return false;
    std::string number;
    bool digits = false;
    const qsizetype end = scanNumber(trimmed, &number, &digits);
    return digits && end == trimmed.size();
}

QString formatFixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return QString();
    decimals = std::clamp(decimals, 0, 30);

    // Shortest decimal form that reads back as the same double, in scientific
    // notation: mantissa digits and a decimal exponent.
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific);
    char mantissa[32];
    int digits = 0;
    const char *p = text;
    for (; p != result.ptr && *p != 'e'; ++p)
        if (*p != '.')
            mantissa[digits++] = *p;
    int exponent = 0;
    if (p != result.ptr) {
        const char *from = p + 1;
        if (from != result.ptr && *from == '+')
            ++from; // from_chars takes no plus sign
        std::from_chars(from, result.ptr, exponent);
    }

    // mantissa[k] has the weight 10^(exponent - k). Keep the digits down to
    // 10^-decimals (the value times 10^decimals as a whole number) and round
    // on the next digit.
    const int keep = exponent + decimals + 1;
    char kept[400];
    int length = 0;
    bool roundUp = false;
    if (keep <= 0) {
        roundUp = keep == 0 && mantissa[0] >= '5';
    } else {
        for (int k = 0; k < keep; ++k)
            kept[length++] = k < digits ? mantissa[k] : '0';
        roundUp = keep < digits && mantissa[keep] >= '5';
    }
    if (length == 0)
        kept[length++] = '0';
    if (roundUp) {
        int i = length - 1;
        while (i >= 0 && kept[i] == '9')
            kept[i--] = '0';
        if (i < 0) {
            std::memmove(kept + 1, kept, size_t(length));
            kept[0] = '1';
            ++length;
        } else {
            ++kept[i];
        }
    }
    // At least one digit before the point.
    if (length < decimals + 1) {
        const int pad = decimals + 1 - length;
        std::memmove(kept + pad, kept, size_t(length));
        std::memset(kept, '0', size_t(pad));
        length += pad;
    }
    bool zero = true;
    for (int i = 0; i < length && zero; ++i)
        zero = kept[i] == '0';

    char out[420];
    int n = 0;
    if (value < 0 && !zero) // a negative value that rounds to zero has no sign
        out[n++] = '-';
    for (int i = 0; i < length - decimals; ++i)
        out[n++] = kept[i];
    if (decimals > 0) {
        out[n++] = '.';
        for (int i = length - decimals; i < length; ++i)
            out[n++] = kept[i];
    }
    return QString::fromLatin1(out, n);
}

int roundHalfEven(double value)
{
    if (std::isnan(value))
        return 0;
    const double rounded = std::nearbyint(value); // default mode: to nearest, ties to even
    if (rounded >= double(INT_MAX))
        return INT_MAX;
    if (rounded <= double(INT_MIN))
        return INT_MIN;
    return int(rounded);
}
