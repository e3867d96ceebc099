#include "report/resultsrun.h"

#include "base/programfiles.h"
#include "base/settings.h"
#include "project/projectdb.h"
#include "report/resultstable.h"
#include "xlsx/workbook.h"

#include <QDir>
#include <QFileInfo>

QString resultsPathOf(const QString &projectPath)
{
    const QFileInfo info(projectPath);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName()
           + QStringLiteral(".xlsx");
}

QString tableTemplatePath(const QString &programDir, const QString &name)
{
    if (name.isEmpty())
        return QString();
    const QString file =
        findIgnoringCase(tableTemplatesDir(programDir), name + QStringLiteral(".xlsx"));
    return file.isEmpty() || !QFileInfo(file).isFile() ? QString() : file;
}

ResultsRunStatus runResultsTable(ProjectDatabase &project, const SettingsStore &settings,
                                 const QString &templatePath, int pointCount, const QString &unit,
                                 const QString &output, QString *error)
{
    ResultsInputs in;
    in.epochs = project.epochs();
    in.elevations = project.allElevations();
    if (in.epochs.empty() || in.elevations.empty())
        return ResultsRunStatus::NothingToWrite;
    if (templatePath.isEmpty() || !QFileInfo(templatePath).isFile())
        return ResultsRunStatus::TemplateMissing;
    in.points = project.points();
    in.pointCount = pointCount;
    in.unit = unit;
    for (const QString &key : resultsHeaderKeys())
        in.header.push_back(settings.readSetting(key));

    XlsxWorkbook workbook;
    if (!workbook.open(templatePath, error))
        return ResultsRunStatus::Failed;
    XlsxSheet *sheet = workbook.sheet(QStringLiteral("沉降观测成果表"), error);
    if (!sheet) {
        *error =
            QStringLiteral("表格模板 %1：%2").arg(QDir::toNativeSeparators(templatePath), *error);
        return ResultsRunStatus::Failed;
    }
    WriteResultsTable(*sheet, in);
    if (!workbook.save(output, error))
        return ResultsRunStatus::Failed;
    return ResultsRunStatus::Written;
}
