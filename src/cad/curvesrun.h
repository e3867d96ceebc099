#pragma once

#include "base/outputguard.h"
#include "base/result.h"
#include "cad/cadinterface.h"
#include "cad/sheetdrawing.h"
#include "layout/curvelayout.h"
#include "domain/projectsnapshot.h"

#include <QString>

#include <map>
#include <optional>

class SettingsStore;

// The curve-sheet run, shared by the window and sedimetra-batch: settings as
// numbers in, the sheets of one kind drawn into a drawing.

// The axis ranges of a kind as the boxes show them by default: the layout's
// ranges at the kind's decimals (time and auxiliary axes whole days and
// floors; settlement one decimal, rate two, load none).
struct AxisRanges
{
    double time = 0, curve = 0, aux = 0;
};
AxisRanges defaultAxisRanges(const CurveLayout &layout, CurveKind kind);
// The decimals the curve axis of a kind is shown with.
int curveAxisDecimals(CurveKind kind);

// How far the project's data reach on the axes of a kind's sheets: the
// latest epoch's day count; the largest settlement in mm of the points drawn
// (1 to the point count), the largest mean sinking rate, or the most floors;
// on the auxiliary axis of settlement sheets the most floors.
AxisRanges dataExtents(const ProjectSnapshot &snapshot, CurveKind kind, int pointCount);
// How far the data reach, and the ranges the axis boxes show for them: on
// each axis the larger of the layout's range and the data's extent rounded
// up to the axis's label step. Made once an output.
struct DataFit
{
    AxisRanges extents, fitted;
};
DataFit fitData(const CurveLayout &layout, CurveKind kind, const ProjectSnapshot &snapshot,
                int pointCount);
inline AxisRanges fittedAxisRanges(const CurveLayout &layout, CurveKind kind,
                                   const ProjectSnapshot &snapshot, int pointCount)
{
    return fitData(layout, kind, snapshot, pointCount).fitted;
}


// Everything a run draws with.
struct CurveRunSettings
{
    CurveKind kind = CurveKind::Settlement;
    CurveLayout layout;
    QString frameDir; // the chosen frame template's folder; empty: no frames
    MarkFiles marks;
    int pointCount = 15;
    AxisRanges ranges;
    int linesPerSheet = 1; // settlement lines a sheet, at least 1
    int sheetsPerRow = 0;
    QString font, bigFont; // the fonts of the text style "沉降"
    // What the frame's title block shows, by attribute tag: the header
    // fields by their names and "日期", the last epoch's date.
    std::map<QString, QString> titleValues;
};

// An axis whose range is too small for the data it is to show.
struct AxisShortfall
{
    enum Axis { Time, Curve, Aux } axis = Time;
    double extent = 0; // what the data need
    double range = 0;  // what the axis was given (never below the layout's)
    double fitted = 0; // the range that holds them
};
// The axes of `settings` that the data exceed: each axis draws the larger
// of its given range and the layout's, and the data must fit in that.
std::vector<AxisShortfall> axisShortfalls(const CurveRunSettings &settings, const DataFit &fit);
// Widens the axes of `settings` to the fitted ranges of the shortfalls.
void widenAxes(CurveRunSettings &settings, const std::vector<AxisShortfall> &shortfalls);

// The texts of the window's boxes (or of the command line) a run takes.
struct CurveBoxTexts
{
    QString time, curve, aux; // Text6, Text7, Text8
    bool split = true;        // Check1
    QString lines, perRow;    // Text10, Text11
};
// The one place box texts become numbers: each the leading number of its
// text; lines per sheet are the point count without splitting and never
// fewer than 1.
void applyBoxTexts(CurveRunSettings &settings, const CurveBoxTexts &texts);

// Refuses, naming the value, a number of the layout or an axis range that is
// not finite or beyond what any sheet needs: more than 100,000 days,
// 100,000 mm, 1,000 mm/d or 1,000 floors, or a length or position on the
// sheet beyond 100,000 drawing units.
Result<void> checkCurveNumbers(const CurveRunSettings &settings);
// The largest base point coordinate taken.
constexpr double maxBaseCoordinate = 1e9;

enum class CurveRunStatus { Drawn, NoElevations, Cancelled, FontMissing };

// Connects the drawing (fonts), asks for the base point ("请指定插入基点：",
// object snap 32 while picking) and draws the sheets of the chosen kind:
// frames, axes, curves, marks and legends; settlement sheets N lines a sheet
// and R sheets a row, rows downwards. Nothing is drawn when the project has
// no elevation. Fails when the drawing cannot be attached.
Result<CurveRunStatus> runCurveSheets(CadInterface &cad, const ProjectSnapshot &snapshot,
                                      const CurveRunSettings &settings);

// The run after the drawing is connected: base point, then the sheets.
CurveRunStatus DrawCurveSheets(CadInterface &cad, const ProjectSnapshot &snapshot,
                               const CurveRunSettings &settings);

// The values of a frame's title block: the header fields (see
// effectiveHeaderFields) by their names, and "日期", the last epoch's date.
std::map<QString, QString> titleBlockValues(std::map<QString, QString> headerFields,
                                            const ProjectSnapshot &snapshot);

// The files a run's drawing must never replace: the program's (see
// programFiles) and what the run reads, the frame drawing and the mark
// drawings of the points.
ProtectedFiles curveRunProtectedFiles(const QString &programDir, const QString &projectPath,
                                      const CurveRunSettings &settings,
                                      const ProjectSnapshot &snapshot);

// Where a project's drawing of one kind is written by default: beside the
// project, named by it and by the kind ("楼_沉降曲线.dxf", "楼_平面图.dxf"),
// so that a drawing of one kind never replaces one of another.
QString drawingPathOf(const QString &projectPath, const QString &kind);
inline const QString planDrawingKind = QStringLiteral("平面图");

class SettingsStore;

// What a curve run is asked for, as the window and sedimetra-batch both
// have it; what is not given comes from the settings and the data.
struct CurveRequest
{
    const SettingsStore *settings = nullptr;
    std::map<QString, QString> headerFields; // see effectiveHeaderFields
    QString programDir, projectPath;
    QString output; // empty: beside the project
    CurveKind kind = CurveKind::Settlement;
    // Not given: the setting 图框模板, else the first template; empty: none.
    std::optional<QString> frameName;
    std::optional<CurveLayout> layout; // the window's own; else read with the frame
    std::optional<int> pointCount;     // the window's own; else the setting
    // The boxes: an axis not given takes the range fitted to the data, as
    // the window's boxes show it; lines and sheets a row the settings'.
    std::optional<QString> time, curve, aux, lines, perRow;
    bool split = true;
    std::optional<QString> font, bigFont; // else the settings' fonts
};

// Everything one run needs, with how far the data reach and where the
// drawing goes.
struct CurveRun
{
    CurveRunSettings settings;
    DataFit fit;
    QString output;
};

// The run of a request on the sheets' snapshot; refused, with the reason,
// for a frame template that is not there or an output that would replace
// the project, a file of the program or one the run reads.
Result<CurveRun> prepareCurveRun(const CurveRequest &request, const ProjectSnapshot &sheets);
