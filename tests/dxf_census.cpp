// Reads each DXF file named on the command line with the program's reader
// and prints, a JSON line each, what it drew and skipped by kind, or why it
// failed: what tst_dxf_library.py compares with ezdxf.
#include "cad/dxffile.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <cmath>

// The extents of the lines, polylines, circles and arcs drawn (arcs traced
// by the degree), [min x, min y, max x, max y]; null when there are none.
QJsonValue extents(const DxfContents &contents)
{
    double box[4] = {HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    bool any = false;
    const auto add = [&](double x, double y) {
        box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
        box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
        any = true;
    };
    for (const Drawing::Entity &e : contents.entities) {
        switch (e.kind) {
        case Drawing::Entity::Line:
        case Drawing::Entity::Polyline:
            for (const CadPoint &p : e.points)
                add(p.x, p.y);
            break;
        case Drawing::Entity::Circle:
        case Drawing::Entity::Arc: {
            const double start = e.kind == Drawing::Entity::Arc ? e.startAngle : 0;
            double sweep = e.kind == Drawing::Entity::Arc ? std::fmod(e.endAngle - start + 360, 360) : 360;
            if (sweep == 0)
                sweep = 360;
            for (int i = 0; i <= int(std::ceil(sweep)); ++i) {
                const double a = (start + std::min<double>(i, sweep)) * M_PI / 180;
                add(e.points[0].x + e.radius * std::cos(a), e.points[0].y + e.radius * std::sin(a));
            }
            break;
        }
        default:
            break;
        }
    }
    if (!any)
        return QJsonValue::Null;
    return QJsonArray{box[0], box[1], box[2], box[3]};
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    for (const QString &file : app.arguments().mid(1)) {
        QJsonObject line{{QStringLiteral("file"), file}};
        const auto contents = readDxfFile(file);
        if (!contents) {
            line[QStringLiteral("error")] = contents.error();
        } else {
            QJsonObject drawn, skipped;
            for (const auto &[kind, count] : contents->drawn)
                drawn[kind] = count;
            for (const auto &[kind, count] : contents->skipped)
                skipped[kind] = count;
            line[QStringLiteral("drawn")] = drawn;
            line[QStringLiteral("extents")] = extents(*contents);
            line[QStringLiteral("skipped")] = skipped;
        }
        out << QJsonDocument(line).toJson(QJsonDocument::Compact) << '\n';
    }
    return 0;
}
