#pragma once

// The building's plan drawing (a DXF file from the architect or the
// surveyor): where it places the points, and the lines drawn behind them.

#include "base/result.h"
#include "cad/dxffile.h"
#include "project/projectdb.h"
#include "survey/deformation.h"
#include "survey/pointpositions.h"

// For each point, a TEXT or MTEXT whose text is the point's name (letter
// case and blanks around ignored) places it: at the centre of the nearest
// CIRCLE or block reference within three text heights of the text's
// insertion point, else at the insertion point. A name the drawing shows
// twice places nothing and is listed, as are points it does not show and
// the kinds of entity not drawn. The drawing's bytes come along, to be kept
// with the project.
struct PlanReading
{
    std::vector<PositionRow> rows;
    PositionSummary summary; // missing, twice and notDrawn filled in
    PlanDrawingFile file;
};
Result<PlanReading> readPlanPositions(const QString &path, const std::vector<Point> &points);
PlanReading planPositions(const DxfContents &contents, const std::vector<Point> &points);

// The lines, polylines, arcs and circles of a drawing, arcs traced within
// 0.1 % of their radius.
PlanBackground planBackground(const DxfContents &contents);
Result<PlanBackground> planBackground(const PlanDrawingFile &drawing);
// The plan drawing kept with the project, as lines; none without one.
Result<PlanBackground> storedPlanBackground(ProjectDatabase &project);
// The same of the project at `projectPath` (a file or a server address),
// opened for it; a failure names what could not be read.
Result<PlanBackground> storedPlanBackground(const QString &projectPath);
