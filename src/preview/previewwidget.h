#pragma once

#include <QWidget>

// The preview area Pic1: a white picture box with the zoom buttons inside.
class PreviewWidget : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewWidget(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
