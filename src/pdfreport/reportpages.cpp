#include "pdfreport/reportpages.h"

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
// Each glyph starts on a whole device unit across (1/300 in, invisible on
// paper), so that the PDF writes its step in a few digits: the page's
// content is mostly these steps, and every byte of it is compressed.
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

// Texts that are not plain figures (headings, labels, dates in merged
// cells) laid out once and drawn again from their glyphs: a thousand pages
// of a results table repeat the same few dozen headings. A text is centred
// in its box both ways and wrapped anywhere, as QPainter::drawText with
// Qt::AlignCenter | Qt::TextWrapAnywhere does.
class LaidOutTexts
{
public:
    LaidOutTexts(const QFont &font, QPaintDevice *device)
        : m_font(font, device)
        , m_dpi(device->logicalDpiX())
    {
    }
    // Whether the texts laid out so far are laid out as `font` on `device` would lay them out.
    bool fits(const QFont &font, QPaintDevice *device) const
    {
        return QFont(font, device) == m_font && device->logicalDpiX() == m_dpi && m_laid.size() < 4096;
    }
    void draw(QPainter &p, const QRectF &box, const QString &text)
    {
        const QString key = text + QLatin1Char('\x1f') + QString::number(qRound(box.width() * 8)) + QLatin1Char('x')
                            + QString::number(qRound(box.height() * 8));
        auto at = m_laid.find(key);
        if (at == m_laid.end())
            at = m_laid.emplace(key, layOut(box.size(), text, p.device())).first;
        for (const QGlyphRun &run : at->second)
            p.drawGlyphRun(box.topLeft(), run);
    }

private:
    QList<QGlyphRun> layOut(const QSizeF &size, QString text, QPaintDevice *device) const
    {
        text.remove(QLatin1Char('\r'));
        text.replace(QLatin1Char('\n'), QChar::LineSeparator);
        QTextLayout layout(text, m_font, device);
        QTextOption option(Qt::AlignHCenter);
        option.setWrapMode(QTextOption::WrapAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        double height = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(size.width());
            line.setPosition(QPointF(0, height));
            height += line.height();
        }
        layout.endLayout();
        QList<QGlyphRun> runs = layout.glyphRuns();
        const QPointF shift(0, (size.height() - height) / 2);
        for (QGlyphRun &run : runs) {
            QList<QPointF> positions = run.positions();
            for (QPointF &at : positions)
                at += shift;
            run.setPositions(positions);
        }
        return runs;
    }

    QFont m_font;
    int m_dpi;
    std::unordered_map<QString, QList<QGlyphRun>> m_laid;
};

// A cell's text in lines `room` wide at a font of `em`: broken between
// Chinese characters and at blanks, never inside a number, a unit or a
// Latin word ("-0.0313", "(mm/d)", "Asaoka"), unless that alone is wider
// than the cell (a SHA-256). Widths are estimated from the em (a Chinese
// character in full, any other in a little over half), so that the pages
// are laid out before they are painted and a cell is never too low for its
// text.
QStringList wrappedLines(const QString &text, double room, double em)
{
    const auto wide = [](QChar ch) { return ch.unicode() >= 0x2e80; };
    const auto widthOf = [&](const QString &s) {
        double w = 0;
        for (const QChar ch : s)
            w += wide(ch) ? em : 0.6 * em;
        return w;
    };
    // Tokens: a Chinese character, a blank, a line break, or a run of the rest.
    QStringList tokens;
    QString word;
    const auto flush = [&] {
        if (!word.isEmpty())
            tokens << word;
        word.clear();
    };
    for (const QChar ch : text) {
        if (ch == QLatin1Char('\n') || ch.isSpace() || wide(ch)) {
            flush();
            tokens << QString(ch);
        } else {
            word += ch;
        }
    }
    flush();
    QStringList lines;
    QString line;
    const auto newLine = [&] {
        lines << line.trimmed();
        line.clear();
    };
    for (const QString &token : tokens) {
        if (token == QLatin1String("\n")) {
            newLine();
            continue;
        }
        if (widthOf(line + token) <= room || line.trimmed().isEmpty()) {
            if (!(line.isEmpty() && token.at(0).isSpace()))
                line += token;
        } else {
            newLine();
            if (!token.at(0).isSpace())
                line = token;
        }
        // A token wider than the cell by itself: broken anywhere.
        while (widthOf(line) > room && line.size() > 1) {
            int fit = 1;
            while (fit < line.size() && widthOf(line.left(fit + 1)) <= room)
                ++fit;
            lines << line.left(fit);
            line = line.mid(fit);
        }
    }
    if (!line.trimmed().isEmpty() || lines.isEmpty())
        newLine();
    return lines;
}

double emOf(double points)
{
    return mm(points * 25.4 / 72);
}

