#include "gui/mainwindow.h"
#include "gui/session.h"
#include "gui/startup.h"
#include "gui/previewwidget.h"
#include "gui/projectcommands.h"
#include "project/projectdb.h"
#include "windowsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>

using namespace testsupport;

namespace {

QString text(QWidget *window, const char *name)
{
    QWidget *widget = control<QWidget>(window, name);
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *box = qobject_cast<QLineEdit *>(widget))
        return box->text();
    return qobject_cast<QAbstractButton *>(widget)->text();
}

bool enabled(QWidget *window, const char *name)
{
    return control<QWidget>(window, name)->isEnabled();
}

const QByteArray layoutFile =
    "[沉降曲线]\r\n时间轴=365,300\r\n曲线轴=12.346,150\r\n辅助轴=30,60\r\n"
    "[速率曲线]\r\n时间轴=200,300\r\n曲线轴=0.456,180\r\n辅助轴=7,60\r\n"
    "[荷载曲线]\r\n时间轴=1000,300\r\n曲线轴=29.6,180\r\n";

} // namespace

class CurveKindsTest : public QObject
{
    Q_OBJECT
private slots:
    void templateChoiceSetsTheBoxes();
    void kindChoice_data();
    void kindChoice();
    void zoomButtons();
    void previewFollowsTheProject();
};

void CurveKindsTest::templateChoiceSetsTheBoxes()
{
    TestProgram program;
    QVERIFY(program.make({{QStringLiteral("图框模板"), QStringLiteral("NONE")}}));
    QVERIFY(program.addFile(QStringLiteral("Support/TK/a3/a3.ini"), layoutFile));
    QVERIFY(program.addFile(QStringLiteral("Support/TK/NONE/readme.txt")));
    const auto window = startup(program.programDir());
    QVERIFY(window);
    // The stored template has no layout file: the output button is disabled
    // and the boxes keep what the load step gave them.
    QCOMPARE(control<QComboBox>(window.get(), "Combo1")->currentText(), QStringLiteral("NONE"));
    QVERIFY(!enabled(window.get(), "Command3"));

    auto *combo = control<QComboBox>(window.get(), "Combo1");
    combo->setCurrentIndex(combo->findText(QStringLiteral("A3")));
    QVERIFY(enabled(window.get(), "Command3"));
    QCOMPARE(text(window.get(), "Text6"), "365");
    QCOMPARE(text(window.get(), "Text7"), "12.3"); // the kind's decimals
    QCOMPARE(text(window.get(), "Text8"), "30");
    QCOMPARE(window->session().curveLayout().CurveLength, 150.0);

    QTest::mouseClick(control<QRadioButton>(window.get(), "Option3"), Qt::LeftButton);
    combo->setCurrentIndex(combo->findText(QStringLiteral("NONE")));
    combo->setCurrentIndex(combo->findText(QStringLiteral("A3")));
    QCOMPARE(text(window.get(), "Text6"), "1000"); // never cut to the box's three characters
    QCOMPARE(text(window.get(), "Text7"), "30");
    QCOMPARE(storedSetting(program.sdmx(), QStringLiteral("图框模板")),
             std::optional<QString>("A3"));
}

void CurveKindsTest::kindChoice_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QStringList>("texts"); // Label6, Text6, Text7, Label8, Text8, Command3
    QTest::addColumn<bool>("settlementOnly");
    QTest::addRow("settlement")
        << "Option1" << QStringList{QStringLiteral("沉降轴："),  "365", "12.3", "mm", "30",
                                    QStringLiteral("输出曲线图")}
        << true;
    QTest::addRow("rate") << "Option2"
                          << QStringList{QStringLiteral("速率轴："),  "200", "0.46", "mm/d", "7",
                                         QStringLiteral("输出速率图")}
                          << false;
    QTest::addRow("load") << "Option3"
                          << QStringList{QStringLiteral("荷载轴："),  "1000", "30", "T/m", "0",
                                         QStringLiteral("输出荷载图")}
                          << false;
}

