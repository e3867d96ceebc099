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
    QString unit;          // (a drawing) the unit its lengths were read in, in words
    QString axes;          // (a table) how its columns were read, in words
    QString plan;          // the plan drawing kept with the project, if any
    QString planRefused;   // why the drawing was not kept
    QString far;           // placed points far from the others, after the change (farPointsText)
};

// Matches the rows to the points by name (blanks around and letter case
// ignored) and writes their positions, with the plan drawing when one is
// given, in one transaction.
Result<PositionSummary> placePoints(ProjectDatabase &project, const std::vector<PositionRow> &rows,
                                    const std::optional<PlanDrawingFile> &plan = std::nullopt,
                                    PositionSummary summary = {});

// A position is kept as east and north (Position::x east, y north, in
// metres), whatever came in. A file's two columns are read as the user
// says; else as the numbers show on a national grid (a 7-digit northing,
// a 6- or 8-digit easting), over any headings; else as the headings name
// them (E/N, 东/北, Easting/Northing); else as a surveyor gives them, X
// north and Y east ("点号,X,Y" of a total station), said as doubtful.
enum class PositionAxes {
    NorthEast, // the columns are X (north), Y (east): survey coordinates
    EastNorth  // the columns are east, north: a plan's x and y
};

// The rows of a CSV file (UTF-8, comma or tab) or of the first sheet of an
// .xlsx workbook: columns name, X, Y; a first row that is not numbers is
// headings. A CASS coordinate file (.dat) holds "name,code,east,north,height"
// a line. Rows that are not a name with two numbers go to `rejected`.
struct PositionTable
{
    std::vector<PositionRow> rows; // east and north
    QStringList rejected;
    PositionAxes axes = PositionAxes::NorthEast;
    QString axesNote; // how the columns were read, in words
    // The order could not be decided (a local grid, neither headings nor
    // numbers say), or the headings contradict the numbers: to be told
    // where it cannot be missed.
    bool axesDoubtful = false;
};
Result<PositionTable> readPositionTable(const QString &path, std::optional<PositionAxes> asked = std::nullopt);
// Rows pasted from a spreadsheet: "name<TAB>X<TAB>Y" a line.
PositionTable parsePositionText(const QString &text, std::optional<PositionAxes> asked = std::nullopt);

// The comparison key of a point name (as imports match names: J02 is J2).
QString positionKey(const QString &name);
// A name from a file as it is shown: control characters escaped, at most
// 40 characters.
QString shownName(const QString &name);

// What setting positions from `file` did, for the user.
QString positionSummaryText(const QString &file, const PositionSummary &summary);
