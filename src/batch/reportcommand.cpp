// sedimetra-batch report: the monitoring report of a project as one PDF.
#include "batch/commandline.h"

#include "project/settingsstore.h"
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
    // The record's chain is checked on its own connection while the
    // project is read and the report assembled: on a large project that
    // takes a quarter of a second, and only the report's last pages need it.
    auto checked = std::async(std::launch::async, [projectPath]() -> Result<RecordCheck> {
        ProjectDatabase project;
        if (auto opened = openProject(project, projectPath); !opened)
            return opened.failure();
        return project.checkRecord(1); // the report counts epochs from 1
    });
    request.checkWhenNeeded = [&checked] { return checked.get(); };
    SettingsStore settings;
    const auto session = openInputSession(projectPath, &settings);
    if (!session)
        return failure(session.error());
    request.headerFields = (*session)->fields();
    ProjectDatabase &project = *(*session)->store();
    const auto background = storedPlanBackground(project);
    if (!background)
        return failure(QStringLiteral("工程中的平面图无法读取：%1").arg(background.error()));
    request.planBackground = *background;
    auto records = epochRecords(project);
    if (!records)
        return failure(records.error());
    request.records = std::move(*records);
    request.settings = &settings;
    request.programDir = programDir();
    request.projectPath = projectPath;
    request.output = line.value(QStringLiteral("out"));
    const auto written = writeMonitoringReport((*session)->snapshot(), request);
    if (!written)
        return failure(QStringLiteral("报告未能生成：%1").arg(written.error()));
    for (const QString &line : written->told)
        std::fprintf(stderr, "%s\n", qPrintable(line));
    std::printf("%s\n", qPrintable(QStringLiteral("沉降观测报告（%1 页）已写入 %2")
                                       .arg(written->pages)
                                       .arg(QDir::toNativeSeparators(written->output))));
    return 0;
}
