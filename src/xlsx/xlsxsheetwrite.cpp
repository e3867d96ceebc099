// A sheet of a workbook written out: its column widths and page setup, and
// its XML made as it is written, a block at a time.
#include "xlsx/workbook.h"
#include "xlsx/xlsxsheetxml.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>
#include <string_view>

using namespace xlsxxml;

namespace {

// Column letters of columns 1 to 702 (A to ZZ), worked out once.
const std::string &lettersOf(int column)
{
    static const std::vector<std::string> letters = [] {
        std::vector<std::string> all(703);
        for (int c = 1; c <= 702; ++c)
            all[size_t(c)] = columnLetters(c).toStdString();
        return all;
    }();
    static std::string other;
    if (column >= 1 && column <= 702)
        return letters[size_t(column)];
    other = columnLetters(column).toStdString();
    return other;
}

} // namespace

std::vector<double> XlsxSheet::columnWidths(int count) const
{
    pugi::xml_document doc;
    double standard = 8.43;
    std::vector<double> widths(size_t(std::max(count, 0)), standard);
    if (!doc.load_buffer(m_xml.data(), m_xml.size()))
        return widths;
    const pugi::xml_node root = doc.child("worksheet");
    if (const pugi::xml_attribute given = root.child("sheetFormatPr").attribute("defaultColWidth"))
        standard = given.as_double(standard);
    std::fill(widths.begin(), widths.end(), standard);
    for (const pugi::xml_node col : root.child("cols").children("col")) {
        const int first = col.attribute("min").as_int(0), last = col.attribute("max").as_int(0);
        const double width = col.attribute("width").as_double(standard);
        for (int c = std::max(first, 1); c <= std::min(last, count); ++c)
            widths[size_t(c - 1)] = width > 0 ? width : standard;
    }
    return widths;
}

int XlsxSheet::lastRow() const
{
    for (size_t r = m_rows.size(); r-- > 1;)
        if (m_rows[r] && m_rows[r]->used && !m_rows[r]->cells.empty())
            return int(r);
    return 0;
}

XlsxSheet::Value XlsxSheet::value(int row, int column) const
{
    const Cell *c = findCell(row, column);
    if (!c)
        return {};
    if (c->kind == Cell::Number)
        return {Value::Number, QString::fromUtf8(view(c->value))};
    if (c->kind == Cell::Inline)
        return {Value::Text, textOf(*c)};
    const std::string attributes(view(c->attributes));
    const auto typeAt = attributes.find(" t=\"");
    const std::string type =
        typeAt == std::string::npos
            ? std::string("n")
            : attributes.substr(typeAt + 4, attributes.find('"', typeAt + 4) - typeAt - 4);
    const QString text = textOf(*c);
    if (type == "s" || type == "inlineStr" || type == "str")
        return {text.isEmpty() ? Value::Empty : Value::Text, text};
    if (text.isEmpty())
        return {};
    if (type == "b" || type == "e")
        return {Value::Text, text};
    const int style = styleNumber(attributes);
    const bool date = m_dateStyles && style >= 0 && size_t(style) < m_dateStyles->size()
                      && (*m_dateStyles)[size_t(style)];
    return {date ? Value::Date : Value::Number, text};
}

void XlsxSheet::setPrintSetup(bool landscape, const QString &header)
{
    pugi::xml_document doc;
    if (!doc.load_buffer(m_xml.data(), m_xml.size()))
        return;
    pugi::xml_node root = doc.child("worksheet");
    if (!root)
        return;
    // Fitted to the page: sheetPr is the worksheet's first element.
    pugi::xml_node properties = root.child("sheetPr");
    if (!properties)
        properties = root.prepend_child("sheetPr");
    pugi::xml_node fit = properties.child("pageSetUpPr");
    if (!fit)
        fit = properties.append_child("pageSetUpPr");
    (fit.attribute("fitToPage") ? fit.attribute("fitToPage") : fit.append_attribute("fitToPage")) = "1";
    // pageSetup and headerFooter follow pageMargins, as the schema orders.
    root.remove_child("pageSetup");
    root.remove_child("headerFooter");
    pugi::xml_node margins = root.child("pageMargins");
    if (!margins) {
        margins = root.insert_child_after("pageMargins", root.child("sheetData"));
        for (const auto &[name, value] :
             {std::pair{"left", "0.7"}, {"right", "0.7"}, {"top", "0.75"}, {"bottom", "0.75"}, {"header", "0.3"},
              {"footer", "0.3"}})
            margins.append_attribute(name) = value;
    }
    pugi::xml_node page = root.insert_child_after("pageSetup", margins);
    page.append_attribute("paperSize") = "9";
    page.append_attribute("orientation") = landscape ? "landscape" : "portrait";
    page.append_attribute("fitToWidth") = "1";
    page.append_attribute("fitToHeight") = "0";
    if (!header.isEmpty()) {
        QString escaped = header;
        escaped.replace(QLatin1Char('&'), QStringLiteral("&&")); // "&" starts a header code
        root.insert_child_after("headerFooter", page)
            .append_child("oddHeader")
            .text()
            .set((QStringLiteral("&C") + escaped).toUtf8().constData());
    }
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration | pugi::format_no_empty_element_tags);
    m_xml = out.str();
}

