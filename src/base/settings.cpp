#include "base/settings.h"

#include "base/textnumber.h"

#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <map>
#include <cmath>

namespace {
constexpr int defaultPointCount = 15;
constexpr int largestPointCount = 150;
} // namespace

std::vector<QString> headerFieldKeys()
{
    return {SettingKey::ProjectName, SettingKey::Client,    SettingKey::Surveyor,
            SettingKey::Structure,   SettingKey::Storeys,   SettingKey::Instrument,
            SettingKey::Benchmark,   SettingKey::BenchmarkElevation};
}

QString settingDefault(const QString &key)
{
    // Every setting with a value of its own when its row is absent; the
    // rest have none (an empty text).
    static const std::map<QString, QString> defaults{
        {SettingKey::ElevationUnit, QStringLiteral("m")},
        {SettingKey::PointCount, QString::number(defaultPointCount)},
        {SettingKey::LinesPerSheet, QStringLiteral("5")},
        {SettingKey::SheetsPerRow, QStringLiteral("1")},
        {SettingKey::Font1, QStringLiteral("Romans")},
        {SettingKey::Font2, QStringLiteral("Htj_S")},
        {SettingKey::StableRate, QStringLiteral("0.04")},
        {SettingKey::StableDays, QStringLiteral("100")},
        {SettingKey::PredictionStep, QStringLiteral("30")},
    };
    const auto found = defaults.find(key);
    return found == defaults.end() ? QString() : found->second;
}

int pointCountFromSetting(const std::optional<QString> &stored)
{
    if (!stored)
        return defaultPointCount;
    const int count = roundHalfEven(leadingNumber(*stored));
    return std::clamp(count, 0, largestPointCount);
}

QString unitFromSetting(const std::optional<QString> &stored)
{
    return stored && *stored == QLatin1String("mm") ? QStringLiteral("mm") : QStringLiteral("m");
}
