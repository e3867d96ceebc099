#include "cad/dxffile.h"

#include "base/savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <limits>
#include <unordered_map>

namespace {

// One iconv conversion, opened once per thread.
class Converter
{
public:
    Converter(const char *to, const char *from)
        : m_cd(iconv_open(to, from))
    {}
    ~Converter()
    {
        if (m_cd != iconv_t(-1))
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    // Converts as much of `in` as converts; returns false at the first byte
    // sequence that does not, with `in` left at it.
    bool convert(std::string_view &in, std::string &out)
    {
        if (m_cd == iconv_t(-1))
            return false;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char buffer[256];
        while (!in.empty()) {
            char *source = const_cast<char *>(in.data());
            size_t sourceLeft = in.size();
            char *target = buffer;
            size_t targetLeft = sizeof buffer;
            const size_t result = iconv(m_cd, &source, &sourceLeft, &target, &targetLeft);
            out.append(buffer, size_t(target - buffer));
            in.remove_prefix(in.size() - sourceLeft);
            if (result == size_t(-1) && errno != E2BIG)
                return false;
        }
        return true;
    }

private:
    iconv_t m_cd;
};

// The GBK bytes of one character, or nothing when GBK lacks it.
const std::string &gbkBytes(char32_t c)
{
    thread_local std::unordered_map<char32_t, std::string> known;
    thread_local Converter toGbk("GBK", "UTF-32LE");
    const auto found = known.find(c);
    if (found != known.end())
        return found->second;
    const char32_t source[1] = {c};
    std::string_view in(reinterpret_cast<const char *>(source), sizeof source);
    std::string out;
    if (!toGbk.convert(in, out))
        out.clear();
    return known.emplace(c, std::move(out)).first->second;
}

void appendEscape(std::string &out, unsigned code)
{
    char escape[12];
    std::snprintf(escape, sizeof escape, "\\U+%04X", code & 0xFFFFu);
    out += escape;
}

} // namespace

std::string dxfEncoded(const QString &text)
{
    std::string out;
    out.reserve(size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == '^') {
            out += "^ ";
        } else if (u >= 32 && u < 127) {
            out.push_back(char(u));
        } else if (u < 32 || u == 127) {
            out.push_back(' '); // a control character would break the file's lines
        } else if (QChar::isHighSurrogate(u) && i + 1 < text.size()
                   && text[i + 1].isLowSurrogate()) {
            // Beyond the escapes' four digits: both halves escaped.
            appendEscape(out, u);
            appendEscape(out, text[++i].unicode());
        } else if (const std::string &gbk = gbkBytes(u); !gbk.empty()) {
            out += gbk;
        } else {
            appendEscape(out, u);
        }
    }
    return out;
}

QString dxfDecoded(std::string_view bytes, bool gbk)
{
    QString raw;
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 128; })) {
        raw = QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    } else if (gbk) {
        thread_local Converter fromGbk("UTF-8", "GBK");
        std::string utf8;
        std::string_view in = bytes;
        while (!fromGbk.convert(in, utf8)) {
            utf8 += "\xEF\xBF\xBD"; // a byte GBK does not know
            in.remove_prefix(1);
        }
        raw = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    } else {
        raw = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    }
    if (!raw.contains(QLatin1Char('\\')) && !raw.contains(QLatin1Char('^')))
        return raw;
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == QLatin1Char('^') && i + 1 < raw.size() && raw[i + 1] == QLatin1Char(' ')) {
            out += QLatin1Char('^');
            ++i;
            continue;
        }
        if (raw[i] == QLatin1Char('\\') && i + 6 < raw.size()
            && raw.mid(i + 1, 2).compare(QLatin1String("U+"), Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const ushort code = raw.mid(i + 3, 4).toUShort(&ok, 16);
            if (ok) {
                out += QChar(code);
                i += 6;
                continue;
            }
        }
        out += raw[i];
    }
    return out;
}

