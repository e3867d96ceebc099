#include "pdfreport/monitoringreport.h"

#include "pdfreport/reportconclusion.h"
#include "pdfreport/reportpages.h"
#include "pdfreport/reportpainting.h"

#include "base/outputguard.h"
#include "base/programfiles.h"
#include "base/savefile.h"
#include "project/settingsstore.h"
#include "base/textnumber.h"
#include "cad/curvesrun.h"
#include "cad/drawing.h"
#include "cad/drawingpainter.h"
#include "cad/dxffile.h"
#include "cad/plansheet.h"
#include "pdfreport/reporttexts.h"
#include "preview/planpicture.h"
#include "report/resultsrun.h"
#include "report/resultstable.h"
#include "domain/buildingdeformation.h"
#include "domain/monitoringmodel.h"
#include "domain/stability.h"
#include "xlsx/workbook.h"
#include "survey/domaininputs.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <memory>

QString reportPathOf(const QString &projectPath)
{
    return outputPathOf(projectPath, QStringLiteral("-沉降观测报告.pdf"));
}

namespace {

// The results sheet as the workbook's writer fills it, every text kept as
// written (numbers as shown), over the template's own cells.
class RecordingSheet : public ResultsSheet, public ResultsCells
{
public:
    // The workbook holds the template's own cells, read as long as the
    // recording lives.
    RecordingSheet(std::shared_ptr<XlsxWorkbook> workbook, XlsxSheet &inner)
        : m_workbook(std::move(workbook))
        , m_inner(inner)
    {}
    void setText(const QString &cell, const QString &text) override
    {
        m_inner.setText(cell, text);
        m_texts[cellOf(cell)] = text;
    }
    void setNumber(const QString &cell, double value) override
    {
        m_inner.setNumber(cell, value);
        m_texts[cellOf(cell)] = QString::number(value);
    }
    void setShownNumber(const QString &cell, const QString &shown, const QString &format) override
    {
        m_inner.setShownNumber(cell, shown, format);
        m_texts[cellOf(cell)] = shown;
    }
    void setTextAt(int row, int column, const QString &text) override
    {
        m_inner.setTextAt(row, column, text);
        m_texts[{row, column}] = text;
    }
    void setShownNumberAt(int row, int column, const QString &shown, const QString &format) override
    {
        m_inner.setShownNumberAt(row, column, shown, format);
        m_texts[{row, column}] = shown;
    }
    void copyRows(int first, int last, int destination) override
    {
        m_inner.copyRows(first, last, destination);
        std::map<std::pair<int, int>, QString> copied;
        for (auto at = m_texts.lower_bound({first, 0}); at != m_texts.end() && at->first.first <= last; ++at)
            copied[{at->first.first - first + destination, at->first.second}] = at->second;
        for (auto &[at, text] : copied)
            m_texts[at] = text;
    }
    // The cell's text as the workbook shows it.
    QString text(int row, int column) const override
    {
        const auto found = m_texts.find({row, column});
        if (found != m_texts.end())
            return found->second;
        const XlsxSheet::Value v = m_inner.value(row, column);
        return v.kind == XlsxSheet::Value::Number ? QString::number(v.text.toDouble(), 'g', 15) : v.text;
    }
    int lastRow() const { return m_inner.lastRow(); }

private:
    static std::pair<int, int> cellOf(const QString &address)
    {
        int column = 0, i = 0;
        while (i < address.size() && address[i].isLetter())
            column = column * 26 + (address[i++].toUpper().unicode() - 'A' + 1);
        return {address.mid(i).toInt(), column};
    }
    std::shared_ptr<XlsxWorkbook> m_workbook;
    XlsxSheet &m_inner;
    std::map<std::pair<int, int>, QString> m_texts;
};

// The report as it is assembled: what every section reads (the project up
// to the reported epoch, the one model of it, the header fields) and the
// pages made so far, each a description of what it shows and the function
// that paints it, numbered as the sections come.
struct ReportAssembly
{
    ReportAssembly(const ReportRequest &request, ReportOutcome &outcome, const ProjectSnapshot &whole, int last);

