#include "cad/curvesrun.h"
#include "cad/plansheet.h"
#include "cad/sheetdrawing.h"
#include "testsupport.h"
#include "recordingcad.h"

#include "base/textnumber.h"

#include <QDate>
#include <QTest>

using namespace testsupport;

namespace {

const QString ruler = QStringLiteral("标尺");

CurveLayout layoutA3()
{
    CurveLayout l;
    l.SheetWidth = 420;
    l.SheetHeight = 297;
    l.BaseOffsetX = 60;
    l.BaseOffsetY = 95;
    l.TimeRange = 200;
    l.TimeLength = 300;
    l.CurveRange = 10;
    l.CurveLength = 150;
    l.LegendX = 300;
    l.LegendY = 160;
    return l;
}

// A project of `points` points observed at epochs 0 and 1, 10 days apart.
Records project(int points)
{
    Records data;
    data.epochs = {{0, "2018-01-01", "A", "2"}, {1, "2018-01-11", "B", "4"}};
    for (int epoch = 0; epoch < 2; ++epoch)
        for (int n = 1; n <= points; ++n)
            data.elevations.push_back({epoch, n, 100.0 - epoch * 0.001 * n});
    for (int n = 1; n <= points; ++n)
        data.points.push_back({n, QStringLiteral("J%1").arg(n), 5, QStringLiteral("菱形")});
    return data;
}

CurveRunSettings inputs(CurveKind kind, const QString &time = QStringLiteral("200"),
                        const QString &curve = QStringLiteral("10"))
{
    CurveRunSettings in;
    in.kind = kind;
    in.layout = layoutA3();
    in.frameDir = QStringLiteral("/p/Support/TK/A3");
    in.marks.supportDir = QStringLiteral("/p/Support/");
    in.pointCount = 150;
    applyBoxTexts(in, {time, curve, QStringLiteral("0"), true, QStringLiteral("5"),
                       QStringLiteral("1")});
    return in;
}

QStringList textsOf(const std::vector<const RecordingCad::Text *> &texts)
{
    QStringList list;
    for (const auto *t : texts)
        list << t->text;
    return list;
}

bool near(CadPoint a, CadPoint b)
{
    return qAbs(a.x - b.x) < 1e-9 && qAbs(a.y - b.y) < 1e-9;
}

} // namespace

class SheetDrawingTest : public QObject
{
    Q_OBJECT
private slots:
    void scales_data();
    void scales();
    void connect_data();
    void connect();
    void planScaleFillsTheSheet_data();
    void planScaleFillsTheSheet();
    void tiling();
    void tilingEdges_data();
    void tilingEdges();
    void timeAxis_data();
    void timeAxis();
    void settlementAxisLabels();
    void rateAxis();
    void auxiliaryAxis();
    void workedSettlementVertex();
    void rateVertex();
    void legendRowsAndLayers();
    void cancelLeavesSnapOn();
    void loadSheet();
    void pointWithoutRecord();
    void labelSteps_data();
    void labelSteps();
    void fittedRanges_data();
    void fittedRanges();
};

void SheetDrawingTest::scales_data()
{
    QTest::addColumn<double>("length");
    QTest::addColumn<double>("range");
    QTest::addColumn<double>("box");
    QTest::addColumn<double>("scale");
    QTest::addRow("box below the range") << 300.0 << 200.0 << 100.0 << 1.5;
    QTest::addRow("box above the range") << 300.0 << 200.0 << 400.0 << 0.75;
    QTest::addRow("divisor 0") << 300.0 << 0.0 << 0.0 << 0.0;
    QTest::addRow("layout range 0, box set") << 60.0 << 0.0 << 30.0 << 2.0;
}

void SheetDrawingTest::scales()
{
    QFETCH(double, length);
    QFETCH(double, range);
    QFETCH(double, box);
    QFETCH(double, scale);
    QCOMPARE(axisScale(length, range, box), scale);
}

