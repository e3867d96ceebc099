#pragma once

// Where the stored values came from: the files that brought elevations in
// (kept whole), the origin of every elevation and the history of every
// change. Plain records; ProjectDatabase reads and writes them.

#include "base/result.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>
#include <utility>
#include <vector>

// How a write came about. Stored as its key; a change made on a server
// outside the program is recorded there as "sql".
enum class WriteHow { Typed, Import, Level, Server, Undo };
QString howKey(WriteHow how);
// The words a surveyor reads for a stored key (and for a deletion).
QString howWords(const QString &key);

// A file that brought elevations in, as it was read.
struct SourceFile
{
    QString name;    // the file's name, without folders
    QByteArray data; // its bytes (none kept beyond maxSourceBytes)
    QString sha256;  // hex, of the whole file
    qint64 size = 0;
    // Read from a level file's header and its adjustment, where they say.
    QString instrument;
    std::optional<double> closureMm;   // the worst line or loop misclosure
    std::optional<double> toleranceMm; // its tolerance
};
// A file larger than this is recorded (name, size, SHA-256) without its bytes.
constexpr qint64 maxSourceBytes = 50 * 1024 * 1024;
// The file at `path` as it is now, to be kept: read through once.
Result<SourceFile> readSourceFile(const QString &path);

// A kept file, without its bytes.
struct StoredSource
{
    qint64 id = 0;
    QString name;
    QString sha256; // hex
    qint64 size = 0;
    QString readAt; // UTC, yyyy-mm-ddThh:mm:ssZ
    QString readBy;
    QString instrument;
    std::optional<double> closureMm, toleranceMm;
    bool bytesKept = true;
};

// One act of writing: when, by whom, how, from which file (and sheet).
struct WriteEntry
{
    qint64 id = 0;
    QString at; // UTC, yyyy-mm-ddThh:mm:ssZ
    QString who;
    QString how; // a howKey, or "sql"
    std::optional<qint64> sourceId;
    QString sheet;
    // Carried from a file by a push, by this login: what the file says, not
    // what the server saw. Empty for an entry the store made itself.
    QString carriedBy;
};

// Where in its source an elevation was read: a workbook's row, or a level
// file's line with the station and the adjustment's height and σ.
struct ElevationDetail
{
    int line = 0; // the sheet's row or the file's line; 0: none
    QString station;
    std::optional<double> adjusted; // m
    std::optional<double> sigmaMm;
    int sourceIndex = 0; // which of a write's sources (several level files)
};

// The origin of a stored elevation: the write that put it there and where
// in its source it was read.
struct ElevationOrigin
{
    WriteEntry entry;
    ElevationDetail detail;
};

// One row of the history: a change of one value, or a deletion.
struct HistoryRow
{
    // EpochsRenumbered: the epochs from oldValue on took numbers from
    // newValue on (one inserted before them, or one deleted).
    // OriginChanged: an elevation's origin a server login replaced or
    // removed, old and new in words.
    // ElevationConfirmed: an elevation that looked like a slip, confirmed
    // as observed by the surveyor (old and new: the value confirmed).
    enum Kind { Elevation, EpochDate, EpochName, EpochLayers, EpochDeleted, PointName,
                PointPosition, PointDeleted, EpochsRenumbered, OriginChanged, ElevationConfirmed };
    qint64 id = 0;
    Kind kind = Elevation;
    QString at; // when the change was made: UTC, yyyy-mm-ddThh:mm:ssZ
    WriteEntry entry;
    std::optional<int> cjNo, cjdNo; // none once the epoch or point is deleted
    QVariant oldValue, newValue;    // null: none (a first entry, a deletion)
    QString label;                  // the epoch or point a row belonged to, once deleted
};
QString kindKey(HistoryRow::Kind kind);
std::optional<HistoryRow::Kind> kindOfKey(const QString &key);
// What changed, in words: "高程", "观测日期" …
QString kindWords(HistoryRow::Kind kind);

// The history is a chain: each row carries the SHA-256 (hex) of its own
// fields and of the row before it, so that a row changed, removed or put in
// between outside the program breaks the chain from there on. The fields
// are those no later write of the program changes: id, entry, time as
// stored, kind, old and new value (the epoch and point a row belongs to
// move when epochs are renumbered or deleted, and are checked against the
// values instead). Each field enters as "<bytes>:<UTF-8 text>", a missing
// one as "-", so that no two rows read alike; a number stored as a number
// is written shortest-exact ("10.2501"). The first row's previous hash is
// empty.
QString historyHash(const QString &previous, const QVariant &id, const QVariant &entry, const QVariant &written,
                    const QVariant &kind, const QVariant &oldValue, const QVariant &newValue);

// What `verify` found: every place where the project differs from its own
// record, in words ("J3 第 2 次：库中 10.12000，记录为 10.15000，程序之外修改"),
// the number of history rows and the chain's last hash (empty without
// history).
struct RecordCheck
{
    std::vector<QString> breaks;
    qint64 rows = 0;
    QString lastHash;
    bool kept = true;    // false: a project kept before history was recorded
    bool chained = true; // false: a history not chained yet (an earlier version's)
};

// The whole record of where a project's values came from, as stored: what
// a push or a pull carries to the other store.
struct ProvenanceRecords
{
    std::vector<std::pair<StoredSource, QByteArray>> sources; // with their bytes, when kept
    std::vector<WriteEntry> entries;
    struct Cell
    {
        int cjNo = 0, cjdNo = 0;
        ElevationOrigin origin; // its entry by id only
    };
    std::vector<Cell> origins;
    std::vector<HistoryRow> history; // its entry by id only
};
