#pragma once

#include <QDate>
#include <QString>

#include <cmath>
#include <optional>

// Day counts and the settlement quantities of one point in one epoch. Every
// elevation is in metres; settlements are later minus earlier elevation, so a
// sinking point has negative settlements.

// Whole days between two dates written yyyy-mm-dd, the same either way round.
// Each part is read as its leading number; years count from 2000 with every
// year divisible by 4 a leap year, and the day is added as it stands. Equal
// dates give 1, never 0; a text without two "-" gives 0.
int DayCount(const QString &dateA, const QString &dateB);

// A date read once for many day counts: days from the start of 2000 as the
// rule above counts them; not ok for a text without two "-".
struct DayNumber
{
    long long days = 0;
    bool ok = false;
    // Whether the date, read by the rule above, lies on a time axis at all:
    // a year between 1900 and 2200, a month 1–12 and a day 1–31 ("2018-06-31"
    // is such a date, read as 2018-07-01; "2018-06-3100" is none).
    bool bounded = false;
};
DayNumber dayNumber(const QString &date);
constexpr int firstUsableYear = 1900, lastUsableYear = 2200;
// A date written year-month-day (four-digit year, "2018-07-10") that names a
// real calendar day; "2026", "2026-02-31" and "2026-2-3" name none.
std::optional<QDate> calendarDate(const QString &text);
// DayCount of two dates read before: the same answer as from their texts.
int DayCount(DayNumber a, DayNumber b);

// Metres from a typed or imported elevation: the leading number of the text,
// divided by 1000 when the unit is "mm".
double ParseElevation(const QString &text, const QString &unit);

// An elevation as shown: metres with five decimals for "m", millimetres with
// two decimals for "mm".
QString FormatElevation(double metres, const QString &unit);

// A settlement in metres shown in millimetres with two decimals, and a rate in
// metres per day shown in millimetres per day with three.
QString FormatSettlement(double metres);
QString FormatRate(double metresPerDay);

// The six values of a point in epoch k. An elevation is absent when it has no
// record; a record holding exactly 0 counts as missing for the derived values.
struct PointValues
{
    std::optional<double> first;          // H0, epoch 0
    std::optional<double> previous;       // Hp, epoch k - 1 (k >= 1)
    std::optional<double> current;        // Hc, epoch k (k >= 1)
    std::optional<double> thisSettlement; // Hc - Hp, metres
    std::optional<double> cumulative;     // Hc - H0, metres
    std::optional<double> rate;           // (Hc - Hp) / D, metres per day
};

// Whether a stored height is a measurement: present (not NaN) and not 0.
// A stored 0 counts as missing, everywhere the program looks at heights.
inline bool isMeasured(double h)
{
    return !std::isnan(h) && h != 0;
}
inline bool isMeasured(std::optional<double> h)
{
    return h && isMeasured(*h);
}

// The values of a point in epoch k from its records in epochs 0, k - 1 and k,
// with D the day count of epoch k. A rate needs D >= 1: a day count of 0
// (a malformed stored date) leaves the rate absent.
PointValues PointEpochValues(int k, std::optional<double> first, std::optional<double> previous,
                             std::optional<double> current, int dayCount);
