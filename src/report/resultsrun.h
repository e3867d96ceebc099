#pragma once

// report/: the results table (沉降观测成果表) and its run. Uses base/,
// survey/ and xlsx/.

#include "base/result.h"
#include "report/resultstable.h"
#include "domain/projectsnapshot.h"

#include <QString>
#include <QStringList>

#include <map>

class SettingsStore;

// What a results run is asked for, as the window and sedimetra-batch both
// have it.
struct ResultsRequest
{
    const SettingsStore *settings = nullptr;
    std::map<QString, QString> headerFields; // see effectiveHeaderFields
    QString programDir, projectPath;
    QString templateName; // empty: the setting 表格模板, else the first template
    QString output;       // empty: beside the project, named after it
    // The window's own; empty: from the settings.
    std::optional<int> pointCount;
    std::optional<QString> unit;
};

// Everything one run needs: its settings (header fields, stability), the
// template and where the workbook goes.
struct ResultsRun
{
    ResultsSettings settings;
    QString templateName, templatePath, output;
};

// The run of a request; refused, with the reason, when the output would
// replace the project, a file of the program or the template itself.
Result<ResultsRun> prepareResultsRun(const ResultsRequest &request);

// One results-table run, shared by the window and sedimetra-batch: the
// template copied into a new workbook, the sheet "沉降观测成果表" filled from
// the snapshot, the workbook written to `output` (replacing an earlier one
// only once it is complete). NothingToWrite: the project has no epoch or no
// elevation; TemplateMissing: there is no template file. A template without
// the sheet, or a workbook that cannot be written, fails with the reason.
enum class ResultsRunStatus { Written, NothingToWrite, TemplateMissing };

// `told`, when given, gets what the user is to be told of the written
// workbook (a limits table that cannot be used).
Result<ResultsRunStatus> runResultsTable(const ProjectSnapshot &snapshot,
                                         const ResultsSettings &settings,
                                         const QString &templatePath, const QString &output,
                                         QStringList *told = nullptr);

// The header fields (see effectiveHeaderFields) in the order of
// ResultsSettings::header; nothing for a field without a value.
std::vector<std::optional<QString>> resultsHeader(const std::map<QString, QString> &fields);

// Where a project's results table goes: the project's path with .xlsx.
QString resultsPathOf(const QString &projectPath);

// The table template of a name: Support/Tab/<name>.xlsx, matched without
// regard to case; empty when there is none.
QString tableTemplatePath(const QString &programDir, const QString &name);
