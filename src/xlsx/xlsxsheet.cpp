// A sheet of a workbook: its cells read from and written back to the
// sheet's XML, kept as the file had them where the program does not change
// them.
#include "xlsx/workbook.h"
#include "xlsx/xlsxsheetxml.h"
#include "xlsx/xlsxstyles.h"

#include "base/savefile.h"


#include <QDir>
#include <QFile>
#include <QBuffer>
#include <QFileInfo>
#include <QRegularExpression>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <pugixml.hpp>

#include <zlib.h>

#include <algorithm>
#include <functional>
#include <string_view>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

using namespace xlsxxml;

namespace {

// The largest sheet a spreadsheet program makes: rows 1 to 1,048,576,
// columns A to XFD.
constexpr int maxRows = 1048576;
constexpr int maxColumns = 16384;

void appendEscaped(std::string &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            if (static_cast<unsigned char>(c) < 32 && c != '\n' && c != '\t')
                break; // not allowed in XML 1.0
            out += c;
        }
    }
}

std::string escapeXml(const QString &text)
{
    std::string out;
    appendEscaped(out, text);
    return out;
}


std::string innerXml(const pugi::xml_node &node)
{
    std::ostringstream out;
    for (const pugi::xml_node &child : node.children())
        child.print(out, "", pugi::format_raw | pugi::format_no_empty_element_tags);
    return out.str();
}

std::string attributesExcept(const pugi::xml_node &node, std::initializer_list<const char *> skip)
{
    std::string out;
    for (const pugi::xml_attribute &a : node.attributes()) {
        if (std::any_of(skip.begin(), skip.end(),
                        [&](const char *s) { return std::strcmp(a.name(), s) == 0; }))
            continue;
        out += ' ';
        out += a.name();
        out += "=\"";
        out += escapeXml(QString::fromUtf8(a.value()));
        out += '"';
    }
    return out;
}

bool parseAddress(QStringView address, int *row, int *column)
{
    int c = 0, r = 0;
    qsizetype i = 0;
    for (; i < address.size(); ++i) {
        const char16_t u = address[i].unicode();
        if (u >= u'A' && u <= u'Z')
            c = c * 26 + (u - u'A' + 1);
        else if (u >= u'a' && u <= u'z')
            c = c * 26 + (u - u'a' + 1);
        else
            break;
        if (c > maxColumns)
            return false;
    }
    if (i == 0 || i == address.size())
        return false;
    for (; i < address.size(); ++i) {
        const char16_t u = address[i].unicode();
        if (u < u'0' || u > u'9')
            return false;
        r = r * 10 + (u - u'0');
        if (r > maxRows)
            return false;
    }
    *row = r;
    *column = c;
    return r > 0 && c > 0;
}


// Puts a placeholder for an element where the worksheet schema wants it:
// after the elements listed in `before` that follow `after`.
void placeholderAfter(pugi::xml_node root, const char *name, const char *existing,
                      const char *after, std::initializer_list<const char *> before)
{
    pugi::xml_node found = root.child(existing);
    if (found) {
        root.insert_child_before(name, found);
        root.remove_child(found);
        return;
    }
    pugi::xml_node node = root.child(after);
    pugi::xml_node next = node ? node.next_sibling() : pugi::xml_node();
    while (next && std::any_of(before.begin(), before.end(), [&](const char *n) {
               return std::strcmp(next.name(), n) == 0;
           }))
        next = next.next_sibling();
    if (next)
        root.insert_child_before(name, next);
    else
        root.append_child(name);
}

} // namespace

int xlsxxml::styleNumber(std::string_view attributes)
{
    const auto at = attributes.find(" s=\"");
    if (at == std::string_view::npos)
        return -1;
    int style = 0;
    std::from_chars(attributes.data() + at + 4, attributes.data() + attributes.size(), style);
    return style;
}

void xlsxxml::replacePlaceholder(std::string &xml, const std::string &placeholder, const std::string &with)
{
    const auto at = xml.find(placeholder);
    if (at != std::string::npos)
        xml.replace(at, placeholder.size(), with);
}


int columnNumber(const QString &letters)
{
    int number = 0;
    for (const QChar c : letters) {
        const char16_t u = c.toUpper().unicode();
        if (u < u'A' || u > u'Z')
            return 0;
        number = number * 26 + (u - u'A' + 1);
        if (number > maxColumns)
            return 0; // beyond XFD
    }
    return number;
}

