#pragma once

// How the building deforms at one epoch, from where its points stand and
// how far each has settled: the overall tilt (a least-squares plane), the
// differential settlement of neighbouring points (the edges of the
// positions' Delaunay triangulation) and the contour lines of settlement.
// Positions in metres in the building's own grid (X to the right, Y up),
// settlements in mm, sinking negative.

#include <QString>

#include <array>
#include <optional>
#include <set>
#include <utility>
#include <vector>

// A point of the plan at one epoch.
struct PlanPoint
{
    int number = 0;
    QString name;
    double x = 0, y = 0; // m
    double sMm = 0;      // cumulative settlement, mm
};

// The plane s = a + b·x + c·y fitted by least squares: the tilt √(b² + c²)
// / 1000 (dimensionless), the direction the building sinks most toward
// (degrees counter-clockwise from +X, 0 to 360), and the RMS of the
// residuals (mm): how far the foundation is from a rigid plane.
// The plane s = a + b·x + c·y (mm, x to the east and y to the north in
// metres) fitted to the points' settlements: its slope `value` (Δs/L) and
// the azimuth toward which it sinks most, in degrees clockwise from north
// (0–360; 0 when there is no slope: all points settled alike, within the
// hundredth of a millimetre settlements are read to).
struct Tilt
{
    double a = 0, b = 0, c = 0;
    double value = 0;
    double azimuthDeg = 0;
    double rmsMm = 0;
};
// The compass word of an azimuth: 北, 东北, 东, 东南, 南, 西南, 西, 西北.
QString compassWord(double azimuthDeg);
// An azimuth as shown: "45.0°（东北）".
QString azimuthText(double azimuthDeg);
// Nothing for fewer than three points, or points on one line.
std::optional<Tilt> fitTilt(const std::vector<PlanPoint> &points);

// The Delaunay triangulation of the points' positions (places in the
// vector): its triangles, counter-clockwise, and its edges (smaller place
// first), in a stable order. Points at one position count once (the first).
struct PlanTriangulation
{
    std::vector<std::array<int, 3>> triangles;
    std::vector<std::pair<int, int>> edges;
};
PlanTriangulation triangulate(const std::vector<PlanPoint> &points);

// The settlement difference of two neighbours: Δs = s(to) − s(from) in mm,
// their distance L in m and |Δs| / L (dimensionless).
struct NeighbourPair
{
    int from = 0, to = 0; // places in the points
    double dsMm = 0, lengthM = 0, ratio = 0;
};
// Every edge of the triangulation but those `excluded` (pairs of point
// numbers, either order).
std::vector<NeighbourPair> neighbourDifferences(const std::vector<PlanPoint> &points,
                                                const PlanTriangulation &triangulation,
                                                const std::set<std::pair<int, int>> &excluded = {});

// Contour levels at a 1-2-5 step (…, 0.5, 1, 2, 5, 10 … mm) giving 5 to 15
// levels within [low, high]; with `step` given, every multiple of it there,
// none when that would be more than maxContourLevels (a step of 1e-320 mm
// would ask for more levels than memory holds).
constexpr int maxContourLevels = 200;
std::vector<double> contourLevels(double low, double high, std::optional<double> step = std::nullopt);

// The contour lines of settlement at a level: linear interpolation on the
// triangles, each vertex on a triangle edge, joined into polylines; nothing
// beyond the convex hull.
struct ContourLine
{
    double levelMm = 0;
    std::vector<std::vector<std::pair<double, double>>> polylines;
};
std::vector<ContourLine> contourLines(const std::vector<PlanPoint> &points,
                                      const PlanTriangulation &triangulation,
                                      const std::vector<double> &levels);

// The building's plan drawn behind the points: its lines, polylines, arcs
// and circles as polylines (arcs traced), in the points' coordinates.
struct PlanBackground
{
    std::vector<std::vector<std::pair<double, double>>> lines;
    bool empty() const { return lines.empty(); }
};

// The days from the first epoch (τ = t − t0) at which a hyperbolic fit y =
// τ / (a·τ + b), on sinking magnitudes (a, b > 0), slows to the rate `r`
// (mm/d): τ* = (√(b / r) − b) / a. Nothing without such a fit, or when the
// rate is below r from the start.
std::optional<double> daysToStability(double a, double b, double r);
