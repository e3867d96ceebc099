// sedimetra-batch coords and plan: the points' positions from a CSV file, a
// workbook or the building's plan drawing; and the figures the plan view and
// the plan sheet draw for one epoch, as JSON.
#include "batch/commandline.h"

#include "base/programfiles.h"
#include "project/settingsstore.h"
#include "cad/curvesrun.h"
#include "cad/drawing.h"
#include "cad/dxffile.h"
#include "cad/planpositions.h"
#include "cad/plansheet.h"
#include "project/projectdb.h"
#include "project/serverstore.h"
#include "domain/buildingdeformation.h"
#include "domain/monitoringmodel.h"
#include "survey/pointpositions.h"
#include "domain/stability.h"
#include "survey/domaininputs.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <cstdio>
#include <set>

int coordsCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("coords PROJECT.mdb FILE.csv|FILE.xlsx|FILE.dat|FILE.dxf [--axes ne|en] [--unit mm|cm|m]"));
    line.option(QStringLiteral("axes"), QStringLiteral("ne|en"),
                QStringLiteral("a table's two columns: ne north then east (survey X, Y; also xy), en east then "
                               "north. Without it: as the numbers show on a national grid (7-digit northing, "
                               "6- or 8-digit easting), else as the headings name them, else north then east, "
                               "said on stderr"));
    line.option(QStringLiteral("unit"), QStringLiteral("mm|cm|m"),
                QStringLiteral("a drawing's unit, over its header's $INSUNITS too (without it: the header's, "
                               "else judged; a building narrower than 3 m or wider than 3 km is refused)"));
    if (const auto done = line.parse(args, 2, 2))
        return *done;
    std::optional<PositionAxes> axes;
    if (line.isSet(QStringLiteral("axes"))) {
        const QString given = line.value(QStringLiteral("axes"));
        if (given == QLatin1String("ne") || given == QLatin1String("xy"))
            axes = PositionAxes::NorthEast;
        else if (given == QLatin1String("en"))
            axes = PositionAxes::EastNorth;
        else
            return line.wrong(QStringLiteral("--axes must be ne or en"));
    }
    std::optional<PlanUnit> unit;
    if (line.isSet(QStringLiteral("unit"))) {
        unit = planUnitNamed(line.value(QStringLiteral("unit")));
        if (!unit)
            return line.wrong(QStringLiteral("--unit must be mm, cm or m"));
    }
    const QString projectPath = line.positional()[0];
    const QString source = line.positional()[1];
    auto session = openSession(projectPath);
    if (!session)
        return failure(session.error());
    Result<PositionSummary> placed = fail(QString());
    if (source.endsWith(QLatin1String(".dxf"), Qt::CaseInsensitive)) {
        const auto reading = readPlanPositions(source, (*session)->snapshot().points(), unit);
        if (!reading)
            return failure(reading.error());
        // A width no building has: refused, with the figure, until a unit is given.
        if (!unit)
            if (const QString doubt = planUnitDoubt(*reading); !doubt.isEmpty())
                return failure(QStringLiteral("%1：%2。坐标未写入；请用 --unit mm|cm|m 指定单位")
                                   .arg(QFileInfo(source).fileName(), doubt));
        if (!reading->unitStated)
            std::fprintf(stderr, "%s\n",
                         qPrintable(QStringLiteral("%1没有注明单位，按%2读取；不对时用 --unit mm|cm|m 指定")
                                        .arg(QFileInfo(source).fileName(), reading->unit.name)));
        placed = (*session)->placePoints(reading->rows, reading->file, reading->summary);
    } else {
        const auto table = readPositionTable(source, axes);
        if (!table)
            return failure(table.error());
        if (table->axesDoubtful)
            std::fprintf(stderr, "%s\n", qPrintable(table->axesNote));
        PositionSummary summary;
        summary.rejected = table->rejected;
        summary.axes = table->axesNote;
        placed = (*session)->placePoints(table->rows, std::nullopt, summary);
    }
    if (!placed)
        return failure(QStringLiteral("坐标未能写入，工程未作任何修改：%1").arg(placed.error()));
    std::printf("%s\n", qPrintable(positionSummaryText(QFileInfo(source).fileName(), *placed)));
    if (!placed->far.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(placed->far));
    return 0;
}

namespace {

// The epoch an --epoch option names (its place), the last without one; -1
// with the failure told.
int chosenEpoch(const CommandLine &line, const ProjectSnapshot &snapshot, int *exitCode)
{
    if (snapshot.epochCount() == 0) {
        *exitCode = failure(QStringLiteral("工程中没有观测"));
        return -1;
    }
    if (!line.isSet(QStringLiteral("epoch")))
        return snapshot.epochCount() - 1;
    bool ok = false;
    const int cjNo = line.value(QStringLiteral("epoch")).toInt(&ok);
    if (!ok) {
        *exitCode = line.wrong(QStringLiteral("--epoch takes an epoch number"));
        return -1;
    }
    const int index = snapshot.epochIndex(cjNo);
    if (index < 0)
        *exitCode = failure(QStringLiteral("工程中没有第 %1 次观测").arg(cjNo));
    return index;
}

// The project's deformation settings, read once a run; a limits table that
// cannot be read is told, and its shipped rows used.
DeformationSettings deformationOf(const ProjectSnapshot &snapshot, const std::map<QString, QString> &fields)
{
    DeformationSettings deformation = deformationSettings(deformationLimitsPath(programDir()), fields, snapshot);
    if (!deformation.problem.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(deformation.problem));
    return deformation;
}

// The figures of the plan at one epoch, with the stability analysis of the
// project.
PlanFigures figuresOf(const ProjectSnapshot &snapshot, int epochIndex, const SettingsStore &settings,
                      const std::map<QString, QString> &fields, const DeformationSettings &deformation,
                      std::optional<double> step)
{
    MonitoringRequest asked;
    asked.stability = stabilitySettingsFrom(settings, fields);
    asked.lastPoint = pointCountFromSetting(settings.readSetting(SettingKey::PointCount));
    asked.epochIndex = epochIndex;
    asked.contourStep = step;
    asked.history = false;
    return monitoringModel(snapshot, deformation, asked).figures;
}

const QString tooFewPlaced =
    QStringLiteral("有坐标的测点不足 3 个，没有沉降平面图（用 coords 设置坐标）");

} // namespace

