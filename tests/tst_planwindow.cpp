// The plan in the window: positions typed and pasted into "测点坐标" from
// the grid's menu, the option 沉降平面图 coming alive, the plan view and
// the grid showing the alarm; an incomplete position refused.
#include "gui/mainwindow.h"
#include "preview/planpicture.h"
#include "gui/plandialogs.h"
#include "gui/previewwidget.h"
#include "gui/session.h"
#include "domain/buildingdeformation.h"
#include "domain/stability.h"
#include "project/projectdb.h"
#include "windowsupport.h"
#include "survey/domaininputs.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFile>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

using namespace testsupport;

class PlanWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void positionsBringThePlanAndItsAlarms();
    void anIncompletePositionIsRefused();
    void theGridShowsTheAlarmsThePlanGives();
    void ratioAlarmsAreTypedInPerMille();
    void theChosenLimitsFollowTheFieldsAsTyped();
    void aFileReadJoinsWhatWasPasted();
};

namespace {

// Four points: J1 to J4; J4 sinks 12 mm by epoch 1, the others 2 mm.
bool makeFourPoints(WindowSession &session, bool withAlarm)
{
    return session.makeProjectFile(QStringLiteral("楼.mdb"), [withAlarm](ProjectDatabase &db) -> Result<void> {
        for (int n = 1; n <= 4; ++n) {
            if (auto added = db.addPoint({n, QStringLiteral("J%1").arg(n), 1, QStringLiteral("圆形")}); !added)
                return added;
            if (auto set = db.setElevation(0, n, 50); !set)
                return set;
            if (auto set = db.setElevation(1, n, n == 4 ? 49.988 : 49.998); !set)
                return set;
        }
        if (withAlarm)
            return db.setHeaderFields({{QStringLiteral("累计沉降预警值"), QStringLiteral("10")}});
        return success();
    });
}

// Opens "测点坐标" from the name cell of row 1 and runs `inDialog` in it.
void openPositions(WindowSession &session, const std::function<void(QDialog *)> &inDialog)
{
    auto *grid = control<QTableWidget>(session.window.get(), "Flex1");
    QTimer::singleShot(0, [inDialog] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction *action : menu->actions())
            if (action->text() == QStringLiteral("测点坐标…")) {
                QTimer::singleShot(0, [inDialog] {
                    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                    QVERIFY(dialog);
                    QCOMPARE(dialog->windowTitle(), QStringLiteral("测点坐标"));
                    inDialog(dialog);
                });
                action->trigger();
                menu->close();
                return;
            }
        QFAIL("no 测点坐标 in the menu");
    });
    const QRect cell = grid->visualItemRect(grid->item(0, 0));
    emit grid->customContextMenuRequested(cell.center());
}

} // namespace

