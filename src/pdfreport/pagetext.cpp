#include "pdfreport/pagetext.h"

#include "pdfreport/reportpages.h"

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

} // namespace

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

namespace {

// The block each drawn cell belongs to: its first cell and its extent in
// drawn rows and columns.
struct SheetBlock
{
    int row, column; // the sheet's
    size_t firstPlace, lastPlace;
    int lastColumn;
};

// Every drawn cell's block: the merged ranges whose first row is drawn, and
// each other cell a block of its own.
std::vector<SheetBlock> sheetBlocks(const std::vector<int> &rows, const std::vector<XlsxSheet::Range> &merges,
                                    int columns)
{
    std::map<int, size_t> place; // sheet row → place in `rows`
    for (size_t i = 0; i < rows.size(); ++i)
        place.emplace(rows[i], i);
    std::vector<SheetBlock> blocks;
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
    return blocks;
}

// Every block's edges, joined into the longest lines they make: a rectangle
// a cell would write every inner rule twice, and the page's content is
// compressed.
std::vector<QLineF> joinedRules(const std::vector<SheetBlock> &blocks, const std::vector<double> &x,
                                const std::vector<double> &y, size_t across, size_t down)
{
    std::vector<char> level((down + 1) * across, 0), upright((across + 1) * down, 0);
    for (const SheetBlock &b : blocks) {
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
    return rules;
}

} // namespace

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

    const std::vector<SheetBlock> blocks = sheetBlocks(rows, merges, columns);
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
    for (const SheetBlock &b : blocks) {
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
    const auto cellOf = [&](const SheetBlock &b) {
        return QRectF(QPointF(x[size_t(b.column - 1)], y[b.firstPlace]),
                      QPointF(x[size_t(b.lastColumn)], y[b.lastPlace + 1]));
    };
    // The rules in one go, then the texts.
    const std::vector<QLineF> rules = joinedRules(blocks, x, y, size_t(columns), rows.size());
    p.drawLines(rules.data(), int(rules.size()));
    for (const SheetBlock &b : blocks) {
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
