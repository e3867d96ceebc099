#pragma once

#include "preview/previewcurves.h"

#include <QWidget>

// The preview area Pic1: a white picture box showing one picture of curves,
// redrawn whenever it is exposed. The zoom buttons sit inside it.
class PreviewWidget : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewWidget(QWidget *parent = nullptr);

    void setPicture(PreviewPicture picture);
    void clearPicture();
    const PreviewPicture &picture() const { return m_picture; }
    // The drawing area inside the border, in widget coordinates.
    QRectF drawingArea() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    PreviewPicture m_picture;
};
