#pragma once

// The building's plan drawing (a DXF file from the architect or the
// surveyor): where it places the points, and the lines drawn behind them.

#include "base/result.h"
#include "cad/dxffile.h"
#include "project/projectdb.h"
#include "domain/deformation.h"
#include "survey/pointpositions.h"

// For each point, a TEXT or MTEXT whose text is the point's name (letter
// case and blanks around ignored) places it: at the centre of the nearest
// CIRCLE or block reference within three text heights of the text's
// insertion point, else at the insertion point. A name the drawing shows
// twice places nothing and is listed, as are points it does not show and
// the kinds of entity not drawn. The drawing's bytes come along, to be kept
// with the project.
//
// A drawing's lengths are in its unit: $INSUNITS says which (Chinese
// architectural plans are drawn in millimetres). Where the header says
// nothing, the unit is judged from the placed points' extent (a building
// wider than 1,000 units is drawn in millimetres) and the reading says it
// assumed it. The positions and the copy of the drawing kept with the
// project are in metres.
struct PlanUnit
{
    double metres = 1; // a drawing unit's length in metres
    QString name = QStringLiteral("米");
    bool operator==(const PlanUnit &other) const { return metres == other.metres; }
};
// "mm", "cm", "m" (and 毫米, 厘米, 米); nothing for another word.
std::optional<PlanUnit> planUnitNamed(const QString &word);
// The unit the header gives ($INSUNITS), if it gives a length.
std::optional<PlanUnit> statedPlanUnit(const DxfContents &contents);
// The unit a drawing without one is most likely in, from the extent of
// what places the points.
PlanUnit likelyPlanUnit(const std::vector<PositionRow> &drawn);

struct PlanReading
{
    std::vector<PositionRow> rows; // in metres
    PositionSummary summary;       // missing, twice, notDrawn and the unit filled in
    // What is kept with the project: the drawing's lines in metres, thinned
    // to what the plan shows (see simplifiedBackground), under the file's name.
    PlanDrawingFile file;
    PlanUnit unit;
    bool unitStated = false;
    // As read, in drawing units, for another unit to be chosen.
    std::vector<PositionRow> drawn;
    PlanBackground background;
};
// `asked` the unit the user chose; else the header's, else the likely one.
Result<PlanReading> readPlanPositions(const QString &path, const std::vector<Point> &points,
                                     std::optional<PlanUnit> asked = std::nullopt);
PlanReading planPositions(const DxfContents &contents, const std::vector<Point> &points,
                          std::optional<PlanUnit> asked = std::nullopt);
// The same reading in another unit.
PlanReading inPlanUnit(PlanReading reading, const PlanUnit &unit, bool stated);
// A building is between 3 m and 3 km wide: a drawing whose unit makes it
// narrower or wider was drawn in another unit than its header says (a plan
// in metres whose $INSUNITS says inches) or than was judged. Why, in words,
// with the width; empty when the width is a building's.
constexpr double narrowestBuilding = 3, widestBuilding = 3000; // m
QString planUnitDoubt(const PlanReading &reading);

// At most `maxSegments` segments of the lines: vertices snapped to a grid
// of a tolerance, lines within one cell left out and lines that snap onto
// each other kept once, the tolerance growing from 1/4000 of the extent
// until the rest fits (a million lines of a drawing become what a plan can
// show). Lines that fit already are kept as they are.
constexpr size_t maxPlanSegments = 60'000;
PlanBackground simplifiedBackground(const PlanBackground &background, size_t maxSegments = maxPlanSegments);
// The lines as a DXF drawing in metres ($INSUNITS 6), one LWPOLYLINE each.
QByteArray planBackgroundDxf(const PlanBackground &background);

// The lines, polylines, arcs and circles of a drawing, arcs traced within
// 0.1 % of their radius.
PlanBackground planBackground(const DxfContents &contents);
Result<PlanBackground> planBackground(const PlanDrawingFile &drawing);
// The plan drawing kept with the project, as lines; none without one.
Result<PlanBackground> storedPlanBackground(ProjectDatabase &project);
// The same of the project at `projectPath` (a file or a server address),
// opened for it; a failure names what could not be read.
Result<PlanBackground> storedPlanBackground(const QString &projectPath);
