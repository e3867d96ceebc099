#pragma once

// The web view's drawings as SVG, painted by the report's own painters onto
// an SVG device: the plan page's plan and legend, and a point's chart of
// cumulative settlement. What the page shows is what the PDF prints.

#include "domain/buildingdeformation.h"
#include "domain/stability.h"
#include "preview/planpicture.h"

#include <QByteArray>
#include <QString>

// The plan at the model's epoch with its legend (north arrow, scale, tilt
// and its azimuth, the colours of the states), as the report's plan page.
QByteArray planSvg(const PlanPicture &picture, const PlanFigures &figures);
// One point's chart: observed, and the accepted forecast with its band.
QByteArray chartSvg(const PointStability &point, int step);
