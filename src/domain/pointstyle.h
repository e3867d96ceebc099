#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The mark and colour a point gets when it is first named, chosen by its
// number mod 6: 1 blue diamond, 2 magenta square, 3 green cross, 4 cyan
// circle, 5 red triangle, 0 (6, 12 ...) colour 11 rectangle.
struct PointStyle
{
    int aci;
    QString mark;
};

PointStyle defaultPointStyle(int pointNumber);

// The six marks, and the colours a point may take (CAD colour index and
// its name), as the window offers them.
const QStringList &pointMarks();
struct PointColour
{
    int aci;
    QString name;
};
const std::vector<PointColour> &pointColours();