void SheetDrawingTest::connect_data()
{
    QTest::addColumn<QString>("font");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("fontCall");
    QTest::addRow("font file") << "romans" << int(ConnectResult::Ready)
                               << "FontFiles romans hztxt 0.8";
    QTest::addRow("TrueType face")
        << QStringLiteral("[宋体]") << int(ConnectResult::Ready) << QStringLiteral("SetFont 宋体");
    QTest::addRow("bracket alone is a file")
        << "[" << int(ConnectResult::Ready) << "FontFiles [ hztxt 0.8";
    QTest::addRow("empty brackets: missing")
        << "[]" << int(ConnectResult::FontMissing) << "SetFont ";
    QTest::addRow("empty font: missing")
        << "" << int(ConnectResult::FontMissing) << "FontFiles  hztxt 0.8";
}

void SheetDrawingTest::connect()
{
    QFETCH(QString, font);
    QFETCH(int, result);
    QFETCH(QString, fontCall);
    RecordingCad cad;
    const auto connected = ConnectCad(cad, font, QStringLiteral("hztxt"));
    QVERIFY(connected);
    QCOMPARE(int(*connected), result);
    QCOMPARE(cad.calls.mid(0, 7),
             (QStringList{"attach", "SetVariable OsMode 0", "SetVariable UcsIcon 1",
                          "SetVariable CelType ByLayer", "SetVariable CeColor ByLayer",
                          QStringLiteral("TextStyles.Add 沉降"), fontCall}));
    QCOMPARE(cad.calls.value(7), QStringLiteral("ActiveTextStyle 沉降"));
    // A missing font is the caller's to tell: no command goes to the drawing.
    QCOMPARE(cad.calls.size(), 8);

    RecordingCad closed;
    closed.attachFails = true;
    const auto failed = ConnectCad(closed, font, QString());
    QVERIFY(!failed);
    QCOMPARE(closed.calls, QStringList{"attach"});
    QVERIFY(!failed.error().isEmpty());
}

void SheetDrawingTest::planScaleFillsTheSheet_data()
{
    // An A3 plan's room for the building (mm) and the building (m): the
    // largest scale of the drawing standard that holds it.
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<int>("scale");
    QTest::newRow("51 × 22 m") << 51.0 << 22.0 << 200;
    QTest::newRow("90 × 40 m: 1:300, not 1:500") << 90.0 << 40.0 << 300;
    QTest::newRow("70 × 30 m: 1:250") << 70.0 << 30.0 << 250;
    QTest::newRow("150 × 60 m") << 150.0 << 60.0 << 500;
    QTest::newRow("a house, 12 × 9 m") << 12.0 << 9.0 << 100;
}

void SheetDrawingTest::planScaleFillsTheSheet()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(int, scale);
    QCOMPARE(fittingScale(width, height, 306, 200), scale);
}

void SheetDrawingTest::tiling()
{
    RecordingCad cad;
    CurveRunSettings in = inputs(CurveKind::Settlement);
    in.sheetsPerRow = 2;
    QCOMPARE(DrawCurveSheets(cad, snapshotOf(project(12)), in), CurveRunStatus::Drawn);
    const auto frames = cad.insertsOf(QStringLiteral("/p/Support/TK/A3/曲线图框.dxf"));
    QCOMPARE(frames.size(), size_t(3));
    const double x0 = 100 + 60, y0 = 200 + 95;
    QVERIFY(near(frames[0]->at, {x0, y0}));
    QVERIFY(near(frames[1]->at, {x0 + 420, y0}));
    QVERIFY(near(frames[2]->at, {x0, y0 - 297}));
    for (const auto *frame : frames)
        QVERIFY(frame->exploded && frame->erased);
    // Sheet 3 holds lines 11 and 12: legend rows 1 and 2 of that sheet.
    const auto j12 = cad.textsOn(QStringLiteral("沉_J12"));
    QCOMPARE(j12.size(), size_t(1));
    QVERIFY(near(j12[0]->at, {x0 + 300 + 2 + 17, y0 - 297 + 160 - 10}));
}

