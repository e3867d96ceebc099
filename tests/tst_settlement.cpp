#include "domain/keyrules.h"
#include "domain/settlement.h"

#include "domain/settlementrules.h"
#include "testsupport.h"

#include <QTest>

#include <limits>

using namespace testsupport;

using OptionalValue = std::optional<double>;
Q_DECLARE_METATYPE(OptionalValue)

// Points confirmed at a value.
using Confirmed = std::map<int, double>;

class SettlementTest : public QObject
{
    Q_OBJECT
private slots:
    void calendarDates_data();
    void calendarDates();
    void gridAndTableRules_data();
    void gridAndTableRules();
    void meanSinkingRate_data();
    void meanSinkingRate();
    void dayCount_data();
    void dayCount();
    void boundedDate_data();
    void boundedDate();
    void workedExample_data();
    void workedExample();
    void pointValues_data();
    void pointValues();
    void parseElevation_data();
    void parseElevation();
    void dateKeysTyped_data();
    void dateKeysTyped();
    void typeableDate_data();
    void typeableDate();
    void elevationKeys_data();
    void elevationKeys();
    void pointNameKeys_data();
    void pointNameKeys();
    void questionableElevations_data();
    void questionableElevations();
    void plausibility_data();
    void plausibility();
    void firstEpochPlausibility_data();
    void firstEpochPlausibility();
};


// The same records through the grid's rule and the results table's: a
// record holding 0 counts as missing in the grid only.
void SettlementTest::gridAndTableRules_data()
{
    QTest::addColumn<OptionalValue>("first");
    QTest::addColumn<OptionalValue>("previous");
    QTest::addColumn<OptionalValue>("current");
    QTest::addColumn<bool>("gridHasThisTime");
    QTest::addColumn<bool>("tableHasThisTime");
    QTest::addColumn<bool>("gridHasCumulative");
    QTest::addColumn<bool>("tableHasCumulative");
    const OptionalValue none;
    QTest::addRow("all three present") << OptionalValue(100.0) << OptionalValue(99.99)
                                       << OptionalValue(99.98) << true << true << true << true;
    QTest::addRow("current 0: empty in the grid, a value in the table")
        << OptionalValue(100.0) << OptionalValue(99.99) << OptionalValue(0.0) << false << true
        << false << true;
    QTest::addRow("previous 0") << OptionalValue(100.0) << OptionalValue(0.0)
                                << OptionalValue(99.98) << false << true << true << true;
    QTest::addRow("no previous record") << OptionalValue(100.0) << none << OptionalValue(99.98)
                                        << false << false << true << true;
    QTest::addRow("no current record") << OptionalValue(100.0) << OptionalValue(99.99) << none
                                       << false << false << false << false;
}

void SettlementTest::gridAndTableRules()
{
    QFETCH(OptionalValue, first);
    QFETCH(OptionalValue, previous);
    QFETCH(OptionalValue, current);
    QFETCH(bool, gridHasThisTime);
    QFETCH(bool, tableHasThisTime);
    QFETCH(bool, gridHasCumulative);
    QFETCH(bool, tableHasCumulative);
    const PointValues grid = PointEpochValues(1, first, previous, current, 10);
    const PointValues table = TablePointValues(first, previous, current, 10);
    QCOMPARE(grid.thisSettlement.has_value(), gridHasThisTime);
    QCOMPARE(table.thisSettlement.has_value(), tableHasThisTime);
    QCOMPARE(grid.cumulative.has_value(), gridHasCumulative);
    QCOMPARE(table.cumulative.has_value(), tableHasCumulative);
    QCOMPARE(table.rate.has_value(), table.thisSettlement.has_value());
    if (table.thisSettlement)
        QCOMPARE(*table.rate, *table.thisSettlement / 10);
}

// Which points count for the mean sinking rate of the preview (all) and of
// the rate sheet (those up to the point count).
void SettlementTest::meanSinkingRate_data()
{
    QTest::addColumn<int>("lastPoint");
    QTest::addColumn<OptionalValue>("rate");
    QTest::addRow("every point") << std::numeric_limits<int>::max() << OptionalValue((2.0 + 4.0) / 2 / 10);
    QTest::addRow("up to point 1") << 1 << OptionalValue(2.0 / 10);
    QTest::addRow("no point counted") << 0 << OptionalValue();
}

