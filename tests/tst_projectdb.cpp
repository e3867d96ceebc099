#include "base/programfiles.h"
#include "project/projectdb.h"
#include "survey/observationimport.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

namespace {

QString integrityOf(const QString &path)
{
    return readWithPython(path, QStringLiteral("PRAGMA integrity_check"))
        .at(0)
        .toArray()
        .at(0)
        .toString();
}

} // namespace

class ProjectDatabaseTest : public QObject
{
    Q_OBJECT
private slots:
    void refusesWhatIsNoProject_data();
    void refusesWhatIsNoProject();
    void createFromTemplate();
    void epochs();
    void epochLookupsAreExact_data();
    void epochLookupsAreExact();
    void elevations();
    void points();
    void colours();
    void independentReaderSeesTheRows();
    void readOnlyProject();
    void removedOrReplacedFile();
    void lockedByAnotherProgram();
    void transactionIsAllOrNothing();
    void killRightAfterCommitLosesNothing();
    void twoProgramsWriteAtOnce();
    void programFilesAreRecognised();
    void removingAnEpochOrAPoint_data();
    void removingAnEpochOrAPoint();
    void historyOfOneElevation();
    void historyFollowsEpochsAndOutlivesDeletions();
};

void ProjectDatabaseTest::refusesWhatIsNoProject_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::addRow("missing") << "missing" << QStringLiteral("不存在");
    QTest::addRow("directory") << "directory" << QStringLiteral("不是一个文件");
    QTest::addRow("empty file") << "empty" << QStringLiteral("缺少表 Sur1");
    QTest::addRow("random bytes") << "random"
                                  << "not a database";
    QTest::addRow("text file") << "text"
                               << "not a database";
    QTest::addRow("truncated project") << "truncated"
                                       << "";
    QTest::addRow("other database") << "other" << QStringLiteral("缺少表 Sur1");
    QTest::addRow("table without a field") << "nofield" << QStringLiteral("缺少字段 PointH");
}

void ProjectDatabaseTest::refusesWhatIsNoProject()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("工程 1.mdb"));
    if (kind == QLatin1String("directory")) {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == QLatin1String("empty")) {
        QVERIFY(writeFile(path, QByteArray()));
    } else if (kind == QLatin1String("random")) {
        QByteArray bytes(64 * 1024, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 7919 + 13) % 251);
        QVERIFY(writeFile(path, bytes));
    } else if (kind == QLatin1String("text")) {
        QVERIFY(writeFile(path, "CjNo,CjdNo,PointH\n0,1,100.0\n"));
    } else if (kind == QLatin1String("truncated")) {
        QFile source(projectTemplate());
        QVERIFY(source.open(QIODevice::ReadOnly));
        QVERIFY(writeFile(path, source.read(3000)));
    } else if (kind == QLatin1String("other") || kind == QLatin1String("nofield")) {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        if (kind == QLatin1String("other")) {
            QVERIFY(query.exec(QStringLiteral("CREATE TABLE Para1 (Name TEXT, Value TEXT)")));
        } else {
            for (const char *sql : {"CREATE TABLE Sur1 (CjNo, MyDate, Name, Layers)",
                                    "CREATE TABLE Sur2 (CjNo, CjdNo)",
                                    "CREATE TABLE Sur3 (CjdNo, PointName, Aci, Mark)",
                                    "CREATE TABLE AciRgb (Aci_Color, Rgb_R, Rgb_G, Rgb_B)"})
                QVERIFY(query.exec(QString::fromLatin1(sql)));
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("make"));
    }
    const QByteArray before = digestOf(path);

    ProjectDatabase project;
    const auto opened = project.open(path);
    QVERIFY(!opened);
    QVERIFY(!opened.error().isEmpty());
    QVERIFY2(opened.error().contains(reason), qPrintable(opened.error()));
    QCOMPARE(digestOf(path), before);
}

