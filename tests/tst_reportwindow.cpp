// "生成报告" in the window: without a project it says so; with one, the PDF
// goes where the file dialog says and the message names it.
#include "gui/mainwindow.h"
#include "project/projectdb.h"
#include "windowsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace testsupport;

class ReportWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void noProject();
    void reportWhereTheDialogSays();
};

void ReportWindowTest::noProject()
{
    const QList<SeenMessage> seen = messagesWithoutProject("Command15");
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].text, QStringLiteral("请先新建或打开沉降工程文件！"));
}

void ReportWindowTest::reportWhereTheDialogSays()
{
    WindowSession session;
    QVERIFY(session.makeProgram({}, {"TK/A3/A3.ini", "TK/A3/曲线图框.dxf", "TK/A3/速率图框.dxf",
                                     "TK/A3/荷载图框.dxf", "TK/A3/平面图框.dxf", "Tab/沉降观测成果表.xlsx",
                                     "圆形.dxf", "叉叉.dxf"}));
    QVERIFY(session.makeProjectFile(QStringLiteral("楼.mdb"), [](ProjectDatabase &db) -> Result<void> {
        if (auto added = db.addPoint({1, QStringLiteral("J1"), 1, QStringLiteral("圆形")}); !added)
            return added;
        if (auto set = db.setElevation(0, 1, 20); !set)
            return set;
        return db.setElevation(1, 1, 19.995);
    }));
    QVERIFY(session.openWindow());
    const QString pdf = session.besideProject(QStringLiteral("_报告.pdf"));
    DialogWatcher watcher(session.window.get());
    watcher.queueFile(pdf);
    click(session.window.get(), "Command15");
    QCOMPARE(watcher.fileDialogTitles(), QStringList{QStringLiteral("生成沉降观测报告")});
    QVERIFY(QFileInfo(pdf).isFile());
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.read(5) == "%PDF-");
    QCOMPARE(watcher.seen().size(), 1);
    QVERIFY2(watcher.seen()[0].text.contains(QStringLiteral("已保存")), qPrintable(watcher.seen()[0].text));
}

QTEST_MAIN(ReportWindowTest)
#include "tst_reportwindow.moc"
