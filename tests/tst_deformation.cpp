// The building's deformation at one epoch, at the core seam: positions and
// settlements in, tilt, neighbour differences and contours out.
#include "cad/dxffile.h"
#include "domain/buildingdeformation.h"
#include "domain/deformation.h"
#include "survey/pointpositions.h"
#include "testsupport.h"
#include "survey/domaininputs.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <tuple>

namespace {

std::vector<PlanPoint> onPlane(const std::vector<std::pair<double, double>> &positions)
{
    std::vector<PlanPoint> points;
    int number = 1;
    for (const auto &[x, y] : positions)
        points.push_back({number++, QStringLiteral("J%1").arg(number), x, y, 5 + 0.3 * x - 0.2 * y});
    return points;
}

// Points spread without order (a linear congruential walk), none four on a
// circle by construction of chance.
std::vector<PlanPoint> scattered(int count)
{
    std::vector<PlanPoint> points;
    unsigned state = 12345;
    const auto next = [&] {
        state = state * 1103515245u + 12345u;
        return double((state >> 8) % 100000) / 1000.0;
    };
    for (int i = 0; i < count; ++i) {
        const double x = next(), y = next();
        points.push_back({i + 1, QStringLiteral("P%1").arg(i + 1), x, y, -0.1 * x - 0.05 * y});
    }
    return points;
}

} // namespace

class DeformationTest : public QObject
{
    Q_OBJECT
private slots:
    void planeGivesItsTilt();
    void azimuthOfTheTilt_data();
    void azimuthOfTheTilt();
    void noPlaneWithoutThreePointsOffALine_data();
    void noPlaneWithoutThreePointsOffALine();
    void triangulationIsDelaunay();
    void neighboursAndExclusions();
    void contourThroughAKnownTriangle();
    void contourLevelsAtOneTwoFive();
    void daysToStability_data();
    void daysToStability();
    void thresholdsFromTheLimits_data();
    void thresholdsFromTheLimits();
    void farPointsAndTheFirstEpochsRow();
    void alarmsPassTheirThresholds();
    void aLimitNeverMissingInSilence_data();
    void aLimitNeverMissingInSilence();
    void perMilleAlarmTyped_data();
    void perMilleAlarmTyped();
    void mtextLosesItsFormatting_data();
    void mtextLosesItsFormatting();
    void pairsThatAreNoNeighbours_data();
    void pairsThatAreNoNeighbours();
    void positionTablesAsTheyComeIn_data();
    void positionTablesAsTheyComeIn();
};

void DeformationTest::azimuthOfTheTilt_data()
{
    // A plane s = b·x + c·y (x east, y north) over a 30 m × 20 m building:
    // the azimuth it sinks toward, and its word.
    QTest::addColumn<double>("b");
    QTest::addColumn<double>("c");
    QTest::addColumn<double>("azimuth");
    QTest::addColumn<QString>("word");
    QTest::newRow("sinking toward the north") << 0.0 << -0.5 << 0.0 << "北";
    QTest::newRow("toward the north-east") << -0.5 << -0.5 << 45.0 << "东北";
    QTest::newRow("toward the east") << -0.5 << 0.0 << 90.0 << "东";
    QTest::newRow("toward the south") << 0.0 << 0.5 << 180.0 << "南";
    QTest::newRow("toward the south-west") << 0.5 << 0.5 << 225.0 << "西南";
    QTest::newRow("toward the west") << 0.5 << 0.0 << 270.0 << "西";
    // All settled alike, as rounding leaves them: no slope, no direction.
    QTest::newRow("all alike") << 1e-13 << -1e-13 << -1.0 << "";
}

void DeformationTest::azimuthOfTheTilt()
{
    QFETCH(double, b);
    QFETCH(double, c);
    QFETCH(double, azimuth);
    QFETCH(QString, word);
    std::vector<PlanPoint> points;
    for (const auto &[x, y] : {std::pair{0.0, 0.0}, {30.0, 0.0}, {30.0, 20.0}, {0.0, 20.0}, {12.0, 7.0}})
        points.push_back({int(points.size()) + 1, QStringLiteral("P"), x + 500, y + 800, -12.34 + b * x + c * y});
    const auto tilt = fitTilt(points);
    QVERIFY(tilt);
    if (azimuth < 0) {
        QCOMPARE(tilt->value, 0.0);
        QCOMPARE(tilt->azimuthDeg, 0.0);
        return;
    }
    QVERIFY2(std::fabs(tilt->azimuthDeg - azimuth) < 1e-6, qPrintable(QString::number(tilt->azimuthDeg)));
    QCOMPARE(compassWord(tilt->azimuthDeg), word);
}

