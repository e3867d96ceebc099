#pragma once

// Where a project's figures came from, in words: the origin of an
// elevation, its history, and per epoch the files it rests on and the
// elevations changed after their first entry. One model for the window's
// "高程来历…", `sedimetra-batch history` and the report's 原始记录.
// Uses project/.

#include "base/result.h"
#include "project/projectdb.h"

#include <QString>

#include <map>
#include <optional>
#include <vector>

// One history row as a surveyor reads it.
struct HistoryLine
{
    HistoryRow row;
    QString at;     // local time, yyyy-MM-dd hh:mm:ss
    QString who;
    QString how;    // in words; a deletion says so
    QString what;   // what changed, in words
    QString epoch;  // "第 3 次 2024-05-01 三层", or the deleted one's label
    QString point;  // the point's name, or the deleted one's label
    QString oldText, newText; // "—" for none; elevations in metres, 5 decimals
    QString source; // the file it came from, if any
};

// An entry carried from a file, in words ("（由文件带入，推送者 wa）"): what
// the file says, not what the server saw; empty for any other.
QString carriedWords(const WriteEntry &entry);

// A stored time (UTC) as local time.
QString localTime(const QString &utc);

// The project's history, oldest first; only that of an epoch, a point, or
// both (a cell).
Result<std::vector<HistoryLine>> historyLines(ProjectDatabase &project, std::optional<int> cjNo = {},
                                              std::optional<int> cjdNo = {});

// Where the elevation of (cjNo, cjdNo) came from, in words; none for an
// elevation stored before origins were kept.
Result<std::optional<QString>> originText(ProjectDatabase &project, int cjNo, int cjdNo);

// Per epoch, what the report's 原始记录 lists; epochs counted from 1, as
// the report counts them ("第 1 次 2024-01-01 首次").
struct EpochRecords
{
    int cjNo = 0;
    QString epoch; // as in HistoryLine
    std::vector<StoredSource> sources;
    std::vector<HistoryLine> changed; // elevations changed or deleted after their first entry
};
Result<std::vector<EpochRecords>> epochRecords(ProjectDatabase &project);