void PlanWindowTest::positionsBringThePlanAndItsAlarms()
{
    WindowSession session;
    QVERIFY(session.makeProgram());
    QVERIFY(makeFourPoints(session, true));
    QVERIFY(session.openWindow());
    auto *option = control<QRadioButton>(session.window.get(), "Option4");
    QVERIFY(!option->isEnabled());
    DialogWatcher watcher(session.window.get());
    openPositions(session, [](QDialog *dialog) {
        auto *table = dialog->findChild<QTableWidget *>(QStringLiteral("Positions"));
        // Three rows pasted from a spreadsheet, the fourth typed.
        // As a surveyor copies them: X (north), Y (east).
        QApplication::clipboard()->setText(QStringLiteral("j1\t0\t0\r\nJ2\t0\t10\r\nJ3\t8\t0\r\n"));
        table->setFocus();
        QTest::keyClick(dialog, Qt::Key_V, Qt::ControlModifier);
        for (const auto &[column, text] : {std::pair{2, "10"}, std::pair{3, "8"}}) {
            table->setCurrentCell(3, column);
            table->editItem(table->item(3, column));
            QLineEdit *editor = nullptr;
            for (QLineEdit *box : table->viewport()->findChildren<QLineEdit *>())
                if (!box->isHidden())
                    editor = box;
            if (!editor)
                break; // the check of J4 below fails
            QTest::keyClicks(editor, QString::fromLatin1(text));
            QTest::keyClick(editor, Qt::Key_Tab);
        }
        const auto buttons = dialog->findChildren<QPushButton *>();
        for (QPushButton *button : buttons)
            if (button->text() == QStringLiteral("确定"))
                QTest::mouseClick(button, Qt::LeftButton);
    });
    QCOMPARE(watcher.seen().size(), 0);
    QVERIFY(option->isEnabled());
    const Point *j4 = session.window->session().snapshot().point(4);
    QVERIFY(j4 && j4->position);
    QCOMPARE(*j4->position, (Position{10, 8}));

    option->click();
    auto *preview = control<PreviewWidget>(session.window.get(), "Pic1");
    QVERIFY(preview->plan());
    QCOMPARE(preview->plan()->points.size(), size_t(4));
    QCOMPARE(preview->plan()->points[3].value, QStringLiteral("-12.00"));
    QVERIFY(preview->plan()->points[3].alarm);
    QVERIFY(!preview->plan()->points[0].alarm);
    QVERIFY(preview->plan()->tilt);
    QVERIFY(!preview->plan()->contours.empty());
    // Every placed point is inside the view as it opens, whatever the
    // curves' zoom (2 here), and the zoom buttons act on the plan alone.
    const auto everyPointInside = [&] {
        const PlanMapping map = planMapping(preview->drawingArea(), *preview->plan(), preview->planZoom());
        for (const PlanPicture::Mark &mark : preview->plan()->points)
            if (!preview->drawingArea().contains(map(mark.at)))
                return false;
        return true;
    };
    QCOMPARE(session.window->session().zoomLevel(), 2);
    QVERIFY(everyPointInside());
    // Contour labels are placed, and none covers a point's mark, name or value.
    QFont small;
    small.setPixelSize(9);
    const QFontMetricsF metrics(small, preview);
    const auto labels = contourLabels(preview->drawingArea(), *preview->plan(), preview->planZoom(), metrics);
    QVERIFY(!labels.empty());
    for (const ContourLabel &label : labels)
        for (const QRectF &point : pointLabelRects(preview->drawingArea(), *preview->plan(), preview->planZoom(), metrics))
            QVERIFY2(!label.rect.intersects(point), qPrintable(label.text));
    QTest::mouseClick(control<QPushButton>(session.window.get(), "Command8"), Qt::LeftButton);
    QCOMPARE(preview->planZoom(), 2);
    QCOMPARE(session.window->session().zoomLevel(), 2);
    // The grid shows J4's figures in red, with the reason.
    auto *grid = control<QTableWidget>(session.window.get(), "Flex1");
    QCOMPARE(grid->item(3, 4)->foreground().color(), QColor(Qt::red));
    QVERIFY(grid->item(3, 4)->toolTip().contains(QStringLiteral("累计沉降")));
    QVERIFY(grid->item(0, 4)->foreground().color() != QColor(Qt::red));
    // The positions are in the project file.
    ProjectDatabase stored;
    QVERIFY(stored.open(session.project));
    const auto point = stored.pointByNumber(3);
    QVERIFY(point && *point && (*point)->position);
    QCOMPARE(*(*point)->position, (Position{0, 8}));
}

void PlanWindowTest::anIncompletePositionIsRefused()
{
    WindowSession session;
    QVERIFY(session.makeProgram());
    QVERIFY(makeFourPoints(session, false));
    QVERIFY(session.openWindow());
    DialogWatcher watcher(session.window.get());
    bool stayed = false;
    openPositions(session, [&stayed](QDialog *dialog) {
        auto *table = dialog->findChild<QTableWidget *>(QStringLiteral("Positions"));
        table->item(1, 2)->setText(QStringLiteral("5"));
        for (QPushButton *button : dialog->findChildren<QPushButton *>())
            if (button->text() == QStringLiteral("确定"))
                QTest::mouseClick(button, Qt::LeftButton);
        stayed = dialog->isVisible();
        dialog->reject();
    });
    QVERIFY(stayed);
    QCOMPARE(watcher.seen().size(), 1);
    QVERIFY(watcher.seen()[0].text.contains(QStringLiteral("坐标不完整")));
    ProjectDatabase stored;
    QVERIFY(stored.open(session.project));
    const auto point = stored.pointByNumber(2);
    QVERIFY(point && *point && !(*point)->position);
}

