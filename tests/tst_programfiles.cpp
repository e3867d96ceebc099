#include "base/programfiles.h"
#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

class ProgramFilesTest : public QObject
{
    Q_OBJECT
private slots:
    void programDirectory_data();
    void programDirectory();
    void frameTemplates();
    void tableTemplates();
    void missingFolders();
    void caseInsensitiveLookups();
};

void ProgramFilesTest::programDirectory_data()
{
    QTest::addColumn<QString>("executableDir");
    QTest::addColumn<QString>("expected");
    QTest::addRow("plain") << "/opt/sedimetra/bin"
                           << "/opt/sedimetra/bin/";
    QTest::addRow("root gets no second slash") << "/"
                                               << "/";
    QTest::addRow("already ending in slash") << "/opt/x/"
                                             << "/opt/x/";
    QTest::addRow("chinese") << "/home/测量/沉降"
                             << "/home/测量/沉降/";
}

void ProgramFilesTest::programDirectory()
{
    QFETCH(QString, executableDir);
    QFETCH(QString, expected);
    const QString dir = programDirectoryOf(executableDir);
    QCOMPARE(dir, expected);
    QCOMPARE(systemDatabasePath(dir), expected + QStringLiteral("Sdmx.mdb"));
    QCOMPARE(projectTemplatePath(dir), expected + QStringLiteral("Support/Db/数据库模板.mdb"));
}

void ProgramFilesTest::frameTemplates()
{
    QTemporaryDir dir;
    const QString tk = dir.filePath(QStringLiteral("TK"));
    for (const char *folder : {"a3", "B4", "图框A"})
        QVERIFY(QDir().mkpath(tk + QLatin1Char('/') + QString::fromUtf8(folder)));
    for (const char *file : {"曲线图框.dwg", "frame.DWG", "速率图框.dxf", "X.Dxf", "notes.txt"})
        QVERIFY(writeFile(tk + QLatin1Char('/') + QString::fromUtf8(file), "x"));

    QCOMPARE(frameTemplateEntries(tk),
             (QStringList{"A3", "B4", "NOTES.TXT", QStringLiteral("图框A")}));
}

void ProgramFilesTest::tableTemplates()
{
    QTemporaryDir dir;
    const QString tab = dir.filePath(QStringLiteral("Tab"));
    for (const char *file : {"标准.xlsx", "Other.XLSX", "old.xls", "notes.txt", ".xlsx"})
        QVERIFY(writeFile(tab + QLatin1Char('/') + QString::fromUtf8(file), "x"));
    QVERIFY(QDir().mkpath(tab + QStringLiteral("/folder.xlsx")));

    QCOMPARE(tableTemplateEntries(tab), (QStringList{"Other", QStringLiteral("标准")}));
}

void ProgramFilesTest::missingFolders()
{
    QTemporaryDir dir;
    QVERIFY(frameTemplateEntries(dir.filePath(QStringLiteral("none"))).isEmpty());
    QVERIFY(tableTemplateEntries(dir.filePath(QStringLiteral("none"))).isEmpty());
    QVERIFY(frameLayoutFile(dir.path() + QLatin1Char('/'), QStringLiteral("A3")).isEmpty());
}

void ProgramFilesTest::caseInsensitiveLookups()
{
    QTemporaryDir dir;
    const QString programDir = dir.path() + QLatin1Char('/');
    QVERIFY(writeFile(frameTemplatesDir(programDir) + QStringLiteral("a3/a3.ini"), "[沉降曲线]"));
    QVERIFY(writeFile(frameTemplatesDir(programDir) + QStringLiteral("Wide/WIDE.INI"), "x"));
    QVERIFY(QDir().mkpath(frameTemplatesDir(programDir) + QStringLiteral("Bare")));

    QCOMPARE(frameLayoutFile(programDir, QStringLiteral("A3")),
             frameTemplatesDir(programDir) + QStringLiteral("a3/a3.ini"));
    QCOMPARE(frameLayoutFile(programDir, QStringLiteral("WIDE")),
             frameTemplatesDir(programDir) + QStringLiteral("Wide/WIDE.INI"));
    QVERIFY(frameLayoutFile(programDir, QStringLiteral("BARE")).isEmpty());
    QVERIFY(frameLayoutFile(programDir, QString()).isEmpty());

    const QStringList entries{"A3", "a3", "B4"};
    QCOMPARE(indexIgnoringCase(entries, QStringLiteral("a3")), 1); // exact match first
    QCOMPARE(indexIgnoringCase(entries, QStringLiteral("b4")), 2);
    QCOMPARE(indexIgnoringCase(entries, QStringLiteral("C5")), -1);
}

QTEST_GUILESS_MAIN(ProgramFilesTest)
#include "tst_programfiles.moc"
