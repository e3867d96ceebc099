// sedimetra-batch curves: the curve sheets of a project as a DXF drawing,
// as the window's output button makes them.
#include "batch/commandline.h"

#include "base/outputguard.h"
#include "base/programfiles.h"
#include "project/settingsstore.h"
#include "base/textnumber.h"
#include "cad/curvesrun.h"
#include "cad/drawing.h"
#include "cad/dxffile.h"
#include "project/serverstore.h"

#include <QDir>

#include <cmath>
#include <cstdio>
#include <set>

namespace {

// A range given too small is drawn as asked, with a word on stderr.
void warnShortAxes(const CurveRunSettings &in, const DataFit &fit, CurveKind kind)
{
    const int curveDecimals = curveAxisDecimals(kind);
    for (const AxisShortfall &s : axisShortfalls(in, fit)) {
        const char *option = s.axis == AxisShortfall::Time    ? "--time"
                             : s.axis == AxisShortfall::Curve ? "--curve"
                                                              : "--aux";
        const int decimals = s.axis == AxisShortfall::Curve ? curveDecimals : 0;
        std::fprintf(stderr,
                     "sedimetra-batch: warning: the data reach %s on the axis of %s, "
                     "beyond its range %s; %s %s would hold them\n",
                     qPrintable(formatFixed(s.extent, decimals ? decimals + 1 : 0)), option,
                     qPrintable(formatFixed(s.range, decimals)), option,
                     qPrintable(formatFixed(s.fitted, decimals)));
    }
}

// The base point of the first sheet (--base X,Y), if given; an exit code
// when it is no point on a sheet.
std::optional<int> readBase(const CommandLine &line, CadPoint *at)
{
    CadPoint &base = *at;
    if (line.isSet(QStringLiteral("base"))) {
        const QStringList xy = line.value(QStringLiteral("base")).split(QLatin1Char(','));
        bool okX = false, okY = false;
        if (xy.size() == 2) {
            base = {xy[0].trimmed().toDouble(&okX), xy[1].trimmed().toDouble(&okY)};
        }
        if (!okX || !okY)
            return line.wrong(QStringLiteral("--base takes X,Y"));
        if (!std::isfinite(base.x) || !std::isfinite(base.y)
            || std::fabs(base.x) > maxBaseCoordinate || std::fabs(base.y) > maxBaseCoordinate)
            return failure(QStringLiteral("the base point %1 is not a point on a sheet "
                                          "(finite, within ±1e9)")
                               .arg(line.value(QStringLiteral("base"))));
    }
    return std::nullopt;
}

} // namespace

int curvesCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral(
        "curves PROJECT.mdb --kind settlement|rate|load [--frame NAME] [--base X,Y] [--time T]\n"
        "       [--curve S] [--aux A] [--lines N | --no-split] [--per-row R] [--out FILE.dxf]\n"
        "       curves PROJECT.mdb --kind plan [--epoch N] [--scale 200] [--frame NAME] [--base X,Y]\n"
        "       [--out FILE.dxf]"));
    line.option(QStringLiteral("kind"), QStringLiteral("settlement|rate|load|plan"), QStringLiteral("the kind of curve, or the plan"));
    line.option(QStringLiteral("epoch"), QStringLiteral("N"), QStringLiteral("the plan's epoch (default: the last)"));
    line.option(QStringLiteral("scale"), QStringLiteral("S"), QStringLiteral("the plan's scale 1:S (default: one that fits)"));
    line.option(QStringLiteral("frame"), QStringLiteral("NAME"), QStringLiteral("the frame template (Support/Frame)"));
    line.option(QStringLiteral("base"), QStringLiteral("X,Y"), QStringLiteral("the base point of the first sheet"));
    line.option(QStringLiteral("time"), QStringLiteral("T"), QStringLiteral("the time axis, days"));
    line.option(QStringLiteral("curve"), QStringLiteral("S"), QStringLiteral("the curve axis"));
    line.option(QStringLiteral("aux"), QStringLiteral("A"), QStringLiteral("the auxiliary axis"));
    line.option(QStringLiteral("lines"), QStringLiteral("N"), QStringLiteral("curves per sheet"));
    line.flag(QStringLiteral("no-split"), QStringLiteral("every curve on one sheet"));
    line.option(QStringLiteral("per-row"), QStringLiteral("R"), QStringLiteral("sheets per row"));
    line.option(QStringLiteral("out"), QStringLiteral("FILE.dxf"), QStringLiteral("the drawing (default: beside the project)"));
    if (const auto done = line.parse(args, 1, 1))
        return *done;
    const QString projectPath = line.positional().front();
    const QString kindName = line.value(QStringLiteral("kind"));
    CurveKind kind = CurveKind::Settlement;
    if (kindName == QLatin1String("settlement"))
        kind = CurveKind::Settlement;
    else if (kindName == QLatin1String("rate"))
        kind = CurveKind::Rate;
    else if (kindName == QLatin1String("load"))
        kind = CurveKind::Load;
    else if (kindName != QLatin1String("plan"))
        return line.wrong(QStringLiteral("--kind must be settlement, rate, load or plan"));
    CadPoint base;
    if (const auto wrong = readBase(line, &base))
        return *wrong;

    if (kindName == QLatin1String("plan"))
        return planSheetCommand(line, projectPath, base);

    SettingsStore settings;
    std::map<QString, QString> headerFields;
    const auto snapshot = openInputs(projectPath, &settings, &headerFields);
    if (!snapshot)
        return failure(snapshot.error());
    // Epochs of an unusable date stay off the sheets (the loader said so).
    const ProjectSnapshot sheets = snapshot->withUsableDates();
    CurveRequest request;
    request.settings = &settings;
    request.headerFields = headerFields;
    request.programDir = programDir();
    request.projectPath = projectPath;
    request.output = line.value(QStringLiteral("out"));
    request.kind = kind;
    const auto given = [&](const char *name) -> std::optional<QString> {
        if (!line.isSet(QLatin1String(name)))
            return std::nullopt;
        return line.value(QLatin1String(name));
    };
    request.frameName = given("frame");
    request.time = given("time");
    request.curve = given("curve");
    request.aux = given("aux");
    request.lines = given("lines");
    request.perRow = given("per-row");
    request.split = !line.isSet(QStringLiteral("no-split"));
    const auto run = prepareCurveRun(request, sheets);
    if (!run)
        return failure(run.error());
    const CurveRunSettings &in = run->settings;
    if (sheets.hasElevations())
        warnShortAxes(run->settings, run->fit, kind);
    const QString &out = run->output;
    Drawing drawing(readDxfFile, [base](const QString &, CadPoint) { return std::optional<CadPoint>(base); });
    drawing.setOutputPath(out);
    const auto status = runCurveSheets(drawing, sheets, in);
    if (!status)
        return failure(status.error());
    switch (*status) {
    case CurveRunStatus::FontMissing:
        return failure(QStringLiteral("对不起，字库没找到！ (font settings 字体1/字体2)"));
    case CurveRunStatus::NoElevations:
        return failure(QStringLiteral("the project %1 has no elevations")
                           .arg(QDir::toNativeSeparators(shownProjectPath(projectPath))));
    case CurveRunStatus::Cancelled:
    case CurveRunStatus::Drawn:
        break;
    }
    std::set<QString> written;
    if (auto saved = writeDxfFile(drawing, out, &written); !saved)
        return failure(saved.error());
    if (const QString unread = drawing.unreadBlocksText(); !unread.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(unread));
    std::printf("%s\n", qPrintable(QStringLiteral("%1已写入 %2").arg(layoutSection(kind), QDir::toNativeSeparators(out))));
    return 0;
}