void SheetDrawingTest::tilingEdges_data()
{
    QTest::addColumn<bool>("split");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("perRow");
    QTest::addColumn<int>("sheets");
    QTest::addColumn<double>("firstY"); // of the first sheet, below Y0
    QTest::addRow("one line a sheet") << true << "1"
                                      << "3" << 4 << 0.0;
    QTest::addRow("not split: one sheet") << false << "1"
                                          << "3" << 1 << 0.0;
    QTest::addRow("zero lines taken as one") << true << "0"
                                             << "9" << 4 << 0.0;
    QTest::addRow("no sheets per row: a row each") << true << "2"
                                                   << "0" << 2 << 297.0;
}

void SheetDrawingTest::tilingEdges()
{
    QFETCH(bool, split);
    QFETCH(QString, lines);
    QFETCH(QString, perRow);
    QFETCH(int, sheets);
    QFETCH(double, firstY);
    RecordingCad cad;
    CurveRunSettings in = inputs(CurveKind::Settlement);
    in.pointCount = 4;
    applyBoxTexts(in, {QStringLiteral("200"), QStringLiteral("10"), QStringLiteral("0"), split,
                       lines, perRow});
    Records data = project(5); // point 5 lies above the point count
    QCOMPARE(DrawCurveSheets(cad, snapshotOf(data), in), CurveRunStatus::Drawn);
    const auto frames = cad.insertsOf(QStringLiteral("曲线图框.dxf"));
    QCOMPARE(int(frames.size()), sheets);
    QVERIFY(near(frames[0]->at, {160, 295 - firstY}));
    QVERIFY(cad.textsOn(QStringLiteral("沉_J5")).empty());
}

void SheetDrawingTest::timeAxis_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("labels");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<double>("axisEnd"); // in days
    QTest::addColumn<double>("labelOffset");
    for (const auto &[name, kind, first, offset] :
         {std::tuple{"settlement", CurveKind::Settlement, 1, 1.2},
          std::tuple{"rate", CurveKind::Rate, 0, -1.2},
          std::tuple{"load", CurveKind::Load, 1, -1.2}}) {
        QTest::addRow("%s T=200", name)
            << int(kind) << "200" << 20 + first << 20 << 200.0 << offset;
        QTest::addRow("%s T=205", name)
            << int(kind) << "205" << 20 + first << 20 << 205.0 << offset;
        QTest::addRow("%s T=0", name) << int(kind) << "0" << first << 0 << 0.0 << offset;
    }
}

void SheetDrawingTest::timeAxis()
{
    QFETCH(int, kind);
    QFETCH(QString, time);
    QFETCH(int, labels);
    QFETCH(int, ticks);
    QFETCH(double, axisEnd);
    QFETCH(double, labelOffset);
    RecordingCad cad;
    const CadPoint o{10, 20};
    const SheetScales scales{1.5, 5, 0};
    const double t = time.toDouble();
    if (CurveKind(kind) == CurveKind::Settlement)
        DrawSettlementAxes(cad, o, t, 0, scales, layoutA3());
    else if (CurveKind(kind) == CurveKind::Rate)
        DrawRateAxes(cad, o, t, -1, scales);
    else
        DrawLoadAxes(cad, o, t, -1, scales);
    int timeLabels = 0;
    for (const auto &text : cad.texts)
        if (qAbs(text.at.y - (o.y + labelOffset)) < 1e-9) {
            ++timeLabels;
            QCOMPARE(text.at.x, o.x + text.text.toInt() * 1.5);
            QCOMPARE(text.vertical, labelOffset > 0 ? CadAlign::Bottom : CadAlign::Top);
            QCOMPARE(text.horizontal, CadAlign::Centre);
            QCOMPARE(text.height, 2.0);
            QCOMPARE(text.scale, 0.8);
            QVERIFY(near(*text.alignmentPoint, text.at));
        }
    QCOMPARE(timeLabels, labels);
    int timeTicks = 0;
    for (const auto &p : cad.polylines)
        if (p.vertices[0].y == o.y + 0.5 && p.vertices[1].y == o.y - 0.5)
            ++timeTicks;
    QCOMPARE(timeTicks, ticks);
    QCOMPARE(cad.polylines[0].vertices[1].x, o.x + axisEnd * 1.5); // the axis line
    QCOMPARE(cad.layers.at(ruler), 7);
}

