// sedimetra-batch curves: the curve sheets of a project as a DXF drawing,
// as the window's output button makes them.
#include "batch/commandline.h"

#include "base/outputguard.h"
#include "base/programfiles.h"
#include "base/settings.h"
#include "base/textnumber.h"
#include "cad/curvesrun.h"
#include "cad/drawing.h"
#include "cad/dxffile.h"
#include "project/serverstore.h"

#include <QDir>

#include <cmath>
#include <cstdio>
#include <set>

int curvesCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral(
        "curves PROJECT.mdb --kind settlement|rate|load [--frame NAME] [--base X,Y] [--time T]\n"
        "       [--curve S] [--aux A] [--lines N | --no-split] [--per-row R] [--out FILE.dxf]"));
    line.option(QStringLiteral("kind"), QStringLiteral("settlement|rate|load"), QStringLiteral("the kind of curve"));
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
    CurveKind kind;
    if (kindName == QLatin1String("settlement"))
        kind = CurveKind::Settlement;
    else if (kindName == QLatin1String("rate"))
        kind = CurveKind::Rate;
    else if (kindName == QLatin1String("load"))
        kind = CurveKind::Load;
    else
        return line.wrong(QStringLiteral("--kind must be settlement, rate or load"));
    CadPoint base;
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

    const QString programDir = ::programDir();
    SettingsStore settings;
    std::map<QString, QString> headerFields;
    const auto snapshot = openInputs(projectPath, &settings, &headerFields);
    if (!snapshot)
        return failure(snapshot.error());
    // Epochs of an unusable date stay off the sheets (the loader said so).
    const ProjectSnapshot sheets = snapshot->withUsableDates();

    CurveRunSettings in;
    in.kind = kind;
    in.pointCount = pointCountFromSetting(settings.readSetting(SettingKey::PointCount));
    const QString frame =
        line.value(QStringLiteral("frame"),
                      settings.readSetting(SettingKey::FrameTemplate)
                          .value_or(frameTemplateEntries(frameTemplatesDir(programDir)).value(0)));
    if (!frame.isEmpty()) {
        const QString folder = findIgnoringCase(frameTemplatesDir(programDir), frame);
        if (folder.isEmpty())
            return failure(
                QStringLiteral("no frame template %1 in %2")
                    .arg(frame, QDir::toNativeSeparators(frameTemplatesDir(programDir))));
        in.frameDir = folder;
        in.layout = LoadCurveLayout(frameLayoutFile(programDir, frame), kind);
    }
    in.marks.supportDir = programDir + QStringLiteral("Support/");
    // An axis not given takes the range fitted to the data, as the window's
    // boxes show it for the project.
    const DataFit fit = fitData(in.layout, kind, sheets, in.pointCount);
    const AxisRanges &fitted = fit.fitted;
    const int curveDecimals = curveAxisDecimals(kind);
    CurveBoxTexts texts;
    texts.time = line.value(QStringLiteral("time"), formatFixed(fitted.time, 0));
    texts.curve =
        line.value(QStringLiteral("curve"), formatFixed(fitted.curve, curveDecimals));
    texts.aux = line.value(QStringLiteral("aux"), formatFixed(fitted.aux, 0));
    texts.split = !line.isSet(QStringLiteral("no-split"));
    texts.lines =
        line.value(QStringLiteral("lines"), settings.readSettingOr(SettingKey::LinesPerSheet));
    texts.perRow = line.value(QStringLiteral("per-row"),
                                 settings.readSettingOr(SettingKey::SheetsPerRow));
    applyBoxTexts(in, texts);
    in.font = settings.readSettingOr(SettingKey::Font1).trimmed();
    in.bigFont = settings.readSettingOr(SettingKey::Font2).trimmed();
    in.titleValues = titleBlockValues(headerFields, sheets);
    if (sheets.hasElevations()) {
        // A range given too small is drawn as asked, with a word.
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

    const QString out = line.value(QStringLiteral("out"), drawingPathOf(projectPath));
    const ProtectedFiles keep = curveRunProtectedFiles(programDir, projectPath, in, sheets);
    if (auto allowed = keep.checkOutput(out); !allowed)
        return failure(allowed.error());
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
    return 0;
}
