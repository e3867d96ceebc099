#include "survey/domaininputs.h"

#include "base/inputfile.h"
#include "base/savefile.h"
#include "project/settingsstore.h"
#include "base/textnumber.h"
#include "project/projectdb.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace {

// The limit table's names of its quantities, in DeformationLimit::Quantity's order.
const char *const quantityKeys[] = {"tilt", "differential", "local_tilt", "average"};

} // namespace

Result<ProjectSnapshot> loadSnapshot(ProjectDatabase &project)
{
    const auto failed = [&](const QString &reason) {
        return fail(QStringLiteral("无法读取沉降工程 %1：%2")
                        .arg(QDir::toNativeSeparators(project.path()), reason));
    };
    if (auto keys = project.checkKeys(); !keys)
        return failed(keys.error());
    auto epochs = project.epochs();
    if (!epochs)
        return failed(epochs.error());
    auto points = project.points();
    if (!points)
        return failed(points.error());
    auto elevations = project.allElevations();
    if (!elevations)
        return failed(elevations.error());
    auto colours = project.colours();
    if (!colours)
        return failed(colours.error());
    auto snapshot = ProjectSnapshot::fromRecords(std::move(*epochs), std::move(*points),
                                                 *elevations, std::move(*colours));
    if (!snapshot)
        return failed(snapshot.error());
    return snapshot;
}

PlausibilityLimits plausibilityLimits(const SettingsStore &settings)
{
    return {positiveSetting(settings, SettingKey::ChangeLimit, plausibleChange * 1000) / 1000,
            positiveSetting(settings, SettingKey::FirstDeviation, plausibleFirstDeviation)};
}

StabilitySettings stabilitySettingsFrom(const SettingsStore &settings)
{
    return stabilitySettingsFrom(settings, {});
}

QStringList stabilitySettingKeys()
{
    return {SettingKey::StableDays, SettingKey::StableRate, SettingKey::PredictionStep, SettingKey::MaxIntervalPercent};
}

StabilitySettings stabilitySettingsFrom(const SettingsStore &settings,
                                        const std::map<QString, QString> &projectFields)
{
    // The project's value where it is a positive number, else the program's.
    const auto value = [&](const QString &key, double fallback) {
        const double programWide = positiveSetting(settings, key, fallback);
        const auto own = projectFields.find(key);
        if (own == projectFields.end() || !isNumeric(own->second.trimmed()))
            return programWide;
        const double number = leadingNumber(own->second);
        return std::isfinite(number) && number > 0 ? number : programWide;
    };
    StabilitySettings result;
    result.window = int(std::lround(std::min(value(SettingKey::StableDays, result.window), 1e6)));
    result.limit = value(SettingKey::StableRate, result.limit);
    result.step = int(std::lround(std::min(value(SettingKey::PredictionStep, result.step), 1e6)));
    if (const double percent = value(SettingKey::MaxIntervalPercent, result.maxIntervalPercent); percent <= 1000)
        result.maxIntervalPercent = percent;
    // A count of days rounds to at least one.
    result.window = std::max(result.window, 1);
    result.step = std::max(result.step, 1);
    return result;
}

Result<std::vector<DeformationLimit>> readDeformationLimits(const QString &path)
{
    if (!QFileInfo::exists(path))
        return defaultDeformationLimits();
    auto file = openInputFile(path, 4 << 20);
    if (!file)
        return file.failure();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson((*file)->readAll(), &error);
    const auto broken = [&](const QString &why) {
        return fail(QStringLiteral("变形限值表 %1 有误：%2").arg(QDir::toNativeSeparators(path), why));
    };
    if (error.error != QJsonParseError::NoError)
        return broken(error.errorString());
    if (!document.isArray())
        return broken(QStringLiteral("应是一个数组"));
    std::vector<DeformationLimit> limits;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject row = value.toObject();
        DeformationLimit limit;
        const QString quantity = row.value(QLatin1String("quantity")).toString();
        int index = -1;
        for (int i = 0; i < 4; ++i)
            if (quantity == QLatin1String(quantityKeys[i]))
                index = i;
        if (index < 0)
            return broken(QStringLiteral("未知的限值种类“%1”").arg(quantity));
        limit.quantity = DeformationLimit::Quantity(index);
        limit.structure = row.value(QLatin1String("structure")).toString();
        limit.match = row.value(QLatin1String("match")).toString();
        limit.soil = row.value(QLatin1String("soil")).toString();
        if (row.value(QLatin1String("height_min_m")).isDouble())
            limit.heightMin = row.value(QLatin1String("height_min_m")).toDouble();
        if (row.value(QLatin1String("height_max_m")).isDouble())
            limit.heightMax = row.value(QLatin1String("height_max_m")).toDouble();
        const QJsonValue allowed = row.value(QLatin1String("value"));
        if (!allowed.isDouble() || !(allowed.toDouble() > 0))
            return broken(QStringLiteral("限值应为正数"));
        limit.value = allowed.toDouble();
        limit.source = row.value(QLatin1String("source")).toString();
        limits.push_back(limit);
    }
    return limits;
}

Result<void> writeDeformationLimits(const QString &path, const std::vector<DeformationLimit> &limits)
{
    QJsonArray rows;
    for (const DeformationLimit &limit : limits) {
        QJsonObject row{{QStringLiteral("quantity"), QLatin1String(quantityKeys[limit.quantity])},
                        {QStringLiteral("structure"), limit.structure},
                        {QStringLiteral("match"), limit.match},
                        {QStringLiteral("soil"), limit.soil},
                        {QStringLiteral("value"), limit.value},
                        {QStringLiteral("source"), limit.source}};
        if (limit.heightMin)
            row.insert(QStringLiteral("height_min_m"), *limit.heightMin);
        if (limit.heightMax)
            row.insert(QStringLiteral("height_max_m"), *limit.heightMax);
        rows.append(row);
    }
    return saveFileContents(path, QJsonDocument(rows).toJson(QJsonDocument::Indented));
}

DeformationSettings deformationSettings(const QString &limitsPath,
                                        const std::map<QString, QString> &fields,
                                        const ProjectSnapshot &snapshot)
{
    return deformationSettings(readDeformationLimits(limitsPath), fields, snapshot);
}
