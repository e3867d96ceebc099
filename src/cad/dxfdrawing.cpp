#include "cad/dxfdrawing.h"

#include "base/programfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <dxflib/dl_creationadapter.h>
#include <dxflib/dl_dxf.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

std::string dxfEscaped(const QString &text)
{
    std::string out;
    out.reserve(size_t(text.size()));
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 32 && u < 127) {
            out.push_back(char(u));
        } else if (u < 32) {
            out.push_back(' '); // a control character would break the file's lines
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\U+%04X", unsigned(u));
            out += escape;
        }
    }
    return out;
}

QString dxfUnescaped(const std::string &text)
{
    const QString raw = QString::fromUtf8(text.data(), qsizetype(text.size()));
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
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

// Collects the entities of a frame or mark drawing's model space.
class EntityReader : public DL_CreationAdapter
{
public:
    std::vector<DxfDrawing::Entity> entities;

    void addLine(const DL_LineData &d) override
    {
        add(DxfDrawing::Entity::Line, {{d.x1, d.y1}, {d.x2, d.y2}});
    }
    void addPolyline(const DL_PolylineData &d) override
    {
        add(DxfDrawing::Entity::Polyline, {});
        entities.back().closed = d.flags & 1;
        m_polyline = true;
    }
    void addVertex(const DL_VertexData &d) override
    {
        if (m_polyline && !entities.empty())
            entities.back().points.push_back({d.x, d.y});
    }
    void endEntity() override { m_polyline = false; }
    void addCircle(const DL_CircleData &d) override
    {
        add(DxfDrawing::Entity::Circle, {{d.cx, d.cy}});
        entities.back().radius = d.radius;
    }
    void addArc(const DL_ArcData &d) override
    {
        add(DxfDrawing::Entity::Arc, {{d.cx, d.cy}});
        entities.back().radius = d.radius;
        entities.back().startAngle = d.angle1;
        entities.back().endAngle = d.angle2;
    }
    void addSolid(const DL_SolidData &d) override
    {
        add(DxfDrawing::Entity::Solid,
            {{d.x[0], d.y[0]}, {d.x[1], d.y[1]}, {d.x[2], d.y[2]}, {d.x[3], d.y[3]}});
    }
    void addText(const DL_TextData &d) override
    {
        add(DxfDrawing::Entity::Text, {{d.ipx, d.ipy}});
        DxfDrawing::Entity &e = entities.back();
        e.text = dxfUnescaped(d.text);
        e.style = dxfUnescaped(d.style);
        e.height = d.height;
        e.scale = d.xScaleFactor;
        e.horizontal = d.hJustification;
        e.vertical = d.vJustification;
        e.alignment = (d.hJustification || d.vJustification) ? CadPoint{d.apx, d.apy}
                                                             : CadPoint{d.ipx, d.ipy};
    }

private:
    void add(DxfDrawing::Entity::Kind kind, std::vector<CadPoint> points)
    {
        if (getAttributes().isInPaperSpace())
            return;
        DxfDrawing::Entity e;
        e.kind = kind;
        e.points = std::move(points);
        const int colour = getAttributes().getColor();
        e.colour = colour >= 0 && colour <= 256 ? colour : 256;
        entities.push_back(std::move(e));
        m_polyline = false;
    }
    bool m_polyline = false;
};

CadPoint moved(CadPoint p, CadPoint by)
{
    return {p.x + by.x, p.y + by.y};
}

} // namespace

DxfDrawing::DxfDrawing(PointPicker picker)
    : m_picker(std::move(picker))
{
    m_layers[QStringLiteral("0")] = 7;
    m_styles[QStringLiteral("Standard")] = Style{QStringLiteral("txt"), QString(), 1, false};
}

DxfDrawing::~DxfDrawing() = default;

int DxfDrawing::add(Entity e)
{
    if (e.layer.isEmpty())
        e.layer = m_activeLayer;
    m_model.push_back(std::move(e));
    return int(m_model.size());
}

DxfDrawing::Entity *DxfDrawing::entity(int id)
{
    return id >= 1 && size_t(id) <= m_model.size() ? &m_model[size_t(id) - 1] : nullptr;
}

bool DxfDrawing::isEmpty() const
{
    return std::none_of(m_model.begin(), m_model.end(), [](const Entity &e) { return !e.erased; });
}