void ProjectDatabaseTest::createFromTemplate()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("新 工程.mdb"));
    const auto made = ProjectDatabase::createFromTemplate(projectTemplate(), path);
    QVERIFY2(made, qPrintable(made.error()));
    QCOMPARE(digestOf(path), digestOf(projectTemplate()));

    {
        ProjectDatabase project;
        QVERIFY(project.open(path));
        QVERIFY(project.setElevation(0, 1, 100.0));
    }
    QVERIFY(ProjectDatabase::createFromTemplate(projectTemplate(), path));
    QCOMPARE(digestOf(path), digestOf(projectTemplate()));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1); // no temporary left

    const QString folder = dir.filePath(QStringLiteral("folder.mdb"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(!ProjectDatabase::createFromTemplate(projectTemplate(), folder));
    QVERIFY(QFileInfo(folder).isDir());

    const auto noTemplate =
        ProjectDatabase::createFromTemplate(dir.filePath(QStringLiteral("none.mdb")), path);
    QVERIFY(!noTemplate);
    QVERIFY(noTemplate.error().contains(QStringLiteral("none.mdb")));
    QCOMPARE(digestOf(path), digestOf(projectTemplate()));
}

void ProjectDatabaseTest::epochs()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.mdb"));
    QVERIFY(makeProject(path));
    ProjectDatabase project;
    QVERIFY(project.open(path));
    QVERIFY(must(project.epochs()).empty());
    QCOMPARE(must(project.nextEpochNumber()), std::optional<int>(0));

    QVERIFY(project.addEpoch({1, QStringLiteral("2018-08-09"), QStringLiteral("B.2"), "2.5"}));
    QVERIFY(project.addEpoch({0, QStringLiteral("2018-07-10"), QStringLiteral("首次"), "5"}));
    QVERIFY(project.addEpoch({2, QStringLiteral("2018-09-01"), QStringLiteral("x"), "5a"}));
    QCOMPARE(must(project.nextEpochNumber()), std::optional<int>(3));
    const auto duplicate = project.addEpoch({2, QStringLiteral("2019-01-01"), QStringLiteral("y"), "1"});
    QVERIFY2(!duplicate, "epoch numbers are unique");
    QVERIFY(!duplicate.error().isEmpty());

    const std::vector<Epoch> all = must(project.epochs());
    QCOMPARE(all.size(), size_t(3));
    QCOMPARE(all[0].cjNo, 0);
    QCOMPARE(all[0].name, QStringLiteral("首次"));
    QCOMPARE(all[0].layers, QStringLiteral("5"));
    QCOMPARE(all[1].layers, QStringLiteral("2.5"));
    QCOMPARE(all[2].layers, QStringLiteral("5a"));
    QCOMPARE(must(project.epochByNumber(1))->date, QStringLiteral("2018-08-09"));
    const auto missing = project.epochByNumber(7);
    QVERIFY(missing.ok()); // finding nothing is no failure
    QVERIFY(!*missing);

    QVERIFY(project.updateEpoch({1, QStringLiteral("2018-08-10"), QStringLiteral("第二次"), "6"}));
    QCOMPARE(must(project.epochByNumber(1))->name, QStringLiteral("第二次"));
    QVERIFY(!must(project.epochByName(QStringLiteral("B.2"))));
    const auto unknown = project.updateEpoch({9, QStringLiteral("2018-08-10"), QStringLiteral("z"), "1"});
    QVERIFY(!unknown);
    QVERIFY(!unknown.error().isEmpty());
}

void ProjectDatabaseTest::epochLookupsAreExact_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("sought");
    QTest::addColumn<bool>("found");
    QTest::addRow("same") << "A1"
                          << "A1" << true;
    QTest::addRow("other case") << "abc"
                                << "ABC" << true;
    QTest::addRow("quote") << "it's"
                           << "it's" << true;
    QTest::addRow("double quote") << "a\"b"
                                  << "a\"b" << true;
    QTest::addRow("percent is no wildcard") << "a%b"
                                            << "%" << false;
    QTest::addRow("underscore is no wildcard") << "a_b"
                                               << "a_c" << false;
    QTest::addRow("sql text") << "x' OR '1'='1"
                              << "x' OR '1'='1" << true;
    QTest::addRow("sql text finds nothing else") << "A1"
                                                 << "x' OR '1'='1" << false;
    QTest::addRow("chinese") << QStringLiteral("第一次") << QStringLiteral("第一次") << true;
    QTest::addRow("trailing blank differs") << "A1"
                                            << "A1 " << false;
}

