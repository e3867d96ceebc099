// Reading a DXF drawing: the model-space entities and the text styles a
// block or frame drawing brings.
#include "cad/dxffile.h"


#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

namespace {


// The group code / value pairs of a DXF file.
class PairReader
{
public:
    explicit PairReader(std::string_view text)
        : m_rest(text)
    {}

    bool next(int &code, std::string_view &value)
    {
        std::string_view codeLine;
        if (!line(codeLine) || !line(value))
            return false;
        codeLine = trimmed(codeLine);
        const auto parsed = std::from_chars(codeLine.data(), codeLine.data() + codeLine.size(), code);
        return parsed.ec == std::errc() && parsed.ptr == codeLine.data() + codeLine.size();
    }

    static std::string_view trimmed(std::string_view s)
    {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
            s.remove_prefix(1);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
            s.remove_suffix(1);
        return s;
    }

private:
    bool line(std::string_view &out)
    {
        if (m_rest.empty())
            return false;
        const size_t end = m_rest.find('\n');
        out = m_rest.substr(0, end);
        m_rest.remove_prefix(end == std::string_view::npos ? m_rest.size() : end + 1);
        if (!out.empty() && out.back() == '\r')
            out.remove_suffix(1);
        return true;
    }

    std::string_view m_rest;
};

double number(std::string_view value)
{
    value = PairReader::trimmed(value);
    double d = 0;
    const auto parsed = std::from_chars(value.data(), value.data() + value.size(), d);
    return parsed.ec == std::errc() && std::isfinite(d) ? d : 0;
}

int integer(std::string_view value)
{
    value = PairReader::trimmed(value);
    long long n = 0;
    std::from_chars(value.data(), value.data() + value.size(), n);
    return int(std::clamp<long long>(n, std::numeric_limits<int>::min(),
                                     std::numeric_limits<int>::max()));
}

// The groups of one entity or table record.
struct Record
{
    std::string_view type;
    std::vector<std::pair<int, std::string_view>> groups;

    std::string_view value(int code) const
    {
        for (const auto &[c, v] : groups)
            if (c == code)
                return v;
        return {};
    }
    bool has(int code) const
    {
        return std::any_of(groups.begin(), groups.end(),
                           [code](const auto &g) { return g.first == code; });
    }
    double real(int code, double otherwise = 0) const
    {
        return has(code) ? number(value(code)) : otherwise;
    }
    int whole(int code, int otherwise = 0) const
    {
        return has(code) ? integer(value(code)) : otherwise;
    }
    CadPoint point(int code) const { return {real(code), real(code + 10)}; }
};

class ContentsBuilder
{
public:
    DxfContents contents;
    bool gbk = false;

    void entity(const Record &r)
    {
        using Entity = Drawing::Entity;
        if (r.whole(67) == 1) // paper space
            return;
        if (r.type == "VERTEX") {
            if (m_polyline && !contents.entities.empty())
                contents.entities.back().points.push_back(r.point(10));
            return;
        }
        if (r.type == "SEQEND") {
            m_polyline = false;
            return;
        }
        m_polyline = false;
        Entity e;
        const int colour = r.whole(62, 256);
        e.colour = colour >= 0 && colour <= 256 ? colour : 256;
        if (r.type == "LINE") {
            e.kind = Entity::Line;
            e.points = {r.point(10), r.point(11)};
        } else if (r.type == "LWPOLYLINE") {
            e.kind = Entity::Polyline;
            e.closed = r.whole(70) & 1;
            // Vertices: each 10 with the 20 after it.
            for (size_t i = 0; i < r.groups.size(); ++i)
                if (r.groups[i].first == 10) {
                    const double y = i + 1 < r.groups.size() && r.groups[i + 1].first == 20
                                         ? number(r.groups[i + 1].second)
                                         : 0;
                    e.points.push_back({number(r.groups[i].second), y});
                }
        } else if (r.type == "POLYLINE") {
            e.kind = Entity::Polyline;
            e.closed = r.whole(70) & 1;
            m_polyline = true;
        } else if (r.type == "CIRCLE" || r.type == "ARC") {
            e.kind = r.type == "ARC" ? Entity::Arc : Entity::Circle;
            e.points = {r.point(10)};
            e.radius = r.real(40);
            e.startAngle = r.real(50);
            e.endAngle = r.real(51);
        } else if (r.type == "SOLID") {
            e.kind = Entity::Solid;
            e.points = {r.point(10), r.point(11), r.point(12), r.point(13)};
        } else if (r.type == "TEXT" || r.type == "ATTDEF") {
            const bool definition = r.type == "ATTDEF";
            e.kind = definition ? Entity::Attdef : Entity::Text;
            e.points = {r.point(10)};
            e.height = r.real(40);
            e.scale = r.real(41, 1);
            e.text = dxfDecoded(r.value(1), gbk);
            e.style = r.has(7) ? dxfDecoded(r.value(7), gbk) : QStringLiteral("Standard");
            e.horizontal = r.whole(72);
            e.vertical = r.whole(definition ? 74 : 73);
            e.alignment = e.horizontal || e.vertical ? r.point(11) : e.points.front();
            if (definition)
                e.tag = dxfDecoded(r.value(2), gbk);
        } else {
            return;
        }
        contents.entities.push_back(std::move(e));
    }