CadPoint DxfDrawing::clearPoint() const
{
    double maxX = -std::numeric_limits<double>::infinity();
    double minY = std::numeric_limits<double>::infinity();
    for (const Entity &e : m_model) {
        if (e.erased)
            continue;
        const double reach = e.kind == Entity::Circle || e.kind == Entity::Arc ? e.radius
                             : e.kind == Entity::Insert                        ? 1
                             : e.kind == Entity::Text
                                 ? e.height * std::max<qsizetype>(1, e.text.size())
                                 : 0;
        for (const CadPoint &p : e.points) {
            maxX = std::max(maxX, p.x + reach);
            minY = std::min(minY, p.y - reach);
        }
    }
    if (!std::isfinite(maxX))
        return {0, 0};
    return {std::ceil(maxX / 10) * 10 + 20, std::floor(minY / 10) * 10};
}

bool DxfDrawing::attach(QString *error)
{
    if (m_outputPath.isEmpty())
        return true;
    const QFileInfo target(m_outputPath);
    const QString probe = target.absoluteDir().filePath(
        QStringLiteral(".sedimetra-") + QUuid::createUuid().toString(QUuid::Id128).left(8));
    QFile file(probe);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("无法写入曲线图文件 %1：%2")
                     .arg(QDir::toNativeSeparators(m_outputPath), file.errorString());
        return false;
    }
    file.close();
    file.remove();
    if (target.exists() && !target.isFile()) {
        *error = QStringLiteral("无法写入曲线图文件 %1：这不是一个文件")
                     .arg(QDir::toNativeSeparators(m_outputPath));
        return false;
    }
    return true;
}

long DxfDrawing::setVariable(const QString &name, const QString &value)
{
    if (name.compare(QLatin1String("Clayer"), Qt::CaseInsensitive) == 0) {
        if (!m_layers.count(value))
            return CadError::LayerMissing;
        m_activeLayer = value;
        return CadError::None;
    }
    // Snap, icon, line type and colour modes mean nothing to a drawing file.
    return CadError::None;
}

std::optional<CadPoint> DxfDrawing::getPoint(const QString &prompt)
{
    if (!m_picker)
        return clearPoint();
    return m_picker(prompt, clearPoint());
}

void DxfDrawing::addLayer(const QString &name, int colour)
{
    m_layers.try_emplace(name, colour);
}

void DxfDrawing::setActiveLayer(const QString &name)
{
    if (m_layers.count(name))
        m_activeLayer = name;
}

void DxfDrawing::addTextStyle(const QString &name)
{
    m_styles.try_emplace(name);
}

void DxfDrawing::setFont(const QString &style, const QString &typeface)
{
    m_styles[style] = Style{typeface, QString(), 1, true};
}

void DxfDrawing::setFontFiles(const QString &style, const QString &fontFile,
                              const QString &bigFontFile, double width)
{
    // A font file named without an extension is a compiled shape font.
    auto withExtension = [](const QString &file) {
        return file.isEmpty() || !QFileInfo(file).suffix().isEmpty()
                   ? file
                   : file + QStringLiteral(".shx");
    };
    m_styles[style] = Style{withExtension(fontFile), withExtension(bigFontFile), width, false};
}

long DxfDrawing::setActiveTextStyle(const QString &style)
{
    const auto found = m_styles.find(style);
    if (found == m_styles.end() || found->second.fontFile.isEmpty())
        return CadError::FontMissing;
    m_activeStyle = style;
    return CadError::None;
}

void DxfDrawing::sendCommand(const QString &command)
{
    const QString alert = QStringLiteral("(Alert \"");
    if (command.startsWith(alert)) {
        const qsizetype end = command.lastIndexOf(QLatin1Char('"'));
        m_lastAlert = command.mid(alert.size(), end - alert.size());
    }
}

const DxfDrawing::Block *DxfDrawing::loadBlock(const QString &file)
{
    const QString key = QFileInfo(file).absoluteFilePath();
    const auto cached = m_blocksByFile.find(key);
    if (cached != m_blocksByFile.end())
        return cached->second.get();
    if (!QFileInfo(file).isFile())
        return nullptr;
    EntityReader reader;
    DL_Dxf dxf;
    if (!dxf.in(QFile::encodeName(file).toStdString(), &reader))
        return nullptr;
    auto block = std::make_unique<Block>();
    // Blocks are named after their drawing file; a name already taken by a
    // file elsewhere gets a number.
    QString name = QFileInfo(file).completeBaseName();
    for (int n = 2;; ++n) {
        const bool taken =
            std::any_of(m_blocksByFile.begin(), m_blocksByFile.end(),
                        [&](const auto &entry) { return entry.second->name == name; });
        if (!taken)
            break;
        name = QFileInfo(file).completeBaseName() + QLatin1Char('_') + QString::number(n);
    }
    block->name = name;
    block->entities = std::move(reader.entities);
    const Block *result = block.get();
    m_blocksByFile.emplace(key, std::move(block));
    return result;
}

