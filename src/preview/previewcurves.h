#pragma once

#include "layout/curvelayout.h"
#include "project/projectdb.h"

#include <QColor>
#include <QPointF>
#include <QRectF>

#include <vector>

class QPainter;

// The on-screen preview: bare polylines in a fixed coordinate window. x is
// always days since the first epoch; y is mm of settlement, mm/d of mean
// rate, or loaded floors.

// User coordinates of the area's left, top, right and bottom edges.
struct CoordinateWindow
{
    double left = 0, top = 0, right = 1, bottom = 0;
    bool operator==(const CoordinateWindow &) const = default;
};

// The settlement window of zoom level 1 (widest) to 4 (narrowest).
CoordinateWindow settlementWindow(int zoomLevel);
CoordinateWindow rateWindow();
CoordinateWindow loadWindow();

struct Polyline
{
    QColor colour;
    std::vector<QPointF> points; // user coordinates
};

// What the preview area shows: a window and the lines in it.
struct PreviewPicture
{
    CoordinateWindow window;
    std::vector<Polyline> lines;
};

// A project's data as the preview reads it, in one pass.
struct PreviewData
{
    std::vector<Epoch> epochs;         // CjNo order
    std::vector<Elevation> elevations; // any order
    std::vector<Point> points;
    std::vector<std::pair<int, Rgb>> colours; // the colours the points use
};

// Reads what the preview needs from the project, reading the elevations in
// a single query.
PreviewData readPreviewData(ProjectDatabase &project);

// Every point 1 to `pointCount` with elevations: a polyline from the origin
// through (days since epoch 0, (H - first H) × 1000) for each of its
// elevations in epoch order, in the point's colour (black without one).
std::vector<Polyline> settlementCurves(const PreviewData &data, int pointCount);

// The mean rate of the points of each epoch against the epoch before it, in
// red, from the origin. An epoch whose rate is undefined (no elevation with a
// counterpart one epoch earlier, or a zero day count) is skipped without
// moving the line's last point.
Polyline rateCurve(const PreviewData &data);

// The loaded floors of each epoch against its day, in blue, from the first
// epoch's floors on the y axis; epochs on the first epoch's date are not drawn.
Polyline loadCurve(const PreviewData &data);

// Draws the picture into `area` of the painter: a point (x, y) lands at
// (x − left) ÷ (right − left) × width, (y − top) ÷ (bottom − top) × height,
// lines one pixel wide, clipped to the area.
void drawPreview(QPainter &painter, const QRectF &area, const PreviewPicture &picture);