namespace {

// ---------------------------------------------------------------- reading

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

namespace {

// ---------------------------------------------------------------- writing

// Group code / value pairs with the handles of a DXF R2000 file.
class DxfOut
{
public:
    explicit DxfOut(size_t expected = 1 << 16) { m_text.reserve(expected); }

    std::string take() { return std::move(m_text); }
    unsigned nextHandle() const { return m_nextHandle; }

    std::string handle()
    {
        char text[16];
        const auto result = std::to_chars(text, text + sizeof text, m_nextHandle++, 16);
        std::string h(text, result.ptr);
        std::transform(h.begin(), h.end(), h.begin(), [](char c) { return char(std::toupper(c)); });
        return h;
    }

    void text(int code, std::string_view value)
    {
        this->code(code);
        m_text += value;
        m_text += "\r\n";
    }
    void text(int code, const char *value) { text(code, std::string_view(value)); }
    void text(int code, const std::string &value) { text(code, std::string_view(value)); }
    void text(int code, const QString &value) { text(code, dxfEncoded(value)); }
    void whole(int code, long long value)
    {
        this->code(code);
        m_text += std::to_string(value);
        m_text += "\r\n";
    }
    void real(int code, double value)
    {
        this->code(code);
        // Eight decimals: a hundred-thousandth of a micrometre on the sheet,
        // and a file a third the size of one with every digit of the double.
        char buffer[64];
        const double v = std::isfinite(value) && std::fabs(value) < 1e15 ? value : 0.0;
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, 8);
        char *end = result.ptr;
        while (end[-1] == '0')
            --end;
        if (end[-1] == '.')
            *end++ = '0';
        if (end - buffer == 4 && std::string_view(buffer, 4) == "-0.0")
            m_text += "0.0";
        else
            m_text.append(buffer, end);
        m_text += "\r\n";
    }
    void point(int code, CadPoint p)
    {
        real(code, p.x);
        real(code + 10, p.y);
        real(code + 20, 0.0);
    }

    // The start of a table record or object: type, handle, owner.
    std::string start(std::string_view type, const std::string &owner, int handleCode = 5)
    {
        text(0, type);
        std::string h = handle();
        text(handleCode, h);
        text(330, owner);
        return h;
    }

private:
    void code(int gc)
    {
        // Group codes right-aligned in three columns, as CAD programs write them.
        char text[16];
        char *end = std::to_chars(text, text + sizeof text, gc).ptr;
        const auto length = end - text;
        if (length < 3)
            m_text.append(size_t(3 - length), ' ');
        m_text.append(text, end);
        m_text += "\r\n";
    }

