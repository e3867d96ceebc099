#pragma once

#include <QString>

class ProjectDatabase;
class SettingsStore;

// One results-table run: the template copied into a new workbook, the sheet
// "沉降观测成果表" filled from the project and the settings, the workbook
// written to `output` (replacing an earlier one only once it is complete).
enum class ResultsRunStatus { Written, NothingToWrite, TemplateMissing, Failed };

ResultsRunStatus runResultsTable(ProjectDatabase &project, const SettingsStore &settings,
                                 const QString &templatePath, int pointCount, const QString &unit,
                                 const QString &output, QString *error);

// Where a project's results table goes: the project's path with .xlsx.
QString resultsPathOf(const QString &projectPath);

// The table template of a name: Support/Tab/<name>.xlsx, matched without
// regard to case; empty when there is none.
QString tableTemplatePath(const QString &programDir, const QString &name);