void DeformationTest::planeGivesItsTilt()
{
    // Far from the grid's origin, as a local grid may be.
    std::vector<std::pair<double, double>> positions{{0, 0}, {30, 0}, {30, 20}, {0, 20}, {12, 7}, {21, 15}};
    for (auto &[x, y] : positions) {
        x += 4000;
        y += 2500;
    }
    const auto tilt = fitTilt(onPlane(positions));
    QVERIFY(tilt);
    QVERIFY(std::fabs(tilt->b - 0.3) < 1e-9);
    QVERIFY(std::fabs(tilt->c + 0.2) < 1e-9);
    QVERIFY(std::fabs(tilt->a - 5) < 1e-6);
    QVERIFY(std::fabs(tilt->value - std::sqrt(0.13) / 1000) < 1e-12);
    // Sinking most toward −∇s = (−0.3, 0.2), west-north-west: the azimuth
    // clockwise from north, atan2(east, north) = 303.69°.
    QVERIFY(std::fabs(tilt->azimuthDeg - (std::atan2(-0.3, 0.2) * 180 / M_PI + 360)) < 1e-6);
    QCOMPARE(compassWord(tilt->azimuthDeg), QStringLiteral("西北"));
    QVERIFY(tilt->rmsMm < 1e-9);

    // A point off the plane: the residuals tell.
    auto points = onPlane({{0, 0}, {30, 0}, {30, 20}, {0, 20}});
    points[2].sMm += 4;
    const auto bent = fitTilt(points);
    QVERIFY(bent);
    QVERIFY(std::fabs(bent->rmsMm - 1) < 1e-9); // residuals ±1 at the four corners
}

void DeformationTest::noPlaneWithoutThreePointsOffALine_data()
{
    QTest::addColumn<std::vector<PlanPoint>>("points");
    QTest::addRow("two points") << onPlane({{0, 0}, {10, 0}});
    QTest::addRow("on one line") << onPlane({{0, 0}, {10, 10}, {20, 20}, {35, 35}});
    QTest::addRow("all at one place") << onPlane({{3, 3}, {3, 3}, {3, 3}});
}

void DeformationTest::noPlaneWithoutThreePointsOffALine()
{
    QFETCH(std::vector<PlanPoint>, points);
    QVERIFY(!fitTilt(points));
}

void DeformationTest::triangulationIsDelaunay()
{
    const auto points = scattered(40);
    const PlanTriangulation t = triangulate(points);
    QVERIFY(!t.triangles.empty());
    // No point inside any triangle's circumcircle, and every triangle
    // counter-clockwise: checked here without the library.
    for (const auto &tri : t.triangles) {
        const PlanPoint &a = points[size_t(tri[0])], &b = points[size_t(tri[1])], &c = points[size_t(tri[2])];
        const double orientation = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
        QVERIFY(orientation > 0);
        for (const PlanPoint &d : points) {
            const double ax = a.x - d.x, ay = a.y - d.y, bx = b.x - d.x, by = b.y - d.y,
                         cx = c.x - d.x, cy = c.y - d.y;
            const double inCircle = (ax * ax + ay * ay) * (bx * cy - cx * by)
                                    - (bx * bx + by * by) * (ax * cy - cx * ay)
                                    + (cx * cx + cy * cy) * (ax * by - bx * ay);
            QVERIFY2(inCircle <= 1e-6, qPrintable(d.name));
        }
    }
    // Euler: a triangulation of n points with h on the hull has 2n − 2 − h
    // triangles and 3n − 3 − h edges.
    const int n = int(points.size());
    const int h = 3 * n - 3 - int(t.edges.size());
    QCOMPARE(int(t.triangles.size()), 2 * n - 2 - h);
}

