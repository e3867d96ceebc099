// sedimetra-batch coords and plan: the points' positions from a CSV file, a
// workbook or the building's plan drawing; and the figures the plan view and
// the plan sheet draw for one epoch, as JSON.
#include "batch/commandline.h"

#include "base/programfiles.h"
#include "base/settings.h"
#include "cad/planpositions.h"
#include "project/projectdb.h"
#include "project/serverstore.h"
#include "survey/buildingdeformation.h"
#include "survey/pointpositions.h"
#include "survey/stability.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

int coordsCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("coords PROJECT.mdb FILE.csv|FILE.xlsx|FILE.dxf"));
    if (const auto done = line.parse(args, 2, 2))
        return *done;
    const QString projectPath = line.positional()[0];
    const QString source = line.positional()[1];
    ProjectDatabase project;
    if (auto opened = project.open(projectPath); !opened)
        return failure(QStringLiteral("cannot open the project %1: %2")
                           .arg(QDir::toNativeSeparators(shownProjectPath(projectPath)), opened.error()));
    Result<PositionSummary> placed = fail(QString());
    if (source.endsWith(QLatin1String(".dxf"), Qt::CaseInsensitive)) {
        const auto points = project.points();
        if (!points)
            return failure(points.error());
        const auto reading = readPlanPositions(source, *points);
        if (!reading)
            return failure(reading.error());
        placed = placePoints(project, reading->rows, reading->file, reading->summary);
    } else {
        const auto table = readPositionTable(source);
        if (!table)
            return failure(table.error());
        PositionSummary summary;
        summary.rejected = table->rejected;
        placed = placePoints(project, table->rows, std::nullopt, summary);
    }
    if (!placed)
        return failure(QStringLiteral("坐标未能写入，工程未作任何修改：%1").arg(placed.error()));
    std::printf("%s\n", qPrintable(positionSummaryText(QFileInfo(source).fileName(), *placed)));
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
        if (!ok || !(*step > 0))
            return line.wrong(QStringLiteral("--step takes a positive number of mm"));
    }
    SettingsStore settings;
    std::map<QString, QString> fields;
    const auto snapshot = openInputs(line.positional().front(), &settings, &fields);
    if (!snapshot)
        return failure(snapshot.error());
    if (snapshot->epochCount() == 0)
        return failure(QStringLiteral("工程中没有观测"));
    int epochIndex = snapshot->epochCount() - 1;
    if (line.isSet(QStringLiteral("epoch"))) {
        bool ok = false;
        const int cjNo = line.value(QStringLiteral("epoch")).toInt(&ok);
        if (!ok)
            return line.wrong(QStringLiteral("--epoch takes an epoch number"));
        epochIndex = snapshot->epochIndex(cjNo);
        if (epochIndex < 0)
            return failure(QStringLiteral("工程中没有第 %1 次观测").arg(cjNo));
    }
    if (placedPointCount(*snapshot) < 3)
        return failure(QStringLiteral("有坐标的测点不足 3 个，没有沉降平面图（用 coords 设置坐标）"));
    const DeformationSettings deformation =
        deformationSettings(deformationLimitsPath(programDir()), fields, *snapshot);
    if (!deformation.problem.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(deformation.problem));
    const StabilityAnalysis stability =
        analyseStability(*snapshot, stabilitySettingsFrom(settings),
                         pointCountFromSetting(settings.readSetting(SettingKey::PointCount)));
    const PlanFigures figures = planFigures(*snapshot, epochIndex, deformation.thresholds,
                                            deformation.notNeighbours, step, &stability);
    return writeOut(planJson(figures, *snapshot)) ? 0 : failure(QStringLiteral("cannot write the output"));
}
