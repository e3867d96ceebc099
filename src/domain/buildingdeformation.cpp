#include "domain/buildingdeformation.h"

#include "base/textnumber.h"
#include "domain/headerfields.h"
#include "domain/keyrules.h"
#include "domain/projectsnapshot.h"
#include "domain/settlement.h"
#include "domain/stability.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

QString quantityText(DeformationLimit::Quantity quantity)
{
    switch (quantity) {
    case DeformationLimit::Tilt:
        return QStringLiteral("整体倾斜");
    case DeformationLimit::Differential:
        return QStringLiteral("相邻柱基沉降差");
    case DeformationLimit::LocalTilt:
        return QStringLiteral("局部倾斜");
    case DeformationLimit::Average:
        return QStringLiteral("平均沉降量");
    }
    return QString();
}

namespace {

const QString codeSource = QStringLiteral("GB 50007-2011 表 5.3.4（据二手资料）");


std::optional<double> numberField(const std::map<QString, QString> &fields, const QString &key)
{
    const auto found = fields.find(key);
    if (found == fields.end())
        return std::nullopt;
    bool ok = false;
    const double value = found->second.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value <= 0)
        return std::nullopt;
    return value;
}

QString field(const std::map<QString, QString> &fields, const QString &key)
{
    const auto found = fields.find(key);
    return found == fields.end() ? QString() : found->second.trimmed();
}

// The row of a quantity that the structure, soil and height choose.
std::optional<DeformationLimit> chosenLimit(const std::vector<DeformationLimit> &limits,
                                            DeformationLimit::Quantity quantity,
                                            const QString &structure, const QString &soil,
                                            std::optional<double> height)
{
    for (const DeformationLimit &limit : limits) {
        if (limit.quantity != quantity)
            continue;
        if (!limit.match.isEmpty() && !structure.contains(limit.match))
            continue;
        if (!limit.soil.isEmpty() && limit.soil != soil)
            continue;
        if (limit.heightMin || limit.heightMax) {
            if (!height)
                continue;
            if (limit.heightMin && !(*height > *limit.heightMin))
                continue;
            if (limit.heightMax && !(*height <= *limit.heightMax))
                continue;
        }
        return limit;
    }
    return std::nullopt;
}

} // namespace

std::vector<DeformationLimit> defaultDeformationLimits()
{
    const QString building = QStringLiteral("多层和高层建筑");
    std::vector<DeformationLimit> rows;
    const std::pair<std::optional<double>, std::optional<double>> heights[] = {
        {std::nullopt, 24}, {24, 60}, {60, 100}, {100, std::nullopt}};
    const double tilts[] = {0.004, 0.003, 0.0025, 0.002};
    for (int i = 0; i < 4; ++i)
        rows.push_back({DeformationLimit::Tilt, building, QString(), QString(), heights[i].first,
                        heights[i].second, tilts[i], codeSource});
    const QString lowSoil = QStringLiteral("中、低压缩性土"), highSoil = QStringLiteral("高压缩性土");
    rows.push_back({DeformationLimit::Differential, QStringLiteral("框架结构"), QStringLiteral("框架"),
                    lowSoil, std::nullopt, std::nullopt, 0.002, codeSource});
    rows.push_back({DeformationLimit::Differential, QStringLiteral("框架结构"), QStringLiteral("框架"),
                    highSoil, std::nullopt, std::nullopt, 0.003, codeSource});
    rows.push_back({DeformationLimit::LocalTilt, QStringLiteral("砌体承重结构"), QStringLiteral("砌体"),
                    lowSoil, std::nullopt, std::nullopt, 0.002, codeSource});
    rows.push_back({DeformationLimit::LocalTilt, QStringLiteral("砌体承重结构"), QStringLiteral("砌体"),
                    highSoil, std::nullopt, std::nullopt, 0.003, codeSource});
    rows.push_back({DeformationLimit::Average, QStringLiteral("体型简单的高层建筑基础"), QString(),
                    QString(), std::nullopt, std::nullopt, 200, codeSource});
    return rows;
}

QString deformationLimitsNote()
{
    return QStringLiteral("表中限值摘自二手资料所引 GB 50007-2011 表 5.3.4，仅供参考；"
                          "使用前须与规范原文及设计文件核对。");
}

