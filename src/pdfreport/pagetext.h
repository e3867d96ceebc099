#pragma once

// Tables on a report page: the grid of a table of texts, and rows of a sheet
// as the workbook lays them out. Texts are placed as the page's other texts
// are (reportFont, device units of reportDpi); plain figures are drawn from
// their glyphs without laying each out, and other texts laid out once.

#include "xlsx/workbook.h"

#include <QPainter>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// The columns' left edges and the right edge of the last, over `width`.
std::vector<double> columnEdges(double left, double width, const std::vector<double> &weights);
// How high a row is drawn: its tallest cell's lines.
double rowHeightOf(const QStringList &cells, const std::vector<double> &x, double points);
// A table of texts drawn in a rectangle from `top`: a heading row, then the
// rows, every column as wide as `weights` share out, a text too wide for its
// cell wrapped onto more lines (never cut); returns the bottom.
double drawTable(QPainter &p, const QRectF &body, double top, const QStringList &headings,
                 const std::vector<QStringList> &rows, const std::vector<double> &weights, double points);
// Rows of a sheet drawn as the sheet lays them out (see pagetext.cpp);
// returns the bottom.
double drawSheetRows(QPainter &p, const QRectF &body, double top, const std::vector<int> &rows,
                     const std::function<QString(int, int)> &text, const std::vector<XlsxSheet::Range> &merges,
                     const std::vector<double> &widths, double points);
