// A building at a glance, from its snapshot and its one model: the last
// epoch and how long ago, the points observed, the alarm furthest over its
// threshold and how many points are in alarm; the list ordered alarms first.
#include "domain/buildingoverview.h"

#include "testsupport.h"

#include <QTest>

using namespace testsupport;

class BuildingOverviewTest : public QObject
{
    Q_OBJECT
private slots:
    void overviewOfTheLastEpoch_data();
    void overviewOfTheLastEpoch();
    void alarmsFirst();
};

namespace {

// Three points over three epochs ten days apart; J3 has no elevation at the last.
ProjectSnapshot threePoints()
{
    Records records;
    for (int p = 1; p <= 3; ++p)
        records.points.push_back({p, QStringLiteral("J%1").arg(p), 1, QStringLiteral("圆形")});
    for (int k = 0; k < 3; ++k) {
        records.epochs.push_back({k, QDate(2026, 11, 1).addDays(10 * k).toString(Qt::ISODate),
                                  QStringLiteral("第%1次").arg(k + 1), QStringLiteral("3")});
        for (int p = 1; p <= 3; ++p)
            if (!(k == 2 && p == 3))
                records.elevations.push_back({k, p, 100 - 0.002 * k * p});
    }
    return snapshotOf(records);
}

MonitoringModel modelWith(std::vector<Alarm> alarms, Verdict verdict)
{
    MonitoringModel model;
    model.epochIndex = 2;
    auto analysis = std::make_shared<StabilityAnalysis>();
    analysis->building = verdict;
    model.stability = analysis;
    model.figures.alarms = std::move(alarms);
    return model;
}

Alarm pointAlarm(Alarm::Kind kind, int point, double value, double threshold)
{
    Alarm alarm;
    alarm.epochIndex = 2;
    alarm.cjNo = 2;
    alarm.kind = kind;
    alarm.point = point;
    alarm.value = value;
    alarm.threshold = threshold;
    return alarm;
}

} // namespace

Q_DECLARE_METATYPE(std::vector<Alarm>)
Q_DECLARE_METATYPE(Verdict)

void BuildingOverviewTest::overviewOfTheLastEpoch_data()
{
    QTest::addColumn<std::vector<Alarm>>("alarms");
    QTest::addColumn<Verdict>("verdict");
    QTest::addColumn<int>("pointsInAlarm");
    QTest::addColumn<QString>("worst"); // a word of the worst alarm's text, or nothing
    QTest::newRow("quiet and settled") << std::vector<Alarm>{} << Verdict::Stable << 0 << QString();
    // 12 mm over 10 is 1.2 times; a pair 4‰ over 1.5‰ is 2.7 times: the pair is the worst.
    Alarm pair;
    pair.epochIndex = 2;
    pair.kind = Alarm::Differential;
    pair.pair = std::pair(1, 3);
    pair.value = 0.004;
    pair.threshold = 0.0015;
    QTest::newRow("the worst is the furthest over")
        << std::vector<Alarm>{pointAlarm(Alarm::Cumulative, 2, -12, 10), pair} << Verdict::Unstable << 3
        << QStringLiteral("J3");
    QTest::newRow("one point, two alarms")
        << std::vector<Alarm>{pointAlarm(Alarm::Cumulative, 2, -12, 10), pointAlarm(Alarm::Rate, 2, -0.9, 0.4)}
        << Verdict::Unstable << 1 << QStringLiteral("J2");
}

void BuildingOverviewTest::overviewOfTheLastEpoch()
{
    QFETCH(std::vector<Alarm>, alarms);
    QFETCH(Verdict, verdict);
    QFETCH(int, pointsInAlarm);
    QFETCH(QString, worst);
    const ProjectSnapshot snapshot = threePoints();
    const BuildingOverview o =
        buildingOverview(QStringLiteral("一号楼"), snapshot, modelWith(alarms, verdict), QDate(2026, 12, 9));
    QCOMPARE(o.name, QStringLiteral("一号楼"));
    QVERIFY(o.last);
    QCOMPARE(o.last->name, QStringLiteral("第3次"));
    QCOMPARE(o.daysSince, std::optional(18)); // 2026-11-21 to 2026-12-09
    QCOMPARE(o.observed, 2);                  // J3 has none at the last epoch
    QCOMPARE(o.alarms, int(alarms.size()));
    QCOMPARE(o.pointsInAlarm, pointsInAlarm);
    QCOMPARE(o.verdict, verdict);
    QCOMPARE(bool(o.worst), !worst.isEmpty());
    if (!worst.isEmpty())
        QVERIFY2(o.worstText.contains(worst), qPrintable(o.worstText));
    if (QByteArray(QTest::currentDataTag()) == "one point, two alarms")
        QCOMPARE(o.worst->kind, Alarm::Rate); // 0.9 over 0.4 is further than 12 over 10
}

void BuildingOverviewTest::alarmsFirst()
{
    const auto building = [](const char *name, int alarms, int points, Verdict verdict) {
        BuildingOverview b;
        b.name = QString::fromUtf8(name);
        b.alarms = alarms;
        b.pointsInAlarm = points;
        b.verdict = verdict;
        return b;
    };
    std::vector<BuildingOverview> list{building("乙", 0, 0, Verdict::Stable), building("甲", 1, 1, Verdict::Stable),
                                       building("丙", 0, 0, Verdict::Unstable), building("丁", 4, 3, Verdict::Unstable),
                                       building("戊", 1, 1, Verdict::Insufficient)};
    sortOverview(list);
    QStringList order;
    for (const BuildingOverview &b : list)
        order << b.name;
    // Alarms first, most points first, then by name; then the unsettled; then the rest.
    QCOMPARE(order, (QStringList{QStringLiteral("丁"), QStringLiteral("戊"), QStringLiteral("甲"), QStringLiteral("丙"),
                                 QStringLiteral("乙")}));
}

QTEST_MAIN(BuildingOverviewTest)
#include "tst_buildingoverview.moc"
