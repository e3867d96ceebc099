#pragma once

// The levelling adjustment as a workbook: the sheets "测站检核" and
// "平差结果". Uses base/, survey/ and xlsx/.

#include "base/outputguard.h"
#include "base/result.h"
#include "survey/levelling.h"
#include "survey/observationimport.h"

#include <QString>

#include <functional>
#include <memory>

class SaveFile;

// The longest file name the file systems in use hold, in bytes.
constexpr qsizetype maxFileNameBytes = 255;

// Where the report of an epoch goes: beside the project (or in `folder` for a
// project on a server), "<project>-<epoch name>-水准.xlsx", the characters a
// file name cannot hold replaced by "_", a name too long for a file name
// shortened.
QString levelReportPath(const QString &projectOutputBase, const QString &epochName);

// Writes the report to `output`, replacing a file there only once complete;
// `project` names the project in its heading (none without one).
Result<void> writeLevelReport(const LevelResult &result, const LevelGrade &grade, const QString &project,
                              const QString &output);

// The report as the bytes of an .xlsx file.
Result<QByteArray> levelReportBytes(const LevelResult &result, const LevelGrade &grade, const QString &project);

// Heights of a levelling into an epoch, with the adjustment report. All that
// can fail is checked first: the epoch, heights that are absolute and
// usable, the report's path (never a file of the program, the project or a
// level file; its folder writable; a name a file can have), and the report
// is made and waits beside its place. Only then are the heights written in
// one transaction and the report put in place: after any failure the
// project is as it was. (Should the report, made and waiting, still fail to
// take its place once the heights are in, `reportError` says why.)
struct LevelWrite
{
    ImportPlan plan;
    QString reportPath;               // empty: no report
    std::shared_ptr<SaveFile> report; // the report, written and not yet in place
    QString reportError;              // why the report could not be put in place after all
};
// `files` are those adjusted: kept with the heights, each with the worst
// misclosure of the adjustment against its tolerance.
Result<LevelWrite> prepareLevelWrite(ProjectDatabase &project, int epoch, const LevelResult &result,
                                    const std::vector<LevelFile> &files, const PlausibilityLimits &limits = {});
Result<void> prepareLevelReport(LevelWrite &write, const LevelResult &result, const LevelGrade &grade,
                                const QString &project, const QString &path, const ProtectedFiles &keep);
Result<ImportResult> commitLevelWrite(ProjectDatabase &project, LevelWrite &write);
// The same with the heights written by `writeHeights` (the window's: its
// project session, which reads the project again after the write).
Result<ImportResult> commitLevelWrite(LevelWrite &write,
                                      const std::function<Result<ImportResult>(const ImportPlan &)> &writeHeights);
