#pragma once

// pdfreport/: the monitoring report (沉降观测报告) as one PDF: cover,
// overview, the points' layout, the results table, the curve sheets and
// the plan rendered from the drawing that becomes the DXF, the stability
// analysis, the deformation and the conclusion. Every number comes from
// the computation the workbook and the drawing use; nothing is computed
// here again.

#include "base/result.h"
#include "pdfreport/reportpages.h"
#include "domain/deformation.h"
#include "domain/projectsnapshot.h"

#include <QString>
#include <QStringList>

#include "survey/provenanceview.h"

#include <functional>
#include <map>
#include <optional>

class SettingsStore;

struct ReportRequest
{
    const SettingsStore *settings = nullptr;
    std::map<QString, QString> headerFields; // see effectiveHeaderFields
    QString programDir, projectPath;
    QString output;                 // empty: <project>-沉降观测报告.pdf beside the project
    std::optional<int> upToEpoch;   // an epoch number; nothing: the last
    QString reportDate;             // yyyy-mm-dd; empty: today
    PlanBackground planBackground;  // the plan drawing kept with the project
    std::optional<int> pointCount;  // the window's own; else the setting
    QString templateName;           // the results table's; empty: the setting's
    std::optional<QString> unit;    // the window's elevation unit; else the setting
    // Where the figures came from (epochRecords): the report's 原始记录;
    // none for a project that kept none.
    std::optional<std::vector<EpochRecords>> records;
    // The record checked (ProjectDatabase::checkRecord): what was changed
    // outside the program, listed in place of "no changes", and the chain's
    // last hash, printed so that a file can later be checked against the
    // report.
    std::optional<RecordCheck> check;
    // Or the check as it comes when the report reaches its record (the
    // chain of a large project takes a while to check, and can be read on
    // another connection while the rest is assembled); a failure fails the
    // report.
    std::function<Result<RecordCheck>()> checkWhenNeeded;
    // Told as each page is painted (page, pages), so a window can show it.
    std::function<void(int, int)> progress;
};

struct ReportOutcome
{
    QString output;
    int pages = 0;
    QStringList told; // what the user is to be told (a limits table that cannot be used)
};

// Where a project's report goes by default.
QString reportPathOf(const QString &projectPath);

// What the report of `snapshot` holds, page by page, before it is painted:
// refused as writeMonitoringReport refuses.
struct ReportDescription
{
    std::vector<ReportPage> pages;
    PageFrame frame; // the header and footer every page carries
    ReportOutcome outcome;
};
Result<ReportDescription> describeMonitoringReport(const ProjectSnapshot &snapshot, const ReportRequest &request);

// Writes the report of `snapshot` (the whole project) as the request asks,
// through SaveFile; refused, with the reason, for an output that would
// replace the project or a program file, a project without epochs or
// elevations, or an epoch it does not hold.
Result<ReportOutcome> writeMonitoringReport(const ProjectSnapshot &snapshot, const ReportRequest &request);
