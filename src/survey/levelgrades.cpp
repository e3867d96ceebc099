// Levelling grades: the limits of each station and the closure tolerance,
// the built-in ones and a firm's own in a JSON file.
#include "survey/levelling.h"

#include "survey/levellingparts.h"

#include "base/inputfile.h"
#include "base/savefile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>

double LevelGrade::tolerance(int stations, double lengthM) const
{
    return closureByStations ? closureK * std::sqrt(double(stations))
                             : closureK * std::sqrt(lengthM / 1000.0);
}

std::vector<LevelGrade> defaultGrades()
{
    LevelGrade second;
    second.name = QStringLiteral("GB/T 12897-2006 二等 (数字水准仪)");
    second.sightMin = 3;
    second.sightMax = 50;
    second.sightDiffMax = 1.5;
    second.cumDiffMax = 6.0;
    // Digital levels, second order: line of sight from 0.55 m to 2.80 m
    // (GB/T 12897-2006, the table of a digital level's station limits, as
    // secondary sources quote it).
    second.lineOfSightMin = 0.55;
    second.lineOfSightMax = 2.80;
    second.stationDiffMax = 0.6;
    second.closureK = 4;
    second.closureByStations = false;
    LevelGrade monitoring;
    monitoring.name = QStringLiteral("GB/T 50308-2017 监测 II 级");
    monitoring.sightMax = 30;
    monitoring.sightDiffMax = 0.5;
    monitoring.cumDiffMax = 1.5;
    monitoring.lineOfSightMin = 0.3;
    monitoring.stationDiffMax = 0.4;
    monitoring.closureK = 0.3;
    monitoring.closureByStations = true;
    return {second, monitoring};
}

namespace {
const char *const gradeKeys[] = {"sight_min_m",         "sight_max_m",         "sight_diff_max_m",
                                 "cum_diff_max_m",      "line_of_sight_min_m", "line_of_sight_max_m",
                                 "station_diff_max_mm"};
std::optional<double> LevelGrade::*const gradeFields[] = {
    &LevelGrade::sightMin,       &LevelGrade::sightMax,       &LevelGrade::sightDiffMax,
    &LevelGrade::cumDiffMax,     &LevelGrade::lineOfSightMin, &LevelGrade::lineOfSightMax,
    &LevelGrade::stationDiffMax};
} // namespace

Result<std::vector<LevelGrade>> readGrades(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return defaultGrades();
    if (!file.open(QIODevice::ReadOnly) || file.size() > (1 << 20))
        return fail(QStringLiteral("无法读取水准等级表 %1").arg(QDir::toNativeSeparators(path)));
    QJsonParseError parsed;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parsed);
    if (parsed.error != QJsonParseError::NoError || !doc.isArray())
        return fail(QStringLiteral("水准等级表 %1 无法读取：%2")
                        .arg(QDir::toNativeSeparators(path), parsed.errorString()));
    std::vector<LevelGrade> grades;
    for (const QJsonValue &entry : doc.array()) {
        const QJsonObject o = entry.toObject();
        LevelGrade grade;
        grade.name = o.value(QStringLiteral("name")).toString().trimmed();
        if (grade.name.isEmpty())
            continue;
        for (size_t i = 0; i < std::size(gradeKeys); ++i) {
            const QJsonValue v = o.value(QLatin1String(gradeKeys[i]));
            if (v.isDouble() && std::isfinite(v.toDouble()))
                grade.*gradeFields[i] = v.toDouble();
        }
        grade.closureK = o.value(QStringLiteral("closure_k_mm")).toDouble(grade.closureK);
        grade.closureByStations = o.value(QStringLiteral("closure_by")).toString() == QLatin1String("stations");
        grades.push_back(grade);
    }
    if (grades.empty())
        return defaultGrades();
    return grades;
}

Result<void> writeGrades(const QString &path, const std::vector<LevelGrade> &grades)
{
    QJsonArray list;
    for (const LevelGrade &grade : grades) {
        QJsonObject o{{QStringLiteral("name"), grade.name},
                      {QStringLiteral("closure_k_mm"), grade.closureK},
                      {QStringLiteral("closure_by"), grade.closureByStations ? QStringLiteral("stations")
                                                                             : QStringLiteral("km")}};
        for (size_t i = 0; i < std::size(gradeKeys); ++i)
            if (const auto v = grade.*gradeFields[i])
                o.insert(QLatin1String(gradeKeys[i]), *v);
        list.append(o);
    }
    return saveFileContents(path, QJsonDocument(list).toJson(QJsonDocument::Indented));
}
