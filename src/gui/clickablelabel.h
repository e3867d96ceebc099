#pragma once

#include <QLabel>

// A label that reports a click of the left mouse button, as the caption
// "设置：成果表表头" does to open the header editor.
class ClickableLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};