    std::string m_text;
    unsigned m_nextHandle = 0x20; // below: kept free, as CAD programs do
};

// A text's literal percent signs, where a pair of them would start one of
// CAD's special codes (%%d, %%c ...), each written %%%.
QString textValue(const QString &text)
{
    if (!text.contains(QLatin1String("%%")))
        return text;
    QString out = text;
    out.replace(QLatin1Char('%'), QLatin1String("%%%"));
    return out;
}

// Names as written: made valid and encoded once each.
class NameCache
{
public:
    const std::string &operator()(const QString &name)
    {
        auto found = m_names.find(name);
        if (found == m_names.end())
            found = m_names.insert(name, dxfEncoded(validSymbolName(name)));
        return *found;
    }

private:
    QHash<QString, std::string> m_names;
};

void writeEntity(DxfOut &out, const Drawing::Entity &e, const std::string &owner,
                 const std::string &layer, NameCache &names)
{
    using Entity = Drawing::Entity;
    const char *type = "LINE";
    switch (e.kind) {
    case Entity::Line: type = "LINE"; break;
    case Entity::Polyline: type = "LWPOLYLINE"; break;
    case Entity::Circle: type = "CIRCLE"; break;
    case Entity::Arc: type = "ARC"; break;
    case Entity::Text: type = "TEXT"; break;
    case Entity::Attdef: type = "ATTDEF"; break;
    case Entity::Solid: type = "SOLID"; break;
    case Entity::Insert: type = "INSERT"; break;
    }
    out.start(type, owner);
    out.text(100, "AcDbEntity");
    out.text(8, layer);
    if (e.colour != 256)
        out.whole(62, e.colour);
    switch (e.kind) {
    case Entity::Line:
        out.text(100, "AcDbLine");
        out.point(10, e.points[0]);
        out.point(11, e.points[1]);
        break;
    case Entity::Polyline:
        out.text(100, "AcDbPolyline");
        out.whole(90, qsizetype(e.points.size()));
        out.whole(70, e.closed ? 1 : 0);
        for (const CadPoint &p : e.points) {
            out.real(10, p.x);
            out.real(20, p.y);
        }
        break;
    case Entity::Circle:
    case Entity::Arc:
        out.text(100, "AcDbCircle");
        out.point(10, e.points[0]);
        out.real(40, e.radius);
        if (e.kind == Entity::Arc) {
            out.text(100, "AcDbArc");
            out.real(50, e.startAngle);
            out.real(51, e.endAngle);
        }
        break;
    case Entity::Solid:
        out.text(100, "AcDbTrace");
        for (int i = 0; i < 4; ++i)
            out.point(10 + i, e.points[size_t(i)]);
        break;
    case Entity::Text:
    case Entity::Attdef: {
        out.text(100, "AcDbText");
        out.point(10, e.points[0]);
        out.real(40, e.height);
        out.text(1, textValue(e.text));
        if (e.scale != 1)
            out.real(41, e.scale);
        out.text(7, names(e.style));
        if (e.horizontal != 0)
            out.whole(72, e.horizontal);
        const bool aligned = e.horizontal != 0 || e.vertical != 0;
        if (aligned)
            out.point(11, e.alignment);
        if (e.kind == Entity::Text) {
            out.text(100, "AcDbText");
            if (e.vertical != 0)
                out.whole(73, e.vertical);
        } else {
            out.text(100, "AcDbAttributeDefinition");
            out.text(3, e.tag);
            out.text(2, validSymbolName(e.tag).replace(QLatin1Char(' '), QLatin1Char('_')));
            out.whole(70, 0);
            if (e.vertical != 0)
                out.whole(74, e.vertical);
        }
        break;
    }
    case Entity::Insert:
        out.text(100, "AcDbBlockReference");
        out.text(2, names(e.block));
        out.point(10, e.points[0]);
        break;
    }
}

// A symbol table: its head, then each record from `records`.
template <typename Records>
void table(DxfOut &out, std::string_view name, int count, Records records,
           const char *subclass = nullptr)
{
    out.text(0, "TABLE");
    out.text(2, name);
    const std::string handle = out.handle();
    out.text(5, handle);
    out.text(330, "0");
    out.text(100, "AcDbSymbolTable");
    out.whole(70, count);
    if (subclass)
        out.text(100, subclass);
    records(handle);
    out.text(0, "ENDTAB");
}

std::string recordHead(DxfOut &out, std::string_view type, const std::string &owner,
                       const char *subclass, int handleCode = 5)
{
    std::string handle = out.start(type, owner, handleCode);
    out.text(100, "AcDbSymbolTableRecord");
    out.text(100, subclass);
    return handle;
}

void writeTextStyle(DxfOut &out, const std::string &owner, const QString &name,
                    const Drawing::Style &style)
{
    recordHead(out, "STYLE", owner, "AcDbTextStyleTableRecord");
    out.text(2, name);
    out.whole(70, 0);
    out.real(40, 0.0);
    out.real(41, style.width);
    out.real(50, 0.0);
    out.whole(71, 0);
    out.real(42, 2.5);
    out.text(3, style.trueType ? style.fontFile + QStringLiteral(".ttf") : style.fontFile);
    out.text(4, style.trueType ? QString() : style.bigFontFile);
    if (style.trueType) {
        // CAD programs look for the face name in the ACAD data.
        out.text(1001, "ACAD");
        out.text(1000, style.fontFile);
        out.whole(1071, 0);
    }
}

struct Extents
{
    double minX = std::numeric_limits<double>::infinity(), minY = minX;
    double maxX = -minX, maxY = -minX;
    void add(CadPoint p)
    {
        minX = std::min(minX, p.x);
        minY = std::min(minY, p.y);
        maxX = std::max(maxX, p.x);
        maxY = std::max(maxY, p.y);
    }
    bool empty() const { return !(minX <= maxX); }
};

} // namespace