Result<QString> perMilleAlarmText(const QString &typed)
{
    QString text = typed.trimmed();
    if (text.isEmpty())
        return text;
    if (text.endsWith(QChar(0x2030)))
        text.chop(1);
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < leastPerMilleAlarm || value > largestPerMilleAlarm)
        return fail(QStringLiteral("“%1”不是 %2‰ 到 %3‰ 之间的数（以 ‰ 输入，如 2 表示 2‰，即 Δs/L = 0.002）")
                        .arg(typed.trimmed(), formatFixed(leastPerMilleAlarm, 1), formatFixed(largestPerMilleAlarm, 0)));
    return text.trimmed() + QChar(0x2030);
}

namespace {

// A ratio alarm value as stored: "2‰", or a plain ratio of an older project.
std::optional<double> ratioField(const std::map<QString, QString> &fields, const QString &key,
                                 QStringList *problems)
{
    const auto found = fields.find(key);
    if (found == fields.end() || found->second.trimmed().isEmpty())
        return std::nullopt;
    QString text = found->second.trimmed();
    const bool perMille = text.endsWith(QChar(0x2030));
    if (perMille)
        text.chop(1);
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    const double ratio = perMille ? value / 1000 : value;
    if (ok && std::isfinite(ratio) && ratio >= leastPerMilleAlarm / 1000 && ratio <= largestPerMilleAlarm / 1000)
        return ratio;
    if (problems)
        *problems << QStringLiteral("%1“%2”不是 %3‰ 到 %4‰ 之间的值，未采用（按限值表）；请在平面图设置中以 ‰ 重新输入")
                         .arg(key, found->second.trimmed(), formatFixed(leastPerMilleAlarm, 1),
                              formatFixed(largestPerMilleAlarm, 0));
    return std::nullopt;
}

} // namespace

QString perMilleAlarmShown(const QString &stored)
{
    const auto ratio = ratioField({{QStringLiteral("v"), stored}}, QStringLiteral("v"), nullptr);
    if (!ratio)
        return stored.trimmed();
    return QString::number(*ratio * 1000, 'g', 12);
}

AlarmThresholds alarmThresholds(const std::map<QString, QString> &fields,
                                const std::vector<DeformationLimit> &limits, QStringList *problems)
{
    AlarmThresholds thresholds;
    thresholds.cumulativeMm = numberField(fields, DeformationKey::CumulativeAlarm);
    thresholds.rateMmPerDay = numberField(fields, DeformationKey::RateAlarm);
    // The fields as people type them ("24m", "中压缩性土", "框剪结构").
    const QString structureTyped = field(fields, DeformationKey::Structure);
    const QString soilTyped = field(fields, DeformationKey::Soil);
    const QString heightTyped = field(fields, DeformationKey::BuildingHeight);
    const QString structure = structureOf(structureTyped);
    const QString soil = soilClassOf(soilTyped);
    const auto height = buildingHeightOf(heightTyped);
    thresholds.tiltLimit = chosenLimit(limits, DeformationLimit::Tilt, structure, soil, height);
    // Neighbours' Δs / L: the frame's column foundations, else the local
    // tilt of a masonry wall.
    thresholds.differentialLimit =
        chosenLimit(limits, DeformationLimit::Differential, structure, soil, height);
    if (!thresholds.differentialLimit)
        thresholds.differentialLimit =
            chosenLimit(limits, DeformationLimit::LocalTilt, structure, soil, height);
    thresholds.differential = ratioField(fields, DeformationKey::DifferentialAlarm, problems);
    if (!thresholds.differential && thresholds.differentialLimit)
        thresholds.differential = thresholds.differentialLimit->value;
    thresholds.tilt = ratioField(fields, DeformationKey::TiltAlarm, problems);
    if (!thresholds.tilt && thresholds.tiltLimit)
        thresholds.tilt = thresholds.tiltLimit->value;
    // Where no limit applies, why, in words: a limit is never missing in
    // silence.
    if (!thresholds.tilt) {
        if (heightTyped.isEmpty())
            thresholds.tiltReason = QStringLiteral("未填建筑高度，变形限值表中无可选用的倾斜限值，未判倾斜");
        else if (!height)
            thresholds.tiltReason =
                QStringLiteral("建筑高度「%1」不是以米计的高度，未判倾斜").arg(heightTyped.left(24));
        else
            thresholds.tiltReason = QStringLiteral("建筑高度 %1 m 在变形限值表中无倾斜限值，未判倾斜")
                                        .arg(QString::number(*height, 'g', 6));
    }
    if (!thresholds.differential) {
        const bool anyRowForStructure = [&] {
            for (const DeformationLimit &limit : limits)
                if ((limit.quantity == DeformationLimit::Differential || limit.quantity == DeformationLimit::LocalTilt)
                    && (limit.match.isEmpty() || structure.contains(limit.match)))
                    return true;
            return false;
        }();
        if (structureTyped.isEmpty())
            thresholds.differentialReason = QStringLiteral("未填结构形式，未判差异沉降");
        else if (!anyRowForStructure)
            thresholds.differentialReason =
                QStringLiteral("结构形式「%1」在变形限值表中无差异沉降限值，未判差异沉降").arg(structureTyped.left(24));
        else if (soilTyped.isEmpty())
            thresholds.differentialReason = QStringLiteral("未填地基土，未判差异沉降");
        else if (soil.isEmpty())
            thresholds.differentialReason =
                QStringLiteral("地基土「%1」不能归入%2或%3，未判差异沉降").arg(soilTyped.left(24), LowSoil, HighSoil);
        else
            thresholds.differentialReason =
                QStringLiteral("结构形式「%1」、地基土「%2」在变形限值表中无差异沉降限值，未判差异沉降")
                    .arg(structureTyped.left(24), soilTyped.left(24));
    }
    return thresholds;
}