void ProjectDatabaseTest::epochLookupsAreExact()
{
    QFETCH(QString, stored);
    QFETCH(QString, sought);
    QFETCH(bool, found);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.mdb"));
    QVERIFY(makeProject(path));
    ProjectDatabase project;
    QVERIFY(project.open(path));
    QVERIFY(project.addEpoch({0, stored, stored, "1"}));
    QVERIFY(project.addPoint({1, stored, 5, QStringLiteral("菱形")}));

    QCOMPARE(must(project.epochByName(sought)).has_value(), found);
    QCOMPARE(must(project.epochByDate(sought)).has_value(), found);
    QCOMPARE(must(project.pointByName(sought)).has_value(), found);
    if (found)
        QCOMPARE(must(project.pointByName(sought))->name, stored);
}

void ProjectDatabaseTest::elevations()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.mdb"));
    QVERIFY(makeProject(path));
    ProjectDatabase project;
    QVERIFY(project.open(path));
    QVERIFY(!must(project.elevation(0, 1)));

    QVERIFY(project.setElevation(0, 1, 100.0));
    QVERIFY(project.setElevation(0, 1, 100.00001)); // found again, not added twice
    QCOMPARE(must(project.elevation(0, 1)), std::optional<double>(100.00001));
    QVERIFY(project.setElevation(2, 1, 99.9965));
    QVERIFY(project.setElevation(1, 1, 99.998));
    QVERIFY(project.setElevation(1, 12, 50.5));
    QVERIFY(project.setElevation(1, 3, 0.0));
    QCOMPARE(
        readWithPython(path, QStringLiteral("SELECT COUNT(*) FROM Sur2 WHERE CjNo=0 AND CjdNo=1"))
            .at(0)
            .toArray()
            .at(0)
            .toInt(),
        1);

    const auto ofPoint = must(project.elevationsOfPoint(1));
    QCOMPARE(ofPoint.size(), size_t(3));
    QCOMPARE(ofPoint[0].cjNo, 0);
    QCOMPARE(ofPoint[1].cjNo, 1);
    QCOMPARE(ofPoint[2].pointH, 99.9965);
    const auto ofEpoch = must(project.elevationsOfEpoch(1));
    QCOMPARE(ofEpoch.size(), size_t(3));
    QCOMPARE(ofEpoch[0].cjdNo, 1);
    QCOMPARE(ofEpoch[1].cjdNo, 3);
    QCOMPARE(ofEpoch[2].cjdNo, 12);
    QCOMPARE(must(project.elevationsOfEpoch(1, 3)).size(), size_t(2));
    QCOMPARE(must(project.elevation(1, 3)), std::optional<double>(0.0)); // a stored zero is a record
    QCOMPARE(must(project.allElevations()).size(), size_t(5));

    QVERIFY(project.deleteElevation(1, 12));
    QVERIFY(!must(project.elevation(1, 12)));
    QVERIFY(project.deleteElevation(1, 12)); // nothing to delete is no error
    QCOMPARE(must(project.allElevations()).size(), size_t(4));
}

void ProjectDatabaseTest::points()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.mdb"));
    QVERIFY(makeProject(path));
    ProjectDatabase project;
    QVERIFY(project.open(path));
    QVERIFY(project.addPoint({7, QStringLiteral("J7"), 5, QStringLiteral("菱形")}));
    QVERIFY(project.addPoint({2, QStringLiteral("J2"), 6, QStringLiteral("正方形")}));
    QVERIFY(project.addPoint({9, QStringLiteral("J2"), 3, QStringLiteral("叉叉")}));
    QVERIFY(!project.addPoint({7, QStringLiteral("again"), 5, QStringLiteral("菱形")}));

    const auto all = must(project.points());
    QCOMPARE(all.size(), size_t(3));
    QCOMPARE(all[0].cjdNo, 2);
    QCOMPARE(all[1].mark, QStringLiteral("菱形"));
    QCOMPARE(must(project.pointByNumber(7))->name, QStringLiteral("J7"));
    QVERIFY(!must(project.pointByNumber(8)));
    // Two points of one name: the first by number.
    QCOMPARE(must(project.pointByName(QStringLiteral("j2")))->cjdNo, 2);

    QVERIFY(project.renamePoint(7, QStringLiteral("新'点")));
    QCOMPARE(must(project.pointByNumber(7))->name, QStringLiteral("新'点"));
    QCOMPARE(must(project.pointByNumber(7))->aci, 5);
    QVERIFY(!project.renamePoint(8, QStringLiteral("none")));
}

