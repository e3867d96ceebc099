#include "report/resultsrun.h"

#include "base/outputguard.h"
#include "base/programfiles.h"
#include "base/textnumber.h"
#include "domain/buildingdeformation.h"
#include "domain/monitoringmodel.h"
#include "domain/projectsnapshot.h"
#include "domain/stability.h"
#include "project/settingsstore.h"
#include "xlsx/workbook.h"
#include "survey/domaininputs.h"

#include <QDir>

#include <cmath>

#include <map>
#include <QFileInfo>

QString resultsPathOf(const QString &projectPath)
{
    return outputPathOf(projectPath, QStringLiteral(".xlsx"));
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

namespace {

// The lines a text takes in a column `width` characters wide: a Chinese
// character is two wide.
int wrappedLines(const QString &text, double width)
{
    double needed = 0;
    for (const QChar ch : text)
        needed += ch.unicode() >= 0x2e80 ? 2 : 1;
    return std::max(1, int(std::ceil(needed / std::max(width - 1, 1.0))));
}

// The columns of the sheet "稳定性分析", in characters: the sheet prints on
// A4 landscape one page wide, the note wrapped in its cell.
const std::vector<double> stabilityColumns{5, 7, 8, 9, 9, 9, 7, 10, 7, 10, 11, 14, 14, 36};

// The sheet "稳定性分析": the building's verdict, the settings used, then the
// table as the window shows it, its figures as numbers.
void writeStabilitySheet(XlsxSheet &sheet, const StabilityAnalysis &analysis)
{
    sheet.setText(QStringLiteral("A1"), QStringLiteral("稳定性分析"));
    sheet.setText(QStringLiteral("A2"),
                  QStringLiteral("建筑物稳定性：%1").arg(verdictText(analysis.building)));
    sheet.setText(QStringLiteral("A3"), stabilitySettingsLine(analysis.settings));
    const QStringList headings = stabilityHeadings();
    for (qsizetype c = 0; c < headings.size(); ++c) {
        const QString cell = columnLetters(int(c) + 1) + QStringLiteral("5");
        sheet.setText(cell, headings[c]);
        sheet.setWrapped(cell);
        sheet.setBordered(cell);
    }
    sheet.setRowHeight(5, 30);
    // The number format of each column that holds figures.
    const std::map<int, QString> formats{{0, QStringLiteral("0")},      {2, QStringLiteral("0")},
                                         {3, QStringLiteral("0.00")},   {4, QStringLiteral("0.0000")},
                                         {5, QStringLiteral("0.0000")}, {7, QStringLiteral("0.00")},
                                         {8, QStringLiteral("0.0000")}, {9, QStringLiteral("0.00")}};
    int row = 6;
    for (const QStringList &fields : stabilityRows(analysis)) {
        for (qsizetype c = 0; c < fields.size(); ++c) {
            const QString cell = columnLetters(int(c) + 1) + QString::number(row);
            if (const auto format = formats.find(int(c)); format != formats.end())
                sheet.setShownNumber(cell, fields[c], format->second);
            else
                sheet.setText(cell, fields[c]);
            sheet.setBordered(cell);
        }
        // The forecast note wrapped in its cell, the row as high as it needs.
        const QString note = columnLetters(int(fields.size())) + QString::number(row);
        sheet.setWrapped(note);
        sheet.setRowHeight(row, 15 * wrappedLines(fields.back(), stabilityColumns.back()));
        ++row;
    }
    // The points the analysis left out, each with the reason, and its notes.
    if (!analysis.leftOut.empty()) {
        QStringList named;
        for (const auto &[name, reason] : analysis.leftOut)
            named << QStringLiteral("%1（%2）").arg(name, reason);
        sheet.setText(QStringLiteral("A%1").arg(++row),
                      QStringLiteral("未列入分析的测点：%1").arg(named.join(QStringLiteral("、"))));
    }
    for (const QString &note : analysis.notes)
        sheet.setText(QStringLiteral("A%1").arg(++row), note);
}

// The sheet "差异沉降与倾斜": the thresholds, then a row per epoch.
// The columns of the sheet "差异沉降与倾斜", in characters: narrow enough that
// the sheet prints on A4 landscape at a size one reads, the headings and the
// alarms wrapped in their cells.
const std::vector<double> deformationColumns{8, 11, 6, 9, 9, 8, 7, 12, 9, 10, 11, 8, 8, 22};

void writeDeformationSheet(XlsxSheet &sheet, const DeformationReport &report,
                           const ProjectSnapshot &snapshot)
{
    sheet.setText(QStringLiteral("A1"), QStringLiteral("差异沉降与倾斜"));
    sheet.setText(QStringLiteral("A2"), thresholdsLine(report.thresholds));
    const QStringList headings = deformationHeadings();
    int headingLines = 1;
    for (qsizetype c = 0; c < headings.size(); ++c) {
        const QString cell = columnLetters(int(c) + 1) + QStringLiteral("5");
        sheet.setText(cell, headings[c]);
        sheet.setWrapped(cell);
        sheet.setBordered(cell);
        headingLines = std::max(headingLines, wrappedLines(headings[c], deformationColumns[size_t(c)]));
    }
    sheet.setRowHeight(5, 15 * headingLines);
    const std::map<int, QString> formats{{2, QStringLiteral("0")},     {3, QStringLiteral("0.00")},
                                         {4, QStringLiteral("0.00")},  {6, QStringLiteral("0.000")},
                                         {7, QStringLiteral("0.0")},   {8, QStringLiteral("0.00")},
                                         {9, QStringLiteral("0.000")}, {11, QStringLiteral("0.000")},
                                         {12, QStringLiteral("0.000")}};
    int row = 6;
    for (const QStringList &fields : deformationRows(report, snapshot)) {
        for (qsizetype c = 0; c < fields.size(); ++c) {
            const QString cell = columnLetters(int(c) + 1) + QString::number(row);
            if (const auto format = formats.find(int(c)); format != formats.end())
                sheet.setShownNumber(cell, fields[c], format->second);
            else
                sheet.setText(cell, fields[c]);
            sheet.setBordered(cell);
        }
        // Every alarm of the epoch, wrapped in its cell, the row as high
        // as they need.
        const QString alarms = columnLetters(int(fields.size())) + QString::number(row);
        sheet.setWrapped(alarms);
        sheet.setRowHeight(row, 15 * wrappedLines(fields.back(), deformationColumns.back()));
        ++row;
    }
}

} // namespace

Result<ResultsRun> prepareResultsRun(const ResultsRequest &request)
{
    const SettingsStore &settings = *request.settings;
    ResultsRun run;
    run.templateName = !request.templateName.isEmpty()
                           ? request.templateName
                           : settings.readSetting(SettingKey::TableTemplate)
                                 .value_or(tableTemplateEntries(tableTemplatesDir(request.programDir))
                                               .value(0));
    run.templatePath = tableTemplatePath(request.programDir, run.templateName);
    run.output = request.output.isEmpty() ? resultsPathOf(request.projectPath) : request.output;
    ProtectedFiles keep = programFiles(request.programDir, request.projectPath);
    keep.add(QStringLiteral("表格模板"), run.templatePath);
    if (auto allowed = keep.checkOutput(run.output); !allowed)
        return allowed.failure();
    run.settings = ResultsSettings{
        request.pointCount.value_or(pointCountFromSetting(settings.readSetting(SettingKey::PointCount))),
        request.unit.value_or(unitFromSetting(settings.readSetting(SettingKey::ElevationUnit))),
        resultsHeader(request.headerFields),
        stabilitySettingsFrom(settings, request.headerFields),
        request.headerFields,
        deformationLimitsPath(request.programDir)};
    return run;
}

Result<ResultsRunStatus> runResultsTable(const ProjectSnapshot &snapshot,
                                         const ResultsSettings &settings,
                                         const QString &templatePath, const QString &output,
                                         QStringList *told)
{
    if (snapshot.epochs().empty() || !snapshot.hasElevations())
        return ResultsRunStatus::NothingToWrite;
    if (templatePath.isEmpty() || !QFileInfo(templatePath).isFile())
        return ResultsRunStatus::TemplateMissing;

    XlsxWorkbook workbook;
    if (auto opened = workbook.open(templatePath); !opened)
        return opened.failure();
    const auto inTemplate = [&](const QString &reason) {
        return fail(QStringLiteral("表格模板 %1：%2").arg(QDir::toNativeSeparators(templatePath), reason));
    };
    const auto sheet = workbook.sheet(QStringLiteral("沉降观测成果表"));
    if (!sheet)
        return inTemplate(sheet.error());
    WriteResultsTable(**sheet, snapshot, settings);
    // A template of its own may lay the sheet out already.
    const QString stabilityName = QStringLiteral("稳定性分析");
    const auto found = workbook.sheetNames().contains(stabilityName)
                           ? workbook.sheet(stabilityName)
                           : workbook.addSheet(stabilityName, QStringLiteral("沉降观测成果表"),
                                               stabilityColumns);
    if (!found)
        return inTemplate(found.error());
    XlsxSheet *stability = *found;
    // The sheets' figures from the one model of the project.
    MonitoringRequest asked;
    asked.stability = settings.stability;
    asked.lastPoint = settings.pointCount;
    asked.history = placedPointCount(snapshot) >= 3;
    const MonitoringModel model =
        monitoringModel(snapshot, deformationSettings(settings.limitsPath, settings.fields, snapshot), asked);
    writeStabilitySheet(*stability, *model.stability);
    if (told && !model.deformation.problem.isEmpty())
        *told << model.deformation.problem;
    // Printed landscape, one page wide, its headings on every page, the
    // project named at the top.
    const QString project = !settings.header.empty() && settings.header.front() ? *settings.header.front() : QString();
    stability->setPrintSetup(true, project);
    if (auto titled = workbook.setPrintTitles(stabilityName, 1, 5); !titled)
        return titled.failure();
    // Where the points stand is known: how the building deforms.
    if (model.placed && model.history) {
        const QString name = QStringLiteral("差异沉降与倾斜");
        const auto made = workbook.sheetNames().contains(name)
                              ? workbook.sheet(name)
                              : workbook.addSheet(name, stabilityName, deformationColumns);
        if (!made)
            return inTemplate(made.error());
        writeDeformationSheet(**made, *model.history, snapshot);
        if (model.deformation.limitsUnusable)
            (*made)->setText(QStringLiteral("A3"), model.deformation.problem);
        (*made)->setPrintSetup(true, project);
        if (auto titled = workbook.setPrintTitles(name, 1, 5); !titled)
            return titled.failure();
    }
    if (auto saved = workbook.save(output); !saved)
        return saved.failure();
    return ResultsRunStatus::Written;
}