int DxfDrawing::insertBlock(CadPoint at, const QString &file)
{
    const Block *block = loadBlock(file);
    if (!block)
        return 0;
    Entity e;
    e.kind = Entity::Insert;
    e.points = {at};
    e.block = block->name;
    return add(std::move(e));
}

void DxfDrawing::explode(int reference)
{
    const Entity *insert = entity(reference);
    if (!insert || insert->kind != Entity::Insert)
        return;
    const QString blockName = insert->block;
    const CadPoint at = insert->points.front();
    for (const auto &[file, block] : m_blocksByFile) {
        if (block->name != blockName)
            continue;
        // The block's entities become model-space entities on the layer
        // current now.
        for (Entity e : block->entities) {
            for (CadPoint &p : e.points)
                p = moved(p, at);
            e.alignment = moved(e.alignment, at);
            e.layer = m_activeLayer;
            m_model.push_back(std::move(e));
        }
        break;
    }
}

void DxfDrawing::erase(int id)
{
    if (Entity *e = entity(id))
        e->erased = true;
}

int DxfDrawing::addLightWeightPolyline(const std::vector<CadPoint> &vertices)
{
    Entity e;
    e.kind = Entity::Polyline;
    e.points = vertices;
    return add(std::move(e));
}

void DxfDrawing::addVertex(int polyline, int index, CadPoint vertex)
{
    Entity *e = entity(polyline);
    if (!e || e->kind != Entity::Polyline)
        return;
    const size_t at = std::min(size_t(std::max(index, 0)), e->points.size());
    e->points.insert(e->points.begin() + qsizetype(at), vertex);
}

void DxfDrawing::update(int)
{}

int DxfDrawing::addText(const QString &text, CadPoint at, double height)
{
    Entity e;
    e.kind = Entity::Text;
    e.points = {at};
    e.alignment = at;
    e.text = text;
    e.height = height;
    e.style = m_activeStyle;
    return add(std::move(e));
}

void DxfDrawing::setAlignment(int text, int vertical, int horizontal)
{
    if (Entity *e = entity(text)) {
        e->vertical = vertical;
        e->horizontal = horizontal;
    }
}

void DxfDrawing::setAlignmentPoint(int text, CadPoint at)
{
    if (Entity *e = entity(text))
        e->alignment = at;
}

void DxfDrawing::setScaleFactor(int text, double factor)
{
    if (Entity *e = entity(text))
        e->scale = factor;
}

void DxfDrawing::setTextStyleOf(int text, const QString &style)
{
    if (Entity *e = entity(text))
        e->style = style;
}

int DxfDrawing::addCircle(CadPoint centre, double radius)
{
    Entity e;
    e.kind = Entity::Circle;
    e.points = {centre};
    e.radius = radius;
    return add(std::move(e));
}

int DxfDrawing::addSolid(CadPoint a, CadPoint b, CadPoint c, CadPoint d)
{
    Entity e;
    e.kind = Entity::Solid;
    e.points = {a, b, c, d};
    return add(std::move(e));
}

namespace {

// dxflib's ASCII writer formats every number through printf and a stream;
// this one formats into one buffer (shortest round-trip decimals) and writes
// the file in one go.
class BufferedWriter : public DL_WriterA
{
public:
    explicit BufferedWriter(const QString &path)
        : DL_WriterA("/dev/null", DL_VERSION_2000)
        , m_path(path)
    {
        m_buffer.reserve(1 << 20);
    }

    bool save(QString *error) const
    {
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(m_buffer.data(), qint64(m_buffer.size())) != qint64(m_buffer.size())
            || !file.flush()) {
            *error = QStringLiteral("无法写入 %1：%2")
                         .arg(QDir::toNativeSeparators(m_path), file.errorString());
            return false;
        }
        return true;
    }