QString columnLetters(int number)
{
    QString letters;
    while (number > 0) {
        const int digit = (number - 1) % 26;
        letters.prepend(QChar(char16_t(u'A' + digit)));
        number = (number - 1) / 26;
    }
    return letters;
}

Result<void> XlsxSheet::load(const QByteArray &xml)
{
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(xml.constData(), size_t(xml.size()));
    if (!parsed) {
        return fail(QStringLiteral("工作表无法读取：%1").arg(QString::fromUtf8(parsed.description())));
    }
    pugi::xml_node root = doc.child("worksheet");
    pugi::xml_node data = root.child("sheetData");
    if (!root || !data) {
        return fail(QStringLiteral("工作表无法读取：缺少 sheetData"));
    }
    int lastRowNumber = 0;
    for (const pugi::xml_node &rowNode : data.children("row")) {
        // A row without its number follows the one before.
        const long long r = rowNode.attribute("r") ? rowNode.attribute("r").as_llong()
                                                   : lastRowNumber + 1LL;
        if (r <= 0)
            continue;
        if (r > maxRows) {
            return fail(QStringLiteral("工作表无法读取：行号 %1 超出了工作表的范围（最多 %2 行）")
                         .arg(r)
                         .arg(maxRows));
        }
        lastRowNumber = int(r);
        Row &row = this->row(int(r));
        row.used = true;
        row.attributes = attributesExcept(rowNode, {"r", "spans"});
        int nextColumn = 1;
        for (const pugi::xml_node &cellNode : rowNode.children("c")) {
            int cellRow = int(r), column = nextColumn;
            if (cellNode.attribute("r")
                && !parseAddress(QString::fromUtf8(cellNode.attribute("r").value()), &cellRow,
                                 &column)) {
                return fail(QStringLiteral("工作表无法读取：单元格地址“%1”无效或超出了工作表的范围")
                             .arg(QString::fromUtf8(cellNode.attribute("r").value()).left(40)));
            }
            if (column > maxColumns) {
                return fail(QStringLiteral("工作表无法读取：一行的单元格超出了 XFD 列"));
            }
            nextColumn = column + 1;
            Cell c;
            c.column = column;
            c.attributes = keep(attributesExcept(cellNode, {"r"}));
            c.value = keep(innerXml(cellNode));
            row.cells.push_back(std::move(c));
        }
        std::sort(row.cells.begin(), row.cells.end(),
                  [](const Cell &a, const Cell &b) { return a.column < b.column; });
    }
    while (data.first_child())
        data.remove_child(data.first_child());

    for (const pugi::xml_node &merge : root.child("mergeCells").children("mergeCell")) {
        const QStringList corners =
            QString::fromUtf8(merge.attribute("ref").value()).split(QLatin1Char(':'));
        Range range{};
        if (corners.size() == 2 && parseAddress(corners[0], &range.firstRow, &range.firstColumn)
            && parseAddress(corners[1], &range.lastRow, &range.lastColumn))
            m_merges.push_back(range);
    }
    for (const pugi::xml_node &brk : root.child("rowBreaks").children("brk"))
        m_rowBreaks.insert(brk.attribute("id").as_int());
    root.remove_child("dimension");
    placeholderAfter(root, "sedimetraMerges", "mergeCells", "sheetData",
                     {"sheetCalcPr", "sheetProtection", "protectedRanges", "scenarios",
                      "autoFilter", "sortState", "dataConsolidate", "customSheetViews"});
    placeholderAfter(root, "sedimetraBreaks", "rowBreaks", "sedimetraMerges",
                     {"phoneticPr", "conditionalFormatting", "dataValidations", "hyperlinks",
                      "printOptions", "pageMargins", "pageSetup", "headerFooter"});
    std::ostringstream out;
    doc.save(out, "",
             pugi::format_raw | pugi::format_no_declaration | pugi::format_no_empty_element_tags);
    m_xml = out.str();
    return success();
}

XlsxSheet::Row &XlsxSheet::row(int number)
{
    if (size_t(number) >= m_rows.size())
        m_rows.resize(std::max(size_t(number) + 1, m_rows.size() * 2));
    auto &slot = m_rows[size_t(number)];
    if (!slot)
        slot = std::make_unique<Row>();
    return *slot;
}