std::set<std::pair<int, int>> notNeighbours(const std::map<QString, QString> &fields,
                                            const ProjectSnapshot &snapshot, QStringList *problems)
{
    std::set<std::pair<int, int>> pairs;
    // Names matched as every import matches them (J02 is J2).
    std::map<QString, int> numbers;
    for (const Point &p : snapshot.points())
        numbers.emplace(pointNameKey(p.name.trimmed()), p.cjdNo);
    const auto numberOf = [&](const QString &name) -> std::optional<int> {
        const auto found = numbers.find(pointNameKey(name.trimmed()));
        return found == numbers.end() ? std::nullopt : std::optional<int>(found->second);
    };
    static const QRegularExpression separators(QStringLiteral("[;；,，\\n]"));
    // A pair's two names joined as people type the dash: - — － ～ ~.
    static const QRegularExpression dash(QStringLiteral("[-—－～~]"));
    for (const QString &item : field(fields, DeformationKey::NotNeighbours).split(separators, Qt::SkipEmptyParts)) {
        if (item.trimmed().isEmpty())
            continue;
        const QStringList ends = item.split(dash);
        if (ends.size() != 2) {
            if (problems)
                *problems << QStringLiteral("非相邻测点对“%1”应写成“点名-点名”，未用").arg(item.trimmed());
            continue;
        }
        const auto a = numberOf(ends[0]), b = numberOf(ends[1]);
        if (a && b) {
            pairs.insert({std::min(*a, *b), std::max(*a, *b)});
        } else if (problems) {
            *problems << QStringLiteral("非相邻测点对“%1”中的“%2”不是工程中的点名，未用")
                             .arg(item.trimmed(), (a ? ends[1] : ends[0]).trimmed());
        }
    }
    return pairs;
}

DeformationSettings deformationSettings(const Result<std::vector<DeformationLimit>> &limits,
                                        const std::map<QString, QString> &fields,
                                        const ProjectSnapshot &snapshot)
{
    DeformationSettings settings;
    QStringList problems;
    // A table the firm meant to use but that cannot be read is not replaced
    // by the shipped rows: no tilt or differential settlement is judged
    // against a limit then, only against the project's own alarm values.
    if (!limits) {
        problems << QStringLiteral("%1；倾斜和差异沉降未按限值判定（本工程的预警值照用）").arg(limits.error());
        settings.limitsUnusable = true;
    }
    settings.thresholds = alarmThresholds(fields, limits ? *limits : std::vector<DeformationLimit>(), &problems);
    // A field filled in that chooses no limit is told wherever the problems
    // are; one left empty only where the limit would be.
    if (!settings.thresholds.tiltReason.isEmpty() && !field(fields, DeformationKey::BuildingHeight).isEmpty())
        problems << settings.thresholds.tiltReason;
    if (!settings.thresholds.differentialReason.isEmpty()
        && (!field(fields, DeformationKey::Structure).isEmpty() || !field(fields, DeformationKey::Soil).isEmpty()))
        problems << settings.thresholds.differentialReason;
    settings.notNeighbours = notNeighbours(fields, snapshot, &problems);
    if (const QString far = farPointsText(farPlacedPoints(snapshot.points())); !far.isEmpty())
        problems << far;
    settings.problem = problems.join(QLatin1Char('\n'));
    settings.contourStep = numberField(fields, DeformationKey::ContourStep);
    QString scale = field(fields, DeformationKey::PlanScale);
    if (scale.startsWith(QLatin1String("1:")))
        scale.remove(0, 2);
    bool ok = false;
    const int denominator = scale.toInt(&ok);
    if (ok && denominator >= 1 && denominator <= 1'000'000)
        settings.planScale = denominator;
    return settings;
}