void ProjectDatabaseTest::colours()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.mdb"));
    QVERIFY(makeProject(path));
    ProjectDatabase project;
    QVERIFY(project.open(path));
    QCOMPARE(must(project.colour(5)), std::optional<Rgb>(Rgb{0, 0, 255}));
    QCOMPARE(must(project.colour(11)), std::optional<Rgb>(Rgb{255, 127, 127}));
    QCOMPARE(must(project.colour(1)), std::optional<Rgb>(Rgb{255, 0, 0}));
    QVERIFY(!must(project.colour(256)));
    QVERIFY(!must(project.colour(-1)));
}

void ProjectDatabaseTest::independentReaderSeesTheRows()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("测量 项目/it's.mdb"));
    QVERIFY(makeProject(path));
    {
        ProjectDatabase project;
        QVERIFY(project.open(path));
        QVERIFY(
            project.addEpoch({0, QStringLiteral("2018-07-10"), QStringLiteral("A'\"%_"), "12"}));
        QVERIFY(project.addPoint({1, QStringLiteral("沉1'"), 5, QStringLiteral("菱形")}));
        QVERIFY(project.setElevation(0, 1, 100.12345));
    }
    QCOMPARE(readWithPython(path, QStringLiteral("SELECT CjNo, MyDate, Name, Layers FROM Sur1")),
             QJsonDocument::fromJson(R"([[0, "2018-07-10", "A'\"%_", 12]])").array());
    QCOMPARE(
        readWithPython(path, QStringLiteral("SELECT CjdNo, PointName, Aci, Mark FROM Sur3")),
        QJsonDocument::fromJson(QStringLiteral(R"([[1, "沉1'", 5, "菱形"]])").toUtf8()).array());
    QCOMPARE(readWithPython(path, QStringLiteral("SELECT CjNo, CjdNo, PointH FROM Sur2")),
             QJsonDocument::fromJson(R"([[0, 1, 100.12345]])").array());
}

void ProjectDatabaseTest::readOnlyProject()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("archive.mdb"));
    QVERIFY(makeProject(path));
    {
        ProjectDatabase project;
        QVERIFY(project.open(path));
        QVERIFY(project.setElevation(0, 1, 100.0));
    }
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const QByteArray before = digestOf(path);
    ProjectDatabase project;
    const auto opened = project.open(path);
    QVERIFY2(opened, qPrintable(opened.error()));
    QVERIFY(project.isReadOnly());
    QCOMPARE(must(project.elevation(0, 1)), std::optional<double>(100.0));
    const auto refused = project.setElevation(0, 1, 101.0);
    QVERIFY(!refused);
    QVERIFY(refused.error().contains(QStringLiteral("只读")));
    QVERIFY(!project.addEpoch({0, QStringLiteral("2018-07-10"), QStringLiteral("A"), "1"}));
    QVERIFY(!project.deleteElevation(0, 1));
    QCOMPARE(digestOf(path), before);
}

void ProjectDatabaseTest::removedOrReplacedFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.mdb"));
    QVERIFY(makeProject(path));
    {
        ProjectDatabase project;
        QVERIFY(project.open(path));
        QVERIFY(QFile::remove(path));
        const auto refused = project.setElevation(0, 1, 100.0);
        QVERIFY(!refused);
        QVERIFY(refused.error().contains(QStringLiteral("删除")));
    }
    QVERIFY(makeProject(path));
    ProjectDatabase project;
    QVERIFY(project.open(path));
    const QString other = dir.filePath(QStringLiteral("other.mdb"));
    QVERIFY(makeProject(other));
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::rename(other, path));
    QVERIFY(!project.addPoint({1, QStringLiteral("J1"), 5, QStringLiteral("菱形")}));
    QCOMPARE(readWithPython(path, QStringLiteral("SELECT COUNT(*) FROM Sur3"))
                 .at(0)
                 .toArray()
                 .at(0)
                 .toInt(),
             0);
}