void PlanWindowTest::theGridShowsTheAlarmsThePlanGives()
{
    // Four placed points over nine epochs, the load constant from epoch 1:
    // J4 sinks past the 10 mm alarm; J3 sinks as s = −x ÷ (0.07·x + 8), x
    // days after epoch 1, to −9.3 mm, under the alarm, towards −14.3 mm,
    // over it: a predicted alarm at the last epoch, which the grid shows as
    // the plan and the report do.
    WindowSession session;
    QVERIFY(session.makeProgram());
    QVERIFY(session.makeProjectFile(QStringLiteral("楼.mdb"), [](ProjectDatabase &db) -> Result<void> {
        const std::pair<int, double> places[] = {{0, 0}, {10, 0}, {0, 8}, {10, 8}};
        for (int k = 2; k <= 8; ++k)
            if (auto added = db.addEpoch({k, QStringLiteral("2018-%1-11").arg(k, 2, 10, QLatin1Char('0')),
                                          QStringLiteral("第%1次").arg(k), QStringLiteral("4")});
                !added)
                return added;
        std::vector<std::pair<int, std::optional<Position>>> positions;
        for (int n = 1; n <= 4; ++n) {
            if (auto added = db.addPoint({n, QStringLiteral("J%1").arg(n), 1, QStringLiteral("圆形")}); !added)
                return added;
            positions.emplace_back(n, Position{double(places[n - 1].first), places[n - 1].second});
            const double days[] = {0, 0, 31, 59, 90, 120, 151, 181, 212};
            for (int k = 0; k <= 8; ++k) {
                const double x = days[k];
                const double mm = n == 4 ? -1.6 * k : n == 3 ? -x / (0.07 * x + 8) : -0.3 * k;
                if (auto set = db.setElevation(k, n, 50 + mm / 1000); !set)
                    return set;
            }
        }
        if (auto placed = db.setPositions(positions); !placed)
            return placed;
        return db.setHeaderFields({{QStringLiteral("累计沉降预警值"), QStringLiteral("10")}});
    }));
    QVERIFY(session.openWindow());
    Session &s = session.window->session();
    const ProjectSnapshot &snapshot = s.snapshot();
    auto *grid = control<QTableWidget>(session.window.get(), "Flex1");
    auto *epochs = control<QListWidget>(session.window.get(), "List1");
    const StabilityAnalysis stability =
        analyseStability(snapshot, stabilitySettingsFrom(s.settings()), s.pointCount());
    bool predicted = false;
    for (int k = 0; k < snapshot.epochCount(); ++k) {
        epochs->setCurrentRow(k);
        const PlanFigures figures = planFigures(snapshot, k, s.deformation().thresholds,
                                                s.deformation().notNeighbours, std::nullopt, &stability);
        QSet<QString> expected, shown;
        for (const Alarm &alarm : figures.alarms) {
            expected << alarmText(alarm, snapshot);
            predicted |= alarm.kind == Alarm::Predicted;
        }
        for (int row = 0; row < 4; ++row) {
            const QString tip = grid->item(row, 4)->toolTip();
            if (const qsizetype at = tip.indexOf(QStringLiteral("\n预警：")); at >= 0)
                for (const QString &line : tip.mid(at + 4).split(QLatin1Char('\n')))
                    shown << line;
        }
        QCOMPARE(shown, expected);
    }
    QVERIFY(predicted); // the last epoch holds J3's predicted alarm

    // J3 typed 16 mm down at the last epoch: its cumulative settlement is
    // an alarm at once; the forecast is worked out again once typing pauses,
    // and its predicted alarm, now moot, goes.
    const QModelIndex j3 = grid->model()->index(2, 2);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(j3).center());
    auto *box = control<QLineEdit>(session.window.get(), "Text4");
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("49.984"));
    QTest::keyClick(box, Qt::Key_Return);
    QVERIFY(grid->item(2, 4)->toolTip().contains(QStringLiteral("累计沉降 -16.00 mm")));
    QTRY_VERIFY(!grid->item(2, 4)->toolTip().contains(QStringLiteral("预测")));
}

