#include "survey/levelling.h"

#include <QTest>

#include <cmath>

// What the readers make of the details of the formats, and what the
// adjustment refuses.
class LevellingTest : public QObject
{
    Q_OBJECT
private slots:
    void gsiWords_data();
    void gsiWords();
    void diniRepeatedStation();
    void intermediateSight();
    void networkRefused_data();
    void networkRefused();
};

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
    QTest::addRow("negative reading") << QByteArray("110001+000000P1 331.08-00001000 ") << "P1" << -0.01
                                      << -1.0;
}

void LevellingTest::gsiWords()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, point);
    QFETCH(double, reading);
    QFETCH(double, distance);
    const auto file = parseGsi(line + "\r\n", QStringLiteral("t.gsi"));
    QVERIFY2(file, file ? "" : qPrintable(file.error()));
    QCOMPARE(file->readings.size(), size_t(1));
    const LevelReading &r = file->readings.front();
    QCOMPARE(r.point, point);
    QVERIFY(std::fabs(r.reading - reading) < 1e-12);
    QCOMPARE(r.distance.has_value(), distance >= 0);
    if (r.distance)
        QVERIFY(std::fabs(*r.distance - distance) < 1e-12);
}

namespace {
QByteArray diniLine(int address, const QByteArray &block, const QByteArray &type = {},
                    double value = 0, const QByteArray &hd = {})
{
    const auto cell = [](const QByteArray &t, double v) {
        if (t.isEmpty())
            return QByteArray(22, ' ');
        return t.leftJustified(2) + QByteArray::number(v, 'f', 5).rightJustified(14) + " m    ";
    };
    return "For M5|Adr " + QByteArray::number(address).rightJustified(5) + "|" + block.leftJustified(31)
           + "|" + cell(type, value) + "|" + cell(hd.isEmpty() ? QByteArray() : "HD", 20.0) + "|"
           + QByteArray(22, ' ') + "|   \r\n";
}
} // namespace

void LevellingTest::diniRepeatedStation()
{
    // The first attempt at a station is dropped once the level says it was
    // repeated; the repeat's readings make the station.
    QByteArray text = diniLine(1, "TO  Start-Line         BFFB");
    int a = 1;
    const auto station = [&](const char *back, const char *fore, double b, double f) {
        text += diniLine(++a, QByteArray("KD1 ") + back, "Rb", b, "HD");
        text += diniLine(++a, QByteArray("KD1 ") + fore, "Rf", f, "HD");
        text += diniLine(++a, QByteArray("KD1 ") + fore, "Rf", f, "HD");
        text += diniLine(++a, QByteArray("KD1 ") + back, "Rb", b, "HD");
    };
    station("A", "B", 1.5, 1.2);
    text += diniLine(++a, QByteArray("KD1 B"), "Rb", 1.9);
    text += diniLine(++a, QByteArray("KD1 C"), "Rf", 1.0);
    text += diniLine(++a, "TO  Station repeated");
    station("B", "C", 1.4, 1.3);
    const auto file = parseDini(text, QStringLiteral("t.dat"));
    QVERIFY2(file, file ? "" : qPrintable(file.error()));
    QCOMPARE(file->readings.size(), size_t(8));
    LevelSettings settings;
    settings.fixed[QStringLiteral("A")] = 10.0;
    const auto result = adjustLevelling({*file}, settings);
    QVERIFY2(result, result ? "" : qPrintable(result.error()));
    QCOMPARE(result->stations.size(), size_t(2));
    QVERIFY(std::fabs(result->heights.at(QStringLiteral("C")) - (10.0 + 0.3 + 0.1)) < 1e-12);
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

void LevellingTest::networkRefused_data()
{
    QTest::addColumn<QString>("fixed");
    QTest::addColumn<QString>("message");
    QTest::addRow("no fixed point") << QString() << QStringLiteral("没有已知高程的点");
    QTest::addRow("a line not connected") << QStringLiteral("X") << QStringLiteral("不相连");
}

void LevellingTest::networkRefused()
{
    QFETCH(QString, fixed);
    QFETCH(QString, message);
    const QByteArray gsi = "110001+00000000 410000+00000002 \r\n"
                           "110002+0000000A 331.08+00150000 \r\n110003+0000000B 332.08+00120000 \r\n";
    const QByteArray other = "110001+00000000 410000+00000002 \r\n"
                             "110002+0000000X 331.08+00150000 \r\n110003+0000000Y 332.08+00120000 \r\n";
    const auto a = parseGsi(gsi, QStringLiteral("a.gsi"));
    const auto x = parseGsi(other, QStringLiteral("x.gsi"));
    QVERIFY(a && x);
    LevelSettings settings;
    if (!fixed.isEmpty())
        settings.fixed[fixed] = 5.0;
    const auto result = adjustLevelling({*a, *x}, settings);
    QVERIFY(!result);
    QVERIFY2(result.error().contains(message), qPrintable(result.error()));
}

QTEST_MAIN(LevellingTest)
#include "tst_levelling.moc"
