#include "cad/planpositions.h"

#include "base/textnumber.h"

#include "base/inputfile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

double distance(CadPoint a, CadPoint b)
{
    return std::hypot(a.x - b.x, a.y - b.y);
}

} // namespace

namespace {

// The lengths a drawing may be in: its $INSUNITS code, the word a user
// types for it (only the metric lengths of a building plan), a unit's
// length in metres and its name.
struct KnownUnit
{
    int insUnits;
    const char *word; // nullptr: not typed
    double metres;
    const char16_t *name;
};
constexpr KnownUnit knownUnits[] = {
    {4, "mm", 0.001, u"毫米"},     {5, "cm", 0.01, u"厘米"},       {14, "dm", 0.1, u"分米"},
    {6, "m", 1, u"米"},            {7, nullptr, 1000, u"千米"},    {1, nullptr, 0.0254, u"英寸"},
    {2, nullptr, 0.3048, u"英尺"}, {10, nullptr, 0.9144, u"码"},
};

PlanUnit planUnitOf(const KnownUnit &known)
{
    return {known.metres, QString::fromUtf16(known.name)};
}

} // namespace

std::optional<PlanUnit> planUnitNamed(const QString &word)
{
    const QString w = word.trimmed().toLower();
    for (const KnownUnit &known : knownUnits)
        if (known.word && (w == QLatin1String(known.word) || w == QString::fromUtf16(known.name)))
            return planUnitOf(known);
    return std::nullopt;
}

std::optional<PlanUnit> statedPlanUnit(const DxfContents &contents)
{
    for (const KnownUnit &known : knownUnits)
        if (known.insUnits == contents.insUnits)
            return planUnitOf(known);
    // Unitless (0) or a unit no building plan uses: $MEASUREMENT says metric
    // or imperial, not which length, so the extent decides.
    return std::nullopt;
}

PlanUnit likelyPlanUnit(const std::vector<PositionRow> &drawn)
{
    if (drawn.size() < 2)
        return PlanUnit{};
    double left = drawn.front().at.x, right = left, bottom = drawn.front().at.y, top = bottom;
    for (const PositionRow &row : drawn) {
        left = std::min(left, row.at.x), right = std::max(right, row.at.x);
        bottom = std::min(bottom, row.at.y), top = std::max(top, row.at.y);
    }
    // No building is a kilometre wide; in millimetres every one over a metre is.
    return std::max(right - left, top - bottom) > 1000 ? *planUnitNamed(QStringLiteral("mm")) : PlanUnit{};
}

PlanReading inPlanUnit(PlanReading reading, const PlanUnit &unit, bool stated)
{
    reading.unit = unit;
    reading.unitStated = stated;
    reading.rows = reading.drawn;
    for (PositionRow &row : reading.rows)
        row.at = {row.at.x * unit.metres, row.at.y * unit.metres};
    PlanBackground metres = simplifiedBackground(reading.background);
    for (auto &line : metres.lines)
        for (auto &[x, y] : line)
            x *= unit.metres, y *= unit.metres;
    reading.file.data = planBackgroundDxf(metres);
    reading.summary.unit = stated ? QStringLiteral("图形单位：%1").arg(unit.name)
                                  : QStringLiteral("图形未注明单位，按%1读取").arg(unit.name);
    return reading;
}

QString planUnitDoubt(const PlanReading &reading)
{
    // The drawing's lines, else the points it places.
    double left = 0, right = 0, bottom = 0, top = 0;
    bool any = false;
    const auto take = [&](double x, double y) {
        if (!std::isfinite(x) || !std::isfinite(y))
            return;
        if (!any) {
            left = right = x, bottom = top = y, any = true;
            return;
        }
        left = std::min(left, x), right = std::max(right, x), bottom = std::min(bottom, y), top = std::max(top, y);
    };
    for (const auto &line : reading.background.lines)
        for (const auto &[x, y] : line)
            take(x, y);
    if (!any || reading.drawn.size() >= 2)
        for (const PositionRow &row : reading.drawn)
            take(row.at.x, row.at.y);
    if (!any)
        return QString();
    const double width = std::max(right - left, top - bottom) * reading.unit.metres;
    if (width >= narrowestBuilding && width <= widestBuilding)
        return QString();
    const QString how = reading.unitStated ? QStringLiteral("按图形注明的单位（%1）").arg(reading.unit.name)
                                           : QStringLiteral("按%1").arg(reading.unit.name);
    return QStringLiteral("%1读取时，平面图宽 %2 m，%3；图形单位可能不对")
        .arg(how, width < 10 ? formatFixed(width, 2) : formatFixed(width, 0),
             width < narrowestBuilding ? QStringLiteral("不足 3 m") : QStringLiteral("超过 3 km"));
}

