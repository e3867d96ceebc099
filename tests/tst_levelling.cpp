#include "survey/levelling.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <Eigen/Dense>

#include <cmath>

// What the readers make of the level's files, laid out as the instruments
// write them, and what the adjustment rests the heights on.
class LevellingTest : public QObject
{
    Q_OBJECT
private slots:
    void gsiWords_data();
    void gsiWords();
    void refused_data();
    void refused();
    void diniAsTheLevelSummedIt_data();
    void diniAsTheLevelSummedIt();
    void diniRecords();
    void intermediateSight();
    void datum_data();
    void datum();
    void precisionWithoutTheDenseInverse();
    void secondOrderLineOfSight();
    void pointNamesMatched_data();
    void pointNamesMatched();
    void listingsForPeople();
};

namespace {

QString fixture(const char *name)
{
    return QStringLiteral(SEDIMETRA_SOURCE_DIR "/tests/fixtures/level/") + QString::fromLatin1(name);
}

// One GSI-8 block: a point and one reading (0.01 mm) with its distance (mm).
QByteArray gsi(int block, const char *point, const char *word, long reading, long distance = 20000)
{
    return "11" + QByteArray::number(block).rightJustified(4, '0') + '+'
           + QByteArray(point).rightJustified(8, '0') + " 32...0+" + QByteArray::number(distance).rightJustified(8, '0')
           + ' ' + word + (reading < 0 ? '-' : '+') + QByteArray::number(std::labs(reading)).rightJustified(8, '0')
           + " \r\n";
}

QByteArray lineStart(const char *point)
{
    return "110001+" + QByteArray(point).rightJustified(8, '0') + " 410000+00000002 \r\n";
}

// A station read back, fore (single readings).
QByteArray station(int &block, const char *back, const char *fore, long b, long f)
{
    QByteArray text = gsi(++block, back, "331.08", b);
    return text + gsi(++block, fore, "332.08", f);
}

} // namespace

void LevellingTest::gsiWords_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("point");
    QTest::addColumn<double>("reading");
    QTest::addColumn<double>("distance");
    QTest::addRow("GSI-8, 0.01 mm and mm") << QByteArray("110012+0000A12B 32...0+00020500 331.08+00123456 ")
                                           << "A12B" << 1.23456 << 20.5;
    QTest::addRow("no blank after the last word") << QByteArray("110012+00000007 32...0+00020500 332.06+00012345")
                                                  << "7" << 1.2345 << 20.5;
    QTest::addRow("GSI-16, feet") << QByteArray("*110012+00000000000000P1 32...1+0000000000010000 331.07+0000000000040000 ")
                                  << "P1" << 4.0 * 0.3048 << 10.0 * 0.3048;
    QTest::addRow("negative reading (staff upside down)") << QByteArray("110001+000000P1 331.08-00001000 ") << "P1"
                                                          << -0.01 << -1.0;
}

void LevellingTest::gsiWords()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, point);
    QFETCH(double, reading);
    QFETCH(double, distance);
    const auto file = parseGsi(line + "\r\n", QStringLiteral("t.gsi"));
    QVERIFY2(file, file ? "" : qPrintable(file.error()));
    QCOMPARE(file->lines.size(), size_t(1));
    QCOMPARE(file->lines.front().readings.size(), size_t(1));
    const LevelReading &r = file->lines.front().readings.front();
    QCOMPARE(r.point, point);
    QVERIFY(std::fabs(r.reading - reading) < 1e-12);
    QCOMPARE(r.distance.has_value(), distance >= 0);
    if (r.distance)
        QVERIFY(std::fabs(*r.distance - distance) < 1e-12);
}