void DeformationTest::neighboursAndExclusions()
{
    const std::vector<PlanPoint> points{{1, "A", 0, 0, -10}, {2, "B", 20, 0, -14}, {3, "C", 0, 10, -9}};
    const PlanTriangulation t = triangulate(points);
    QCOMPARE(t.edges.size(), size_t(3));
    const auto all = neighbourDifferences(points, t);
    QCOMPARE(all.size(), size_t(3));
    const auto ab = std::find_if(all.begin(), all.end(), [](const NeighbourPair &p) {
        return p.from == 0 && p.to == 1;
    });
    QVERIFY(ab != all.end());
    QCOMPARE(ab->dsMm, -4.0);
    QCOMPARE(ab->lengthM, 20.0);
    QCOMPARE(ab->ratio, 0.0002);
    // A pair the user marks as no neighbours, in either order.
    QCOMPARE(neighbourDifferences(points, t, {{2, 1}}).size(), size_t(2));
}

void DeformationTest::contourThroughAKnownTriangle()
{
    const std::vector<PlanPoint> points{{1, "A", 0, 0, 0}, {2, "B", 10, 0, 10}, {3, "C", 0, 10, 20}};
    const auto lines = contourLines(points, triangulate(points), {5, 25});
    QCOMPARE(lines.size(), size_t(2));
    QCOMPARE(lines[0].polylines.size(), size_t(1));
    auto line = lines[0].polylines.front();
    std::sort(line.begin(), line.end());
    QCOMPARE(line, (std::vector<std::pair<double, double>>{{0, 2.5}, {5, 0}}));
    // A level beyond every value draws nothing: no extrapolation.
    QVERIFY(lines[1].polylines.empty());

    // Across two triangles (the diagonal A–C is the Delaunay edge of this
    // kite) the pieces join into one line.
    const std::vector<PlanPoint> kite{{1, "A", 0, 0, 0}, {2, "B", 10, -6, 10}, {3, "C", 4, 4, 20}, {4, "D", -6, 10, 10}};
    const auto joined = contourLines(kite, triangulate(kite), {5});
    QCOMPARE(joined.front().polylines.size(), size_t(1));
    QCOMPARE(joined.front().polylines.front().size(), size_t(3));
}

void DeformationTest::contourLevelsAtOneTwoFive()
{
    // From −23.4 to −1.2 mm a step of 5 gives four levels, of 2 eleven.
    const auto levels = contourLevels(-23.4, -1.2);
    QCOMPARE(levels.size(), size_t(11));
    QCOMPARE(levels.front(), -22.0);
    QCOMPARE(levels.back(), -2.0);
    QCOMPARE(contourLevels(0, 100).size(), size_t(6)); // step 20
    QCOMPARE(contourLevels(-3, 3, 0.5).size(), size_t(13));
    QVERIFY(contourLevels(5, 1).empty());
}

void DeformationTest::daysToStability_data()
{
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::addColumn<double>("r");
    QTest::addColumn<double>("days"); // < 0: none
    QTest::addRow("slows to the limit") << 0.01 << 2.0 << 0.04 << (std::sqrt(50.0) - 2) / 0.01;
    QTest::addRow("already slower") << 0.01 << 100.0 << 0.04 << -1.0;
    QTest::addRow("no fit") << 0.0 << 2.0 << 0.04 << -1.0;
}

void DeformationTest::daysToStability()
{
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(double, r);
    QFETCH(double, days);
    const auto tau = ::daysToStability(a, b, r);
    if (days < 0) {
        QVERIFY(!tau);
        return;
    }
    QVERIFY(tau);
    QVERIFY(std::fabs(*tau - days) < 1e-9);
    // At τ* the fit's rate b / (aτ + b)² is the limit.
    QVERIFY(std::fabs(b / std::pow(a * *tau + b, 2) - r) < 1e-12);
}

