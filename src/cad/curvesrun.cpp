#include "cad/curvesrun.h"

#include "base/programfiles.h"

#include "project/settingsstore.h"
#include "base/textnumber.h"

#include "domain/settlementrules.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <set>
#include <cmath>

int curveAxisDecimals(CurveKind kind)
{
    return kind == CurveKind::Rate ? 2 : kind == CurveKind::Load ? 0 : 1;
}

AxisRanges defaultAxisRanges(const CurveLayout &layout, CurveKind kind)
{
    // As the box shows the number, so that a run from the defaults draws
    // what the window would.
    return {leadingNumber(formatFixed(layout.TimeRange, 0)),
            leadingNumber(formatFixed(layout.CurveRange, curveAxisDecimals(kind))),
            leadingNumber(formatFixed(layout.AuxRange, 0))};
}

namespace {

double mostFloors(const ProjectSnapshot &snapshot)
{
    double most = 0;
    for (const Epoch &epoch : snapshot.epochs())
        most = std::max(most, leadingNumber(epoch.layers));
    return most;
}

// The extent rounded up to the label step the axis will have at that range.
double roundedUp(double extent, AxisKind axis, double length, double layoutRange)
{
    if (!(extent > 0))
        return 0;
    double range = extent;
    for (int pass = 0; pass < 2; ++pass) {
        const double step =
            axisLabelStep(axis, range, axisScale(length, layoutRange, range));
        // A millionth of a step is the noise of the elevations' arithmetic.
        range = std::ceil(extent / step - 1e-6) * step;
    }
    return range;
}

AxisKind curveAxisOf(CurveKind kind)
{
    return kind == CurveKind::Rate   ? AxisKind::Rate
           : kind == CurveKind::Load ? AxisKind::Load
                                     : AxisKind::Settlement;
}

} // namespace

AxisRanges dataExtents(const ProjectSnapshot &snapshot, CurveKind kind, int pointCount)
{
    AxisRanges extents;
    for (int e = 0; e < snapshot.epochCount(); ++e)
        extents.time = std::max(extents.time, double(snapshot.daysSinceFirst(e)));
    switch (kind) {
    case CurveKind::Settlement:
        for (int n = 1; n <= pointCount; ++n) {
            const int column = snapshot.columnOf(n);
            if (column < 0)
                continue;
            for (const CurvePoint &p : SettlementCurve(snapshot, column))
                extents.curve = std::max(extents.curve, -p.mm);
        }
        extents.aux = mostFloors(snapshot);
        break;
    case CurveKind::Rate:
        for (int e = 1; e < snapshot.epochCount(); ++e)
            if (const auto rate = MeanSinkingRate(snapshot, e, pointCount))
                extents.curve = std::max(extents.curve, *rate);
        break;
    case CurveKind::Load:
        extents.curve = mostFloors(snapshot);
        break;
    }
    return extents;
}

DataFit fitData(const CurveLayout &layout, CurveKind kind, const ProjectSnapshot &snapshot,
                int pointCount)
{
    const AxisRanges defaults = defaultAxisRanges(layout, kind);
    const AxisRanges extents = dataExtents(snapshot, kind, pointCount);
    AxisRanges fitted;
    fitted.time = std::max(defaults.time, roundedUp(extents.time, AxisKind::Time,
                                                    layout.TimeLength, layout.TimeRange));
    fitted.curve = std::max(defaults.curve, roundedUp(extents.curve, curveAxisOf(kind),
                                                      layout.CurveLength, layout.CurveRange));
    fitted.aux = defaults.aux;
    if (kind == CurveKind::Settlement && layout.AuxRange != 0)
        fitted.aux = std::max(defaults.aux, roundedUp(extents.aux, AxisKind::Aux,
                                                      layout.AuxLength, layout.AuxRange));
    return {extents, fitted};
}

std::vector<AxisShortfall> axisShortfalls(const CurveRunSettings &in, const DataFit &fit)
{
    const AxisRanges &extents = fit.extents, &fitted = fit.fitted;
    std::vector<AxisShortfall> shortfalls;
    auto check = [&](AxisShortfall::Axis axis, double extent, double given, double layoutRange,
                     double fit) {
        const double range = std::max(given, layoutRange);
        if (extent > range + 1e-9 * std::max(1.0, range))
            shortfalls.push_back({axis, extent, range, std::max(fit, extent)});
    };
    check(AxisShortfall::Time, extents.time, in.ranges.time, in.layout.TimeRange, fitted.time);
    check(AxisShortfall::Curve, extents.curve, in.ranges.curve, in.layout.CurveRange,
          fitted.curve);
    if (in.kind == CurveKind::Settlement && in.layout.AuxRange != 0)
        check(AxisShortfall::Aux, extents.aux, in.ranges.aux, in.layout.AuxRange, fitted.aux);
    return shortfalls;
}

void widenAxes(CurveRunSettings &in, const std::vector<AxisShortfall> &shortfalls)
{
    for (const AxisShortfall &s : shortfalls) {
        double &range = s.axis == AxisShortfall::Time    ? in.ranges.time
                        : s.axis == AxisShortfall::Curve ? in.ranges.curve
                                                         : in.ranges.aux;
        range = std::max(range, s.fitted);
    }
}

