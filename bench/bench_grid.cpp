// The observation grid and the preview on a large project (150 points × 300
// epochs): filling the grid for one epoch, redrawing the settlement preview,
// and committing one typed elevation (write-through, the row's values, the
// move down and the preview, painted), as the user's Enter does; opening the
// stability dialog; the plan view redrawn, and a commit with the plan shown.
//
//   bench_grid            (runs on the offscreen platform without a display)
#include "gui/mainwindow.h"
#include "gui/startup.h"
#include "benchtimer.h"
#include "largeproject.h"
#include "cad/planpositions.h"
#include "gui/projectcommands.h"
#include "gui/observationgrid.h"
#include "gui/session.h"
#include "gui/stabilitydialog.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString programDir = dir.filePath(QStringLiteral("program"));
    const QString project = dir.filePath(QStringLiteral("large.mdb"));
    QString error;
    if (!copyProgramDirectory(QStringLiteral(SEDIMETRA_BIN_DIR), programDir)
        || !makeLargeProject(programDir + QStringLiteral("/Support/Db/数据库模板.mdb"), project,
                             150, 300, &error)) {
        std::fprintf(stderr, "cannot prepare the benchmark: %s\n", qPrintable(error));
        return 1;
    }
    const auto window = startup(programDir + QLatin1Char('/'));
    if (!window)
        return 1;
    if (!QTest::qWaitForWindowExposed(window.get()))
        return 1;
    auto *combo = window->findChild<QComboBox *>(QStringLiteral("Combo3"));
    combo->setCurrentIndex(combo->findText(QStringLiteral("150")));
    if (!window->projectCommands().openProjectFile(project))
        return 1;
    std::printf("%s: 150 points, 300 epochs, epoch %d selected\n", qPrintable(project),
                window->session().currentEpoch());

    auto *list = window->findChild<QListWidget *>(QStringLiteral("List1"));
    measure(
        "grid fill, one epoch of 150 points", 200, [&](int) { window->grid().fill(); }, 2);
    auto *table = window->findChild<QTableWidget *>(QStringLiteral("Flex1"));
    measure("grid fill and repaint", 200, [&](int) {
        window->grid().fill();
        table->viewport()->repaint();
    });
    measure(
        "epoch selection (boxes, fill, preview)", 200,
        [&](int i) { list->setCurrentRow(299 - (i % 2) * 150); }, 0);

    list->setCurrentRow(299);
    auto *preview = window->findChild<QWidget *>(QStringLiteral("Pic1"));
    measure(
        "settlement preview redraw (curves from the snapshot, paint)", 200,
        [&](int) {
            window->session().announceElevationStored(299, 1);
            preview->repaint();
        },
        5);
    auto *box = window->findChild<QLineEdit *>(QStringLiteral("Text4"));
    const QModelIndex first = table->model()->index(0, 2);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(first).center());
    measure(
        "elevation commit with its history row (Enter: write, row, move, preview painted)", 150,
        [&](int i) {
            // Values a level would give: within a millimetre of the point's
            // last one, so that no plausibility question stops the run.
            const int row = window->grid().editRow();
            const double last =
                window->session().snapshot().elevation(298, row).value_or(100.0);
            box->setText(QString::number(last - (i % 10) / 10000.0, 'f', 5));
            QTest::keyClick(box, Qt::Key_Return);
            preview->repaint();
            table->viewport()->repaint();
        },
        8);
    measure(
        "stability dialog opened (analysis, table, chart)", 20,
        [&](int) {
            StabilityDialog dialog(window->session(), window.get());
            dialog.show();
            dialog.repaint();
            QCoreApplication::processEvents();
        },
        100);

    // The plan view: every point placed on a jittered grid of the building,
    // alarm values that some points pass, the plan shown.
    std::vector<std::pair<int, std::optional<Position>>> placed;
    for (int n = 1; n <= 150; ++n)
        placed.emplace_back(n, Position{(n - 1) % 15 * 6.0 + (n * 37 % 11) / 10.0,
                                        (n - 1) / 15 * 5.0 + (n * 53 % 7) / 10.0});
    if (auto set = window->session().setPositions(placed); !set) {
        std::fprintf(stderr, "cannot place the points: %s\n", qPrintable(set.error()));
        return 1;
    }
    if (!window->session().project()->setHeaderFields({{QStringLiteral("累计沉降预警值"), QStringLiteral("40")}}))
        return 1;
    window->session().refreshDeformationSettings();
    auto *planOption = window->findChild<QRadioButton *>(QStringLiteral("Option4"));
    auto *kinds = window->findChild<QRadioButton *>(QStringLiteral("Option1"));
    Q_UNUSED(kinds);
    planOption->setEnabled(true);
    planOption->click();
    measure(
        "plan view redraw (deformation, contours, alarms, paint)", 200,
        [&](int) {
            window->session().announceElevationStored(299, 1);
            preview->repaint();
        },
        10);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(first).center());
    measure(
        "elevation commit with the plan shown", 150,
        [&](int i) {
            const int row = window->grid().editRow();
            const double last = window->session().snapshot().elevation(298, row).value_or(100.0);
            box->setText(QString::number(last - (i % 10) / 10000.0, 'f', 5));
            QTest::keyClick(box, Qt::Key_Return);
            preview->repaint();
            table->viewport()->repaint();
        },
        8);

    // The plan view behind which lies a drawing as large as one is kept:
    // 200,000 segments (20,000 polylines of ten) over the building, thinned
    // when it is read to what the plan shows (at most 60,000).
    PlanBackground drawn;
    for (int i = 0; i < 20000; ++i) {
        std::vector<std::pair<double, double>> line;
        const double x0 = (i % 200) * 0.45, y0 = (i / 200) * 0.5;
        for (int k = 0; k <= 10; ++k)
            line.emplace_back(x0 + k * 0.04, y0 + (k % 2) * 0.2);
        drawn.lines.push_back(std::move(line));
    }
    if (auto kept = window->session().placePoints({}, PlanDrawingFile{QStringLiteral("平面.dxf"),
                                                                       planBackgroundDxf(drawn)},
                                                  {});
        !kept) {
        std::fprintf(stderr, "cannot keep the drawing: %s\n", qPrintable(kept.error()));
        return 1;
    }
    std::printf("plan drawing kept: %zu lines\n", window->session().planBackground().lines.size());
    measure(
        "plan view redraw with a drawing of 200,000 segments kept", 10,
        [&](int) {
            window->session().announceElevationStored(299, 1);
            preview->repaint();
        },
        10);
    return 0;
}