void SettlementTest::meanSinkingRate()
{
    QFETCH(int, lastPoint);
    QFETCH(OptionalValue, rate);
    // Point 1 sinks 2 mm, point 20 sinks 4 mm over 10 days; point 3 has no
    // earlier record.
    const ProjectSnapshot snapshot = snapshotOf(
        {{{0, "2018-01-01", "A", "1"}, {1, "2018-01-11", "B", "1"}},
         {{0, 1, 100.0}, {1, 1, 99.998}, {0, 20, 50.0}, {1, 20, 49.996}, {1, 3, 10.0}},
         {},
         {}});
    const auto got = MeanSinkingRate(snapshot, 1, lastPoint);
    QCOMPARE(got.has_value(), rate.has_value());
    if (rate)
        QVERIFY2(qAbs(*got - *rate) < 1e-9, qPrintable(QString::number(*got)));
    QVERIFY(!MeanSinkingRate(snapshot, 0, lastPoint)); // epoch 0 has none
}

void SettlementTest::boundedDate_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<bool>("bounded");
    QTest::addRow("June 31st, no calendar day") << "2018-06-31" << true;
    QTest::addRow("the last day before the rule's 2000") << "1999-12-31" << true;
    QTest::addRow("2100's 29th of February by the rule") << "2100-02-29" << true;
    QTest::addRow("digits without leading zeros") << "2018-7-5" << true;
    QTest::addRow("first year") << "1900-01-01" << true;
    QTest::addRow("last year") << "2200-12-31" << true;
    QTest::addRow("year before") << "1899-12-31" << false;
    QTest::addRow("year after") << "2201-01-01" << false;
    QTest::addRow("a far year") << "2147483647-01-01" << false;
    QTest::addRow("month 13") << "2018-13-01" << false;
    QTest::addRow("day 0") << "2018-06-00" << false;
    QTest::addRow("day beyond any month") << "2018-06-3100" << false;
    QTest::addRow("no dashes") << "2018/06/30" << false;
}

void SettlementTest::boundedDate()
{
    QFETCH(QString, date);
    QFETCH(bool, bounded);
    QCOMPARE(dayNumber(date).bounded, bounded);
}

void SettlementTest::dayCount_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("days");
    QTest::addRow("equal dates give 1") << "2018-07-10"
                                        << "2018-07-10" << 1;
    QTest::addRow("same month") << "2018-07-01"
                                << "2018-07-31" << 30;
    QTest::addRow("across a 31-day month") << "2018-07-10"
                                           << "2018-08-09" << 30;
    QTest::addRow("2018 not divisible by 4") << "2018-02-28"
                                             << "2018-03-01" << 1;
    QTest::addRow("2020 leap") << "2020-02-28"
                               << "2020-03-01" << 2;
    QTest::addRow("2100 leap by the only rule") << "2100-02-28"
                                                << "2100-03-01" << 2;
    QTest::addRow("common year") << "2018-01-01"
                                 << "2019-01-01" << 365;
    QTest::addRow("leap year") << "2020-01-01"
                               << "2021-01-01" << 366;
    QTest::addRow("a far year in closed form") << "2000000000-01-01"
                                                << "2000000000-03-01" << 60;
    QTest::addRow("before 2000 no whole years") << "1999-12-31"
                                                << "2000-01-01" << 364;
    QTest::addRow("June 31st is July 1st") << "2018-06-31"
                                           << "2018-07-01" << 1;
    QTest::addRow("month 13 adds nothing more") << "2018-13-01"
                                                << "2019-01-01" << 1;
    QTest::addRow("no dash in A") << "2018/07/10"
                                  << "2018-07-01" << 0;
    QTest::addRow("one dash in A") << "2018-07"
                                   << "2018-07-01" << 0;
    QTest::addRow("one dash in B") << "2018-07-01"
                                   << "2018-07" << 0;
    QTest::addRow("empty") << ""
                           << "2018-07-01" << 0;
    QTest::addRow("blanks and letters read as numbers") << " 2018-7 -10x"
                                                        << "2018-07-10" << 1;
    QTest::addRow("many years") << "2000-01-01"
                                << "2100-01-01" << 36525;
}

