#include "gui/mainwindow.h"
#include "gui/startup.h"
#include "gui/projectcommands.h"
#include "project/projectdb.h"
#include "gui/resultscommand.h"
#include "xlsx/workbook.h"
#include "windowsupport.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace testsupport;

namespace {

struct TestSession : WindowSession
{
    bool start(bool withTemplate = true, const QString &projectName = QStringLiteral("楼 1.mdb"))
    {
        if (!makeProgram({{QStringLiteral("工程名称"), QStringLiteral("某楼")}},
                         withTemplate ? QStringList{QStringLiteral("Tab/沉降观测成果表.xlsx")}
                                      : QStringList{}))
            return false;
        QDir().mkpath(program.programDir() + QStringLiteral("Support/Tab"));
        if (!makeProjectFile(projectName, [](ProjectDatabase &db) -> Result<void> {
                if (auto added = db.addPoint({1, "J1", 5, "m"}); !added)
                    return added;
                if (auto first = db.setElevation(0, 1, 100); !first)
                    return first;
                return db.setElevation(1, 1, 99.998);
            }))
            return false;
        if (!openWindow())
            return false;
        window->resultsCommand().setOpensWorkbook(false);
        return true;
    }
    QString workbook() const { return besideProject(QStringLiteral(".xlsx")); }
    void click() { testsupport::click(window.get(), "Command4"); }
};

} // namespace

class ResultsCommandTest : public QObject
{
    Q_OBJECT
private slots:
    void neverOntoTheProject();
    void noProject();
    void writesNextToTheProject();
    void templateMissing();
    void unwritableWorkbook();
    void headerEditorFieldsReachTheTable();
};

void ResultsCommandTest::noProject()
{
    const QList<SeenMessage> seen = messagesWithoutProject("Command4");
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].text, QStringLiteral("请先新建或打开沉降工程文件！"));
    QCOMPARE(seen[0].title, QStringLiteral("沉降观测"));
}

void ResultsCommandTest::writesNextToTheProject()
{
    TestSession session;
    QVERIFY(session.start());
    QCOMPARE(session.window->findChild<QComboBox *>("Combo2")->currentText(),
             QStringLiteral("沉降观测成果表"));
    DialogWatcher watcher(session.window.get());
    session.click();
    QCOMPARE(watcher.seen().size(), 1);
    QCOMPARE(watcher.seen()[0].title, QStringLiteral("沉降观测"));
    QVERIFY(watcher.seen()[0].text.contains(QDir::toNativeSeparators(session.workbook())));
    XlsxWorkbook workbook;
    const auto opened = workbook.open(session.workbook());
    QVERIFY2(opened, qPrintable(opened.error()));
    const auto found = workbook.sheet(QStringLiteral("沉降观测成果表"));
    QVERIFY(found);
    XlsxSheet *sheet = *found;
    QCOMPARE(sheet->text("B1"), QStringLiteral("某楼"));
    // Numbers, as the table shows them rounded.
    QCOMPARE(sheet->value(7, 3).kind, XlsxSheet::Value::Number);
    QCOMPARE(sheet->text("C7").toDouble(), 99.998);
    QCOMPARE(sheet->text("D7").toDouble(), -2.0);
}

void ResultsCommandTest::templateMissing()
{
    TestSession session;
    QVERIFY(session.start(false));
    QCOMPARE(session.window->findChild<QComboBox *>("Combo2")->count(), 0);
    DialogWatcher watcher(session.window.get());
    session.click();
    QCOMPARE(watcher.seen().size(), 1);
    QCOMPARE(watcher.seen()[0].text, QStringLiteral("表格模板被删除，请重新安装！"));
    QVERIFY(!QFile::exists(session.workbook()));
}

