#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class ProjectDatabase;

// One data row of an observation workbook: column A the point name, column B
// the elevation in the display unit.
struct ImportRow
{
    int row = 0;          // 1-based row of the sheet
    QString name;         // empty when the cell is
    QString elevation;    // the cell as text
    bool numeric = false; // a number (not a date, not text that is no number)
    bool finite = true;   // false for a number cell of no finite value (1e999, nan)
};

// Unreadable: the workbook is damaged (or its reader crashed or hung);
// `error` says so as "无法读取工作簿：…".
enum class ImportSource { Read, NotFound, Empty, Unreadable };

// Reads the data rows (every row after the first) of the sheet "Sheet1",
// matched without regard to case, of an .xls (FreeXL) or .xlsx workbook.
// NotFound: the file is no workbook we can read, or has no such sheet
// (`error` says which); Empty: the sheet has no data row.
ImportSource readObservationRows(const QString &path, std::vector<ImportRow> *rows, QString *error);

struct ImportResult
{
    bool written = false; // false: nothing was written, `error` says why
    QString error;
    int imported = 0;      // rows written
    int skipped = 0;       // rows without a name or a numeric elevation
    int invalid = 0;       // rows whose elevation is no finite number (1e999, -1e400)
    QStringList unmatched; // names of no point, in sheet order, each once
    QStringList ambiguous; // names several points have (the first was taken), each once
};

// Writes the elevations of the rows into epoch `epoch` for the points of
// those names (the first point of a name), in metres, in one transaction:
// a failure part-way leaves the project as it was. A later row of a name
// overwrites an earlier one.
ImportResult importObservations(ProjectDatabase &project, int epoch,
                                const std::vector<ImportRow> &rows, const QString &unit);

// What an import did, for the user: how many elevations came from `file`,
// the rows skipped and why, and the names of no point (the first twenty).
QString importSummary(const QString &file, const ImportResult &result);
