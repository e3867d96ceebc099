#include "report/levelreport.h"

#include "project/projectdb.h"

#include "base/programfiles.h"
#include "base/savefile.h"
#include "base/textnumber.h"
#include "xlsx/workbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

namespace {

void row(XlsxSheet &sheet, int r, const QStringList &cells)
{
    for (int c = 0; c < int(cells.size()); ++c)
        sheet.setText(columnLetters(c + 1) + QString::number(r), cells[c]);
}

// A figure written as a number showing `decimals` places; "—" for none.
void figure(XlsxSheet &sheet, int r, int c, const std::optional<double> &value, int decimals)
{
    const QString cell = columnLetters(c) + QString::number(r);
    if (!value) {
        sheet.setText(cell, QStringLiteral("—"));
        return;
    }
    const QString format =
        decimals == 0 ? QStringLiteral("0") : QStringLiteral("0.") + QString(decimals, QLatin1Char('0'));
    sheet.setShownNumber(cell, formatFixed(*value, decimals), format);
}

} // namespace

QString levelReportPath(const QString &projectOutputBase, const QString &epochName)
{
    QString name = safeFileName(epochName);
    // A file name holds at most 255 bytes: a long epoch name is shortened.
    const QString base = QFileInfo(projectOutputBase).fileName();
    const QString suffix = QStringLiteral("-水准.xlsx");
    while (!name.isEmpty()
           && QFile::encodeName(base + QLatin1Char('-') + name + suffix).size() > maxFileNameBytes)
        name.chop(1);
    return projectOutputBase + QLatin1Char('-') + name + suffix;
}

Result<QByteArray> levelReportBytes(const LevelResult &result, const LevelGrade &grade, const QString &project)
{
    XlsxWorkbook workbook;
    if (auto made = workbook.create(QStringLiteral("测站检核"),
                                    {6, 10, 10, 11, 11, 11, 11, 11, 11, 10, 10, 10, 10, 60});
        !made)
        return made.failure();
    const auto first = workbook.sheet(QStringLiteral("测站检核"));
    if (!first)
        return first.failure();
    const auto second = workbook.addSheet(QStringLiteral("平差结果"), QStringLiteral("测站检核"),
                                          {14, 14, 10, 12, 12, 12, 10});
    if (!second)
        return second.failure();
    XlsxSheet *stations = *first, *adjusted = *second;

    const QString heading = project.isEmpty() ? QStringLiteral("等级：%1").arg(grade.name)
                                              : QStringLiteral("工程：%1　等级：%2").arg(project, grade.name);
    // Printed landscape, one page wide, the headings on every page.
    const QString pageHeader = project.isEmpty() ? QStringLiteral("水准测量平差") : project + QStringLiteral("　水准测量平差");
    stations->setPrintSetup(true, pageHeader);
    adjusted->setPrintSetup(true, pageHeader);
    if (auto titled = workbook.setPrintTitles(QStringLiteral("测站检核"), 1, 2); !titled)
        return titled.failure();
    row(*stations, 1, {heading});
    row(*stations, 2,
        {QStringLiteral("测站"), QStringLiteral("后视点"), QStringLiteral("前视点"),
         QStringLiteral("后视距(m)"), QStringLiteral("前视距(m)"), QStringLiteral("高差(m)"),
         QStringLiteral("高差之差(mm)"), QStringLiteral("视距差(m)"), QStringLiteral("累积差(m)"),
         QStringLiteral("后视读数1(m)"), QStringLiteral("前视读数1(m)"), QStringLiteral("后视读数2(m)"),
         QStringLiteral("前视读数2(m)"), QStringLiteral("检核")});
    int r = 3;
    for (const Station &s : result.stations) {
        row(*stations, r, {QString(), s.back, s.fore});
        figure(*stations, r, 1, double(s.no), 0);
        figure(*stations, r, 4, s.backDistance, 2);
        figure(*stations, r, 5, s.foreDistance, 2);
        figure(*stations, r, 6, s.dh, 5);
        figure(*stations, r, 7, s.stationDiffMm, 2);
        figure(*stations, r, 8, s.sightDiff, 2);
        figure(*stations, r, 9, s.cumSightDiff, 2);
        figure(*stations, r, 10, s.b1, 5);
        figure(*stations, r, 11, s.f1, 5);
        figure(*stations, r, 12, s.b2, 5);
        figure(*stations, r, 13, s.f2, 5);
        stations->setText(QStringLiteral("N%1").arg(r), s.violations.isEmpty()
                                                            ? QStringLiteral("合格")
                                                            : s.violations.join(QStringLiteral("；")));
        ++r;
    }

    row(*adjusted, 1,
        {QStringLiteral("起点"), QStringLiteral("终点"), QStringLiteral("测站数"),
         QStringLiteral("长度(m)"), QStringLiteral("闭合差(mm)"), QStringLiteral("限差(mm)"),
         QStringLiteral("结论")});
    r = 2;
    for (const LevelLine &l : result.lines) {
        row(*adjusted, r, {l.from, l.to});
        figure(*adjusted, r, 3, double(l.stations), 0);
        figure(*adjusted, r, 4, l.length, 1);
        figure(*adjusted, r, 5, l.misclosureMm, 2);
        figure(*adjusted, r, 6, l.toleranceMm, 2);
        adjusted->setText(QStringLiteral("G%1").arg(r),
                          !l.misclosureMm ? QStringLiteral("无检核")
                          : l.within      ? QStringLiteral("合格")
                                          : QStringLiteral("超限"));
        ++r;
    }
    ++r;
    row(*adjusted, r++, {QStringLiteral("点号"), QStringLiteral("平差高程(m)"), QStringLiteral("中误差(mm)")});
    for (const QString &id : result.pointsInOrder()) {
        const double h = result.heights.at(id);
        adjusted->setText(QStringLiteral("A%1").arg(r), id);
        figure(*adjusted, r, 2, h, 5);
        if (const LevelPart *part = result.partOf(id); part && part->datum == LevelPart::Relative)
            adjusted->setText(QStringLiteral("D%1").arg(r), QStringLiteral("相对高程"));
        const auto sigma = result.sigmaMm.find(id);
        figure(*adjusted, r, 3,
               sigma == result.sigmaMm.end() ? std::nullopt : std::optional(sigma->second), 2);
        ++r;
    }
    ++r;
    adjusted->setText(QStringLiteral("A%1").arg(r),
                      result.sigma0Mm ? QStringLiteral("单位权中误差 %1 mm，多余观测 %2")
                                            .arg(formatFixed(*result.sigma0Mm, 3))
                                            .arg(result.dof)
                                      : QStringLiteral("无多余观测"));
    for (const QString &warning : result.warnings)
        adjusted->setText(QStringLiteral("A%1").arg(++r), QStringLiteral("注意：%1").arg(warning));
    return workbook.save();
}

