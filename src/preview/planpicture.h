#pragma once

// The plan view of the preview: the building's plan in grey, the points
// with their marks, colours, names and cumulative settlement at the shown
// epoch, the contour lines with their levels, the tilt arrow with its value,
// points in alarm in red. Built from the figures once an epoch; painted on
// any painter.

#include "domain/buildingdeformation.h"
#include "domain/projectsnapshot.h"

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QFontMetricsF>
#include <QString>

#include <optional>
#include <vector>

class QPainter;

struct PlanPicture
{
    struct Mark
    {
        QPointF at; // m, the building's grid
        QColor colour;
        QString mark; // the point's mark (圆形, 菱形, …)
        QString name, value;
        bool alarm = false;
        QString reason; // the alarms, for a tooltip
    };
    PlanBackground background;
    std::vector<Mark> points;
    struct Contour
    {
        QString label;
        std::vector<std::vector<QPointF>> lines;
    };
    std::vector<Contour> contours;
    std::optional<Tilt> tilt;
    QString caption; // the epoch shown
    QRectF extents;  // of points and background, m
    // On paper a legend beside the plan carries the north arrow and the
    // tilt's arrow: the plan does not draw its own.
    bool keyedBeside = false;
};

PlanPicture planPicture(const ProjectSnapshot &snapshot, const PlanFigures &figures,
                        const PlanBackground &background);

// Where a point of the building's grid lands in `area` at a zoom level.
struct PlanMapping
{
    QPointF areaCentre, planCentre;
    double scale = 1; // pixels per metre
    QPointF operator()(QPointF p) const
    {
        return {areaCentre.x() + (p.x() - planCentre.x()) * scale,
                areaCentre.y() - (p.y() - planCentre.y()) * scale};
    }
};
PlanMapping planMapping(const QRectF &area, const PlanPicture &picture, int zoomLevel);
// Where the points' marks, names and values are drawn, at a font of `metrics`.
std::vector<QRectF> pointLabelRects(const QRectF &area, const PlanPicture &picture, int zoomLevel,
                                    const QFontMetricsF &metrics);
// Each contour's label (its level): at the vertex nearest the middle of its
// longest line where it covers no point's mark, name or value and no other
// label; none where no place is clear (the legend gives the interval).
struct ContourLabel
{
    QString text;
    QPointF at;  // the baseline's start
    QRectF rect; // what it covers
};
std::vector<ContourLabel> contourLabels(const QRectF &area, const PlanPicture &picture, int zoomLevel,
                                        const QFontMetricsF &metrics);

// Paints the plan into `area`, fitted whole at zoom level 1 and enlarged
// 1.5 times a level about its middle up to level 4, Y up.
void drawPlan(QPainter &painter, const QRectF &area, const PlanPicture &picture, int zoomLevel);