void DeformationTest::thresholdsFromTheLimits_data()
{
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("structure");
    QTest::addColumn<QString>("soil");
    QTest::addColumn<QString>("typedTilt");
    QTest::addColumn<double>("tilt");         // 0: none
    QTest::addColumn<double>("differential"); // 0: none
    QTest::newRow("24 m is the lowest band") << "24" << "" << "" << "" << 0.004 << 0.0;
    QTest::newRow("just above 24 m") << "24.5" << "" << "" << "" << 0.003 << 0.0;
    QTest::newRow("100 m") << "100" << "" << "" << "" << 0.0025 << 0.0;
    QTest::newRow("above 100 m") << "150" << "" << "" << "" << 0.002 << 0.0;
    QTest::newRow("frame on soft soil") << "30" << "钢筋混凝土框架结构" << "高压缩性土" << "" << 0.003 << 0.003;
    QTest::newRow("frame, soil not said") << "30" << "框架" << "" << "" << 0.003 << 0.0;
    QTest::newRow("masonry walls") << "" << "砌体承重结构" << "中、低压缩性土" << "" << 0.0 << 0.002;
    QTest::newRow("typed tilt wins") << "30" << "" << "" << "0.001" << 0.001 << 0.0;
    QTest::newRow("tilt typed in per mille") << "30" << "" << "" << "1.5‰" << 0.0015 << 0.0;
    // "3" meant 3‰: as a ratio it would be 3000‰, credited to the code and
    // never reached; refused, the table's row stands.
    QTest::newRow("a plain 3 is no ratio") << "30" << "" << "" << "3" << 0.003 << 0.0;
    QTest::newRow("60 per mille is beyond any building") << "30" << "" << "" << "60‰" << 0.003 << 0.0;
    QTest::newRow("no number is no height") << "三十" << "" << "" << "" << 0.0 << 0.0;
    // As people type them: a height with its unit, the soil's other words,
    // the structure's short names.
    QTest::newRow("30米") << "30米" << "" << "" << "" << 0.003 << 0.0;
    QTest::newRow("24m") << "24m" << "" << "" << "" << 0.004 << 0.0;
    QTest::newRow("24 m") << "24 m" << "" << "" << "" << 0.004 << 0.0;
    QTest::newRow("full-width 24ｍ") << "２４ｍ" << "" << "" << "" << 0.004 << 0.0;
    for (const char *soil : {"中压缩性土", "低压缩性土", "中等压缩性土", "中、低压缩性", "中低压缩性土"})
        QTest::addRow("frame on %s", soil) << "30" << "框架结构" << QString::fromUtf8(soil) << "" << 0.003 << 0.002;
    QTest::newRow("frame on 高压缩性") << "30" << "框架结构" << "高压缩性" << "" << 0.003 << 0.003;
    QTest::newRow("框剪 is a frame with shear walls") << "30" << "框剪结构" << "中压缩性土" << "" << 0.003 << 0.002;
    QTest::newRow("砖混 is masonry") << "" << "砖混结构" << "低压缩性土" << "" << 0.0 << 0.002;
    QTest::newRow("中高 names both classes") << "" << "框架结构" << "中高压缩性土" << "" << 0.0 << 0.0;
    for (const char *structure : {"剪力墙结构", "排架结构", "钢结构"})
        QTest::addRow("%s has no row", structure) << "30" << QString::fromUtf8(structure) << "中压缩性土" << "" << 0.003
                                                  << 0.0;
}

void DeformationTest::aLimitNeverMissingInSilence_data()
{
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("structure");
    QTest::addColumn<QString>("soil");
    QTest::addColumn<QString>("tiltReason");
    QTest::addColumn<QString>("differentialReason");
    QTest::newRow("nothing filled") << "" << "" << "" << "未填建筑高度，变形限值表中无可选用的倾斜限值，未判倾斜"
                                    << "未填结构形式，未判差异沉降";
    QTest::newRow("a steel frame") << "30" << "钢结构" << "中压缩性土" << ""
                                   << "结构形式「钢结构」在变形限值表中无差异沉降限值，未判差异沉降";
    QTest::newRow("soil of both classes") << "abc" << "框架结构" << "中高压缩性土"
                                          << "建筑高度「abc」不是以米计的高度，未判倾斜"
                                          << "地基土「中高压缩性土」不能归入中、低压缩性土或高压缩性土，未判差异沉降";
    QTest::newRow("soil left empty") << "30" << "框架结构" << "" << "" << "未填地基土，未判差异沉降";
}

