// sedimetra-batch table: the results table (沉降观测成果表) of a project
// as a workbook, as the window's "成果表" makes it.
#include "batch/commandline.h"

#include "base/programfiles.h"
#include "project/settingsstore.h"
#include "project/serverstore.h"
#include "report/resultsrun.h"

#include <QDir>

#include <cstdio>

int tableCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("table PROJECT.mdb [--template NAME] [--out FILE.xlsx]"));
    line.option(QStringLiteral("template"), QStringLiteral("NAME"), QStringLiteral("the table template (Support/Tab)"));
    line.option(QStringLiteral("out"), QStringLiteral("FILE.xlsx"), QStringLiteral("the workbook (default: beside the project)"));
    if (const auto done = line.parse(args, 1, 1))
        return *done;
    const QString projectPath = line.positional().front();
    SettingsStore settings;
    std::map<QString, QString> headerFields;
    const auto snapshot = openInputs(projectPath, &settings, &headerFields);
    if (!snapshot)
        return failure(snapshot.error());
    ResultsRequest request;
    request.settings = &settings;
    request.headerFields = headerFields;
    request.programDir = programDir();
    request.projectPath = projectPath;
    request.templateName = line.value(QStringLiteral("template"));
    request.output = line.value(QStringLiteral("out"));
    const auto run = prepareResultsRun(request);
    if (!run)
        return failure(run.error());
    QStringList told;
    const auto status = runResultsTable(*snapshot, run->settings, run->templatePath, run->output, &told);
    if (!status)
        return failure(status.error());
    for (const QString &line : told)
        std::fprintf(stderr, "%s\n", qPrintable(line));
    switch (*status) {
    case ResultsRunStatus::Written:
        std::printf("%s\n", qPrintable(QStringLiteral("沉降观测成果表已写入 %1").arg(QDir::toNativeSeparators(run->output))));
        return 0;
    case ResultsRunStatus::NothingToWrite:
        return failure(QStringLiteral("the project %1 has no epochs or no elevations")
                           .arg(QDir::toNativeSeparators(shownProjectPath(projectPath))));
    case ResultsRunStatus::TemplateMissing:
        return failure(QStringLiteral("表格模板被删除，请重新安装！ (no table template %1 in %2)")
                           .arg(run->templateName,
                                QDir::toNativeSeparators(tableTemplatesDir(programDir()))));
    }
    return 0;
}