    const ReportTexts &t = reportTexts();
    const ReportRequest &request;
    const SettingsStore &settings;
    ReportOutcome &outcome;
    // The results table and the list of epochs hold every epoch; the
    // analysis, the sheets and the plan only those of a bounded day count.
    const ProjectSnapshot every;
    const ProjectSnapshot snapshot;
    const int lastIndex;
    const Epoch lastEpoch;
    const QString reportDate;
    // The PDF lists every point, whatever the point count the window shows
    // and the workbook keeps (its results pages, stability table and
    // conclusion count the same points).
    const int pointCount;
    // Every figure of the report from the one model of the project.
    const MonitoringModel model;
    std::vector<ReportPage> pages;
    int sections = 0, appendices = 0;
    std::optional<RecordCheck> check; // the request's, or as it comes
    QStringList methodIntro;
    std::vector<QStringList> methodRows;
    QString stabilityTitle;

    // The sections, in the report's order.
    void addCover();
    void addOverview();
    void addLayout();
    Result<void> addResults();
    Result<void> addSheets();
    void addStability();
    void addDeformation();
    void addConclusion();
    void addRecords();

    QString field(const QString &key) const
    {
        const auto found = request.headerFields.find(key);
        return found == request.headerFields.end() ? QString() : found->second;
    }
    // Section and appendix titles, numbered as they come.
    static QString numeral(int n)
    {
        static const QString digits = QStringLiteral("一二三四五六七八九十");
        return n <= 10 ? QString(digits[n - 1]) : n < 20 ? QStringLiteral("十") + digits[n - 11] : QString::number(n);
    }
    QString section(const QString &title) { return numeral(++sections) + QStringLiteral("、") + title; }
    QString appendix(const QString &title)
    {
        return QStringLiteral("附录") + numeral(++appendices) + QStringLiteral("　") + title;
    }
    // Each page is painted by its function from what it shows.
    void addTable(const std::vector<TablePage> &table, bool landscape)
    {
        for (const TablePage &page : table)
            pages.push_back({landscape, false, page});
    }
};

int reportPointCount(const ReportRequest &request, const ProjectSnapshot &snapshot)
{
    int count = request.pointCount.value_or(
        pointCountFromSetting(request.settings->readSetting(SettingKey::PointCount)));
    for (const int number : snapshot.pointNumbers())
        if (snapshot.isObserved(number))
            count = std::max(count, number);
    return count;
}

MonitoringModel reportModel(const ReportRequest &request, const ProjectSnapshot &snapshot, int pointCount)
{
    MonitoringRequest asked;
    asked.stability = stabilitySettingsFrom(*request.settings, request.headerFields);
    asked.lastPoint = pointCount;
    asked.epochIndex = snapshot.epochCount() - 1;
    return monitoringModel(
        snapshot, deformationSettings(deformationLimitsPath(request.programDir), request.headerFields, snapshot),
        asked);
}

ReportAssembly::ReportAssembly(const ReportRequest &request, ReportOutcome &outcome, const ProjectSnapshot &whole,
                               int last)
    : request(request)
    , settings(*request.settings)
    , outcome(outcome)
    , every(whole.upToEpoch(last))
    , snapshot(every.withUsableDates())
    , lastIndex(snapshot.epochCount() - 1)
    , lastEpoch(snapshot.epochCount() > 0 ? snapshot.epochs().back() : Epoch())
    , reportDate(request.reportDate.isEmpty() ? QDate::currentDate().toString(Qt::ISODate) : request.reportDate)
    , pointCount(reportPointCount(request, snapshot))
    , model(snapshot.epochCount() > 0 ? reportModel(request, snapshot, pointCount) : MonitoringModel())
    , check(request.check)
{
    if (!model.deformation.problem.isEmpty())
        outcome.told << model.deformation.problem;
}

void ReportAssembly::addCover()
{
    // 1. Cover.
    CoverPage cover;
    cover.title = t.title;
    cover.projectName = field(SettingKey::ProjectName);
    cover.lines = QStringList{t.coverClient.arg(field(SettingKey::Client)),
                              t.coverSurveyor.arg(field(SettingKey::Surveyor)),
                              t.coverPeriod.arg(snapshot.epochs().front().date, lastEpoch.date).arg(snapshot.epochCount()),
                              t.coverDate.arg(reportDate)};
    for (const QString &sign : t.coverSignatures)
        cover.signatures << sign;
    pages.push_back({false, false, std::move(cover)});

    // How the elevations were measured: the instrument, the benchmark and
    // each levelling's closure against its tolerance, from the kept files.
    {
        QStringList &intro = methodIntro;
        std::vector<QStringList> &rows = methodRows;
        QStringList instruments;
        if (!field(SettingKey::Instrument).isEmpty())
            instruments << field(SettingKey::Instrument);
        int closures = 0, over = 0;
        if (request.records)
            for (const EpochRecords &epoch : *request.records) {
                if (epoch.cjNo > lastEpoch.cjNo)
                    continue;
                for (const StoredSource &s : epoch.sources) {
                    if (!s.instrument.isEmpty() && !instruments.contains(s.instrument))
                        instruments << s.instrument;
                    if (!s.closureMm || !s.toleranceMm)
                        continue;
                    ++closures;
                    const bool within = std::fabs(*s.closureMm) <= *s.toleranceMm;
                    over += within ? 0 : 1;
                    rows.push_back({epoch.epoch, s.name, formatFixed(*s.closureMm, 2), QStringLiteral("±") + formatFixed(*s.toleranceMm, 2),
                                    within ? t.withinLimit : t.overLimit});
                }
            }
        if (!instruments.isEmpty())
            intro << t.methodInstrument.arg(instruments.join(QStringLiteral("、")));
        if (!field(SettingKey::Benchmark).isEmpty())
            intro << t.methodBenchmark.arg(field(SettingKey::Benchmark),
                                           field(SettingKey::BenchmarkElevation).isEmpty()
                                               ? QString()
                                               : QStringLiteral("，起算高程 %1").arg(field(SettingKey::BenchmarkElevation)));
        if (!request.records)
            intro << t.methodUnkept;
        else if (closures == 0)
            intro << t.methodNoLevel;
        else if (over == 0)
            intro << t.methodClosures.arg(closures);
        else
            intro << t.methodOverLimit.arg(over);
    }
}

void ReportAssembly::addOverview()
{
    // 2. Overview: the header fields, the points, the epochs.
    {
        QStringList intro;
        for (const QString &key : headerFieldKeys())
            if (!field(key).isEmpty())
                intro << QStringLiteral("%1：%2").arg(key, field(key));
        for (const QString &key : {DeformationKey::BuildingHeight, DeformationKey::Soil})
            if (!field(key).isEmpty())
                intro << QStringLiteral("%1：%2").arg(key, field(key));
        int observed = 0;
        for (const int n : snapshot.pointNumbers())
            observed += snapshot.isObserved(n) ? 1 : 0;
        intro << t.pointCount.arg(observed).arg(every.epochCount());
        std::vector<QStringList> rows;
        for (int k = 0; k < every.epochCount(); ++k) {
            const Epoch &e = every.epochs()[size_t(k)];
            rows.push_back({QString::number(k + 1), e.date, e.name, e.layers});
            if (!every.hasUsableDate(k))
                intro << t.epochLeftOut.arg(e.name, e.date).arg(firstUsableYear).arg(lastUsableYear);
        }
        // Without levellings to list, the method in a few lines here.
        if (methodRows.empty()) {
            intro << t.method + QStringLiteral("：");
            intro += methodIntro;
        }
        addTable(tablePages(section(t.overview), intro,
                            {t.epochHeadings[0], t.epochHeadings[1], t.epochHeadings[2], t.epochHeadings[3]}, rows,
                            {1, 2, 2, 1}, false),
                 false);
    }
    if (!methodRows.empty())
        addTable(tablePages(section(t.method), methodIntro,
                            {t.methodHeadings[0], t.methodHeadings[1], t.methodHeadings[2], t.methodHeadings[3],
                             t.methodHeadings[4]},
                            methodRows, {3, 3, 1.5, 1.5, 1}, false),
                 false);
}

void ReportAssembly::addLayout()
{
    // 3. The points' layout: the plan at the last epoch, or the list.
    const bool placed = model.placed;
    const PlanFigures &figures = model.figures;
    const QString layoutTitle = section(t.layout);
    if (placed) {
        pages.push_back({true, false, PlanPage{layoutTitle, planPicture(snapshot, figures, request.planBackground), figures}});
    } else {
        std::vector<QStringList> rows;
        for (const Point &point : snapshot.points())
            rows.push_back({QString::number(point.cjdNo), point.name, point.mark});
        addTable(tablePages(layoutTitle, {}, {t.pointHeadings[0], t.pointHeadings[1], t.pointHeadings[2]}, rows,
                            {1, 2, 2}, false),
                 false);
    }
}

Result<void> ReportAssembly::addResults()
{
    // 4. The results table, cell for cell as the workbook's writer fills it.
    {
        ResultsRequest asked;
        asked.settings = &settings;
        asked.headerFields = request.headerFields;
        asked.programDir = request.programDir;
        asked.projectPath = request.projectPath;
        asked.pointCount = pointCount;
        asked.unit = request.unit;
        asked.templateName = request.templateName;
        asked.output = outcome.output + QStringLiteral(".xlsx"); // never written
        const auto run = prepareResultsRun(asked);
        if (!run)
            return run.failure();
        if (run->templatePath.isEmpty())
            return fail(QStringLiteral("找不到成果表模板“%1”").arg(run->templateName));
        auto workbook = std::make_shared<XlsxWorkbook>();
        if (auto opened = workbook->open(run->templatePath); !opened)
            return opened.failure();
        const auto sheet = workbook->sheet(QStringLiteral("沉降观测成果表"));
        if (!sheet)
            return sheet.failure();
        auto recorder = std::make_shared<RecordingSheet>(workbook, **sheet);
        WriteResultsTable(*recorder, every, run->settings);
        int columns = 1;
        for (int r = 1; r <= std::min(recorder->lastRow(), 30); ++r)
            for (int c = 1; c <= 40; ++c)
                if (!recorder->text(r, c).isEmpty())
                    columns = std::max(columns, c);
        const int lastRow = recorder->lastRow();
        const QString resultsTitle = section(t.results);
        const std::vector<double> widths = (*sheet)->columnWidths(columns);
        const std::vector<XlsxSheet::Range> mergedRanges = (*sheet)->mergedRanges();
        for (int first = resultsFirstPageRow; first <= lastRow; first += resultsPageRows) {
            // The header rows 1 to 3 on every page, then the page's rows,
            // as the template lays them out.
            ResultsPage page;
            if (first == resultsFirstPageRow)
                page.title = resultsTitle;
            for (int r = 1; r <= resultsHeaderRows; ++r)
                page.rows.push_back(r);
            for (int r = first; r < first + resultsPageRows && r <= lastRow; ++r)
                page.rows.push_back(r);
            for (const XlsxSheet::Range &m : mergedRanges)
                if (m.firstRow <= resultsHeaderRows || (m.firstRow >= first && m.firstRow < first + resultsPageRows))
                    page.merges.push_back(m);
            page.widths = widths;
            page.cells = recorder;
            pages.push_back({true, false, std::move(page)});
        }
    }
    return success();
}

Result<void> ReportAssembly::addSheets()
{
    const bool placed = model.placed;
    const DeformationSettings &deformation = model.deformation;
    const PlanFigures &figures = model.figures;
    const auto palette = std::make_shared<const PaperPalette>(paperPalette(snapshot));
    // 5. The curve sheets and the plan, rendered from the drawings that
    // become the DXF.
    QString curvesTitle; // numbered at its first page
    const auto sheetPages = [&](std::shared_ptr<Drawing> drawing, double width, double height, int perRow,
                                const QString &caption) {
        if (curvesTitle.isEmpty())
            curvesTitle = section(t.curves);
        // A sheet wider than an A4 page holds (an A3 frame) goes on A3.
        const bool a3 = width > bodyWidthMm(true) || height > bodyHeightMm(true);
        for (const QRectF &cell : sheetsOf(*drawing, width, height, perRow))
            pages.push_back({true, a3, SheetPage{curvesTitle + QStringLiteral("：") + caption, drawing, cell, palette}});
    };
    for (const auto &[kind, caption] : {std::pair{CurveKind::Settlement, t.curveKinds[0]},
                                        std::pair{CurveKind::Rate, t.curveKinds[1]},
                                        std::pair{CurveKind::Load, t.curveKinds[2]}}) {
        CurveRequest asked;
        asked.settings = &settings;
        asked.headerFields = request.headerFields;
        asked.programDir = request.programDir;
        asked.projectPath = request.projectPath;
        asked.output = outcome.output + QStringLiteral(".dxf"); // never written
        asked.kind = kind;
        asked.pointCount = pointCount;
        const auto run = prepareCurveRun(asked, snapshot);
        if (!run)
            return run.failure();
        auto drawing = std::make_shared<Drawing>(readDxfFile, [](const QString &, CadPoint) {
            return std::optional<CadPoint>(CadPoint{0, 0});
        });
        const auto status = runCurveSheets(*drawing, snapshot, run->settings);
        if (!status)
            return status.failure();
        if (*status != CurveRunStatus::Drawn)
            continue;
        if (const QString unread = drawing->unreadBlocksText(); !unread.isEmpty())
            outcome.told << unread;
        sheetPages(drawing, run->settings.layout.SheetWidth, run->settings.layout.SheetHeight,
                   kind == CurveKind::Settlement ? run->settings.sheetsPerRow : 1, caption);
        if (kind == CurveKind::Settlement && placed) {
            auto plan = std::make_shared<Drawing>(readDxfFile, [](const QString &, CadPoint) {
                return std::optional<CadPoint>(CadPoint{0, 0});
            });
            PlanSheetSettings sheet = planSheetSettings(run->settings);
            sheet.scale = deformation.planScale;
            const auto drawn = runPlanSheet(*plan, snapshot, figures, request.planBackground, sheet);
            if (!drawn)
                return drawn.failure();
            if (*drawn == PlanSheetStatus::Drawn)
                sheetPages(plan, sheet.sheetWidth, sheet.sheetHeight, 1, t.curveKinds[3]);
        }
    }
    return success();
}

void ReportAssembly::addStability()
{
    const StabilityAnalysis &analysis = *model.stability;
    // 6. Stability and prediction.
    {
        std::vector<QStringList> rows = stabilityRows(analysis);
        QStringList headings = stabilityHeadings();
        std::vector<double> widths{0.7, 1, 1, 1.1, 1.2, 1.2, 0.9, 1.3, 0.9, 1.3, 1.2, 1.7, 1.7, 3.2};
        QStringList intro{t.buildingVerdict.arg(verdictText(analysis.building)), stabilitySettingsLine(analysis.settings)};
        // One forecast note on every row is said once, above the table,
        // and its column left out.
        if (const QString note = sayForecastNoteOnce(headings, rows); !note.isEmpty()) {
            intro << t.oneForecastNote.arg(note);
            widths.pop_back();
        }
        stabilityTitle = section(t.stability);
        addTable(tablePages(stabilityTitle, intro, headings, rows, widths, true, 8), true);
    }

    // The charts of the points not stable, the largest sinking first, at most 12.
    {
        const std::vector<const PointStability *> unstable = mostSettledUnstable(analysis, 12);
        const int step = analysis.settings.step;
        for (size_t first = 0; first < unstable.size(); first += 6) {
            StabilityChartsPage charts{stabilityTitle + t.charts, t.chartsKey, {}, step};
            for (size_t i = first; i < std::min(unstable.size(), first + 6); ++i)
                charts.points.push_back(*unstable[i]);
            pages.push_back({true, false, std::move(charts)});
        }
    }
}

void ReportAssembly::addDeformation()
{
    const bool placed = model.placed;
    const DeformationSettings &deformation = model.deformation;
    // 7. Deformation, when the points are placed.
    if (placed && model.history) {
        QStringList intro{thresholdsLine(deformation.thresholds)};
        if (deformation.limitsUnusable)
            intro << deformation.problem;
        addTable(tablePages(section(t.deformation), intro, deformationHeadings(),
                            deformationRows(*model.history, snapshot),
                            {1, 1.2, 0.6, 1, 1, 0.9, 0.8, 0.9, 1.1, 1.2, 1.2, 0.9, 1, 3}, true, 7),
                 true);
    }
}

void ReportAssembly::addConclusion()
{
    // 8. The conclusion: sentences from the numbers above.
    {
        QStringList named;
        const QStringList sentences = conclusionSentences(model, snapshot, lastEpoch, t, &named);
        pages.push_back({false, false, ConclusionPage{section(t.conclusion), sentences}});
        if (named.size() > alarmsNamedInSentence) {
            std::vector<QStringList> rows;
            for (int i = 0; i < named.size(); ++i)
                rows.push_back({QString::number(i + 1), named[i]});
            addTable(tablePages(t.alarmList, {}, {t.alarmHeadings[0], t.alarmHeadings[1]}, rows, {1, 9}, false),
                     false);
        }
    }
}

void ReportAssembly::addRecords()
{
    // The original records the figures rest on, and the changes since.
    {
        const int lastNumber = lastEpoch.cjNo;
        std::vector<QStringList> sources, changes;
        if (request.records)
            for (const EpochRecords &epoch : *request.records) {
                if (epoch.cjNo > lastNumber)
                    continue;
                if (epoch.sources.empty())
                    sources.push_back({epoch.epoch, t.recordsNone, QString(), QString(), QString()});
                for (const StoredSource &s : epoch.sources) {
                    QString closure;
                    if (s.closureMm && s.toleranceMm)
                        closure = QStringLiteral("%1 / ±%2").arg(*s.closureMm, 0, 'f', 2).arg(*s.toleranceMm, 0, 'f', 2);
                    sources.push_back({epoch.epoch, s.name, s.sha256, s.instrument.isEmpty() ? QStringLiteral("—") : s.instrument,
                                       closure.isEmpty() ? QStringLiteral("—") : closure});
                }
                for (const HistoryLine &l : epoch.changed)
                    changes.push_back({epoch.epoch, l.point, l.oldText, l.newText, l.at, l.who, l.how});
            }
        addTable(tablePages(appendix(t.records), {request.records ? t.recordsIntro : t.recordsUnkept},
                            {t.recordHeadings[0], t.recordHeadings[1], t.recordHeadings[2], t.recordHeadings[3],
                             t.recordHeadings[4]},
                            sources, {3, 3, 5, 1.5, 2}, true),
                 true);
        const bool outside = check && !check->breaks.empty();
        QStringList changesIntro{changes.empty() ? (outside ? t.changesNoneRecorded : t.changesNone) : t.changesIntro};
        if (check && !check->lastHash.isEmpty())
            changesIntro << t.chainEnd.arg(check->rows).arg(check->lastHash);
        if (outside) {
            std::vector<QStringList> found;
            for (size_t i = 0; i < check->breaks.size(); ++i)
                found.push_back({QString::number(i + 1), check->breaks[i]});
            addTable(tablePages(t.changesOutside.arg(check->breaks.size()), {t.changesOutsideIntro},
                                {t.alarmHeadings[0], QStringLiteral("未经记录的修改")}, found, {1, 12}, true),
                     true);
        }
        if (request.records)
            addTable(tablePages(appendix(t.changes), changesIntro,
                                {t.changeHeadings[0], t.changeHeadings[1], t.changeHeadings[2], t.changeHeadings[3],
                                 t.changeHeadings[4], t.changeHeadings[5], t.changeHeadings[6]},
                                changes, {3, 1.2, 1.6, 1.6, 2, 1, 1.6}, true),
                     true);
    }
}

} // namespace

