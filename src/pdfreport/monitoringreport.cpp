#include "pdfreport/monitoringreport.h"

#include "pdfreport/pdfdeflate.h"

#include "base/outputguard.h"
#include "base/programfiles.h"
#include "base/savefile.h"
#include "base/settings.h"
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
#include "survey/buildingdeformation.h"
#include "survey/monitoringmodel.h"
#include "survey/stability.h"
#include "xlsx/workbook.h"

#include <QBuffer>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QPdfWriter>
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

constexpr double dpi = 300;
double mm(double millimetres)
{
    return millimetres * dpi / 25.4;
}

const QString fontFamily = QStringLiteral("WenQuanYi Micro Hei");

QFont font(double points, bool bold = false)
{
    QFont f(fontFamily);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// One page: its orientation and what it draws into its body.
struct Page
{
    bool landscape = false;
    std::function<void(QPainter &, const QRectF &body)> draw;
    // An A3 page, for a sheet drawn for A3: its text keeps the height it
    // was drawn at, as a client reads it on paper.
    bool a3 = false;
};

// The results sheet as the workbook's writer fills it, every text kept as
// written (numbers as shown), over the template's own cells.
class RecordingSheet : public ResultsSheet
{
public:
    explicit RecordingSheet(XlsxSheet &inner)
        : m_inner(inner)
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
    QString text(int row, int column) const
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
    XlsxSheet &m_inner;
    std::map<std::pair<int, int>, QString> m_texts;
};

// Figures are most of a table: their widths from the advances of their
// characters, measured once, instead of shaping each text. Nothing for a
// text with a character beyond plain ASCII.
class PlainWidths
{
public:
    explicit PlainWidths(const QFontMetricsF &metrics)
    {
        for (int c = 32; c < 128; ++c)
            m_advances[size_t(c)] = metrics.horizontalAdvance(QChar(c));
    }
    std::optional<double> operator()(const QString &text) const
    {
        double width = 0;
        for (const QChar ch : text) {
            if (ch.unicode() < 32 || ch.unicode() >= 128)
                return std::nullopt;
            width += m_advances[ch.unicode()];
        }
        return width;
    }
    double advance(QChar ch) const { return m_advances[ch.unicode()]; }

private:
    std::array<double, 128> m_advances{};
};

// Plain texts drawn from their glyphs, placed by the same advances as
// PlainWidths measures, without laying each out, and all of a page's as one
// run of glyphs: a thousand pages of a results table are mostly figures.
class PlainGlyphs
{
public:
    PlainGlyphs(const QFont &font, QPaintDevice *device, const PlainWidths &widths)
        : m_font(QRawFont::fromFont(QFont(font, device)))
        , m_widths(widths)
    {
        QString ascii;
        for (int c = 32; c < 128; ++c)
            ascii += QChar(c);
        const QList<quint32> glyphs = m_font.glyphIndexesForString(ascii);
        m_usable = m_font.isValid() && glyphs.size() == ascii.size();
        for (int i = 0; m_usable && i < glyphs.size(); ++i)
            m_glyphs[size_t(32 + i)] = glyphs[i];
    }
    // Adds `text` (plain ASCII, as PlainWidths accepts) with its baseline
    // starting at `origin`; false when it must be laid out instead.
    bool add(const QPointF &origin, const QString &text)
    {
        if (!m_usable)
            return false;
        for (const QChar ch : text)
            // A character the font lacks is laid out the slow way, with its fallback.
            if (ch != QLatin1Char(' ') && m_glyphs[ch.unicode()] == 0)
                return false;
        double x = origin.x();
        for (const QChar ch : text) {
            if (ch != QLatin1Char(' ')) {
                m_indexes.push_back(m_glyphs[ch.unicode()]);
                m_positions.push_back(QPointF(x, origin.y()));
            }
            x += m_widths.advance(ch);
        }
        return true;
    }
    // Draws what was added.
    void draw(QPainter &p)
    {
        if (m_indexes.isEmpty())
            return;
        QGlyphRun run;
        run.setRawFont(m_font);
        run.setGlyphIndexes(m_indexes);
        run.setPositions(m_positions);
        p.drawGlyphRun(QPointF(0, 0), run);
        m_indexes.clear();
        m_positions.clear();
    }

private:
    QRawFont m_font;
    const PlainWidths &m_widths;
    std::array<quint32, 128> m_glyphs{};
    bool m_usable = false;
    QList<quint32> m_indexes;
    QList<QPointF> m_positions;
};

// The lines a text takes in a column `width` wide at `points`, wrapped
// anywhere: from a width that a Chinese character takes in full and any
// other in a little over half, so that the pages are laid out before they
// are painted and a cell is never too low for its text (at most 24).
int linesOf(const QString &text, double width, double points)
{
    const double em = mm(points * 25.4 / 72);
    double needed = 0;
    for (const QChar ch : text)
        needed += ch.unicode() >= 0x2e80 ? em : 0.6 * em;
    const double room = std::max(width - mm(1.6), em);
    return std::clamp(int(std::ceil(needed / room - 1e-9)), 1, 24);
}

// The columns' left edges and the right edge of the last, over `width`.
std::vector<double> columnEdges(double left, double width, const std::vector<double> &weights)
{
    double total = 0;
    for (const double w : weights)
        total += w;
    std::vector<double> x{left};
    for (const double w : weights)
        x.push_back(x.back() + width * w / total);
    return x;
}

// How high a row is drawn: its tallest cell's lines.
double rowHeightOf(const QStringList &cells, const std::vector<double> &x, double points)
{
    int lines = 1;
    for (int c = 0; c + 1 < int(x.size()); ++c)
        lines = std::max(lines, linesOf(cells.value(c), x[size_t(c) + 1] - x[size_t(c)], points));
    return lines * mm(points * 0.62);
}

// A table of texts drawn in a rectangle from `top`: a heading row, then the
// rows, every column as wide as `weights` share out, a text too wide for its
// cell wrapped onto more lines (never cut); returns the bottom.
double drawTable(QPainter &p, const QRectF &body, double top, const QStringList &headings,
                 const std::vector<QStringList> &rows, const std::vector<double> &weights, double points)
{
    const double rowHeight = mm(points * 0.62);
    const std::vector<double> x = columnEdges(body.left(), body.width(), weights);
    const QFont plain = font(points), bold = font(points, true);
    const QFontMetricsF plainMetrics(plain, p.device()), boldMetrics(bold, p.device());
    const double baseline = (rowHeight + plainMetrics.ascent() - plainMetrics.descent()) / 2;
    const PlainWidths plainWidth(plainMetrics);
    const auto widthOf = [&](const QString &text, const QFontMetricsF &metrics, bool heading) {
        if (heading)
            return metrics.horizontalAdvance(text);
        return plainWidth(text).value_or(metrics.horizontalAdvance(text));
    };
    // The rows' heights, the heading's first.
    std::vector<double> heights{rowHeightOf(headings, x, points)};
    for (const QStringList &row : rows)
        heights.push_back(rowHeightOf(row, x, points));
    // Heading cells shaded first, the grid over them.
    p.fillRect(QRectF(x.front(), top, x.back() - x.front(), heights.front()), QColor(235, 235, 235));
    const auto drawRow = [&](const QStringList &cells, double y, double height, bool heading) {
        const QFontMetricsF &metrics = heading ? boldMetrics : plainMetrics;
        p.setFont(heading ? bold : plain);
        for (int c = 0; c < int(weights.size()); ++c) {
            const QRectF cell(x[size_t(c)], y, x[size_t(c) + 1] - x[size_t(c)], height);
            const QString text = cells.value(c);
            if (text.isEmpty())
                continue;
            // Centred on one line where it fits, else wrapped in its cell.
            const double room = cell.width() - mm(1.6);
            const double width = widthOf(text, metrics, heading);
            if (width <= room && height == rowHeight)
                p.drawText(QPointF(cell.center().x() - width / 2, y + baseline), text);
            else
                p.drawText(cell.adjusted(mm(0.8), 0, -mm(0.8), 0), Qt::AlignCenter | Qt::TextWrapAnywhere, text);
        }
    };
    // The grid: one line a row and a column, not a rectangle a cell.
    double bottom = top;
    for (const double h : heights)
        bottom += h;
    p.setPen(QPen(Qt::black, mm(0.15)));
    double y = top;
    p.drawLine(QPointF(x.front(), y), QPointF(x.back(), y));
    for (const double h : heights) {
        y += h;
        p.drawLine(QPointF(x.front(), y), QPointF(x.back(), y));
    }
    for (const double at : x)
        p.drawLine(QPointF(at, top), QPointF(at, bottom));
    y = top;
    drawRow(headings, y, heights.front(), true);
    y += heights.front();
    for (size_t r = 0; r < rows.size(); ++r) {
        drawRow(rows[r], y, heights[r + 1], false);
        y += heights[r + 1];
    }
    return y;
}

// Rows of a sheet drawn as the sheet lays them out: columns as wide as the
// sheet's own share of `body`, merged cells drawn as one with their text
// centred in the whole block and wrapped where it does not fit, each row as
// high as its tallest text. `rows` are the sheet's row numbers in the order
// drawn; a merged block is drawn where its first row is among them.
double drawSheetRows(QPainter &p, const QRectF &body, double top, const std::vector<int> &rows,
                     const std::function<QString(int, int)> &text, const std::vector<XlsxSheet::Range> &merges,
                     const std::vector<double> &widths, double points)
{
    const int columns = int(widths.size());
    const std::vector<double> x = columnEdges(body.left(), body.width(), widths);
    std::map<int, size_t> place; // sheet row → place in `rows`
    for (size_t i = 0; i < rows.size(); ++i)
        place.emplace(rows[i], i);
    // The block each drawn cell belongs to: its first cell and its extent
    // in drawn rows and columns.
    struct Block
    {
        int row, column; // the sheet's
        size_t firstPlace, lastPlace;
        int lastColumn;
    };
    std::vector<Block> blocks;
    std::set<std::pair<size_t, int>> covered;
    for (const XlsxSheet::Range &m : merges) {
        const auto first = place.find(m.firstRow);
        if (first == place.end() || m.firstColumn > columns)
            continue;
        size_t last = first->second;
        while (last + 1 < rows.size() && rows[last + 1] <= m.lastRow && rows[last + 1] == rows[last] + 1)
            ++last;
        const int lastColumn = std::min(m.lastColumn, columns);
        blocks.push_back({m.firstRow, m.firstColumn, first->second, last, lastColumn});
        for (size_t r = first->second; r <= last; ++r)
            for (int c = m.firstColumn; c <= lastColumn; ++c)
                covered.emplace(r, c);
    }
    for (size_t r = 0; r < rows.size(); ++r)
        for (int c = 1; c <= columns; ++c)
            if (!covered.count({r, c}))
                blocks.push_back({rows[r], c, r, r, c});
    // Row heights from the texts of the blocks that lie in one row, in
    // lines of the block's width; a text's own line breaks count.
    const double line = mm(points * 0.62);
    std::vector<double> heights(rows.size(), line);
    const auto linesIn = [&](const QString &t, double width) {
        int lines = 0;
        for (const QString &part : t.split(QLatin1Char('\n')))
            lines += linesOf(QString(part).remove(QLatin1Char('\r')), width, points);
        return lines;
    };
    for (const Block &b : blocks) {
        const QString t = text(b.row, b.column);
        if (t.isEmpty() || b.firstPlace != b.lastPlace)
            continue;
        heights[b.firstPlace] =
            std::max(heights[b.firstPlace], linesIn(t, x[size_t(b.lastColumn)] - x[size_t(b.column - 1)]) * line);
    }
    std::vector<double> y{top};
    for (const double h : heights)
        y.push_back(y.back() + h);
    const QFont plain = font(points);
    p.setFont(plain);
    p.setPen(QPen(Qt::black, mm(0.15)));
    // A text of plain characters that fits its cell is placed without
    // laying it out as a paragraph.
    const QFontMetricsF metrics(plain, p.device());
    const PlainWidths plainWidth(metrics);
    PlainGlyphs glyphs(plain, p.device(), plainWidth);
    const double baseline = (line + metrics.ascent() - metrics.descent()) / 2;
    const auto cellOf = [&](const Block &b) {
        return QRectF(QPointF(x[size_t(b.column - 1)], y[b.firstPlace]),
                      QPointF(x[size_t(b.lastColumn)], y[b.lastPlace + 1]));
    };
    // The rules in one go, then the texts.
    std::vector<QRectF> cells;
    cells.reserve(blocks.size());
    for (const Block &b : blocks)
        cells.push_back(cellOf(b));
    p.drawRects(cells.data(), int(cells.size()));
    for (const Block &b : blocks) {
        const QRectF cell = cellOf(b);
        const QString t = text(b.row, b.column);
        if (t.isEmpty())
            continue;
        if (const auto width = plainWidth(t); width && *width <= cell.width() - mm(1.2)) {
            const QPointF origin(cell.center().x() - *width / 2, cell.center().y() - line / 2 + baseline);
            if (!glyphs.add(origin, t))
                p.drawText(origin, t);
        } else
            p.drawText(cell.adjusted(mm(0.6), 0, -mm(0.6), 0), Qt::AlignCenter | Qt::TextWrapAnywhere,
                       QString(t).remove(QLatin1Char('\r')));
    }
    glyphs.draw(p);
    return y.back();
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

// Adds pages for a table, the heading repeated on each, `title` on the first.
void addTablePages(std::vector<Page> &pages, const QString &title, const QStringList &intro,
                   const QStringList &headings, const std::vector<QStringList> &rows,
                   const std::vector<double> &weights, bool landscape, double points = 9)
{
    // The body's height is known only at drawing time: rows per page from
    // an A4 body (the page minus header, footer and margins).
    const double bodyHeight = landscape ? mm(210 - 2 * 12 - 20) : mm(297 - 2 * 12 - 20);
    // A line of the intro wraps: a long one takes two lines' room.
    double introHeight = title.isEmpty() ? 0 : mm(10);
    for (const QString &line : intro)
        introHeight += line.size() > 60 ? mm(11) : mm(6);
    // Rows of the heights drawTable gives them, as many as the page holds.
    const double bodyWidth = landscape ? mm(297 - 2 * 12) : mm(210 - 2 * 12);
    const std::vector<double> x = columnEdges(0, bodyWidth, weights);
    const double headingHeight = rowHeightOf(headings, x, points);
    size_t start = 0;
    bool first = true;
    do {
        double room = (first ? bodyHeight - introHeight : bodyHeight) - headingHeight;
        size_t count = 0;
        while (start + count < rows.size()) {
            const double h = rowHeightOf(rows[start + count], x, points);
            if (h > room && count > 0)
                break;
            room -= h;
            ++count;
        }
        std::vector<QStringList> slice(rows.begin() + long(start), rows.begin() + long(start + count));
        pages.push_back({landscape, [=](QPainter &p, const QRectF &body) {
                             double y = body.top();
                             if (first) {
                                 if (!title.isEmpty()) {
                                     p.setFont(font(14, true));
                                     p.drawText(QRectF(body.left(), y, body.width(), mm(9)), Qt::AlignLeft | Qt::AlignVCenter, title);
                                     y += mm(10);
                                 }
                                 p.setFont(font(10));
                                 for (const QString &line : intro) {
                                     QRectF used;
                                     p.drawText(QRectF(body.left(), y, body.width(), mm(11)),
                                                Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, line, &used);
                                     y += std::max(used.height(), mm(5)) + mm(1);
                                 }
                             }
                             drawTable(p, body, y, headings, slice, weights, points);
                         }});
        start += count;
        first = false;
    } while (start < rows.size());
}

QColor paperColour(const ProjectSnapshot &snapshot, int aci)
{
    if (aci == 7 || aci == 255 || aci == 256 || aci == 0)
        return Qt::black;
    const auto rgb = snapshot.colour(aci);
    if (!rgb)
        return Qt::black;
    QColor c(rgb->r, rgb->g, rgb->b);
    // Pale colours vanish on white paper.
    return c.lightness() > 200 ? c.darker(160) : c;
}

// The sheets of a drawing: cells of the sheet size from (0, 0) rightwards
// and downwards that hold anything. An entity belongs to the cell holding
// the middle of its extent, each cell taking its left and bottom edges
// only: a frame's corner or edge on the line between two sheets makes no
// sheet of its own.
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

// The chart of one point's settlement: observed with its marks, the
// hyperbolic and Asaoka curves a year past the last epoch, their s∞ dashed.
void drawStabilityChart(QPainter &p, const QRectF &box, const PointStability &point, int step)
{
    const double tEnd = point.tLast + 365;
    double sMin = 0, sMax = 0;
    for (const SeriesPoint &q : point.series) {
        sMin = std::min(sMin, q.s);
        sMax = std::max(sMax, q.s);
    }
    std::vector<std::pair<QColor, std::vector<QPointF>>> fits;
    std::vector<std::pair<QColor, double>> limits;
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
            limits.emplace_back(QColor(0, 90, 200), point.hyperbolic->sInf);
        }
        if (point.asaoka) {
            trace(QColor(0, 150, 60), [&](double t) { return asaokaAt(*point.asaoka, *point.loadStart, step, t); });
            limits.emplace_back(QColor(0, 150, 60), point.asaoka->sInf);
        }
    }
    for (const auto &[colour, value] : limits)
        if (std::isfinite(value) && std::abs(value) < 10 * std::max(1.0, std::abs(sMin) + std::abs(sMax))) {
            sMin = std::min(sMin, value);
            sMax = std::max(sMax, value);
        }
    if (sMax - sMin < 1)
        sMin = sMax - 1;
    const QRectF plot = box.adjusted(mm(12), mm(7), -mm(3), -mm(8));
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
    for (const auto &[colour, value] : limits) {
        if (!std::isfinite(value) || value < sMin || value > sMax)
            continue;
        p.setPen(QPen(colour, mm(0.2), Qt::DashLine));
        p.drawLine(at(0, value), at(tEnd, value));
    }
    for (const auto &[colour, line] : fits) {
        p.setPen(QPen(colour, mm(0.25)));
        QPolygonF polygon;
        for (const QPointF &q : line)
            polygon << at(q.x(), q.y());
        p.drawPolyline(polygon);
    }
    // A forecast not trusted is not drawn: its reason is written instead.
    if (const QString note = forecastNote(point); !note.isEmpty()) {
        p.setPen(Qt::black);
        p.setFont(font(5.5));
        p.drawText(plot.adjusted(mm(1), mm(0.5), -mm(1), 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, note);
    }
    p.setClipRect(box);
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

} // namespace

Result<ReportOutcome> writeMonitoringReport(const ProjectSnapshot &whole, const ReportRequest &request)
{
    const ReportTexts &t = reportTexts();
    const SettingsStore &settings = *request.settings;
    ReportOutcome outcome;
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
    // The results table and the list of epochs hold every epoch; the
    // analysis, the sheets and the plan only those of a bounded day count.
    const ProjectSnapshot every = whole.upToEpoch(last);
    const ProjectSnapshot snapshot = every.withUsableDates();
    if (snapshot.epochCount() == 0)
        return fail(QStringLiteral("报告所含观测的日期都不可用"));
    const int lastIndex = snapshot.epochCount() - 1;
    const Epoch &lastEpoch = snapshot.epochs().back();
    const auto field = [&](const QString &key) {
        const auto found = request.headerFields.find(key);
        return found == request.headerFields.end() ? QString() : found->second;
    };
    const QString reportDate =
        request.reportDate.isEmpty() ? QDate::currentDate().toString(Qt::ISODate) : request.reportDate;
    const int pointCount =
        request.pointCount.value_or(pointCountFromSetting(settings.readSetting(SettingKey::PointCount)));
    const auto colour = [&](int aci) { return paperColour(snapshot, aci); };

    std::vector<Page> pages;
    // 1. Cover.
    pages.push_back({false, [&](QPainter &p, const QRectF &body) {
                         p.setFont(font(30, true));
                         p.drawText(QRectF(body.left(), body.top() + mm(50), body.width(), mm(20)), Qt::AlignCenter, t.title);
                         // A long or many-line field wraps and pushes what
                         // follows down: nothing is drawn over anything.
                         p.setFont(font(16));
                         QRectF used;
                         p.drawText(QRectF(body.left(), body.top() + mm(80), body.width(), mm(30)),
                                    Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, field(SettingKey::ProjectName), &used);
                         p.setFont(font(12));
                         const QStringList lines{
                             t.coverClient.arg(field(SettingKey::Client)),
                             t.coverSurveyor.arg(field(SettingKey::Surveyor)),
                             t.coverPeriod.arg(snapshot.epochs().front().date, lastEpoch.date).arg(snapshot.epochCount()),
                             t.coverDate.arg(reportDate)};
                         double y = std::max(body.top() + mm(120), used.bottom() + mm(10));
                         for (const QString &line : lines) {
                             p.drawText(QRectF(body.left() + mm(30), y, body.width() - mm(60), mm(30)),
                                        Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, line, &used);
                             y += std::max(used.height(), mm(9)) + mm(2);
                         }
                         y += mm(20);
                         for (const QString &sign : t.coverSignatures) {
                             p.drawText(QRectF(body.left() + mm(30), y, mm(25), mm(9)), Qt::AlignLeft | Qt::AlignVCenter, sign);
                             p.drawLine(QPointF(body.left() + mm(55), y + mm(8)), QPointF(body.left() + mm(120), y + mm(8)));
                             y += mm(13);
                         }
                     }});

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
        addTablePages(pages, t.overview, intro,
                      {t.epochHeadings[0], t.epochHeadings[1], t.epochHeadings[2], t.epochHeadings[3]}, rows,
                      {1, 2, 2, 1}, false);
    }

    // 3. The points' layout: the plan at the last epoch, or the list.
    // Every figure of the report from the one model of the project.
    MonitoringRequest asked;
    asked.stability = stabilitySettingsFrom(settings, request.headerFields);
    asked.lastPoint = pointCount;
    asked.epochIndex = lastIndex;
    const MonitoringModel model = monitoringModel(
        snapshot, deformationSettings(deformationLimitsPath(request.programDir), request.headerFields, snapshot),
        asked);
    const DeformationSettings &deformation = model.deformation;
    const StabilityAnalysis &analysis = model.stability;
    const bool placed = model.placed;
    const PlanFigures &figures = model.figures;
    if (placed) {
        const PlanPicture picture = planPicture(snapshot, figures, request.planBackground);
        pages.push_back({true, [=](QPainter &p, const QRectF &body) {
                             p.setFont(font(14, true));
                             p.drawText(QRectF(body.left(), body.top(), body.width(), mm(9)), Qt::AlignLeft | Qt::AlignVCenter, t.layout);
                             const QRectF area = body.adjusted(0, mm(11), 0, 0);
                             // The plan view's painting, scaled for paper, with
                             // the legend in a column at the right.
                             const QRectF plan = area.adjusted(0, 0, -mm(55), 0);
                             p.save();
                             const double s = std::min(plan.width() / 770.0, plan.height() / 520.0);
                             p.translate(plan.left(), plan.top());
                             p.scale(s, s);
                             const QRectF logical(0, 0, plan.width() / s, plan.height() / s);
                             drawPlan(p, logical, picture, 1);
                             const double metre = planMapping(logical, picture, 1).scale * s; // device units a metre
                             p.restore();
                             drawPlanLegend(p, QRectF(plan.right() + mm(5), area.top(), mm(50), area.height()), picture,
                                            figures, metre, t);
                         }});
    } else {
        std::vector<QStringList> rows;
        for (const Point &point : snapshot.points())
            rows.push_back({QString::number(point.cjdNo), point.name, point.mark});
        addTablePages(pages, t.layout, {}, {t.pointHeadings[0], t.pointHeadings[1], t.pointHeadings[2]}, rows,
                      {1, 2, 2}, false);
    }

    // 4. The results table, cell for cell as the workbook's writer fills it.
    {
        ResultsRequest asked;
        asked.settings = &settings;
        asked.headerFields = request.headerFields;
        asked.programDir = request.programDir;
        asked.projectPath = request.projectPath;
        asked.pointCount = request.pointCount;
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
        auto recorder = std::make_shared<RecordingSheet>(**sheet);
        WriteResultsTable(*recorder, every, run->settings);
        int columns = 1;
        for (int r = 1; r <= std::min(recorder->lastRow(), 30); ++r)
            for (int c = 1; c <= 40; ++c)
                if (!recorder->text(r, c).isEmpty())
                    columns = std::max(columns, c);
        const int lastRow = recorder->lastRow();
        const std::vector<double> widths = (*sheet)->columnWidths(columns);
        const auto mergedRanges = std::make_shared<std::vector<XlsxSheet::Range>>((*sheet)->mergedRanges());
        for (int first = resultsFirstPageRow; first <= lastRow; first += resultsPageRows) {
            pages.push_back({true, [=, &t](QPainter &p, const QRectF &body) {
                                 double y = body.top();
                                 if (first == resultsFirstPageRow) {
                                     p.setFont(font(14, true));
                                     p.drawText(QRectF(body.left(), y, body.width(), mm(9)), Qt::AlignLeft | Qt::AlignVCenter, t.results);
                                     y += mm(10);
                                 }
                                 // The header rows 1 to 3 on every page, then the
                                 // page's rows, as the template lays them out.
                                 std::vector<int> rows;
                                 for (int r = 1; r <= resultsHeaderRows; ++r)
                                     rows.push_back(r);
                                 for (int r = first; r < first + resultsPageRows && r <= lastRow; ++r)
                                     rows.push_back(r);
                                 std::vector<XlsxSheet::Range> merges;
                                 for (const XlsxSheet::Range &m : *mergedRanges)
                                     if (m.firstRow <= resultsHeaderRows
                                         || (m.firstRow >= first && m.firstRow < first + resultsPageRows))
                                         merges.push_back(m);
                                 (void)workbook;
                                 drawSheetRows(p, body, y, rows, [&](int r, int c) { return recorder->text(r, c); },
                                               merges, widths, 7.5);
                             }});
        }
    }

    // 5. The curve sheets and the plan, rendered from the drawings that
    // become the DXF.
    std::vector<std::shared_ptr<Drawing>> drawings;
    const auto sheetPages = [&](std::shared_ptr<Drawing> drawing, double width, double height, int perRow,
                                const QString &caption) {
        // A sheet wider than an A4 page holds (an A3 frame) goes on A3.
        const bool a3 = width > 297 - 27 || height > 210 - 43;
        for (const QRectF &cell : sheetsOf(*drawing, width, height, perRow))
            pages.push_back({true, [=, &t](QPainter &p, const QRectF &body) {
                                 p.setFont(font(12, true));
                                 p.drawText(QRectF(body.left(), body.top(), body.width(), mm(8)), Qt::AlignLeft | Qt::AlignVCenter,
                                            t.curves + QStringLiteral("：") + caption);
                                 paintDrawing(p, *drawing, cell, body.adjusted(0, mm(9), 0, 0), colour, fontFamily);
                             },
                             a3});
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
        asked.pointCount = request.pointCount;
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

    // 6. Stability and prediction.
    {
        std::vector<QStringList> rows = stabilityRows(analysis);
        addTablePages(pages, t.stability,
                      {t.buildingVerdict.arg(verdictText(analysis.building)),
                       stabilitySettingsLine(analysis.settings)},
                      stabilityHeadings(), rows, {0.7, 1, 1, 1.1, 1.2, 1.2, 0.9, 1.3, 0.7, 1.3, 1.2, 3.2}, true, 8);
    }

    // The charts of the points not stable, the largest sinking first, at most 12.
    {
        std::vector<const PointStability *> unstable;
        for (const PointStability &point : analysis.points)
            if (point.verdict == Verdict::Unstable)
                unstable.push_back(&point);
        std::sort(unstable.begin(), unstable.end(),
                  [](const PointStability *a, const PointStability *b) { return a->sLast < b->sLast; });
        if (unstable.size() > 12)
            unstable.resize(12);
        const int step = analysis.settings.step;
        for (size_t first = 0; first < unstable.size(); first += 6) {
            std::vector<const PointStability *> six(unstable.begin() + long(first),
                                                    unstable.begin() + long(std::min(unstable.size(), first + 6)));
            pages.push_back({true, [six, step, &t](QPainter &p, const QRectF &body) {
                                 p.setFont(font(12, true));
                                 p.drawText(QRectF(body.left(), body.top(), body.width(), mm(8)), Qt::AlignLeft | Qt::AlignVCenter,
                                            t.stability + t.charts);
                                 p.setFont(font(8));
                                 p.drawText(QRectF(body.left(), body.top() + mm(8), body.width(), mm(5)), Qt::AlignLeft | Qt::AlignVCenter,
                                            t.chartsKey);
                                 const QRectF area = body.adjusted(0, mm(14), 0, 0);
                                 const double w = area.width() / 3, h = area.height() / 2;
                                 for (size_t i = 0; i < six.size(); ++i)
                                     drawStabilityChart(p, QRectF(area.left() + double(i % 3) * w, area.top() + double(i / 3) * h,
                                                                  w - mm(4), h - mm(4)),
                                                        *six[i], step);
                             }});
        }
    }

    // 7. Deformation, when the points are placed.
    if (placed && model.history) {
        addTablePages(pages, t.deformation, {thresholdsLine(deformation.thresholds)}, deformationHeadings(),
                      deformationRows(*model.history, snapshot),
                      {1, 1.2, 0.6, 1, 1, 0.9, 0.8, 0.9, 1.1, 1.2, 1.2, 0.9, 1, 3}, true, 7);
    }

    // 8. The conclusion: sentences from the numbers above.
    {
        // The last epoch's figures as the plan and the deformation section
        // have them, each sentence naming the points it is over.
        QStringList sentences;
        const EpochDeformation &at = figures.deformation;
        if (at.settledLargest >= 0 && at.settledAverageMm) {
            const auto &largest = at.settled[size_t(at.settledLargest)];
            const Point *point = snapshot.point(largest.number);
            sentences << t.largest.arg(lastEpoch.name, lastEpoch.date,
                                       point ? point->name : QString::number(largest.number),
                                       formatFixed(largest.sMm, 2))
                             .arg(at.settled.size())
                             .arg(formatFixed(*at.settledAverageMm, 2));
        }
        if (placed && at.largest >= 0 && at.averageMm && at.points.size() < at.settled.size())
            sentences << t.largestPlaced.arg(at.points.size())
                             .arg(at.points[size_t(at.largest)].name, formatFixed(at.points[size_t(at.largest)].sMm, 2),
                                  formatFixed(*at.averageMm, 2));
        const PointStability *fastest = nullptr;
        for (const PointStability &p : analysis.points)
            if (p.maxRate && (!fastest || std::abs(*p.maxRate) > std::abs(*fastest->maxRate)))
                fastest = &p;
        if (fastest)
            sentences << t.largestRate.arg(analysis.settings.window).arg(fastest->name, formatFixed(*fastest->maxRate, 4));
        sentences << t.verdict.arg(limitText(analysis.settings.limit), verdictText(analysis.building));
        if (placed && figures.deformation.tilt && !(figures.deformation.tilt->value > 0)) {
            sentences << t.noTilt.arg(figures.deformation.points.size());
        } else if (placed && figures.deformation.tilt) {
            const auto &limit = deformation.thresholds.tilt;
            sentences << t.tilt.arg(formatFixed(figures.deformation.tilt->value * 1000, 3),
                                    azimuthText(figures.deformation.tilt->azimuthDeg),
                                    limit ? t.tiltLimit.arg(formatFixed(*limit * 1000, 3),
                                                            deformation.thresholds.tiltLimit
                                                                    && std::abs(deformation.thresholds.tiltLimit->value
                                                                                - *limit) <= 1e-12
                                                                ? deformation.thresholds.tiltLimit->source
                                                                : t.tiltAlarmValue)
                                          : t.tiltNoLimit)
                             .arg(figures.deformation.points.size());
        }
        // The alarms the plan shows: the one computation of them.
        const std::vector<Alarm> &alarms = figures.alarms;
        if (alarms.empty()) {
            sentences << t.noAlarms;
        } else {
            QStringList named;
            for (const Alarm &alarm : alarms)
                named << alarmText(alarm, snapshot);
            sentences << t.alarms.arg(alarms.size()).arg(named.join(QStringLiteral("；")));
        }
        pages.push_back({false, [=, &t](QPainter &p, const QRectF &body) {
                             p.setFont(font(14, true));
                             p.drawText(QRectF(body.left(), body.top(), body.width(), mm(9)), Qt::AlignLeft | Qt::AlignVCenter, t.conclusion);
                             p.setFont(font(11));
                             double y = body.top() + mm(14);
                             for (int i = 0; i < sentences.size(); ++i) {
                                 const QRectF box(body.left(), y, body.width(), body.bottom() - y);
                                 QRectF used;
                                 p.drawText(box, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
                                            QStringLiteral("%1. %2").arg(i + 1).arg(sentences[i]), &used);
                                 y += used.height() + mm(4);
                             }
                         }});
    }

    // Every page with its header and footer, through SaveFile.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        const FastPdfDeflate fast;
        QPdfWriter writer(&buffer);
        writer.setResolution(int(dpi));
        writer.setCreator(QStringLiteral("Sedimetra"));
        writer.setTitle(t.title + QStringLiteral(" ") + field(SettingKey::ProjectName));
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setPageOrientation(pages.front().landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
        QPainter painter;
        if (!painter.begin(&writer))
            return fail(QStringLiteral("无法生成 PDF"));
        const int total = int(pages.size());
        for (int i = 0; i < total; ++i) {
            if (request.progress)
                request.progress(i, total);
            if (i > 0) {
                writer.setPageSize(QPageSize(pages[size_t(i)].a3 ? QPageSize::A3 : QPageSize::A4));
                writer.setPageOrientation(pages[size_t(i)].landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
                writer.newPage();
            }
            const bool landscape = pages[size_t(i)].landscape;
            const double shortSide = pages[size_t(i)].a3 ? 297 : 210, longSide = pages[size_t(i)].a3 ? 420 : 297;
            const QRectF page(0, 0, mm(landscape ? longSide : shortSide), mm(landscape ? shortSide : longSide));
            const QRectF inner = page.adjusted(mm(15), mm(12), -mm(12), -mm(12));
            painter.setPen(Qt::black);
            if (i > 0) {
                // The title and date at the right; the project's name in
                // the room left of them, on two lines if it must, smaller
                // if even that is not enough.
                painter.setFont(font(8));
                const QString right = t.title + QStringLiteral("  ") + reportDate;
                const double rightWidth = QFontMetricsF(painter.font(), painter.device()).horizontalAdvance(right);
                painter.drawText(QRectF(inner.left(), inner.top(), inner.width(), mm(6)), Qt::AlignRight | Qt::AlignVCenter,
                                 right);
                const QRectF nameBox(inner.left(), inner.top() - mm(1), inner.width() - rightWidth - mm(6), mm(7.5));
                const QString name = field(SettingKey::ProjectName).simplified();
                for (const double size : {8.0, 6.5, 5.0}) {
                    painter.setFont(font(size));
                    const QRectF needed = QFontMetricsF(painter.font(), painter.device())
                                              .boundingRect(nameBox, Qt::TextWrapAnywhere, name);
                    if (needed.height() <= nameBox.height() || size == 5.0)
                        break;
                }
                painter.save();
                painter.setClipRect(nameBox);
                painter.drawText(nameBox, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWrapAnywhere, name);
                painter.restore();
                painter.setPen(QPen(Qt::black, mm(0.2)));
                painter.drawLine(QPointF(inner.left(), inner.top() + mm(7)), QPointF(inner.right(), inner.top() + mm(7)));
            }
            painter.setPen(Qt::black);
            painter.setFont(font(8));
            painter.drawText(QRectF(inner.left(), inner.bottom() - mm(6), inner.width(), mm(6)), Qt::AlignCenter,
                             t.pageFooter.arg(i + 1).arg(total));
            const QRectF body = inner.adjusted(0, mm(10), 0, -mm(10));
            painter.save();
            pages[size_t(i)].draw(painter, body);
            painter.restore();
        }
        painter.end();
        outcome.pages = total;
    }
    if (auto saved = saveFileContents(outcome.output, buffer.data()); !saved)
        return saved.failure();
    return outcome;
}