void LevellingTest::refused_data()
{
    // A whole file (DiNi when it starts so), and what the refusal names.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    int b = 0;
    QTest::addRow("GSI: a blank point id")
        << lineStart("BM1") + station(b, "BM1", "A", 150000, 120000) + station(b, "A", "        ", 130000, 140000)
        << "第 5 行的读数没有点号";
    QTest::addRow("GSI: a sign inside the digits") << QByteArray("110002+00000BM1 331.08+-0090020 \r\n")
                                                   << "第 1 行第 2 个字（331.08）的数值无效";
    QTest::addRow("GSI: an unknown unit") << QByteArray("110002+00000BM1 331.05+00090020 \r\n")
                                          << "的单位无效";
    QTest::addRow("GSI: a reading beyond the staff") << QByteArray("110002+00000BM1 331.00+12345678 \r\n")
                                                     << "读数 12345.7 m 超出 ±10 m";
    QTest::addRow("GSI: a negative distance") << QByteArray("110002+00000BM1 32...0-00020000 331.08+00120000 \r\n")
                                              << "视距 -20 m 不在 0～200 m 之内";
    const QByteArray m5 = "For M5|Adr     4|KD1      BM1     08:41:10     3|";
    QTest::addRow("DiNi: an unknown unit") << m5 + "Rb        1.18845 xx  |                      |                      |   \r\n"
                                           << "单位“xx”无法识别";
    QTest::addRow("DiNi: a reading of 1e308 m") << m5 + "Rb          1e308 m   |                      |                      |   \r\n"
                                                << "超出 ±10 m";
    QTest::addRow("DiNi: an entered height of 1e300 m")
        << QByteArray("For M5|Adr     3|KD1      BM1     08:40:02     3|                      |                      |Z"
                      "           1e300 m   |   \r\n")
        << "不在有效范围内";
    QTest::addRow("DiNi: columns out of place") << QByteArray("For M5|Adr 4|KD1 BM1|Rb 1.18845 m|\r\n")
                                                << "栏目位置与 DiNi M5 格式不符";
    QTest::addRow("DiNi: the older REC 500 format") << QByteArray("    1|KD1      1001            21:48:54   1|   |\r\n")
                                                    << "REC 500";
    QTest::addRow("a line of 5,000 bytes") << QByteArray(5000, 'x') + "\r\n" << "过长";
}

void LevellingTest::refused()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.dat"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    const auto read = readLevelFile(path);
    QVERIFY(!read);
    QVERIFY2(read.error().contains(message), qPrintable(read.error()));
}

void LevellingTest::diniAsTheLevelSummedIt_data()
{
    // Each line's station count and sum of height differences as the level
    // wrote them in its KD2 records: the answer the program must reach.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QList<int>>("numbers");
    QTest::addColumn<QList<int>>("stations");
    QTest::addColumn<QList<double>>("sums");
    QTest::addRow("BF, 4- and 5-decimal readings, invalidated reading repeated, intermediate sight")
        << "dini_bf.dat" << QList<int>{3} << QList<int>{4} << QList<double>{-0.00027};
    QTest::addRow("BFFB with a station repeated, an aBF line, then the first line continued")
        << "dini_lines.dat" << QList<int>{1, 2} << QList<int>{4, 2} << QList<double>{0.00001, 0.0};
    QTest::addRow("aBFFB from a dummy 0, an invalid reading followed by E327")
        << "dini_abffb.dat" << QList<int>{7} << QList<int>{3} << QList<double>{-0.00021};
    QTest::addRow("a station whose readings the level all invalidated, then repeated")
        << "dini_station_repeated.dat" << QList<int>{2} << QList<int>{3} << QList<double>{0.00002};
}

void LevellingTest::diniAsTheLevelSummedIt()
{
    QFETCH(QString, name);
    QFETCH(QList<int>, numbers);
    QFETCH(QList<int>, stations);
    QFETCH(QList<double>, sums);
    const auto file = readLevelFile(fixture(qPrintable(name)));
    QVERIFY2(file, file ? "" : qPrintable(file.error()));
    QCOMPARE(file->lines.size(), size_t(numbers.size()));
    const auto result = adjustLevelling({*file}, LevelSettings());
    QVERIFY2(result, result ? "" : qPrintable(result.error()));
    QVERIFY2(result->warnings.isEmpty(), qPrintable(result->warnings.join(QLatin1Char('\n'))));
    for (qsizetype l = 0; l < numbers.size(); ++l) {
        QCOMPARE(file->lines[size_t(l)].number, numbers[l]);
        QCOMPARE(file->lines[size_t(l)].levelStations, std::optional<int>(stations[l]));
        int built = 0;
        double sum = 0;
        for (const Station &s : result->stations)
            if (s.lineIndex == l) {
                ++built;
                sum += s.dh;
            }
        QCOMPARE(built, stations[l]);
        QVERIFY2(std::fabs(sum - sums[l]) <= 0.05e-3, qPrintable(QString::number(sum, 'f', 6)));
    }
}