void ProjectDatabaseTest::lockedByAnotherProgram()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.mdb"));
    QVERIFY(makeProject(path));
    ProjectDatabase opened;
    QVERIFY(opened.open(path));
    {
        ExclusiveLock lock(path);
        QVERIFY(lock.locked());
        ProjectDatabase project;
        const auto refused = project.open(path);
        QVERIFY(!refused);
        QVERIFY2(refused.error().contains(QStringLiteral("locked")), qPrintable(refused.error()));
        const auto blocked = opened.setElevation(0, 1, 100.0);
        QVERIFY(!blocked);
        QVERIFY(blocked.error().contains(QStringLiteral("locked")));
    }
    QVERIFY(opened.setElevation(0, 1, 100.0));
    QCOMPARE(integrityOf(path), QStringLiteral("ok"));
}

void ProjectDatabaseTest::transactionIsAllOrNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.mdb"));
    QVERIFY(makeProject(path));
    ProjectDatabase project;
    QVERIFY(project.open(path));
    const auto done = project.inTransaction([&]() -> Result<void> {
        for (auto step : {project.setElevation(1, 1, 100.0), project.setElevation(1, 2, 101.0),
                          project.addEpoch({0, QStringLiteral("d"), QStringLiteral("n"), "1"}),
                          project.addEpoch({0, QStringLiteral("d2"), QStringLiteral("n2"), "1"})})
            if (!step)
                return step;
        return success();
    });
    QVERIFY(!done);
    QVERIFY(!done.error().isEmpty());
    QVERIFY(must(project.allElevations()).empty());
    QVERIFY(must(project.epochs()).empty());

    QVERIFY(project.inTransaction(
        [&]() -> Result<void> {
            if (auto first = project.setElevation(1, 1, 100.0); !first)
                return first;
            return project.setElevation(1, 2, 101.0);
        }));
    QCOMPARE(readWithPython(path, QStringLiteral("SELECT COUNT(*) FROM Sur2"))
                 .at(0)
                 .toArray()
                 .at(0)
                 .toInt(),
             2);
}

void ProjectDatabaseTest::killRightAfterCommitLosesNothing()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.mdb"));
    QVERIFY(makeProject(path));
    QProcess writer;
    writer.start(QStringLiteral(PROJECT_WRITER), {path, QStringLiteral("hold"), QStringLiteral("3"),
                                                  QStringLiteral("7"), QStringLiteral("99.99650")});
    QVERIFY(writer.waitForStarted());
    QByteArray output;
    while (!output.contains("\n") && writer.waitForReadyRead(10000))
        output += writer.readAllStandardOutput();
    QVERIFY2(output.contains("committed"), writer.readAllStandardError().constData());
    // A killed process loses nothing the kernel has; a power cut loses what
    // is not on the disk. The writer's own connection must keep a rollback
    // journal and sync every commit to the disk before it returns
    // (synchronous FULL = 2): with either switched off this fails.
    QCOMPARE(output.trimmed(), QByteArray("committed journal=delete synchronous=2"));
    QCOMPARE(writer.state(), QProcess::Running);
    writer.kill(); // SIGKILL
    QVERIFY(writer.waitForFinished());
    QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

    ProjectDatabase project;
    QVERIFY(project.open(path));
    QCOMPARE(must(project.elevation(3, 7)), std::optional<double>(99.9965));
    QCOMPARE(integrityOf(path), QStringLiteral("ok"));
}

void ProjectDatabaseTest::twoProgramsWriteAtOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.mdb"));
    QVERIFY(makeProject(path));
    QProcess writer;
    writer.start(QStringLiteral(PROJECT_WRITER),
                 {path, QStringLiteral("many"), QStringLiteral("1"), QStringLiteral("150")});
    QVERIFY(writer.waitForStarted());
    ProjectDatabase project;
    QVERIFY(project.open(path));
    for (int point = 1; point <= 150; ++point)
    {
        const auto stored = project.setElevation(2, point, 90.0 + point / 1000.0);
        QVERIFY2(stored, qPrintable(stored.error()));
    }
    QVERIFY(writer.waitForFinished(60000));
    QCOMPARE(writer.exitCode(), 0);
    QCOMPARE(must(project.elevationsOfEpoch(1)).size(), size_t(150));
    QCOMPARE(must(project.elevationsOfEpoch(2)).size(), size_t(150));
    QCOMPARE(integrityOf(path), QStringLiteral("ok"));
}

