// The levelling network: stations from the readings, sections between
// network points, its connected parts and their datums, the closures of
// its lines and its independent loops.
#include "survey/levelling.h"

#include "survey/levellingparts.h"
#include "domain/projectsnapshot.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <unordered_set>

using namespace levelparts;

namespace {

// Readings of one levelling line gathered into stations: first and second
// back and fore readings by their kind, whatever order the method has; a
// kind read again replaces the earlier reading.
struct OpenStation
{
    std::optional<LevelReading> b1, f1, b2, f2;
    std::vector<LevelReading> intermediates;
    bool empty() const { return !b1 && !f1 && !b2 && !f2; }
    bool complete(bool doubleRead) const
    {
        return b1 && f1 && (!doubleRead || (b2 && f2));
    }
    std::optional<LevelReading> &slot(LevelReading::Kind kind)
    {
        switch (kind) {
        case LevelReading::Back1:
            return b1;
        case LevelReading::Fore1:
            return f1;
        case LevelReading::Back2:
            return b2;
        default:
            return f2;
        }
    }
};

// A turning point's id, as a key: digits, or TP and digits.
bool looksLikeTurningPoint(const QString &key)
{
    qsizetype at = key.startsWith(QLatin1String("tp")) ? 2 : 0;
    for (; at < key.size(); ++at)
        if (!key[at].isDigit())
            return false;
    return !key.isEmpty();
}

} // namespace

namespace {

// The stations of one recorded line, with their values and checks.
void buildStations(const RecordedLine &recorded, int lineIndex, int fileIndex, const LevelGrade &grade,
                   std::vector<Station> *stations)
{
    bool doubleRead = recorded.perSight == 2;
    if (recorded.perSight == 0)
        for (const LevelReading &r : recorded.readings)
            doubleRead |= r.kind == LevelReading::Back2 || r.kind == LevelReading::Fore2;
    double cumulative = 0;
    OpenStation open;
    const auto close = [&] {
        if (!open.b1 || !open.f1) {
            open = OpenStation();
            return; // an unfinished station carries nothing
        }
        Station s;
        s.no = int(stations->size()) + 1;
        s.lineIndex = lineIndex;
        s.fileIndex = fileIndex;
        s.backLine = open.b1->line;
        s.foreLine = open.f1->line;
        s.back = open.b1->point;
        s.fore = open.f1->point;
        s.b1 = open.b1->reading;
        s.f1 = open.f1->reading;
        if (open.b2)
            s.b2 = open.b2->reading;
        if (open.f2)
            s.f2 = open.f2->reading;
        const auto mean = [](const std::optional<LevelReading> &a,
                             const std::optional<LevelReading> &b) -> std::optional<double> {
            std::vector<double> d;
            for (const auto *r : {&a, &b})
                if (*r && (*r)->distance)
                    d.push_back(*(*r)->distance);
            if (d.empty())
                return std::nullopt;
            return d.size() == 1 ? d[0] : (d[0] + d[1]) / 2;
        };
        s.backDistance = mean(open.b1, open.b2);
        s.foreDistance = mean(open.f1, open.f2);
        if (s.b2 && s.f2) {
            s.dh = ((*s.b1 - *s.f1) + (*s.b2 - *s.f2)) / 2;
            s.stationDiffMm = ((*s.b1 - *s.f1) - (*s.b2 - *s.f2)) * 1000;
        } else {
            s.dh = *s.b1 - *s.f1;
        }
        if (s.backDistance && s.foreDistance) {
            s.sightDiff = *s.backDistance - *s.foreDistance;
            cumulative += *s.sightDiff;
        }
        s.cumSightDiff = cumulative;
        s.intermediates = open.intermediates;
        // The grade's limits.
        for (const auto &[name, sight] :
             {std::pair{QStringLiteral("后视距"), s.backDistance},
              std::pair{QStringLiteral("前视距"), s.foreDistance}}) {
            if (!sight)
                continue;
            if (grade.sightMin && *sight < *grade.sightMin)
                s.violations << QStringLiteral("%1 %2 m 短于 %3 m").arg(name).arg(*sight, 0, 'f', 2).arg(*grade.sightMin);
            if (grade.sightMax && *sight > *grade.sightMax)
                s.violations << QStringLiteral("%1 %2 m 长于 %3 m").arg(name).arg(*sight, 0, 'f', 2).arg(*grade.sightMax);
        }
        if (s.sightDiff && grade.sightDiffMax && std::fabs(*s.sightDiff) > *grade.sightDiffMax)
            s.violations << QStringLiteral("前后视距差 %1 m 超过 %2 m").arg(*s.sightDiff, 0, 'f', 2).arg(*grade.sightDiffMax);
        if (grade.cumDiffMax && std::fabs(cumulative) > *grade.cumDiffMax)
            s.violations << QStringLiteral("视距累积差 %1 m 超过 %2 m").arg(cumulative, 0, 'f', 2).arg(*grade.cumDiffMax);
        for (const auto &r : {s.b1, s.f1, s.b2, s.f2}) {
            if (!r)
                continue;
            if (grade.lineOfSightMin && *r < *grade.lineOfSightMin)
                s.violations << QStringLiteral("视线高度 %1 m 低于 %2 m").arg(*r, 0, 'f', 5).arg(*grade.lineOfSightMin);
            if (grade.lineOfSightMax && *r > *grade.lineOfSightMax)
                s.violations << QStringLiteral("视线高度 %1 m 高于 %2 m").arg(*r, 0, 'f', 5).arg(*grade.lineOfSightMax);
        }
        if (s.stationDiffMm && grade.stationDiffMax && std::fabs(*s.stationDiffMm) > *grade.stationDiffMax)
            s.violations << QStringLiteral("两次读数所测高差之差 %1 mm 超过 %2 mm")
                                .arg(*s.stationDiffMm, 0, 'f', 2)
                                .arg(*grade.stationDiffMax);
        stations->push_back(s);
        open = OpenStation();
    };
    for (const LevelReading &r : recorded.readings) {
        if (r.kind == LevelReading::Intermediate) {
            open.intermediates.push_back(r);
            continue;
        }
        if (open.complete(doubleRead))
            close();
        open.slot(r.kind) = r; // a reading taken again replaces the first
    }
    close();
}


// Which ids are network points: the fixed, entered and project points, and
// any id that is not a turning point's (digits, or TP and digits).
class NetworkPoints
{
public:
    NetworkPoints(const LevelSettings &settings, const std::vector<LevelFile> &files)
    {
        for (const auto &[id, h] : settings.fixed)
            m_keys.insert(pointKey(id));
        for (const QString &known : settings.knownPoints)
            m_keys.insert(pointKey(known));
        for (const LevelFile &file : files)
            for (const EnteredHeight &entered : file.enteredHeights)
                m_keys.insert(pointKey(entered.point));
    }
    bool isNode(const QString &id) const
    {
        const QString key = pointKey(id);
        return m_keys.count(key) > 0 || !looksLikeTurningPoint(key);
    }

private:
    std::unordered_set<QString> m_keys;
};

// A tree from the datum points (a root joined to each fixed point by its
// height) over the sections, with the stations, length and height summed
// from the root to each point.
struct Tree
{
    static constexpr int root = -1;
    std::vector<int> parent, depth, stations;
    std::vector<double> height, length;
    std::vector<bool> inTree; // by section

