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


// Group code / value pairs with the handles of a DXF R2000 file.
class DxfOut
{
public:
    explicit DxfOut(size_t expected = 1 << 16) { m_text.reserve(expected); }

    std::string take() { return std::move(m_text); }

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
        if (e.rotation != 0)
            out.real(50, e.rotation);
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

namespace {

// What the entities use: layers (beside those made), blocks, styles, and
// how far they reach.
struct Used
{
    std::map<QString, int, Drawing::NameLess> layers;
    std::map<QString, Drawing::Style, Drawing::NameLess> styles;
    std::set<QString> blocks;
    Extents extents;
};

Used usedBy(const Drawing &drawing)
{
    using Entity = Drawing::Entity;
    Used used;
    for (const auto &[name, colour] : drawing.layers())
        used.layers.try_emplace(validSymbolName(name), colour);
    for (const auto &[name, style] : drawing.styles())
        used.styles.try_emplace(validSymbolName(name), style);
    // A text in a style the drawing does not define gets one with the
    // standard font.
    const auto useStyleOf = [&used](const Entity &e) {
        if (e.kind == Entity::Text || e.kind == Entity::Attdef)
            used.styles.try_emplace(validSymbolName(e.style),
                                    Drawing::Style{QStringLiteral("txt"), {}, 1, false});
    };
    std::set<QString> entityLayers; // as the entities name them, each made valid once
    for (const Entity &e : drawing.entities()) {
        if (e.erased)
            continue;
        if (entityLayers.insert(e.layer).second)
            used.layers.try_emplace(validSymbolName(e.layer), 7);
        if (e.kind == Entity::Insert)
            used.blocks.insert(e.block);
        useStyleOf(e);
        for (const CadPoint &p : e.points)
            used.extents.add(p);
    }
    for (const auto &[file, block] : drawing.blocks())
        if (used.blocks.count(block->name))
            for (const Entity &e : block->entities)
                useStyleOf(e);
    return used;
}

// A block as written: its name, its record's handle, its entities (none
// for the two spaces).
struct BlockOut
{
    QString name;
    std::string record;
    const std::vector<Drawing::Entity> *entities = nullptr;
};

// The one viewport, centred on what is drawn.
void writeViewport(DxfOut &body, const Extents &extents, const std::string &owner)
{
    recordHead(body, "VPORT", owner, "AcDbViewportTableRecord");
    body.text(2, "*Active");
    body.whole(70, 0);
    const CadPoint centre = extents.empty() ? CadPoint{210, 148.5}
                                            : CadPoint{(extents.minX + extents.maxX) / 2,
                                                       (extents.minY + extents.maxY) / 2};
    const double height =
        extents.empty() ? 297 : std::max(10.0, (extents.maxY - extents.minY) * 1.1);
    for (const auto &[code, value] : {std::pair{10, 0.0}, {20, 0.0}, {11, 1.0}, {21, 1.0}})
        body.real(code, value);
    body.real(12, centre.x);
    body.real(22, centre.y);
    for (const auto &[code, value] :
         {std::pair{13, 0.0}, {23, 0.0}, {14, 10.0}, {24, 10.0}, {15, 10.0}, {25, 10.0}})
        body.real(code, value);
    body.point(16, {0, 0});
    body.real(36, 1.0);
    body.point(17, {0, 0});
    body.real(37, 0.0);
    body.real(40, height);
    for (const auto &[code, value] :
         {std::pair{41, 1.5}, {42, 50.0}, {43, 0.0}, {44, 0.0}, {50, 0.0}, {51, 0.0}})
        body.real(code, value);
    for (const auto &[code, value] : {std::pair{71, 0}, {72, 100}, {73, 1}, {74, 3}, {75, 0},
                                      {76, 0}, {77, 0}, {78, 0}})
        body.whole(code, value);
}

// The CLASSES and TABLES sections; the blocks to write, with the handles of
// their records.
std::vector<BlockOut> writeTables(DxfOut &body, const Used &used, const Drawing &drawing)
{
    body.text(0, "SECTION");
    body.text(2, "CLASSES");
    body.text(0, "ENDSEC");
    body.text(0, "SECTION");
    body.text(2, "TABLES");
    table(body, "VPORT", 1,
          [&](const std::string &owner) { writeViewport(body, used.extents, owner); });
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
    table(body, "LAYER", int(used.layers.size()), [&](const std::string &owner) {
        for (const auto &[name, colour] : used.layers) {
            recordHead(body, "LAYER", owner, "AcDbLayerTableRecord");
            body.text(2, name);
            body.whole(70, 0);
            body.whole(62, colour);
            body.text(6, "Continuous");
            body.whole(370, -3);
        }
    });
    table(body, "STYLE", int(used.styles.size()), [&](const std::string &owner) {
        for (const auto &[name, style] : used.styles)
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
    std::vector<BlockOut> blocks = {{QStringLiteral("*Model_Space"), {}, nullptr},
                                    {QStringLiteral("*Paper_Space"), {}, nullptr}};
    for (const auto &[file, block] : drawing.blocks())
        if (used.blocks.count(block->name))
            blocks.push_back({block->name, {}, &block->entities});
    table(body, "BLOCK_RECORD", int(blocks.size()), [&](const std::string &owner) {
        for (BlockOut &block : blocks) {
            block.record = recordHead(body, "BLOCK_RECORD", owner, "AcDbBlockTableRecord");
            body.text(2, block.name);
            body.text(340, "0");
        }
    });
    body.text(0, "ENDSEC");
    return blocks;
}

void writeBlocks(DxfOut &body, const std::vector<BlockOut> &blocks, NameCache &names)
{
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
            for (const Drawing::Entity &e : *block.entities)
                writeEntity(body, e, block.record, "0", names);
        body.start("ENDBLK", block.record);
        body.text(100, "AcDbEntity");
        body.text(8, "0");
        body.text(100, "AcDbBlockEnd");
    }
    body.text(0, "ENDSEC");
}

void writeEntities(DxfOut &body, const Drawing &drawing, const std::string &modelSpace,
                   NameCache &names)
{
    body.text(0, "SECTION");
    body.text(2, "ENTITIES");
    for (const Drawing::Entity &e : drawing.entities())
        if (!e.erased)
            writeEntity(body, e, modelSpace, names(e.layer), names);
    body.text(0, "ENDSEC");
}

// The root dictionary and its empty group dictionary, and the file's end.
void writeObjects(DxfOut &body)
{
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
}

// The HEADER section: written last, as it names the next free handle.
void writeHeader(DxfOut &head, const Extents &extents, const std::string &handleSeed)
{
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
    head.text(5, handleSeed);
    head.text(0, "ENDSEC");
}

} // namespace

QByteArray dxfText(const Drawing &drawing)
{
    const Used used = usedBy(drawing);
    // About a hundred and fifty bytes an entity.
    DxfOut body(drawing.entities().size() * 160 + (1 << 16));
    NameCache names;
    const std::vector<BlockOut> blocks = writeTables(body, used, drawing);
    writeBlocks(body, blocks, names);
    writeEntities(body, drawing, blocks.front().record, names);
    writeObjects(body);
    DxfOut head;
    writeHeader(head, used.extents, body.handle());
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