void ProjectDatabaseTest::programFilesAreRecognised()
{
    QTemporaryDir dir;
    const QString programDir = dir.path() + QLatin1Char('/');
    const QString sdmx = programDir + QStringLiteral("Sdmx.mdb");
    QVERIFY(writeFile(sdmx, "x"));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Support/Db")));
    const QString projectTemplate = projectTemplatePath(programDir);
    QVERIFY(writeFile(projectTemplate, "x"));
    const QString link = dir.filePath(QStringLiteral("link.mdb"));
    QVERIFY(QFile::link(sdmx, link));
    const QString other = dir.filePath(QStringLiteral("other.mdb"));
    QVERIFY(writeFile(other, "x"));

    QVERIFY(isProgramFile(programDir, sdmx));
    QVERIFY(isProgramFile(programDir, link));
    QVERIFY(isProgramFile(programDir, dir.filePath(QStringLiteral("SDMX.MDB"))));
    QVERIFY(isProgramFile(programDir, dir.path() + QStringLiteral("/./sub/../Sdmx.mdb")));
    QVERIFY(isProgramFile(programDir, projectTemplate));
    QVERIFY(isProgramFile(programDir, dir.filePath(QStringLiteral("support/tk/A3/新.mdb"))));
    QVERIFY(!isProgramFile(programDir, other));
    QVERIFY(!isProgramFile(programDir, dir.filePath(QStringLiteral("Supported.mdb"))));
}

void ProjectDatabaseTest::removingAnEpochOrAPoint_data()
{
    // Epochs 0 to 3 named A to D; points 1 and 2 with H = 100 × point +
    // the epoch's original number, so each record tells where it came from.
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("number");
    QTest::addColumn<bool>("removed");
    QTest::addColumn<QString>("records");
    QTest::addRow("the first epoch")
        << "epoch" << 0 << true
        << "0.B 1.C 2.D|0:1=101.0 0:2=201.0 1:1=102.0 1:2=202.0 2:1=103.0 2:2=203.0|1.P 2.Q";
    QTest::addRow("an epoch in the middle")
        << "epoch" << 1 << true
        << "0.A 1.C 2.D|0:1=100.0 0:2=200.0 1:1=102.0 1:2=202.0 2:1=103.0 2:2=203.0|1.P 2.Q";
    QTest::addRow("the last epoch")
        << "epoch" << 3 << true
        << "0.A 1.B 2.C|0:1=100.0 0:2=200.0 1:1=101.0 1:2=201.0 2:1=102.0 2:2=202.0|1.P 2.Q";
    QTest::addRow("an epoch the project lacks")
        << "epoch" << 7 << false
        << "0.A 1.B 2.C 3.D|0:1=100.0 0:2=200.0 1:1=101.0 1:2=201.0 2:1=102.0 2:2=202.0 "
           "3:1=103.0 3:2=203.0|1.P 2.Q";
    QTest::addRow("a point") << "point" << 1 << true
                             << "0.A 1.B 2.C 3.D|0:2=200.0 1:2=201.0 2:2=202.0 3:2=203.0|2.Q";
    // The reverse: an epoch entered late put in at its number, the later
    // ones moved up with their elevations.
    QTest::addRow("an epoch put in first")
        << "insert" << 0 << true
        << "0.X 1.A 2.B 3.C 4.D|1:1=100.0 1:2=200.0 2:1=101.0 2:2=201.0 3:1=102.0 3:2=202.0 "
           "4:1=103.0 4:2=203.0|1.P 2.Q";
    QTest::addRow("an epoch put in the middle")
        << "insert" << 2 << true
        << "0.A 1.B 2.X 3.C 4.D|0:1=100.0 0:2=200.0 1:1=101.0 1:2=201.0 3:1=102.0 3:2=202.0 "
           "4:1=103.0 4:2=203.0|1.P 2.Q";
    // The loader's bound holds for every writer.
    QTest::addRow("an elevation of 2e9 m")
        << "elevation" << 1 << false
        << "0.A 1.B 2.C 3.D|0:1=100.0 0:2=200.0 1:1=101.0 1:2=201.0 2:1=102.0 2:2=202.0 "
           "3:1=103.0 3:2=203.0|1.P 2.Q";
}