void LevellingTest::diniRecords()
{
    // What the level says of its records is heeded: the reading it
    // invalidated is gone, the last digit of a 5-decimal reading is kept,
    // the line's method decides single readings.
    const auto file = readLevelFile(fixture("dini_bf.dat"));
    QVERIFY(file);
    const RecordedLine &line = file->lines.front();
    QCOMPARE(line.method, QStringLiteral("BF"));
    QCOMPARE(line.perSight, 1);
    QCOMPARE(line.readings.front().reading, 1.18845);
    QCOMPARE(*line.readings.front().distance, 5.720);
    QCOMPARE(line.readings[1].reading, 0.5635);
    for (const LevelReading &r : line.readings)
        QVERIFY(r.reading != 1.72104); // the invalidated fore sight
    QCOMPARE(file->enteredHeights.size(), size_t(1));
    QCOMPARE(file->enteredHeights.front().point, QStringLiteral("BM1"));
    QCOMPARE(file->enteredHeights.front().height, 100.0);
    // A sum the program does not reach is told, naming the line.
    QByteArray text;
    QFile in(fixture("dini_bf.dat"));
    QVERIFY(in.open(QIODevice::ReadOnly));
    text = in.readAll().replace("Sh       -0.00027 m", "Sh       -0.00127 m");
    const auto changed = parseDini(text, QStringLiteral("changed.dat"));
    QVERIFY(changed);
    const auto result = adjustLevelling({*changed}, LevelSettings());
    QVERIFY(result);
    QCOMPARE(result->warnings.size(), 1);
    QVERIFY2(result->warnings.front().contains(QStringLiteral("水准路线 3")), qPrintable(result->warnings.front()));
}

void LevellingTest::intermediateSight()
{
    // A → B with a sight to P from the same set-up: H_P = H_A + B1 − R, no
    // share of any correction.
    const QByteArray gsi = "110001+0000000A 410000+00000001 \r\n"
                           "110002+0000000A 331.08+00150000 \r\n"
                           "110003+0000000P 333.08+00090000 \r\n"
                           "110004+0000000B 332.08+00120000 \r\n";
    const auto file = parseGsi(gsi, QStringLiteral("i.gsi"));
    QVERIFY(file);
    LevelSettings settings;
    settings.fixed[QStringLiteral("A")] = 10.0;
    const auto result = adjustLevelling({*file}, settings);
    QVERIFY2(result, result ? "" : qPrintable(result.error()));
    QVERIFY(std::fabs(result->heights.at(QStringLiteral("B")) - 10.3) < 1e-12);
    QVERIFY(std::fabs(result->intermediates.at(QStringLiteral("P")) - 10.6) < 1e-12);
    QVERIFY(!result->heights.count(QStringLiteral("P")));
}

void LevellingTest::datum_data()
{
    // Two sessions of one loop BM1 → A → B → BM1 (+0.3, −0.1, −0.2002 m),
    // each started with a height entered on the level, and an unconnected
    // line X → Y.
    QTest::addColumn<QString>("fixed");           // "ID=H" given by the user, or none
    QTest::addColumn<QString>("datumOfLoop");     // fixed, entered, relative
    QTest::addColumn<double>("heightOfA");        // m
    QTest::addColumn<int>("warnings");            // entered heights not used that disagree
    QTest::addRow("the user's fixed point wins") << "BM1=20" << "fixed" << 20.3 << 2;
    QTest::addRow("else the first entered height") << "" << "entered" << 0.3 << 1;
    QTest::addRow("a fixed point of another part leaves this one to its entered height")
        << "X=5" << "entered" << 0.3 << 1;
}