// The lines a text takes in a column `width` wide at `points` (at most 24).
int linesOf(const QString &text, double width, double points)
{
    const double em = emOf(points);
    const double room = std::max(width - mm(1.6), em);
    return std::clamp(int(wrappedLines(text, room, em).size()), 1, 24);
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
            else if (width <= room && !text.contains(QLatin1Char('\n')))
                p.drawText(QPointF(cell.center().x() - width / 2, y + (height - rowHeight) / 2 + baseline), text);
            else
                p.drawText(cell.adjusted(mm(0.8), 0, -mm(0.8), 0), Qt::AlignCenter,
                           wrappedLines(text, std::max(room, emOf(points)), emOf(points)).join(QLatin1Char('\n')));
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
    // Rules on whole device units, as the glyphs (see PlainGlyphs).
    std::vector<double> x = columnEdges(body.left(), body.width(), widths);

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
    // Kept from page to page: the next page of the table has the same headings.
    thread_local std::optional<LaidOutTexts> kept;
    if (!kept || !kept->fits(plain, p.device()))
        kept.emplace(plain, p.device());
    LaidOutTexts &laid = *kept;
    const double baseline = (line + metrics.ascent() - metrics.descent()) / 2;
    const auto cellOf = [&](const Block &b) {
        return QRectF(QPointF(x[size_t(b.column - 1)], y[b.firstPlace]),
                      QPointF(x[size_t(b.lastColumn)], y[b.lastPlace + 1]));
    };
    // The rules in one go, then the texts. Every block's edges, joined
    // into the longest lines they make: a rectangle a cell would write
    // every inner rule twice, and the page's content is compressed.
    const size_t across = size_t(columns), down = rows.size();
    std::vector<char> level((down + 1) * across, 0), upright((across + 1) * down, 0);
    for (const Block &b : blocks) {
        for (int c = b.column - 1; c < b.lastColumn; ++c) {
            level[b.firstPlace * across + size_t(c)] = 1;
            level[(b.lastPlace + 1) * across + size_t(c)] = 1;
        }
        for (size_t r = b.firstPlace; r <= b.lastPlace; ++r) {
            upright[size_t(b.column - 1) * down + r] = 1;
            upright[size_t(b.lastColumn) * down + r] = 1;
        }
    }
    std::vector<QLineF> rules;
    for (size_t r = 0; r <= down; ++r)
        for (size_t c = 0; c < across; ++c)
            if (level[r * across + c]) {
                size_t end = c;
                while (end + 1 < across && level[r * across + end + 1])
                    ++end;
                rules.emplace_back(x[c], y[r], x[end + 1], y[r]);
                c = end;
            }
    for (size_t c = 0; c <= across; ++c)
        for (size_t r = 0; r < down; ++r)
            if (upright[c * down + r]) {
                size_t end = r;
                while (end + 1 < down && upright[c * down + end + 1])
                    ++end;
                rules.emplace_back(x[c], y[r], x[c], y[end + 1]);
                r = end;
            }
    p.drawLines(rules.data(), int(rules.size()));
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
            laid.draw(p, cell.adjusted(mm(0.6), 0, -mm(0.6), 0), t);
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

// The chart of one point's settlement: observed with its marks, the
// hyperbolic and Asaoka curves to the forecast stable date (or the last
// epoch without one), their s∞ dashed within the band of its 95 % interval;
// a forecast's note above the plot, clear of the curves.
void drawStabilityChart(QPainter &p, const QRectF &box, const PointStability &point, int step)
{
    const double tEnd = std::max({point.tLast, point.stableDay.value_or(0.0), 1.0});
    double sMin = 0, sMax = 0;
    for (const SeriesPoint &q : point.series) {
        sMin = std::min(sMin, q.s);
        sMax = std::max(sMax, q.s);
    }
    std::vector<std::pair<QColor, std::vector<QPointF>>> fits;
    struct Limit
    {
        QColor colour;
        double value, low, high;
    };
    std::vector<Limit> limits;
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
    for (const Limit &limit : limits)
        for (const double value : {limit.low, limit.high})
            if (std::isfinite(value) && std::abs(value) < 10 * std::max(1.0, std::abs(sMin) + std::abs(sMax))) {
                sMin = std::min(sMin, value);
                sMax = std::max(sMax, value);
            }
    if (sMax - sMin < 1)
        sMin = sMax - 1;
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
    for (const Limit &limit : limits) {
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


} // namespace

std::vector<TablePage> tablePages(const QString &title, const QStringList &intro, const QStringList &headings,
                                  const std::vector<QStringList> &rows, const std::vector<double> &weights,
                                  bool landscape, double points)
{
    // Rows per page from an A4 body (the page minus header, footer and margins).
    const double bodyHeight = landscape ? mm(210 - 2 * 12 - 20) : mm(297 - 2 * 12 - 20);
    // A line of the intro wraps: a long one takes two lines' room.
    double introHeight = title.isEmpty() ? 0 : mm(10);
    for (const QString &line : intro)
        introHeight += line.size() > 60 ? mm(11) : mm(6);
    // Rows of the heights drawTable gives them, as many as the page holds.
    const double bodyWidth = landscape ? mm(297 - 2 * 12) : mm(210 - 2 * 12);
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
    drawSheetRows(p, body, y, page.rows, page.text, page.merges, page.widths, 7.5);
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
    const QRectF inner = page.adjusted(mm(15), mm(12), -mm(12), -mm(12));
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
    return inner.adjusted(0, mm(10), 0, -mm(10));
}
