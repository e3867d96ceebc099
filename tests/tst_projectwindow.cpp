#include "gui/mainwindow.h"
#include "gui/session.h"
#include "gui/startup.h"
#include "project/projectdb.h"
#include "windowsupport.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTranslator>
#include <QLibraryInfo>
#include <QLocale>
#include <QTest>

using namespace testsupport;

namespace {

QString nameCell(QWidget *window, int row)
{
    const QTableWidgetItem *item = control<QTableWidget>(window, "Flex1")->item(row, 0);
    return item ? item->text() : QString();
}

QColor nameColour(QWidget *window, int row)
{
    const QTableWidgetItem *item = control<QTableWidget>(window, "Flex1")->item(row, 0);
    return item && item->foreground().style() != Qt::NoBrush ? item->foreground().color()
                                                             : QColor();
}

QStringList listEntries(QWidget *window)
{
    QStringList entries;
    auto *list = control<QListWidget>(window, "List1");
    for (int i = 0; i < list->count(); ++i)
        entries << list->item(i)->text();
    return entries;
}

void verifyNoProject(MainWindow *window)
{
    QVERIFY(!window->session().project());
    QVERIFY(window->session().projectPath().isEmpty());
    QCOMPARE(window->windowTitle(), QStringLiteral("Sedimetra 2018"));
    QCOMPARE(control<QListWidget>(window, "List1")->count(), 0);
    QCOMPARE(window->session().currentEpoch(), -1);
}

} // namespace

class ProjectWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void newThenReopen();
    void projectFolderAndChineseTexts();
    void newOnExistingFileAsksFirst();
    void programFilesAreRefused_data();
    void programFilesAreRefused();
    void badFilesAreRefused_data();
    void badFilesAreRefused();
    void cancelKeepsTheProject();
    void readOnlyProjectOpensWithWarning();
    void changeOutsideTheProgramIsTold();
};

void ProjectWindowTest::newThenReopen()
{
    TestProgram fixture;
    QVERIFY(fixture.make());
    const auto window = startup(fixture.programDir());
    QVERIFY(window);

    const QString typed = fixture.projects() + QStringLiteral("楼 1号");
    const QString path = typed + QStringLiteral(".mdb");
    {
        DialogWatcher watcher(window.get());
        watcher.queueFile(typed);
        click(window.get(), "Command6");
        QCOMPARE(watcher.fileDialogTitles(), QStringList{QStringLiteral("新建沉降工程")});
        QCOMPARE(watcher.fileDialogFilters(), QStringList{QStringLiteral("沉降工程 (*.mdb)")});
        QVERIFY(watcher.seen().isEmpty());
    }
    QVERIFY(QFile::exists(path));
    QCOMPARE(digestOf(path), digestOf(fixture.templatePath()));
    QCOMPARE(window->windowTitle(), QStringLiteral("Sedimetra 2018 当前工程：") + path);
    QCOMPARE(window->session().projectPath(), path);
    QCOMPARE(control<QTableWidget>(window.get(), "Flex1")->currentRow(), 0);
    QCOMPARE(control<QTableWidget>(window.get(), "Flex1")->currentColumn(), 4);
    QVERIFY(listEntries(window.get()).isEmpty());

    // Another program (or an earlier session) fills the project.
    {
        ProjectDatabase project;
        QVERIFY(project.open(path));
        QVERIFY(project.addPoint({1, QStringLiteral("J1"), 5, QStringLiteral("菱形")}));
        QVERIFY(project.addPoint({2, QStringLiteral("沉'2"), 6, QStringLiteral("正方形")}));
        QVERIFY(project.addPoint({3, QStringLiteral("P3"), 999, QStringLiteral("叉叉")}));
        QVERIFY(project.addPoint({20, QStringLiteral("J20"), 11, QStringLiteral("长方形")}));
        QVERIFY(project.addEpoch({0, QStringLiteral("2018-07-10"), QStringLiteral("首次"), "2"}));
        QVERIFY(project.addEpoch({1, QStringLiteral("2018-08-09"), QStringLiteral("B.2"), "5"}));
    }

    {
        DialogWatcher watcher(window.get());
        watcher.queueFile(path);
        click(window.get(), "Command7");
        QCOMPARE(watcher.fileDialogTitles(), QStringList{QStringLiteral("打开沉降工程")});
        QVERIFY(watcher.seen().isEmpty());
    }
    QCOMPARE(window->windowTitle(), QStringLiteral("Sedimetra 2018  当前工程：") + path);
    QCOMPARE(nameCell(window.get(), 0), QStringLiteral("J1"));
    QCOMPARE(nameColour(window.get(), 0), QColor(0, 0, 255));
    QCOMPARE(nameCell(window.get(), 1), QStringLiteral("沉'2"));
    QCOMPARE(nameColour(window.get(), 1), QColor(255, 0, 255));
    QCOMPARE(nameCell(window.get(), 2), QStringLiteral("P3"));
    QCOMPARE(nameColour(window.get(), 2), QColor()); // no such colour: the grid's own
    QCOMPARE(nameCell(window.get(), 3), QString());
    QCOMPARE(listEntries(window.get()), (QStringList{QStringLiteral("0.首次"), "1.B.2"}));
    QCOMPARE(control<QListWidget>(window.get(), "List1")->currentRow(), 1);
    QCOMPARE(window->session().currentEpoch(), 1);
    QCOMPARE(control<QLineEdit>(window.get(), "Text1")->text(), QStringLiteral("2018-08-09"));
    QCOMPARE(control<QLineEdit>(window.get(), "Text2")->text(), QStringLiteral("B.2"));
    QCOMPARE(control<QLineEdit>(window.get(), "Text3")->text(), QStringLiteral("5"));
    QVERIFY(control<QPushButton>(window.get(), "Command2")->isEnabled());

    // Point 20 lies above the 15 rows; raising the count shows it.
    QCOMPARE(control<QTableWidget>(window.get(), "Flex1")->rowCount(), 15);
    auto *combo3 = control<QComboBox>(window.get(), "Combo3");
    combo3->setCurrentIndex(combo3->findText(QStringLiteral("30")));
    QCOMPARE(nameCell(window.get(), 19), QStringLiteral("J20"));
    QCOMPARE(nameColour(window.get(), 19), QColor(255, 127, 127));
    QCOMPARE(nameCell(window.get(), 0), QStringLiteral("J1"));
}