Result<ReportDescription> describeMonitoringReport(const ProjectSnapshot &whole, const ReportRequest &request)
{
    ReportDescription described;
    ReportOutcome &outcome = described.outcome;
    outcome.output = request.output.isEmpty() ? reportPathOf(request.projectPath) : request.output;
    if (auto allowed = programFiles(request.programDir, request.projectPath).checkOutput(outcome.output); !allowed)
        return allowed.failure();
    if (whole.epochCount() == 0 || !whole.hasElevations())
        return fail(QStringLiteral("工程中没有观测数据，无法生成报告"));
    int last = whole.epochCount() - 1;
    if (request.upToEpoch) {
        last = whole.epochIndex(*request.upToEpoch);
        if (last < 0)
            return fail(QStringLiteral("工程中没有第 %1 次观测").arg(*request.upToEpoch));
    }
    if (whole.upToEpoch(last).withUsableDates().epochCount() == 0)
        return fail(QStringLiteral("报告所含观测的日期都不可用"));
    ReportAssembly report(request, outcome, whole, last);
    report.addCover();
    report.addOverview();
    report.addLayout();
    if (auto added = report.addResults(); !added)
        return added.failure();
    if (auto added = report.addSheets(); !added)
        return added.failure();
    report.addStability();
    report.addDeformation();
    report.addConclusion();
    if (request.checkWhenNeeded) {
        auto check = request.checkWhenNeeded();
        if (!check)
            return check.failure();
        report.check = std::move(*check);
    }
    report.addRecords();
    described.frame = {report.t.title, report.field(SettingKey::ProjectName), report.reportDate, report.t.pageFooter,
                       0, int(report.pages.size())};
    described.pages = std::move(report.pages);
    outcome.pages = int(described.pages.size());
    return described;
}

Result<ReportOutcome> writeMonitoringReport(const ProjectSnapshot &whole, const ReportRequest &request)
{
    auto described = describeMonitoringReport(whole, request);
    if (!described)
        return described.failure();
    // Every page with its header and footer, through SaveFile.
    const auto painted = paintPages(described->pages, described->frame, request.progress);
    if (!painted)
        return painted.failure();
    if (auto saved = saveFileContents(described->outcome.output, *painted); !saved)
        return saved.failure();
    return described->outcome;
}