void SettlementTest::dayCount()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, days);
    QCOMPARE(DayCount(a, b), days);
    QCOMPARE(DayCount(b, a), days);
}

void SettlementTest::workedExample_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QStringList>("elevations"); // first, previous, this
    QTest::addRow("metres") << "m" << QStringList{"100.00000", "99.99800", "99.99650"};
    QTest::addRow("millimetres") << "mm" << QStringList{"100000.00", "99998.00", "99996.50"};
}

void SettlementTest::workedExample()
{
    QFETCH(QString, unit);
    QFETCH(QStringList, elevations);
    const PointValues v = PointEpochValues(3, 100.0, 99.998, 99.9965, 10);
    QCOMPARE(FormatElevation(*v.first, unit), elevations[0]);
    QCOMPARE(FormatElevation(*v.previous, unit), elevations[1]);
    QCOMPARE(FormatElevation(*v.current, unit), elevations[2]);
    QCOMPARE(FormatSettlement(*v.thisSettlement), QStringLiteral("-1.50"));
    QCOMPARE(FormatSettlement(*v.cumulative), QStringLiteral("-3.50"));
    QCOMPARE(FormatRate(*v.rate), QStringLiteral("-0.150"));
    // Typed in the display unit, stored as the same metres.
    QCOMPARE(ParseElevation(elevations[2], unit), 99.9965);
}

void SettlementTest::pointValues_data()
{
    QTest::addColumn<int>("k");
    QTest::addColumn<std::optional<double>>("h0");
    QTest::addColumn<std::optional<double>>("hp");
    QTest::addColumn<std::optional<double>>("hc");
    QTest::addColumn<int>("days");
    QTest::addColumn<QStringList>("shown"); // this, cumulative, rate ("" when absent)
    using O = std::optional<double>;
    QTest::addRow("all present") << 1 << O(100.0) << O(99.999) << O(99.997) << 4
                                 << QStringList{"-2.00", "-3.00", "-0.500"};
    QTest::addRow("rising point") << 2 << O(50.0) << O(50.0) << O(50.0012) << 3
                                  << QStringList{"1.20", "1.20", "0.400"};
    QTest::addRow("no previous record")
        << 2 << O(100.0) << O() << O(99.998) << 10 << QStringList{"", "-2.00", ""};
    QTest::addRow("previous is zero")
        << 2 << O(100.0) << O(0.0) << O(99.998) << 10 << QStringList{"", "-2.00", ""};
    QTest::addRow("no first record")
        << 2 << O() << O(99.999) << O(99.998) << 10 << QStringList{"-1.00", "", "-0.100"};
    QTest::addRow("this is zero") << 2 << O(100.0) << O(99.999) << O(0.0) << 10
                                  << QStringList{"", "", ""};
    QTest::addRow("no this record")
        << 2 << O(100.0) << O(99.999) << O() << 10 << QStringList{"", "", ""};
    QTest::addRow("first epoch derives nothing")
        << 0 << O(100.0) << O(99.0) << O(98.0) << 10 << QStringList{"", "", ""};
    QTest::addRow("malformed date: no rate")
        << 1 << O(100.0) << O(99.999) << O(99.998) << 0 << QStringList{"-1.00", "-2.00", ""};
    QTest::addRow("tiny sinking rounds to unsigned zero")
        << 1 << O(100.0) << O(100.0) << O(99.999996) << 30 << QStringList{"0.00", "0.00", "0.000"};
}

void SettlementTest::pointValues()
{
    QFETCH(int, k);
    QFETCH(std::optional<double>, h0);
    QFETCH(std::optional<double>, hp);
    QFETCH(std::optional<double>, hc);
    QFETCH(int, days);
    QFETCH(QStringList, shown);
    const PointValues v = PointEpochValues(k, h0, hp, hc, days);
    QCOMPARE(v.thisSettlement ? FormatSettlement(*v.thisSettlement) : QString(), shown[0]);
    QCOMPARE(v.cumulative ? FormatSettlement(*v.cumulative) : QString(), shown[1]);
    QCOMPARE(v.rate ? FormatRate(*v.rate) : QString(), shown[2]);
    QCOMPARE(v.first, h0);
    QCOMPARE(v.current, k >= 1 ? hc : std::optional<double>());
}

