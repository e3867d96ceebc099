// Reading a DXF drawing: the model-space entities and the text styles a
// block or frame drawing brings.
#include "cad/dxffile.h"
#include "cad/dxfcurves.h"


#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <functional>
#include <optional>

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

    // The number of the line read last (the first is 1).
    size_t lineNumber() const { return m_line; }

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
        ++m_line;
        const size_t end = m_rest.find('\n');
        out = m_rest.substr(0, end);
        m_rest.remove_prefix(end == std::string_view::npos ? m_rest.size() : end + 1);
        if (!out.empty() && out.back() == '\r')
            out.remove_suffix(1);
        return true;
    }

    std::string_view m_rest;
    size_t m_line = 0;
};

double number(std::string_view value)
{
    value = PairReader::trimmed(value);
    double d = 0;
    const auto parsed = std::from_chars(value.data(), value.data() + value.size(), d);
    if (parsed.ec == std::errc::result_out_of_range)
        return std::numeric_limits<double>::infinity();
    // "nan" and "inf" stay what they are, for the entity to be refused;
    // what is no number at all reads as 0, as CAD programs read it.
    return parsed.ec == std::errc() ? d : 0;
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
    size_t line = 0; // of its "0" group code in the file
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

// Where a block's entities land: x' = m00·x + m01·y + tx, y' = m10·x + m11·y + ty.
struct Placement
{
    double m00 = 1, m01 = 0, m10 = 0, m11 = 1, tx = 0, ty = 0;

    CadPoint operator()(CadPoint p) const
    {
        return {m00 * p.x + m01 * p.y + tx, m10 * p.x + m11 * p.y + ty};
    }
    // This placement after `inner`.
    Placement after(const Placement &inner) const
    {
        Placement r;
        r.m00 = m00 * inner.m00 + m01 * inner.m10;
        r.m01 = m00 * inner.m01 + m01 * inner.m11;
        r.m10 = m10 * inner.m00 + m11 * inner.m10;
        r.m11 = m10 * inner.m01 + m11 * inner.m11;
        r.tx = m00 * inner.tx + m01 * inner.ty + tx;
        r.ty = m10 * inner.tx + m11 * inner.ty + ty;
        return r;
    }
    double determinant() const { return m00 * m11 - m01 * m10; }
    // The scale of lengths when it is the same in every direction (a
    // rotation, mirror and uniform scale), else nothing.
    std::optional<double> uniformScale() const
    {
        const double sx = std::hypot(m00, m10), sy = std::hypot(m01, m11);
        const double dot = m00 * m01 + m10 * m11;
        if (std::abs(sx - sy) > 1e-9 * std::max(sx, sy) || std::abs(dot) > 1e-9 * sx * sy)
            return std::nullopt;
        return sx;
    }
    double rotationDeg() const { return std::atan2(m10, m00) * 180 / M_PI; }
    double lengthScale() const { return std::sqrt(std::abs(determinant())); }
};

// An entity with what follows it: a POLYLINE's vertices, an INSERT's attributes.
struct Unit
{
    Record head;
    std::vector<Record> vertices;
};

struct BlockDefinition
{
    CadPoint base;
    std::vector<Unit> units;
};

constexpr double twoPi = 2 * M_PI;
// What a drawing may ask for, whatever its size in bytes: coordinates (in
// drawing units: a survey plan in millimetres reaches 10⁹), a spline's
// degree and control points.
constexpr double maxCoordinate = 1e10;
constexpr int maxSplineDegree = 25;
constexpr size_t maxSplineControlPoints = 100'000;
// Past this many entities a drawing is refused (a block arrayed without end).
constexpr size_t maxEntities = 1'000'000;
constexpr int maxBlockDepth = 64;

class ContentsBuilder
{
public:
    DxfContents contents;
    bool gbk = false;
    std::map<std::string, BlockDefinition> blocks; // by upper-case name
    bool tooLarge = false;
    // Why the drawing is refused: an entity with a number no drawing has,
    // or more than the reader expands.
    QString refused;

    QString text(std::string_view v) const { return dxfDecoded(v, gbk); }

    void refuse(const Record &r, const QString &why)
    {
        if (refused.isEmpty())
            refused = QStringLiteral("第 %1 行的 %2：%3")
                          .arg(r.line)
                          .arg(QString::fromLatin1(r.type.data(), qsizetype(r.type.size())), why);
        tooLarge = true;
    }
    static bool usable(double v) { return std::isfinite(v) && std::abs(v) <= maxCoordinate; }
    // An entity whose points and sizes are numbers a drawing can hold.
    bool usable(const Drawing::Entity &e) const
    {
        for (const CadPoint &q : e.points)
            if (!usable(q.x) || !usable(q.y))
                return false;
        return usable(e.radius) && usable(e.height) && usable(e.alignment.x) && usable(e.alignment.y);
    }
    // The entities a block expands to, its nested insertions and every cell
    // of their arrays counted (an empty block's insertion counts one), at
    // most 10¹⁸: known before anything is expanded.
    double expandedCount(const std::string &name, int depth)
    {
        if (const auto known = m_expanded.find(name); known != m_expanded.end())
            return known->second;
        const auto block = blocks.find(name);
        if (block == blocks.end() || depth >= maxBlockDepth)
            return 0;
        m_expanded[name] = 0; // a block inserting itself expands to nothing more
        double count = 0;
        for (const Unit &unit : block->second.units) {
            const Record &r = unit.head;
            if (r.type == "INSERT") {
                const double cells = double(std::max(1, r.whole(70, 1))) * double(std::max(1, r.whole(71, 1)));
                count += cells * (1 + expandedCount(upper(text(r.value(2))), depth + 1));
            } else if (r.type == "MTEXT") {
                count += 1 + paragraphBreaks(r);
            } else {
                count += 1;
            }
            count = std::min(count, 1e18);
        }
        m_expanded[name] = count;
        return count;
    }
    static double paragraphBreaks(const Record &r)
    {
        double breaks = 0;
        for (const auto &[c, v] : r.groups)
            if (c == 1 || c == 3)
                for (size_t at = v.find("\\P"); at != std::string_view::npos; at = v.find("\\P", at + 2))
                    ++breaks;
        return breaks;
    }
    size_t used() const { return contents.entities.size() + contents.insertions.size(); }

    // Draws a model-space entity, or a block's entity where `place` puts it,
    // on the insertion's layer and colour where it has its own by block.
    void draw(const Unit &unit, const Placement &place, const QString &parentLayer,
              int parentColour, int depth, std::vector<std::string> &stack)
    {
        using Entity = Drawing::Entity;
        const Record &r = unit.head;
        if (tooLarge)
            return;
        if (used() >= maxEntities) {
            tooLarge = true;
            return;
        }
        const QString kind = QString::fromLatin1(r.type.data(), qsizetype(r.type.size()));
        Entity e;
        const int colour = r.whole(62, 256);
        e.colour = colour >= 0 && colour <= 256 ? colour : 256;
        if (e.colour == 0)
            e.colour = parentColour;
        e.layer = r.has(8) ? text(r.value(8)) : QStringLiteral("0");
        if (e.layer == QLatin1String("0") && !parentLayer.isEmpty())
            e.layer = parentLayer;
        // An entity in its own plane (OCS) whose extrusion points down is
        // drawn mirrored; lines, ellipses, splines and MTEXT are in world
        // coordinates.
        Placement p = place;
        const bool planar = r.type == "CIRCLE" || r.type == "ARC" || r.type == "LWPOLYLINE"
                            || r.type == "TEXT" || r.type == "SOLID"
                            || (r.type == "POLYLINE" && !(r.whole(70) & (8 | 16 | 64)));
        if (planar && r.real(230, 1) < 0) {
            p.m00 = -p.m00;
            p.m10 = -p.m10;
        }
        const auto polyline = [&](std::vector<CadPoint> points, bool closed) {
            e.kind = Entity::Polyline;
            e.closed = closed;
            for (CadPoint &pt : points)
                pt = p(pt);
            e.points = std::move(points);
        };
        if (r.type == "LINE") {
            e.kind = Entity::Line;
            e.points = {p(r.point(10)), p(r.point(11))};
        } else if (r.type == "LWPOLYLINE") {
            std::vector<CadPoint> points;
            std::vector<double> bulges;
            for (size_t i = 0; i < r.groups.size(); ++i) {
                const int c = r.groups[i].first;
                if (c == 10) {
                    const double y = i + 1 < r.groups.size() && r.groups[i + 1].first == 20
                                         ? number(r.groups[i + 1].second)
                                         : 0;
                    points.push_back({number(r.groups[i].second), y});
                    bulges.push_back(0);
                } else if (c == 42 && !bulges.empty()) {
                    bulges.back() = number(r.groups[i].second);
                }
            }
            const bool closed = r.whole(70) & 1;
            polyline(bulgedVertices(points, bulges, closed), closed);
        } else if (r.type == "POLYLINE") {
            const int flags = r.whole(70);
            std::vector<CadPoint> points;
            std::vector<double> bulges;
            for (const Record &v : unit.vertices) {
                const int vflags = v.whole(70);
                if ((flags & 64) && !(vflags & 64))
                    continue; // a polyface mesh's face record, not a vertex
                if (vflags & 16)
                    continue; // a spline's control point; its fitted vertices follow
                points.push_back(v.point(10));
                bulges.push_back(v.real(42));
            }
            const bool closed = flags & 1;
            polyline(bulgedVertices(points, bulges, closed), closed);
        } else if (r.type == "CIRCLE" || r.type == "ARC") {
            const CadPoint centre = r.point(10);
            const double radius = std::abs(r.real(40));
            const bool arc = r.type == "ARC";
            double start = r.real(50), end = r.real(51);
            if (const auto scale = p.uniformScale()) {
                e.kind = arc ? Entity::Arc : Entity::Circle;
                e.points = {p(centre)};
                e.radius = radius * *scale;
                if (arc) {
                    const double turn = p.rotationDeg();
                    if (p.determinant() < 0) {
                        // Mirrored: the arc runs the other way round.
                        const double mirrorAxis = std::atan2(p.m10, p.m00) * 180 / M_PI;
                        const double s = mirrorAxis - end, t = mirrorAxis - start;
                        start = s, end = t;
                    } else {
                        start += turn, end += turn;
                    }
                    e.startAngle = std::fmod(std::fmod(start, 360) + 360, 360);
                    e.endAngle = std::fmod(std::fmod(end, 360) + 360, 360);
                }
            } else {
                std::vector<CadPoint> points;
                double a0 = 0, sweep = twoPi;
                if (arc) {
                    a0 = start * M_PI / 180;
                    sweep = std::fmod(std::fmod(end - start, 360) + 360, 360) * M_PI / 180;
                    if (sweep == 0)
                        sweep = twoPi;
                }
                arcPoints(points, centre, radius, radius, 0, a0, sweep, true);
                if (!arc)
                    points.pop_back();
                polyline(std::move(points), !arc);
            }
        } else if (r.type == "ELLIPSE") {
            const CadPoint centre = r.point(10), major = r.point(11);
            const double ratio = r.real(40, 1);
            double t0 = r.real(41, 0), t1 = r.real(42, twoPi);
            double sweep = std::fmod(std::fmod(t1 - t0, twoPi) + twoPi, twoPi);
            const bool whole = sweep < 1e-9 || std::abs(sweep - twoPi) < 1e-9;
            if (whole)
                sweep = twoPi;
            std::vector<CadPoint> points;
            arcPoints(points, centre, std::hypot(major.x, major.y),
                      std::hypot(major.x, major.y) * ratio, std::atan2(major.y, major.x), t0, sweep,
                      true);
            if (whole)
                points.pop_back();
            polyline(std::move(points), whole);
        } else if (r.type == "SPLINE") {
            std::vector<CadPoint> control, fit;
            std::vector<double> knots, weights;
            for (size_t i = 0; i < r.groups.size(); ++i) {
                const int c = r.groups[i].first;
                const double v = number(r.groups[i].second);
                const double y = i + 1 < r.groups.size() && r.groups[i + 1].first == c + 10
                                     ? number(r.groups[i + 1].second)
                                     : 0;
                if (c == 10)
                    control.push_back({v, y});
                else if (c == 11)
                    fit.push_back({v, y});
                else if (c == 40)
                    knots.push_back(v);
                else if (c == 41)
                    weights.push_back(v);
            }
            const int degree = r.whole(71, 3);
            if (degree > maxSplineDegree || control.size() > maxSplineControlPoints
                || fit.size() > maxSplineControlPoints) {
                refuse(r, QStringLiteral("阶数 %1、控制点 %2 个，超过 %3 阶或 %4 个的上限")
                              .arg(degree)
                              .arg(control.size())
                              .arg(maxSplineDegree)
                              .arg(maxSplineControlPoints));
                return;
            }
            std::vector<CadPoint> points = control.empty() ? fit : splinePoints(control, weights, knots, degree);
            polyline(std::move(points), r.whole(70) & 1);
        } else if (r.type == "SOLID") {
            e.kind = Entity::Solid;
            e.points = {p(r.point(10)), p(r.point(11)), p(r.point(12)), p(r.point(13))};
        } else if (r.type == "TEXT" || r.type == "ATTDEF") {
            if (r.type == "ATTDEF" && depth > 0)
                return; // a block's attribute definition shows only through its attribute
            const bool definition = r.type == "ATTDEF";
            e.kind = definition ? Entity::Attdef : Entity::Text;
            e.points = {p(r.point(10))};
            e.height = r.real(40) * p.lengthScale();
            e.scale = r.real(41, 1);
            e.rotation = std::fmod(r.real(50) + p.rotationDeg(), 360);
            if (!std::isfinite(e.rotation))
                e.rotation = 0;
            e.text = text(r.value(1));
            e.style = r.has(7) ? text(r.value(7)) : QStringLiteral("Standard");
            e.horizontal = r.whole(72);
            e.vertical = r.whole(definition ? 74 : 73);
            e.alignment = e.horizontal || e.vertical ? p(r.point(11)) : e.points.front();
            if (definition)
                e.tag = text(r.value(2));
        } else if (r.type == "MTEXT") {
            QString raw;
            for (const auto &[c, v] : r.groups)
                if (c == 3)
                    raw += text(v);
            raw += text(r.value(1));
            if (used() + size_t(1 + paragraphBreaks(r)) > maxEntities) {
                refuse(r, QStringLiteral("有 %1 个段落，图元超过 %2 个的上限").arg(paragraphBreaks(r) + 1, 0, 'f', 0).arg(maxEntities));
                return;
            }
            const QStringList lines = plainMtext(raw).split(QLatin1Char('\n'));
            const double height = r.real(40) * p.lengthScale();
            const CadPoint at = p(r.point(10));
            // The attachment point (1 top left … 9 bottom right) as TEXT's alignment.
            const int attachment = std::clamp(r.whole(71, 1), 1, 9);
            const int horizontal = (attachment - 1) % 3, vertical = 3 - (attachment - 1) / 3;
            for (int i = 0; i < lines.size(); ++i) {
                Entity line = e;
                line.kind = Entity::Text;
                line.text = lines[i];
                line.height = height;
                line.style = r.has(7) ? text(r.value(7)) : QStringLiteral("Standard");
                line.points = {{at.x, at.y - i * height * 5 / 3}};
                line.horizontal = horizontal;
                line.vertical = vertical;
                line.alignment = line.points.front();
                if (!usable(line)) {
                    refuse(r, QStringLiteral("坐标或字高不是可用的数"));
                    return;
                }
                contents.entities.push_back(std::move(line));
            }
            ++contents.drawn[kind];
            return;
        } else if (r.type == "INSERT") {
            insert(r, place, e.layer, e.colour, depth, stack);
            return;
        } else {
            ++contents.skipped[kind];
            return;
        }
        if (!usable(e)) {
            refuse(r, QStringLiteral("坐标或尺寸不是可用的数（无穷、非数或超过 %1）").arg(maxCoordinate, 0, 'g'));
            return;
        }
        ++contents.drawn[kind];
        contents.entities.push_back(std::move(e));
    }

    // Explodes a block reference (an array of them, for MINSERT's columns and rows).
    void insert(const Record &r, const Placement &place, const QString &layer, int colour,
                int depth, std::vector<std::string> &stack)
    {
        const std::string name = upper(text(r.value(2)));
        const auto block = blocks.find(name);
        if (block == blocks.end() || depth >= maxBlockDepth
            || std::find(stack.begin(), stack.end(), name) != stack.end()) {
            ++contents.skipped[QStringLiteral("INSERT")];
            return;
        }
        const CadPoint at = r.point(10);
        const double sx = r.real(41, 1), sy = r.real(42, 1);
        const double angle = r.real(50) * M_PI / 180;
        const int columns = std::max(1, r.whole(70, 1)), rows = std::max(1, r.whole(71, 1));
        // Counted before it is expanded: an array of nested blocks can ask
        // for more than any memory holds.
        const double needed = double(columns) * double(rows) * (1 + expandedCount(name, depth + 1));
        if (needed > double(maxEntities - std::min(maxEntities, used()))) {
            refuse(r, QStringLiteral("块“%1”（%2 列 × %3 行）展开后约有 %4 个图元，超过 %5 个的上限")
                          .arg(QString::fromStdString(name))
                          .arg(columns)
                          .arg(rows)
                          .arg(needed, 0, 'g', 3)
                          .arg(maxEntities));
            return;
        }
        if (!usable(at.x) || !usable(at.y) || !std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(angle)
            || std::abs(sx) > maxCoordinate || std::abs(sy) > maxCoordinate) {
            refuse(r, QStringLiteral("插入点或比例不是可用的数"));
            return;
        }
        const double columnSpacing = r.real(44), rowSpacing = r.real(45);
        const double c = std::cos(angle), s = std::sin(angle);
        stack.push_back(name);
        for (int row = 0; row < rows && !tooLarge; ++row)
            for (int column = 0; column < columns && !tooLarge; ++column) {
                const double ox = column * columnSpacing, oy = row * rowSpacing;
                Placement local;
                local.m00 = c * sx, local.m01 = -s * sy;
                local.m10 = s * sx, local.m11 = c * sy;
                const double bx = -block->second.base.x * sx + ox, by = -block->second.base.y * sy + oy;
                local.tx = at.x + c * bx - s * by;
                local.ty = at.y + s * bx + c * by;
                Placement whole = place.after(r.real(230, 1) < 0 ? mirrored(local) : local);
                const CadPoint base = whole(block->second.base);
                if (!usable(base.x) || !usable(base.y)) {
                    refuse(r, QStringLiteral("插入后的坐标不是可用的数"));
                    return;
                }
                contents.insertions.push_back(base);
                for (const Unit &unit : block->second.units)
                    draw(unit, whole, layer, colour, depth + 1, stack);
            }
        stack.pop_back();
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

    static std::string upper(const QString &name) { return name.toUpper().toStdString(); }

private:
    std::map<std::string, double> m_expanded; // by block, see expandedCount
    // An insertion in a plane seen from below: x mirrored.
    static Placement mirrored(Placement p)
    {
        p.m00 = -p.m00, p.m01 = -p.m01, p.tx = -p.tx;
        return p;
    }
};

// Groups a section's records into entities with their vertices and attributes.
void addRecord(std::vector<Unit> &units, Record record)
{
    if (record.type == "VERTEX" || record.type == "ATTRIB") {
        if (!units.empty())
            units.back().vertices.push_back(std::move(record));
        return;
    }
    if (record.type == "SEQEND")
        return;
    units.push_back({std::move(record), {}});
}

} // namespace

const std::vector<QString> &dxfDrawnKinds()
{
    static const std::vector<QString> kinds = {
        QStringLiteral("LINE"),   QStringLiteral("LWPOLYLINE"), QStringLiteral("POLYLINE"),
        QStringLiteral("ARC"),    QStringLiteral("CIRCLE"),     QStringLiteral("ELLIPSE"),
        QStringLiteral("SPLINE"), QStringLiteral("SOLID"),      QStringLiteral("TEXT"),
        QStringLiteral("MTEXT"),  QStringLiteral("ATTDEF")};
    return kinds;
}

Result<DxfContents> readDxfFile(const QString &file)
{
    if (!QFileInfo(file).isFile())
        return fail(QStringLiteral("找不到图形文件 %1").arg(QDir::toNativeSeparators(file)));
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("无法读取图形文件 %1").arg(QDir::toNativeSeparators(file)));
    return readDxfBytes(in.readAll(), file);
}

