#include "domain/settlement.h"

#include "base/textnumber.h"

#include <cstdlib>

DayNumber dayNumber(const QString &date)
{
    const qsizetype firstDash = date.indexOf(QLatin1Char('-'));
    const qsizetype secondDash = firstDash < 0 ? -1 : date.indexOf(QLatin1Char('-'), firstDash + 1);
    if (secondDash < 0)
        return DayNumber{0, false};
    const int year = roundHalfEven(leadingNumber(date.left(firstDash)));
    const int month =
        roundHalfEven(leadingNumber(date.mid(firstDash + 1, secondDash - firstDash - 1)));
    const int day = roundHalfEven(leadingNumber(date.mid(secondDash + 1)));

    // Whole years from 2000 on, every fourth one (2000, 2004 ...) a leap
    // year; a year before 2000 adds no days.
    const long long years = year > 2000 ? (long long)year - 2000 : 0;
    long long days = years * 365 + (years + 3) / 4;
    const bool leap = year % 4 == 0;
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int m = 1; m < month && m <= 12; ++m)
        days += (m == 2 && leap) ? 29 : lengths[m - 1];
    const bool bounded = year >= firstUsableYear && year <= lastUsableYear && month >= 1
                         && month <= 12 && day >= 1 && day <= 31;
    return DayNumber{days + day, true, bounded};
}

std::optional<QDate> calendarDate(const QString &text)
{
    if (text.size() != 10 || text[4] != QLatin1Char('-') || text[7] != QLatin1Char('-'))
        return std::nullopt;
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid())
        return std::nullopt;
    return date;
}

int DayCount(DayNumber a, DayNumber b)
{
    if (!a.ok || !b.ok)
        return 0;
    const long long difference = std::llabs(a.days - b.days);
    if (difference == 0)
        return 1;
    return difference > 0x7fffffff ? 0x7fffffff : int(difference);
}

int DayCount(const QString &dateA, const QString &dateB)
{
    const DayNumber a = dayNumber(dateA);
    if (!a.ok)
        return 0;
    return DayCount(a, dayNumber(dateB));
}

double ParseElevation(const QString &text, const QString &unit)
{
    const double value = leadingNumber(text);
    return unit == QLatin1String("mm") ? value / 1000 : value;
}

QString FormatElevation(double metres, const QString &unit)
{
    return unit == QLatin1String("mm") ? formatFixed(metres * 1000, 2) : formatFixed(metres, 5);
}

QString FormatSettlement(double metres)
{
    return formatFixed(metres * 1000, 2);
}

QString FormatRate(double metresPerDay)
{
    return formatFixed(metresPerDay * 1000, 3);
}

PointValues PointEpochValues(int k, std::optional<double> first, std::optional<double> previous,
                             std::optional<double> current, int dayCount)
{
    PointValues values;
    values.first = first;
    if (k < 1)
        return values;
    values.previous = previous;
    values.current = current;
    if (!isMeasured(current))
        return values;
    const double hc = *current;
    if (isMeasured(previous)) {
        values.thisSettlement = hc - *previous;
        if (dayCount >= 1)
            values.rate = (hc - *previous) / dayCount;
    }
    if (isMeasured(first))
        values.cumulative = hc - *first;
    return values;
}
