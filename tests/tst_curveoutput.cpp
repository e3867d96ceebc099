#include "gui/mainwindow.h"
#include "gui/startup.h"
#include "gui/projectcommands.h"
#include "gui/session.h"
#include "cad/dxffile.h"
#include "project/projectdb.h"
#include "windowsupport.h"

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace testsupport;

namespace {

struct TestSession : WindowSession
{
    bool start(const QString &projectName = QStringLiteral("楼 1.mdb"))
    {
        return makeProgram({}, {"TK/A3/A3.ini", "TK/A3/曲线图框.dxf", "TK/A3/速率图框.dxf",
                                "TK/A3/荷载图框.dxf", "菱形.dxf", "圆形.dxf", "叉叉.dxf"})
               && makeProjectFile(projectName,
                                  [](ProjectDatabase &db) -> Result<void> {
                                      if (auto added = db.addPoint({1, "J1", 5, "菱形"}); !added)
                                          return added;
                                      if (auto first = db.setElevation(0, 1, 100); !first)
                                          return first;
                                      return db.setElevation(1, 1, 99.998);
                                  })
               && openWindow();
    }
    QString drawing() const { return besideProject(QStringLiteral(".dxf")); }
};

} // namespace

class CurveOutputTest : public QObject
{
    Q_OBJECT
private slots:
    void noProject();
    void drawsAndWritesNextToTheProject();
    void cancelledPickDrawsNothing();
    void missingFont();
    void unwritableDrawing();
    void secondProjectStartsANewDrawing();
    void neverOntoTheProject();
    void axesFitTheProjectAndKeepWhatIsTyped();
};

void CurveOutputTest::noProject()
{
    const QList<SeenMessage> seen = messagesWithoutProject("Command3");
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].text, QStringLiteral("请先新建或打开沉降工程文件！"));
}

void CurveOutputTest::drawsAndWritesNextToTheProject()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    {
        DialogWatcher watcher(window);
        watcher.queuePick(QPointF(0, 0));
        QTest::mouseClick(control<QPushButton>(window, "Command3"), Qt::LeftButton);
        QCOMPARE(watcher.pickSuggestions(), QStringList{"0,0"}); // an empty drawing
        // Where the drawing went is said before the window goes compact.
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(watcher.seen()[0].text,
                 QStringLiteral("曲线图已保存：") + QDir::toNativeSeparators(session.drawing()));
        QCOMPARE(watcher.seen()[0].icon, QMessageBox::Information);
    }
    QVERIFY(QFile::exists(session.drawing()));
    // The compact window: the restore button alone.
    auto *restore = control<QPushButton>(window, "Command13");
    QVERIFY(restore->isVisible());
    QCOMPARE(window->size(), restore->size());
    QTest::mouseClick(restore, Qt::LeftButton);

    // A second run (the rate sheet) is offered a point clear of the first.
    QTest::mouseClick(control<QRadioButton>(window, "Option2"), Qt::LeftButton);
    {
        DialogWatcher watcher(window);
        watcher.queuePick(QPointF(500, 0));
        QTest::mouseClick(control<QPushButton>(window, "Command3"), Qt::LeftButton);
        QCOMPARE(watcher.pickSuggestions().size(), 1);
        QVERIFY(watcher.pickSuggestions()[0].split(',')[0].toDouble() >= 420);
    }
    // Both runs are in the one drawing, and no backup was needed.
    QFile file(session.drawing());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray dxf = file.readAll();
    // Layers 速_ and 沉_J1, in GBK as CAD programs on a Chinese system write them.
    for (const QString &layer : {QStringLiteral("速_"), QStringLiteral("沉_J1")})
        QVERIFY(dxf.contains("\r\n  8\r\n" + QByteArray::fromStdString(dxfEncoded(layer)) + "\r\n"));
    QVERIFY(!QFile::exists(session.program.projects() + QStringLiteral("楼 1.bak.dxf")));
}

void CurveOutputTest::cancelledPickDrawsNothing()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    const QPoint home = window->pos();
    DialogWatcher watcher(window);
    watcher.queuePick(std::nullopt);
    QTest::mouseClick(control<QPushButton>(window, "Command3"), Qt::LeftButton);
    QCOMPARE(watcher.pickSuggestions().size(), 1);
    QVERIFY(!QFile::exists(session.drawing()));
    QVERIFY(!control<QPushButton>(window, "Command13")->isVisible());
    QCOMPARE(window->pos(), home);
}

void CurveOutputTest::missingFont()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    auto *font = control<QLineEdit>(window, "Text15");
    for (const char *text : {"[]", "   "}) {
        font->setText(QString::fromLatin1(text));
        DialogWatcher watcher(window);
        QTest::mouseClick(control<QPushButton>(window, "Command3"), Qt::LeftButton);
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(watcher.seen()[0].text, QStringLiteral("对不起，字库没找到！"));
        QVERIFY(watcher.pickSuggestions().isEmpty());
        QVERIFY(!QFile::exists(session.drawing()));
    }
    QCOMPARE(font->text(), QString()); // the blanks were trimmed from the box itself
}

void CurveOutputTest::unwritableDrawing()
{
    TestSession session;
    QVERIFY(session.start());
    QVERIFY(QDir().mkpath(session.drawing())); // a folder where the drawing should go
    DialogWatcher watcher(session.window.get());
    QTest::mouseClick(control<QPushButton>(session.window.get(), "Command3"), Qt::LeftButton);
    QCOMPARE(watcher.seen().size(), 1);
    QVERIFY(watcher.seen()[0].text.contains(QDir::toNativeSeparators(session.drawing())));
    QVERIFY(watcher.pickSuggestions().isEmpty());
}