    Tree(const Graph &g, const std::vector<Section> &sections)
        : parent(size_t(g.points()), -2), depth(size_t(g.points()), 0),
          stations(size_t(g.points()), 0), height(size_t(g.points()), 0),
          length(size_t(g.points()), 0), inTree(size_t(g.sections()), false)
    {
        std::deque<int> open;
        for (int v = 0; v < g.points(); ++v)
            if (g.fixedHeight[size_t(v)]) {
                parent[size_t(v)] = root;
                depth[size_t(v)] = 1;
                height[size_t(v)] = *g.fixedHeight[size_t(v)];
                open.push_back(v);
            }
        while (!open.empty()) {
            const int at = open.front();
            open.pop_front();
            for (const int s : g.sectionsAt[size_t(at)]) {
                const int other = g.otherEnd(s, at);
                if (parent[size_t(other)] != -2)
                    continue;
                const Section &section = sections[size_t(s)];
                parent[size_t(other)] = at;
                depth[size_t(other)] = depth[size_t(at)] + 1;
                height[size_t(other)] =
                    height[size_t(at)] + (g.ends[size_t(s)].first == at ? section.dh : -section.dh);
                stations[size_t(other)] = stations[size_t(at)] + section.stations;
                length[size_t(other)] = length[size_t(at)] + section.length;
                inTree[size_t(s)] = true;
                open.push_back(other);
            }
        }
    }
    // Where the ways down from two points meet (the root when they do not).
    int meeting(int x, int y) const
    {
        while (x != y) {
            if (x != root && (y == root || depth[size_t(x)] >= depth[size_t(y)]))
                x = parent[size_t(x)];
            else
                y = parent[size_t(y)];
        }
        return x;
    }
    // The way from a point down to `stop` (included), or to the root.
    QStringList path(const Graph &g, int v, int stop) const
    {
        QStringList way;
        while (v != root) {
            way << g.shown[size_t(v)];
            if (v == stop)
                break;
            v = parent[size_t(v)];
        }
        return way;
    }
};

} // namespace