    void style(const Record &r)
    {
        const QString name = dxfDecoded(r.value(2), gbk);
        if (name.isEmpty())
            return;
        Drawing::Style style;
        style.fontFile = dxfDecoded(r.value(3), gbk);
        style.bigFontFile = dxfDecoded(r.value(4), gbk);
        style.width = r.real(41, 1);
        // A TrueType face: its file named in group 3, its face in the ACAD data.
        if (style.fontFile.endsWith(QLatin1String(".ttf"), Qt::CaseInsensitive)) {
            style.trueType = true;
            style.bigFontFile.clear();
            const QString face = dxfDecoded(r.value(1000), gbk);
            style.fontFile = face.isEmpty() ? style.fontFile.chopped(4) : face;
        }
        contents.styles[name] = style;
    }

private:
    bool m_polyline = false;
};

} // namespace

Result<DxfContents> readDxfFile(const QString &file)
{
    const auto unreadable = [&] {
        return fail(QStringLiteral("无法读取图形文件 %1").arg(QDir::toNativeSeparators(file)));
    };
    if (!QFileInfo(file).isFile())
        return fail(QStringLiteral("找不到图形文件 %1").arg(QDir::toNativeSeparators(file)));
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return unreadable();
    const QByteArray bytes = in.readAll();
    PairReader reader(std::string_view(bytes.constData(), size_t(bytes.size())));

    ContentsBuilder builder;
    std::string_view section;
    std::string_view headerVariable;
    Record record;
    bool sawEof = false;
    bool utf8Version = false;
    // Hands the record collected so far to the builder.
    auto finish = [&] {
        if (record.type.empty())
            return;
        if (section == "ENTITIES")
            builder.entity(record);
        else if (section == "TABLES" && record.type == "STYLE")
            builder.style(record);
        record = Record();
    };
    int code = 0;
    std::string_view value;
    while (reader.next(code, value)) {
        if (code == 0) {
            finish();
            const std::string_view type = PairReader::trimmed(value);
            if (type == "EOF") {
                sawEof = true;
                break;
            }
            if (type == "ENDSEC") {
                section = {};
            } else if (type == "TABLE" || type == "ENDTAB") {
            } else if (type != "SECTION" && !section.empty()) {
                record.type = type;
            }
            continue;
        }
        if (code == 2 && section.empty() && record.type.empty()) {
            section = PairReader::trimmed(value);
            continue;
        }
        if (section == "HEADER") {
            if (code == 9) {
                headerVariable = PairReader::trimmed(value);
            } else if (headerVariable == "$DWGCODEPAGE") {
                const auto page = PairReader::trimmed(value);
                builder.gbk = page == "ANSI_936" || page == "ansi_936";
            } else if (headerVariable == "$ACADVER") {
                // From R2007 on, DXF text is UTF-8 whatever the code page.
                utf8Version = PairReader::trimmed(value) >= std::string_view("AC1021");
            }
            continue;
        }
        if (!record.type.empty())
            record.groups.emplace_back(code, value);
    }
    finish();
    if (!sawEof && builder.contents.entities.empty())
        return unreadable();
    if (utf8Version)
        builder.gbk = false;
    return std::move(builder.contents);
}
