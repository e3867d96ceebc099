#include "gui/previewwidget.h"

#include <QPainter>

PreviewWidget::PreviewWidget(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewWidget::setPicture(PreviewPicture picture)
{
    m_picture = std::move(picture);
    update();
}

void PreviewWidget::clearPicture()
{
    m_picture.lines.clear();
    update();
}

QRectF PreviewWidget::drawingArea() const
{
    return QRectF(rect().adjusted(1, 1, -1, -1));
}

void PreviewWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    drawPreview(painter, drawingArea(), m_picture);
}