void ProjectWindowTest::newOnExistingFileAsksFirst()
{
    TestProgram fixture;
    QVERIFY(fixture.make());
    const QString path = fixture.projects() + QStringLiteral("existing.mdb");
    QVERIFY(makeProject(path));
    {
        ProjectDatabase project;
        QVERIFY(project.open(path));
        QVERIFY(project.setElevation(0, 1, 100.0));
    }
    const QByteArray before = digestOf(path);
    const auto window = startup(fixture.programDir());
    QVERIFY(window);

    {
        DialogWatcher watcher(window.get());
        watcher.setMessageAnswer(QMessageBox::No);
        watcher.queueFile(path);
        watcher.queueFile(QString()); // then cancel the dialog
        click(window.get(), "Command6");
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY2(watcher.seen()[0].text.contains(QStringLiteral("existing.mdb")),
                 qPrintable(watcher.seen()[0].text));
    }
    QCOMPARE(digestOf(path), before);
    verifyNoProject(window.get());

    {
        DialogWatcher watcher(window.get());
        watcher.setMessageAnswer(QMessageBox::Yes);
        watcher.queueFile(path);
        click(window.get(), "Command6");
        QCOMPARE(watcher.seen().size(), 1);
    }
    QCOMPARE(digestOf(path), digestOf(fixture.templatePath()));
    QCOMPARE(window->session().projectPath(), path);
}

void ProjectWindowTest::programFilesAreRefused_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("which");
    QTest::addRow("open the system database") << "Command7"
                                              << "sdmx";
    QTest::addRow("open the system database by a link") << "Command7"
                                                        << "link";
    QTest::addRow("open the template") << "Command7"
                                       << "template";
    QTest::addRow("new over the system database") << "Command6"
                                                  << "sdmx";
    QTest::addRow("new over the system database in other case") << "Command6"
                                                                << "upper";
    QTest::addRow("new over the template") << "Command6"
                                           << "template";
}