    void dxfReal(int gc, double value) const override
    {
        code(gc);
        char text[400];
        auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
        if (result.ec != std::errc()) {
            result.ptr = text;
            *result.ptr++ = '0';
        }
        m_buffer.append(text, result.ptr);
        if (std::find(text, result.ptr, '.') == result.ptr)
            m_buffer += ".0";
        m_buffer += '\n';
    }
    void dxfInt(int gc, int value) const override
    {
        code(gc);
        m_buffer += std::to_string(value);
        m_buffer += '\n';
    }
    void dxfHex(int gc, int value) const override
    {
        code(gc);
        char text[16];
        const auto result = std::to_chars(text, text + sizeof text, unsigned(value), 16);
        for (char *c = text; c != result.ptr; ++c)
            *c = char(std::toupper(*c));
        m_buffer.append(text, result.ptr);
        m_buffer += '\n';
    }
    void dxfString(int gc, const char *value) const override
    {
        code(gc);
        m_buffer += value ? value : "";
        m_buffer += '\n';
    }
    void dxfString(int gc, const std::string &value) const override
    {
        code(gc);
        m_buffer += value;
        m_buffer += '\n';
    }

private:
    void code(int gc) const
    {
        // Group codes right-aligned in three columns, as CAD programs write them.
        if (gc < 10)
            m_buffer += "  ";
        else if (gc < 100)
            m_buffer += ' ';
        m_buffer += std::to_string(gc);
        m_buffer += '\n';
    }

    QString m_path;
    mutable std::string m_buffer;
};

void writeEntity(DL_Dxf &dxf, DL_WriterA &dw, const DxfDrawing::Entity &e)
{
    const DL_Attributes attributes(dxfEscaped(e.layer), e.colour, -1, -1, "BYLAYER");
    switch (e.kind) {
    case DxfDrawing::Entity::Line:
        dxf.writeLine(dw,
                      DL_LineData(e.points[0].x, e.points[0].y, 0, e.points[1].x, e.points[1].y, 0),
                      attributes);
        break;
    case DxfDrawing::Entity::Polyline:
        dxf.writePolyline(dw, DL_PolylineData(int(e.points.size()), 0, 0, e.closed ? 1 : 0),
                          attributes);
        for (const CadPoint &p : e.points)
            dxf.writeVertex(dw, DL_VertexData(p.x, p.y, 0, 0));
        dxf.writePolylineEnd(dw);
        break;
    case DxfDrawing::Entity::Circle:
        dxf.writeCircle(dw, DL_CircleData(e.points[0].x, e.points[0].y, 0, e.radius), attributes);
        break;
    case DxfDrawing::Entity::Arc:
        dxf.writeArc(
            dw, DL_ArcData(e.points[0].x, e.points[0].y, 0, e.radius, e.startAngle, e.endAngle),
            attributes);
        break;
    case DxfDrawing::Entity::Solid:
        dxf.writeSolid(dw,
                       DL_SolidData(e.points[0].x, e.points[0].y, 0, e.points[1].x, e.points[1].y,
                                    0, e.points[2].x, e.points[2].y, 0, e.points[3].x,
                                    e.points[3].y, 0),
                       attributes);
        break;
    case DxfDrawing::Entity::Text:
        dxf.writeText(dw,
                      DL_TextData(e.points[0].x, e.points[0].y, 0, e.alignment.x, e.alignment.y, 0,
                                  e.height, e.scale, 0, e.horizontal, e.vertical,
                                  dxfEscaped(e.text), dxfEscaped(e.style), 0),
                      attributes);
        break;
    case DxfDrawing::Entity::Insert:
        dxf.writeInsert(dw,
                        DL_InsertData(dxfEscaped(e.block), e.points[0].x, e.points[0].y, 0, 1, 1, 1,
                                      0, 1, 1, 0, 0),
                        attributes);
        break;
    }
}

// A text style record with its font file (group 3) and big-font file (group
// 4), as CAD programs read them; a TrueType face also goes into the ACAD
// extended data, where CAD programs look for the face name.
void writeTextStyle(DL_WriterA &dw, const QString &name, const QString &font,
                    const QString &bigFont, double width, bool trueType)
{
    dw.dxfString(0, "STYLE");
    dw.handle();
    dw.dxfString(100, "AcDbSymbolTableRecord");
    dw.dxfString(100, "AcDbTextStyleTableRecord");
    dw.dxfString(2, dxfEscaped(name));
    dw.dxfInt(70, 0);
    dw.dxfReal(40, 0.0);
    dw.dxfReal(41, width);
    dw.dxfReal(50, 0.0);
    dw.dxfInt(71, 0);
    dw.dxfReal(42, 2.5);
    dw.dxfString(3, dxfEscaped(trueType ? font + QStringLiteral(".ttf") : font));
    dw.dxfString(4, dxfEscaped(trueType ? QString() : bigFont));
    if (trueType) {
        dw.dxfString(1001, "ACAD");
        dw.dxfString(1000, dxfEscaped(font));
        dw.dxfInt(1071, 0);
    }
}

} // namespace

