// The levelling's results: points in order, the project's benchmark, the
// rows an import takes, and the JSON and text a run writes.
#include "survey/levelling.h"

#include "survey/levellingparts.h"

#include "base/settings.h"
#include "base/textnumber.h"
#include "domain/keyrules.h"
#include "domain/projectsnapshot.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

using levelparts::figure;

QString levelparts::where(const QString &path, int line)
{
    return QStringLiteral("%1 第 %2 行").arg(QDir::toNativeSeparators(path)).arg(line);
}

QString levelparts::figure(double v, int decimals)
{
    return std::isfinite(v) && std::fabs(v) < 1e12 ? QString::number(v, 'f', decimals)
                                                   : QStringLiteral("—");
}

namespace {

// Names compared as people read them: runs of digits by their number, the
// rest without case ("J2" before "J10").
bool naturallyBefore(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            const QString x = a.mid(i, ei - i), y = b.mid(j, ej - j);
            const QString nx = x.size() > 1 ? QString(x).remove(QRegularExpression(QStringLiteral("^0+(?=\\d)"))) : x;
            const QString ny = y.size() > 1 ? QString(y).remove(QRegularExpression(QStringLiteral("^0+(?=\\d)"))) : y;
            if (nx.size() != ny.size())
                return nx.size() < ny.size();
            if (nx != ny)
                return nx < ny;
            i = ei;
            j = ej;
            continue;
        }
        const QChar x = a[i].toCaseFolded(), y = b[j].toCaseFolded();
        if (x != y)
            return x < y;
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

} // namespace

const LevelPart *LevelResult::partOf(const QString &id) const
{
    const auto found = partIndex.find(id);
    return found == partIndex.end() ? nullptr : &parts[size_t(found->second)];
}

QStringList LevelResult::pointsInOrder() const
{
    QStringList ids;
    for (const auto &[id, h] : heights)
        ids << id;
    std::stable_sort(ids.begin(), ids.end(), naturallyBefore);
    return ids;
}

bool LevelResult::repeatsALine(const LevelLoop &loop) const
{
    for (const LevelLine &line : lines)
        if (pointKey(line.from) == pointKey(line.to) && line.misclosureMm && line.stations == loop.stations
            && std::fabs(*line.misclosureMm - loop.misclosureMm) < 1e-6)
            return true;
    return false;
}

bool LevelResult::heightsRelative() const
{
    for (const LevelPart &part : parts)
        if (part.datum == LevelPart::Relative)
            return true;
    return false;
}

std::map<QString, double> projectBenchmark(const std::map<QString, QString> &headerFields)
{
    const auto id = headerFields.find(SettingKey::Benchmark);
    const auto h = headerFields.find(SettingKey::BenchmarkElevation);
    if (id == headerFields.end() || h == headerFields.end() || id->second.trimmed().isEmpty()
        || !isNumeric(h->second.trimmed()))
        return {};
    return {{id->second.trimmed(), leadingNumber(h->second)}};
}

std::map<QString, const Point *> projectPointsOf(const LevelResult &result,
                                                 const std::vector<Point> &points)
{
    std::map<QString, const Point *> byKey;
    for (const Point &point : points)
        byKey.emplace(pointKey(point.name), &point);
    std::map<QString, const Point *> matched;
    for (const auto &[id, h] : result.heights)
        if (const auto found = byKey.find(pointKey(id)); found != byKey.end())
            matched.emplace(id, found->second);
    return matched;
}

