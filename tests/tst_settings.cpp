#include "project/settingsstore.h"
#include "testsupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

class SettingsTest : public QObject
{
    Q_OBJECT
private slots:
    void refusesWhatIsNoSystemDatabase_data();
    void refusesWhatIsNoSystemDatabase();
    void defaults_data();
    void defaults();
    void roundTripsAnyText_data();
    void roundTripsAnyText();
    void writesThroughAtOnce();
    void reportsFailedWrite();
    void pointCount_data();
    void pointCount();
    void unit_data();
    void unit();
};

namespace {} // namespace

void SettingsTest::refusesWhatIsNoSystemDatabase_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::addColumn<bool>("exists");
    QTest::addRow("missing") << QByteArray() << false;
    QTest::addRow("empty file") << QByteArray() << true;
    QTest::addRow("text file") << QByteArray("Name=Value\n") << true;
    QTest::addRow("binary junk") << QByteArray(4096, '\xA5') << true;
}

void SettingsTest::refusesWhatIsNoSystemDatabase()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Sdmx.mdb"));
    if (exists)
        QVERIFY(writeFile(path, content));
    const QByteArray before = exists ? digestOf(path) : QByteArray();

    SettingsStore store;
    const auto opened = store.open(path);
    QVERIFY(!opened);
    QVERIFY(!opened.error().isEmpty());
    QCOMPARE(QFile::exists(path), exists);
    if (exists) {
        QCOMPARE(QFileInfo(path).size(), qint64(content.size()));
        QCOMPARE(digestOf(path), before);
    }
}

void SettingsTest::defaults_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::addRow("unit") << SettingKey::ElevationUnit << "m";
    QTest::addRow("point count") << SettingKey::PointCount << "15";
    QTest::addRow("lines per sheet") << SettingKey::LinesPerSheet << "5";
    QTest::addRow("sheets per row") << SettingKey::SheetsPerRow << "1";
    QTest::addRow("font file") << SettingKey::Font1 << "Romans";
    QTest::addRow("big font file") << SettingKey::Font2 << "Htj_S";
    QTest::addRow("header field") << SettingKey::ProjectName << "";
    QTest::addRow("reference elevation") << SettingKey::BenchmarkElevation << "";
}

void SettingsTest::defaults()
{
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(makeSystemDatabase(dir.path()));
    SettingsStore store;
    const auto opened = store.open(dir.filePath(QStringLiteral("Sdmx.mdb")));
    QVERIFY2(opened, qPrintable(opened.error()));
    QVERIFY(!store.readSetting(key).has_value());
    QCOMPARE(store.readSettingOr(key), expected);
}

void SettingsTest::roundTripsAnyText_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addRow("chinese") << SettingKey::ProjectName << QStringLiteral("某某小区3#楼沉降观测");
    QTest::addRow("quotes") << QStringLiteral("it's \"key\"") << QStringLiteral("O'Brien's \"x\"");
    QTest::addRow("sql text") << QStringLiteral("'; DROP TABLE Para1; --")
                              << QStringLiteral("' OR '1'='1");
    QTest::addRow("wildcards") << QStringLiteral("%_") << QStringLiteral("100%_*?");
    QTest::addRow("empty value") << SettingKey::Client << QString();
    QTest::addRow("blanks kept") << SettingKey::Structure << QStringLiteral("  框架  ");
    QTest::addRow("emoji and newline") << QStringLiteral("键\n2") << QStringLiteral("🏢\t值");
}

void SettingsTest::roundTripsAnyText()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QTemporaryDir dir;
    QVERIFY(makeSystemDatabase(dir.path()));
    const QString path = dir.filePath(QStringLiteral("Sdmx.mdb"));
    SettingsStore store;
    QVERIFY(store.open(path));
    QVERIFY(store.writeSetting(key, QStringLiteral("first")));
    QVERIFY(store.writeSetting(key, value));

    QCOMPARE(store.readSetting(key).value_or(QStringLiteral("<absent>")), value);
    QCOMPARE(storedSetting(path, key).value_or(QStringLiteral("<absent>")), value);
    // A key compared with wildcards or case folding would find this one too.
    QVERIFY(!store.readSetting(key.toUpper() + QStringLiteral("x")).has_value());
}

