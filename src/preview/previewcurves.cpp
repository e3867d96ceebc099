#include "preview/previewcurves.h"

#include "survey/settlement.h"
#include "base/textnumber.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

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

PreviewData readPreviewData(ProjectDatabase &project)
{
    PreviewData data;
    data.epochs = project.epochs();
    data.elevations = project.allElevations();
    data.points = project.points();
    std::vector<int> indexes;
    for (const Point &point : data.points)
        if (std::find(indexes.begin(), indexes.end(), point.aci) == indexes.end())
            indexes.push_back(point.aci);
    for (const int aci : indexes)
        if (const auto rgb = project.colour(aci))
            data.colours.emplace_back(aci, *rgb);
    return data;
}

namespace {

// Days since the first epoch of every epoch number; the first epoch is the
// one numbered 0.
std::unordered_map<int, int> daysByEpoch(const std::vector<Epoch> &epochs)
{
    QString firstDate;
    for (const Epoch &epoch : epochs)
        if (epoch.cjNo == 0)
            firstDate = epoch.date;
    std::unordered_map<int, int> days;
    for (const Epoch &epoch : epochs)
        days.emplace(epoch.cjNo, DayCount(firstDate, epoch.date));
    return days;
}

} // namespace

std::vector<Polyline> settlementCurves(const PreviewData &data, int pointCount)
{
    std::vector<Polyline> curves;
    if (data.epochs.empty() || data.elevations.empty())
        return curves;
    const auto days = daysByEpoch(data.epochs);

    // The elevations of each point in epoch order.
    std::vector<std::vector<const Elevation *>> byPoint(size_t(std::max(pointCount, 0)) + 1);
    for (const Elevation &e : data.elevations)
        if (e.cjdNo >= 1 && e.cjdNo <= pointCount)
            byPoint[size_t(e.cjdNo)].push_back(&e);

    std::unordered_map<int, QColor> colourOfPoint;
    for (const Point &point : data.points) {
        const auto rgb = std::find_if(data.colours.begin(), data.colours.end(),
                                      [&](const auto &entry) { return entry.first == point.aci; });
        if (rgb != data.colours.end())
            colourOfPoint.try_emplace(point.cjdNo,
                                      QColor(rgb->second.r, rgb->second.g, rgb->second.b));
    }

    for (int n = 1; n <= pointCount; ++n) {
        auto &elevations = byPoint[size_t(n)];
        if (elevations.empty())
            continue;
        std::stable_sort(elevations.begin(), elevations.end(),
                         [](const Elevation *a, const Elevation *b) { return a->cjNo < b->cjNo; });
        Polyline curve;
        const auto colour = colourOfPoint.find(n);
        curve.colour = colour == colourOfPoint.end() ? QColor(Qt::black) : colour->second;
        curve.points.reserve(elevations.size() + 1);
        curve.points.emplace_back(0, 0);
        const double h0 = elevations.front()->pointH;
        for (const Elevation *e : elevations) {
            const auto day = days.find(e->cjNo);
            if (day == days.end())
                continue; // an elevation of an epoch the project does not list
            curve.points.emplace_back(day->second, (e->pointH - h0) * 1000);
        }
        curves.push_back(std::move(curve));
    }
    return curves;
}

Polyline rateCurve(const PreviewData &data)
{
    Polyline curve{QColor(255, 0, 0), {}};
    if (data.epochs.empty() || data.elevations.empty())
        return curve;
    std::unordered_map<int, std::map<int, double>> byEpoch; // points in number order

    for (const Elevation &e : data.elevations)
        byEpoch[e.cjNo].try_emplace(e.cjdNo, e.pointH);

    const QString firstDate = data.epochs.front().date;
    QString previousDate = firstDate;
    curve.points.emplace_back(0, 0);
    for (const Epoch &epoch : data.epochs) {
        const QString thisDate = epoch.date;
        const auto current = byEpoch.find(epoch.cjNo);
        const auto previous = byEpoch.find(epoch.cjNo - 1);
        if (epoch.cjNo != 0 && current != byEpoch.end()) {
            double sum = 0;
            int count = 0;
            if (previous != byEpoch.end()) {
                for (const auto &[point, h] : current->second) {
                    const auto before = previous->second.find(point);
                    if (before != previous->second.end()) {
                        sum += (before->second - h) * 1000;
                        ++count;
                    }
                }
            }
            const int days = DayCount(previousDate, thisDate);
            if (count > 0 && days > 0)
                curve.points.emplace_back(DayCount(firstDate, thisDate), sum / count / days);
        }
        previousDate = thisDate;
    }
    return curve;
}

Polyline loadCurve(const PreviewData &data)
{
    Polyline curve{QColor(0, 0, 255), {}};
    if (data.epochs.empty())
        return curve;
    const QString firstDate = data.epochs.front().date;
    curve.points.emplace_back(0, leadingNumber(data.epochs.front().layers));
    for (const Epoch &epoch : data.epochs)
        if (epoch.date != firstDate)
            curve.points.emplace_back(DayCount(firstDate, epoch.date), leadingNumber(epoch.layers));
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
