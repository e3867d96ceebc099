// sedimetra-batch report: the monitoring report of a project as one PDF.
#include "batch/commandline.h"

#include "base/settings.h"
#include "cad/planpositions.h"
#include "pdfreport/monitoringreport.h"
#include "project/projectdb.h"
#include "project/serverstore.h"

#include <QDate>
#include <QDir>

#include <cstdio>
#include <future>

int reportCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("report PROJECT.mdb [--out FILE.pdf] [--epoch N] [--date YYYY-MM-DD]"));
    line.option(QStringLiteral("out"), QStringLiteral("FILE.pdf"), QStringLiteral("the report (default: beside the project)"));
    line.option(QStringLiteral("epoch"), QStringLiteral("N"), QStringLiteral("the report up to this epoch (default: the last)"));
    line.option(QStringLiteral("date"), QStringLiteral("YYYY-MM-DD"), QStringLiteral("the report's date (default: today)"));
    if (const auto done = line.parse(args, 1, 1))
        return *done;
    const QString projectPath = line.positional().front();
    ReportRequest request;
    if (line.isSet(QStringLiteral("epoch"))) {
        bool ok = false;
        request.upToEpoch = line.value(QStringLiteral("epoch")).toInt(&ok);
        if (!ok)
            return line.wrong(QStringLiteral("--epoch takes an epoch number"));
    }
    if (line.isSet(QStringLiteral("date"))) {
        request.reportDate = line.value(QStringLiteral("date"));
        if (!QDate::fromString(request.reportDate, Qt::ISODate).isValid())
            return line.wrong(QStringLiteral("--date takes a date YYYY-MM-DD"));
    }
    // The record (its epochs' sources and the check of its chain) is read on
    // its own connection while the project's values are read: on a large
    // project each takes a fifth of a second.
    struct Record
    {
        std::vector<EpochRecords> records;
        RecordCheck check;
    };
    auto record = std::async(std::launch::async, [projectPath]() -> Result<Record> {
        ProjectDatabase project;
        if (auto opened = openProject(project, projectPath); !opened)
            return opened.failure();
        auto records = epochRecords(project);
        if (!records)
            return records.failure();
        auto check = project.checkRecord(1); // the report counts epochs from 1
        if (!check)
            return check.failure();
        return Record{std::move(*records), std::move(*check)};
    });
    SettingsStore settings;
    const auto snapshot = openInputs(projectPath, &settings, &request.headerFields);
    const auto background = snapshot ? storedPlanBackground(projectPath) : Result<PlanBackground>(PlanBackground());
    auto recorded = record.get();
    if (!snapshot)
        return failure(snapshot.error());
    if (!background)
        return failure(background.error());
    request.planBackground = *background;
    if (!recorded)
        return failure(recorded.error());
    request.records = std::move(recorded->records);
    request.check = std::move(recorded->check);
    request.settings = &settings;
    request.programDir = programDir();
    request.projectPath = projectPath;
    request.output = line.value(QStringLiteral("out"));
    const auto written = writeMonitoringReport(*snapshot, request);
    if (!written)
        return failure(QStringLiteral("报告未能生成：%1").arg(written.error()));
    for (const QString &line : written->told)
        std::fprintf(stderr, "%s\n", qPrintable(line));
    std::printf("%s\n", qPrintable(QStringLiteral("沉降观测报告（%1 页）已写入 %2")
                                       .arg(written->pages)
                                       .arg(QDir::toNativeSeparators(written->output))));
    return 0;
}
