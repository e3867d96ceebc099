#pragma once

#include "cad/sheetdrawing.h"

#include <QString>

class ProjectDatabase;

// The project's records as a curve-sheet run reads them.
SheetData readSheetData(ProjectDatabase &project);

// Where a project's curve sheets are written: the project's path with the
// extension .dxf instead of .mdb.
QString drawingPathOf(const QString &projectPath);
