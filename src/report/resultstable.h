#pragma once

#include "domain/projectsnapshot.h"
#include "domain/stability.h"
#include "xlsx/workbook.h"

#include <QString>

#include <optional>
#include <utility>
#include <map>
#include <vector>

// The results table (沉降观测成果表) written into a worksheet from the project
// snapshot. Uses survey/ and xlsx/.

// What the results table takes besides the project.
struct ResultsSettings
{
    int pointCount = 15; // setting 支持点数
    QString unit = QStringLiteral("m");
    // The eight header fields as stored (nothing when a key has no row), in
    // the order of their cells B1, H1, B2, H2, M2, B3, H3, M3.
    std::vector<std::optional<QString>> header;
    // What the sheet "稳定性分析" is worked out with.
    StabilitySettings stability;
    // What the sheet "差异沉降与倾斜" is worked out with: the project's header
    // fields (alarm values, height, structure, soil) and the limits table.
    std::map<QString, QString> fields;
    QString limitsPath;
};

// The results sheet's layout, which the report draws as the workbook has
// it: the header in rows 1 to 3, then pages of 22 rows from row 4.
constexpr int resultsHeaderRows = 3;
constexpr int resultsFirstPageRow = 4;
constexpr int resultsPageRows = 22;

// The rounded point count: the highest point number with an elevation, or the
// point count when that is lower, rounded up to a multiple of 15.
int roundedPointCount(const ProjectSnapshot &snapshot, int pointCount);

// Fills the results sheet: the header cells, one run of pages per group of
// three epochs (15 points a page, 22 rows a page from row 4), each page a copy
// of the model rows 4 to 25. Epoch 0 is the first observation; epochs 1 to
// E = number of epochs - 1 are written.
void WriteResultsTable(ResultsSheet &sheet, const ProjectSnapshot &snapshot,
                       const ResultsSettings &settings);

// The settings keys of the header cells, in the order of ResultsSettings::header.
std::vector<QString> resultsHeaderKeys();
