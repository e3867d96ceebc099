#include "survey/pointstyle.h"

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
