#include "preview/planpicture.h"

#include "base/textnumber.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <map>

PlanPicture planPicture(const ProjectSnapshot &snapshot, const PlanFigures &figures,
                        const PlanBackground &background)
{
    PlanPicture picture;
    picture.background = background;
    const EpochDeformation &d = figures.deformation;
    std::map<int, QStringList> reasons;
    for (const Alarm &alarm : figures.alarms) {
        const QString text = alarmText(alarm, snapshot);
        if (alarm.point)
            reasons[*alarm.point] << text;
        if (alarm.pair) {
            reasons[alarm.pair->first] << text;
            reasons[alarm.pair->second] << text;
        }
    }
    QRectF extents;
    bool first = true;
    const auto add = [&](double x, double y) {
        if (first) {
            extents = QRectF(x, y, 0, 0);
            first = false;
        } else {
            extents.setLeft(std::min(extents.left(), x));
            extents.setRight(std::max(extents.right(), x));
            extents.setTop(std::min(extents.top(), y));
            extents.setBottom(std::max(extents.bottom(), y));
        }
    };
    for (const PlanPoint &p : d.points) {
        const Point *record = snapshot.point(p.number);
        const auto rgb = record ? snapshot.colour(record->aci) : std::nullopt;
        PlanPicture::Mark mark;
        mark.at = {p.x, p.y};
        mark.colour = rgb ? QColor(rgb->r, rgb->g, rgb->b) : QColor(Qt::black);
        // White marks vanish on the white preview.
        if (mark.colour.lightness() > 230)
            mark.colour = Qt::black;
        // Red says an alarm, and nothing else: a point styled red is drawn
        // in a dark red-brown that no reader takes for one.
        if (mark.colour.red() > 180 && mark.colour.green() < 90 && mark.colour.blue() < 90)
            mark.colour = QColor(120, 60, 40);
        mark.mark = record ? record->mark : QString();
        mark.name = p.name;
        mark.value = formatFixed(p.sMm, 2);
        if (const auto found = reasons.find(p.number); found != reasons.end()) {
            mark.alarm = true;
            mark.reason = found->second.join(QLatin1Char('\n'));
        }
        picture.points.push_back(mark);
        add(p.x, p.y);
    }
    for (const auto &line : background.lines)
        for (const auto &[x, y] : line)
            add(x, y);
    for (const ContourLine &line : figures.contours) {
        PlanPicture::Contour contour;
        contour.label = formatFixed(line.levelMm, 1);
        for (const auto &polyline : line.polylines) {
            std::vector<QPointF> points;
            for (const auto &[x, y] : polyline)
                points.emplace_back(x, y);
            contour.lines.push_back(std::move(points));
        }
        picture.contours.push_back(std::move(contour));
    }
    picture.tilt = d.tilt;
    const Epoch &epoch = snapshot.epochs()[size_t(d.epochIndex)];
    picture.caption = QStringLiteral("%1（%2）累计沉降 mm").arg(epoch.name, epoch.date);
    if (!figures.contourNote.isEmpty())
        picture.caption += QStringLiteral("；") + figures.contourNote;
    picture.extents = extents;
    return picture;
}

namespace {

void drawMark(QPainter &painter, QPointF at, const QString &mark, double r)
{
    if (mark.contains(QStringLiteral("方"))) {
        painter.drawRect(QRectF(at.x() - r, at.y() - r, 2 * r, 2 * r));
    } else if (mark.contains(QStringLiteral("菱"))) {
        const QPointF diamond[] = {{at.x(), at.y() - r}, {at.x() + r, at.y()}, {at.x(), at.y() + r}, {at.x() - r, at.y()}};
        painter.drawPolygon(diamond, 4);
    } else if (mark.contains(QStringLiteral("三角"))) {
        const QPointF triangle[] = {{at.x(), at.y() - r}, {at.x() + r, at.y() + r * 0.8}, {at.x() - r, at.y() + r * 0.8}};
        painter.drawPolygon(triangle, 3);
    } else if (mark.contains(QStringLiteral("叉"))) {
        painter.drawLine(QPointF(at.x() - r, at.y() - r), QPointF(at.x() + r, at.y() + r));
        painter.drawLine(QPointF(at.x() - r, at.y() + r), QPointF(at.x() + r, at.y() - r));
    } else {
        painter.drawEllipse(at, r, r);
    }
}

} // namespace

PlanMapping planMapping(const QRectF &area, const PlanPicture &picture, int zoomLevel)
{
    // Room for the caption above and the labels beside the points.
    const double margin = 14;
    const QRectF inner = area.adjusted(margin, margin + 12, -margin - 24, -margin);
    const QRectF e = picture.extents;
    const double w = std::max(e.width(), 1e-6), h = std::max(e.height(), 1e-6);
    const double scale =
        std::min(inner.width() / w, inner.height() / h) * std::pow(1.5, std::clamp(zoomLevel, 1, 4) - 1);
    return {inner.center(), e.center(), scale};
}

std::vector<QRectF> pointLabelRects(const QRectF &area, const PlanPicture &picture, int zoomLevel,
                                    const QFontMetricsF &metrics)
{
    const PlanMapping map = planMapping(area, picture, zoomLevel);
    std::vector<QRectF> taken;
    for (const PlanPicture::Mark &mark : picture.points) {
        const QPointF at = map(mark.at);
        taken.push_back(QRectF(at - QPointF(4, 4), QSizeF(8, 8)));
        taken.push_back(metrics.boundingRect(mark.name).translated(at + QPointF(4, -3)));
        taken.push_back(metrics.boundingRect(mark.value).translated(at + QPointF(4, 9)));
    }
    return taken;
}

