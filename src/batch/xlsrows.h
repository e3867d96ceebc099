#pragma once

#include <cstdio>

// Prints the data rows of the sheet "Sheet1" of the .xls workbook at `path`
// to `out`, one line a row (see sedimetra-xlsreader); returns the exit code:
// 0 rows printed, 4 no data row, 3 unreadable (the reason to `errors`).
int readXlsRows(const char *path, FILE *out, FILE *errors);
