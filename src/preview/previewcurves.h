#pragma once

#include "layout/curvelayout.h"
#include "domain/projectsnapshot.h"

#include <QColor>
#include <QPointF>
#include <QRectF>

#include <vector>

class QPainter;

// The on-screen preview: its geometry from the project snapshot, and its
// painting on a given painter (the window's widget only hands its painter
// here). Uses survey/ and base/, never a widget.
//
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

// A window of the preview made large enough for the lines: `window` (one of
// the above at some zoom level) stretched by the factors that make `widest`
// (the same kind's window at the zoom level a project opens with) hold every
// point, in time and in value, its margins kept in proportion; a rise beyond
// the top is taken in too. So a project opens showing the whole of it, and
// the other zoom levels keep their proportion to that.
CoordinateWindow fittedWindow(const CoordinateWindow &window, const CoordinateWindow &widest,
                              const std::vector<Polyline> &lines);

// What the preview area shows: a window and the lines in it.
struct PreviewPicture
{
    CoordinateWindow window;
    std::vector<Polyline> lines;
};

// Every point 1 to `pointCount` with elevations: a polyline from the origin
// through (days since epoch 0, (H - first H) × 1000) for each of its
// elevations in epoch order, in the point's colour (black without one).
std::vector<Polyline> settlementCurves(const ProjectSnapshot &snapshot, int pointCount);

// The mean sinking rate of every epoch (MeanSinkingRate over all points), in
// red, from the origin. An epoch without one is skipped without moving the
// line's last point.
Polyline rateCurve(const ProjectSnapshot &snapshot);

// The loaded floors of each epoch against its day, in blue, from the first
// epoch's floors on the y axis; epochs on the first epoch's date are not drawn.
Polyline loadCurve(const ProjectSnapshot &snapshot);

// Draws the picture into `area` of the painter: a point (x, y) lands at
// (x − left) ÷ (right − left) × width, (y − top) ÷ (bottom − top) × height,
// lines one pixel wide, clipped to the area.
void drawPreview(QPainter &painter, const QRectF &area, const PreviewPicture &picture);