void applyBoxTexts(CurveRunSettings &settings, const CurveBoxTexts &texts)
{
    settings.ranges = {leadingNumber(texts.time), leadingNumber(texts.curve),
                       leadingNumber(texts.aux)};
    settings.linesPerSheet =
        std::max(1, texts.split ? roundHalfEven(leadingNumber(texts.lines)) : settings.pointCount);
    settings.sheetsPerRow = roundHalfEven(leadingNumber(texts.perRow));
}

Result<void> checkCurveNumbers(const CurveRunSettings &in)
{
    struct Bounded
    {
        const char16_t *what;
        double value, low, high;
    };
    const CurveLayout &l = in.layout;
    constexpr double sheet = 100000;
    const double curveBound = in.kind == CurveKind::Rate   ? 1000
                              : in.kind == CurveKind::Load ? 1000
                                                           : 100000;
    const Bounded numbers[] = {
        {u"图幅宽度", l.SheetWidth, 0, sheet},       {u"图幅高度", l.SheetHeight, 0, sheet},
        {u"基点位置", l.BaseOffsetX, -sheet, sheet}, {u"基点位置", l.BaseOffsetY, -sheet, sheet},
        {u"时间轴范围", l.TimeRange, 0, 100000},     {u"时间轴长度", l.TimeLength, 0, sheet},
        {u"曲线轴范围", l.CurveRange, 0, curveBound}, {u"曲线轴长度", l.CurveLength, 0, sheet},
        {u"辅助轴范围", l.AuxRange, 0, 1000},        {u"辅助轴长度", l.AuxLength, 0, sheet},
        {u"图例位置", l.LegendX, -sheet, sheet},     {u"图例位置", l.LegendY, -sheet, sheet},
        {u"时间轴", in.ranges.time, 0, 100000},      {u"曲线轴", in.ranges.curve, 0, curveBound},
        {u"辅助轴", in.ranges.aux, 0, 1000},
    };
    for (const Bounded &n : numbers)
        if (!std::isfinite(n.value) || n.value < n.low || n.value > n.high)
            return fail(QStringLiteral("%1 的值 %2 无效（应在 %3 到 %4 之间）")
                            .arg(QString::fromUtf16(n.what), QString::number(n.value),
                                 QString::number(n.low), QString::number(n.high)));
    return success();
}

Result<CurveRunStatus> runCurveSheets(CadInterface &cad, const ProjectSnapshot &snapshot,
                                      const CurveRunSettings &in)
{
    if (auto sane = checkCurveNumbers(in); !sane)
        return sane.failure();
    const auto connected = ConnectCad(cad, in.font, in.bigFont);
    if (!connected)
        return connected.failure();
    switch (*connected) {
    case ConnectResult::FontMissing:
        return CurveRunStatus::FontMissing;
    case ConnectResult::Ready:
        break;
    }
    return DrawCurveSheets(cad, snapshot, in);
}

CurveRunStatus DrawCurveSheets(CadInterface &cad, const ProjectSnapshot &snapshot,
                               const CurveRunSettings &in)
{
    if (!snapshot.hasElevations())
        return CurveRunStatus::NoElevations;
    const CurveLayout &layout = in.layout;
    const double timeRange = in.ranges.time;
    const double curveRange = in.ranges.curve;
    const SheetScales scales{axisScale(layout.TimeLength, layout.TimeRange, timeRange),
                             axisScale(layout.CurveLength, layout.CurveRange, curveRange),
                             axisScale(layout.AuxLength, layout.AuxRange, in.ranges.aux)};

    cad.setVariable(QStringLiteral("OsMode"), QStringLiteral("32"));
    const auto picked = cad.getPoint(QStringLiteral("\r\n请指定插入基点："));
    // A point no sheet could be drawn at counts as no point.
    if (!picked || !std::isfinite(picked->x) || !std::isfinite(picked->y)
        || std::fabs(picked->x) > maxBaseCoordinate || std::fabs(picked->y) > maxBaseCoordinate)
        return CurveRunStatus::Cancelled;
    cad.setVariable(QStringLiteral("OsMode"), QStringLiteral("0"));
    const CadPoint base{picked->x + layout.BaseOffsetX, picked->y + layout.BaseOffsetY};

    auto drawFrame = [&](CadPoint origin) {
        if (in.frameDir.isEmpty())
            return;
        const int reference =
            cad.insertBlock(origin, in.frameDir + QLatin1Char('/') + frameFileName(in.kind));
        if (reference != 0) {
            cad.explode(reference, in.titleValues);
            cad.erase(reference);
        }
    };

    if (in.kind == CurveKind::Rate) {
        drawFrame(base);
        DrawRateAxes(cad, base, timeRange, curveRange, scales);
        DrawRateCurve(cad, snapshot, in.pointCount, base, scales, in.marks);
        return CurveRunStatus::Drawn;
    }
    if (in.kind == CurveKind::Load) {
        drawFrame(base);
        DrawLoadAxes(cad, base, timeRange, curveRange, scales);
        DrawLoadCurve(cad, snapshot, base, scales.time, scales.curve, in.marks);
        return CurveRunStatus::Drawn;
    }

    // Settlement sheets: N lines a sheet, R sheets a row, rows downwards.
    const int lines = std::max(1, in.linesPerSheet);
    const int perRow = in.sheetsPerRow;
    int row = 1, column = 0, i = 0, legendRow = 0;
    CadPoint origin = base;
    for (int n = 1; n <= in.pointCount; ++n) {
        if (!snapshot.isObserved(n))
            continue;
        ++i;
        ++legendRow;
        if ((i - 1) % lines == 0) {
            legendRow = 1;
            if (++column > perRow) {
                ++row;
                column = 1;
            }
            origin = {base.x + (column - 1) * layout.SheetWidth,
                      base.y - (row - 1) * layout.SheetHeight};
            drawFrame(origin);
            DrawSettlementAxes(cad, origin, timeRange, curveRange, scales, layout);
            if (layout.AuxRange != 0)
                DrawLoadCurve(cad, snapshot, origin, scales.time, scales.aux, in.marks);
        }
        DrawPointCurve(cad, snapshot, n, legendRow, origin, scales, layout, in.marks);
    }
    return CurveRunStatus::Drawn;
}

