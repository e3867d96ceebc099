#include "domain/keyrules.h"

#include <QRegularExpression>

namespace {
constexpr char16_t backspace = 8;

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
} // namespace

bool dateKeyAccepted(const QString &text, QChar c)
{
    if (c.unicode() == backspace)
        return true;
    const qsizetype dashes = text.count(QLatin1Char('-'));
    const qsizetype length = text.size();
    if (c == QLatin1Char('-'))
        return (dashes == 0 && length == 4) || (dashes == 1 && length == 7);
    if (!isDigit(c))
        return false;
    const char16_t digit = c.unicode();
    const QChar last = length > 0 ? text.back() : QChar();
    switch (dashes) {
    case 0: // the year
        return length < 4;
    case 1: // the month
        if (length == 5)
            return digit == u'0' || digit == u'1';
        if (length == 6) {
            if (last == QLatin1Char('1'))
                return digit >= u'0' && digit <= u'2';
            if (last == QLatin1Char('0'))
                return digit != u'0';
        }
        return false;
    case 2: // the day
        if (length == 8)
            return digit >= u'0' && digit <= u'3';
        if (length == 9) {
            if (last == QLatin1Char('3'))
                return digit == u'0' || digit == u'1';
            if (last == QLatin1Char('0'))
                return digit != u'0';
            return true;
        }
        return false;
    default:
        return false;
    }
}

bool isTypeableDate(const QString &text)
{
    if (text.size() > 10)
        return false;
    QString typed;
    for (const QChar c : text) {
        if (!dateKeyAccepted(typed, c))
            return false;
        typed += c;
    }
    return true;
}

QString pointNameKey(const QString &name)
{
    const QString folded = name.trimmed().toCaseFolded();
    const qsizetype n = folded.size();
    // The zeros that pad the name on the left ("0000A12" is "A12").
    qsizetype start = 0;
    while (start + 1 < n && folded[start] == QLatin1Char('0'))
        ++start;
    QString key;
    key.reserve(n - start);
    for (qsizetype i = start; i < n; ++i) {
        // The zeros that lead a number in the name ("J06" is "J6").
        if (folded[i] == QLatin1Char('0') && (i == start || !folded[i - 1].isDigit()))
            while (i + 1 < n && folded[i] == QLatin1Char('0') && folded[i + 1].isDigit())
                ++i;
        key += folded[i];
    }
    return key;
}

std::optional<QString> normalisedDate(const QString &text)
{
    static const QRegularExpression separated(QStringLiteral("^(\\d{4})[/.](\\d{1,2})[/.](\\d{1,2})$"));
    static const QRegularExpression digits(QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})$"));
    const QString trimmed = text.trimmed();
    if (isTypeableDate(trimmed))
        return trimmed;
    QRegularExpressionMatch match = separated.match(trimmed);
    if (!match.hasMatch())
        match = digits.match(trimmed);
    if (!match.hasMatch())
        return std::nullopt;
    const QString date = QStringLiteral("%1-%2-%3")
                             .arg(match.captured(1), match.captured(2).rightJustified(2, QLatin1Char('0')),
                                  match.captured(3).rightJustified(2, QLatin1Char('0')));
    return isTypeableDate(date) ? std::optional(date) : std::nullopt;
}

bool epochNameKeyAccepted(QChar c)
{
    return c != QLatin1Char(' ');
}

bool loadFloorKeyAccepted(QChar c)
{
    return c.unicode() == backspace || isDigit(c);
}

bool elevationKeyAccepted(const QString &text, QChar c)
{
    if (c == QLatin1Char('.'))
        return !text.contains(QLatin1Char('.'));
    return c.unicode() == backspace || isDigit(c);
}

bool isTypeableElevation(const QString &text)
{
    bool digit = false;
    QString typed;
    for (const QChar c : text) {
        if (c.unicode() == backspace || !elevationKeyAccepted(typed, c))
            return false;
        digit = digit || isDigit(c);
        typed += c;
    }
    return digit;
}

std::optional<QChar> pointNameKey(QChar c)
{
    const char16_t code = c.unicode();
    if ((code >= 32 && code <= 44) || (code >= 58 && code <= 64))
        return std::nullopt;
    if (code >= u'a' && code <= u'z')
        return QChar(char16_t(code - u'a' + u'A'));
    return c;
}

bool isAcceptablePointName(const QString &name)
{
    if (name.size() > maxPointNameLength)
        return false;
    for (const QChar c : name)
        if (c.unicode() < 32 || !pointNameKey(c))
            return false;
    return true;
}