PlanReading planPositions(const DxfContents &contents, const std::vector<Point> &points,
                          std::optional<PlanUnit> asked)
{
    using Entity = Drawing::Entity;
    PlanReading reading;
    reading.summary.notDrawn = contents.skipped;
    std::map<QString, std::vector<const Entity *>> texts;
    for (const Entity &e : contents.entities)
        if (e.kind == Entity::Text && !e.text.trimmed().isEmpty())
            texts[positionKey(e.text)].push_back(&e);
    std::vector<CadPoint> centres = contents.insertions;
    for (const Entity &e : contents.entities)
        if (e.kind == Entity::Circle)
            centres.push_back(e.points.front());
    std::set<QString> seen;
    for (const Point &point : points) {
        const QString key = positionKey(point.name);
        if (key.isEmpty() || !seen.insert(key).second)
            continue;
        const auto found = texts.find(key);
        if (found == texts.end()) {
            reading.summary.missing << point.name.trimmed();
            continue;
        }
        if (found->second.size() > 1) {
            reading.summary.twice << point.name.trimmed();
            continue;
        }
        const Entity &text = *found->second.front();
        const CadPoint at = text.points.front();
        CadPoint place = at;
        double nearest = 3 * text.height;
        for (const CadPoint &centre : centres)
            if (const double d = distance(centre, at); d <= nearest) {
                nearest = d;
                place = centre;
            }
        reading.drawn.push_back({0, point.name, {place.x, place.y}});
    }
    reading.background = planBackground(contents);
    const auto stated = statedPlanUnit(contents);
    const PlanUnit unit = asked ? *asked : stated ? *stated : likelyPlanUnit(reading.drawn);
    return inPlanUnit(std::move(reading), unit, asked || stated);
}

Result<PlanReading> readPlanPositions(const QString &path, const std::vector<Point> &points,
                                     std::optional<PlanUnit> asked)
{
    auto file = openInputFile(path, qint64(1) << 30);
    if (!file)
        return file.failure();
    const QByteArray bytes = (*file)->readAll();
    const auto contents = readDxfBytes(bytes, path);
    if (!contents)
        return contents.failure();
    PlanReading reading = planPositions(*contents, points, asked);
    reading.file.name = QFileInfo(path).fileName();
    return reading;
}

PlanBackground planBackground(const DxfContents &contents)
{
    using Entity = Drawing::Entity;
    PlanBackground background;
    const double step = 2 * std::acos(0.999);
    for (const Entity &e : contents.entities) {
        std::vector<std::pair<double, double>> line;
        switch (e.kind) {
        case Entity::Line:
        case Entity::Polyline:
            for (const CadPoint &p : e.points)
                line.emplace_back(p.x, p.y);
            if (e.closed && e.points.size() > 2)
                line.emplace_back(e.points.front().x, e.points.front().y);
            break;
        case Entity::Circle:
        case Entity::Arc: {
            const double start = e.kind == Entity::Arc ? e.startAngle * M_PI / 180 : 0;
            double sweep = 2 * M_PI;
            if (e.kind == Entity::Arc) {
                sweep = std::fmod(e.endAngle - e.startAngle + 360, 360) * M_PI / 180;
                if (sweep == 0)
                    sweep = 2 * M_PI;
            }
            const int n = std::max(2, int(std::ceil(sweep / step)));
            for (int i = 0; i <= n; ++i) {
                const double a = start + sweep * i / n;
                line.emplace_back(e.points[0].x + e.radius * std::cos(a),
                                  e.points[0].y + e.radius * std::sin(a));
            }
            break;
        }
        default:
            break;
        }
        if (line.size() >= 2)
            background.lines.push_back(std::move(line));
    }
    return background;
}