void ProjectDatabaseTest::removingAnEpochOrAPoint()
{
    QFETCH(QString, what);
    QFETCH(int, number);
    QFETCH(bool, removed);
    QFETCH(QString, records);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.mdb"));
    QVERIFY(makeProject(path));
    {
        ProjectDatabase project;
        QVERIFY(project.open(path));
        for (int k = 0; k < 4; ++k)
            QVERIFY(project.addEpoch({k, QStringLiteral("2018-01-0%1").arg(k + 1),
                                      QString(QChar('A' + k)), QStringLiteral("1")}));
        for (int j = 1; j <= 2; ++j) {
            QVERIFY(project.addPoint({j, QString(QChar('P' + j - 1)), 1, QStringLiteral("A")}));
            for (int k = 0; k < 4; ++k)
                QVERIFY(project.setElevation(k, j, 100.0 * j + k));
        }
        const Result<void> done =
            what == QLatin1String("epoch")    ? project.deleteEpoch(number)
            : what == QLatin1String("insert") ? project.insertEpoch({number, QStringLiteral("2017-12-31"),
                                                                     QStringLiteral("X"), QStringLiteral("1")})
            : what == QLatin1String("elevation") ? project.setElevation(1, number, 2e9)
                                                 : project.deletePoint(number);
        QCOMPARE(done.ok(), removed);
    }
    // Read by another program from the file.
    const QByteArray seen = runPython(
        QStringLiteral(
            "import sqlite3, sys\n"
            "c = sqlite3.connect(sys.argv[1])\n"
            "print(' '.join('%d.%s' % r for r in c.execute("
            "'SELECT CjNo, Name FROM Sur1 ORDER BY CjNo')), end='|')\n"
            "print(' '.join('%d:%d=%r' % r for r in c.execute("
            "'SELECT CjNo, CjdNo, PointH FROM Sur2 ORDER BY CjNo, CjdNo')), end='|')\n"
            "print(' '.join('%d.%s' % r for r in c.execute("
            "'SELECT CjdNo, PointName FROM Sur3 ORDER BY CjdNo')))"),
        {path});
    QCOMPARE(QString::fromUtf8(seen).trimmed(), records);
}

namespace {

// "how old→new" of each history row, elevations in metres.
QStringList changesOf(const std::vector<HistoryRow> &rows)
{
    const auto value = [](const QVariant &v) { return v.isNull() ? QStringLiteral("—") : QString::number(v.toDouble()); };
    QStringList changes;
    for (const HistoryRow &row : rows)
        changes << QStringLiteral("%1 %2→%3").arg(row.entry.how, value(row.oldValue), value(row.newValue));
    return changes;
}

} // namespace

