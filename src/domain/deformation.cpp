#include "domain/deformation.h"

#include "base/textnumber.h"

#include <CGAL/Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>

#include <Eigen/Dense>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

namespace {

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using VertexBase = CGAL::Triangulation_vertex_base_with_info_2<int, Kernel>;
using DataStructure =
    CGAL::Triangulation_data_structure_2<VertexBase, CGAL::Triangulation_face_base_2<Kernel>>;
using Delaunay = CGAL::Delaunay_triangulation_2<Kernel, DataStructure>;

constexpr double pi = 3.14159265358979323846;

} // namespace

std::optional<Tilt> fitTilt(const std::vector<PlanPoint> &points)
{
    const Eigen::Index n = Eigen::Index(points.size());
    if (n < 3)
        return std::nullopt;
    // About the centroid, so that far-off grid coordinates lose no digits.
    double cx = 0, cy = 0;
    for (const PlanPoint &p : points) {
        cx += p.x;
        cy += p.y;
    }
    cx /= double(n);
    cy /= double(n);
    Eigen::MatrixXd A(n, 3);
    Eigen::VectorXd s(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        const PlanPoint &p = points[size_t(i)];
        A(i, 0) = 1;
        A(i, 1) = p.x - cx;
        A(i, 2) = p.y - cy;
        s(i) = p.sMm;
    }
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(A);
    // Points on one line (or all at one place) fix no plane.
    double extent = 0;
    for (Eigen::Index i = 0; i < n; ++i)
        extent = std::max(extent, std::hypot(A(i, 1), A(i, 2)));
    qr.setThreshold(1e-9);
    if (qr.rank() < 3 || extent == 0)
        return std::nullopt;
    const Eigen::Vector3d fit = qr.solve(s);
    Tilt tilt;
    tilt.b = fit(1);
    tilt.c = fit(2);
    tilt.a = fit(0) - tilt.b * cx - tilt.c * cy;
    // A slope that changes s by less than half a hundredth of a millimetre
    // across the building is none: all points settled alike.
    if (std::hypot(tilt.b, tilt.c) * extent * 2 < 0.005) {
        tilt.a = fit(0);
        tilt.b = tilt.c = 0;
    }
    tilt.value = std::hypot(tilt.b, tilt.c) / 1000;
    // Toward the steepest fall of s (sinking is negative), clockwise from
    // north: atan2 of the east and north parts of −∇s.
    double azimuth = std::atan2(-tilt.b, -tilt.c) * 180 / pi;
    if (azimuth < 0)
        azimuth += 360;
    if (azimuth >= 360) // a hair west of north
        azimuth -= 360;
    tilt.azimuthDeg = tilt.value > 0 ? azimuth : 0;
    const Eigen::VectorXd residual = A * fit - s;
    tilt.rmsMm = std::sqrt(residual.squaredNorm() / double(n));
    return tilt;
}

QString compassWord(double azimuthDeg)
{
    static const char16_t *const words[] = {u"北", u"东北", u"东", u"东南", u"南", u"西南", u"西", u"西北"};
    double a = std::fmod(azimuthDeg, 360.0);
    if (a < 0)
        a += 360;
    return QString::fromUtf16(words[int(std::floor((a + 22.5) / 45)) % 8]);
}

QString azimuthText(double azimuthDeg)
{
    return QStringLiteral("%1°（%2）").arg(formatFixed(azimuthDeg, 1), compassWord(azimuthDeg));
}

PlanTriangulation triangulate(const std::vector<PlanPoint> &points)
{
    std::vector<std::pair<Kernel::Point_2, int>> located;
    located.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i)
        if (std::isfinite(points[i].x) && std::isfinite(points[i].y))
            located.emplace_back(Kernel::Point_2(points[i].x, points[i].y), int(i));
    Delaunay delaunay;
    for (const auto &[point, index] : located)
        delaunay.insert(point);
    // Each vertex takes the first place of the points at its position.
    for (auto vertex = delaunay.finite_vertices_begin(); vertex != delaunay.finite_vertices_end();
         ++vertex)
        vertex->info() = -1;
    for (const auto &[point, index] : located) {
        const auto vertex = delaunay.nearest_vertex(point);
        if (vertex != nullptr && vertex->point() == point && vertex->info() < 0)
            vertex->info() = index;
    }
    PlanTriangulation result;
    std::set<std::pair<int, int>> edges;
    for (auto face = delaunay.finite_faces_begin(); face != delaunay.finite_faces_end(); ++face) {
        std::array<int, 3> triangle{face->vertex(0)->info(), face->vertex(1)->info(),
                                    face->vertex(2)->info()};
        // Counter-clockwise, from its smallest place.
        std::rotate(triangle.begin(), std::min_element(triangle.begin(), triangle.end()),
                    triangle.end());
        result.triangles.push_back(triangle);
        for (int k = 0; k < 3; ++k) {
            const int u = triangle[size_t(k)], v = triangle[size_t((k + 1) % 3)];
            edges.insert({std::min(u, v), std::max(u, v)});
        }
    }
    std::sort(result.triangles.begin(), result.triangles.end());
    // Collinear points make no face: their edges are the hull's own.
    if (result.triangles.empty())
        for (auto edge = delaunay.finite_edges_begin(); edge != delaunay.finite_edges_end(); ++edge) {
            const int u = edge->first->vertex((edge->second + 1) % 3)->info();
            const int v = edge->first->vertex((edge->second + 2) % 3)->info();
            edges.insert({std::min(u, v), std::max(u, v)});
        }
    result.edges.assign(edges.begin(), edges.end());
    return result;
}

