#pragma once

#include "base/result.h"
#include "cad/drawing.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// DXF files: the frame and mark drawings read, and the drawing written as one
// DXF R2000 file the way CAD programs on a Chinese system write them: text in
// GBK with $DWGCODEPAGE ANSI_936, every table record and object with a handle
// and its owner.

// What a frame or mark drawing holds for the curve sheets.
// The model-space lines, polylines, circles, arcs, texts, solids and
// attribute definitions, and the text styles of the STYLE table.
using DxfContents = Drawing::BlockFile;

// Reads a DXF file (R12 to R2018, ASCII); fails naming the file when it is
// missing or unreadable. Blocks are exploded to any depth with their
// insertion's scale, rotation and array; polylines' bulges, ellipses and
// splines become polylines within 0.1 % of their size; MTEXT becomes text,
// a line each, its formatting stripped.
Result<DxfContents> readDxfFile(const QString &file);
// The same from a drawing's bytes; `name` names it in messages.
Result<DxfContents> readDxfBytes(const QByteArray &bytes, const QString &name);
// The kinds the reader draws, as DXF names them.
const std::vector<QString> &dxfDrawnKinds();
// MTEXT's text without its formatting codes: paragraphs as line breaks.
QString plainMtext(const QString &text);

// The whole drawing as DXF R2000 text.
QByteArray dxfText(const Drawing &drawing);

// Writes the drawing to `path` through SaveFile. A file of that name that is
// not in `writtenThisRun` (a drawing from elsewhere, or of an earlier program
// run) is kept as <name>.bak.dxf first; the path is added to the set.
Result<void> writeDxfFile(const Drawing &drawing, const QString &path,
                          std::set<QString> *writtenThisRun);

// Text as a DXF R2000 file on a Chinese system holds it: ASCII as it is,
// characters GBK has as GBK bytes, any other character as \U+XXXX; control
// characters become spaces and a caret is written "^ ".
std::string dxfEncoded(const QString &text);
// The reverse, for a file whose strings are GBK (`gbk`) or UTF-8: \U+XXXX
// escapes and "^ " carets read back into text.
QString dxfDecoded(std::string_view bytes, bool gbk);