const XlsxSheet::Row *XlsxSheet::findRow(int number) const
{
    return number >= 0 && size_t(number) < m_rows.size() ? m_rows[size_t(number)].get() : nullptr;
}

XlsxSheet::Cell &XlsxSheet::cell(const QString &address)
{
    int r = 0, column = 0;
    if (!parseAddress(address, &r, &column)) {
        static Cell nowhere;
        nowhere = Cell();
        return nowhere;
    }
    return cell(r, column);
}

XlsxSheet::Cell &XlsxSheet::cell(int r, int column)
{
    if (r < 1 || r > maxRows || column < 1 || column > maxColumns) {
        static Cell nowhere;
        nowhere = Cell();
        return nowhere;
    }
    Row &target = row(r);
    target.used = true;
    std::vector<Cell> &cells = target.cells;
    auto at = std::lower_bound(cells.begin(), cells.end(), column,
                               [](const Cell &c, int col) { return c.column < col; });
    if (at == cells.end() || at->column != column) {
        Cell fresh;
        fresh.column = column;
        at = cells.insert(at, std::move(fresh));
    }
    return *at;
}

XlsxSheet::Piece XlsxSheet::keep(std::string_view text)
{
    if (text.empty())
        return Piece{};
    if (m_texts.size() + text.size() > std::numeric_limits<std::uint32_t>::max())
        qFatal("a worksheet's texts exceed 4 GB");
    const Piece piece{std::uint32_t(m_texts.size()), std::uint32_t(text.size())};
    m_texts.append(text);
    return piece;
}

void XlsxSheet::setText(const QString &address, const QString &text)
{
    writeText(cell(address), text);
}

void XlsxSheet::setTextAt(int row, int column, const QString &text)
{
    writeText(cell(row, column), text);
}

void XlsxSheet::writeText(Cell &c, const QString &text)
{
    if (c.kind == Cell::Raw)
        c.style = styleNumber(view(c.attributes));
    c.kind = Cell::Inline;
    c.attributes = Piece{};
    std::string escaped;
    appendEscaped(escaped, text);
    c.value = keep(escaped);
}

void XlsxSheet::restyle(const QString &address, int (XlsxStyles::*change)(int))
{
    Cell &c = cell(address);
    if (!m_styles)
        return;
    if (c.kind == Cell::Raw) {
        // A cell as read keeps its value; its style goes in its attributes.
        std::string attributes(view(c.attributes));
        const int style = (m_styles->*change)(styleNumber(attributes));
        const auto at = attributes.find(" s=\"");
        if (at != std::string::npos)
            attributes.erase(at, attributes.find('"', at + 4) - at + 1);
        attributes += " s=\"" + std::to_string(style) + "\"";
        c.attributes = keep(attributes);
        return;
    }
    c.style = (m_styles->*change)(c.style);
}

void XlsxSheet::setWrapped(const QString &address)
{
    restyle(address, &XlsxStyles::wrapped);
}

void XlsxSheet::setBordered(const QString &address)
{
    restyle(address, &XlsxStyles::bordered);
}

void XlsxSheet::setRowHeight(int number, double points)
{
    Row &r = row(number);
    r.used = true;
    for (const char *name : {" ht=\"", " customHeight=\""}) {
        const auto at = r.attributes.find(name);
        if (at != std::string::npos)
            r.attributes.erase(at, r.attributes.find('"', at + std::strlen(name)) - at + 1);
    }
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, std::round(points * 4) / 4);
    r.attributes += " ht=\"" + std::string(text, end.ptr) + "\" customHeight=\"1\"";
}

void XlsxSheet::setNumber(const QString &address, double value)
{
    Cell &c = cell(address);
    if (c.kind == Cell::Raw)
        c.style = styleNumber(view(c.attributes));
    c.kind = Cell::Number;
    c.attributes = Piece{};
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    c.value = keep(std::string_view(text, size_t(result.ptr - text)));
}

void XlsxSheet::setShownNumber(const QString &address, const QString &shown,
                               const QString &format)
{
    writeShownNumber(cell(address), shown, format);
}

void XlsxSheet::setShownNumberAt(int row, int column, const QString &shown, const QString &format)
{
    writeShownNumber(cell(row, column), shown, format);
}