void ProjectDatabaseTest::historyOfOneElevation()
{
    // A value typed, changed twice, imported over from a workbook, then
    // restored: five rows in order, each with who and how; the workbook is
    // kept byte for byte.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("来历.mdb"));
    QVERIFY(makeProject(path));
    ProjectDatabase project;
    QVERIFY(project.open(path));
    QVERIFY(project.addEpoch({0, QStringLiteral("2024-01-01"), QStringLiteral("首次"), QStringLiteral("1")}));
    QVERIFY(project.addPoint({2, QStringLiteral("J2"), 7, QStringLiteral("圆形")}));
    for (const double typed : {99.9, 99.95, 99.97})
        QVERIFY(project.setElevation(0, 2, typed));
    const QString workbook = QStringLiteral(SEDIMETRA_SOURCE_DIR "/tests/fixtures/obs_m.xlsx");
    const auto read = readObservationRows(workbook);
    QVERIFY(read);
    std::vector<ImportRow> rowsOfJ2;
    for (const ImportRow &row : read->rows)
        if (row.name == QLatin1String("J2"))
            rowsOfJ2.push_back(row);
    QVERIFY(importObservations(project, 0, rowsOfJ2, QStringLiteral("m"), {}, read->provenance));
    const auto afterImport = project.history(0, 2);
    QVERIFY(afterImport);
    QVERIFY(project.restore(afterImport->back()));

    const auto history = project.history(0, 2);
    QVERIFY(history);
    QCOMPARE(changesOf(*history), QStringList({"typed —→99.9", "typed 99.9→99.95", "typed 99.95→99.97",
                                               "import 99.97→99.998", "undo 99.998→99.97"}));
    for (const HistoryRow &row : *history)
        QCOMPARE(row.entry.who, ProjectDatabase::localUser());
    QCOMPARE(*project.elevation(0, 2), std::optional<double>(99.97));
    // The import's row names the workbook and its sheet; the file is kept whole.
    QCOMPARE((*history)[3].entry.sheet, QStringLiteral("Sheet1"));
    const auto sources = project.sources();
    QVERIFY(sources && sources->size() == 1);
    QFile original(workbook);
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();
    QCOMPARE(**project.sourceData(sources->front().id), bytes);
    const QJsonArray stored = readWithPython(path, QStringLiteral("SELECT Sha256, Size FROM Sources"));
    QCOMPARE(stored.at(0).toArray().at(0).toString(),
             QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
    // Read twice, kept once.
    QVERIFY(importObservations(project, 0, rowsOfJ2, QStringLiteral("m"), {}, read->provenance));
    QCOMPARE(project.sources()->size(), size_t(1));
    // The origin of the value now is the workbook's row.
    const auto origin = project.origin(0, 2);
    QVERIFY(origin && *origin);
    QCOMPARE((*origin)->entry.how, QStringLiteral("import"));
    QCOMPARE((*origin)->detail.line, 3);
}

void ProjectDatabaseTest::historyFollowsEpochsAndOutlivesDeletions()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("移动.mdb"));
    QVERIFY(makeProject(path));
    ProjectDatabase project;
    QVERIFY(project.open(path));
    for (int k = 0; k < 3; ++k)
        QVERIFY(project.addEpoch({k, QStringLiteral("2024-0%1-01").arg(k + 2), QStringLiteral("E%1").arg(k),
                                  QStringLiteral("1")}));
    for (int n = 1; n <= 2; ++n)
        QVERIFY(project.addPoint({n, QStringLiteral("J%1").arg(n), 7, QStringLiteral("圆形")}));
    for (int k = 0; k < 3; ++k)
        for (int n = 1; n <= 2; ++n)
            QVERIFY(project.setElevation(k, n, 10 + k + n / 10.0));
    QVERIFY(project.updateEpoch({2, QStringLiteral("2024-04-02"), QStringLiteral("E2"), QStringLiteral("3")}));
    // An epoch put in before all others: every history moves up with its epoch.
    QVERIFY(project.insertEpoch({0, QStringLiteral("2024-01-01"), QStringLiteral("早"), QStringLiteral("1")}));
    for (int k = 1; k <= 3; ++k) {
        const auto cell = project.history(k, 1);
        QVERIFY(cell && cell->size() == 1);
        QCOMPARE(cell->front().newValue.toDouble(), 10 + (k - 1) + 0.1);
    }
    const auto epoch3 = project.history(3);
    QVERIFY(epoch3);
    // Its date, name and floors as first recorded, two elevations, the
    // changed date and floors.
    QCOMPARE(epoch3->size(), size_t(7));
    // An epoch removed: its elevations' deletions are kept, named, never
    // taken over by the epoch that moves into its number.
    QVERIFY(project.deleteEpoch(1));
    const auto moved = project.history(1, 1);
    QVERIFY(moved && moved->size() == 1);
    QCOMPARE(moved->front().newValue.toDouble(), 11.1);
    int named = 0;
    for (const HistoryRow &row : *project.history())
        named += !row.cjNo && row.label.contains(QStringLiteral("E0")) ? 1 : 0;
    QCOMPARE(named, 8); // its date, name and floors, two entries, two deletions, the epoch
    // A point removed: its rows stay with its name.
    QVERIFY(project.deletePoint(2));
    QVERIFY(project.history({}, 2)->empty());
    int ofJ2 = 0;
    for (const HistoryRow &row : *project.history())
        ofJ2 += row.label.contains(QStringLiteral("J2")) ? 1 : 0;
    QVERIFY(ofJ2 >= 5);
    QVERIFY(project.origin(1, 2)->has_value() == false);
}

QTEST_GUILESS_MAIN(ProjectDatabaseTest)
#include "tst_projectdb.moc"
