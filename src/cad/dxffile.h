#pragma once

#include "base/result.h"
#include "cad/drawing.h"

#include <QByteArray>
#include <QString>

#include <set>
#include <string>
#include <vector>

// DXF files: the frame and mark drawings read with dxflib, and the drawing
// written as one DXF R2000 file.

// The model-space entities of a DXF file (lines, polylines, circles, arcs,
// texts, solids); fails naming the file when it is missing or unreadable.
Result<std::vector<Drawing::Entity>> readDxfEntities(const QString &file);

// The whole drawing as DXF R2000 text.
QByteArray dxfText(const Drawing &drawing);

// Writes the drawing to `path` through SaveFile. A file of that name that is
// not in `writtenThisRun` (a drawing from elsewhere, or of an earlier program
// run) is kept as <name>.bak.dxf first; the path is added to the set.
Result<void> writeDxfFile(const Drawing &drawing, const QString &path,
                          std::set<QString> *writtenThisRun);

// Text for a DXF R2000 file: ASCII kept, every other character as \U+XXXX
// with upper-case hex digits.
std::string dxfEscaped(const QString &text);
// The reverse: \U+XXXX escapes and UTF-8 bytes read back into text.
QString dxfUnescaped(const std::string &text);