namespace levelparts {


// Step 1: the stations line by line; each line the level summed itself is
// checked against its own count and sum.
std::vector<LineSpan> stationsOfLines(const std::vector<LevelFile> &files,
                                      const LevelSettings &settings, LevelResult &result)
{
    std::vector<LineSpan> spans;
    for (size_t f = 0; f < files.size(); ++f) {
        const LevelFile &file = files[f];
        result.warnings << file.warnings;
        for (const RecordedLine &recorded : file.lines) {
            const size_t before = result.stations.size();
            buildStations(recorded, int(spans.size()), int(f), settings.grade, &result.stations);
            const int built = int(result.stations.size() - before);
            double sum = 0;
            for (size_t i = before; i < result.stations.size(); ++i)
                sum += result.stations[i].dh;
            const bool countDiffers = recorded.levelStations && *recorded.levelStations != built;
            const bool sumDiffers = recorded.levelSumDh && std::fabs(sum - *recorded.levelSumDh) > 0.05e-3;
            if (countDiffers || sumDiffers)
                result.warnings << QStringLiteral("%1 水准路线 %2：本程序得 %3 站、高差之和 %4 m，"
                                                  "与水准仪记录的 %5 站、%6 m 不符")
                                       .arg(where(file.path, recorded.fileLine))
                                       .arg(recorded.number)
                                       .arg(built)
                                       .arg(figure(sum, 5),
                                            recorded.levelStations ? QString::number(*recorded.levelStations)
                                                                   : QStringLiteral("—"),
                                            recorded.levelSumDh ? figure(*recorded.levelSumDh, 5)
                                                                : QStringLiteral("—"));
            if (built > 0)
                spans.push_back({before, result.stations.size(), recorded.number});
        }
    }
    return spans;
}

// The sections between network points, line by line.
void sectionsOfLines(const std::vector<LineSpan> &spans, const LevelSettings &settings,
                     const std::vector<LevelFile> &files, LevelResult &result)
{
    const NetworkPoints network(settings, files);
    for (const LineSpan &span : spans) {
        Section section;
        section.from = result.stations[span.first].back;
        for (size_t i = span.first; i < span.end; ++i) {
            const Station &s = result.stations[i];
            section.dh += s.dh;
            section.stations += 1;
            section.length += s.length();
            section.stationIndices.push_back(int(i));
            if (i + 1 == span.end || network.isNode(s.fore)) {
                section.to = s.fore;
                result.sections.push_back(section);
                section = Section();
                section.from = s.fore;
            }
        }
    }
}


// Step 2: the graph of the sections and its connected parts.
Graph graphOf(LevelResult &result)
{
    Graph g;
    const auto nodeIndex = [&](const QString &id) {
        const auto [at, added] = g.nodeOf.try_emplace(pointKey(id), g.points());
        if (added)
            g.shown.push_back(id);
        return at->second;
    };
    for (const Section &section : result.sections) {
        const int from = nodeIndex(section.from); // numbered as met: from, then to
        g.ends.emplace_back(from, nodeIndex(section.to));
    }
    g.sectionsAt.resize(size_t(g.points()));
    for (int i = 0; i < g.sections(); ++i) {
        const auto [a, b] = g.ends[size_t(i)];
        g.sectionsAt[size_t(a)].push_back(i);
        if (b != a)
            g.sectionsAt[size_t(b)].push_back(i);
    }
    g.partOf.assign(size_t(g.points()), -1);
    for (int start = 0; start < g.points(); ++start) {
        if (g.partOf[size_t(start)] >= 0)
            continue;
        const int p = int(result.parts.size());
        result.parts.emplace_back();
        std::deque<int> open{start};
        g.partOf[size_t(start)] = p;
        while (!open.empty()) {
            const int at = open.front();
            open.pop_front();
            result.parts.back().points << g.shown[size_t(at)];
            for (const int s : g.sectionsAt[size_t(at)])
                if (const int other = g.otherEnd(s, at); g.partOf[size_t(other)] < 0) {
                    g.partOf[size_t(other)] = p;
                    open.push_back(other);
                }
        }
    }
    g.fixedHeight.resize(size_t(g.points()));
    return g;
}


// Step 3: each part's datum: the fixed points given in it, else the first
// height entered on the level for one of its points, else its first point
// at 0 (its heights then relative). Returns the entered heights that fixed
// a part.
std::set<const EnteredHeight *> chooseDatums(const std::unordered_map<QString, double> &fixedByKey,
                                             const std::vector<EnteredIn> &entered, Graph &g,
                                             LevelResult &result)
{
    std::vector<bool> hasDatum(result.parts.size(), false);
    const auto fix = [&](int v, LevelPart::Datum datum, double h) {
        LevelPart &part = result.parts[size_t(g.partOf[size_t(v)])];
        part.datum = datum;
        part.datumPoints << g.shown[size_t(v)];
        g.fixedHeight[size_t(v)] = h;
        hasDatum[size_t(g.partOf[size_t(v)])] = true;
    };
    for (int v = 0; v < g.points(); ++v)
        if (const auto found = fixedByKey.find(pointKey(g.shown[size_t(v)])); found != fixedByKey.end())
            fix(v, LevelPart::Fixed, found->second);
    std::set<const EnteredHeight *> datumEntered;
    for (const auto &[file, e] : entered) {
        const auto found = g.nodeOf.find(pointKey(e->point));
        if (found == g.nodeOf.end() || hasDatum[size_t(g.partOf[size_t(found->second)])])
            continue;
        fix(found->second, LevelPart::Entered, e->height);
        datumEntered.insert(e);
    }
    for (size_t p = 0; p < result.parts.size(); ++p)
        if (!hasDatum[p]) {
            LevelPart &part = result.parts[p];
            part.datum = LevelPart::Relative;
            part.datumPoints << part.points.front();
            g.fixedHeight[size_t(g.node(part.points.front()))] = 0.0;
        }
    for (int v = 0; v < g.points(); ++v)
        result.partIndex[g.shown[size_t(v)]] = g.partOf[size_t(v)];
    return datumEntered;
}

// Step 4a: lines, closed or attached between two fixed points.
void closeLines(const std::vector<LineSpan> &spans, const Graph &g, const LevelGrade &grade,
                LevelResult &result)
{
    for (const LineSpan &span : spans) {
        LevelLine line;
        line.number = span.number;
        line.from = result.stations[span.first].back;
        line.to = result.stations[span.end - 1].fore;
        double sum = 0;
        for (size_t i = span.first; i < span.end; ++i) {
            sum += result.stations[i].dh;
            line.stations += 1;
            line.length += result.stations[i].length();
        }
        const int a = g.node(line.from), b = g.node(line.to);
        if (a == b)
            line.misclosureMm = sum * 1000;
        else if (g.fixedHeight[size_t(a)] && g.fixedHeight[size_t(b)])
            line.misclosureMm = (sum - (*g.fixedHeight[size_t(b)] - *g.fixedHeight[size_t(a)])) * 1000;
        if (line.misclosureMm) {
            line.toleranceMm = grade.tolerance(line.stations, line.length);
            line.within = std::fabs(*line.misclosureMm) <= *line.toleranceMm;
        }
        result.lines.push_back(line);
    }
}


// Step 4b: each section outside the tree closes one independent loop, or
// one line between fixed points.
void findLoops(const Graph &g, const LevelGrade &grade, LevelResult &result)
{
    const Tree tree(g, result.sections);
    for (int i = 0; i < g.sections(); ++i) {
        if (tree.inTree[size_t(i)])
            continue;
        const Section &s = result.sections[size_t(i)];
        const auto [a, b] = g.ends[size_t(i)];
        // The stations and length of the loop are those of both ways above
        // where they meet, and the section.
        const int x = tree.meeting(a, b);
        const bool atRoot = x == Tree::root;
        LevelLoop loop;
        loop.stations = s.stations + tree.stations[size_t(a)] + tree.stations[size_t(b)]
                        - (atRoot ? 0 : 2 * tree.stations[size_t(x)]);
        loop.length = s.length + tree.length[size_t(a)] + tree.length[size_t(b)]
                      - (atRoot ? 0 : 2 * tree.length[size_t(x)]);
        loop.misclosureMm = (tree.height[size_t(a)] + s.dh - tree.height[size_t(b)]) * 1000;
        loop.toleranceMm = grade.tolerance(loop.stations, loop.length);
        loop.within = std::fabs(loop.misclosureMm) <= loop.toleranceMm;
        // Round from where the ways meet (or a fixed point) through a and b
        // back again.
        QStringList down = tree.path(g, a, x), up = tree.path(g, b, x);
        if (!atRoot)
            up.removeLast();
        std::reverse(down.begin(), down.end());
        loop.points = down + up;
        result.loops.push_back(loop);
    }
}

} // namespace levelparts
