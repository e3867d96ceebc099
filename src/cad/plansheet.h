#pragma once

// The plan sheet (沉降平面图): the building's plan with its points, their
// cumulative settlement at one epoch, the contour lines, the tilt and the
// alarms, in the frame and title block of the curve sheets, at a scale
// that fits the frame.

#include "base/result.h"
#include "cad/cadinterface.h"
#include "cad/sheetdrawing.h"
#include "domain/buildingdeformation.h"

#include <QString>

#include <map>
#include <optional>
#include <vector>

struct PlanSheetSettings
{
    QString frameFile;  // the plan frame drawing; empty: no frame
    double sheetWidth = 420, sheetHeight = 297; // the frame's sheet, drawing units (mm)
    MarkFiles marks;
    QString font, bigFont;
    std::map<QString, QString> titleValues;
    std::optional<int> scale; // 1:scale; nothing: the largest standard one that fits
};

// The standard scales, 1:100, 1:150, 1:200, 1:250, 1:300, 1:400, 1:500, 1:600, 1:1000, … .
std::vector<int> planScales();
// The largest standard scale at which `widthM` × `heightM` metres fit in
// `widthMm` × `heightMm` of paper (the smallest scale number).
int fittingScale(double widthM, double heightM, double widthMm, double heightMm);

struct CurveRunSettings;
// The plan sheet's settings from a curve run's: its frame template's plan
// frame (none when the template has none), sheet size, marks, fonts and
// title block.
PlanSheetSettings planSheetSettings(const CurveRunSettings &run);

enum class PlanSheetStatus { Drawn, Cancelled, FontMissing, NoPlan };

// Connects the drawing, asks for the base point (the sheet's lower left
// corner) and draws the sheet: the background on layer "平面图", points on
// their layers with name and settlement, contours on "等值线" with their
// levels, the legend with the scale bar and the tilt, alarms on "预警".
Result<PlanSheetStatus> runPlanSheet(CadInterface &cad, const ProjectSnapshot &snapshot,
                                     const PlanFigures &figures, const PlanBackground &background,
                                     const PlanSheetSettings &settings, int *usedScale = nullptr);