int placedPointCount(const ProjectSnapshot &snapshot)
{
    int placed = 0;
    for (const Point &p : snapshot.points())
        placed += p.position ? 1 : 0;
    return placed;
}

std::vector<FarPoint> farPlacedPoints(const std::vector<Point> &points)
{
    std::vector<double> xs, ys;
    for (const Point &p : points)
        if (p.position) {
            xs.push_back(p.position->x);
            ys.push_back(p.position->y);
        }
    std::vector<FarPoint> far;
    if (xs.size() < 3)
        return far;
    const auto median = [](std::vector<double> v) {
        const size_t half = v.size() / 2;
        std::nth_element(v.begin(), v.begin() + qsizetype(half), v.end());
        if (v.size() % 2 == 1)
            return v[half];
        return (*std::max_element(v.begin(), v.begin() + qsizetype(half)) + v[half]) / 2;
    };
    const double mx = median(xs), my = median(ys);
    for (const Point &p : points)
        if (p.position)
            if (const double d = std::hypot(p.position->x - mx, p.position->y - my); d > farFromOthers)
                far.push_back({p.cjdNo, p.name, d});
    if (far.size() * 2 >= xs.size())
        far.clear();
    return far;
}

QString farPointsText(const std::vector<FarPoint> &far)
{
    if (far.empty())
        return QString();
    QStringList named;
    for (const FarPoint &f : far)
        named << QStringLiteral("%1 与其他测点相距 %2 km").arg(f.name, formatFixed(f.distance / 1000, 0));
    return named.join(QStringLiteral("；"))
           + QStringLiteral("，坐标系可能不同。这些测点未用于倾斜和差异沉降，改正其坐标后自动计入。");
}

EpochDeformation deformationAt(const ProjectSnapshot &snapshot, int epochIndex,
                               const std::set<std::pair<int, int>> &notNeighbours)
{
    std::set<int> far;
    for (const FarPoint &f : farPlacedPoints(snapshot.points()))
        far.insert(f.cjdNo);
    EpochDeformation d;
    d.epochIndex = epochIndex;
    d.cjNo = snapshot.epochs()[size_t(epochIndex)].cjNo;
    const int dayCount = epochIndex >= 1 ? snapshot.dayCount(epochIndex - 1, epochIndex) : 0;
    double sum = 0, settledSum = 0;
    for (const Point &p : snapshot.points()) {
        const int column = snapshot.columnOf(p.cjdNo);
        if (column < 0)
            continue;
        const auto at = [&](int k) -> std::optional<double> {
            const double h = snapshot.at(k, column);
            return snapshot.present(h) ? std::optional(h) : std::nullopt;
        };
        std::optional<double> cumulative, rate;
        if (epochIndex == 0) {
            if (isMeasured(at(0)))
                cumulative = 0.0;
        } else {
            const PointValues v = PointEpochValues(epochIndex, at(0), at(epochIndex - 1),
                                                   at(epochIndex), dayCount);
            cumulative = v.cumulative;
            rate = v.rate;
        }
        if (!cumulative)
            continue;
        d.settled.push_back({p.cjdNo, *cumulative * 1000, rate ? std::optional(*rate * 1000) : std::nullopt});
        settledSum += *cumulative * 1000;
        if (d.settledLargest < 0 || d.settled.back().sMm < d.settled[size_t(d.settledLargest)].sMm)
            d.settledLargest = int(d.settled.size()) - 1;
        if (!p.position || far.count(p.cjdNo))
            continue;
        d.points.push_back({p.cjdNo, p.name, p.position->x, p.position->y, *cumulative * 1000});
        sum += *cumulative * 1000;
        if (d.largest < 0 || d.points.back().sMm < d.points[size_t(d.largest)].sMm)
            d.largest = int(d.points.size()) - 1;
    }
    if (!d.points.empty())
        d.averageMm = sum / double(d.points.size());
    if (!d.settled.empty())
        d.settledAverageMm = settledSum / double(d.settled.size());
    d.tilt = fitTilt(d.points);
    d.triangulation = triangulate(d.points);
    d.pairs = neighbourDifferences(d.points, d.triangulation, notNeighbours);
    for (size_t i = 0; i < d.pairs.size(); ++i)
        if (d.largestPair < 0 || d.pairs[i].ratio > d.pairs[size_t(d.largestPair)].ratio)
            d.largestPair = int(i);
    return d;
}