void SheetDrawingTest::settlementAxisLabels()
{
    const CadPoint o{0, 0};
    RecordingCad without;
    DrawSettlementAxes(without, o, 0, 3, {1, 5, 0}, layoutA3());
    // Each axis with its title and unit, after its labels.
    QCOMPARE(textsOf(without.textsOn(ruler)).mid(1),
             (QStringList{"0.0", "-1.0", "-2.0", "-3.0", "时间 (d)", "沉降量 (mm)"}));
    QCOMPARE(without.texts.back().at.y, -3 * 5 - 2.4); // below the axis's end
    QCOMPARE(without.texts[2].at.y, -5.0);
    QCOMPARE(without.texts[2].at.x, -1.2);
    QCOMPARE(without.texts[2].horizontal, CadAlign::Right);
    QCOMPARE(without.texts[2].vertical, CadAlign::Middle);

    CurveLayout withAux = layoutA3();
    withAux.AuxRange = 5;
    withAux.AuxLength = 60;
    RecordingCad with;
    DrawSettlementAxes(with, o, 0, 3, {1, 5, 12}, withAux);
    const QStringList labels = textsOf(with.textsOn(ruler)).mid(1);
    QCOMPARE(labels, (QStringList{"-1.0", "-2.0", "-3.0", "2", "4", "时间 (d)", "沉降量 (mm)", "荷载 (层)"}));
}

void SheetDrawingTest::rateAxis()
{
    RecordingCad cad;
    DrawRateAxes(cad, {0, 0}, 0, 0.3, {1, 600, 0});
    QStringList labels;
    for (const auto &t : cad.texts)
        if (t.at.x == -1.2)
            labels << t.text;
    QCOMPARE(labels.size(), 31);
    QCOMPARE(labels.first(), "0.00");
    QCOMPARE(labels[15], "0.15");
    QCOMPARE(labels.last(), "0.30");
    QCOMPARE(cad.polylines[1].vertices[1].y, 0.3 * 600); // the rate axis line
}

void SheetDrawingTest::auxiliaryAxis()
{
    CurveLayout layout = layoutA3();
    layout.AuxRange = 5;
    layout.AuxLength = 60;
    RecordingCad cad;
    DrawSettlementAxes(cad, {0, 0}, 0, 0, {1, 5, 6}, layout); // Text8 8 floors: scale 60 / 8
    std::vector<double> ticks;
    for (const auto &p : cad.polylines)
        if (p.vertices[0].x == -0.5 && p.vertices[0].y > 0)
            ticks.push_back(p.vertices[0].y);
    QCOMPARE(ticks, (std::vector<double>{12, 24}));
    bool auxLine = false;
    for (const auto &p : cad.polylines)
        auxLine = auxLine || near(p.vertices[1], {0, 60});
    QVERIFY(auxLine);
}

