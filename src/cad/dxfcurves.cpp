#include "cad/dxfcurves.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

// The largest angle one chord may span to stay within 0.1 % of the radius
// (sagitta r·(1 − cos(Δ/2)) ≤ 0.001·r).
const double chordAngle = 2 * std::acos(0.999);

// Evaluates a NURBS curve by de Boor's algorithm at u.
CadPoint nurbsPoint(const std::vector<CadPoint> &control, const std::vector<double> &weights,
                    const std::vector<double> &knots, int degree, double u)
{
    const int n = int(control.size());
    int k = degree;
    while (k < n - 1 && u >= knots[size_t(k + 1)])
        ++k;
    std::vector<double> x(size_t(degree + 1)), y(size_t(degree + 1)), w(size_t(degree + 1));
    for (int j = 0; j <= degree; ++j) {
        const int i = std::clamp(k - degree + j, 0, n - 1);
        const double wi = weights.empty() ? 1 : weights[size_t(i)];
        x[size_t(j)] = control[size_t(i)].x * wi;
        y[size_t(j)] = control[size_t(i)].y * wi;
        w[size_t(j)] = wi;
    }
    for (int r = 1; r <= degree; ++r)
        for (int j = degree; j >= r; --j) {
            const double lo = knots[size_t(j + k - degree)], hi = knots[size_t(j + 1 + k - r)];
            const double a = hi > lo ? (u - lo) / (hi - lo) : 0;
            const auto mix = [&](std::vector<double> &v) {
                v[size_t(j)] = (1 - a) * v[size_t(j - 1)] + a * v[size_t(j)];
            };
            mix(x);
            mix(y);
            mix(w);
        }
    const double wd = w[size_t(degree)] != 0 ? w[size_t(degree)] : 1;
    return {x[size_t(degree)] / wd, y[size_t(degree)] / wd};
}

} // namespace

// Points along an arc from angle a0 sweeping `sweep` radians (signed).
void arcPoints(std::vector<CadPoint> &out, CadPoint centre, double rx, double ry, double rotation,
               double a0, double sweep, bool includeStart)
{
    const int n = std::max(1, int(std::ceil(std::abs(sweep) / chordAngle)));
    const double c = std::cos(rotation), s = std::sin(rotation);
    for (int i = includeStart ? 0 : 1; i <= n; ++i) {
        const double a = a0 + sweep * i / n;
        const double x = rx * std::cos(a), y = ry * std::sin(a);
        out.push_back({centre.x + c * x - s * y, centre.y + s * x + c * y});
    }
}

// A polyline's vertices with the arcs of its bulges (a vertex's bulge bends
// the segment to the next vertex: tan(included angle / 4)).
std::vector<CadPoint> bulgedVertices(const std::vector<CadPoint> &points,
                                     const std::vector<double> &bulges, bool closed)
{
    const bool any = std::any_of(bulges.begin(), bulges.end(), [](double b) { return b != 0; });
    if (!any || points.size() < 2)
        return points;
    std::vector<CadPoint> out;
    const size_t segments = closed ? points.size() : points.size() - 1;
    out.push_back(points.front());
    for (size_t i = 0; i < segments; ++i) {
        const CadPoint p = points[i], q = points[(i + 1) % points.size()];
        const double b = i < bulges.size() ? bulges[i] : 0;
        const double chord = std::hypot(q.x - p.x, q.y - p.y);
        if (b == 0 || chord == 0 || !std::isfinite(b)) {
            out.push_back(q);
            continue;
        }
        const double theta = 4 * std::atan(b);               // signed included angle
        const double r = chord / (2 * std::sin(std::abs(theta) / 2));
        // Centre: from the chord's middle along its normal.
        const double mx = (p.x + q.x) / 2, my = (p.y + q.y) / 2;
        const double d = r * std::cos(std::abs(theta) / 2);  // middle to centre
        const double nx = -(q.y - p.y) / chord, ny = (q.x - p.x) / chord;
        const double side = (b > 0) == (std::abs(theta) < M_PI) ? 1 : -1;
        const CadPoint centre{mx + side * d * nx, my + side * d * ny};
        const double a0 = std::atan2(p.y - centre.y, p.x - centre.x);
        arcPoints(out, centre, r, r, 0, a0, theta, false);
        out.back() = q; // exactly on the vertex
    }
    if (closed)
        out.pop_back(); // back at the first vertex; the polyline stays closed
    return out;
}


// A spline as a polyline: halves each piece until its middle lies within
// `tolerance` of the chord.
std::vector<CadPoint> splinePoints(const std::vector<CadPoint> &control,
                                   const std::vector<double> &weights,
                                   const std::vector<double> &knots, int degree)
{
    const int n = int(control.size());
    if (degree < 1 || n < degree + 1 || int(knots.size()) != n + degree + 1
        || (!weights.empty() && int(weights.size()) != n)
        || !std::is_sorted(knots.begin(), knots.end()))
        return control; // not a valid curve: its control polygon
    double minX = control[0].x, maxX = minX, minY = control[0].y, maxY = minY;
    for (const CadPoint &p : control) {
        minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    }
    const double tolerance = 0.001 * std::hypot(maxX - minX, maxY - minY);
    const double u0 = knots[size_t(degree)], u1 = knots[size_t(n)];
    if (!(u1 > u0))
        return control;
    const auto at = [&](double u) { return nurbsPoint(control, weights, knots, degree, u); };
    std::vector<CadPoint> out;
    // Start from one sample per knot span, so no span is skipped.
    std::vector<double> starts;
    for (int i = degree; i <= n; ++i)
        if (starts.empty() || knots[size_t(i)] > starts.back())
            starts.push_back(knots[size_t(i)]);
    const std::function<void(double, CadPoint, double, CadPoint, int)> refine =
        [&](double ua, CadPoint a, double ub, CadPoint b, int depth) {
            const double um = (ua + ub) / 2;
            const CadPoint m = at(um);
            const double cx = (a.x + b.x) / 2, cy = (a.y + b.y) / 2;
            if (depth < 16 && (depth < 2 || std::hypot(m.x - cx, m.y - cy) > tolerance)) {
                refine(ua, a, um, m, depth + 1);
                refine(um, m, ub, b, depth + 1);
            } else {
                out.push_back(b);
            }
        };
    out.push_back(at(starts.front()));
    for (size_t i = 0; i + 1 < starts.size(); ++i)
        refine(starts[i], at(starts[i]), starts[i + 1], at(starts[i + 1]), 0);
    return out;
}