Result<std::vector<ImportRow>> levelImportRows(const LevelResult &result,
                                               const std::map<QString, const Point *> &matched)
{
    std::vector<ImportRow> rows;
    for (const auto &[id, point] : matched) {
        if (const LevelPart *part = result.partOf(id); part && part->datum == LevelPart::Relative)
            return fail(QStringLiteral("水准网中含 %1 的部分（%2 个点，自 %3 起）没有已知高程，只有相对高程，"
                                       "不能写入观测：请给出该部分的起算点及其高程")
                            .arg(id)
                            .arg(part->points.size())
                            .arg(part->points.front()));
        const double h = result.heights.at(id);
        if (!usableElevation(h))
            return fail(QStringLiteral("点 %1 的高程不是有效的高程").arg(id));
        ElevationDetail detail;
        detail.adjusted = h;
        if (const auto sigma = result.sigmaMm.find(id); sigma != result.sigmaMm.end())
            detail.sigmaMm = sigma->second;
        // The first station that sighted the point: as a foresight, else as
        // a backsight.
        const Station *seen = nullptr;
        for (const bool fore : {true, false}) {
            for (const Station &s : result.stations)
                if (pointKey(fore ? s.fore : s.back) == pointKey(id)) {
                    seen = &s;
                    detail.line = fore ? s.foreLine : s.backLine;
                    break;
                }
            if (seen)
                break;
        }
        for (size_t k = 0; !seen && k < result.stations.size(); ++k)
            for (const LevelReading &r : result.stations[k].intermediates)
                if (pointKey(r.point) == pointKey(id)) {
                    seen = &result.stations[k];
                    detail.line = r.line;
                    break;
                }
        if (seen) {
            detail.station = QString::number(seen->no);
            detail.sourceIndex = seen->fileIndex;
        }
        rows.push_back({int(rows.size()) + 1, point->name, QString::number(h, 'g', 17), true, true, detail});
    }
    return rows;
}

QByteArray levelJson(const LevelResult &result)
{
    const auto number = [](const std::optional<double> &v) {
        return v && std::isfinite(*v) ? QJsonValue(*v) : QJsonValue();
    };
    QJsonArray lines;
    for (const LevelLine &l : result.lines)
        lines.append(QJsonObject{{QStringLiteral("number"), l.number},
                                 {QStringLiteral("from"), l.from},
                                 {QStringLiteral("to"), l.to},
                                 {QStringLiteral("stations"), l.stations},
                                 {QStringLiteral("length_m"), l.length},
                                 {QStringLiteral("misclosure_mm"), number(l.misclosureMm)},
                                 {QStringLiteral("tolerance_mm"), number(l.toleranceMm)},
                                 {QStringLiteral("within"), l.within}});
    QJsonArray stations;
    for (const Station &s : result.stations)
        stations.append(QJsonObject{{QStringLiteral("no"), s.no},
                                    {QStringLiteral("line"), s.lineIndex},
                                    {QStringLiteral("back"), s.back},
                                    {QStringLiteral("fore"), s.fore},
                                    {QStringLiteral("dh_m"), s.dh},
                                    {QStringLiteral("station_diff_mm"), number(s.stationDiffMm)},
                                    {QStringLiteral("sight_diff_m"), number(s.sightDiff)},
                                    {QStringLiteral("cum_sight_diff_m"), s.cumSightDiff},
                                    {QStringLiteral("violations"), QJsonArray::fromStringList(s.violations)}});
    QJsonArray loops;
    for (const LevelLoop &l : result.loops)
        loops.append(QJsonObject{{QStringLiteral("points"), QJsonArray::fromStringList(l.points)},
                                 {QStringLiteral("stations"), l.stations},
                                 {QStringLiteral("length_m"), l.length},
                                 {QStringLiteral("misclosure_mm"), l.misclosureMm},
                                 {QStringLiteral("tolerance_mm"), l.toleranceMm},
                                 {QStringLiteral("within"), l.within}});
    QJsonArray sections;
    for (const Section &s : result.sections)
        sections.append(QJsonObject{{QStringLiteral("from"), s.from},
                                    {QStringLiteral("to"), s.to},
                                    {QStringLiteral("stations"), s.stations},
                                    {QStringLiteral("length_m"), s.length},
                                    {QStringLiteral("dh_m"), s.dh},
                                    {QStringLiteral("correction_mm"), s.correction * 1000},
                                    {QStringLiteral("standardised"), number(s.standardised)}});
    QJsonArray parts;
    for (const LevelPart &part : result.parts) {
        static const char *const datum[] = {"fixed", "entered", "relative"};
        parts.append(QJsonObject{{QStringLiteral("datum"), QLatin1String(datum[part.datum])},
                                 {QStringLiteral("datum_points"), QJsonArray::fromStringList(part.datumPoints)},
                                 {QStringLiteral("points"), QJsonArray::fromStringList(part.points)},
                                 {QStringLiteral("heights_relative"), part.datum == LevelPart::Relative}});
    }
    QJsonObject heights;
    for (const auto &[id, h] : result.heights)
        heights.insert(id, h);
    QJsonObject sigmas;
    for (const auto &[id, s] : result.sigmaMm)
        sigmas.insert(id, s);
    QJsonObject intermediates;
    for (const auto &[id, h] : result.intermediates)
        intermediates.insert(id, h);
    return QJsonDocument(QJsonObject{{QStringLiteral("lines"), lines},
                                     {QStringLiteral("stations"), stations},
                                     {QStringLiteral("sections"), sections},
                                     {QStringLiteral("loops"), loops},
                                     {QStringLiteral("parts"), parts},
                                     {QStringLiteral("heights"), heights},
                                     {QStringLiteral("heights_relative"), result.heightsRelative()},
                                     {QStringLiteral("sigma_mm"), sigmas},
                                     {QStringLiteral("intermediates"), intermediates},
                                     {QStringLiteral("sigma0_mm"), number(result.sigma0Mm)},
                                     {QStringLiteral("dof"), result.dof},
                                     {QStringLiteral("warnings"), QJsonArray::fromStringList(result.warnings)}})
        .toJson(QJsonDocument::Indented);
}