void SheetDrawingTest::workedSettlementVertex()
{
    Records data;
    data.epochs = {{0, "2018-01-01", "A", "0"}, {1, "2018-02-10", "B", "0"}}; // 40 days
    data.elevations = {{0, 1, 100.0}, {1, 1, 99.997}};
    data.points = {{1, "J1", 5, QStringLiteral("菱形")}};
    RecordingCad cad;
    const CadPoint o{1000, 500};
    MarkFiles marks{QStringLiteral("/p/Support/")};
    DrawPointCurve(cad, snapshotOf(data), 1, 1, o, {0.5, 5, 0}, layoutA3(), marks);
    const auto curves = cad.polylinesOn(QStringLiteral("沉_J1"));
    QCOMPARE(curves.size(), size_t(2)); // the legend line and the curve
    const auto &curve = curves[1]->vertices;
    QCOMPARE(curve.size(), size_t(2));
    QVERIFY(near(curve[0], o));
    QVERIFY(near(curve[1], {o.x + 20, o.y - 15}));
    const auto markInserts = cad.insertsOf(QStringLiteral("/p/Support/菱形.dxf"));
    QCOMPARE(markInserts.size(), size_t(2)); // legend and the second vertex, not the first
    QVERIFY(near(markInserts[1]->at, curve[1]));
    QVERIFY(!markInserts[1]->exploded);
}

void SheetDrawingTest::rateVertex()
{
    Records data;
    data.epochs = {{0, "2018-01-01", "A", "0"}, {1, "2018-01-11", "B", "0"}};
    data.elevations = {{0, 1, 100.0}, {0, 2, 50.0}, {1, 1, 99.998}, {1, 2, 49.996}};
    RecordingCad cad;
    const CadPoint o{0, 0};
    DrawRateCurve(cad, snapshotOf(data), 15, o, {2, 100, 0}, MarkFiles{QStringLiteral("/s/")});
    const auto curve = cad.polylinesOn(QStringLiteral("速_"));
    QCOMPARE(curve.size(), size_t(1));
    QVERIFY(near(curve[0]->vertices[0], o));
    QCOMPARE(curve[0]->vertices[1].x, 20.0);
    QVERIFY(qAbs(curve[0]->vertices[1].y - 0.3 * 100) < 1e-6);
    QCOMPARE(cad.insertsOf(QStringLiteral("圆形.dxf")).size(), size_t(1));
    QCOMPARE(cad.layers.at(QStringLiteral("速_")), 7);
}

void SheetDrawingTest::legendRowsAndLayers()
{
    RecordingCad cad;
    cad.layers[QStringLiteral("沉_J2")] = 1; // made by an earlier run in red
    CurveRunSettings in = inputs(CurveKind::Settlement);
    in.linesPerSheet = 6;
    QCOMPARE(DrawCurveSheets(cad, snapshotOf(project(6)), in), CurveRunStatus::Drawn);
    const double x0 = 160, y0 = 295;
    for (int j = 1; j <= 6; ++j) {
        const auto labels = cad.textsOn(QStringLiteral("沉_J%1").arg(j));
        QCOMPARE(labels.size(), size_t(1));
        QVERIFY(near(labels[0]->at, {x0 + 300 + 2 + 17, y0 + 160 - 5.0 * j}));
        QCOMPARE(labels[0]->horizontal, CadAlign::Left);
    }
    QCOMPARE(cad.layers.at(QStringLiteral("沉_J2")), 1); // keeps its colour
    QCOMPARE(cad.layers.at(QStringLiteral("沉_J3")), 5);
    QVERIFY(!cad.calls.contains(QStringLiteral("Layers.Add 沉_J2 5")));
}

void SheetDrawingTest::cancelLeavesSnapOn()
{
    RecordingCad cad;
    cad.pick.reset();
    QCOMPARE(DrawCurveSheets(cad, snapshotOf(project(3)), inputs(CurveKind::Settlement)), CurveRunStatus::Cancelled);
    QCOMPARE(cad.variables.at(QStringLiteral("OsMode")), "32");
    QVERIFY(cad.polylines.empty() && cad.inserts.empty());
    QVERIFY(cad.calls.last().startsWith(QStringLiteral("GetPoint \r\n请指定插入基点：")));

    RecordingCad empty;
    QCOMPARE(DrawCurveSheets(empty, snapshotOf(Records{project(3).epochs, {}, {}, {}}), inputs(CurveKind::Rate)),
             CurveRunStatus::NoElevations);
    QVERIFY(empty.calls.isEmpty());
}