void ProjectWindowTest::programFilesAreRefused()
{
    QFETCH(QString, command);
    QFETCH(QString, which);
    TestProgram fixture;
    QVERIFY(fixture.make());
    QString path = which == QLatin1String("template") ? fixture.templatePath() : fixture.sdmx();
    if (which == QLatin1String("link")) {
        path = fixture.projects() + QStringLiteral("settings.mdb");
        QVERIFY(QFile::link(fixture.sdmx(), path));
    } else if (which == QLatin1String("upper")) {
        path = fixture.programDir() + QStringLiteral("SDMX.MDB");
    }
    const QByteArray sdmxBefore = digestOf(fixture.sdmx());
    const QByteArray templateBefore = digestOf(fixture.templatePath());
    const auto window = startup(fixture.programDir());
    QVERIFY(window);

    DialogWatcher watcher(window.get());
    watcher.setMessageAnswer(QMessageBox::Yes); // even if the dialog asks to replace
    watcher.queueFile(path);
    click(window.get(), command.toLatin1().constData());
    QVERIFY(!watcher.seen().isEmpty());
    QVERIFY2(watcher.seen().last().text.contains(QDir::toNativeSeparators(path)),
             qPrintable(watcher.seen().last().text));
    QCOMPARE(watcher.seen().last().title, QStringLiteral("Sedimetra"));
    verifyNoProject(window.get());
    QCOMPARE(digestOf(fixture.sdmx()), sdmxBefore);
    QCOMPARE(digestOf(fixture.templatePath()), templateBefore);
    QVERIFY(!QFile::exists(fixture.programDir() + QStringLiteral("SDMX.MDB")));
}

// A project whose first page of Sur1 is all zeros, as a bad sector leaves
// it: the schema reads, the epochs do not.
QByteArray damagedProject()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.mdb"));
    if (!makeProject(path))
        return {};
    int pageSize = 0, root = 0;
    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("damage"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        for (int k = 0; k < 200; ++k)
            query.exec(QStringLiteral("INSERT INTO Sur1 (CjNo, MyDate, Name, Layers) "
                                      "VALUES (%1, '2018-01-01', '第%1次观测第%1次观测', '1')")
                           .arg(k));
        query.exec(QStringLiteral("PRAGMA page_size"));
        pageSize = query.next() ? query.value(0).toInt() : 0;
        query.exec(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = 'Sur1'"));
        root = query.next() ? query.value(0).toInt() : 0;
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("damage"));
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QByteArray content = file.readAll();
    if (pageSize > 0 && root > 0)
        content.replace(qsizetype(root - 1) * pageSize, pageSize, QByteArray(pageSize, '\0'));
    return content;
}

void ProjectWindowTest::badFilesAreRefused_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QByteArray random(20000, '\0');
    for (int i = 0; i < random.size(); ++i)
        random[i] = char((i * 31 + 7) % 253);
    QTest::addRow("random bytes") << random << "not a database";
    QTest::addRow("empty file") << QByteArray() << QStringLiteral("缺少表");
    QFile source(projectTemplate());
    source.open(QIODevice::ReadOnly);
    QTest::addRow("truncated project") << source.read(4096) << "";
    QTest::addRow("damaged table page") << damagedProject() << "malformed";
}

void ProjectWindowTest::badFilesAreRefused()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    TestProgram fixture;
    QVERIFY(fixture.make());
    const QString path = fixture.projects() + QStringLiteral("坏 的'.mdb");
    QVERIFY(writeFile(path, content));
    const auto window = startup(fixture.programDir());
    QVERIFY(window);

    DialogWatcher watcher(window.get());
    watcher.queueFile(path);
    click(window.get(), "Command7");
    QCOMPARE(watcher.seen().size(), 1);
    const QString text = watcher.seen()[0].text;
    QVERIFY2(text.startsWith(QStringLiteral("无法打开沉降工程：") + QDir::toNativeSeparators(path)),
             qPrintable(text));
    QVERIFY2(text.contains(reason), qPrintable(text));
    QVERIFY(text.size() > (QStringLiteral("无法打开沉降工程：") + path).size() + 1);
    verifyNoProject(window.get());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
}

