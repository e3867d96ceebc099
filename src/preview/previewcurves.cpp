#include "preview/previewcurves.h"

#include "base/textnumber.h"
#include "domain/settlementrules.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <limits>

CoordinateWindow settlementWindow(int zoomLevel)
{
    switch (zoomLevel) {
    case 1:
        return {-5, 0.5, 300, -10};
    case 3:
        return {-1.25, 0.125, 100, -2.5};
    case 4:
        return {-0.65, 0.05, 50, -1.25};
    default:
        return {-2.5, 0.25, 200, -5};
    }
}

CoordinateWindow rateWindow()
{
    return {-5, 0.2, 300, -0.02};
}

CoordinateWindow loadWindow()
{
    return {-5, 40, 300, 0};
}

CoordinateWindow fittedWindow(const CoordinateWindow &window, const CoordinateWindow &widest,
                              const std::vector<Polyline> &lines)
{
    double maxX = 0, highest = 0, lowest = 0;
    for (const Polyline &line : lines)
        for (const QPointF &p : line.points) {
            if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
                continue;
            maxX = std::max(maxX, p.x());
            highest = std::max(highest, p.y());
            lowest = std::min(lowest, p.y());
        }
    // The data lie towards the window's far edge (settlement down to its
    // bottom, rates and floors up to its top); the near edge is a margin.
    const bool farIsTop = std::fabs(widest.top) >= std::fabs(widest.bottom);
    const double far = farIsTop ? widest.top : widest.bottom;
    const double near = farIsTop ? widest.bottom : widest.top;
    const double outward = far < 0 ? lowest : highest;
    // Only data beyond the window stretch it, with a twentieth to spare.
    const double fx = widest.right > 0 && maxX > widest.right ? maxX * 1.05 / widest.right : 1.0;
    const double fy = far != 0 && outward / far > 1 ? outward * 1.05 / far : 1.0;
    CoordinateWindow fitted{window.left * fx, window.top * fy, window.right * fx, window.bottom * fy};
    // What lies on the other side of 0 (a rise) is taken in as well.
    const double opposite = far < 0 ? highest : lowest;
    if (near != 0 && opposite / near > 1) {
        double &edge = farIsTop ? fitted.bottom : fitted.top;
        edge = std::max(std::fabs(edge), std::fabs(opposite) * 1.05) * (edge < 0 ? -1 : 1);
    }
    return fitted;
}

std::vector<Polyline> settlementCurves(const ProjectSnapshot &snapshot, int pointCount)
{
    std::vector<Polyline> curves;
    if (snapshot.epochs().empty() || !snapshot.hasElevations())
        return curves;
    const std::vector<int> &numbers = snapshot.pointNumbers();
    for (size_t c = 0; c < numbers.size(); ++c) {
        const int n = numbers[c];
        if (n < 1 || n > pointCount || !snapshot.isObserved(n))
            continue;
        Polyline curve;
        curve.colour = Qt::black;
        if (const Point *point = snapshot.point(n))
            if (const auto rgb = snapshot.colour(point->aci))
                curve.colour = QColor(rgb->r, rgb->g, rgb->b);
        // From the origin for a point observed from the first epoch; a point
        // first observed later starts where it was first observed.
        const std::vector<CurvePoint> series = SettlementCurve(snapshot, int(c));
        if (!series.empty() && series.front().epoch == 0)
            curve.points.emplace_back(0, 0);
        for (const CurvePoint &p : series)
            curve.points.emplace_back(p.day, p.mm);
        curves.push_back(std::move(curve));
    }
    return curves;
}

Polyline rateCurve(const ProjectSnapshot &snapshot)
{
    Polyline curve{QColor(255, 0, 0), {}};
    if (snapshot.epochs().empty() || !snapshot.hasElevations())
        return curve;
    curve.points.emplace_back(0, 0);
    for (int e = 0; e < snapshot.epochCount(); ++e)
        if (const auto rate = MeanSinkingRate(snapshot, e, std::numeric_limits<int>::max()))
            curve.points.emplace_back(snapshot.daysSinceFirst(e), *rate);
    return curve;
}

Polyline loadCurve(const ProjectSnapshot &snapshot)
{
    Polyline curve{QColor(0, 0, 255), {}};
    const std::vector<Epoch> &epochs = snapshot.epochs();
    if (epochs.empty())
        return curve;
    const QString firstDate = epochs.front().date;
    curve.points.emplace_back(0, leadingNumber(epochs.front().layers));
    for (int e = 0; e < snapshot.epochCount(); ++e)
        if (epochs[size_t(e)].date != firstDate)
            curve.points.emplace_back(snapshot.daysSinceFirst(e),
                                      leadingNumber(epochs[size_t(e)].layers));
    return curve;
}

namespace {

// The part of the segment a-b inside `box` (Liang-Barsky); false when none is.
bool clipSegment(QPointF &a, QPointF &b, const QRectF &box)
{
    double t0 = 0, t1 = 1;
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    const double p[] = {-dx, dx, -dy, dy};
    const double q[] = {a.x() - box.left(), box.right() - a.x(), a.y() - box.top(),
                        box.bottom() - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    const QPointF start = a;
    a = start + QPointF(dx, dy) * t0;
    b = start + QPointF(dx, dy) * t1;
    return true;
}

} // namespace

void drawPreview(QPainter &painter, const QRectF &area, const PreviewPicture &picture)
{
    const CoordinateWindow &w = picture.window;
    const double sx = area.width() / (w.right - w.left);
    const double sy = area.height() / (w.bottom - w.top);
    painter.save();
    painter.setClipRect(area);
    painter.setRenderHint(QPainter::Antialiasing, false);
    std::vector<QPointF> mapped;
    for (const Polyline &line : picture.lines) {
        if (line.points.size() < 2)
            continue;
        painter.setPen(QPen(line.colour, 0)); // cosmetic: one pixel wide
        mapped.clear();
        mapped.reserve(line.points.size());
        bool far = false;
        for (const QPointF &p : line.points) {
            mapped.emplace_back(area.left() + (p.x() - w.left) * sx,
                                area.top() + (p.y() - w.top) * sy);
            far = far || std::abs(mapped.back().x()) > 1e5 || std::abs(mapped.back().y()) > 1e5;
        }
        if (!far) {
            painter.drawPolyline(mapped.data(), int(mapped.size()));
            continue;
        }
        // A vertex far outside (an elevation typed as 0, say): clip each
        // segment to the area first, so that the painter gets sane numbers.
        const QRectF box = area.adjusted(-2, -2, 2, 2);
        for (size_t i = 1; i < mapped.size(); ++i) {
            QPointF a = mapped[i - 1], b = mapped[i];
            if (clipSegment(a, b, box))
                painter.drawLine(a, b);
        }
    }
    painter.restore();
}