QByteArray dxfText(const Drawing &drawing)
{
    using Entity = Drawing::Entity;
    // What the entities use: layers (beside those made), blocks, styles.
    std::map<QString, int, Drawing::NameLess> layers;
    for (const auto &[name, colour] : drawing.layers())
        layers.try_emplace(validSymbolName(name), colour);
    std::map<QString, Drawing::Style, Drawing::NameLess> styles;
    for (const auto &[name, style] : drawing.styles())
        styles.try_emplace(validSymbolName(name), style);
    // A text in a style the drawing does not define gets one with the
    // standard font.
    const auto useStyleOf = [&styles](const Entity &e) {
        if (e.kind == Entity::Text || e.kind == Entity::Attdef)
            styles.try_emplace(validSymbolName(e.style),
                               Drawing::Style{QStringLiteral("txt"), {}, 1, false});
    };
    std::set<QString> usedBlocks;
    std::set<QString> entityLayers; // as the entities name them, each made valid once
    Extents extents;
    for (const Entity &e : drawing.entities()) {
        if (e.erased)
            continue;
        if (entityLayers.insert(e.layer).second)
            layers.try_emplace(validSymbolName(e.layer), 7);
        if (e.kind == Entity::Insert)
            usedBlocks.insert(e.block);
        useStyleOf(e);
        for (const CadPoint &p : e.points)
            extents.add(p);
    }
    for (const auto &[file, block] : drawing.blocks())
        if (usedBlocks.count(block->name))
            for (const Entity &e : block->entities)
                useStyleOf(e);

    // About a hundred and fifty bytes an entity.
    DxfOut body(drawing.entities().size() * 160 + (1 << 16));
    NameCache names;
    body.text(0, "SECTION");
    body.text(2, "CLASSES");
    body.text(0, "ENDSEC");

    body.text(0, "SECTION");
    body.text(2, "TABLES");
    table(body, "VPORT", 1, [&](const std::string &owner) {
        recordHead(body, "VPORT", owner, "AcDbViewportTableRecord");
        body.text(2, "*Active");
        body.whole(70, 0);
        const CadPoint centre = extents.empty() ? CadPoint{210, 148.5}
                                                : CadPoint{(extents.minX + extents.maxX) / 2,
                                                           (extents.minY + extents.maxY) / 2};
        const double height =
            extents.empty() ? 297 : std::max(10.0, (extents.maxY - extents.minY) * 1.1);
        body.real(10, 0.0);
        body.real(20, 0.0);
        body.real(11, 1.0);
        body.real(21, 1.0);
        body.real(12, centre.x);
        body.real(22, centre.y);
        body.real(13, 0.0);
        body.real(23, 0.0);
        body.real(14, 10.0);
        body.real(24, 10.0);
        body.real(15, 10.0);
        body.real(25, 10.0);
        body.point(16, {0, 0});
        body.real(36, 1.0);
        body.point(17, {0, 0});
        body.real(37, 0.0);
        body.real(40, height);
        body.real(41, 1.5);
        body.real(42, 50.0);
        body.real(43, 0.0);
        body.real(44, 0.0);
        body.real(50, 0.0);
        body.real(51, 0.0);
        body.whole(71, 0);
        body.whole(72, 100);
        body.whole(73, 1);
        body.whole(74, 3);
        body.whole(75, 0);
        body.whole(76, 0);
        body.whole(77, 0);
        body.whole(78, 0);
    });
    table(body, "LTYPE", 3, [&](const std::string &owner) {
        for (const auto &[name, description] :
             {std::pair{"ByBlock", ""}, {"ByLayer", ""}, {"Continuous", "Solid line"}}) {
            recordHead(body, "LTYPE", owner, "AcDbLinetypeTableRecord");
            body.text(2, name);
            body.whole(70, 0);
            body.text(3, description);
            body.whole(72, 65);
            body.whole(73, 0);
            body.real(40, 0.0);
        }
    });
    table(body, "LAYER", int(layers.size()), [&](const std::string &owner) {
        for (const auto &[name, colour] : layers) {
            recordHead(body, "LAYER", owner, "AcDbLayerTableRecord");
            body.text(2, name);
            body.whole(70, 0);
            body.whole(62, colour);
            body.text(6, "Continuous");
            body.whole(370, -3);
        }
    });
    table(body, "STYLE", int(styles.size()), [&](const std::string &owner) {
        for (const auto &[name, style] : styles)
            writeTextStyle(body, owner, name, style);
    });
    table(body, "VIEW", 0, [](const std::string &) {});
    table(body, "UCS", 0, [](const std::string &) {});
    table(body, "APPID", 1, [&](const std::string &owner) {
        recordHead(body, "APPID", owner, "AcDbRegAppTableRecord");
        body.text(2, "ACAD");
        body.whole(70, 0);
    });
    table(
        body, "DIMSTYLE", 1,
        [&](const std::string &owner) {
            recordHead(body, "DIMSTYLE", owner, "AcDbDimStyleTableRecord", 105);
            body.text(2, "Standard");
            body.whole(70, 0);
        },
        "AcDbDimStyleTable");

    // Block records: the two spaces, then each block inserted.
    struct BlockOut
    {
        QString name;
        std::string record;
        const std::vector<Entity> *entities = nullptr;
    };
    std::vector<BlockOut> blocks = {{QStringLiteral("*Model_Space"), {}, nullptr},
                                    {QStringLiteral("*Paper_Space"), {}, nullptr}};
    for (const auto &[file, block] : drawing.blocks())
        if (usedBlocks.count(block->name))
            blocks.push_back({block->name, {}, &block->entities});
    table(body, "BLOCK_RECORD", int(blocks.size()), [&](const std::string &owner) {
        for (BlockOut &block : blocks) {
            block.record = recordHead(body, "BLOCK_RECORD", owner, "AcDbBlockTableRecord");
            body.text(2, block.name);
            body.text(340, "0");
        }
    });
    body.text(0, "ENDSEC");

    body.text(0, "SECTION");
    body.text(2, "BLOCKS");
    for (const BlockOut &block : blocks) {
        body.start("BLOCK", block.record);
        body.text(100, "AcDbEntity");
        body.text(8, "0");
        body.text(100, "AcDbBlockBegin");
        body.text(2, block.name);
        body.whole(70, 0);
        body.point(10, {0, 0});
        body.text(3, block.name);
        body.text(1, "");
        if (block.entities)
            for (const Entity &e : *block.entities)
                writeEntity(body, e, block.record, "0", names);
        body.start("ENDBLK", block.record);
        body.text(100, "AcDbEntity");
        body.text(8, "0");
        body.text(100, "AcDbBlockEnd");
    }
    body.text(0, "ENDSEC");

    body.text(0, "SECTION");
    body.text(2, "ENTITIES");
    const std::string &modelSpace = blocks.front().record;
    for (const Entity &e : drawing.entities())
        if (!e.erased)
            writeEntity(body, e, modelSpace, names(e.layer), names);
    body.text(0, "ENDSEC");

    body.text(0, "SECTION");
    body.text(2, "OBJECTS");
    body.text(0, "DICTIONARY");
    const std::string root = body.handle();
    const std::string groups = body.handle();
    body.text(5, root);
    body.text(330, "0");
    body.text(100, "AcDbDictionary");
    body.whole(281, 1);
    body.text(3, "ACAD_GROUP");
    body.text(350, groups);
    body.text(0, "DICTIONARY");
    body.text(5, groups);
    body.text(330, root);
    body.text(100, "AcDbDictionary");
    body.whole(281, 1);
    body.text(0, "ENDSEC");
    body.text(0, "EOF");

    DxfOut head;
    head.text(0, "SECTION");
    head.text(2, "HEADER");
    head.text(9, "$ACADVER");
    head.text(1, "AC1015");
    head.text(9, "$DWGCODEPAGE");
    head.text(3, "ANSI_936");
    head.text(9, "$INSBASE");
    head.point(10, {0, 0});
    head.text(9, "$EXTMIN");
    head.point(10, extents.empty() ? CadPoint{0, 0} : CadPoint{extents.minX, extents.minY});
    head.text(9, "$EXTMAX");
    head.point(10, extents.empty() ? CadPoint{0, 0} : CadPoint{extents.maxX, extents.maxY});
    head.text(9, "$INSUNITS");
    head.whole(70, 4); // millimetres
    head.text(9, "$MEASUREMENT");
    head.whole(70, 1);
    head.text(9, "$HANDSEED");
    head.text(5, body.handle());
    head.text(0, "ENDSEC");

    std::string text = head.take();
    text += body.take();
    return QByteArray(text.data(), qsizetype(text.size()));
}

