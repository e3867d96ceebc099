#include "cad/planpositions.h"

#include "base/inputfile.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace {

double distance(CadPoint a, CadPoint b)
{
    return std::hypot(a.x - b.x, a.y - b.y);
}

} // namespace

PlanReading planPositions(const DxfContents &contents, const std::vector<Point> &points)
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
        reading.rows.push_back({0, point.name, {place.x, place.y}});
    }
    return reading;
}

Result<PlanReading> readPlanPositions(const QString &path, const std::vector<Point> &points)
{
    auto file = openInputFile(path, qint64(1) << 30);
    if (!file)
        return file.failure();
    const QByteArray bytes = (*file)->readAll();
    const auto contents = readDxfBytes(bytes, path);
    if (!contents)
        return contents.failure();
    PlanReading reading = planPositions(*contents, points);
    reading.file = {QFileInfo(path).fileName(), bytes};
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
    return planBackground(*contents);
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
