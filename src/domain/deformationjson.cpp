#include "domain/buildingdeformation.h"
#include "domain/monitoringmodel.h"

#include "domain/projectsnapshot.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

// The building's deformation, its alarms and its plan figures as JSON: what
// `plan` and `analyse` write, and what the web view serves.

namespace {

QString pointName(const ProjectSnapshot &snapshot, int number)
{
    const Point *p = snapshot.point(number);
    return p ? p->name : QString::number(number);
}

QJsonValue numberOrNull(std::optional<double> value)
{
    return value && std::isfinite(*value) ? QJsonValue(*value) : QJsonValue();
}

QJsonValue tiltJson(const std::optional<Tilt> &tilt)
{
    if (!tilt)
        return QJsonValue();
    // The azimuth clockwise from north with its compass word; direction_deg,
    // counter-clockwise from the x axis, as earlier versions gave it. No
    // direction without a slope.
    if (!(tilt->value > 0))
        return QJsonObject{{QStringLiteral("value"), 0.0},
                           {QStringLiteral("azimuth_deg"), QJsonValue()},
                           {QStringLiteral("compass"), QJsonValue()},
                           {QStringLiteral("direction_deg"), QJsonValue()},
                           {QStringLiteral("rms_mm"), tilt->rmsMm}};
    return QJsonObject{{QStringLiteral("value"), tilt->value},
                       {QStringLiteral("azimuth_deg"), tilt->azimuthDeg},
                       {QStringLiteral("compass"), compassWord(tilt->azimuthDeg)},
                       {QStringLiteral("direction_deg"), std::fmod(450 - tilt->azimuthDeg, 360.0)},
                       {QStringLiteral("rms_mm"), tilt->rmsMm}};
}

QJsonObject pairJson(const EpochDeformation &d, const NeighbourPair &pair)
{
    return {{QStringLiteral("from"), d.points[size_t(pair.from)].name},
            {QStringLiteral("to"), d.points[size_t(pair.to)].name},
            {QStringLiteral("ds_mm"), pair.dsMm},
            {QStringLiteral("length_m"), pair.lengthM},
            {QStringLiteral("ratio"), pair.ratio}};
}

} // namespace

QJsonArray alarmsJson(const std::vector<Alarm> &alarms, const ProjectSnapshot &snapshot)
{
    QJsonArray out;
    for (const Alarm &alarm : alarms)
        out.append(QJsonObject{
            {QStringLiteral("epoch"), alarm.cjNo},
            {QStringLiteral("kind"), alarmKindKey(alarm.kind)},
            {QStringLiteral("point"), alarm.point ? QJsonValue(pointName(snapshot, *alarm.point)) : QJsonValue()},
            {QStringLiteral("pair"), alarm.pair ? QJsonValue(QJsonArray{pointName(snapshot, alarm.pair->first),
                                                                        pointName(snapshot, alarm.pair->second)})
                                                : QJsonValue()},
            {QStringLiteral("value"), alarm.value},
            {QStringLiteral("threshold"), alarm.threshold}});
    return out;
}

QByteArray planJson(const PlanFigures &figures, const ProjectSnapshot &snapshot, const AlarmThresholds &thresholds)
{
    // The ratios' thresholds in ‰, or why there is none.
    const auto perMille = [](std::optional<double> ratio) {
        return ratio ? QJsonValue(*ratio * 1000) : QJsonValue();
    };
    const auto reason = [](std::optional<double> ratio, const QString &why) {
        return ratio || why.isEmpty() ? QJsonValue() : QJsonValue(why);
    };
    const QJsonObject limits{{QStringLiteral("tilt_permille"), perMille(thresholds.tilt)},
                             {QStringLiteral("differential_permille"), perMille(thresholds.differential)},
                             {QStringLiteral("tilt_reason"), reason(thresholds.tilt, thresholds.tiltReason)},
                             {QStringLiteral("differential_reason"),
                              reason(thresholds.differential, thresholds.differentialReason)}};
    const EpochDeformation &d = figures.deformation;
    QJsonArray points, pairs, contours;
    for (const PlanPoint &p : d.points)
        points.append(QJsonObject{{QStringLiteral("number"), p.number},
                                  {QStringLiteral("name"), p.name},
                                  {QStringLiteral("x"), p.x},
                                  {QStringLiteral("y"), p.y},
                                  {QStringLiteral("s_mm"), p.sMm}});
    for (const NeighbourPair &pair : d.pairs)
        pairs.append(pairJson(d, pair));
    for (const ContourLine &line : figures.contours) {
        QJsonArray polylines;
        for (const auto &polyline : line.polylines) {
            QJsonArray vertices;
            for (const auto &[x, y] : polyline)
                vertices.append(QJsonArray{x, y});
            polylines.append(vertices);
        }
        contours.append(QJsonObject{{QStringLiteral("level_mm"), line.levelMm},
                                    {QStringLiteral("polylines"), polylines}});
    }
    const QJsonObject root{{QStringLiteral("epoch"), d.cjNo},
                           {QStringLiteral("points"), points},
                           {QStringLiteral("tilt"), tiltJson(d.tilt)},
                           {QStringLiteral("pairs"), pairs},
                           {QStringLiteral("contours"), contours},
                           {QStringLiteral("alarms"), alarmsJson(figures.alarms, snapshot)},
                           {QStringLiteral("limits"), limits}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QJsonArray deformationJson(const DeformationReport &report, const ProjectSnapshot &snapshot)
{
    QJsonArray epochs;
    for (const EpochDeformation &d : report.epochs) {
        const Epoch &epoch = snapshot.epochs()[size_t(d.epochIndex)];
        epochs.append(QJsonObject{
            {QStringLiteral("epoch"), d.cjNo},
            {QStringLiteral("name"), epoch.name},
            {QStringLiteral("date"), epoch.date},
            {QStringLiteral("points"), int(d.points.size())},
            {QStringLiteral("average_mm"), numberOrNull(d.averageMm)},
            {QStringLiteral("largest"),
             d.largest >= 0 ? QJsonValue(QJsonObject{{QStringLiteral("point"), d.points[size_t(d.largest)].name},
                                                     {QStringLiteral("s_mm"), d.points[size_t(d.largest)].sMm}})
                            : QJsonValue()},
            {QStringLiteral("tilt"), tiltJson(d.tilt)},
            {QStringLiteral("largest_pair"),
             d.largestPair >= 0 ? QJsonValue(pairJson(d, d.pairs[size_t(d.largestPair)])) : QJsonValue()}});
    }
    return epochs;
}

QJsonObject analysisJson(const MonitoringModel &model, const ProjectSnapshot &snapshot)
{
    QJsonObject root = QJsonDocument::fromJson(stabilityJson(*model.stability)).object();
    if (model.history) {
        root.insert(QStringLiteral("deformation"), deformationJson(*model.history, snapshot));
        root.insert(QStringLiteral("alarms"), alarmsJson(model.history->alarms, snapshot));
    }
    return root;
}