QString alarmKindKey(Alarm::Kind kind)
{
    static const char *const keys[] = {"cumulative", "rate", "differential", "tilt", "predicted"};
    return QLatin1String(keys[kind]);
}

QString alarmKindText(Alarm::Kind kind)
{
    static const char *const texts[] = {"累计沉降", "沉降速率", "差异沉降", "倾斜", "预测最终沉降"};
    return QString::fromUtf8(texts[kind]);
}

std::vector<Alarm> alarmsAt(const EpochDeformation &d, const AlarmThresholds &thresholds)
{
    std::vector<Alarm> alarms;
    const auto add = [&](Alarm::Kind kind, std::optional<int> point,
                         std::optional<std::pair<int, int>> pair, double value, double threshold) {
        alarms.push_back({d.epochIndex, d.cjNo, kind, point, pair, value, threshold});
    };
    for (const EpochDeformation::Settled &p : d.settled) {
        if (thresholds.cumulativeMm && std::abs(p.sMm) > *thresholds.cumulativeMm)
            add(Alarm::Cumulative, p.number, std::nullopt, p.sMm, *thresholds.cumulativeMm);
        if (thresholds.rateMmPerDay && p.rate && std::abs(*p.rate) > *thresholds.rateMmPerDay)
            add(Alarm::Rate, p.number, std::nullopt, *p.rate, *thresholds.rateMmPerDay);
    }
    if (thresholds.differential)
        for (const NeighbourPair &pair : d.pairs)
            if (pair.ratio > *thresholds.differential)
                add(Alarm::Differential, std::nullopt,
                    std::pair(d.points[size_t(pair.from)].number, d.points[size_t(pair.to)].number),
                    pair.ratio, *thresholds.differential);
    if (thresholds.tilt && d.tilt && d.tilt->value > *thresholds.tilt)
        add(Alarm::TiltKind, std::nullopt, std::nullopt, d.tilt->value, *thresholds.tilt);
    return alarms;
}

std::vector<Alarm> predictedAlarms(const ProjectSnapshot &snapshot, const StabilityAnalysis &analysis,
                                   const AlarmThresholds &thresholds)
{
    std::vector<Alarm> alarms;
    if (!thresholds.cumulativeMm || snapshot.epochCount() == 0)
        return alarms;
    const int last = snapshot.epochCount() - 1;
    for (const PointStability &p : analysis.points) {
        if (!p.hyperbolic || !std::isfinite(p.hyperbolic->sInf))
            continue;
        if (std::abs(p.sLast) <= *thresholds.cumulativeMm
            && std::abs(p.hyperbolic->sInf) > *thresholds.cumulativeMm)
            alarms.push_back({last, snapshot.epochs()[size_t(last)].cjNo, Alarm::Predicted, p.number,
                              std::nullopt, p.hyperbolic->sInf, *thresholds.cumulativeMm});
    }
    return alarms;
}

