#pragma once

// What the levelling's own files share (readers, network, outputs); used
// only inside survey/.

#include "survey/levelling.h"

#include <QString>

#include <optional>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace levelparts {
// "FILE 第 N 行": where in a raw file a record or a warning is.
QString where(const QString &path, int line);
// A figure with `decimals` places; "—" for what is no finite number.
QString figure(double v, int decimals);

// One recorded line's stations in the result: [first, end) and the level's
// line number.
struct LineSpan
{
    size_t first = 0, end = 0;
    int number = 0;
};

// The network's points, numbered as first met, the ends of each section,
// the sections at each point and the connected part of each point; each
// part's datum and every point's fixed height once chosen.
struct Graph
{
    std::unordered_map<QString, int> nodeOf; // by point key
    std::vector<QString> shown;              // ids as first written
    std::vector<std::pair<int, int>> ends;   // from, to of each section
    std::vector<std::vector<int>> sectionsAt;
    std::vector<int> partOf;
    std::vector<std::optional<double>> fixedHeight;

    int points() const { return int(shown.size()); }
    int sections() const { return int(ends.size()); }
    int node(const QString &id) const { return nodeOf.at(pointKey(id)); }
    int otherEnd(int section, int at) const
    {
        const auto [a, b] = ends[size_t(section)];
        return a == at ? b : a;
    }
};

// A height entered on the level, with its file.
using EnteredIn = std::pair<const LevelFile *, const EnteredHeight *>;

// The network's steps, in the order the adjustment takes them (their
// comments in levelnetwork.cpp).
std::vector<LineSpan> stationsOfLines(const std::vector<LevelFile> &files,
                                      const LevelSettings &settings, LevelResult &result);
void sectionsOfLines(const std::vector<LineSpan> &spans, const LevelSettings &settings,
                     const std::vector<LevelFile> &files, LevelResult &result);
Graph graphOf(LevelResult &result);
std::set<const EnteredHeight *> chooseDatums(const std::unordered_map<QString, double> &fixedByKey,
                                             const std::vector<EnteredIn> &entered, Graph &g,
                                             LevelResult &result);
void closeLines(const std::vector<LineSpan> &spans, const Graph &g, const LevelGrade &grade,
                LevelResult &result);
void findLoops(const Graph &g, const LevelGrade &grade, LevelResult &result);
} // namespace levelparts
