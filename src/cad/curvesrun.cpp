#include "cad/curvesrun.h"

#include "base/textnumber.h"

#include <QFileInfo>

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

void applyBoxTexts(CurveRunSettings &settings, const CurveBoxTexts &texts)
{
    settings.ranges = {leadingNumber(texts.time), leadingNumber(texts.curve),
                       leadingNumber(texts.aux)};
    settings.linesPerSheet =
        std::max(1, texts.split ? roundHalfEven(leadingNumber(texts.lines)) : settings.pointCount);
    settings.sheetsPerRow = roundHalfEven(leadingNumber(texts.perRow));
}

Result<CurveRunStatus> runCurveSheets(CadInterface &cad, const ProjectSnapshot &snapshot,
                                      const CurveRunSettings &in)
{
    QString error;
    switch (ConnectCad(cad, in.font, in.bigFont, &error)) {
    case ConnectResult::AttachFailed:
        return fail(error);
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
    if (!picked)
        return CurveRunStatus::Cancelled;
    cad.setVariable(QStringLiteral("OsMode"), QStringLiteral("0"));
    const CadPoint base{picked->x + layout.BaseOffsetX, picked->y + layout.BaseOffsetY};

    auto drawFrame = [&](CadPoint origin) {
        if (in.frameDir.isEmpty())
            return;
        const int reference =
            cad.insertBlock(origin, in.frameDir + QLatin1Char('/') + frameFileName(in.kind));
        if (reference != 0) {
            cad.explode(reference);
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

QString drawingPathOf(const QString &projectPath)
{
    const QFileInfo info(projectPath);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName()
           + QStringLiteral(".dxf");
}