QString alarmText(const Alarm &alarm, const ProjectSnapshot &snapshot)
{
    const auto name = [&](int number) {
        const Point *p = snapshot.point(number);
        return p && !p->name.isEmpty() ? p->name : QString::number(number);
    };
    // A point's name is set apart from the words on both sides:
    // "测点 J3 累计沉降 …", not "测点 J3累计沉降".
    QString where;
    if (alarm.point)
        where = QStringLiteral("测点 %1 ").arg(name(*alarm.point));
    else if (alarm.pair)
        where = QStringLiteral("测点 %1–%2 ").arg(name(alarm.pair->first), name(alarm.pair->second));
    else
        where = QStringLiteral("建筑");
    QString value, threshold;
    switch (alarm.kind) {
    case Alarm::Cumulative:
    case Alarm::Predicted:
        value = formatFixed(alarm.value, 2) + QStringLiteral(" mm");
        threshold = formatFixed(alarm.threshold, 2) + QStringLiteral(" mm");
        break;
    case Alarm::Rate:
        value = formatFixed(alarm.value, 3) + QStringLiteral(" mm/d");
        threshold = formatFixed(alarm.threshold, 3) + QStringLiteral(" mm/d");
        break;
    case Alarm::Differential:
    case Alarm::TiltKind:
        value = formatFixed(alarm.value * 1000, 3) + QStringLiteral("‰");
        threshold = formatFixed(alarm.threshold * 1000, 3) + QStringLiteral("‰");
        break;
    }
    return QStringLiteral("%1%2 %3 超过预警值 %4").arg(where, alarmKindText(alarm.kind), value, threshold);
}

QString thresholdsLine(const AlarmThresholds &t)
{
    // A limit row is credited only for the value it gave; a value of the
    // project's own is said to be so.
    const auto limit = [](const std::optional<DeformationLimit> &row, std::optional<double> value) {
        if (!value)
            return QString();
        if (!row || std::abs(row->value - *value) > 1e-12)
            return QStringLiteral("（本工程预警值）");
        return QStringLiteral("（%1 %2，%3）").arg(row->structure, quantityText(row->quantity), row->source);
    };
    const auto value = [](std::optional<double> v, double scale, int decimals, const QString &unit) {
        return v ? formatFixed(*v * scale, decimals) + unit : QStringLiteral("无");
    };
    // A ratio without a threshold says why.
    const auto why = [](std::optional<double> v, const QString &reason) {
        return v || reason.isEmpty() ? QString() : QStringLiteral("（%1）").arg(reason);
    };
    return QStringLiteral("预警值：累计沉降 %1，沉降速率 %2，差异沉降 %3%4，倾斜 %5%6")
        .arg(value(t.cumulativeMm, 1, 2, QStringLiteral(" mm")), value(t.rateMmPerDay, 1, 3, QStringLiteral(" mm/d")),
             value(t.differential, 1000, 3, QStringLiteral("‰")),
             limit(t.differentialLimit, t.differential) + why(t.differential, t.differentialReason),
             value(t.tilt, 1000, 3, QStringLiteral("‰")), limit(t.tiltLimit, t.tilt) + why(t.tilt, t.tiltReason));
}

DeformationReport analyseDeformation(const ProjectSnapshot &snapshot, const AlarmThresholds &thresholds,
                                     const std::set<std::pair<int, int>> &excluded,
                                     const StabilityAnalysis *stability)
{
    DeformationReport report;
    report.thresholds = thresholds;
    for (int k = 0; k < snapshot.epochCount(); ++k) {
        report.epochs.push_back(deformationAt(snapshot, k, excluded));
        const auto alarms = epochAlarms(snapshot, k, report.epochs.back(), thresholds, stability);
        report.alarms.insert(report.alarms.end(), alarms.begin(), alarms.end());
    }
    return report;
}

QStringList deformationHeadings()
{
    return {QStringLiteral("观测"),          QStringLiteral("日期"),
            QStringLiteral("测点数"),        QStringLiteral("平均沉降(mm)"),
            QStringLiteral("最大沉降(mm)"),  QStringLiteral("最大沉降点"),
            QStringLiteral("倾斜(‰)"),       QStringLiteral("倾向方位角(°)"),
            QStringLiteral("平面拟合中误差(mm)"), QStringLiteral("最大差异沉降 Δs/L(‰)"),
            QStringLiteral("最大差异沉降点对"), QStringLiteral("倾斜限值(‰)"),
            QStringLiteral("差异沉降限值(‰)"), QStringLiteral("预警")};
}