std::map<QString, QString> titleBlockValues(std::map<QString, QString> values,
                                            const ProjectSnapshot &snapshot)
{
    if (!snapshot.epochs().empty())
        values[QStringLiteral("日期")] = snapshot.epochs().back().date;
    return values;
}

ProtectedFiles curveRunProtectedFiles(const QString &programDir, const QString &projectPath,
                                      const CurveRunSettings &in, const ProjectSnapshot &snapshot)
{
    std::set<QString> inputs;
    if (!in.frameDir.isEmpty())
        inputs.insert(in.frameDir + QLatin1Char('/') + frameFileName(in.kind));
    for (const QString &mark : {QStringLiteral("圆形"), QStringLiteral("叉叉")})
        inputs.insert(in.marks.file(mark));
    for (const Point &point : snapshot.points())
        inputs.insert(in.marks.file(point.mark));
    ProtectedFiles keep = programFiles(programDir, projectPath);
    for (const QString &input : inputs)
        keep.add(QStringLiteral("要插入的图形"), input); // an empty path is never added
    return keep;
}

QString drawingPathOf(const QString &projectPath, const QString &kind)
{
    return outputPathOf(projectPath, QLatin1Char('_') + kind + QStringLiteral(".dxf"));
}

Result<CurveRun> prepareCurveRun(const CurveRequest &request, const ProjectSnapshot &sheets)
{
    const SettingsStore &settings = *request.settings;
    const QString &programDir = request.programDir;
    CurveRun run;
    CurveRunSettings &in = run.settings;
    in.kind = request.kind;
    in.pointCount = request.pointCount.value_or(
        pointCountFromSetting(settings.readSetting(SettingKey::PointCount)));
    const QString frame = request.frameName.value_or(
        settings.readSetting(SettingKey::FrameTemplate)
            .value_or(allFrameTemplateEntries(programDir).value(0)));
    if (!frame.isEmpty()) {
        const QString folder = frameTemplateFolder(programDir, frame);
        if (folder.isEmpty())
            return fail(QStringLiteral("没有图框模板“%1”（%2）")
                            .arg(frame, QDir::toNativeSeparators(frameTemplatesDir(programDir))));
        in.frameDir = folder;
    }
    in.layout = request.layout ? *request.layout
                : frame.isEmpty()
                    ? CurveLayout()
                    : LoadCurveLayout(frameLayoutFile(programDir, frame), request.kind);
    in.marks.supportDir = programDir + QStringLiteral("Support/");
    run.fit = fitData(in.layout, in.kind, sheets, in.pointCount);
    const AxisRanges &fitted = run.fit.fitted;
    CurveBoxTexts texts;
    texts.time = request.time.value_or(formatFixed(fitted.time, 0));
    texts.curve = request.curve.value_or(formatFixed(fitted.curve, curveAxisDecimals(in.kind)));
    texts.aux = request.aux.value_or(formatFixed(fitted.aux, 0));
    texts.split = request.split;
    texts.lines = request.lines.value_or(settings.readSettingOr(SettingKey::LinesPerSheet));
    texts.perRow = request.perRow.value_or(settings.readSettingOr(SettingKey::SheetsPerRow));
    applyBoxTexts(in, texts);
    in.font = request.font.value_or(settings.readSettingOr(SettingKey::Font1)).trimmed();
    in.bigFont = request.bigFont.value_or(settings.readSettingOr(SettingKey::Font2)).trimmed();
    in.titleValues = titleBlockValues(request.headerFields, sheets);
    run.output = request.output.isEmpty() ? drawingPathOf(request.projectPath, layoutSection(request.kind))
                                          : request.output;
    const ProtectedFiles keep = curveRunProtectedFiles(programDir, request.projectPath, in, sheets);
    if (auto allowed = keep.checkOutput(run.output); !allowed)
        return allowed.failure();
    return run;
}
