#include "gui/halfblanklabel.h"

#include <QPainter>
#include <QStyle>

void HalfBlankLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QFontMetricsF metrics(font());
    const qreal blank = metrics.horizontalAdvance(QChar(0x4E00)) / 2;
    const QString caption = text();
    qreal x = 0;
    qsizetype i = 0;
    while (i < caption.size()) {
        if (caption[i] == QLatin1Char(' ')) {
            x += blank;
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < caption.size() && caption[end] != QLatin1Char(' '))
            ++end;
        const QString run = caption.mid(i, end - i);
        const qreal width = metrics.horizontalAdvance(run);
        const QRect area(int(x), 0, int(width) + 2, height());
        style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter, palette(),
                              isEnabled(), run, foregroundRole());
        x += width;
        i = end;
    }
}