int planSheetCommand(const CommandLine &line, const QString &projectPath, CadPoint base)
{
    std::optional<int> scale;
    if (line.isSet(QStringLiteral("scale"))) {
        bool ok = false;
        QString given = line.value(QStringLiteral("scale"));
        if (given.startsWith(QLatin1String("1:")))
            given.remove(0, 2);
        scale = given.toInt(&ok);
        if (!ok || *scale < 1 || *scale > 1'000'000)
            return line.wrong(QStringLiteral("--scale takes the scale's denominator, 1 to 1000000"));
    }
    SettingsStore settings;
    std::map<QString, QString> fields;
    const auto snapshot = openInputs(projectPath, &settings, &fields);
    if (!snapshot)
        return failure(snapshot.error());
    int exitCode = 1;
    const int epochIndex = chosenEpoch(line, *snapshot, &exitCode);
    if (epochIndex < 0)
        return exitCode;
    if (placedPointCount(*snapshot) < 3)
        return failure(tooFewPlaced);
    CurveRequest request;
    request.settings = &settings;
    request.headerFields = fields;
    request.programDir = programDir();
    request.projectPath = projectPath;
    request.output = line.isSet(QStringLiteral("out")) ? line.value(QStringLiteral("out"))
                                                        : drawingPathOf(projectPath, planDrawingKind);
    if (line.isSet(QStringLiteral("frame")))
        request.frameName = line.value(QStringLiteral("frame"));
    const auto run = prepareCurveRun(request, *snapshot);
    if (!run)
        return failure(run.error());
    const auto background = storedPlanBackground(projectPath);
    if (!background)
        return failure(background.error());
    const DeformationSettings deformation = deformationOf(*snapshot, fields);
    PlanSheetSettings sheet = planSheetSettings(run->settings);
    sheet.scale = scale ? scale : deformation.planScale;
    const PlanFigures figures = figuresOf(*snapshot, epochIndex, settings, fields, deformation, std::nullopt);
    Drawing drawing(readDxfFile, [base](const QString &, CadPoint) { return std::optional<CadPoint>(base); });
    drawing.setOutputPath(run->output);
    int used = 0;
    const auto status = runPlanSheet(drawing, *snapshot, figures, *background, sheet, &used);
    if (!status)
        return failure(status.error());
    switch (*status) {
    case PlanSheetStatus::FontMissing:
        return failure(QStringLiteral("对不起，字库没找到！ (font settings 字体1/字体2)"));
    case PlanSheetStatus::NoPlan:
        return failure(QStringLiteral("第 %1 次观测中有坐标且有高程的测点不足 3 个")
                           .arg(snapshot->epochs()[size_t(epochIndex)].cjNo));
    case PlanSheetStatus::Cancelled:
    case PlanSheetStatus::Drawn:
        break;
    }
    std::set<QString> written;
    if (auto saved = writeDxfFile(drawing, run->output, &written); !saved)
        return failure(saved.error());
    if (const QString unread = drawing.unreadBlocksText(); !unread.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(unread));
    std::printf("%s\n", qPrintable(QStringLiteral("沉降平面图（比例 1:%1）已写入 %2")
                                         .arg(used)
                                         .arg(QDir::toNativeSeparators(run->output))));
    return 0;
}

int planCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("plan PROJECT.mdb [--epoch N] [--step MM] --format json"));
    line.option(QStringLiteral("epoch"), QStringLiteral("N"), QStringLiteral("the epoch (default: the last)"));
    line.option(QStringLiteral("step"), QStringLiteral("MM"), QStringLiteral("the contour interval, mm"));
    line.option(QStringLiteral("format"), QStringLiteral("json"), QStringLiteral("the output's form"));
    if (const auto done = line.parse(args, 1, 1))
        return *done;
    if (line.value(QStringLiteral("format"), QStringLiteral("json")) != QLatin1String("json"))
        return line.wrong(QStringLiteral("--format must be json"));
    std::optional<double> step;
    if (line.isSet(QStringLiteral("step"))) {
        bool ok = false;
        step = line.value(QStringLiteral("step")).toDouble(&ok);
        if (!ok || !(*step > 0) || !std::isfinite(*step))
            return line.wrong(QStringLiteral("--step takes a positive number of mm"));
    }
    SettingsStore settings;
    std::map<QString, QString> fields;
    const auto snapshot = openInputs(line.positional().front(), &settings, &fields);
    if (!snapshot)
        return failure(snapshot.error());
    int exitCode = 1;
    const int epochIndex = chosenEpoch(line, *snapshot, &exitCode);
    if (epochIndex < 0)
        return exitCode;
    if (placedPointCount(*snapshot) < 3)
        return failure(tooFewPlaced);
    const DeformationSettings deformation = deformationOf(*snapshot, fields);
    const PlanFigures figures = figuresOf(*snapshot, epochIndex, settings, fields, deformation, step);
    if (!figures.contourNote.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(figures.contourNote));
    return writeOut(planJson(figures, *snapshot, deformation.thresholds)) ? 0 : failure(QStringLiteral("cannot write the output"));
}
