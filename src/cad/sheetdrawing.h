#pragma once

#include "cad/cadinterface.h"
#include "layout/curvelayout.h"
#include "domain/projectsnapshot.h"

#include <QString>

#include <functional>
#include <vector>

// Drawing curve sheets through the CAD interface: connecting, the axes, the
// curves with their marks and legends. The curve-sheet run (curvesrun.h)
// puts them together into sheets.

enum class ConnectResult { Ready, FontMissing };

// Prepares the drawing for a run: object snap off, colour and line type by
// layer, the text style "沉降" with the user's fonts. `font` is either a font
// file ("romans", ".shx" added when there is no extension) or a TrueType face
// between "[" and "]"; an empty font or "[]" is a missing font, reported to
// the caller, who tells the user. A drawing that cannot be attached is a
// failure with the reason.
Result<ConnectResult> ConnectCad(CadInterface &cad, const QString &font, const QString &bigFont);

// A layer made current, created with `colour` when the drawing lacks it; an
// existing layer keeps its colour.
void UseLayer(CadInterface &cad, const QString &name, int colour);
// A text of height 2 at the point with its alignment and width factor 0.8.
void AddLabel(CadInterface &cad, const QString &text, CadPoint at, int vertical, int horizontal);

// What one sheet is drawn with.
struct SheetScales
{
    double time = 0;  // drawing units per day
    double curve = 0; // per mm, mm/d or floor
    double aux = 0;   // per floor on the auxiliary axis
};

void DrawSettlementAxes(CadInterface &cad, CadPoint origin, double timeRange, double curveRange,
                        const SheetScales &scales, const CurveLayout &layout);
void DrawRateAxes(CadInterface &cad, CadPoint origin, double timeRange, double curveRange,
                  const SheetScales &scales);
void DrawLoadAxes(CadInterface &cad, CadPoint origin, double timeRange, double curveRange,
                  const SheetScales &scales);

// The mark drawings: Support/<mark>.dxf of the program directory.
struct MarkFiles
{
    QString supportDir; // ends in "/"
    // The drawing of a mark; empty, as for a mark without a drawing, when the
    // name would reach outside the folder (a path separator or "..").
    QString file(const QString &mark) const;
};

void DrawPointCurve(CadInterface &cad, const ProjectSnapshot &snapshot, int point, int legendRow,
                    CadPoint origin, const SheetScales &scales, const CurveLayout &layout,
                    const MarkFiles &marks);
void DrawLoadCurve(CadInterface &cad, const ProjectSnapshot &snapshot, CadPoint origin, double timeScale,
                   double floorScale, const MarkFiles &marks);
void DrawRateCurve(CadInterface &cad, const ProjectSnapshot &snapshot, int pointCount, CadPoint origin,
                   const SheetScales &scales, const MarkFiles &marks);

// The axes of the curve sheets, each with the label step of the sheets
// drawn by hand: 10 days, 1 mm, 0.01 mm/d, 3 floors, 2 floors on the
// auxiliary axis.
enum class AxisKind { Time, Settlement, Rate, Load, Aux };
double baseLabelStep(AxisKind axis);
// The step between an axis's labels: the base step as long as neighbouring
// labels stay at least one and a half label heights apart (on the time axis,
// where they stand side by side, also the widest label's width and half a
// height), otherwise the first of 2, 5, 10, 20, 50 ... times the base step
// that keeps them apart. `scale` is drawing units per unit of the axis.
double axisLabelStep(AxisKind axis, double range, double scale);

// The drawing scale of an axis: length per unit of the larger of the range
// asked for and the layout's range; 0 when that is 0.
double axisScale(double length, double layoutRange, double boxValue);

// The frame drawing of a kind: 曲线图框.dxf, 速率图框.dxf or 荷载图框.dxf.
QString frameFileName(CurveKind kind);
// The frame drawing of the plan sheet, inserted at the sheet's lower left corner.
inline QString planFrameFileName() { return QStringLiteral("平面图框.dxf"); }
