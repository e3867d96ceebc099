#include "cad/drawingpainter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <functional>

namespace {

struct Mapping
{
    QRectF source;
    QPointF origin; // where source's lower left lands
    double scale = 1;
    QPointF operator()(CadPoint p) const
    {
        return {origin.x() + (p.x - source.left()) * scale, origin.y() - (p.y - source.top()) * scale};
    }
};

// The entities of a block reference, moved to where it was inserted.
const Drawing::Block *blockNamed(const Drawing &drawing, const QString &name)
{
    for (const auto &[file, block] : drawing.blocks())
        if (block->name.compare(name, Qt::CaseInsensitive) == 0)
            return block.get();
    return nullptr;
}

// A text as CAD places it: its cap height the text's height, aligned at its
// alignment point, turned and stretched as it is.
void paintText(QPainter &painter, const Drawing::Entity &e, const std::function<QPointF(CadPoint)> &at,
               const Mapping &map, const QString &fontFamily)
{
    if (e.text.isEmpty() || e.height <= 0)
        return;
    QFont font(fontFamily);
    font.setPixelSize(std::max(1, int(std::lround(e.height * map.scale * 1.4))));
    const QFontMetricsF metrics(font);
    // Cap height of a CAD text is its height: scale the face so.
    const double pixels = e.height * map.scale;
    const double capHeight = metrics.capHeight() > 0 ? metrics.capHeight() : metrics.ascent() * 0.7;
    font.setPixelSize(std::max(1, int(std::lround(font.pixelSize() * pixels / capHeight))));
    const QFontMetricsF fitted(font);
    const double width = fitted.horizontalAdvance(e.text) * e.scale;
    const bool aligned = e.horizontal != 0 || e.vertical != 0;
    const QPointF anchor = at(aligned ? e.alignment : e.points.front());
    // Offsets from the anchor along the text's own direction.
    double x = 0, y = 0;
    if (e.horizontal == 1 || e.horizontal == 4)
        x -= width / 2;
    else if (e.horizontal == 2)
        x -= width;
    if (e.vertical == 1)
        y -= fitted.descent();
    else if (e.vertical == 2)
        y += pixels / 2;
    else if (e.vertical == 3)
        y += pixels;
    painter.save();
    painter.setFont(font);
    painter.translate(anchor);
    painter.rotate(-e.rotation); // the page's y runs down
    painter.translate(x, y);
    painter.scale(e.scale, 1);
    painter.drawText(QPointF(0, 0), e.text);
    painter.restore();
}

void paintEntity(QPainter &painter, const Drawing &drawing, const Drawing::Entity &e, CadPoint offset,
                 const Mapping &map, const AciColour &colour, const QString &fontFamily, int parentColour,
                 int depth)
{
    using Entity = Drawing::Entity;
    if (e.erased)
        return;
    int aci = e.colour;
    if (aci == 256 && depth > 0 && e.layer == QLatin1String("0")) {
        aci = parentColour; // a block's layer-0 entity takes the reference's
    } else if (aci == 256) {
        const auto layer = drawing.layers().find(e.layer);
        aci = layer != drawing.layers().end() ? layer->second : 7;
    } else if (aci == 0) {
        aci = parentColour;
    }
    const QColor ink = colour(aci);
    painter.setPen(QPen(ink, 0));
    painter.setBrush(Qt::NoBrush);
    const auto at = [&](CadPoint p) { return map({p.x + offset.x, p.y + offset.y}); };
    switch (e.kind) {
    case Entity::Line:
        if (e.points.size() == 2)
            painter.drawLine(at(e.points[0]), at(e.points[1]));
        break;
    case Entity::Polyline: {
        QPolygonF line;
        for (const CadPoint &p : e.points)
            line << at(p);
        if (e.closed)
            painter.drawPolygon(line);
        else
            painter.drawPolyline(line);
        break;
    }
    case Entity::Circle: {
        const double r = e.radius * map.scale;
        painter.drawEllipse(at(e.points.front()), r, r);
        break;
    }
    case Entity::Arc: {
        const QPointF c = at(e.points.front());
        const double r = e.radius * map.scale;
        double sweep = std::fmod(e.endAngle - e.startAngle + 360, 360);
        if (sweep == 0)
            sweep = 360;
        // Qt's angles run counter-clockwise on screen, as CAD's do with Y up.
        painter.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), int(std::lround(e.startAngle * 16)),
                        int(std::lround(sweep * 16)));
        break;
    }
    case Entity::Solid: {
        if (e.points.size() < 4)
            break;
        // A solid's third and fourth corners are in crossed order.
        const QPointF corners[] = {at(e.points[0]), at(e.points[1]), at(e.points[3]), at(e.points[2])};
        painter.setBrush(ink);
        painter.drawPolygon(corners, 4);
        break;
    }
    case Entity::Text:
        paintText(painter, e, at, map, fontFamily);
        break;
    case Entity::Insert: {
        const Drawing::Block *block = blockNamed(drawing, e.block);
        if (!block || depth > 8)
            break;
        const CadPoint where{e.points.front().x + offset.x, e.points.front().y + offset.y};
        for (const Entity &inner : block->entities)
            if (inner.kind != Entity::Attdef)
                paintEntity(painter, drawing, inner, where, map, colour, fontFamily, aci, depth + 1);
        break;
    }
    case Entity::Attdef:
        break;
    }
}

} // namespace

void paintDrawing(QPainter &painter, const Drawing &drawing, const QRectF &source, const QRectF &target,
                  const AciColour &colour, const QString &fontFamily)
{
    if (source.width() <= 0 || source.height() <= 0)
        return;
    const double scale = std::min(target.width() / source.width(), target.height() / source.height());
    // Centred in the target; source.top() is its lowest Y (drawing Y up).
    const double w = source.width() * scale, h = source.height() * scale;
    Mapping map{source, {target.left() + (target.width() - w) / 2, target.top() + (target.height() + h) / 2}, scale};
    painter.save();
    painter.setClipRect(target);
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (const Drawing::Entity &e : drawing.entities()) {
        // Only what lies in the source: a sheet of many.
        bool inside = e.points.empty();
        for (const CadPoint &p : e.points)
            inside = inside || source.contains(QPointF(p.x, p.y));
        if (inside)
            paintEntity(painter, drawing, e, {0, 0}, map, colour, fontFamily, 7, 0);
    }
    painter.restore();
}