QString levelText(const LevelResult &result)
{
    QString text;
    const auto optionalMm = [](const std::optional<double> &v) {
        return v ? figure(*v, 2) + QStringLiteral(" mm") : QStringLiteral("—");
    };
    for (const LevelLine &line : result.lines)
        text += QStringLiteral("%1 → %2：%3 站，%4 m，闭合差 %5，限差 %6 %7\n")
                    .arg(line.from, line.to)
                    .arg(line.stations)
                    .arg(figure(line.length, 1), optionalMm(line.misclosureMm), optionalMm(line.toleranceMm),
                         !line.misclosureMm ? QStringLiteral("无检核")
                         : line.within      ? QStringLiteral("合格")
                                            : QStringLiteral("超限"));
    for (const LevelLoop &l : result.loops)
        if (!result.repeatsALine(l))
            text += QStringLiteral("闭合环 %1：%2 站，闭合差 %3 mm，限差 %4 mm %5\n")
                    .arg(l.points.join(QStringLiteral("→")))
                    .arg(l.stations)
                    .arg(figure(l.misclosureMm, 2), figure(l.toleranceMm, 2),
                         l.within ? QStringLiteral("合格") : QStringLiteral("超限"));
    for (const Station &s : result.stations)
        if (!s.violations.isEmpty())
            text += QStringLiteral("测站 %1（%2 → %3）：%4\n")
                        .arg(s.no)
                        .arg(s.back, s.fore, s.violations.join(QStringLiteral("；")));
    for (const LevelPart &part : result.parts) {
        if (part.datum == LevelPart::Fixed)
            continue;
        text += part.datum == LevelPart::Entered
                    ? QStringLiteral("含 %1 的部分以水准仪上输入的 %2 高程起算\n")
                          .arg(part.points.front(), part.datumPoints.front())
                    : QStringLiteral("含 %1 的部分没有已知高程：高程相对于 %2（0），不能写入观测\n")
                          .arg(part.points.front(), part.datumPoints.front());
    }
    for (const QString &id : result.pointsInOrder()) {
        const double h = result.heights.at(id);
        const LevelPart *part = result.partOf(id);
        text += QStringLiteral("%1  %2%3\n")
                    .arg(id, -12)
                    .arg(figure(h, 5),
                         part && part->datum == LevelPart::Relative ? QStringLiteral("（相对）") : QString());
    }
    if (result.sigma0Mm)
        text += QStringLiteral("单位权中误差 %1 mm，多余观测 %2\n").arg(figure(*result.sigma0Mm, 3)).arg(result.dof);
    for (const QString &warning : result.warnings)
        text += QStringLiteral("注意：%1\n").arg(warning);
    return text;
}