void SettlementTest::parseElevation_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<double>("metres");
    QTest::addRow("metres") << "100.5"
                            << "m" << 100.5;
    QTest::addRow("millimetres") << "100500"
                                 << "mm" << 100.5;
    QTest::addRow("trailing point") << "12."
                                    << "m" << 12.0;
    QTest::addRow("point alone") << "."
                                 << "m" << 0.0;
    QTest::addRow("letters") << "abc"
                             << "mm" << 0.0;
    QTest::addRow("leading number") << "99.5m"
                                    << "m" << 99.5;
}

void SettlementTest::parseElevation()
{
    QFETCH(QString, text);
    QFETCH(QString, unit);
    QFETCH(double, metres);
    QCOMPARE(ParseElevation(text, unit), metres);
}

void SettlementTest::dateKeysTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    QTest::addRow("a whole date") << "2018-07-10"
                                  << "2018-07-10";
    QTest::addRow("month tens only 0 or 1") << "2018-2"
                                            << "2018-";
    QTest::addRow("after 1 month only 0-2") << "2018-13"
                                            << "2018-1";
    QTest::addRow("after 0 month not 0") << "2018-00"
                                         << "2018-0";
    QTest::addRow("day tens only 0-3") << "2018-07-4"
                                       << "2018-07-";
    QTest::addRow("after 3 day only 0 or 1") << "2018-07-32"
                                             << "2018-07-3";
    QTest::addRow("after 0 day not 0") << "2018-07-00"
                                       << "2018-07-0";
    QTest::addRow("fifth year digit") << "20181"
                                      << "2018";
    QTest::addRow("dash after 201") << "201-"
                                    << "201";
    QTest::addRow("dash after 2018-1") << "2018-1-"
                                       << "2018-1";
    QTest::addRow("third dash") << "2018-07-1-"
                                << "2018-07-1";
    QTest::addRow("letters and blanks") << "2a0 1b8"
                                        << "2018";
    QTest::addRow("nothing after the day") << "2018-07-109"
                                           << "2018-07-10";
    QTest::addRow("day after 1 any digit") << "2018-12-19"
                                           << "2018-12-19";
}

void SettlementTest::dateKeysTyped()
{
    QFETCH(QString, typed);
    QFETCH(QString, result);
    QString box;
    for (const QChar c : typed)
        if (dateKeyAccepted(box, c))
            box += c;
    QCOMPARE(box, result);
    QVERIFY(dateKeyAccepted(box, QChar(8)));
}

void SettlementTest::typeableDate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("typeable");
    QTest::addRow("whole date") << "2018-07-10" << true;
    QTest::addRow("partial date") << "2018-07" << true;
    QTest::addRow("slashes") << "2018/07/10" << false;
    QTest::addRow("month 13") << "2018-13-01" << false;
    QTest::addRow("day 32") << "2018-07-32" << false;
    QTest::addRow("blank") << "2018-07-10 " << false;
    QTest::addRow("too long") << "2018-07-100" << false;
    QTest::addRow("two-digit year") << "18-07-10" << false;
}

void SettlementTest::typeableDate()
{
    QFETCH(QString, text);
    QFETCH(bool, typeable);
    QCOMPARE(isTypeableDate(text), typeable);
}

void SettlementTest::elevationKeys_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("typeable");
    QTest::addRow("decimal") << "100.5"
                             << "100.5" << true;
    QTest::addRow("second point refused") << "1.2.3"
                                          << "1.23" << true;
    QTest::addRow("minus refused") << "-12"
                                   << "12" << true;
    QTest::addRow("letters refused") << "1a2e3"
                                     << "123" << true;
    QTest::addRow("point alone") << "."
                                 << "." << false;
    QTest::addRow("trailing point") << "12."
                                    << "12." << true;
}