std::vector<NeighbourPair> neighbourDifferences(const std::vector<PlanPoint> &points,
                                                const PlanTriangulation &triangulation,
                                                const std::set<std::pair<int, int>> &excluded)
{
    std::vector<NeighbourPair> pairs;
    for (const auto &[u, v] : triangulation.edges) {
        const PlanPoint &a = points[size_t(u)], &b = points[size_t(v)];
        if (excluded.count({a.number, b.number}) || excluded.count({b.number, a.number}))
            continue;
        NeighbourPair pair;
        pair.from = u;
        pair.to = v;
        pair.dsMm = b.sMm - a.sMm;
        pair.lengthM = std::hypot(b.x - a.x, b.y - a.y);
        pair.ratio = pair.lengthM > 0 ? std::fabs(pair.dsMm) / 1000 / pair.lengthM : 0;
        pairs.push_back(pair);
    }
    return pairs;
}

std::vector<double> contourLevels(double low, double high, std::optional<double> step)
{
    std::vector<double> levels;
    if (!std::isfinite(low) || !std::isfinite(high) || high < low)
        return levels;
    if (!step) {
        if (high == low)
            return {low};
        // From large steps to small: the first that gives at least five
        // levels; the next smaller is at most two and a half times finer,
        // so it gives at most fifteen.
        for (int exponent = 6; exponent >= -3 && !step; --exponent)
            for (const double mantissa : {5.0, 2.0, 1.0}) {
                const double candidate = mantissa * std::pow(10.0, exponent);
                const double count =
                    std::floor(high / candidate + 1e-9) - std::ceil(low / candidate - 1e-9) + 1;
                if (count >= 5) {
                    step = candidate;
                    break;
                }
            }
        if (!step)
            return levels;
    }
    if (!(*step > 0))
        return levels;
    const double first = std::ceil(low / *step - 1e-9);
    const double last = std::floor(high / *step + 1e-9);
    if (!std::isfinite(first) || !std::isfinite(last) || !(last - first < maxContourLevels))
        return levels;
    for (double k = first; k <= last; ++k)
        levels.push_back(k * *step);
    return levels;
}

std::vector<ContourLine> contourLines(const std::vector<PlanPoint> &points,
                                      const PlanTriangulation &triangulation,
                                      const std::vector<double> &levels)
{
    std::vector<ContourLine> lines;
    using Point = std::pair<double, double>;
    using EdgeKey = std::pair<int, int>;
    for (const double level : levels) {
        // Where the level crosses an edge, always worked out from the
        // edge's smaller place, so that both triangles of an edge agree.
        const auto above = [&](int i) { return points[size_t(i)].sMm >= level; };
        const auto crossing = [&](EdgeKey e) {
            const PlanPoint &a = points[size_t(e.first)], &b = points[size_t(e.second)];
            const double t = (level - a.sMm) / (b.sMm - a.sMm);
            return Point{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
        };
        std::vector<std::pair<EdgeKey, EdgeKey>> segments;
        for (const auto &triangle : triangulation.triangles) {
            std::vector<EdgeKey> crossed;
            for (int k = 0; k < 3; ++k) {
                const int u = triangle[size_t(k)], v = triangle[size_t((k + 1) % 3)];
                if (above(u) != above(v))
                    crossed.push_back({std::min(u, v), std::max(u, v)});
            }
            if (crossed.size() == 2)
                segments.emplace_back(crossed[0], crossed[1]);
        }
        // The segments joined end to end through the edges they share.
        std::multimap<EdgeKey, size_t> at;
        for (size_t s = 0; s < segments.size(); ++s) {
            at.emplace(segments[s].first, s);
            at.emplace(segments[s].second, s);
        }
        std::vector<bool> used(segments.size(), false);
        const auto next = [&](EdgeKey e, size_t from) -> std::optional<size_t> {
            const auto [begin, end] = at.equal_range(e);
            for (auto it = begin; it != end; ++it)
                if (it->second != from && !used[it->second])
                    return it->second;
            return std::nullopt;
        };
        ContourLine line;
        line.levelMm = level;
        // Open lines start at an edge only one segment reaches (the hull).
        std::vector<size_t> order;
        for (size_t s = 0; s < segments.size(); ++s)
            if (at.count(segments[s].first) == 1 || at.count(segments[s].second) == 1)
                order.push_back(s);
        for (size_t s = 0; s < segments.size(); ++s)
            order.push_back(s);
        for (const size_t start : order) {
            if (used[start])
                continue;
            used[start] = true;
            EdgeKey head = segments[start].first, tail = segments[start].second;
            if (at.count(tail) == 1 && at.count(head) > 1)
                std::swap(head, tail);
            std::vector<Point> polyline{crossing(head), crossing(tail)};
            size_t current = start;
            while (const auto following = next(tail, current)) {
                used[*following] = true;
                const auto &[a, b] = segments[*following];
                tail = a == tail ? b : a;
                polyline.push_back(crossing(tail));
                current = *following;
            }
            line.polylines.push_back(std::move(polyline));
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::optional<double> daysToStability(double a, double b, double r)
{
    if (!(a > 0) || !(b > 0) || !(r > 0) || !std::isfinite(a) || !std::isfinite(b))
        return std::nullopt;
    const double tau = (std::sqrt(b / r) - b) / a;
    if (!(tau > 0) || !std::isfinite(tau))
        return std::nullopt;
    return tau;
}