void XlsxSheet::writeShownNumber(Cell &c, const QString &shown, const QString &format)
{
    // The shown text is the number as stored, without a plus sign: a plain
    // decimal keeps every digit it shows, trailing zeros included.
    QStringView number = shown;
    if (number.startsWith(QLatin1Char('+')))
        number = number.mid(1);
    bool plain = !number.isEmpty();
    int points = 0, digits = 0;
    for (qsizetype i = 0; i < number.size() && plain; ++i) {
        const QChar c = number[i];
        if (c.isDigit() && c.unicode() < 128)
            ++digits;
        else if (c == QLatin1Char('.'))
            plain = ++points == 1;
        else
            plain = i == 0 && c == QLatin1Char('-');
    }
    if (!plain || digits == 0) {
        writeText(c, shown);
        return;
    }
    if (c.kind == Cell::Raw)
        c.style = styleNumber(view(c.attributes));
    c.kind = Cell::Number;
    c.attributes = Piece{};
    char ascii[64];
    const size_t length = std::min(size_t(number.size()), sizeof ascii);
    for (size_t i = 0; i < length; ++i)
        ascii[i] = char(number[qsizetype(i)].unicode());
    c.value = keep(std::string_view(ascii, length));
    if (m_styles)
        c.style = m_styles->withFormat(c.style, format);
}

void XlsxSheet::copyRows(int first, int last, int destination)
{
    const int shift = destination - first;
    for (int r = first; r <= last; ++r) {
        if (const Row *source = findRow(r))
            row(r + shift) = *source;
        else if (size_t(r + shift) < m_rows.size())
            m_rows[size_t(r + shift)].reset();
    }
    const int destinationLast = last + shift;
    // Merged cells of the block, moved; any that lay where the block lands go.
    // A block copied below every merge (a table growing page by page) keeps
    // them all and adds its own.
    std::vector<Range> copied;
    int lowest = 0;
    for (const Range &m : m_merges) {
        if (m.firstRow >= first && m.lastRow <= last)
            copied.push_back({m.firstRow + shift, m.firstColumn, m.lastRow + shift, m.lastColumn});
        lowest = std::max(lowest, m.lastRow);
    }
    if (lowest >= destination) {
        std::vector<Range> kept;
        for (const Range &m : m_merges)
            if (m.lastRow < destination || m.firstRow > destinationLast)
                kept.push_back(m);
        m_merges = std::move(kept);
    }
    m_merges.insert(m_merges.end(), copied.begin(), copied.end());
    std::vector<int> breaks;
    for (auto b = m_rowBreaks.lower_bound(first); b != m_rowBreaks.end() && *b <= last; ++b)
        breaks.push_back(*b + shift);
    m_rowBreaks.insert(breaks.begin(), breaks.end());
}

const XlsxSheet::Cell *XlsxSheet::findCell(int row, int column) const
{
    const Row *found = findRow(row);
    if (!found)
        return nullptr;
    for (const Cell &c : found->cells)
        if (c.column == column)
            return &c;
    return nullptr;
}

QString XlsxSheet::textOf(const Cell &c) const
{
    if (c.kind == Cell::Number)
        return QString::fromUtf8(view(c.value));
    pugi::xml_document doc;
    if (c.kind == Cell::Inline) {
        doc.load_string(("<t>" + std::string(view(c.value)) + "</t>").c_str());
        return QString::fromUtf8(doc.child("t").text().get());
    }
    doc.load_string(("<c>" + std::string(view(c.value)) + "</c>").c_str());
    const pugi::xml_node node = doc.child("c");
    if (view(c.attributes).find("t=\"s\"") != std::string_view::npos && m_sharedStrings) {
        const size_t index = size_t(node.child("v").text().as_int());
        return index < m_sharedStrings->size() ? (*m_sharedStrings)[index] : QString();
    }
    if (node.child("is"))
        return QString::fromUtf8(node.child("is").child("t").text().get());
    return QString::fromUtf8(node.child("v").text().get());
}

QString XlsxSheet::text(const QString &address) const
{
    int r = 0, column = 0;
    if (!parseAddress(address, &r, &column))
        return QString();
    const Cell *c = findCell(r, column);
    return c ? textOf(*c) : QString();
}