void LevellingTest::datum()
{
    QFETCH(QString, fixed);
    QFETCH(QString, datumOfLoop);
    QFETCH(double, heightOfA);
    QFETCH(int, warnings);
    int b = 0;
    // Session 1 starts at BM1 = 0 (a dummy), session 2 at A = 0.
    const QByteArray loop = lineStart("BM1") + "110001+00000BM1 83..58+00000000 \r\n"
                            + station(b, "BM1", "A", 150000, 120000) + station(b, "A", "B", 130000, 140000)
                            + lineStart("B") + "110001+0000000A 83..58+00000000 \r\n"
                            + station(b, "B", "BM1", 120000, 140020);
    const QByteArray spur = lineStart("X") + station(b, "X", "Y", 150000, 100000);
    const auto a = parseGsi(loop, QStringLiteral("loop.gsi"));
    const auto x = parseGsi(spur, QStringLiteral("spur.gsi"));
    QVERIFY2(a && x, qPrintable(a.error() + x.error()));
    LevelSettings settings;
    if (!fixed.isEmpty())
        settings.fixed[fixed.section(QLatin1Char('='), 0, 0)] = fixed.section(QLatin1Char('='), 1).toDouble();
    const auto result = adjustLevelling({*a, *x}, settings);
    QVERIFY2(result, result ? "" : qPrintable(result.error()));
    QCOMPARE(result->parts.size(), size_t(2));
    static const char *const datums[] = {"fixed", "entered", "relative"};
    QCOMPARE(QString::fromLatin1(datums[result->partOf(QStringLiteral("A"))->datum]), datumOfLoop);
    // The loop's misclosure (−0.2 mm) is shared by three stations.
    QVERIFY2(std::fabs(result->heights.at(QStringLiteral("A")) - (heightOfA + 0.2e-3 / 3)) < 1e-9,
             qPrintable(QString::number(result->heights.at(QStringLiteral("A")), 'f', 7)));
    QCOMPARE(result->loops.size(), size_t(1));
    QVERIFY(std::fabs(result->loops.front().misclosureMm + 0.2) < 1e-6);
    QCOMPARE(int(result->warnings.size()), warnings);
    // The spur has nothing to rest on unless given: relative to X, and
    // never written into an epoch.
    const bool spurFixed = fixed.startsWith(QLatin1Char('X'));
    QCOMPARE(result->heightsRelative(), !spurFixed);
    QVERIFY(std::fabs(result->heights.at(QStringLiteral("Y")) - (spurFixed ? 5.5 : 0.5)) < 1e-9);
    Point y;
    y.name = QStringLiteral("Y");
    const auto rows = levelImportRows(*result, {{QStringLiteral("Y"), &y}});
    QCOMPARE(rows.ok(), spurFixed);
    if (!rows)
        QVERIFY2(rows.error().contains(QStringLiteral("含 Y 的部分")), qPrintable(rows.error()));
}

void LevellingTest::precisionWithoutTheDenseInverse()
{
    // A network of two loops and a tie between two benchmarks: the standard
    // deviations and standardised corrections against the dense
    // computation, Q = (AᵀPA)⁻¹ and Qvv = P⁻¹ − AQAᵀ.
    int b = 0;
    QByteArray text = lineStart("BM1");
    const char *route[][2] = {{"BM1", "P1"}, {"P1", "P2"}, {"P2", "P3"}, {"P3", "BM1"},
                              {"P2", "P4"}, {"P4", "P5"}, {"P5", "P1"}, {"P4", "BM2"}};
    const long fore[] = {120010, 130000, 139990, 110030, 125000, 120020, 134990, 115000};
    for (size_t i = 0; i < std::size(route); ++i)
        text += station(b, route[i][0], route[i][1], 125000 + long(i) * 1000, fore[i]);
    const auto file = parseGsi(text, QStringLiteral("net.gsi"));
    QVERIFY(file);
    LevelSettings settings;
    settings.fixed = {{QStringLiteral("BM1"), 10.0}, {QStringLiteral("BM2"), 10.05}};
    const auto result = adjustLevelling({*file}, settings);
    QVERIFY2(result, result ? "" : qPrintable(result.error()));
    const QStringList unknowns{QStringLiteral("P1"), QStringLiteral("P2"), QStringLiteral("P3"),
                               QStringLiteral("P4"), QStringLiteral("P5")};
    const int m = int(result->sections.size());
    Eigen::MatrixXd A = Eigen::MatrixXd::Zero(m, unknowns.size());
    Eigen::VectorXd p(m);
    for (int i = 0; i < m; ++i) {
        const Section &s = result->sections[size_t(i)];
        if (unknowns.contains(s.to))
            A(i, unknowns.indexOf(s.to)) += 1;
        if (unknowns.contains(s.from))
            A(i, unknowns.indexOf(s.from)) -= 1;
        p(i) = 1.0 / s.stations;
    }
    const Eigen::MatrixXd Q = (A.transpose() * p.asDiagonal() * A).inverse();
    QVERIFY(result->sigma0Mm);
    for (int j = 0; j < unknowns.size(); ++j)
        QVERIFY(std::fabs(result->sigmaMm.at(unknowns[j]) - *result->sigma0Mm * std::sqrt(Q(j, j))) < 1e-9);
    const Eigen::MatrixXd Qvv = Eigen::MatrixXd(p.cwiseInverse().asDiagonal()) - A * Q * A.transpose();
    for (int i = 0; i < m; ++i) {
        const Section &s = result->sections[size_t(i)];
        QVERIFY(s.standardised);
        QVERIFY(std::fabs(*s.standardised - s.correction * 1000 / (*result->sigma0Mm * std::sqrt(Qvv(i, i)))) < 1e-9);
    }
}

