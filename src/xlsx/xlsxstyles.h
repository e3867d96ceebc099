#pragma once

// The workbook's cell styles (xl/styles.xml), shared by the workbook, which
// reads and writes them, and its sheets, which give cells styles derived
// from their own. Inside xlsx/ only.

#include <QByteArray>

#include <pugixml.hpp>

#include <map>
#include <string>

// The workbook's cell styles (xl/styles.xml), to which styles are added that
// are a cell's style with a number format of its own.
class XlsxStyles
{
public:
    bool load(const QByteArray &xml)
    {
        return m_doc.load_buffer(xml.constData(), size_t(xml.size()))
               && m_doc.child("styleSheet");
    }
    bool changed() const { return m_changed; }
    QByteArray save() const
    {
        std::ostringstream out;
        m_doc.save(out, "", pugi::format_raw);
        return QByteArray::fromStdString(out.str());
    }

    // The style that is `style` (-1: the default) with the format `code`.
    int withFormat(int style, const QString &code)
    {
        const auto key = std::make_pair(style, code);
        if (const auto made = m_made.find(key); made != m_made.end())
            return made->second;
        pugi::xml_node sheet = m_doc.child("styleSheet");
        pugi::xml_node xfs = sheet.child("cellXfs");
        if (!xfs)
            return style;
        const int id = formatId(sheet, code);
        std::vector<pugi::xml_node> all;
        for (pugi::xml_node xf : xfs.children("xf"))
            all.push_back(xf);
        const size_t base = style >= 0 && size_t(style) < all.size() ? size_t(style) : 0;
        pugi::xml_node xf = all.empty() ? xfs.append_child("xf") : xfs.append_copy(all[base]);
        setAttribute(xf, "numFmtId", std::to_string(id));
        setAttribute(xf, "applyNumberFormat", "1");
        const int index = int(all.size());
        setAttribute(xfs, "count", std::to_string(index + 1));
        m_changed = true;
        return m_made[key] = index;
    }

    // The style that is `style` (-1: the default) with its text wrapped in
    // the cell and centred.
    int wrapped(int style)
    {
        if (const auto made = m_wrapped.find(style); made != m_wrapped.end())
            return made->second;
        return m_wrapped[style] = derived(style, [](pugi::xml_node xf) {
                   setAttribute(xf, "applyAlignment", "1");
                   pugi::xml_node alignment = xf.child("alignment");
                   if (!alignment)
                       alignment = xf.prepend_child("alignment"); // before protection, as the schema orders
                   setAttribute(alignment, "wrapText", "1");
                   setAttribute(alignment, "horizontal", "center");
                   setAttribute(alignment, "vertical", "center");
               });
    }

    // The style that is `style` (-1: the default) with a thin border all
    // round, as a printed table's cells have.
    int bordered(int style)
    {
        if (const auto made = m_bordered.find(style); made != m_bordered.end())
            return made->second;
        pugi::xml_node sheet = m_doc.child("styleSheet");
        pugi::xml_node xfs = sheet.child("cellXfs");
        pugi::xml_node borders = sheet.child("borders");
        if (!xfs || !borders)
            return style;
        if (m_thinBorder < 0) {
            pugi::xml_node border = borders.append_child("border");
            for (const char *side : {"left", "right", "top", "bottom"}) {
                pugi::xml_node edge = border.append_child(side);
                edge.append_attribute("style").set_value("thin");
                edge.append_child("color").append_attribute("auto").set_value("1");
            }
            border.append_child("diagonal");
            int count = 0;
            for (pugi::xml_node b : borders.children("border"))
                (void)b, ++count;
            m_thinBorder = count - 1;
            setAttribute(borders, "count", std::to_string(count));
        }
        const int border = m_thinBorder;
        return m_bordered[style] = derived(style, [border](pugi::xml_node xf) {
                   setAttribute(xf, "borderId", std::to_string(border));
                   setAttribute(xf, "applyBorder", "1");
               });
    }

    // A new style, a copy of `style` (-1: the default) changed by `edit`;
    // `style` itself where the workbook has no cell styles.
    template <typename Edit> int derived(int style, Edit edit)
    {
        pugi::xml_node xfs = m_doc.child("styleSheet").child("cellXfs");
        if (!xfs)
            return style;
        std::vector<pugi::xml_node> all;
        for (pugi::xml_node xf : xfs.children("xf"))
            all.push_back(xf);
        const size_t base = style >= 0 && size_t(style) < all.size() ? size_t(style) : 0;
        pugi::xml_node xf = all.empty() ? xfs.append_child("xf") : xfs.append_copy(all[base]);
        edit(xf);
        const int index = int(all.size());
        setAttribute(xfs, "count", std::to_string(index + 1));
        m_changed = true;
        return index;
    }

private:
    static void setAttribute(pugi::xml_node node, const char *name, const std::string &value)
    {
        pugi::xml_attribute a = node.attribute(name);
        if (!a)
            a = node.append_attribute(name);
        a.set_value(value.c_str());
    }

    // The id of a format code: one the workbook has, or a new one.
    static int formatId(pugi::xml_node sheet, const QString &code)
    {
        const std::string utf8 = code.toStdString();
        pugi::xml_node formats = sheet.child("numFmts");
        if (!formats)
            formats = sheet.prepend_child("numFmts"); // the first child, as the schema orders
        int highest = 163; // ids below 164 are the built-in formats
        int count = 0;
        for (pugi::xml_node format : formats.children("numFmt")) {
            ++count;
            if (utf8 == format.attribute("formatCode").value())
                return format.attribute("numFmtId").as_int();
            highest = std::max(highest, format.attribute("numFmtId").as_int());
        }
        pugi::xml_node format = formats.append_child("numFmt");
        format.append_attribute("numFmtId").set_value(highest + 1);
        format.append_attribute("formatCode").set_value(utf8.c_str());
        setAttribute(formats, "count", std::to_string(count + 1));
        return highest + 1;
    }

    pugi::xml_document m_doc;
    std::map<std::pair<int, QString>, int> m_made;
    std::map<int, int> m_wrapped;
    std::map<int, int> m_bordered;
    int m_thinBorder = -1;
    bool m_changed = false;
};