void SettingsTest::writesThroughAtOnce()
{
    QTemporaryDir dir;
    QVERIFY(makeSystemDatabase(dir.path()));
    const QString path = dir.filePath(QStringLiteral("Sdmx.mdb"));
    SettingsStore store;
    QVERIFY(store.open(path));

    QVERIFY(store.writeSetting(SettingKey::LinesPerSheet, QStringLiteral("8")));
    QCOMPARE(storedSetting(path, SettingKey::LinesPerSheet), std::optional<QString>("8"));
    QVERIFY(store.writeSetting(SettingKey::LinesPerSheet, QStringLiteral("9")));
    QCOMPARE(storedSetting(path, SettingKey::LinesPerSheet), std::optional<QString>("9"));

    // One row per key, however often it is written.
    QVERIFY(store.writeSetting(SettingKey::SheetsPerRow, QStringLiteral("2")));
    QVERIFY(store.writeSetting(SettingKey::SheetsPerRow, QStringLiteral("3")));
    QCOMPARE(readWithPython(path, QStringLiteral("SELECT COUNT(*) FROM Para1")),
             QJsonArray({QJsonArray({2})}));
}

void SettingsTest::reportsFailedWrite()
{
    QTemporaryDir dir;
    QVERIFY(makeSystemDatabase(dir.path()));
    const QString path = dir.filePath(QStringLiteral("Sdmx.mdb"));
    SettingsStore store;
    QVERIFY(store.open(path));
    QVERIFY(store.writeSetting(SettingKey::Font1, QStringLiteral("txt")));

    {
        // Another program holds the file locked for writing.
        ExclusiveLock lock(path);
        QVERIFY(lock.locked());
        const auto written = store.writeSetting(SettingKey::Font1, QStringLiteral("simplex"));
        QVERIFY(!written);
        QVERIFY(written.error().contains(QStringLiteral("locked"), Qt::CaseInsensitive));
    }
    QCOMPARE(store.readSetting(SettingKey::Font1), std::optional<QString>("txt"));
}

void SettingsTest::pointCount_data()
{
    QTest::addColumn<std::optional<QString>>("stored");
    QTest::addColumn<int>("expected");
    QTest::addRow("absent") << std::optional<QString>() << 15;
    QTest::addRow("list entry") << std::optional<QString>("60") << 60;
    QTest::addRow("largest entry kept") << std::optional<QString>("150") << 150;
    QTest::addRow("between 90 and 150 kept") << std::optional<QString>("120") << 120;
    QTest::addRow("above the list") << std::optional<QString>("200") << 150;
    QTest::addRow("not a multiple of 15") << std::optional<QString>("37") << 37;
    QTest::addRow("half goes to even, down") << std::optional<QString>("36.5") << 36;
    QTest::addRow("half goes to even, up") << std::optional<QString>("37.5") << 38;
    QTest::addRow("zero") << std::optional<QString>("0") << 0;
    QTest::addRow("not a number") << std::optional<QString>("abc") << 0;
    QTest::addRow("empty") << std::optional<QString>("") << 0;
    QTest::addRow("leading number") << std::optional<QString>("45 points") << 45;
    QTest::addRow("negative") << std::optional<QString>("-30") << 0;
    QTest::addRow("huge") << std::optional<QString>("1e300") << 150;
}

void SettingsTest::pointCount()
{
    QFETCH(std::optional<QString>, stored);
    QFETCH(int, expected);
    QCOMPARE(pointCountFromSetting(stored), expected);
}

void SettingsTest::unit_data()
{
    QTest::addColumn<std::optional<QString>>("stored");
    QTest::addColumn<QString>("expected");
    QTest::addRow("absent") << std::optional<QString>() << "m";
    QTest::addRow("millimetres") << std::optional<QString>("mm") << "mm";
    QTest::addRow("metres") << std::optional<QString>("m") << "m";
    QTest::addRow("upper case is not mm") << std::optional<QString>("MM") << "m";
    QTest::addRow("anything else") << std::optional<QString>("毫米") << "m";
}

void SettingsTest::unit()
{
    QFETCH(std::optional<QString>, stored);
    QFETCH(QString, expected);
    QCOMPARE(unitFromSetting(stored), expected);
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
