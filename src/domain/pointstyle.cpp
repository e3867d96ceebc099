#include "domain/pointstyle.h"

PointStyle defaultPointStyle(int pointNumber)
{
    switch (((pointNumber % 6) + 6) % 6) {
    case 1:
        return {5, QStringLiteral("菱形")};
    case 2:
        return {6, QStringLiteral("正方形")};
    case 3:
        return {3, QStringLiteral("叉叉")};
    case 4:
        return {4, QStringLiteral("圆形")};
    case 5:
        return {1, QStringLiteral("三角形")};
    default:
        return {11, QStringLiteral("长方形")};
    }
}

const QStringList &pointMarks()
{
    static const QStringList marks{QStringLiteral("菱形"),   QStringLiteral("正方形"), QStringLiteral("叉叉"),
                                   QStringLiteral("圆形"),   QStringLiteral("三角形"), QStringLiteral("长方形")};
    return marks;
}

const std::vector<PointColour> &pointColours()
{
    // The standard CAD colours, and the one the sixth default takes.
    static const std::vector<PointColour> colours{
        {1, QStringLiteral("红")}, {2, QStringLiteral("黄")}, {3, QStringLiteral("绿")},
        {4, QStringLiteral("青")}, {5, QStringLiteral("蓝")}, {6, QStringLiteral("洋红")},
        {7, QStringLiteral("白/黑")}, {8, QStringLiteral("深灰")}, {9, QStringLiteral("浅灰")},
        {11, QStringLiteral("浅红")}, {30, QStringLiteral("橙")}, {150, QStringLiteral("天蓝")}};
    return colours;
}