Result<PlanBackground> planBackground(const PlanDrawingFile &drawing)
{
    const auto contents = readDxfBytes(drawing.data, drawing.name);
    if (!contents)
        return contents.failure();
    // A drawing kept by an older version is its file as read: thinned here.
    return simplifiedBackground(planBackground(*contents));
}

PlanBackground simplifiedBackground(const PlanBackground &background, size_t maxSegments)
{
    size_t segments = 0;
    double left = 0, right = 0, bottom = 0, top = 0;
    bool any = false;
    for (const auto &line : background.lines) {
        segments += line.size() - 1;
        for (const auto &[x, y] : line) {
            if (!any)
                left = right = x, bottom = top = y, any = true;
            left = std::min(left, x), right = std::max(right, x);
            bottom = std::min(bottom, y), top = std::max(top, y);
        }
    }
    if (segments <= maxSegments)
        return background;
    // Vertices snapped to a grid of the tolerance, a vertex on the last
    // one's cell dropped, a line left on one cell dropped, and a line that
    // snaps onto another one kept once: what the plan cannot tell apart.
    double tolerance = std::max(right - left, top - bottom) / 4000;
    for (;;) {
        PlanBackground thinned;
        std::set<std::vector<std::pair<qint64, qint64>>> seen;
        size_t kept = 0;
        for (const auto &line : background.lines) {
            std::vector<std::pair<qint64, qint64>> cells;
            for (const auto &[x, y] : line) {
                const std::pair<qint64, qint64> cell{qint64(std::llround((x - left) / tolerance)),
                                                     qint64(std::llround((y - bottom) / tolerance))};
                if (cells.empty() || cells.back() != cell)
                    cells.push_back(cell);
            }
            if (cells.size() < 2 || !seen.insert(cells).second)
                continue;
            std::vector<std::pair<double, double>> out;
            out.reserve(cells.size());
            for (const auto &[i, j] : cells)
                out.emplace_back(left + double(i) * tolerance, bottom + double(j) * tolerance);
            kept += out.size() - 1;
            thinned.lines.push_back(std::move(out));
        }
        if (kept <= maxSegments || !(tolerance > 0))
            return thinned;
        tolerance *= 2;
    }
}

QByteArray planBackgroundDxf(const PlanBackground &background)
{
    QByteArray out = "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n9\n$INSUNITS\n70\n6\n0\nENDSEC\n"
                     "0\nSECTION\n2\nENTITIES\n";
    out.reserve(qsizetype(background.lines.size()) * 64);
    for (const auto &line : background.lines) {
        out += "0\nLWPOLYLINE\n100\nAcDbEntity\n8\n0\n100\nAcDbPolyline\n90\n"
               + QByteArray::number(qsizetype(line.size())) + "\n70\n0\n";
        for (const auto &[x, y] : line)
            out += "10\n" + QByteArray::number(x, 'g', 15) + "\n20\n" + QByteArray::number(y, 'g', 15) + "\n";
    }
    out += "0\nENDSEC\n0\nEOF\n";
    return out;
}

Result<PlanBackground> storedPlanBackground(ProjectDatabase &project)
{
    const auto stored = project.planDrawing();
    if (!stored)
        return stored.failure();
    if (!*stored)
        return PlanBackground();
    return planBackground(**stored);
}

Result<PlanBackground> storedPlanBackground(const QString &projectPath)
{
    ProjectDatabase project;
    if (auto opened = project.open(projectPath); !opened)
        return opened.failure();
    auto background = storedPlanBackground(project);
    if (!background)
        return fail(QStringLiteral("工程中的平面图无法读取：%1").arg(background.error()));
    return background;
}