namespace {

// A number a DXF file can hold: finite and within reach of any sheet.
bool drawable(double v)
{
    return std::isfinite(v) && std::fabs(v) < 1e15;
}

bool drawable(const Drawing::Entity &e)
{
    return std::all_of(e.points.begin(), e.points.end(),
                       [](CadPoint p) { return drawable(p.x) && drawable(p.y); })
           && drawable(e.alignment.x) && drawable(e.alignment.y) && drawable(e.radius)
           && drawable(e.height) && drawable(e.scale) && drawable(e.startAngle)
           && drawable(e.endAngle);
}

} // namespace

Result<void> writeDxfFile(const Drawing &drawing, const QString &path,
                          std::set<QString> *writtenThisRun)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    // Never a "nan" or "inf" in the file: a drawing with one is not written.
    for (const Drawing::Entity &e : drawing.entities())
        if (!e.erased && !drawable(e))
            return fail(QStringLiteral("曲线图中有无效的坐标（不是有限的数），未写入 %1")
                            .arg(QDir::toNativeSeparators(absolute)));
    const QByteArray text = dxfText(drawing);
    // A drawing of that name from elsewhere (or an earlier program run) is
    // kept, not overwritten.
    if (QFileInfo::exists(absolute) && !writtenThisRun->count(absolute)) {
        QString backup = absolute;
        if (backup.endsWith(QLatin1String(".dxf"), Qt::CaseInsensitive))
            backup.chop(4);
        backup += QStringLiteral(".bak.dxf");
        QFile original(absolute);
        if (!original.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("无法保留原有的曲线图文件 %1：%2")
                            .arg(QDir::toNativeSeparators(absolute), original.errorString()));
        if (auto kept = saveFileContents(backup, original.readAll()); !kept)
            return fail(QStringLiteral("无法保留原有的曲线图文件 %1：%2")
                            .arg(QDir::toNativeSeparators(absolute), kept.error()));
    }
    if (auto saved = saveFileContents(absolute, text); !saved)
        return saved;
    writtenThisRun->insert(absolute);
    return success();
}