std::vector<QStringList> deformationRows(const DeformationReport &report, const ProjectSnapshot &snapshot)
{
    const QString none = QStringLiteral("—");
    const auto perMille = [&](std::optional<double> v) {
        return v ? formatFixed(*v * 1000, 3) : none;
    };
    std::vector<QStringList> rows;
    for (const EpochDeformation &d : report.epochs) {
        const Epoch &epoch = snapshot.epochs()[size_t(d.epochIndex)];
        QStringList alarms;
        for (const Alarm &alarm : report.alarms)
            if (alarm.epochIndex == d.epochIndex)
                alarms << alarmText(alarm, snapshot);
        // Nothing sunk (the first epoch): no largest sinking and no largest
        // pair to name.
        const NeighbourPair *pair =
            d.largestPair >= 0 && d.pairs[size_t(d.largestPair)].ratio > 0 ? &d.pairs[size_t(d.largestPair)] : nullptr;
        const bool sunk = d.largest >= 0 && d.points[size_t(d.largest)].sMm < 0;
        rows.push_back(
            {epoch.name, epoch.date, QString::number(d.points.size()),
             d.averageMm ? formatFixed(*d.averageMm, 2) : none,
             sunk ? formatFixed(d.points[size_t(d.largest)].sMm, 2) : none,
             sunk ? d.points[size_t(d.largest)].name : none,
             d.tilt ? perMille(d.tilt->value) : none,
             d.tilt && d.tilt->value > 0 ? azimuthText(d.tilt->azimuthDeg) : none,
             d.tilt ? formatFixed(d.tilt->rmsMm, 2) : none,
             pair ? perMille(pair->ratio) : none,
             pair ? QStringLiteral("%1–%2").arg(d.points[size_t(pair->from)].name,
                                                d.points[size_t(pair->to)].name)
                  : none,
             perMille(report.thresholds.tilt), perMille(report.thresholds.differential),
             alarms.isEmpty() ? QStringLiteral("无") : alarms.join(QStringLiteral("；"))});
    }
    return rows;
}

PlanFigures planFigures(const ProjectSnapshot &snapshot, int epochIndex,
                        const AlarmThresholds &thresholds,
                        const std::set<std::pair<int, int>> &excluded,
                        std::optional<double> contourStep, const StabilityAnalysis *stability)
{
    PlanFigures figures;
    figures.deformation = deformationAt(snapshot, epochIndex, excluded);
    const EpochDeformation &d = figures.deformation;
    if (!d.points.empty()) {
        double low = d.points.front().sMm, high = low;
        for (const PlanPoint &p : d.points) {
            low = std::min(low, p.sMm);
            high = std::max(high, p.sMm);
        }
        if (high > low) {
            figures.levels = contourLevels(low, high, contourStep);
            if (figures.levels.empty() && contourStep) {
                const double count = std::floor(high / *contourStep) - std::ceil(low / *contourStep) + 1;
                figures.contourNote =
                    !(count < maxContourLevels)
                        ? QStringLiteral("等值线间距 %1 mm 太小：沉降 %2 至 %3 mm 之间会有多于 %4 条等值线，未画等值线")
                              .arg(QString::number(*contourStep, 'g', 6), formatFixed(low, 2), formatFixed(high, 2))
                              .arg(maxContourLevels)
                        : QStringLiteral("等值线间距 %1 mm：沉降 %2 至 %3 mm 之间没有等值线")
                              .arg(QString::number(*contourStep, 'g', 6), formatFixed(low, 2), formatFixed(high, 2));
            }
        }
        figures.contours = contourLines(d.points, d.triangulation, figures.levels);
    }
    figures.alarms = epochAlarms(snapshot, epochIndex, d, thresholds, stability);
    return figures;
}

std::vector<Alarm> epochAlarms(const ProjectSnapshot &snapshot, int epochIndex, const EpochDeformation &d,
                               const AlarmThresholds &thresholds, const StabilityAnalysis *stability)
{
    std::vector<Alarm> alarms = alarmsAt(d, thresholds);
    // The forecasts count only at the last epoch: this is the one place
    // that says so, for every view and output.
    if (stability && epochIndex == snapshot.epochCount() - 1) {
        const auto predicted = predictedAlarms(snapshot, *stability, thresholds);
        alarms.insert(alarms.end(), predicted.begin(), predicted.end());
    }
    return alarms;
}
