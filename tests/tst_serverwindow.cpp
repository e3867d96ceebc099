// The window on a project held on a PostgreSQL server. Run by tst_server.py,
// which starts a server and names a pushed project in SEDIMETRA_TEST_SERVER
// (postgresql://…?project=NAME, the password in PGPASSWORD); skipped without.
#include "gui/mainwindow.h"
#include "gui/projectcommands.h"
#include "gui/session.h"
#include "gui/startup.h"
#include "project/projectdb.h"
#include "windowsupport.h"

#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>
#include <QTest>

using namespace testsupport;

class ServerWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void laterCommitWinsAndTheTypistIsTold();
};

void ServerWindowTest::laterCommitWinsAndTheTypistIsTold()
{
    const QString url = qEnvironmentVariable("SEDIMETRA_TEST_SERVER");
    if (url.isEmpty())
        QSKIP("no server project named in SEDIMETRA_TEST_SERVER");
    TestProgram program;
    QVERIFY(program.make());
    const auto window = startup(program.programDir());
    QVERIFY(window && QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(window->projectCommands().openProjectFile(url));
    QVERIFY(window->windowTitle().endsWith(url));
    QVERIFY(window->session().project()->isServer());

    // Epoch 1, point 1 typed here.
    auto *list = window->findChild<QListWidget *>(QStringLiteral("List1"));
    auto *grid = window->findChild<QTableWidget *>(QStringLiteral("Flex1"));
    auto *box = window->findChild<QLineEdit *>(QStringLiteral("Text4"));
    list->setCurrentRow(1);
    const double before = *window->session().snapshot().elevation(1, 1);
    const QModelIndex cell = grid->model()->index(0, 2);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
    box->selectAll();
    const QString typed = QString::number(before - 0.001, 'f', 5);
    QTest::keyClicks(box, typed);
    QTest::keyClick(box, Qt::Key_Return);

    // Another program writes the same record after us.
    {
        ProjectDatabase other;
        QVERIFY(other.open(url));
        QVERIFY(other.setElevation(1, 1, before - 0.002));
        QVERIFY(other.setElevation(2, 3, before + 0.5)); // elsewhere: no question
    }
    DialogWatcher watcher(window.get());
    list->setCurrentRow(0);
    QCOMPARE(watcher.seen().size(), 1);
    QVERIFY2(watcher.seen()[0].text.contains(QStringLiteral("另一位用户")),
             qPrintable(watcher.seen()[0].text));
    QVERIFY(watcher.seen()[0].text.contains(typed));
    list->setCurrentRow(1);
    QCOMPARE(grid->item(0, 2)->text(), QString::number(before - 0.002, 'f', 5));
    QCOMPARE(watcher.seen().size(), 1); // told once
}

QTEST_MAIN(ServerWindowTest)
#include "tst_serverwindow.moc"