bool DxfDrawing::write(const QString &path, QString *error)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QString temporary = absolute + QStringLiteral(".part");
    std::set<QString> usedBlocks;
    std::set<QString> usedLayers{QStringLiteral("0")};
    for (const Entity &e : m_model) {
        if (e.erased)
            continue;
        usedLayers.insert(e.layer);
        if (e.kind == Entity::Insert)
            usedBlocks.insert(e.block);
    }
    {
        DL_Dxf dxf;
        // Lets dxflib know the version it writes for.
        delete dxf.out("/dev/null", DL_VERSION_2000);
        auto dw = std::make_unique<BufferedWriter>(temporary);
        dxf.writeHeader(*dw);
        dw->dxfString(9, "$INSUNITS");
        dw->dxfInt(70, 4); // millimetres
        dw->sectionEnd();

        dw->sectionTables();
        dxf.writeVPort(*dw);
        dw->tableLinetypes(3);
        dxf.writeLinetype(*dw, DL_LinetypeData("BYBLOCK", "", 0, 0, 0.0));
        dxf.writeLinetype(*dw, DL_LinetypeData("BYLAYER", "", 0, 0, 0.0));
        dxf.writeLinetype(*dw, DL_LinetypeData("CONTINUOUS", "Solid line", 0, 0, 0.0));
        dw->tableEnd();

        std::map<QString, int> layers = m_layers;
        for (const QString &layer : usedLayers)
            layers.try_emplace(layer, 7);
        dw->tableLayers(int(layers.size()));
        for (const auto &[name, colour] : layers)
            dxf.writeLayer(*dw, DL_LayerData(dxfEscaped(name), 0),
                           DL_Attributes("", colour, -1, 100, "CONTINUOUS"));
        dw->tableEnd();

        dw->tableStyle(int(m_styles.size()));
        for (const auto &[name, style] : m_styles)
            writeTextStyle(*dw, name, style.fontFile, style.bigFontFile, style.width,
                           style.trueType);
        dw->tableEnd();
        dxf.writeView(*dw);
        dxf.writeUcs(*dw);
        dw->tableAppid(1);
        dxf.writeAppid(*dw, "ACAD");
        dw->tableEnd();
        dxf.writeDimStyle(*dw, 2.5, 0.625, 0.625, 0.625, 2.5);
        dxf.writeBlockRecord(*dw);
        for (const QString &block : usedBlocks)
            dxf.writeBlockRecord(*dw, dxfEscaped(block));
        dw->tableEnd();
        dw->sectionEnd();

        dw->sectionBlocks();
        for (const char *space : {"*Model_Space", "*Paper_Space", "*Paper_Space0"}) {
            dxf.writeBlock(*dw, DL_BlockData(space, 0, 0.0, 0.0, 0.0));
            dxf.writeEndBlock(*dw, space);
        }
        for (const auto &[file, block] : m_blocksByFile) {
            if (!usedBlocks.count(block->name))
                continue;
            const std::string name = dxfEscaped(block->name);
            dxf.writeBlock(*dw, DL_BlockData(name, 0, 0.0, 0.0, 0.0));
            for (Entity e : block->entities) {
                e.layer = QStringLiteral("0");
                writeEntity(dxf, *dw, e);
            }
            dxf.writeEndBlock(*dw, name);
        }
        dw->sectionEnd();

        dw->sectionEntities();
        for (const Entity &e : m_model)
            if (!e.erased)
                writeEntity(dxf, *dw, e);
        dw->sectionEnd();
        dxf.writeObjects(*dw);
        dxf.writeObjectsEnd(*dw);
        dw->dxfEOF();
        if (!dw->save(error)) {
            QFile::remove(temporary);
            return false;
        }
    }
    // A drawing of that name from elsewhere (or an earlier program run) is
    // kept, not overwritten.
    if (QFileInfo::exists(absolute) && !m_written.count(absolute)) {
        QString backup = absolute;
        if (backup.endsWith(QLatin1String(".dxf"), Qt::CaseInsensitive))
            backup.chop(4);
        backup += QStringLiteral(".bak.dxf");
        QFile::remove(backup);
        if (!QFile::copy(absolute, backup)) {
            *error = QStringLiteral("无法保留原有的曲线图文件 %1")
                         .arg(QDir::toNativeSeparators(absolute));
            QFile::remove(temporary);
            return false;
        }
    }
    if (!replaceWithFinished(temporary, absolute, error))
        return false;
    m_written.insert(absolute);
    return true;
}
