#pragma once

#include "cad/cadinterface.h"
#include "layout/curvelayout.h"
#include "project/projectdb.h"

#include <QString>

#include <functional>
#include <vector>

// Connecting to the drawing and drawing curve sheets into it: the frames,
// axes, curves, marks and legends of a run.

enum class ConnectResult { Ready, AttachFailed, FontMissing };

// Prepares the drawing for a run: object snap off, colour and line type by
// layer, the text style "沉降" with the user's fonts. `font` is either a font
// file ("romans", ".shx" added when there is no extension) or a TrueType face
// between "[" and "]"; an empty font or "[]" is a missing font, reported to
// the drawing as an alert. `error` says why attaching failed.
ConnectResult ConnectCad(CadInterface &cad, const QString &font, const QString &bigFont,
                         QString *error);

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

// The project's records as a run reads them.
struct SheetData
{
    std::vector<Epoch> epochs;         // CjNo order
    std::vector<Elevation> elevations; // CjNo, then CjdNo order
    std::vector<Point> points;
};

// The mark drawings: Support/<mark>.dxf of the program directory.
struct MarkFiles
{
    QString supportDir; // ends in "/"
    QString file(const QString &mark) const { return supportDir + mark + QStringLiteral(".dxf"); }
};

void DrawPointCurve(CadInterface &cad, const SheetData &data, int point, int legendRow,
                    CadPoint origin, const SheetScales &scales, const CurveLayout &layout,
                    const MarkFiles &marks);
void DrawLoadCurve(CadInterface &cad, const SheetData &data, CadPoint origin, double timeScale,
                   double floorScale, const MarkFiles &marks);
void DrawRateCurve(CadInterface &cad, const SheetData &data, int pointCount, CadPoint origin,
                   const SheetScales &scales, const MarkFiles &marks);

// Everything a run takes from the window (or the command line).
struct CurveRunInputs
{
    CurveKind kind = CurveKind::Settlement;
    CurveLayout layout;
    QString frameDir; // the chosen frame template's folder; empty: no frames
    MarkFiles marks;
    int pointCount = 15;
    QString timeText;   // Text6
    QString curveText;  // Text7
    QString auxText;    // Text8
    bool split = true;  // Check1
    QString linesText;  // Text10
    QString perRowText; // Text11
};

enum class RunResult { Drawn, NoElevations, Cancelled };

// The drawing scale of an axis: length per unit of the larger of the box's
// number and the layout's range; 0 when that is 0.
double axisScale(double length, double layoutRange, double boxValue);

// One curve-sheet run after the drawing is connected: scales, the base point
// (asked with "请指定插入基点：", "OsMode" 32 while picking), then the sheets of
// the chosen kind. Nothing is drawn when the project has no elevation.
RunResult DrawCurveSheets(CadInterface &cad, const SheetData &data, const CurveRunInputs &inputs);

// The frame drawing of a kind: 曲线图框.dxf, 速率图框.dxf or 荷载图框.dxf.
QString frameFileName(CurveKind kind);
