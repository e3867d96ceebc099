#include "web/webdrawings.h"

#include "pdfreport/reportpages.h"

#include <QBuffer>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgGenerator>

#include <functional>

namespace {

// Paints into an SVG of `widthMm` × `heightMm` at the report's resolution,
// so that the painters' millimetres are the report's; the browser scales
// the drawing by its viewBox. Returned without the XML declaration, to be
// placed in the page.
QByteArray svgOf(double widthMm, double heightMm, const QString &title,
                 const std::function<void(QPainter &, const QRectF &)> &paint)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setResolution(int(reportDpi));
    const QSize size(int(mm(widthMm)), int(mm(heightMm)));
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    // The generator writes its title as it is given: escaped here, since a
    // point's name may hold anything.
    svg.setTitle(title.toHtmlEscaped());
    {
        QPainter painter(&svg);
        painter.setRenderHint(QPainter::Antialiasing);
        paint(painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    QByteArray bytes = buffer.data();
    const int start = bytes.indexOf("<svg");
    if (start > 0)
        bytes.remove(0, start);
    // Sized by the page's style, not in millimetres of paper: the opening
    // tag loses its width and height and keeps its viewBox.
    const int tagEnd = bytes.indexOf('>');
    if (tagEnd > 0) {
        QString tag = QString::fromUtf8(bytes.left(tagEnd));
        tag.remove(QRegularExpression(QStringLiteral("\\s(width|height)=\"[^\"]*\"")));
        bytes = tag.toUtf8() + bytes.mid(tagEnd);
    }
    return bytes;
}

} // namespace

QByteArray planSvg(const PlanPicture &picture, const PlanFigures &figures)
{
    // The plan page's body (A4 across), less its title.
    const double width = bodyWidthMm(true), height = bodyHeightMm(true);
    return svgOf(width, height, QStringLiteral("测点平面布置"), [&](QPainter &p, const QRectF &body) {
        paintPlanPage(p, body, QString(), picture, figures);
    });
}

QByteArray chartSvg(const PointStability &point, int step)
{
    // The size of one of the report's six charts to a page.
    const double width = bodyWidthMm(true) / 3 - 4, height = (bodyHeightMm(true) - 14) / 2 - 4;
    return svgOf(width, height, point.name, [&](QPainter &p, const QRectF &box) {
        drawStabilityChart(p, box, point, step);
    });
}