Result<void> writeLevelReport(const LevelResult &result, const LevelGrade &grade, const QString &project,
                              const QString &output)
{
    const auto bytes = levelReportBytes(result, grade, project);
    if (!bytes)
        return bytes.failure();
    return saveFileContents(output, *bytes);
}

Result<LevelWrite> prepareLevelWrite(ProjectDatabase &project, int epoch, const LevelResult &result,
                                    const std::vector<LevelFile> &files, const PlausibilityLimits &limits)
{
    const auto known = project.epochByNumber(epoch);
    if (!known)
        return known.failure();
    if (!*known)
        return fail(QStringLiteral("工程中没有第 %1 次观测").arg(epoch));
    const auto points = project.points();
    if (!points)
        return points.failure();
    const auto rows = levelImportRows(result, projectPointsOf(result, *points));
    if (!rows)
        return rows.failure();
    // The closure that says most about the levelling: the line or loop
    // nearest its tolerance (or furthest beyond it).
    std::optional<double> closure, tolerance;
    const auto weigh = [&](double misclosure, double limit) {
        if (limit > 0 && (!closure || std::fabs(misclosure) / limit > std::fabs(*closure) / *tolerance)) {
            closure = misclosure;
            tolerance = limit;
        }
    };
    for (const LevelLine &line : result.lines)
        if (line.misclosureMm && line.toleranceMm)
            weigh(*line.misclosureMm, *line.toleranceMm);
    for (const LevelLoop &loop : result.loops)
        weigh(loop.misclosureMm, loop.toleranceMm);
    ImportProvenance from;
    from.how = WriteHow::Level;
    for (const LevelFile &file : files) {
        SourceFile source = file.source;
        source.closureMm = closure;
        source.toleranceMm = tolerance;
        from.sources.push_back(std::move(source));
    }
    auto plan = planImport(project, epoch, *rows, QStringLiteral("m"), limits, from);
    if (!plan)
        return plan.failure();
    LevelWrite write;
    write.plan = std::move(*plan);
    return write;
}

Result<void> prepareLevelReport(LevelWrite &write, const LevelResult &result, const LevelGrade &grade,
                                const QString &project, const QString &path, const ProtectedFiles &keep)
{
    write.report.reset();
    write.reportPath.clear();
    if (auto allowed = keep.checkOutput(path); !allowed)
        return allowed;
    if (QFile::encodeName(QFileInfo(path).fileName()).size() > maxFileNameBytes)
        return fail(QStringLiteral("平差报告的文件名过长：%1").arg(QDir::toNativeSeparators(path)));
    const auto bytes = levelReportBytes(result, grade, project);
    if (!bytes)
        return bytes.failure();
    auto report = std::make_unique<SaveFile>(path);
    if (auto opened = report->open(); !opened)
        return opened;
    if (report->device().write(*bytes) != bytes->size())
        return fail(QStringLiteral("无法写入 %1：%2")
                        .arg(QDir::toNativeSeparators(path), report->device().errorString()));
    write.report = std::move(report);
    write.reportPath = path;
    return success();
}

Result<ImportResult> commitLevelWrite(ProjectDatabase &project, LevelWrite &write)
{
    return commitLevelWrite(write, [&](const ImportPlan &plan) { return writeImport(project, plan); });
}

Result<ImportResult> commitLevelWrite(LevelWrite &write,
                                      const std::function<Result<ImportResult>(const ImportPlan &)> &writeHeights)
{
    const auto written = writeHeights(write.plan);
    if (!written) {
        write.report.reset();
        return fail(QStringLiteral("写入失败，工程未作任何修改：%1").arg(written.error()));
    }
    if (write.report) {
        const Result<void> placed = write.report->commit();
        write.report.reset();
        if (!placed)
            write.reportError = placed.error();
    }
    return written;
}