void ResultsCommandTest::unwritableWorkbook()
{
    TestSession session;
    QVERIFY(session.start());
    QVERIFY(QDir().mkpath(session.workbook()));
    DialogWatcher watcher(session.window.get());
    session.click();
    QCOMPARE(watcher.seen().size(), 1);
    QVERIFY(watcher.seen()[0].text.startsWith(QStringLiteral("成果表未能生成：")));
    QVERIFY(watcher.seen()[0].text.contains(QDir::toNativeSeparators(session.workbook())));
}

void ResultsCommandTest::headerEditorFieldsReachTheTable()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::mouseClick(window->findChild<QLabel *>("Label19"), Qt::LeftButton);
    const std::pair<const char *, QString> typed[] = {{"Text9", QStringLiteral("某小区'3#楼")},
                                                      {"Text16", QStringLiteral("甲方")},
                                                      {"Text18", QStringLiteral("框架")},
                                                      {"Text19", QStringLiteral("18")},
                                                      {"Text22", QStringLiteral("12.5 m")}};
    for (const auto &[box, text] : typed) {
        auto *edit = window->findChild<QLineEdit *>(QString::fromLatin1(box));
        edit->selectAll();
        typeText(edit, text);
    }
    QTest::mouseClick(window->findChild<QPushButton *>("Command11"), Qt::LeftButton);
    {
        DialogWatcher watcher(window);
        session.click();
        QCOMPARE(watcher.seen().size(), 1);
    }
    XlsxWorkbook workbook;
    QVERIFY(workbook.open(session.workbook()));
    const auto found = workbook.sheet(QStringLiteral("沉降观测成果表"));
    QVERIFY(found);
    XlsxSheet *sheet = *found;
    QCOMPARE(sheet->text("B1"), QStringLiteral("某小区'3#楼"));
    QCOMPARE(sheet->text("H1"), QStringLiteral("甲方"));
    QCOMPARE(sheet->text("H2"), QStringLiteral("框架"));
    QCOMPARE(sheet->text("M2"), QStringLiteral("18"));
    QCOMPARE(sheet->text("M3"), QStringLiteral("12.5 m"));
    QCOMPARE(sheet->text("B2"), QString()); // saved empty: written empty

    // The fields are the project's: in its file, not in the program's settings.
    {
        ProjectDatabase reader;
        QVERIFY(reader.open(session.project));
        QCOMPARE(must(reader.headerFields())[QStringLiteral("工程名称")],
                 QStringLiteral("某小区'3#楼"));
    }
    QCOMPARE(storedSetting(session.program.sdmx(), QStringLiteral("工程名称")),
             std::optional<QString>(QStringLiteral("某楼")));
    // Another building's project (an older file, without fields of its own)
    // carries the program-wide values.
    QVERIFY(session.makeProjectFile(QStringLiteral("楼 2.mdb"), [](ProjectDatabase &db) {
        if (auto h = db.setElevation(0, 1, 50); !h)
            return h;
        return db.setElevation(1, 1, 49.99);
    }));
    QVERIFY(window->projectCommands().openProjectFile(session.project));
    {
        DialogWatcher watcher(window);
        session.click();
    }
    XlsxWorkbook second;
    QVERIFY(second.open(session.workbook()));
    const auto again = second.sheet(QStringLiteral("沉降观测成果表"));
    QVERIFY(again);
    QCOMPARE((*again)->text("B1"), QStringLiteral("某楼"));
}

void ResultsCommandTest::neverOntoTheProject()
{
    // A project whose file name is that of its results table.
    TestSession session;
    QVERIFY(session.start(true, QStringLiteral("楼.xlsx")));
    QFile project(session.project);
    QVERIFY(project.open(QIODevice::ReadOnly));
    const QByteArray before = project.readAll();
    project.close();
    DialogWatcher watcher(session.window.get());
    session.click();
    QCOMPARE(watcher.seen().size(), 1);
    QVERIFY(watcher.seen()[0].text.contains(QStringLiteral("就是打开的工程")));
    QVERIFY(project.open(QIODevice::ReadOnly));
    QCOMPARE(project.readAll(), before);
}

QTEST_MAIN(ResultsCommandTest)
#include "tst_resultscommand.moc"