void CurveKindsTest::kindChoice()
{
    QFETCH(QString, option);
    QFETCH(QStringList, texts);
    QFETCH(bool, settlementOnly);
    TestProgram program;
    QVERIFY(program.make());
    QVERIFY(program.addFile(QStringLiteral("Support/TK/A3/A3.ini"), layoutFile));
    const auto window = startup(program.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // Away and back, so that each option is clicked into being selected.
    QTest::mouseClick(
        control<QRadioButton>(window.get(), option == "Option2" ? "Option3" : "Option2"),
        Qt::LeftButton);
    QTest::mouseClick(control<QRadioButton>(window.get(), option.toLatin1().constData()),
                      Qt::LeftButton);
    // Clicked again, the chosen kind stays chosen, and it alone (the unit
    // options elsewhere in the window are no part of it).
    QTest::mouseClick(control<QRadioButton>(window.get(), option.toLatin1().constData()), Qt::LeftButton);
    for (const char *kind : {"Option1", "Option2", "Option3"})
        QVERIFY2(control<QRadioButton>(window.get(), kind)->isChecked() == (option == QLatin1String(kind)), kind);
    QCOMPARE(text(window.get(), "Label5"), QStringLiteral("时间轴："));
    QCOMPARE(text(window.get(), "Label12"), "d");
    QCOMPARE(text(window.get(), "Label6"), texts[0]);
    QCOMPARE(text(window.get(), "Text6"), texts[1]);
    QCOMPARE(text(window.get(), "Text7"), texts[2]);
    QCOMPARE(text(window.get(), "Label8"), texts[3]);
    QCOMPARE(text(window.get(), "Text8"), texts[4]);
    QCOMPARE(text(window.get(), "Label14"), QStringLiteral("辅助轴："));
    QCOMPARE(text(window.get(), "Label18"), "T/m");
    QCOMPARE(text(window.get(), "Command3"), texts[5]);
    for (const char *name : {"Label14", "Text8", "Label18", "Frame4", "Check1", "Label9", "Label10",
                             "Text10", "Text11"})
        QVERIFY2(enabled(window.get(), name) == settlementOnly, name);
    if (!settlementOnly) {
        QVERIFY(!enabled(window.get(), "Command8"));
        QVERIFY(!enabled(window.get(), "Command9"));
    }
}

void CurveKindsTest::zoomButtons()
{
    TestProgram program;
    QVERIFY(program.make());
    const QString path = program.projects() + QStringLiteral("p.mdb");
    QVERIFY(makeProject(path));
    const auto window = startup(program.programDir());
    QVERIFY(window);
    QVERIFY(window->projectCommands().openProjectFile(path));
    auto *zoomIn = control<QPushButton>(window.get(), "Command8");
    auto *zoomOut = control<QPushButton>(window.get(), "Command9");
    auto *area = control<PreviewWidget>(window.get(), "Pic1");
    QCOMPARE(window->session().zoomLevel(), 2);

    const struct
    {
        QPushButton *button;
        int level;
        bool in, out;
    } steps[] = {{zoomIn, 3, true, true},  {zoomIn, 4, false, true},  {zoomOut, 3, true, true},
                 {zoomOut, 2, true, true}, {zoomOut, 1, true, false}, {zoomIn, 2, true, true}};
    for (const auto &step : steps) {
        QTest::mouseClick(step.button, Qt::LeftButton);
        QCOMPARE(window->session().zoomLevel(), step.level);
        QCOMPARE(zoomIn->isEnabled(), step.in);
        QCOMPARE(zoomOut->isEnabled(), step.out);
        QCOMPARE(area->picture().window, settlementWindow(step.level));
    }
}

void CurveKindsTest::previewFollowsTheProject()
{
    TestProgram program;
    QVERIFY(program.make());
    const QString path = program.projects() + QStringLiteral("p.mdb");
    QVERIFY(makeProject(path));
    {
        ProjectDatabase project;
        QVERIFY(project.open(path));
        QVERIFY(project.addEpoch({0, "2018-01-01", "A", "2"}));
        QVERIFY(project.addEpoch({1, "2018-01-11", "B", "5"}));
        QVERIFY(project.addPoint({1, "J1", 5, QStringLiteral("菱形")}));
        QVERIFY(project.addPoint({2, "J2", 6, QStringLiteral("正方形")}));
        QVERIFY(project.setElevation(0, 1, 100.0));
        QVERIFY(project.setElevation(1, 1, 99.998));
    }
    const auto window = startup(program.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(window->projectCommands().openProjectFile(path));
    auto *area = control<PreviewWidget>(window.get(), "Pic1");
    QCOMPARE(area->picture().lines.size(), size_t(1));
    QCOMPARE(area->picture().lines[0].colour, QColor(0, 0, 255));

    // Typing an elevation for point 2 redraws at once, with its curve.
    auto *grid = control<QTableWidget>(window.get(), "Flex1");
    control<QListWidget>(window.get(), "List1")->setCurrentRow(0);
    const QModelIndex cell = grid->model()->index(1, 1);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
    auto *box = control<QLineEdit>(window.get(), "Text4");
    typeText(box, "50");
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(area->picture().lines.size(), size_t(2));
    QCOMPARE(area->picture().lines[1].colour, QColor(255, 0, 255));

    // The rate and load views; then the settlement view comes back with the epoch list.
    QTest::mouseClick(control<QRadioButton>(window.get(), "Option2"), Qt::LeftButton);
    QCOMPARE(area->picture().window, rateWindow());
    QCOMPARE(area->picture().lines[0].colour, QColor(255, 0, 0));
    QTest::mouseClick(control<QRadioButton>(window.get(), "Option3"), Qt::LeftButton);
    QCOMPARE(area->picture().window, loadWindow());
    QCOMPARE(area->picture().lines[0].points.back(), QPointF(10, 5));
    control<QListWidget>(window.get(), "List1")->setCurrentRow(1);
    QVERIFY(control<QRadioButton>(window.get(), "Option1")->isChecked());
    QCOMPARE(area->picture().window, settlementWindow(2));

    // Painted on screen where the curve is: point 1 at (10, -2) in blue.
    const QImage shot = area->grab().toImage();
    const QRectF drawing = area->drawingArea();
    const CoordinateWindow w = settlementWindow(2);
    const QPointF end(drawing.left() + (10 - w.left) / (w.right - w.left) * drawing.width(),
                      drawing.top() + (-2 - w.top) / (w.bottom - w.top) * drawing.height());
    bool found = false;
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            found =
                found || shot.pixelColor(int(end.x()) + dx, int(end.y()) + dy) == QColor(0, 0, 255);
    QVERIFY(found);

    // A cancelled open keeps the project, and its picture.
    {
        DialogWatcher watcher(window.get());
        watcher.queueFile(QString());
        QTest::mouseClick(control<QPushButton>(window.get(), "Command7"), Qt::LeftButton);
    }
    QVERIFY(!area->picture().lines.empty());
}

QTEST_MAIN(CurveKindsTest)
#include "tst_curvekinds.moc"