void PlanWindowTest::ratioAlarmsAreTypedInPerMille()
{
    // 差异沉降预警值 "2" is 2‰, stored so; a ratio typed as such (0.002) is
    // refused with the range, and nothing is stored.
    WindowSession session;
    QVERIFY(session.makeProgram());
    QVERIFY(makeFourPoints(session, false));
    QVERIFY(session.openWindow());
    const auto stored = [&] {
        ProjectDatabase project;
        if (!project.open(session.project))
            return std::map<QString, QString>();
        const auto fields = project.headerFields();
        return fields ? *fields : std::map<QString, QString>();
    };
    {
        PlanSettingsDialog dialog(session.window->session(), session.window.get());
        auto *differential = dialog.findChild<QLineEdit *>(DeformationKey::DifferentialAlarm);
        QVERIFY(differential);
        differential->setText(QStringLiteral("2"));
        DialogWatcher watcher(session.window.get());
        QVERIFY(dialog.save());
        QVERIFY(watcher.seen().isEmpty());
    }
    QCOMPARE(stored()[DeformationKey::DifferentialAlarm], QStringLiteral("2‰"));
    QCOMPARE(session.window->session().deformation().thresholds.differential, std::optional<double>(0.002));
    PlanSettingsDialog dialog(session.window->session(), session.window.get());
    auto *differential = dialog.findChild<QLineEdit *>(DeformationKey::DifferentialAlarm);
    QCOMPARE(differential->text(), QStringLiteral("2"));
    differential->setText(QStringLiteral("0.002"));
    DialogWatcher watcher(session.window.get());
    QVERIFY(!dialog.save());
    QCOMPARE(watcher.seen().size(), 1);
    QVERIFY2(watcher.seen()[0].text.contains(QStringLiteral("0.1‰ 到 50‰")), qPrintable(watcher.seen()[0].text));
    QCOMPARE(stored()[DeformationKey::DifferentialAlarm], QStringLiteral("2‰"));
}

void PlanWindowTest::theChosenLimitsFollowTheFieldsAsTyped()
{
    // "24m" and "中压缩性土" as people type them choose their rows, said as
    // they are typed; a structure the table has no row for says why; the
    // height is stored as typed, as `header` stores it.
    WindowSession session;
    QVERIFY(session.makeProgram());
    QVERIFY(makeFourPoints(session, false));
    QVERIFY(session.openWindow());
    PlanSettingsDialog dialog(session.window->session(), session.window.get());
    auto *limits = dialog.findChild<QLabel *>(QStringLiteral("ChosenLimits"));
    QVERIFY(limits);
    typeText(dialog.findChild<QLineEdit *>(DeformationKey::BuildingHeight), QStringLiteral("24m"));
    typeText(dialog.findChild<QLineEdit *>(DeformationKey::Structure), QStringLiteral("框架结构"));
    dialog.findChild<QComboBox *>(DeformationKey::Soil)->setCurrentText(QStringLiteral("中压缩性土"));
    QVERIFY2(limits->text().contains(QStringLiteral("倾斜 多层和高层建筑 整体倾斜 4.00‰；差异沉降 框架结构 相邻柱基沉降差 2.00‰")), qPrintable(limits->text()));
    auto *structure = dialog.findChild<QLineEdit *>(DeformationKey::Structure);
    structure->clear();
    typeText(structure, QStringLiteral("钢结构"));
    QVERIFY2(limits->text().contains(QStringLiteral("差异沉降 无（结构形式「钢结构」在变形限值表中无差异沉降限值，未判差异沉降）")),
             qPrintable(limits->text()));
    DialogWatcher watcher(session.window.get());
    QVERIFY(dialog.save());
    QVERIFY(watcher.seen().isEmpty());
    ProjectDatabase project;
    QVERIFY(project.open(session.project));
    const auto fields = project.headerFields();
    QVERIFY(fields);
    QCOMPARE(fields->at(DeformationKey::BuildingHeight), QStringLiteral("24m"));
    QCOMPARE(fields->at(DeformationKey::Soil), QStringLiteral("中压缩性土"));
    QCOMPARE(session.window->session().deformation().thresholds.tilt, std::optional<double>(0.004));
}

