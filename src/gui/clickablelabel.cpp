#include "gui/clickablelabel.h"

#include <QMouseEvent>

void ClickableLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())
        && isEnabled())
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}
