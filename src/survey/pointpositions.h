#pragma once

// Where the points stand: positions from the dialog, a workbook or CSV
// file, or the building's plan drawing, all set through placePoints().

#include "base/result.h"
#include "project/projectdb.h"

#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

// A point's name with the position given for it; `line` the row of the
// file (0 when typed).
struct PositionRow
{
    int line = 0;
    QString name;
    Position at;
};

// What setting positions did.
struct PositionSummary
{
    int set = 0;           // positions written
    int unchanged = 0;     // positions given as the point had them
    QStringList unknown;   // names of no point, each once
    QStringList twice;     // names given twice, or of two points: not set
    QStringList missing;   // (a drawing) points whose names it does not show
    QStringList rejected;  // rows of a file that are no name with two numbers
    std::map<QString, int> notDrawn; // (a drawing) its entities of kinds not drawn
    QString plan;          // the plan drawing kept with the project, if any
    QString planRefused;   // why the drawing was not kept
};

// Matches the rows to the points by name (blanks around and letter case
// ignored) and writes their positions, with the plan drawing when one is
// given, in one transaction.
Result<PositionSummary> placePoints(ProjectDatabase &project, const std::vector<PositionRow> &rows,
                                    const std::optional<PlanDrawingFile> &plan = std::nullopt,
                                    PositionSummary summary = {});

// The rows of a CSV file (UTF-8, comma or tab) or of the first sheet of an
// .xlsx workbook: columns name, X, Y; a first row that is not numbers is
// headings. Rows that are not a name with two numbers go to `rejected`.
struct PositionTable
{
    std::vector<PositionRow> rows;
    QStringList rejected;
};
Result<PositionTable> readPositionTable(const QString &path);
// Rows pasted from a spreadsheet: "name<TAB>X<TAB>Y" a line.
PositionTable parsePositionText(const QString &text);

// The comparison key of a point name.
QString positionKey(const QString &name);

// What setting positions from `file` did, for the user.
QString positionSummaryText(const QString &file, const PositionSummary &summary);