void SettlementTest::elevationKeys()
{
    QFETCH(QString, typed);
    QFETCH(QString, result);
    QFETCH(bool, typeable);
    QString box;
    for (const QChar c : typed)
        if (elevationKeyAccepted(box, c))
            box += c;
    QCOMPARE(box, result);
    QCOMPARE(isTypeableElevation(box), typeable);
    QVERIFY(!isTypeableElevation(typed) || typed == result);
}

void SettlementTest::pointNameKeys_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    QTest::addRow("lowercase becomes capital") << "ab1"
                                               << "AB1";
    QTest::addRow("refused punctuation") << " !\"#$%&'()*+,:;<=>?@"
                                         << "";
    QTest::addRow("accepted punctuation") << "-./[\\]^_`{|}~"
                                          << "-./[\\]^_`{|}~";
    QTest::addRow("chinese") << QStringLiteral("沉降点") << QStringLiteral("沉降点");
}

void SettlementTest::pointNameKeys()
{
    QFETCH(QString, typed);
    QFETCH(QString, result);
    QString box;
    for (const QChar c : typed)
        if (const auto accepted = pointNameKey(c))
            box += *accepted;
    QCOMPARE(box, result);
    QVERIFY(isAcceptablePointName(result));
    QCOMPARE(isAcceptablePointName(typed), typed.toUpper() == result);
    QVERIFY(!isAcceptablePointName(QStringLiteral("J1\t")));
}

void SettlementTest::calendarDates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("real");
    QTest::newRow("an ordinary day") << "2018-07-10" << true;
    QTest::newRow("29 February of a leap year") << "2024-02-29" << true;
    QTest::newRow("29 February of another year") << "2026-02-29" << false;
    QTest::newRow("31 February") << "2026-02-31" << false;
    QTest::newRow("a year alone") << "2026" << false;
    QTest::newRow("month 13") << "2026-13-01" << false;
    QTest::newRow("day 0") << "2026-01-00" << false;
    QTest::newRow("single-digit month") << "2026-2-03" << false;
}

void SettlementTest::calendarDates()
{
    QFETCH(QString, text);
    QFETCH(bool, real);
    QCOMPARE(calendarDate(text).has_value(), real);
}

// Point 1 has 10.000 m in epoch 0, nothing in epoch 1, 0 in epoch 2 (no
// value in the grid) and `typed` is checked for epoch 3 against 10.000 m.
// Point 2 has only 0.0001 m in epoch 0, for the ratio rule.
void SettlementTest::plausibility_data()
{
    QTest::addColumn<int>("point");
    QTest::addColumn<int>("epoch");
    QTest::addColumn<double>("typed");
    QTest::addColumn<OptionalValue>("previous");
    QTest::addColumn<bool>("implausible");
    QTest::addRow("first epoch has no previous") << 1 << 0 << 500.0 << OptionalValue() << false;
    QTest::addRow("sinking 50 mm exactly") << 1 << 3 << 9.95 << OptionalValue(10.0) << false;
    QTest::addRow("rising 50 mm exactly") << 1 << 3 << 10.05 << OptionalValue(10.0) << false;
    QTest::addRow("sinking 50.01 mm") << 1 << 3 << 9.94999 << OptionalValue(10.0) << true;
    QTest::addRow("millimetres typed as metres") << 1 << 3 << 10000.0 << OptionalValue(10.0)
                                                 << true;
    QTest::addRow("skips the missing and the 0 record") << 1 << 2 << 10.003
                                                        << OptionalValue(10.0) << false;
    QTest::addRow("over a hundred times, a small change") << 2 << 1 << 0.0200
                                                          << OptionalValue(0.0001) << true;
    QTest::addRow("under a hundredth, a small change") << 2 << 1 << 0.0000009
                                                       << OptionalValue(0.0001) << true;
    QTest::addRow("a point never observed") << 7 << 3 << 1.0 << OptionalValue() << false;
}

void SettlementTest::plausibility()
{
    QFETCH(int, point);
    QFETCH(int, epoch);
    QFETCH(double, typed);
    QFETCH(OptionalValue, previous);
    QFETCH(bool, implausible);
    const ProjectSnapshot snapshot =
        snapshotOf({{{0, "2018-01-01", "A", "1"},
                     {1, "2018-01-11", "B", "1"},
                     {2, "2018-01-21", "C", "1"},
                     {3, "2018-01-31", "D", "1"}},
                    {{0, 1, 10.0}, {2, 1, 0.0}, {0, 2, 0.0001}},
                    {},
                    {}});
    QCOMPARE(PreviousElevation(snapshot, epoch, point), previous);
    QCOMPARE(ImplausibleElevation(previous, typed), implausible);
}