void SheetDrawingTest::loadSheet()
{
    RecordingCad cad;
    CurveRunSettings in = inputs(CurveKind::Load);
    in.layout.CurveRange = 30;
    in.layout.CurveLength = 180;
    in.ranges.curve = 30;
    in.frameDir.clear(); // no template: no frame
    QCOMPARE(DrawCurveSheets(cad, snapshotOf(project(2)), in), CurveRunStatus::Drawn);
    QVERIFY(cad.insertsOf(QStringLiteral("图框.dxf")).empty());
    const auto curve = cad.polylinesOn(QStringLiteral("荷_"));
    QCOMPARE(curve.size(), size_t(1));
    QVERIFY(near(curve[0]->vertices[0], {160, 295 + 2 * 6}));
    QVERIFY(near(curve[0]->vertices[1], {160 + 10 * 1.5, 295 + 4 * 6}));
    QCOMPARE(cad.insertsOf(QStringLiteral("叉叉.dxf")).size(), size_t(2));
}

void SheetDrawingTest::pointWithoutRecord()
{
    Records data = project(2);
    data.points.clear();
    RecordingCad cad;
    DrawPointCurve(cad, snapshotOf(data), 2, 1, {0, 0}, {1, 1, 0}, layoutA3(),
                   MarkFiles{QStringLiteral("/s/")});
    QCOMPARE(cad.layers.at(QStringLiteral("沉_2")), 7);
    QCOMPARE(cad.insertsOf(QStringLiteral("圆形.dxf")).size(), size_t(2));
    QCOMPARE(textsOf(cad.textsOn(QStringLiteral("沉_2"))), QStringList{"2"});
}

void SheetDrawingTest::labelSteps_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<double>("range");
    QTest::addColumn<double>("length");
    QTest::addColumn<double>("step");
    const auto row = [](const char *name, AxisKind axis, double range, double length, double step) {
        QTest::newRow(name) << int(axis) << range << length << step;
    };
    // The shipped layouts' defaults keep the hand-drawn sheets' steps.
    row("A3 time 200 d", AxisKind::Time, 200, 280, 10);
    row("A3 settlement 10 mm", AxisKind::Settlement, 10, 150, 1);
    row("A3 rate 0.5 mm/d", AxisKind::Rate, 0.5, 180, 0.01);
    row("A3 load 30 floors", AxisKind::Load, 30, 180, 3);
    row("A3 auxiliary 30 floors", AxisKind::Aux, 30, 60, 2);
    row("A4 time 200 d", AxisKind::Time, 200, 190, 10);
    row("A4 settlement 10 mm", AxisKind::Settlement, 10, 100, 1);
    row("A4 rate 0.5 mm/d", AxisKind::Rate, 0.5, 150, 0.01);
    row("A4 load 30 floors", AxisKind::Load, 30, 125, 3);
    row("A4 auxiliary 30 floors", AxisKind::Aux, 30, 45, 2);
    // Wide ranges: the first of 2, 5, 10 ... times the step that keeps labels apart.
    row("time 3000 d", AxisKind::Time, 3000, 280, 100);
    row("time 1000 d", AxisKind::Time, 1000, 280, 50);
    row("settlement 120 mm", AxisKind::Settlement, 120, 150, 5);
    row("rate 2 mm/d", AxisKind::Rate, 2, 180, 0.05);
    row("load 200 floors", AxisKind::Load, 200, 180, 6);
}

