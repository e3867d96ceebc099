#include "cad/curvesrun.h"

#include "project/projectdb.h"

#include <QFileInfo>

SheetData readSheetData(ProjectDatabase &project)
{
    return SheetData{project.epochs(), project.allElevations(), project.points()};
}

QString drawingPathOf(const QString &projectPath)
{
    const QFileInfo info(projectPath);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName()
           + QStringLiteral(".dxf");
}