void PlanWindowTest::aFileReadJoinsWhatWasPasted()
{
    // J1 and J2 pasted, then a file with J3 and J4 read: the table holds
    // all four, nothing is written until 确定, which writes all four.
    WindowSession session;
    QVERIFY(session.makeProgram());
    QVERIFY(makeFourPoints(session, false));
    QVERIFY(session.openWindow());
    const QString csv = session.besideProject(QStringLiteral(".csv"));
    QFile file(csv);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("点名,东,北\nJ3,0,8\nJ4,10,8\n");
    file.close();
    const auto placedInFile = [&] {
        ProjectDatabase stored;
        int placed = 0;
        if (stored.open(session.project))
            for (int n = 1; n <= 4; ++n)
                if (const auto point = stored.pointByNumber(n); point && *point && (*point)->position)
                    ++placed;
        return placed;
    };
    PositionsDialog dialog(session.window->session(), session.window.get());
    dialog.paste(QStringLiteral("J1\t0\t0\nJ2\t10\t0\n"));
    {
        DialogWatcher watcher(session.window.get());
        dialog.readFile(csv);
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY2(watcher.seen()[0].text.contains(QStringLiteral("读入了 2 个测点的坐标")), qPrintable(watcher.seen()[0].text));
    }
    QCOMPARE(placedInFile(), 0);
    for (int row = 0; row < 4; ++row)
        QVERIFY(!dialog.table()->item(row, 2)->text().isEmpty());
    QVERIFY(dialog.save());
    QCOMPARE(placedInFile(), 4);
    const Point *j4 = session.window->session().snapshot().point(4);
    QVERIFY(j4 && j4->position);
    QCOMPARE(*j4->position, (Position{10, 8}));

    // A plan drawing read, then cancelled: neither its positions nor the
    // drawing reach the project; read again and 确定: both do.
    const QString dxf = session.besideProject(QStringLiteral(".dxf"));
    runPython(QStringLiteral("import ezdxf, sys\n"
                             "doc = ezdxf.new('R2000')\n"
                             "msp = doc.modelspace()\n"
                             "msp.add_lwpolyline([(0, 0), (20, 0), (20, 16), (0, 16)], close=True)\n"
                             "for name, x, y in (('J1', 2, 2), ('J2', 18, 2), ('J3', 2, 14), ('J4', 18, 14)):\n"
                             "    msp.add_text(name, dxfattribs={'height': 0.5, 'insert': (x, y)})\n"
                             "doc.saveas(sys.argv[1])\n"),
              {dxf});
    const auto storedPlan = [&] {
        ProjectDatabase stored;
        if (!stored.open(session.project))
            return false;
        const auto plan = stored.planDrawing();
        return plan && *plan;
    };
    {
        PositionsDialog cancelled(session.window->session(), session.window.get());
        DialogWatcher watcher(session.window.get());
        cancelled.readFile(dxf);
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY2(watcher.seen()[0].text.contains(QStringLiteral("读入了 4 个测点的坐标")), qPrintable(watcher.seen()[0].text));
        cancelled.reject();
    }
    QVERIFY(!storedPlan());
    QCOMPARE(*session.window->session().snapshot().point(4)->position, (Position{10, 8}));
    PositionsDialog fromDrawing(session.window->session(), session.window.get());
    {
        DialogWatcher watcher(session.window.get());
        fromDrawing.readFile(dxf);
    }
    QVERIFY(fromDrawing.save());
    QVERIFY(storedPlan());
    QCOMPARE(*session.window->session().snapshot().point(4)->position, (Position{18, 14}));
}

QTEST_MAIN(PlanWindowTest)
#include "tst_planwindow.moc"
