#include "survey/textnumber.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
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
    if (decimals < 0)
        decimals = 0;

    // Shortest decimal form that reads back as the same double, in scientific
    // notation: mantissa digits and a decimal exponent.
    char buffer[64];
    const double magnitude = std::fabs(value);
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
    const std::string text(buffer, result.ptr);
    const auto ePos = text.find('e');
    std::string mantissa = text.substr(0, ePos);
    const int exponent = std::stoi(text.substr(ePos + 1));
    mantissa.erase(std::remove(mantissa.begin(), mantissa.end(), '.'), mantissa.end());

    // digits[k] has the weight 10^(exponent - k). Keep the digits down to
    // 10^-decimals and round on the next one.
    const int keep = exponent + decimals + 1; // digits before the rounding position
    std::string kept;
    bool roundUp = false;
    if (keep <= 0) {
        roundUp = keep == 0 && mantissa[0] >= '5';
    } else {
        kept = mantissa.substr(0, std::min<size_t>(size_t(keep), mantissa.size()));
        kept.resize(size_t(keep), '0');
        roundUp = size_t(keep) < mantissa.size() && mantissa[size_t(keep)] >= '5';
    }
    // `kept` is the integer value * 10^decimals, without leading zeros issues.
    if (kept.empty())
        kept.push_back('0');
    if (roundUp) {
        int i = int(kept.size()) - 1;
        while (i >= 0 && kept[size_t(i)] == '9') {
            kept[size_t(i)] = '0';
            --i;
        }
        if (i < 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[size_t(i)];
    }
    if (kept.size() < size_t(decimals + 1))
        kept.insert(kept.begin(), size_t(decimals + 1) - kept.size(), '0');

    std::string out = kept.substr(0, kept.size() - size_t(decimals));
    if (decimals > 0)
        out += '.' + kept.substr(kept.size() - size_t(decimals));
    const bool zero = kept.find_first_not_of('0') == std::string::npos;
    if (value < 0 && !zero)
        out.insert(out.begin(), '-');
    return QString::fromLatin1(out.data(), qsizetype(out.size()));
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