// The sheet's XML after its rows (from `from`), with its merged cells and
// page breaks in their places.
std::string XlsxSheet::closingXml(size_t from) const
{
    std::string merges;
    if (!m_merges.empty()) {
        merges = "<mergeCells count=\"" + std::to_string(m_merges.size()) + "\">";
        for (const Range &m : m_merges)
            merges += "<mergeCell ref=\"" + columnLetters(m.firstColumn).toStdString()
                      + std::to_string(m.firstRow) + ':' + columnLetters(m.lastColumn).toStdString()
                      + std::to_string(m.lastRow) + "\"/>";
        merges += "</mergeCells>";
    }
    std::string breaks;
    if (!m_rowBreaks.empty()) {
        const std::string count = std::to_string(m_rowBreaks.size());
        breaks = "<rowBreaks count=\"" + count + "\" manualBreakCount=\"" + count + "\">";
        for (const int b : m_rowBreaks)
            breaks += "<brk id=\"" + std::to_string(b) + "\" max=\"16383\" man=\"1\"/>";
        breaks += "</rowBreaks>";
    }
    std::string tail = m_xml.substr(from);
    replacePlaceholder(tail, mergesPlaceholder, merges);
    replacePlaceholder(tail, breaksPlaceholder, breaks);
    return tail;
}

bool XlsxSheet::writeTo(const std::function<bool(std::string_view)> &sink) const
{
    // Written out as it is made, a block at a time: the sheet's XML is never
    // held whole.
    constexpr size_t block = 256 * 1024;
    std::string data;
    data.reserve(block + 64 * 1024);
    const auto flush = [&](bool always) {
        if (!always && data.size() < block)
            return true;
        const bool written = sink(data);
        data.clear();
        return written;
    };
    const std::string sheetData = "<sheetData></sheetData>";
    const size_t split = m_xml.find(sheetData);
    data += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    if (split == std::string::npos) {
        data += m_xml;
        return flush(true);
    }
    data.append(m_xml, 0, split);
    data += "<sheetData>";
    char number[16];
    char style[16];
    for (size_t r = 0; r < m_rows.size(); ++r) {
        if (!m_rows[r] || !m_rows[r]->used)
            continue;
        const Row &row = *m_rows[r];
        const std::string_view rowNumber(number, size_t(std::to_chars(number, number + sizeof number, r).ptr - number));
        data += "<row r=\"";
        data += rowNumber;
        data += '"';
        data += row.attributes;
        if (row.cells.empty()) {
            data += "/>";
        } else {
            data += '>';
            for (const Cell &c : row.cells) {
                data += "<c r=\"";
                data += lettersOf(c.column);
                data += rowNumber;
                data += '"';
                if (c.kind != Cell::Raw && c.style >= 0) {
                    data += " s=\"";
                    data.append(style, size_t(std::to_chars(style, style + sizeof style, c.style).ptr - style));
                    data += '"';
                }
                switch (c.kind) {
                case Cell::Raw:
                    data += view(c.attributes);
                    if (c.value.size == 0) {
                        data += "/>";
                    } else {
                        data += '>';
                        data += view(c.value);
                        data += "</c>";
                    }
                    break;
                case Cell::Inline: {
                    const std::string_view value = view(c.value);
                    const bool blanks = !value.empty()
                                        && (value.front() == ' ' || value.back() == ' '
                                            || value.find('\n') != std::string_view::npos);
                    data += blanks ? " t=\"inlineStr\"><is><t xml:space=\"preserve\">"
                                   : " t=\"inlineStr\"><is><t>";
                    data += value;
                    data += "</t></is></c>";
                    break;
                }
                case Cell::Number:
                    data += "><v>";
                    data += view(c.value);
                    data += "</v></c>";
                    break;
                }
            }
            data += "</row>";
        }
        if (!flush(false))
            return false;
    }
    data += "</sheetData>";
    data += closingXml(split + sheetData.size());
    return flush(true);
}

QByteArray XlsxSheet::save() const
{
    QByteArray xml;
    writeTo([&](std::string_view part) {
        xml.append(part.data(), qsizetype(part.size()));
        return true;
    });
    return xml;
}
