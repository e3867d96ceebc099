#include "cad/dxffile.h"

#include "base/savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    std::vector<Drawing::Entity> entities;

    void addLine(const DL_LineData &d) override
    {
        add(Drawing::Entity::Line, {{d.x1, d.y1}, {d.x2, d.y2}});
    }
    void addPolyline(const DL_PolylineData &d) override
    {
        add(Drawing::Entity::Polyline, {});
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
        add(Drawing::Entity::Circle, {{d.cx, d.cy}});
        entities.back().radius = d.radius;
    }
    void addArc(const DL_ArcData &d) override
    {
        add(Drawing::Entity::Arc, {{d.cx, d.cy}});
        entities.back().radius = d.radius;
        entities.back().startAngle = d.angle1;
        entities.back().endAngle = d.angle2;
    }
    void addSolid(const DL_SolidData &d) override
    {
        add(Drawing::Entity::Solid,
            {{d.x[0], d.y[0]}, {d.x[1], d.y[1]}, {d.x[2], d.y[2]}, {d.x[3], d.y[3]}});
    }
    void addText(const DL_TextData &d) override
    {
        add(Drawing::Entity::Text, {{d.ipx, d.ipy}});
        Drawing::Entity &e = entities.back();
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
    void add(Drawing::Entity::Kind kind, std::vector<CadPoint> points)
    {
        if (getAttributes().isInPaperSpace())
            return;
        Drawing::Entity e;
        e.kind = kind;
        e.points = std::move(points);
        const int colour = getAttributes().getColor();
        e.colour = colour >= 0 && colour <= 256 ? colour : 256;
        entities.push_back(std::move(e));
        m_polyline = false;
    }
    bool m_polyline = false;
};

} // namespace

Result<std::vector<Drawing::Entity>> readDxfEntities(const QString &file)
{
    if (!QFileInfo(file).isFile())
        return fail(QStringLiteral("找不到图形文件 %1").arg(QDir::toNativeSeparators(file)));
    EntityReader reader;
    DL_Dxf dxf;
    if (!dxf.in(QFile::encodeName(file).toStdString(), &reader))
        return fail(QStringLiteral("无法读取图形文件 %1").arg(QDir::toNativeSeparators(file)));
    return std::move(reader.entities);
}

namespace {

// dxflib's ASCII writer formats every number through printf and a stream;
// this one formats into one buffer (shortest round-trip decimals) and writes
// the file in one go.
class BufferedWriter : public DL_WriterA
{
public:
    BufferedWriter()
        : DL_WriterA("/dev/null", DL_VERSION_2000)
    {
        m_buffer.reserve(1 << 20);
    }

    QByteArray bytes() const { return QByteArray(m_buffer.data(), qsizetype(m_buffer.size())); }

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

    mutable std::string m_buffer;
};

void writeEntity(DL_Dxf &dxf, DL_WriterA &dw, const Drawing::Entity &e)
{
    const DL_Attributes attributes(dxfEscaped(e.layer), e.colour, -1, -1, "BYLAYER");
    switch (e.kind) {
    case Drawing::Entity::Line:
        dxf.writeLine(dw,
                      DL_LineData(e.points[0].x, e.points[0].y, 0, e.points[1].x, e.points[1].y, 0),
                      attributes);
        break;
    case Drawing::Entity::Polyline:
        dxf.writePolyline(dw, DL_PolylineData(int(e.points.size()), 0, 0, e.closed ? 1 : 0),
                          attributes);
        for (const CadPoint &p : e.points)
            dxf.writeVertex(dw, DL_VertexData(p.x, p.y, 0, 0));
        dxf.writePolylineEnd(dw);
        break;
    case Drawing::Entity::Circle:
        dxf.writeCircle(dw, DL_CircleData(e.points[0].x, e.points[0].y, 0, e.radius), attributes);
        break;
    case Drawing::Entity::Arc:
        dxf.writeArc(
            dw, DL_ArcData(e.points[0].x, e.points[0].y, 0, e.radius, e.startAngle, e.endAngle),
            attributes);
        break;
    case Drawing::Entity::Solid:
        dxf.writeSolid(dw,
                       DL_SolidData(e.points[0].x, e.points[0].y, 0, e.points[1].x, e.points[1].y,
                                    0, e.points[2].x, e.points[2].y, 0, e.points[3].x,
                                    e.points[3].y, 0),
                       attributes);
        break;
    case Drawing::Entity::Text:
        dxf.writeText(dw,
                      DL_TextData(e.points[0].x, e.points[0].y, 0, e.alignment.x, e.alignment.y, 0,
                                  e.height, e.scale, 0, e.horizontal, e.vertical,
                                  dxfEscaped(e.text), dxfEscaped(e.style), 0),
                      attributes);
        break;
    case Drawing::Entity::Insert:
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

QByteArray dxfText(const Drawing &drawing)
{
    using Entity = Drawing::Entity;
    std::set<QString> usedBlocks;
    std::set<QString> usedLayers{QStringLiteral("0")};
    for (const Entity &e : drawing.entities()) {
        if (e.erased)
            continue;
        usedLayers.insert(e.layer);
        if (e.kind == Entity::Insert)
            usedBlocks.insert(e.block);
    }
    BufferedWriter writer;
    {
        DL_Dxf dxf;
        // Lets dxflib know the version it writes for.
        delete dxf.out("/dev/null", DL_VERSION_2000);
        BufferedWriter *dw = &writer;
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

        std::map<QString, int> layers = drawing.layers();
        for (const QString &layer : usedLayers)
            layers.try_emplace(layer, 7);
        dw->tableLayers(int(layers.size()));
        for (const auto &[name, colour] : layers)
            dxf.writeLayer(*dw, DL_LayerData(dxfEscaped(name), 0),
                           DL_Attributes("", colour, -1, 100, "CONTINUOUS"));
        dw->tableEnd();

        dw->tableStyle(int(drawing.styles().size()));
        for (const auto &[name, style] : drawing.styles())
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
        for (const auto &[file, block] : drawing.blocks()) {
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
        for (const Entity &e : drawing.entities())
            if (!e.erased)
                writeEntity(dxf, *dw, e);
        dw->sectionEnd();
        dxf.writeObjects(*dw);
        dxf.writeObjectsEnd(*dw);
        dw->dxfEOF();
    }
    return writer.bytes();
}

Result<void> writeDxfFile(const Drawing &drawing, const QString &path,
                          std::set<QString> *writtenThisRun)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
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