std::vector<ContourLabel> contourLabels(const QRectF &area, const PlanPicture &picture, int zoomLevel,
                                        const QFontMetricsF &metrics)
{
    const PlanMapping map = planMapping(area, picture, zoomLevel);
    std::vector<QRectF> taken = pointLabelRects(area, picture, zoomLevel, metrics);
    std::vector<ContourLabel> labels;
    for (const PlanPicture::Contour &contour : picture.contours) {
        const std::vector<QPointF> *longest = nullptr;
        for (const auto &line : contour.lines)
            if (!longest || line.size() > longest->size())
                longest = &line;
        if (!longest || longest->empty())
            continue;
        // The vertex nearest the middle of the longest line whose label is
        // clear of every point and of the labels placed so far.
        const QPointF middle = map((*longest)[longest->size() / 2]);
        std::vector<QPointF> candidates;
        for (const auto &line : contour.lines)
            for (size_t i = 0; i < line.size(); i += std::max<size_t>(1, line.size() / 100))
                candidates.push_back(map(line[i]));
        std::sort(candidates.begin(), candidates.end(), [&](const QPointF &a, const QPointF &b) {
            return QLineF(a, middle).length() < QLineF(b, middle).length();
        });
        const QRectF size = metrics.boundingRect(contour.label);
        for (const QPointF &at : candidates) {
            const QRectF place = size.translated(at + QPointF(2, -2));
            if (!area.contains(place)
                || std::any_of(taken.begin(), taken.end(), [&](const QRectF &r) { return r.intersects(place); }))
                continue;
            labels.push_back({contour.label, at + QPointF(2, -2), place});
            taken.push_back(place);
            break;
        }
    }
    return labels;
}

void drawPlan(QPainter &painter, const QRectF &area, const PlanPicture &picture, int zoomLevel)
{
    if (picture.points.empty())
        return;
    painter.save();
    painter.setClipRect(area);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const PlanMapping map = planMapping(area, picture, zoomLevel);
    std::vector<QPointF> mapped;
    const auto polyline = [&](const auto &points, const auto &coordinate) {
        mapped.clear();
        for (const auto &p : points)
            mapped.push_back(map(coordinate(p)));
        if (mapped.size() >= 2)
            painter.drawPolyline(mapped.data(), int(mapped.size()));
    };
    painter.setPen(QPen(QColor(170, 170, 170), 0));
    for (const auto &line : picture.background.lines)
        polyline(line, [](const std::pair<double, double> &p) { return QPointF(p.first, p.second); });

    QFont small = painter.font();
    small.setPixelSize(9);
    painter.setFont(small);
    const QColor contourColour(0, 150, 60);
    for (const PlanPicture::Contour &contour : picture.contours) {
        painter.setPen(QPen(contourColour, 0));
        for (const auto &line : contour.lines)
            polyline(line, [](const QPointF &p) { return p; });
    }
    painter.setPen(QPen(contourColour, 0));
    for (const ContourLabel &label : contourLabels(area, picture, zoomLevel, QFontMetricsF(small, painter.device())))
        painter.drawText(label.at, label.text);

    for (const PlanPicture::Mark &mark : picture.points) {
        const QPointF at = map(mark.at);
        const QColor colour = mark.alarm ? QColor(Qt::red) : mark.colour;
        painter.setPen(QPen(colour, mark.alarm ? 1.5 : 1));
        painter.setBrush(Qt::NoBrush);
        drawMark(painter, at, mark.mark, 3);
        painter.drawText(at + QPointF(4, -3), mark.name);
        painter.setPen(mark.alarm ? QColor(Qt::red) : QColor(60, 60, 60));
        painter.drawText(at + QPointF(4, 9), mark.value);
    }

    // North, the plan's +y: a small arrow at the lower left.
    if (!picture.keyedBeside) {
        const QPointF foot(area.left() + 12, area.bottom() - 8), tip(area.left() + 12, area.bottom() - 26);
        painter.setPen(QPen(Qt::black, 1));
        painter.drawLine(foot, tip);
        painter.drawLine(tip, tip + QPointF(-3, 6));
        painter.drawLine(tip, tip + QPointF(3, 6));
        QFont word = painter.font();
        word.setPixelSize(10);
        painter.setFont(word);
        painter.drawText(tip + QPointF(5, 8), QStringLiteral("北"));
    }

    // The caption and the tilt: an arrow toward which the building sinks most.
    QFont caption = painter.font();
    caption.setPixelSize(11);
    painter.setFont(caption);
    painter.setPen(Qt::black);
    QString line = picture.caption;
    if (picture.tilt)
        line += picture.tilt->value > 0
                    ? QStringLiteral("  倾斜 %1‰ 方位角 %2")
                          .arg(formatFixed(picture.tilt->value * 1000, 3), azimuthText(picture.tilt->azimuthDeg))
                    : QStringLiteral("  无倾斜");
    painter.drawText(QPointF(area.left() + 4, area.top() + 13), line);
    if (picture.tilt && picture.tilt->value > 0 && !picture.keyedBeside) {
        const double a = (90 - picture.tilt->azimuthDeg) * M_PI / 180; // from the +x axis
        // Lower right, clear of the zoom buttons.
        const QPointF from(area.right() - 22, area.bottom() - 22);
        const QPointF to = from + QPointF(14 * std::cos(a), -14 * std::sin(a));
        painter.setPen(QPen(Qt::blue, 1.5));
        painter.drawLine(from, to);
        for (const double side : {2.6, -2.6}) {
            const double head = a + M_PI + side * 0.2;
            painter.drawLine(to, to + QPointF(5 * std::cos(head), -5 * std::sin(head)));
        }
    }
    painter.restore();
}