void ProjectWindowTest::cancelKeepsTheProject()
{
    TestProgram fixture;
    QVERIFY(fixture.make());
    const QString path = fixture.projects() + QStringLiteral("a.mdb");
    QVERIFY(makeProject(path));
    {
        ProjectDatabase project;
        QVERIFY(project.open(path));
        QVERIFY(project.addPoint({1, QStringLiteral("J1"), 5, QStringLiteral("菱形")}));
        QVERIFY(project.addEpoch({0, QStringLiteral("2018-07-10"), QStringLiteral("A"), "1"}));
    }
    const auto window = startup(fixture.programDir());
    QVERIFY(window);
    {
        DialogWatcher watcher(window.get());
        watcher.queueFile(path);
        click(window.get(), "Command7");
    }
    QCOMPARE(nameCell(window.get(), 0), QStringLiteral("J1"));
    QCOMPARE(window->session().currentEpoch(), 0);

    // A cancelled dialog leaves the open project open, as it was.
    for (const char *command : {"Command7", "Command6"}) {
        DialogWatcher watcher(window.get());
        watcher.queueFile(QString());
        click(window.get(), command);
        QVERIFY(watcher.seen().isEmpty());
        QCOMPARE(window->session().projectPath(), path);
        QCOMPARE(nameCell(window.get(), 0), QStringLiteral("J1"));
        QCOMPARE(window->session().currentEpoch(), 0);
    }
}

void ProjectWindowTest::readOnlyProjectOpensWithWarning()
{
    TestProgram fixture;
    QVERIFY(fixture.make());
    const QString path = fixture.projects() + QStringLiteral("archive.mdb");
    QVERIFY(makeProject(path));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const auto window = startup(fixture.programDir());
    QVERIFY(window);
    DialogWatcher watcher(window.get());
    watcher.queueFile(path);
    click(window.get(), "Command7");
    QCOMPARE(watcher.seen().size(), 1);
    QVERIFY(watcher.seen()[0].text.contains(QStringLiteral("只读")));
    QCOMPARE(window->session().projectPath(), path);
    QVERIFY(window->session().project()->isReadOnly());
}

void ProjectWindowTest::changeOutsideTheProgramIsTold()
{
    TestProgram fixture;
    QVERIFY(fixture.make());
    const QString path = fixture.projects() + QStringLiteral("edited.mdb");
    QVERIFY(makeProject(path));
    {
        ProjectDatabase project;
        QVERIFY(project.open(path));
        QVERIFY(project.addEpoch({0, QStringLiteral("2024-01-01"), QStringLiteral("E0"), QStringLiteral("1")}));
        QVERIFY(project.addPoint({1, QStringLiteral("J1"), 7, QStringLiteral("圆形")}));
        QVERIFY(project.setElevation(0, 1, 10.25));
    }
    {
        // Another SQLite program moves the height by 30 mm.
        auto outside = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("outside"));
        outside.setDatabaseName(path);
        QVERIFY(outside.open());
        QSqlQuery edit(outside);
        QVERIFY(edit.exec(QStringLiteral("UPDATE Sur2 SET PointH = 10.22 WHERE CjNo = 0 AND CjdNo = 1")));
        edit.finish();
        outside.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("outside"));
    const auto window = startup(fixture.programDir());
    QVERIFY(window);
    DialogWatcher watcher(window.get());
    watcher.queueFile(path);
    click(window.get(), "Command7");
    // Told once the grid is shown.
    QTRY_COMPARE(watcher.seen().size(), 1);
    QVERIFY(watcher.seen()[0].text.contains(QStringLiteral("发现 1 处未经记录的修改")));
    QVERIFY(watcher.seen()[0].text.contains(QStringLiteral("J1 第 0 次：库中 10.22000，记录为 10.25000，程序之外修改")));
    QCOMPARE(window->session().projectPath(), path);
}

void ProjectWindowTest::projectFolderAndChineseTexts()
{
    TestProgram fixture;
    QVERIFY(fixture.make());
    const auto window = startup(fixture.programDir());
    QVERIFY(window);
    const QString path = fixture.projects() + QStringLiteral("楼.mdb");
    {
        DialogWatcher watcher(window.get());
        watcher.queueFile(path);
        click(window.get(), "Command6");
    }
    QCOMPARE(window->session().projectPath(), path);
    // The next program run's dialogs start in the project's folder.
    QCOMPARE(storedSetting(fixture.sdmx(), QStringLiteral("工程目录")),
             std::optional<QString>(QFileInfo(path).absolutePath()));
    // Qt's own texts in Chinese are there for the dialogs.
    QTranslator qtTexts;
    QVERIFY(qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
}

QTEST_MAIN(ProjectWindowTest)
#include "tst_projectwindow.moc"
