#include "base/settings.h"
#include "gui/mainwindow.h"
#include "gui/session.h"
#include "project/projectdb.h"
#include "windowsupport.h"

#include <QApplication>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

using namespace testsupport;

class StabilityWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void noProject();
    void limitChangesTheVerdict();
};

void StabilityWindowTest::noProject()
{
    const QList<SeenMessage> seen = messagesWithoutProject("Command14");
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen[0].text, QStringLiteral("请先新建或打开沉降工程文件！"));
}

void StabilityWindowTest::limitChangesTheVerdict()
{
    // J1 sinks 0.02 mm a day for 181 days: stable below 0.04 mm/d, not below 0.01.
    WindowSession session;
    QVERIFY(session.makeProgram());
    QVERIFY(session.makeProjectFile(QStringLiteral("楼.mdb"), [](ProjectDatabase &db) -> Result<void> {
        const std::pair<const char *, int> later[] = {
            {"2018-03-01", 59}, {"2018-05-01", 120}, {"2018-07-01", 181}};
        for (int k = 2; k <= 4; ++k)
            if (auto added = db.addEpoch({k, QString::fromLatin1(later[k - 2].first),
                                          QStringLiteral("E%1").arg(k), QStringLiteral("4")});
                !added)
                return added;
        if (auto added = db.addPoint({1, "J1", 5, "m"}); !added)
            return added;
        const int days[] = {0, 10, 59, 120, 181};
        for (int k = 0; k <= 4; ++k)
            if (auto set = db.setElevation(k, 1, 100 - 0.00002 * days[k]); !set)
                return set;
        return success();
    }));
    QVERIFY(session.openWindow());
    const QString picture = session.besideProject(QStringLiteral("_J1.png"));

    QStringList shown;
    bool exported = false;
    DialogWatcher watcher(session.window.get());
    watcher.queueFile(picture);
    QTimer::singleShot(0, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog || dialog->objectName() != QLatin1String("StabilityDialog"))
            return;
        auto *building = dialog->findChild<QLabel *>(QStringLiteral("Building"));
        shown << building->text();
        auto *limit = dialog->findChild<QDoubleSpinBox *>(QStringLiteral("Limit"));
        limit->setFocus();
        limit->selectAll();
        QTest::keyClicks(limit, QStringLiteral("0.010"));
        QTest::keyClick(limit, Qt::Key_Return);
        shown << building->text();
        shown << dialog->findChild<QTableWidget *>(QStringLiteral("Points"))->item(0, 6)->text();
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("Export")),
                          Qt::LeftButton);
        exported = true;
        static_cast<QDialog *>(dialog)->reject();
    });
    click(session.window.get(), "Command14");
    QVERIFY(exported);
    QCOMPARE(shown, QStringList({QStringLiteral("建筑物稳定性：稳定"),
                                 QStringLiteral("建筑物稳定性：未稳定"),
                                 QStringLiteral("未稳定")}));
    // The limit is this building's, kept with the project for the next
    // analysis; the program-wide value is unchanged. The chart was saved.
    const auto fields = session.window->session().project()->headerFields();
    QVERIFY(fields);
    QCOMPARE(fields->at(SettingKey::StableRate), QStringLiteral("0.01"));
    QCOMPARE(session.window->session().settings().readSetting(SettingKey::StableRate), std::nullopt);
    QCOMPARE(session.window->session().stabilitySettings().limit, 0.01);
    // Only the button exports: Enter in the limit box does not.
    QCOMPARE(watcher.fileDialogTitles(), QStringList{QStringLiteral("导出沉降曲线图片")});
    const QImage image(picture);
    QVERIFY(!image.isNull());
    QVERIFY(image.width() >= 480);
}

QTEST_MAIN(StabilityWindowTest)
#include "tst_stabilitywindow.moc"
