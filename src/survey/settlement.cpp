#include "survey/settlement.h"

#include "base/textnumber.h"

#include <cstdlib>

namespace {

bool isLeap(int year)
{
    return year % 4 == 0;
}

// Days from the start of 2000 to the date; 0 with ok = false when the text
// lacks its two "-".
long long dayNumber(const QString &date, bool *ok)
{
    const qsizetype firstDash = date.indexOf(QLatin1Char('-'));
    const qsizetype secondDash = firstDash < 0 ? -1 : date.indexOf(QLatin1Char('-'), firstDash + 1);
    *ok = secondDash >= 0;
    if (!*ok)
        return 0;
    const int year = roundHalfEven(leadingNumber(date.left(firstDash)));
    const int month =
        roundHalfEven(leadingNumber(date.mid(firstDash + 1, secondDash - firstDash - 1)));
    const int day = roundHalfEven(leadingNumber(date.mid(secondDash + 1)));

    long long days = 0;
    for (int y = 2000; y < year; ++y)
        days += isLeap(y) ? 366 : 365;
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int m = 1; m < month && m <= 12; ++m)
        days += (m == 2 && isLeap(year)) ? 29 : lengths[m - 1];
    return days + day;
}

} // namespace

int DayCount(const QString &dateA, const QString &dateB)
{
    bool okA = false;
    const long long a = dayNumber(dateA, &okA);
    if (!okA)
        return 0;
    bool okB = false;
    const long long b = dayNumber(dateB, &okB);
    if (!okB)
        return 0;
    const long long difference = std::llabs(a - b);
    if (difference == 0)
        return 1;
    return difference > 0x7fffffff ? 0x7fffffff : int(difference);
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
    const double hc = current.value_or(0);
    const double hp = previous.value_or(0);
    const double h0 = first.value_or(0);
    if (hc == 0)
        return values;
    if (hp != 0) {
        values.thisSettlement = hc - hp;
        if (dayCount >= 1)
            values.rate = (hc - hp) / dayCount;
    }
    if (h0 != 0)
        values.cumulative = hc - h0;
    return values;
}
