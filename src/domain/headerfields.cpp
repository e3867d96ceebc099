#include "domain/headerfields.h"

#include <cmath>

namespace {

// Full-width letters and digits as their ASCII forms, blanks out.
QString plain(const QString &text)
{
    QString folded = text.normalized(QString::NormalizationForm_KC);
    folded.remove(QLatin1Char(' '));
    folded.remove(QChar(0x3000));
    return folded.trimmed();
}

} // namespace

std::optional<double> buildingHeightOf(const QString &text)
{
    QString written = plain(text);
    for (const QString unit : {QStringLiteral("米"), QStringLiteral("m"), QStringLiteral("M")})
        if (written.endsWith(unit)) {
            written.chop(unit.size());
            break;
        }
    if (written.isEmpty())
        return std::nullopt;
    // Digits with one point, nothing else ("1e3", "nan", "0x10" are no heights).
    int points = 0;
    for (const QChar c : written) {
        if (c == QLatin1Char('.'))
            ++points;
        else if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    if (points > 1)
        return std::nullopt;
    bool ok = false;
    const double metres = written.toDouble(&ok);
    if (!ok || !std::isfinite(metres) || metres <= 0)
        return std::nullopt;
    return metres;
}

QString soilClassOf(const QString &text)
{
    const QString words = plain(text);
    if (!words.contains(QStringLiteral("压缩")))
        return QString();
    const bool high = words.contains(QChar(0x9AD8));                               // 高
    const bool low = words.contains(QChar(0x4E2D)) || words.contains(QChar(0x4F4E)); // 中, 低
    if (high == low)
        return QString();
    return high ? HighSoil : LowSoil;
}

QString structureOf(const QString &text)
{
    const QString words = plain(text);
    if (words.contains(QStringLiteral("框剪")))
        return QString(words).replace(QStringLiteral("框剪"), QStringLiteral("框架剪力墙"));
    if (words.contains(QStringLiteral("砖混")) && !words.contains(QStringLiteral("砌体")))
        return QStringLiteral("砌体承重结构（%1）").arg(words);
    return words;
}