void SheetDrawingTest::labelSteps()
{
    QFETCH(int, axis);
    QFETCH(double, range);
    QFETCH(double, length);
    QFETCH(double, step);
    const double found = axisLabelStep(AxisKind(axis), range, length / range);
    QCOMPARE(found, step);
    // Neighbouring labels at least one and a half label heights (2) apart.
    QVERIFY(found * length / range >= 3 - 1e-9);
    if (AxisKind(axis) == AxisKind::Rate) {
        // The axis as drawn: a label at each step from 0 to the range.
        RecordingCad cad;
        DrawRateAxes(cad, {0, 0}, 0, range, {1, length / range, 0});
        QStringList labels;
        for (const auto &t : cad.texts)
            if (t.at.x == -1.2)
                labels << t.text;
        QCOMPARE(labels.size(), qRound(range / step) + 1);
        QCOMPARE(labels[1], formatFixed(step, 2));
    }
}

void SheetDrawingTest::fittedRanges_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("days");
    QTest::addColumn<double>("sinkingMm");
    QTest::addColumn<QString>("floors");
    QTest::addColumn<QList<double>>("ranges"); // time, curve, aux
    const auto row = [](const char *name, CurveKind kind, double days, double mm,
                        const char *floors, QList<double> ranges) {
        QTest::newRow(name) << int(kind) << days << mm << QString::fromLatin1(floors) << ranges;
    };
    row("inside the layout", CurveKind::Settlement, 40, 4, "6", {200, 10, 30});
    row("480 days, 12.3 mm", CurveKind::Settlement, 480, 12.3, "6", {480, 13, 30});
    row("many floors", CurveKind::Settlement, 40, 4, "33", {200, 10, 34});
    // Only settlement sheets fit their auxiliary axis.
    row("load 33 floors", CurveKind::Load, 40, 4, "33", {200, 33, 30});
    row("rate 0.6 mm/d", CurveKind::Rate, 10, 6, "1", {200, 0.6, 30});
}

void SheetDrawingTest::fittedRanges()
{
    QFETCH(int, kind);
    QFETCH(double, days);
    QFETCH(double, sinkingMm);
    QFETCH(QString, floors);
    QFETCH(QList<double>, ranges);
    CurveLayout layout = layoutA3();
    layout.TimeLength = 280;
    layout.AuxRange = 30;
    layout.AuxLength = 60;
    if (CurveKind(kind) == CurveKind::Rate) {
        layout.CurveRange = 0.5;
        layout.CurveLength = 180;
    } else if (CurveKind(kind) == CurveKind::Load) {
        layout.CurveRange = 30;
        layout.CurveLength = 180;
    }
    Records records;
    records.epochs = {{0, "2018-01-01", "A", "1"},
                      {1, QDate(2018, 1, 1).addDays(qint64(days)).toString(Qt::ISODate), "B", floors}};
    records.elevations = {{0, 1, 100}, {1, 1, 100 - sinkingMm / 1000}};
    const ProjectSnapshot snapshot = snapshotOf(records);
    const DataFit fit = fitData(layout, CurveKind(kind), snapshot, 15);
    const AxisRanges fitted = fit.fitted;
    QCOMPARE(fitted.time, ranges[0]);
    QVERIFY2(qAbs(fitted.curve - ranges[1]) < 1e-9, qPrintable(QString::number(fitted.curve)));
    QCOMPARE(fitted.aux, ranges[2]);

    // No axis is short at the fitted ranges; from the layout's, the short
    // ones are named, and widening them leaves none.
    CurveRunSettings in;
    in.kind = CurveKind(kind);
    in.layout = layout;
    in.ranges = fitted;
    QVERIFY(axisShortfalls(in, fit).empty());
    in.ranges = defaultAxisRanges(layout, in.kind);
    const auto shortfalls = axisShortfalls(in, fit);
    const size_t expected = (fitted.time > in.ranges.time) + (fitted.curve > in.ranges.curve + 1e-9)
                            + (fitted.aux > in.ranges.aux);
    QCOMPARE(shortfalls.size(), expected);
    widenAxes(in, shortfalls);
    QVERIFY(axisShortfalls(in, fit).empty());
}

QTEST_GUILESS_MAIN(SheetDrawingTest)
#include "tst_sheetdrawing.moc"
