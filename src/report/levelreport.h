#pragma once

// The levelling adjustment as a workbook: the sheets "测站检核" and
// "平差结果". Uses base/, survey/ and xlsx/.

#include "base/result.h"
#include "survey/levelling.h"

#include <QString>

// Where the report of an epoch goes: beside the project (or in `folder` for a
// project on a server), "<project>-<epoch name>-水准.xlsx", the characters a
// file name cannot hold replaced by "_".
QString levelReportPath(const QString &projectOutputBase, const QString &epochName);

// Writes the report to `output`, replacing a file there only once complete.
Result<void> writeLevelReport(const LevelResult &result, const LevelGrade &grade,
                              const QString &output);
