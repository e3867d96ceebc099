#include "gui/previewwidget.h"

#include <QHelpEvent>
#include <QLineF>
#include <QPainter>
#include <QToolTip>

PreviewWidget::PreviewWidget(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewWidget::setPicture(PreviewPicture picture)
{
    m_picture = std::move(picture);
    m_plan.reset();
    update();
}

void PreviewWidget::clearPicture()
{
    m_picture.lines.clear();
    m_plan.reset();
    update();
}

void PreviewWidget::setPlan(PlanPicture plan, int zoomLevel)
{
    m_plan = std::move(plan);
    m_planZoom = zoomLevel;
    update();
}

bool PreviewWidget::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && m_plan) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const PlanMapping map = planMapping(drawingArea(), *m_plan, m_planZoom);
        for (const PlanPicture::Mark &mark : m_plan->points) {
            const QPointF at = map(mark.at);
            if (QLineF(at, help->pos()).length() <= 6) {
                const QString text = mark.name + QStringLiteral("：") + mark.value + QStringLiteral(" mm")
                                     + (mark.reason.isEmpty() ? QString() : QLatin1Char('\n') + mark.reason);
                QToolTip::showText(help->globalPos(), text, this);
                return true;
            }
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QWidget::event(event);
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
    if (m_plan)
        drawPlan(painter, drawingArea(), *m_plan, m_planZoom);
    else
        drawPreview(painter, drawingArea(), m_picture);
}
