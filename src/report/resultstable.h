#pragma once

#include "project/projectdb.h"
#include "xlsx/workbook.h"

#include <QString>

#include <optional>
#include <utility>
#include <vector>

// What the results table (沉降观测成果表) is written from.
struct ResultsInputs
{
    std::vector<Epoch> epochs; // CjNo order
    std::vector<Elevation> elevations;
    std::vector<Point> points;
    int pointCount = 15; // setting 支持点数
    QString unit = QStringLiteral("m");
    // The eight header fields as stored (nothing when a key has no row), in
    // the order of their cells B1, H1, B2, H2, M2, B3, H3, M3.
    std::vector<std::optional<QString>> header;
};

// The rounded point count: the highest point number with an elevation, or the
// point count when that is lower, rounded up to a multiple of 15.
int roundedPointCount(const std::vector<Elevation> &elevations, int pointCount);

// Fills the results sheet: the header cells, one run of pages per group of
// three epochs (15 points a page, 22 rows a page from row 4), each page a copy
// of the model rows 4 to 25. Epoch 0 is the first observation; epochs 1 to
// E = number of epochs - 1 are written.
void WriteResultsTable(ResultsSheet &sheet, const ResultsInputs &inputs);

// The settings keys of the header cells, in the order of ResultsInputs::header.
std::vector<QString> resultsHeaderKeys();
