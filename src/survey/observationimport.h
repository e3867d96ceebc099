#pragma once

#include "base/result.h"
#include "project/provenance.h"
#include "domain/settlementrules.h"

#include <QString>
#include <QStringList>

#include <set>
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
    // Where the value was read, beyond the row (a level file's line and
    // station); a workbook's row is its line.
    ElevationDetail detail = {};
};

// What rows came from, recorded with each elevation written: the files
// (kept in the project; a row's detail names its one) and the sheet.
struct ImportProvenance
{
    WriteHow how = WriteHow::Import;
    std::vector<SourceFile> sources;
    QString sheet;
};

enum class ImportSource { Read, NotFound, Empty };

// What a workbook gave: its rows (Read); NotFound: the file is no workbook
// we can read, or has no such sheet (`detail` says which); Empty: the sheet
// has no data row.
struct ObservationRows
{
    ImportSource source = ImportSource::Read;
    std::vector<ImportRow> rows;
    QString detail;
    ImportProvenance provenance = {};
};

// Reads the data rows (every row after the first) of the sheet "Sheet1",
// matched without regard to case, of an .xls (FreeXL) or .xlsx workbook. A
// damaged workbook (or a reader that crashed or hung) is a failure,
// "无法读取工作簿：…".
Result<ObservationRows> readObservationRows(const QString &path);

struct ImportResult
{
    int imported = 0;      // rows written
    int skipped = 0;       // rows without a name or a numeric elevation
    int invalid = 0;       // rows whose elevation is no finite number (1e999, -1e400)
    QStringList unmatched; // names of no point, in sheet order, each once
    QStringList ambiguous; // names several points have (the first was taken), each once
    // Rows whose elevation changes the point oddly from its previous epoch
    // (or, for a point with none, from the median of the epoch's others),
    // as "第 n 行 NAME：reference → new"; written unless skipped, listed for
    // the user to check.
    QStringList implausible;
    int implausibleSkipped = 0; // those rows left out at the user's word
    int overwritten = 0; // elevations the epoch held that the rows replace
    // Names found as the project writes them otherwise ("j1 → J1", "J01 → J1"),
    // each once: said, so that a surprise match is seen.
    QStringList matchedAs;
    int rows = 0; // data rows read
};

// What importing the rows into epoch `epoch` would do, worked out without
// writing: the elevations by point in row order, and every count of the
// result (with `held`, the elevations the epoch holds already), so that the
// user can be asked before anything is replaced.
struct ImportPlan
{
    int epoch = 0;
    std::vector<std::pair<int, double>> writes; // point number, metres
    std::vector<ElevationDetail> details;       // for each write
    ImportProvenance provenance;
    std::vector<bool> implausible;              // for each write
    // The user, asked, said to write them: each is recorded as confirmed.
    bool implausibleConfirmed = false;
    ImportResult result;
    int held = 0;
    std::set<int> heldPoints;
};
// `limits`: what passes without a question (plausibilityLimits).
Result<ImportPlan> planImport(ProjectDatabase &project, int epoch, const std::vector<ImportRow> &rows,
                              const QString &unit, const PlausibilityLimits &limits = {},
                              const ImportProvenance &from = {});
// Leaves the implausible rows out of the plan.
void skipImplausible(ImportPlan &plan);
// Writes a plan in one transaction: a failure part-way leaves the project
// as it was.
Result<ImportResult> writeImport(ProjectDatabase &project, const ImportPlan &plan);

// Plans and writes: the elevations of the rows into epoch `epoch` for the
// points of those names (the first point of a name), in metres. A later row
// of a name overwrites an earlier one.
Result<ImportResult> importObservations(ProjectDatabase &project, int epoch,
                                        const std::vector<ImportRow> &rows,
                                        const QString &unit, const PlausibilityLimits &limits = {},
                                        const ImportProvenance &from = {});

// Why an import that wrote nothing wrote nothing, in words; empty when it
// wrote something.
QString nothingImportedReason(const ImportResult &result);
// What an import did, for the user: how many elevations came from `file`,
// the rows skipped and why, and the names of no point (the first twenty).
QString importSummary(const QString &file, const ImportResult &result);
