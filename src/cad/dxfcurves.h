#pragma once

// The curves of a DXF drawing as polylines: arcs and ellipses, the bulges of
// a polyline's segments, splines (NURBS). Each chord stays within 0.1 % of
// the radius, or the spline's tolerance.

#include "cad/cadinterface.h"

#include <vector>

// Points along an arc from angle a0 sweeping `sweep` radians (signed), on an
// ellipse of radii rx, ry turned by `rotation`; the start point only when asked.
void arcPoints(std::vector<CadPoint> &out, CadPoint centre, double rx, double ry, double rotation,
               double a0, double sweep, bool includeStart);
// A polyline's vertices with the arcs of its bulges (a vertex's bulge bends
// the segment to the next vertex: tan(included angle / 4)).
std::vector<CadPoint> bulgedVertices(const std::vector<CadPoint> &points,
                                     const std::vector<double> &bulges, bool closed);
// A spline as a polyline; none when its knots, weights or degree do not fit.
std::vector<CadPoint> splinePoints(const std::vector<CadPoint> &control,
                                   const std::vector<double> &weights,
                                   const std::vector<double> &knots, int degree);
