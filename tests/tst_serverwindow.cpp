// The window on a project held on a PostgreSQL server. Run by tst_server.py,
// which starts a server and names a pushed project in SEDIMETRA_TEST_SERVER
// (postgresql://…?project=NAME, the password in PGPASSWORD); skipped without.
#include "gui/mainwindow.h"
#include "gui/projectcommands.h"
#include "gui/serverprojectdialog.h"
#include "gui/session.h"
#include "gui/startup.h"
#include "project/projectdb.h"
#include "project/settingsstore.h"
#include "windowsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QListWidget>
#include <QTreeWidget>
#include <QTableWidget>
#include <QTest>

#include <cmath>
#include <cstdio>

using namespace testsupport;

class ServerWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void laterCommitWinsAndTheTypistIsTold();
    void anAdministratorGivesRights();
    void theFirmsBuildingsAtAGlance();
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

void ServerWindowTest::anAdministratorGivesRights()
{
    const QString url = qEnvironmentVariable("SEDIMETRA_TEST_SERVER");
    const QString member = qEnvironmentVariable("SEDIMETRA_TEST_MEMBER");
    if (url.isEmpty() || member.isEmpty())
        QSKIP("no server project and login named in SEDIMETRA_TEST_SERVER, SEDIMETRA_TEST_MEMBER");
    ProjectRightsDialog dialog(*parseServerUrl(url), nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *who = dialog.findChild<QLineEdit *>(QStringLiteral("Member"));
    auto *rights = dialog.findChild<QComboBox *>(QStringLiteral("RightsChoice"));
    auto *grant = dialog.findChild<QPushButton *>(QStringLiteral("Grant"));
    auto *members = dialog.findChild<QTableWidget *>(QStringLiteral("Members"));

    // One that is no role of the server: told, nothing given.
    DialogWatcher watcher(&dialog);
    const int before = members->rowCount();
    QTest::keyClicks(who, QStringLiteral("no_such_login"));
    QTest::mouseClick(grant, Qt::LeftButton);
    QCOMPARE(watcher.seen().size(), 1);
    QVERIFY2(watcher.seen()[0].text.contains(QStringLiteral("没有用户或角色“no_such_login”")),
             qPrintable(watcher.seen()[0].text));
    QCOMPARE(members->rowCount(), before);

    // A login, read only: listed with its rights.
    who->clear();
    QTest::keyClicks(who, member);
    rights->setCurrentIndex(rights->findText(QStringLiteral("只读")));
    QTest::mouseClick(grant, Qt::LeftButton);
    QCOMPARE(watcher.seen().size(), 1);
    const auto found = members->findItems(member, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    QCOMPARE(members->item(found[0]->row(), 1)->text(), QStringLiteral("只读"));
}

void ServerWindowTest::theFirmsBuildingsAtAGlance()
{
    const QString url = qEnvironmentVariable("SEDIMETRA_TEST_SERVER");
    if (url.isEmpty())
        QSKIP("no server project named in SEDIMETRA_TEST_SERVER");
    const ServerAddress project = *parseServerUrl(url);
    TestProgram program;
    QVERIFY(program.make());
    SettingsStore settings;
    QVERIFY(settings.open(program.sdmx()));
    ServerProjectDialog dialog(url, program.programDir(), &settings, nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    DialogWatcher watcher(&dialog);
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("List")), Qt::LeftButton);
    QCOMPARE(watcher.seen().size(), 0);
    auto *projects = dialog.findChild<QTreeWidget *>(QStringLiteral("Projects"));
    QVERIFY(projects->topLevelItemCount() >= 1);

    // The project's row says its last epoch and how many points it observed then.
    ProjectDatabase store;
    QVERIFY(store.open(url));
    const auto epochs = must(store.epochs());
    const Epoch last = epochs.back();
    int observed = 0;
    for (const Elevation &e : must(store.allElevations()))
        observed += e.cjNo == last.cjNo && std::isfinite(e.pointH) ? 1 : 0;
    const auto rows = projects->findItems(project.project, Qt::MatchExactly, 0);
    QCOMPARE(rows.size(), 1);
    QVERIFY2(rows[0]->text(1).contains(last.date), qPrintable(rows[0]->text(1)));
    QCOMPARE(rows[0]->text(2), QString::number(QDate::fromString(last.date, Qt::ISODate).daysTo(QDate::currentDate())));
    QCOMPARE(rows[0]->text(3), QString::number(observed));
    // Buildings in alarm come first.
    bool quiet = false;
    for (int i = 0; i < projects->topLevelItemCount(); ++i) {
        const bool alarmed = projects->topLevelItem(i)->text(4).contains(QStringLiteral("个测点"));
        QVERIFY2(!(alarmed && quiet), qPrintable(projects->topLevelItem(i)->text(0)));
        quiet = quiet || !alarmed;
    }
    if (const QByteArray keep = qgetenv("SEDIMETRA_KEEP_PICTURES"); !keep.isEmpty())
        dialog.grab().save(QString::fromLocal8Bit(keep) + QStringLiteral("/firm.png"));
    // The chosen one opens.
    projects->setCurrentItem(rows[0]);
    QCOMPARE(dialog.chosen().project, project.project);
}

// Run by the server tests against their own server; alone, a skip that
// says so (CTest counts exit 77 as skipped), never a pass.
int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("SEDIMETRA_TEST_SERVER")) {
        std::puts("SKIP: tst_serverwindow runs inside tst_server, against its throwaway server");
        return 77;
    }
    QApplication app(argc, argv);
    ServerWindowTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_serverwindow.moc"