void SettlementTest::firstEpochPlausibility_data()
{
    // Epoch 0 holds 50.100, 50.110 and 50.400 (a column base a floor below
    // the others); point 4 is typed against their median, 50.110.
    QTest::addColumn<double>("typed");
    QTest::addColumn<bool>("implausible");
    QTest::addRow("decimetres from the others") << 49.85 << false;
    QTest::addRow("a storey below, within 5 m") << 46.0 << false;
    QTest::addRow("a slip of a leading digit") << 40.11 << true;
    QTest::addRow("millimetres typed into a metre grid") << 50100.0 << true;
    QTest::addRow("metres typed into a millimetre grid") << 0.0501 << true;
}

void SettlementTest::firstEpochPlausibility()
{
    QFETCH(double, typed);
    QFETCH(bool, implausible);
    const ProjectSnapshot snapshot = snapshotOf(
        {{{0, "2018-01-01", "A", "1"}, {1, "2018-01-11", "B", "1"}},
         {{0, 1, 50.1}, {0, 2, 50.11}, {0, 3, 50.4}, {1, 1, 50.09}},
         {},
         {}});
    const auto reference = ReferenceElevation(snapshot, 0, 4);
    QVERIFY(reference && reference->median);
    QCOMPARE(reference->elevation, 50.11);
    QCOMPARE(ImplausibleElevation(*reference, typed, PlausibilityLimits{}), implausible);
    // A change between epochs keeps its own limit: 0.3 m is questioned there.
    const auto previous = ReferenceElevation(snapshot, 1, 3);
    QVERIFY(previous && !previous->median);
    QVERIFY(ImplausibleElevation(*previous, 50.1, PlausibilityLimits{}));
}

void SettlementTest::questionableElevations_data()
{
    // Epoch 1 of four points: point 2 a slip of a digit, point 3 a record
    // of 0, point 4 beyond the points shown; point 1 settles 2 mm.
    QTest::addColumn<Confirmed>("confirmed");
    QTest::addColumn<int>("lastPoint");
    QTest::addColumn<QList<int>>("questioned");
    QTest::addRow("none confirmed") << Confirmed{} << 3 << QList<int>{2, 3};
    QTest::addRow("the slip confirmed at its value") << Confirmed{{2, 15.1}} << 3 << QList<int>{3};
    QTest::addRow("confirmed at another value, since changed") << Confirmed{{2, 15.2}} << 3
                                                                << QList<int>{2, 3};
    QTest::addRow("every point shown") << Confirmed{} << 4 << QList<int>{2, 3, 4};
}

void SettlementTest::questionableElevations()
{
    QFETCH(Confirmed, confirmed);
    QFETCH(int, lastPoint);
    QFETCH(QList<int>, questioned);
    const ProjectSnapshot snapshot = snapshotOf(
        {{{0, "2018-01-01", "A", "1"}, {1, "2018-01-11", "B", "1"}},
         {{0, 1, 10.0}, {0, 2, 10.1}, {0, 3, 10.2}, {0, 4, 10.3}, {1, 1, 9.998}, {1, 2, 15.1}, {1, 3, 0.0},
          {1, 4, 103.0}},
         {},
         {}});
    QList<int> found;
    for (const QuestionableElevation &q : QuestionableElevations(snapshot, 1, lastPoint, PlausibilityLimits{}, confirmed))
        found << q.cjdNo;
    QCOMPARE(found, questioned);
    const auto slip = QuestionableElevations(snapshot, 1, 2, PlausibilityLimits{}, {});
    QCOMPARE(int(slip.size()), 1);
    QCOMPARE(QuestionableReason(slip[0], QStringLiteral("m")),
             QStringLiteral("高程变化异常：本次 15.10000 m，上次为 10.10000 m，相差 5000.00 mm"));
}

QTEST_GUILESS_MAIN(SettlementTest)
#include "tst_settlement.moc"
