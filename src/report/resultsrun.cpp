#include "report/resultsrun.h"

#include "base/programfiles.h"
#include "base/settings.h"
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

std::vector<std::optional<QString>> resultsHeader(const std::map<QString, QString> &fields)
{
    std::vector<std::optional<QString>> header;
    for (const QString &key : resultsHeaderKeys()) {
        const auto found = fields.find(key);
        header.push_back(found == fields.end() ? std::nullopt : std::optional(found->second));
    }
    return header;
}

Result<ResultsRunStatus> runResultsTable(const ProjectSnapshot &snapshot,
                                         const ResultsSettings &settings,
                                         const QString &templatePath, const QString &output)
{
    if (snapshot.epochs().empty() || !snapshot.hasElevations())
        return ResultsRunStatus::NothingToWrite;
    if (templatePath.isEmpty() || !QFileInfo(templatePath).isFile())
        return ResultsRunStatus::TemplateMissing;

    XlsxWorkbook workbook;
    QString error;
    if (!workbook.open(templatePath, &error))
        return fail(error);
    XlsxSheet *sheet = workbook.sheet(QStringLiteral("沉降观测成果表"), &error);
    if (!sheet)
        return fail(
            QStringLiteral("表格模板 %1：%2").arg(QDir::toNativeSeparators(templatePath), error));
    WriteResultsTable(*sheet, snapshot, settings);
    if (auto saved = workbook.save(output); !saved)
        return saved.failure();
    return ResultsRunStatus::Written;
}
