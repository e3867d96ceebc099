#include "survey/fieldrules.h"

#include "base/settings.h"
#include "domain/buildingdeformation.h"
#include "domain/headerfields.h"
#include "domain/keyrules.h"

#include <cmath>
#include <optional>

namespace {

// A numeric header field: its range and unit, and whether it counts whole
// things (days).
struct NumberField
{
    const QString &key;
    double least, most;
    bool leastIncluded;
    bool whole;
    const char *unit;
};

const NumberField numberFields[] = {
    {SettingKey::StableRate, 0, 10, false, false, " mm/d"},
    {SettingKey::StableDays, 1, 3650, true, true, " 天"},
    {SettingKey::PredictionStep, 1, 3650, true, true, " 天"},
    {SettingKey::MaxIntervalPercent, 0, 1000, false, false, " %"},
    {SettingKey::BenchmarkElevation, -500, 9000, true, false, " m"},
    {DeformationKey::CumulativeAlarm, 0, 1000, false, false, " mm"},
    {DeformationKey::RateAlarm, 0, 100, false, false, " mm/d"},
    {DeformationKey::ContourStep, 0, 1000, false, false, " mm"},
};

// A number written plainly: digits with one point and a sign, nothing else
// ("nan", "1e999", "0x10" and "１２" are no numbers here).
std::optional<double> plainNumber(const QString &text)
{
    static const QString allowed = QStringLiteral("0123456789.+-");
    if (text.isEmpty())
        return std::nullopt;
    for (const QChar c : text)
        if (!allowed.contains(c))
            return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString numberText(double value)
{
    return QString::number(value, 'g', 10);
}

} // namespace

bool hasInvisibleCharacters(const QString &text)
{
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Other_NotAssigned || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph || c == QChar::ReplacementCharacter)
            return true;
    }
    return false;
}

QString normalisedName(const QString &text)
{
    return text.normalized(QString::NormalizationForm_KC).trimmed();
}

Result<QString> epochNameRule(const QString &text)
{
    const QString name = normalisedName(text);
    if (name.isEmpty())
        return fail(QStringLiteral("观测名称不能为空"));
    if (hasInvisibleCharacters(name))
        return fail(QStringLiteral("观测名称“%1”含有控制字符或不可见字符").arg(name.left(maxEpochNameLength)));
    for (const QChar c : name)
        if (c.isSpace())
            return fail(QStringLiteral("观测名称“%1”中不能有空格").arg(name.left(maxEpochNameLength)));
    if (name.size() > maxEpochNameLength)
        return fail(QStringLiteral("观测名称最多 %1 个字符（现有 %2 个）").arg(maxEpochNameLength).arg(name.size()));
    return name;
}

Result<QString> pointNameRule(const QString &text)
{
    const QString name = normalisedName(text).toUpper();
    if (name.isEmpty())
        return fail(QStringLiteral("点名不能为空"));
    if (name.size() > maxPointNameLength)
        return fail(QStringLiteral("点名最多 %1 个字符（现有 %2 个）").arg(maxPointNameLength).arg(name.size()));
    if (hasInvisibleCharacters(name) || !isAcceptablePointName(name))
        return fail(QStringLiteral("点名“%1”含有不能用的字符").arg(name));
    return name;
}

Result<int> loadFloorsRule(const QString &text)
{
    const QString floors = text.trimmed();
    const auto refused = [&] {
        return fail(QStringLiteral("荷载层数“%1”应为 0 到 %2 之间的整数").arg(floors.left(24)).arg(maxLoadFloors));
    };
    if (floors.isEmpty() || floors.size() > 3)
        return refused();
    for (const QChar c : floors)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return refused();
    return floors.toInt();
}

Result<void> headerFieldRule(const QString &key, const QString &value)
{
    const QString text = value.trimmed();
    if (hasInvisibleCharacters(text))
        return fail(QStringLiteral("“%1”的值含有控制字符或不可见字符").arg(key));
    if (text.isEmpty())
        return success();
    for (const NumberField &field : numberFields) {
        if (field.key != key)
            continue;
        QString written = text;
        // A height as the results table shows it may carry its unit ("12.5 m").
        if (key == SettingKey::BenchmarkElevation)
            for (const QString unit : {QStringLiteral("m"), QStringLiteral("米")})
                if (written.endsWith(unit))
                    written = written.chopped(unit.size()).trimmed();
        const auto number = plainNumber(written);
        const bool inside = number && (field.leastIncluded ? *number >= field.least : *number > field.least)
                            && *number <= field.most && (!field.whole || std::floor(*number) == *number);
        if (inside)
            return success();
        const QString unit = QString::fromUtf8(field.unit);
        const QString range = field.leastIncluded
                                  ? QStringLiteral("%1%3 到 %2%3 之间").arg(numberText(field.least), numberText(field.most), unit)
                                  : QStringLiteral("大于 %1%3、不超过 %2%3").arg(numberText(field.least), numberText(field.most), unit);
        return fail(QStringLiteral("%1“%2”应为%3的%4")
                        .arg(key, text.left(24), range, field.whole ? QStringLiteral("整数") : QStringLiteral("数")));
    }
    if (key == DeformationKey::BuildingHeight) {
        // With its unit or without, as the limits read it.
        if (const auto metres = buildingHeightOf(text); metres && *metres <= 1000)
            return success();
        return fail(QStringLiteral("%1“%2”应为大于 0 m、不超过 1000 m 的高度（如 24 或 24m）").arg(key, text.left(24)));
    }
    if (key == DeformationKey::DifferentialAlarm || key == DeformationKey::TiltAlarm) {
        // Typed in ‰; an older project keeps a plain ratio (0.002).
        if (!text.endsWith(QChar(0x2030)))
            if (const auto ratio = plainNumber(text); ratio && *ratio > 0 && *ratio <= 0.1)
                return success();
        if (auto ratio = perMilleAlarmText(text); !ratio)
            return fail(QStringLiteral("%1：%2").arg(key, ratio.error()));
        return success();
    }
    if (key == DeformationKey::PlanScale) {
        QString scale = text;
        if (scale.startsWith(QStringLiteral("1:")))
            scale = scale.mid(2).trimmed();
        const auto number = plainNumber(scale);
        if (!number || *number < 1 || *number > 100000 || std::floor(*number) != *number)
            return fail(QStringLiteral("%1“%2”应为 1 到 100000 之间的整数（如 200 或 1:200）").arg(key, text.left(24)));
    }
    return success();
}

Result<void> headerFieldsRule(const std::map<QString, QString> &fields)
{
    for (const auto &[key, value] : fields)
        if (auto ok = headerFieldRule(key, value); !ok)
            return ok;
    return success();
}
