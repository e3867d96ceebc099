#pragma once

#include "preview/planpicture.h"
#include "preview/previewcurves.h"

#include <QWidget>

#include <optional>

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
    // The plan view instead of curves, at a zoom level (1 to 4).
    void setPlan(PlanPicture plan, int zoomLevel);
    const std::optional<PlanPicture> &plan() const { return m_plan; }
    int planZoom() const { return m_planZoom; }
    // The drawing area inside the border, in widget coordinates.
    QRectF drawingArea() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    // A point of the plan in alarm tells why.
    bool event(QEvent *event) override;

private:
    PreviewPicture m_picture;
    std::optional<PlanPicture> m_plan;
    int m_planZoom = 1;
};