void LevellingTest::secondOrderLineOfSight()
{
    // GB/T 12897-2006, digital level, second order: 0.55 m to 2.80 m.
    int b = 0;
    const auto file = parseGsi(lineStart("A") + station(b, "A", "B", 250000, 54000), QStringLiteral("s.gsi"));
    QVERIFY(file);
    LevelSettings settings;
    settings.grade = defaultGrades().front();
    const auto result = adjustLevelling({*file}, settings);
    QVERIFY(result);
    const QStringList violations = result->stations.front().violations.filter(QStringLiteral("视线高度"));
    QCOMPARE(violations.size(), 1);
    QVERIFY2(violations.front().contains(QStringLiteral("0.54000 m 低于 0.55 m")), qPrintable(violations.front()));
}

void LevellingTest::pointNamesMatched_data()
{
    // The one matching of the workbook import, the level's ids and the
    // grid's second-name question.
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");
    QTest::addRow("case") << "j6" << "J6" << true;
    QTest::addRow("a leading zero of the number") << "J06" << "J6" << true;
    QTest::addRow("two leading zeros") << "J006" << "j6" << true;
    QTest::addRow("padded on the left, as a level writes it") << "0000A12" << "A12" << true;
    QTest::addRow("blanks around") << " J6 " << "J6" << true;
    QTest::addRow("a zero inside the number") << "J60" << "J6" << false;
    QTest::addRow("a zero alone") << "P0" << "P" << false;
    QTest::addRow("another number") << "J16" << "J6" << false;
    QTest::addRow("zeros in a second number") << "B2-05" << "B2-5" << true;
}

void LevellingTest::pointNamesMatched()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, same);
    QCOMPARE(pointKey(a) == pointKey(b), same);
    Point project;
    project.name = b;
    LevelResult result;
    result.heights[a] = 10.0;
    QCOMPARE(projectPointsOf(result, {project}).size(), size_t(same ? 1 : 0));
}

void LevellingTest::listingsForPeople()
{
    // Points in natural order; a single loop round listed once, as its line.
    LevelResult result;
    for (const char *id : {"J10", "BM1", "J2", "j3"})
        result.heights[QString::fromLatin1(id)] = 1;
    QCOMPARE(result.pointsInOrder(), QStringList({"BM1", "J2", "j3", "J10"}));
    result.lines.push_back({1, QStringLiteral("BM1"), QStringLiteral("BM1"), 8, 300, -0.26, 2.2, true});
    LevelLoop round{{QStringLiteral("BM1"), QStringLiteral("J2")}, 8, 300, -0.26, 2.2, true};
    LevelLoop other{{QStringLiteral("J2"), QStringLiteral("J10")}, 5, 200, 0.4, 1.8, true};
    QVERIFY(result.repeatsALine(round));
    QVERIFY(!result.repeatsALine(other));
}

QTEST_GUILESS_MAIN(LevellingTest)
#include "tst_levelling.moc"