void CurveOutputTest::secondProjectStartsANewDrawing()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    auto output = [&] {
        DialogWatcher watcher(window);
        watcher.queuePick(QPointF(0, 0));
        QTest::mouseClick(control<QPushButton>(window, "Command3"), Qt::LeftButton);
        QTest::mouseClick(control<QPushButton>(window, "Command13"), Qt::LeftButton);
        return watcher.pickSuggestions();
    };
    QCOMPARE(output(), QStringList{"0,0"});
    const QString first = session.drawing();
    QFile firstFile(first);
    QVERIFY(firstFile.open(QIODevice::ReadOnly));
    const QByteArray firstDrawing = firstFile.readAll();

    QVERIFY(session.makeProjectFile(QStringLiteral("楼 2.mdb"), [](ProjectDatabase &db) {
        if (auto added = db.addPoint({1, "K1", 3, "圆形"}); !added)
            return added;
        if (auto h = db.setElevation(0, 1, 50); !h)
            return h;
        return db.setElevation(1, 1, 49.99);
    }));
    QVERIFY(window->projectCommands().openProjectFile(session.project));
    QCOMPARE(output(), QStringList{"0,0"}); // an empty drawing again
    QFile second(session.drawing());
    QVERIFY(second.open(QIODevice::ReadOnly));
    const QByteArray dxf = second.readAll();
    QVERIFY(dxf.contains(QByteArray::fromStdString(dxfEncoded(QStringLiteral("沉_K1")))));
    QVERIFY(!dxf.contains(QByteArray::fromStdString(dxfEncoded(QStringLiteral("沉_J1")))));
    // The first project's drawing stays as it was written.
    firstFile.seek(0);
    QCOMPARE(firstFile.readAll(), firstDrawing);
}

void CurveOutputTest::axesFitTheProjectAndKeepWhatIsTyped()
{
    // Day 480 and 12 mm of settlement: beyond the A3 layout's 200 days and 10 mm.
    TestSession session;
    QVERIFY(session.makeProgram({}, {"TK/A3/A3.ini", "TK/A3/曲线图框.dxf", "菱形.dxf", "叉叉.dxf"}));
    QVERIFY(session.makeProjectFile(QStringLiteral("长.mdb"), [](ProjectDatabase &db) {
        if (auto epoch = db.addEpoch({2, "2019-04-26", "C", "6"}); !epoch)
            return epoch;
        if (auto added = db.addPoint({1, "J1", 5, "菱形"}); !added)
            return added;
        if (auto h = db.setElevation(0, 1, 100); !h)
            return h;
        return db.setElevation(2, 1, 99.988);
    }));
    QVERIFY(session.openWindow());
    MainWindow *window = session.window.get();
    auto *time = control<QLineEdit>(window, "Text6");
    auto *curve = control<QLineEdit>(window, "Text7");
    QCOMPARE(time->text(), "480");
    QCOMPARE(curve->text(), "12.0");

    // What the user types stays through epoch selection and elevation entry.
    time->setFocus();
    time->selectAll();
    QTest::keyClicks(time, "300");
    curve->setFocus();
    curve->selectAll();
    QTest::keyClicks(curve, "20.5");
    control<QListWidget>(window, "List1")->setCurrentRow(0);
    control<QListWidget>(window, "List1")->setCurrentRow(2);
    QTableWidget *grid = control<QTableWidget>(window, "Flex1");
    const QModelIndex cell = grid->model()->index(0, 2); // this elevation of a later epoch
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
    auto *box = control<QLineEdit>(window, "Text4");
    QVERIFY(box->isVisible());
    QTest::keyClicks(box, "99.987");
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(session.window->session().snapshot().elevation(2, 1), std::optional<double>(99.987));
    QCOMPARE(time->text(), "300");
    QCOMPARE(curve->text(), "20.5");

    // At output, an axis too short for the data is named, and widened when asked.
    {
        DialogWatcher watcher(window);
        watcher.setMessageAnswer(QMessageBox::Yes);
        watcher.queuePick(QPointF(0, 0));
        QTest::mouseClick(control<QPushButton>(window, "Command3"), Qt::LeftButton);
        QCOMPARE(watcher.seen().size(), 2); // the question, then where the drawing went
        QVERIFY(watcher.seen()[0].text.contains(QStringLiteral("时间轴：数据达 480 d，所设范围 300 d")));
        QVERIFY(!watcher.seen()[0].text.contains(QStringLiteral("沉降轴")));
        QCOMPARE(time->text(), "480");
    }
    QVERIFY(QFile::exists(session.drawing()));
}

void CurveOutputTest::neverOntoTheProject()
{
    // A project whose file name is that of its drawing.
    TestSession session;
    QVERIFY(session.start(QStringLiteral("楼.dxf")));
    QFile project(session.project);
    QVERIFY(project.open(QIODevice::ReadOnly));
    const QByteArray before = project.readAll();
    project.close();
    DialogWatcher watcher(session.window.get());
    QTest::mouseClick(control<QPushButton>(session.window.get(), "Command3"), Qt::LeftButton);
    QCOMPARE(watcher.seen().size(), 1);
    QVERIFY(watcher.seen()[0].text.contains(QStringLiteral("就是打开的工程")));
    QVERIFY(watcher.pickSuggestions().isEmpty());
    QVERIFY(project.open(QIODevice::ReadOnly));
    QCOMPARE(project.readAll(), before);
}

QTEST_MAIN(CurveOutputTest)
#include "tst_curveoutput.moc"