void DeformationTest::aLimitNeverMissingInSilence()
{
    QFETCH(QString, height);
    QFETCH(QString, structure);
    QFETCH(QString, soil);
    QFETCH(QString, tiltReason);
    QFETCH(QString, differentialReason);
    const std::map<QString, QString> fields{{DeformationKey::BuildingHeight, height},
                                            {DeformationKey::Structure, structure},
                                            {DeformationKey::Soil, soil}};
    const AlarmThresholds t = alarmThresholds(fields, defaultDeformationLimits());
    QCOMPARE(t.tiltReason, tiltReason);
    QCOMPARE(t.differentialReason, differentialReason);
    // Said where the limit would be.
    const QString line = thresholdsLine(t);
    QVERIFY2(differentialReason.isEmpty() || line.contains(QStringLiteral("差异沉降 无（") + differentialReason),
             qPrintable(line));
    QVERIFY2(tiltReason.isEmpty() || line.contains(QStringLiteral("倾斜 无（") + tiltReason), qPrintable(line));
    // A field filled in that chooses nothing is told with the problems.
    const QString problem = deformationSettings(QStringLiteral("/nonexistent/limits.json"), fields, ProjectSnapshot()).problem;
    QCOMPARE(problem.contains(QStringLiteral("未判差异沉降")), !structure.isEmpty() && !differentialReason.isEmpty());
}

void DeformationTest::thresholdsFromTheLimits()
{
    QFETCH(QString, height);
    QFETCH(QString, structure);
    QFETCH(QString, soil);
    QFETCH(QString, typedTilt);
    QFETCH(double, tilt);
    QFETCH(double, differential);
    QStringList problems;
    const AlarmThresholds t = alarmThresholds({{DeformationKey::BuildingHeight, height},
                                               {DeformationKey::Structure, structure},
                                               {DeformationKey::Soil, soil},
                                               {DeformationKey::TiltAlarm, typedTilt}},
                                              defaultDeformationLimits(), &problems);
    QCOMPARE(t.tilt.value_or(0), tilt);
    // A value refused is told, naming it.
    const bool refused = typedTilt == QStringLiteral("3") || typedTilt == QStringLiteral("60‰");
    QCOMPARE(problems.size(), refused ? 1 : 0);
    if (refused)
        QVERIFY2(problems.front().contains(typedTilt), qPrintable(problems.front()));
    QCOMPARE(t.differential.value_or(0), differential);
    QVERIFY(!t.cumulativeMm && !t.rateMmPerDay);
}

void DeformationTest::perMilleAlarmTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored"); // empty: refused
    QTest::addColumn<QString>("shown");
    QTest::newRow("2 is 2‰") << "2" << "2‰" << "2";
    QTest::newRow("with its sign") << " 1.5‰ " << "1.5‰" << "1.5";
    QTest::newRow("the least") << "0.1" << "0.1‰" << "0.1";
    QTest::newRow("the largest") << "50" << "50‰" << "50";
    QTest::newRow("a ratio typed as such is too small") << "0.002" << "" << "";
    QTest::newRow("beyond") << "51" << "" << "";
    QTest::newRow("no number") << "二" << "" << "";
}

void DeformationTest::perMilleAlarmTyped()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    const auto text = perMilleAlarmText(typed);
    QCOMPARE(bool(text), !stored.isEmpty());
    if (!text) {
        QVERIFY2(text.error().contains(QStringLiteral("0.1‰ 到 50‰")), qPrintable(text.error()));
        return;
    }
    QCOMPARE(*text, stored);
    QCOMPARE(perMilleAlarmShown(*text), shown);
    // An older project's ratio is shown in ‰ as well.
    QCOMPARE(perMilleAlarmShown(QStringLiteral("0.002")), QStringLiteral("2"));
}

void DeformationTest::farPointsAndTheFirstEpochsRow()
{
    // Four points of one building and J5 in another coordinate system, 4,900 km
    // off: named, and left out of the figures. At the first epoch nothing
    // has sunk: no largest sinking and no largest pair to name.
    const ProjectSnapshot snapshot = testsupport::snapshotOf(
        {{{0, "2018-01-01", "A", "1"}, {1, "2018-02-01", "B", "2"}},
         {{0, 1, 10}, {0, 2, 10}, {0, 3, 10}, {0, 4, 10}, {0, 5, 10},
          {1, 1, 9.99}, {1, 2, 9.995}, {1, 3, 9.998}, {1, 4, 9.997}, {1, 5, 9.9}},
         {{1, "J1", 1, "圆形", Position{0, 0}}, {2, "J2", 1, "圆形", Position{30, 0}},
          {3, "J3", 1, "圆形", Position{30, 12}}, {4, "J4", 1, "圆形", Position{0, 12}},
          {5, "J5", 1, "圆形", Position{3'465'000, 3'465'000}}},
         {}});
    const auto far = farPlacedPoints(snapshot.points());
    QCOMPARE(far.size(), size_t(1));
    QCOMPARE(far[0].name, QStringLiteral("J5"));
    QVERIFY2(farPointsText(far).startsWith(QStringLiteral("J5 与其他测点相距 4900 km，坐标系可能不同")),
             qPrintable(farPointsText(far)));
    const DeformationReport report = analyseDeformation(snapshot, AlarmThresholds{}, {}, nullptr);
    QCOMPARE(report.epochs[1].points.size(), size_t(4));
    const auto rows = deformationRows(report, snapshot);
    QCOMPARE(rows[0][4], QStringLiteral("—"));
    QCOMPARE(rows[0][5], QStringLiteral("—"));
    QCOMPARE(rows[0][9], QStringLiteral("—"));
    QCOMPARE(rows[0][10], QStringLiteral("—"));
    QCOMPARE(rows[1][5], QStringLiteral("J1"));
}