Result<DxfContents> readDxfBytes(const QByteArray &bytes, const QString &name)
{
    PairReader reader(std::string_view(bytes.constData(), size_t(bytes.size())));

    ContentsBuilder builder;
    std::vector<Unit> model;
    BlockDefinition *block = nullptr;
    std::string_view section;
    std::string_view headerVariable;
    Record record;
    bool sawEof = false;
    bool utf8Version = false;
    // Files the record collected so far where it belongs.
    auto finish = [&] {
        if (record.type.empty())
            return;
        if (section == "ENTITIES") {
            addRecord(model, std::move(record));
        } else if (section == "TABLES" && record.type == "STYLE") {
            builder.style(record);
        } else if (section == "BLOCKS") {
            if (record.type == "BLOCK") {
                const std::string key =
                    ContentsBuilder::upper(dxfDecoded(record.value(2), builder.gbk));
                block = &builder.blocks[key];
                *block = BlockDefinition{record.point(10), {}};
            } else if (record.type == "ENDBLK") {
                block = nullptr;
            } else if (block) {
                addRecord(block->units, std::move(record));
            }
        }
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
                record.line = reader.lineNumber() - 1;
            }
            continue;
        }
        if (code == 2 && section.empty() && record.type.empty()) {
            section = PairReader::trimmed(value);
            if (section != "HEADER")
                builder.gbk = builder.gbk && !utf8Version; // header read: settle the encoding
            continue;
        }
        if (section == "HEADER") {
            if (code == 9) {
                headerVariable = PairReader::trimmed(value);
            } else if (headerVariable == "$DWGCODEPAGE") {
                const auto page = PairReader::trimmed(value);
                builder.gbk = page == "ANSI_936" || page == "ansi_936";
            } else if (headerVariable == "$INSUNITS" && code == 70) {
                builder.contents.insUnits = integer(value);
            } else if (headerVariable == "$MEASUREMENT" && code == 70) {
                builder.contents.measurement = integer(value);
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
    if (!sawEof && model.empty())
        return fail(QStringLiteral("无法读取图形文件 %1").arg(QDir::toNativeSeparators(name)));
    // A file cut off (no EOF) would give part of the drawing as if it were all.
    if (!sawEof)
        return fail(QStringLiteral("图形文件 %1 不完整（没有结尾的 EOF），可能只复制了一部分")
                        .arg(QDir::toNativeSeparators(name)));
    if (utf8Version)
        builder.gbk = false;
    std::vector<std::string> stack;
    for (const Unit &unit : model) {
        if (unit.head.whole(67) == 1) // paper space
            continue;
        builder.draw(unit, Placement(), QString(), 256, 0, stack);
    }
    if (!builder.refused.isEmpty())
        return fail(QStringLiteral("图形文件 %1 无法使用：%2").arg(QDir::toNativeSeparators(name), builder.refused));
    if (builder.tooLarge)
        return fail(QStringLiteral("图形文件 %1 的图元超过 %2 个（块的阵列过大），无法读取")
                        .arg(QDir::toNativeSeparators(name))
                        .arg(maxEntities));
    return std::move(builder.contents);
}
