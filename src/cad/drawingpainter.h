#pragma once

// The drawing in memory rendered on a painter: the same entities that become
// the DXF file (lines, polylines, circles, arcs, texts, solids, and block
// references with their blocks), never a second drawing of the data.

#include "cad/drawing.h"

#include <QColor>
#include <QRectF>

#include <functional>

class QPainter;

// The colour of a CAD colour index on paper; white (7) is black there.
using AciColour = std::function<QColor(int aci)>;

// Paints the entities of `drawing` that lie in `source` (drawing units, Y
// up) into `target` of the painter, at one scale that fits `source` in it;
// text in `fontFamily` at the entities' heights.
void paintDrawing(QPainter &painter, const Drawing &drawing, const QRectF &source, const QRectF &target,
                  const AciColour &colour, const QString &fontFamily);