void DeformationTest::alarmsPassTheirThresholds()
{
    // Three placed points and one without a position: its cumulative alarm
    // counts all the same; only magnitudes beyond the threshold alarm.
    EpochDeformation d;
    d.cjNo = 4;
    d.settled = {{1, -10.0, -0.5}, {2, -12.0, 0.1}, {3, 10.0, std::nullopt}, {4, -15.0, std::nullopt}};
    d.points = {{1, "A", 0, 0, -10}, {2, "B", 10, 0, -12}, {3, "C", 0, 10, 10}};
    d.triangulation = triangulate(d.points);
    d.pairs = neighbourDifferences(d.points, d.triangulation);
    d.tilt = fitTilt(d.points);
    AlarmThresholds t;
    t.cumulativeMm = 10;
    t.rateMmPerDay = 0.4;
    t.differential = 0.0015;
    t.tilt = 1.0;
    std::vector<std::tuple<QString, int, double>> got;
    for (const Alarm &a : alarmsAt(d, t))
        got.emplace_back(alarmKindKey(a.kind), a.point.value_or(a.pair ? a.pair->first * 10 + a.pair->second : 0),
                         a.value);
    const std::vector<std::tuple<QString, int, double>> expected{
        {"rate", 1, -0.5}, {"cumulative", 2, -12.0}, {"cumulative", 4, -15.0},
        // A–C: 20 mm over 10 m; B–C: 22 mm over 14.1 m; A–B: 2 mm over 10 m, under.
        {"differential", 13, 0.002}, {"differential", 23, 22 / (1000 * std::sqrt(200.0))}};
    QCOMPARE(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        QCOMPARE(std::get<0>(got[i]), std::get<0>(expected[i]));
        QCOMPARE(std::get<1>(got[i]), std::get<1>(expected[i]));
        QVERIFY(std::fabs(std::get<2>(got[i]) - std::get<2>(expected[i])) < 1e-12);
    }
    // As the grid, the plan, the report and the web page say them: the
    // point's name set apart from the words on both sides.
    const ProjectSnapshot snapshot;
    QStringList texts;
    for (const Alarm &a : alarmsAt(d, t))
        texts << alarmText(a, snapshot);
    QCOMPARE(texts, QStringList({QStringLiteral("测点 1 沉降速率 -0.500 mm/d 超过预警值 0.400 mm/d"),
                                 QStringLiteral("测点 2 累计沉降 -12.00 mm 超过预警值 10.00 mm"),
                                 QStringLiteral("测点 4 累计沉降 -15.00 mm 超过预警值 10.00 mm"),
                                 QStringLiteral("测点 1–3 差异沉降 2.000‰ 超过预警值 1.500‰"),
                                 QStringLiteral("测点 2–3 差异沉降 1.556‰ 超过预警值 1.500‰")}));
}

void DeformationTest::mtextLosesItsFormatting_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("plain");
    QTest::newRow("font and height") << "{\\fSimSun|b0|i0;\\H2.5x;J12}" << "J12";
    QTest::newRow("paragraphs") << "沉降点\\PJ3" << "沉降点\nJ3";
    QTest::newRow("stacked") << "\\S1^2;" << "1/2";
    QTest::newRow("non-breaking space and braces") << "A\\~B\\{C\\}" << "A B{C}";
    QTest::newRow("underline toggles") << "\\LJ7\\l" << "J7";
}

void DeformationTest::mtextLosesItsFormatting()
{
    QFETCH(QString, raw);
    QFETCH(QString, plain);
    QCOMPARE(plainMtext(raw), plain);
}

