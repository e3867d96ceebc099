#include "pdfreport/reportpages.h"

#include "pdfreport/pagetext.h"

#include "base/textnumber.h"
#include "cad/drawing.h"
#include "cad/drawingpainter.h"
#include "preview/planpicture.h"
#include "domain/projectsnapshot.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

const QString reportFontFamily = QStringLiteral("WenQuanYi Micro Hei");

QFont reportFont(double points, bool bold)
{
    QFont f(reportFontFamily);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

namespace {

QFont font(double points, bool bold = false)
{
    return reportFont(points, bold);
}
// Beside the plan on paper: a north arrow (the plan's +Y), a scale bar of a
// round length with its ratio, the tilt with its value and direction, and
// the key to the marks, the contours (with their interval) and the alarm
// colour. `metre` is how long a metre of the building is on the page.
void drawPlanLegend(QPainter &p, const QRectF &box, const PlanPicture &picture, const PlanFigures &figures,
                    double metre, const ReportTexts &t)
{
    p.save();
    p.setPen(QPen(Qt::black, mm(0.25)));
    double y = box.top() + mm(2);
    // North.
    const QPointF tip(box.left() + mm(10), y);
    const QPointF foot = tip + QPointF(0, mm(14));
    p.drawLine(foot, tip);
    p.setBrush(Qt::black);
    p.drawPolygon(QPolygonF{tip, tip + QPointF(-mm(2.5), mm(6)), tip + QPointF(mm(2.5), mm(6))});
    p.setBrush(Qt::NoBrush);
    p.setFont(font(10, true));
    p.drawText(QRectF(tip.x() + mm(4), y, mm(20), mm(6)), Qt::AlignLeft | Qt::AlignVCenter, t.north);
    y += mm(20);
    // Scale: a bar of 1, 2 or 5 times a power of ten metres, about 3 cm.
    p.setFont(font(8));
    if (metre > 0 && std::isfinite(metre)) {
        const double wanted = mm(30) / metre;
        double length = std::pow(10.0, std::floor(std::log10(wanted)));
        for (const double step : {2.0, 5.0, 10.0})
            if (length * step <= wanted)
                length = std::pow(10.0, std::floor(std::log10(wanted))) * step;
        const double bar = length * metre;
        p.drawRect(QRectF(box.left(), y, bar, mm(1.5)));
        p.fillRect(QRectF(box.left(), y, bar / 2, mm(1.5)), Qt::black);
        p.drawText(QRectF(box.left(), y + mm(2), box.width(), mm(4)), Qt::AlignLeft | Qt::AlignVCenter,
                   t.scaleBar.arg(formatFixed(length, length < 1 ? 1 : 0))
                       .arg(formatFixed(1000.0 / (metre / mm(1)), 0)));
        y += mm(10);
    }
    // The tilt.
    if (picture.tilt && picture.tilt->value > 0) {
        const double a = (90 - picture.tilt->azimuthDeg) * M_PI / 180; // from the +x axis
        const QPointF from(box.left() + mm(8), y + mm(8));
        const QPointF to = from + QPointF(mm(7) * std::cos(a), -mm(7) * std::sin(a));
        p.setPen(QPen(Qt::blue, mm(0.4)));
        p.drawLine(from, to);
        for (const double side : {2.6, -2.6}) {
            const double head = a + M_PI + side * 0.2;
            p.drawLine(to, to + QPointF(mm(2) * std::cos(head), -mm(2) * std::sin(head)));
        }
        p.setPen(Qt::black);
        p.drawText(QRectF(box.left() + mm(18), y, box.width() - mm(18), mm(16)),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
                   t.tiltLegend.arg(formatFixed(picture.tilt->value * 1000, 3),
                                    azimuthText(picture.tilt->azimuthDeg)));
        y += mm(20);
    }
    // The key.
    const auto keyLine = [&](const QColor &colour, const QString &text, bool line) {
        p.setPen(QPen(colour, mm(0.3)));
        if (line)
            p.drawLine(QPointF(box.left(), y + mm(2)), QPointF(box.left() + mm(6), y + mm(2)));
        else
            p.drawEllipse(QPointF(box.left() + mm(3), y + mm(2)), mm(1.2), mm(1.2));
        p.setPen(Qt::black);
        QRectF used;
        p.drawText(QRectF(box.left() + mm(8), y, box.width() - mm(8), mm(12)),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text, &used);
        y += std::max(used.height(), mm(4)) + mm(2);
    };
    keyLine(QColor(60, 60, 60), t.pointKey, false);
    if (!figures.contours.empty()) {
        const double interval = figures.levels.size() >= 2 ? std::abs(figures.levels[1] - figures.levels[0]) : 0;
        keyLine(QColor(0, 150, 60), interval > 0 ? t.contourKey.arg(formatFixed(interval, 2)) : t.contourKeyPlain, true);
    }
    keyLine(Qt::red, t.alarmKey, false);
    if (!picture.background.lines.empty())
        keyLine(QColor(170, 170, 170), t.backgroundKey, true);
    p.restore();
}

// The chart of one point's settlement: observed with its marks, the
// hyperbolic and Asaoka curves to the forecast stable date (or the last
// epoch without one), their s∞ dashed within the band of its 95 % interval;
// a forecast's note above the plot, clear of the curves.
// A chart's curves in days and millimetres: the fitted forecasts from the
// start of the load and their final values with the 95 % interval; the
// settlement range they and the observations span.
struct ChartCurves
{
    struct Limit
    {
        QColor colour;
        double value, low, high;
    };
    std::vector<std::pair<QColor, std::vector<QPointF>>> fits;
    std::vector<Limit> limits;
    double sMin = 0, sMax = 0;
};

ChartCurves chartCurves(const PointStability &point, int step, double tEnd)
{
    ChartCurves curves;
    double &sMin = curves.sMin, &sMax = curves.sMax;
    for (const SeriesPoint &q : point.series) {
        sMin = std::min(sMin, q.s);
        sMax = std::max(sMax, q.s);
    }
    std::vector<std::pair<QColor, std::vector<QPointF>>> &fits = curves.fits;
    std::vector<ChartCurves::Limit> &limits = curves.limits;
    if (point.loadStart) {
        const auto trace = [&](const QColor &colour, const std::function<double(double)> &at) {
            std::vector<QPointF> line;
            for (int i = 0; i <= 60; ++i) {
                const double t = point.loadStart->t + (tEnd - point.loadStart->t) * i / 60;
                const double s = at(t);
                if (std::isfinite(s))
                    line.emplace_back(t, s);
            }
            fits.emplace_back(colour, line);
        };
        if (point.hyperbolic) {
            trace(QColor(0, 90, 200), [&](double t) { return hyperbolicAt(*point.hyperbolic, *point.loadStart, t); });
            limits.push_back({QColor(0, 90, 200), point.hyperbolic->sInf, point.hyperbolic->sInfLow(),
                              point.hyperbolic->sInfHigh()});
        }
        if (point.asaoka) {
            trace(QColor(0, 150, 60), [&](double t) { return asaokaAt(*point.asaoka, *point.loadStart, step, t); });
            limits.push_back({QColor(0, 150, 60), point.asaoka->sInf, point.asaoka->sInfLow(), point.asaoka->sInfHigh()});
        }
    }
    for (const ChartCurves::Limit &limit : limits)
        for (const double value : {limit.low, limit.high})
            if (std::isfinite(value) && std::abs(value) < 10 * std::max(1.0, std::abs(sMin) + std::abs(sMax))) {
                sMin = std::min(sMin, value);
                sMax = std::max(sMax, value);
            }
    if (sMax - sMin < 1)
        sMin = sMax - 1;
    return curves;
}

} // namespace

void drawStabilityChart(QPainter &p, const QRectF &box, const PointStability &point, int step)
{
    const double tEnd = std::max({point.tLast, point.stableDay.value_or(0.0), 1.0});
    const ChartCurves curves = chartCurves(point, step, tEnd);
    const auto &fits = curves.fits;
    const auto &limits = curves.limits;
    const double sMin = curves.sMin, sMax = curves.sMax;
    // A note (a forecast not trusted) takes a strip above the plot.
    const QString note = forecastNote(point);
    double noteHeight = 0;
    if (!note.isEmpty()) {
        p.save();
        p.setFont(font(5.5));
        noteHeight = p.boundingRect(QRectF(0, 0, box.width() - mm(15), mm(40)), Qt::TextWordWrap, note).height() + mm(0.5);
        p.restore();
    }
    const QRectF plot = box.adjusted(mm(12), mm(7) + noteHeight, -mm(3), -mm(8));
    const auto at = [&](double t, double s) {
        return QPointF(plot.left() + t / tEnd * plot.width(),
                       plot.top() + (sMax - s) / (sMax - sMin) * plot.height());
    };
    p.save();
    p.setClipRect(box);
    p.setPen(QPen(Qt::black, mm(0.2)));
    p.drawRect(plot);
    p.setFont(font(8, true));
    p.drawText(QRectF(box.left(), box.top(), box.width(), mm(6)), Qt::AlignCenter,
               QStringLiteral("%1（%2）").arg(point.name, verdictText(point.verdict)));
    p.setFont(font(6.5));
    p.drawText(QRectF(plot.left(), plot.bottom() + mm(1), plot.width(), mm(5)), Qt::AlignCenter,
               QStringLiteral("0 — %1 d").arg(formatFixed(tEnd, 0)));
    p.drawText(QRectF(box.left(), plot.top() - mm(1), mm(11), mm(4)), Qt::AlignRight | Qt::AlignVCenter,
               formatFixed(sMax, 1));
    p.drawText(QRectF(box.left(), plot.bottom() - mm(3), mm(11), mm(4)), Qt::AlignRight | Qt::AlignVCenter,
               formatFixed(sMin, 1));
    // The fitted curves stay inside the frame, whatever they reach.
    p.setClipRect(plot);
    for (const ChartCurves::Limit &limit : limits) {
        if (!std::isfinite(limit.value) || limit.value < sMin || limit.value > sMax)
            continue;
        // The 95 % interval as a band over the whole time axis.
        if (std::isfinite(limit.low) && std::isfinite(limit.high)) {
            QColor band = limit.colour;
            band.setAlpha(40);
            p.fillRect(QRectF(at(0, limit.high), at(tEnd, limit.low)).normalized(), band);
        }
        p.setPen(QPen(limit.colour, mm(0.2), Qt::DashLine));
        p.drawLine(at(0, limit.value), at(tEnd, limit.value));
    }
    for (const auto &[colour, line] : fits) {
        p.setPen(QPen(colour, mm(0.25)));
        QPolygonF polygon;
        for (const QPointF &q : line)
            polygon << at(q.x(), q.y());
        p.drawPolyline(polygon);
    }
    p.setClipRect(box);
    // A forecast not trusted is not drawn: its reason is written instead,
    // above the plot.
    if (!note.isEmpty()) {
        p.setPen(Qt::black);
        p.setFont(font(5.5));
        p.drawText(QRectF(plot.left(), plot.top() - noteHeight, plot.width(), noteHeight),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, note);
    }
    p.setPen(QPen(Qt::red, mm(0.3)));
    QPolygonF observed;
    for (const SeriesPoint &q : point.series)
        observed << at(q.t, q.s);
    p.drawPolyline(observed);
    p.setBrush(Qt::red);
    for (const QPointF &q : observed)
        p.drawEllipse(q, mm(0.5), mm(0.5));
    p.restore();
}

std::vector<TablePage> tablePages(const QString &title, const QStringList &intro, const QStringList &headings,
                                  const std::vector<QStringList> &rows, const std::vector<double> &weights,
                                  bool landscape, double points)
{
    // Rows per page from an A4 body (the page minus header, footer and margins).
    const double bodyHeight = mm(bodyHeightMm(landscape));
    // A line of the intro wraps: a long one takes two lines' room.
    double introHeight = title.isEmpty() ? 0 : mm(10);
    for (const QString &line : intro)
        introHeight += line.size() > 60 ? mm(11) : mm(6);
    // Rows of the heights drawTable gives them, as many as the page holds.
    const double bodyWidth = mm(bodyWidthMm(landscape));
    const std::vector<double> x = columnEdges(0, bodyWidth, weights);
    const double headingHeight = rowHeightOf(headings, x, points);
    std::vector<TablePage> pages;
    size_t start = 0;
    do {
        const bool first = pages.empty();
        double room = (first ? bodyHeight - introHeight : bodyHeight) - headingHeight;
        size_t count = 0;
        while (start + count < rows.size()) {
            const double h = rowHeightOf(rows[start + count], x, points);
            if (h > room && count > 0)
                break;
            room -= h;
            ++count;
        }
        TablePage page;
        if (first) {
            page.title = title;
            page.intro = intro;
        }
        page.headings = headings;
        page.rows.assign(rows.begin() + long(start), rows.begin() + long(start + count));
        page.weights = weights;
        page.points = points;
        pages.push_back(std::move(page));
        start += count;
    } while (start < rows.size());
    return pages;
}

void paintTablePage(QPainter &p, const QRectF &body, const TablePage &page)
{
    double y = body.top();
    if (!page.title.isEmpty()) {
        p.setFont(font(14, true));
        p.drawText(QRectF(body.left(), y, body.width(), mm(9)), Qt::AlignLeft | Qt::AlignVCenter, page.title);
        y += mm(10);
    }
    p.setFont(font(10));
    for (const QString &line : page.intro) {
        QRectF used;
        p.drawText(QRectF(body.left(), y, body.width(), mm(11)), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, line,
                   &used);
        y += std::max(used.height(), mm(5)) + mm(1);
    }
    drawTable(p, body, y, page.headings, page.rows, page.weights, page.points);
}

QColor paperColour(const ProjectSnapshot &snapshot, int aci)
{
    if (aci == 7 || aci == 255 || aci == 256 || aci == 0)
        return Qt::black;
    const auto rgb = snapshot.colour(aci);
    if (!rgb)
        return Qt::black;
    return onPaper(QColor(rgb->r, rgb->g, rgb->b));
}

PaperPalette paperPalette(const ProjectSnapshot &snapshot)
{
    PaperPalette palette;
    for (int aci = 0; aci <= 256; ++aci)
        palette.push_back(paperColour(snapshot, aci));
    return palette;
}

QColor onPaper(const QColor &c)
{
    // Bright colours vanish on white paper (yellow, cyan): by how bright
    // the eye sees them, not by their lightness, which calls yellow middling.
    const int brightness = qGray(c.rgb());
    return brightness > 150 ? c.darker(100 + (brightness - 100)) : c;
}

// An entity belongs to the cell holding the middle of its extent, each cell
// taking its left and bottom edges only: a frame's corner or edge on the
// line between two sheets makes no sheet of its own.
std::vector<QRectF> sheetsOf(const Drawing &drawing, double width, double height, int perRow)
{
    std::vector<QPointF> middles;
    for (const Drawing::Entity &e : drawing.entities()) {
        if (e.erased || e.points.empty())
            continue;
        double left = e.points.front().x, right = left, bottom = e.points.front().y, top = bottom;
        for (const auto &q : e.points) {
            left = std::min(left, q.x);
            right = std::max(right, q.x);
            bottom = std::min(bottom, q.y);
            top = std::max(top, q.y);
        }
        middles.emplace_back((left + right) / 2, (bottom + top) / 2);
    }
    std::vector<QRectF> sheets;
    for (int row = 0; row < 10000; ++row) {
        bool any = false;
        for (int column = 0; column < std::max(1, perRow); ++column) {
            const QRectF cell(column * width, -row * height, width, height);
            const bool used = std::any_of(middles.begin(), middles.end(), [&](const QPointF &m) {
                return m.x() >= cell.left() && m.x() < cell.right() && m.y() >= cell.top() && m.y() < cell.bottom();
            });
            if (used) {
                sheets.push_back(cell);
                any = true;
            }
        }
        if (!any)
            break;
    }
    return sheets;
}


void paintCover(QPainter &p, const QRectF &body, const CoverPage &cover)
{
    p.setFont(font(30, true));
    p.drawText(QRectF(body.left(), body.top() + mm(50), body.width(), mm(20)), Qt::AlignCenter, cover.title);
    // A long or many-line field wraps and pushes what follows down:
    // nothing is drawn over anything.
    p.setFont(font(16));
    QRectF used;
    p.drawText(QRectF(body.left(), body.top() + mm(80), body.width(), mm(30)),
               Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, cover.projectName, &used);
    p.setFont(font(12));
    double y = std::max(body.top() + mm(120), used.bottom() + mm(10));
    for (const QString &line : cover.lines) {
        p.drawText(QRectF(body.left() + mm(30), y, body.width() - mm(60), mm(30)),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, line, &used);
        y += std::max(used.height(), mm(9)) + mm(2);
    }
    y += mm(20);
    for (const QString &sign : cover.signatures) {
        p.drawText(QRectF(body.left() + mm(30), y, mm(25), mm(9)), Qt::AlignLeft | Qt::AlignVCenter, sign);
        p.drawLine(QPointF(body.left() + mm(55), y + mm(8)), QPointF(body.left() + mm(120), y + mm(8)));
        y += mm(13);
    }
}

void paintPlanPage(QPainter &p, const QRectF &body, const QString &title, const PlanPicture &picture,
                   const PlanFigures &figures)
{
    p.setFont(font(14, true));
    p.drawText(QRectF(body.left(), body.top(), body.width(), mm(9)), Qt::AlignLeft | Qt::AlignVCenter, title);
    const QRectF area = body.adjusted(0, mm(11), 0, 0);
    // The plan view's painting, scaled for paper, with the legend in a
    // column at the right.
    const QRectF plan = area.adjusted(0, 0, -mm(55), 0);
    p.save();
    const double s = std::min(plan.width() / 770.0, plan.height() / 520.0);
    p.translate(plan.left(), plan.top());
    p.scale(s, s);
    const QRectF logical(0, 0, plan.width() / s, plan.height() / s);
    PlanPicture onPage = picture;
    onPage.keyedBeside = true;
    for (PlanPicture::Mark &mark : onPage.points)
        if (!mark.alarm)
            mark.colour = onPaper(mark.colour);
    drawPlan(p, logical, onPage, 1);
    const double metre = planMapping(logical, picture, 1).scale * s; // device units a metre
    p.restore();
    drawPlanLegend(p, QRectF(plan.right() + mm(5), area.top(), mm(50), area.height()), picture, figures, metre,
                   reportTexts());
}

void paintResultsPage(QPainter &p, const QRectF &body, const ResultsPage &page)
{
    double y = body.top();
    if (!page.title.isEmpty()) {
        p.setFont(font(14, true));
        p.drawText(QRectF(body.left(), y, body.width(), mm(9)), Qt::AlignLeft | Qt::AlignVCenter, page.title);
        y += mm(10);
    }
    const ResultsCells &cells = *page.cells;
    drawSheetRows(
        p, body, y, page.rows, [&cells](int r, int c) { return cells.text(r, c); }, page.merges, page.widths, 7.5);
}

void paintSheetPage(QPainter &p, const QRectF &body, const QString &caption, const Drawing &drawing,
                    const QRectF &cell, const std::function<QColor(int)> &colour)
{
    p.setFont(font(12, true));
    p.drawText(QRectF(body.left(), body.top(), body.width(), mm(8)), Qt::AlignLeft | Qt::AlignVCenter, caption);
    paintDrawing(p, drawing, cell, body.adjusted(0, mm(9), 0, 0), colour, reportFontFamily);
}

void paintStabilityCharts(QPainter &p, const QRectF &body, const QString &title, const QString &key,
                          const std::vector<const PointStability *> &points, int step)
{
    p.setFont(font(12, true));
    p.drawText(QRectF(body.left(), body.top(), body.width(), mm(8)), Qt::AlignLeft | Qt::AlignVCenter, title);
    p.setFont(font(8));
    p.drawText(QRectF(body.left(), body.top() + mm(8), body.width(), mm(5)), Qt::AlignLeft | Qt::AlignVCenter, key);
    const QRectF area = body.adjusted(0, mm(14), 0, 0);
    const double w = area.width() / 3, h = area.height() / 2;
    for (size_t i = 0; i < points.size() && i < 6; ++i)
        drawStabilityChart(
            p, QRectF(area.left() + double(i % 3) * w, area.top() + double(i / 3) * h, w - mm(4), h - mm(4)),
            *points[i], step);
}

void paintConclusion(QPainter &p, const QRectF &body, const QString &title, const QStringList &sentences)
{
    p.setFont(font(14, true));
    p.drawText(QRectF(body.left(), body.top(), body.width(), mm(9)), Qt::AlignLeft | Qt::AlignVCenter, title);
    p.setFont(font(11));
    double y = body.top() + mm(14);
    for (int i = 0; i < sentences.size(); ++i) {
        const QRectF box(body.left(), y, body.width(), body.bottom() - y);
        QRectF used;
        p.drawText(box, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("%1. %2").arg(i + 1).arg(sentences[i]), &used);
        y += used.height() + mm(4);
    }
}

QRectF paintPageFrame(QPainter &p, const QRectF &page, const PageFrame &frame)
{
    const QRectF inner = page.adjusted(mm(PageFrameSize::left), mm(PageFrameSize::top), -mm(PageFrameSize::right),
                                       -mm(PageFrameSize::bottom));
    p.setPen(Qt::black);
    if (frame.page > 1) {
        // The title and date at the right; the project's name in the room
        // left of them, on two lines if it must, smaller if even that is
        // not enough.
        p.setFont(font(8));
        const QString right = frame.title + QStringLiteral("  ") + frame.date;
        const double rightWidth = QFontMetricsF(p.font(), p.device()).horizontalAdvance(right);
        p.drawText(QRectF(inner.left(), inner.top(), inner.width(), mm(6)), Qt::AlignRight | Qt::AlignVCenter, right);
        const QRectF nameBox(inner.left(), inner.top() - mm(1), inner.width() - rightWidth - mm(6), mm(7.5));
        const QString name = frame.projectName.simplified();
        for (const double size : {8.0, 6.5, 5.0}) {
            p.setFont(font(size));
            const QRectF needed = QFontMetricsF(p.font(), p.device()).boundingRect(nameBox, Qt::TextWrapAnywhere, name);
            if (needed.height() <= nameBox.height() || size == 5.0)
                break;
        }
        p.save();
        p.setClipRect(nameBox);
        p.drawText(nameBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWrapAnywhere, name);
        p.restore();
        p.setPen(QPen(Qt::black, mm(0.2)));
        p.drawLine(QPointF(inner.left(), inner.top() + mm(7)), QPointF(inner.right(), inner.top() + mm(7)));
    }
    p.setPen(Qt::black);
    p.setFont(font(8));
    p.drawText(QRectF(inner.left(), inner.bottom() - mm(6), inner.width(), mm(6)), Qt::AlignCenter,
               frame.footer.arg(frame.page).arg(frame.pages));
    return inner.adjusted(0, mm(PageFrameSize::header), 0, -mm(PageFrameSize::footer));
}

void paintReportPage(QPainter &p, const QRectF &body, const ReportPage &page)
{
    struct Painter
    {
        QPainter &p;
        const QRectF &body;
        void operator()(const CoverPage &cover) const { paintCover(p, body, cover); }
        void operator()(const TablePage &table) const { paintTablePage(p, body, table); }
        void operator()(const PlanPage &plan) const { paintPlanPage(p, body, plan.title, plan.picture, plan.figures); }
        void operator()(const ResultsPage &results) const { paintResultsPage(p, body, results); }
        void operator()(const SheetPage &sheet) const
        {
            const PaperPalette &palette = *sheet.palette;
            paintSheetPage(p, body, sheet.caption, *sheet.drawing, sheet.cell, [&palette](int aci) {
                return aci >= 0 && size_t(aci) < palette.size() ? palette[size_t(aci)] : QColor(Qt::black);
            });
        }
        void operator()(const StabilityChartsPage &charts) const
        {
            std::vector<const PointStability *> points;
            for (const PointStability &point : charts.points)
                points.push_back(&point);
            paintStabilityCharts(p, body, charts.title, charts.key, points, charts.step);
        }
        void operator()(const ConclusionPage &conclusion) const
        {
            paintConclusion(p, body, conclusion.title, conclusion.sentences);
        }
    };
    std::visit(Painter{p, body}, page.content);
}