void DeformationTest::pairsThatAreNoNeighbours_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("paired");   // J1 and J2 are no neighbours
    QTest::addColumn<QString>("told");  // a word of the problem, or nothing
    QTest::newRow("hyphen") << QStringLiteral("J1-J2") << true << QString();
    QTest::newRow("em dash") << QStringLiteral("J1—J2") << true << QString();
    QTest::newRow("full-width hyphen") << QStringLiteral("J1－J2") << true << QString();
    QTest::newRow("wave dash") << QStringLiteral("J1～J2") << true << QString();
    QTest::newRow("padded name") << QStringLiteral("j01 - J2") << true << QString();
    QTest::newRow("unknown point") << QStringLiteral("J1-J9") << false << QStringLiteral("“J9”不是工程中的点名");
    QTest::newRow("no dash") << QStringLiteral("J1J2") << false << QStringLiteral("应写成");
}

void DeformationTest::pairsThatAreNoNeighbours()
{
    QFETCH(QString, typed);
    QFETCH(bool, paired);
    QFETCH(QString, told);
    const ProjectSnapshot snapshot =
        testsupport::snapshotOf({{{0, "2018-01-01", "A", "1"}}, {}, {{1, "J1", 1, "圆形"}, {2, "J2", 1, "圆形"}}});
    QStringList problems;
    const auto pairs = notNeighbours({{QStringLiteral("非相邻测点对"), typed}}, snapshot, &problems);
    QCOMPARE(pairs.count({1, 2}) == 1, paired);
    QCOMPARE(problems.isEmpty(), told.isEmpty());
    if (!told.isEmpty())
        QVERIFY2(problems.front().contains(told), qPrintable(problems.front()));
}

void DeformationTest::positionTablesAsTheyComeIn_data()
{
    // Every file gives J1 at 500010 east, 3400020 north.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("name");
    const QByteArray survey = "J1,3400020,500010\n";
    QTest::newRow("survey X, Y without headings") << survey << QStringLiteral(".csv") << QStringLiteral("J1");
    QTest::newRow("headings X, Y") << QByteArray("点号,X,Y\n" + survey) << QStringLiteral(".csv") << QStringLiteral("J1");
    QTest::newRow("headings E, N") << QByteArray("name,E,N\nJ1,500010,3400020\n") << QStringLiteral(".csv")
                                   << QStringLiteral("J1");
    QTest::newRow("headings 东, 北") << QByteArray("点名,东坐标,北坐标\nJ1,500010,3400020\n") << QStringLiteral(".csv")
                                     << QStringLiteral("J1");
    QTest::newRow("CASS") << QByteArray("J1,,500010,3400020,12.5\n") << QStringLiteral(".dat") << QStringLiteral("J1");
    QTest::newRow("quoted fields") << QByteArray("\"J 1, east wing\",\"3400020\",500010\n") << QStringLiteral(".csv")
                                   << QStringLiteral("J 1, east wing");
    // "点名,东,北\n沉降点1,…" as Chinese Excel saves it (bytes from Python's gbk codec).
    QTest::newRow("GBK") << QByteArray("\xb5\xe3\xc3\xfb,\xb6\xab,\xb1\xb1\n"
                                       "\xb3\xc1\xbd\xb5\xb5\xe3" "1,500010,3400020\n")
                         << QStringLiteral(".csv") << QStringLiteral("沉降点1");
}

void DeformationTest::positionTablesAsTheyComeIn()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, suffix);
    QFETCH(QString, name);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("坐标") + suffix));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const auto table = readPositionTable(file.fileName());
    QVERIFY2(table, table ? "" : qPrintable(table.error()));
    QCOMPARE(table->rows.size(), size_t(1));
    QCOMPARE(table->rows.front().name, name);
    QCOMPARE(table->rows.front().at, (Position{500010, 3400020}));
    QVERIFY(!table->axesNote.isEmpty());
    // Names as every import matches them, and shown without what a terminal obeys.
    QCOMPARE(positionKey(QStringLiteral(" j02 ")), positionKey(QStringLiteral("J2")));
    QCOMPARE(shownName(QStringLiteral("J\x1b[31m1")), QStringLiteral("J\\x1b[31m1"));
}

QTEST_GUILESS_MAIN(DeformationTest)
#include "tst_deformation.moc"
