#include "survey/levelling.h"

#include "base/savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>

#include <Eigen/Dense>

#include <cmath>
#include <deque>

namespace {

constexpr double footInMetres = 0.3048;

QString where(const QString &path, int line)
{
    return QStringLiteral("%1 第 %2 行").arg(QDir::toNativeSeparators(path)).arg(line);
}

// A point id without the zeros that pad it on the left ("0000A12" is "A12").
QString withoutPadding(const QString &id)
{
    QString trimmed = id.trimmed();
    qsizetype zeros = 0;
    while (zeros + 1 < trimmed.size() && trimmed[zeros] == QLatin1Char('0'))
        ++zeros;
    return trimmed.mid(zeros);
}

// Readings of one levelling line gathered into stations: first and second
// back and fore readings by their kind, whatever order the method has; a
// kind read again replaces the earlier reading.
struct OpenStation
{
    std::optional<LevelReading> b1, f1, b2, f2;
    std::vector<LevelReading> intermediates;
    bool empty() const { return !b1 && !f1 && !b2 && !f2; }
    bool complete(bool doubleRead) const
    {
        return b1 && f1 && (!doubleRead || (b2 && f2));
    }
    std::optional<LevelReading> &slot(LevelReading::Kind kind)
    {
        switch (kind) {
        case LevelReading::Back1:
            return b1;
        case LevelReading::Fore1:
            return f1;
        case LevelReading::Back2:
            return b2;
        default:
            return f2;
        }
    }
};

} // namespace

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
    second.lineOfSightMin = 0.55;
    second.lineOfSightMax = 1.85;
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

QString pointKey(const QString &id)
{
    return withoutPadding(id).toCaseFolded();
}

bool isTurningPoint(const QString &id, const LevelSettings &settings)
{
    const QString key = pointKey(id);
    for (const auto &[fixed, height] : settings.fixed)
        if (pointKey(fixed) == key)
            return false;
    for (const QString &known : settings.knownPoints)
        if (pointKey(known) == key)
            return false;
    static const QRegularExpression turning(QStringLiteral("^(\\d+|tp\\d*)$"));
    return turning.match(key).hasMatch();
}

Result<LevelFile> parseGsi(const QByteArray &content, const QString &path)
{
    LevelFile file;
    file.path = path;
    const QList<QByteArray> lines = content.split('\n');
    bool newLine = true;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QByteArray text = lines[n];
        while (text.endsWith('\r') || text.endsWith(' '))
            text.chop(1);
        if (text.isEmpty())
            continue;
        const int lineNo = int(n + 1);
        const bool wide = text.startsWith('*');
        if (wide)
            text.remove(0, 1);
        const int dataLength = wide ? 16 : 8;
        QString point;
        std::optional<double> distance;
        std::optional<std::pair<LevelReading::Kind, double>> reading;
        int wordNo = 0;
        for (qsizetype pos = 0; pos < text.size();) {
            if (text[pos] == ' ') {
                ++pos;
                continue;
            }
            ++wordNo;
            if (pos + 7 + dataLength > text.size())
                return fail(QStringLiteral("%1第 %2 个字不完整").arg(where(path, lineNo)).arg(wordNo));
            const QByteArray header = text.mid(pos, 6);
            const char sign = text[pos + 6];
            const QByteArray data = text.mid(pos + 7, dataLength);
            pos += 7 + dataLength;
            const QByteArray index = header.left(2);
            // A value in its word's own unit, to metres.
            const auto value = [&]() -> Result<double> {
                bool ok = false;
                const qlonglong digits = data.trimmed().toLongLong(&ok);
                double scale = 0;
                switch (header[5]) {
                case '0': scale = 1e-3; break;
                case '1': scale = 1e-3 * footInMetres; break;
                case '6': scale = 1e-4; break;
                case '7': scale = 1e-4 * footInMetres; break;
                case '8': scale = 1e-5; break;
                default: ok = false;
                }
                if (!ok || (sign != '+' && sign != '-'))
                    return fail(QStringLiteral("%1第 %2 个字（%3）的数值或单位无效")
                                    .arg(where(path, lineNo))
                                    .arg(wordNo)
                                    .arg(QString::fromLatin1(header)));
                return (sign == '-' ? -1.0 : 1.0) * double(digits) * scale;
            };
            if (index == "41") {
                newLine = true;
            } else if (index == "11") {
                point = withoutPadding(QString::fromLatin1(data));
            } else if (index == "32") {
                const auto v = value();
                if (!v)
                    return v.failure();
                distance = *v;
            } else if (index == "33") {
                const auto v = value();
                if (!v)
                    return v.failure();
                switch (header[2]) {
                case '1': reading = {{LevelReading::Back1, *v}}; break;
                case '2': reading = {{LevelReading::Fore1, *v}}; break;
                case '5': reading = {{LevelReading::Back2, *v}}; break;
                case '6': reading = {{LevelReading::Fore2, *v}}; break;
                case '3': reading = {{LevelReading::Intermediate, *v}}; break;
                default: break;
                }
            } else if (index == "83" && header.mid(4, 2) == "58") {
                const auto v = value();
                if (!v)
                    return v.failure();
                if (!point.isEmpty())
                    file.startHeights[point] = *v;
            }
        }
        if (reading) {
            if (file.readings.size() >= maxReadings)
                return fail(QStringLiteral("%1：读数超过 %2 个").arg(where(path, lineNo)).arg(maxReadings));
            if (newLine) {
                file.lineStarts.push_back(file.readings.size());
                newLine = false;
            }
            file.readings.push_back({reading->first, point, reading->second, distance, lineNo});
        }
    }
    if (file.readings.empty())
        return fail(QStringLiteral("%1 中没有水准读数").arg(QDir::toNativeSeparators(path)));
    return file;
}

Result<LevelFile> parseDini(const QByteArray &content, const QString &path)
{
    LevelFile file;
    file.path = path;
    const QList<QByteArray> lines = content.split('\n');
    bool newLine = true;
    // Which first or second reading the next back or fore sight is: the
    // station's readings so far, dropped when the level says it was repeated.
    size_t stationStart = 0;
    int backs = 0, fores = 0;
    bool doubleRead = true;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QByteArray raw = lines[n];
        while (raw.endsWith('\r'))
            raw.chop(1);
        if (raw.trimmed().isEmpty())
            continue;
        const int lineNo = int(n + 1);
        const QString text = QString::fromLatin1(raw);
        if (!text.startsWith(QLatin1String("For M5")))
            return fail(QStringLiteral("%1 不是 DiNi M5 记录").arg(where(path, lineNo)));
        if (text.size() > 118 && text[118] == QLatin1Char('e'))
            continue; // an error line of the level
        const QStringList parts = text.split(QLatin1Char('|'));
        if (parts.size() < 6)
            return fail(QStringLiteral("%1 的栏目不全").arg(where(path, lineNo)));
        const QString block = parts[2].trimmed();
        QString point;
        if (block.startsWith(QLatin1String("TO"))) {
            const QString note = block.mid(2).trimmed();
            if (note.startsWith(QLatin1String("Start-Line"), Qt::CaseInsensitive)) {
                newLine = true;
                // The method follows: BF and aBF read each sight once.
                const QString method = note.mid(10).trimmed().toUpper();
                doubleRead = !(method == QLatin1String("BF") || method == QLatin1String("ABF"));
                backs = fores = 0;
            }
            else if (note.startsWith(QLatin1String("Station repeated"), Qt::CaseInsensitive)) {
                file.readings.resize(stationStart);
                backs = fores = 0;
            }
        } else if (block.startsWith(QLatin1String("KD"))) {
            const QStringList fields = block.mid(3).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            point = fields.isEmpty() ? QString() : withoutPadding(fields.front());
        }
        std::optional<double> distance;
        std::optional<std::pair<QString, double>> reading;
        for (int b = 3; b <= 5; ++b) {
            const QString value = parts[b];
            const QString type = value.left(2).trimmed();
            if (type.isEmpty())
                continue;
            const QString number = value.mid(2, 14).trimmed();
            const QString unit = value.mid(16).trimmed();
            bool ok = false;
            double v = number.toDouble(&ok);
            if (!ok || !std::isfinite(v))
                return fail(QStringLiteral("%1 的 %2 值“%3”无效").arg(where(path, lineNo), type, number));
            if (unit == QLatin1String("mm"))
                v /= 1000;
            else if (unit == QLatin1String("ft"))
                v *= footInMetres;
            if (type == QLatin1String("HD"))
                distance = v;
            else if (type == QLatin1String("Rb") || type == QLatin1String("Rf")
                     || type == QLatin1String("Rz"))
                reading = {{type, v}};
        }
        if (!reading)
            continue;
        if (file.readings.size() >= maxReadings)
            return fail(QStringLiteral("%1：读数超过 %2 个").arg(where(path, lineNo)).arg(maxReadings));
        LevelReading::Kind kind = LevelReading::Intermediate;
        if (reading->first != QLatin1String("Rz")) {
            const bool back = reading->first == QLatin1String("Rb");
            kind = back ? (backs == 0 ? LevelReading::Back1 : LevelReading::Back2)
                        : (fores == 0 ? LevelReading::Fore1 : LevelReading::Fore2);
            ++(back ? backs : fores);
        }
        if (newLine) {
            file.lineStarts.push_back(file.readings.size());
            newLine = false;
            stationStart = file.readings.size();
        }
        file.readings.push_back({kind, point, reading->second, distance, lineNo});
        // The station is complete with both sights read once (BF) or twice.
        const int perSight = doubleRead ? 2 : 1;
        if (backs == perSight && fores == perSight) {
            stationStart = file.readings.size();
            backs = fores = 0;
        }
    }
    if (file.readings.empty())
        return fail(QStringLiteral("%1 中没有水准读数").arg(QDir::toNativeSeparators(path)));
    return file;
}

Result<LevelFile> readLevelFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("无法打开 %1：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
    if (file.size() > (256 << 20))
        return fail(QStringLiteral("%1 过大").arg(QDir::toNativeSeparators(path)));
    const QByteArray content = file.readAll();
    if (content.startsWith("For M5"))
        return parseDini(content, path);
    return parseGsi(content, path);
}

namespace {

// The stations of one line of a file, with their values and checks.
void buildStations(const LevelFile &file, size_t first, size_t last, int lineIndex,
                   const LevelGrade &grade, std::vector<Station> *stations)
{
    bool doubleRead = false;
    for (size_t i = first; i < last; ++i)
        doubleRead |= file.readings[i].kind == LevelReading::Back2
                      || file.readings[i].kind == LevelReading::Fore2;
    double cumulative = 0;
    OpenStation open;
    const auto close = [&] {
        if (!open.b1 || !open.f1) {
            open = OpenStation();
            return; // an unfinished station carries nothing
        }
        Station s;
        s.no = int(stations->size()) + 1;
        s.lineIndex = lineIndex;
        s.back = open.b1->point;
        s.fore = open.f1->point;
        s.b1 = open.b1->reading;
        s.f1 = open.f1->reading;
        if (open.b2)
            s.b2 = open.b2->reading;
        if (open.f2)
            s.f2 = open.f2->reading;
        const auto mean = [](const std::optional<LevelReading> &a,
                             const std::optional<LevelReading> &b) -> std::optional<double> {
            std::vector<double> d;
            for (const auto *r : {&a, &b})
                if (*r && (*r)->distance)
                    d.push_back(*(*r)->distance);
            if (d.empty())
                return std::nullopt;
            return d.size() == 1 ? d[0] : (d[0] + d[1]) / 2;
        };
        s.backDistance = mean(open.b1, open.b2);
        s.foreDistance = mean(open.f1, open.f2);
        if (s.b2 && s.f2) {
            s.dh = ((*s.b1 - *s.f1) + (*s.b2 - *s.f2)) / 2;
            s.stationDiffMm = ((*s.b1 - *s.f1) - (*s.b2 - *s.f2)) * 1000;
        } else {
            s.dh = *s.b1 - *s.f1;
        }
        if (s.backDistance && s.foreDistance) {
            s.sightDiff = *s.backDistance - *s.foreDistance;
            cumulative += *s.sightDiff;
        }
        s.cumSightDiff = cumulative;
        s.intermediates = open.intermediates;
        // The grade's limits.
        for (const auto &[name, sight] :
             {std::pair{QStringLiteral("后视距"), s.backDistance},
              std::pair{QStringLiteral("前视距"), s.foreDistance}}) {
            if (!sight)
                continue;
            if (grade.sightMin && *sight < *grade.sightMin)
                s.violations << QStringLiteral("%1 %2 m 短于 %3 m").arg(name).arg(*sight, 0, 'f', 2).arg(*grade.sightMin);
            if (grade.sightMax && *sight > *grade.sightMax)
                s.violations << QStringLiteral("%1 %2 m 长于 %3 m").arg(name).arg(*sight, 0, 'f', 2).arg(*grade.sightMax);
        }
        if (s.sightDiff && grade.sightDiffMax && std::fabs(*s.sightDiff) > *grade.sightDiffMax)
            s.violations << QStringLiteral("前后视距差 %1 m 超过 %2 m").arg(*s.sightDiff, 0, 'f', 2).arg(*grade.sightDiffMax);
        if (grade.cumDiffMax && std::fabs(cumulative) > *grade.cumDiffMax)
            s.violations << QStringLiteral("视距累积差 %1 m 超过 %2 m").arg(cumulative, 0, 'f', 2).arg(*grade.cumDiffMax);
        for (const auto &r : {s.b1, s.f1, s.b2, s.f2}) {
            if (!r)
                continue;
            if (grade.lineOfSightMin && *r < *grade.lineOfSightMin)
                s.violations << QStringLiteral("视线高度 %1 m 低于 %2 m").arg(*r, 0, 'f', 5).arg(*grade.lineOfSightMin);
            if (grade.lineOfSightMax && *r > *grade.lineOfSightMax)
                s.violations << QStringLiteral("视线高度 %1 m 高于 %2 m").arg(*r, 0, 'f', 5).arg(*grade.lineOfSightMax);
        }
        if (s.stationDiffMm && grade.stationDiffMax && std::fabs(*s.stationDiffMm) > *grade.stationDiffMax)
            s.violations << QStringLiteral("两次读数所测高差之差 %1 mm 超过 %2 mm")
                                .arg(*s.stationDiffMm, 0, 'f', 2)
                                .arg(*grade.stationDiffMax);
        stations->push_back(s);
        open = OpenStation();
    };
    for (size_t i = first; i < last; ++i) {
        const LevelReading &r = file.readings[i];
        if (r.kind == LevelReading::Intermediate) {
            open.intermediates.push_back(r);
            continue;
        }
        if (open.complete(doubleRead))
            close();
        open.slot(r.kind) = r; // a reading taken again replaces the first
    }
    close();
}

} // namespace

Result<LevelResult> adjustLevelling(const std::vector<LevelFile> &files,
                                    const LevelSettings &settings)
{
    LevelResult result;
    int lineIndex = 0;
    std::vector<std::pair<size_t, size_t>> lineStations; // first, end station of each line
    for (const LevelFile &file : files) {
        for (size_t l = 0; l < file.lineStarts.size(); ++l) {
            const size_t first = file.lineStarts[l];
            const size_t last = l + 1 < file.lineStarts.size() ? file.lineStarts[l + 1]
                                                               : file.readings.size();
            const size_t before = result.stations.size();
            buildStations(file, first, last, lineIndex, settings.grade, &result.stations);
            if (result.stations.size() > before) {
                lineStations.emplace_back(before, result.stations.size());
                ++lineIndex;
            }
        }
    }
    if (result.stations.empty())
        return fail(QStringLiteral("没有完整的测站"));

    // Fixed heights by key; network points by key with the id first seen.
    std::map<QString, double> fixed;
    for (const auto &[id, h] : settings.fixed)
        fixed[pointKey(id)] = h;
    std::map<QString, QString> shownId;
    const auto node = [&](const QString &id) { return !isTurningPoint(id, settings); };

    for (const auto &[first, end] : lineStations) {
        LevelLine line;
        line.from = result.stations[first].back;
        line.to = result.stations[end - 1].fore;
        Section section;
        section.from = line.from;
        for (size_t i = first; i < end; ++i) {
            const Station &s = result.stations[i];
            section.dh += s.dh;
            section.stations += 1;
            section.length += s.length();
            section.stationIndices.push_back(int(i));
            if (node(s.fore) || i + 1 == end) {
                section.to = s.fore;
                result.sections.push_back(section);
                section = Section();
                section.from = s.fore;
            }
        }
        double sum = 0;
        for (size_t i = first; i < end; ++i) {
            sum += result.stations[i].dh;
            line.stations += 1;
            line.length += result.stations[i].length();
        }
        const QString a = pointKey(line.from), b = pointKey(line.to);
        if (a == b)
            line.misclosureMm = sum * 1000;
        else if (fixed.count(a) && fixed.count(b))
            line.misclosureMm = (sum - (fixed[b] - fixed[a])) * 1000;
        if (line.misclosureMm) {
            line.toleranceMm = settings.grade.tolerance(line.stations, line.length);
            line.within = std::fabs(*line.misclosureMm) <= *line.toleranceMm;
        }
        result.lines.push_back(line);
    }

    // The network: every section's ends; the unknowns are those not fixed.
    std::map<QString, int> unknown;
    std::set<QString> nodes;
    for (const Section &s : result.sections)
        for (const QString &id : {s.from, s.to}) {
            const QString key = pointKey(id);
            shownId.emplace(key, id);
            nodes.insert(key);
            if (!fixed.count(key) && !unknown.count(key)) {
                const int next = int(unknown.size());
                unknown[key] = next;
            }
        }
    bool anyFixed = false;
    for (const QString &key : nodes)
        anyFixed |= fixed.count(key) > 0;
    if (!anyFixed)
        return fail(QStringLiteral("水准网中没有已知高程的点（起算点）"));
    // A tree from the fixed heights (a root joined to each fixed point by
    // its height) over the sections: what it does not reach is not connected
    // to a fixed point, and each section outside it closes one independent
    // loop, or one line between fixed points.
    {
        struct TreeNode
        {
            QString parent; // empty: the root
            int section = -1;
            double height = 0; // summed along the tree, m
            int stations = 0;
            double length = 0;
            int depth = 0;
        };
        std::map<QString, TreeNode> tree;
        std::deque<QString> open;
        for (const auto &[key, h] : fixed)
            if (nodes.count(key)) {
                tree[key] = TreeNode{QString(), -1, h, 0, 0, 1};
                open.push_back(key);
            }
        std::vector<bool> inTree(result.sections.size(), false);
        while (!open.empty()) {
            const QString at = open.front();
            open.pop_front();
            for (size_t i = 0; i < result.sections.size(); ++i) {
                const Section &s = result.sections[i];
                const QString a = pointKey(s.from), b = pointKey(s.to);
                if (a != at && b != at)
                    continue;
                const QString other = a == at ? b : a;
                if (tree.count(other))
                    continue;
                const TreeNode &here = tree[at];
                tree[other] = TreeNode{at, int(i), here.height + (a == at ? s.dh : -s.dh),
                                       here.stations + s.stations, here.length + s.length,
                                       here.depth + 1};
                inTree[i] = true;
                open.push_back(other);
            }
        }
        // The tree reaches every point connected to a fixed one.
        for (const QString &key : nodes)
            if (!tree.count(key))
                return fail(QStringLiteral("点 %1 与已知高程点不相连").arg(shownId[key]));
        // The way from a point down to `stop` (included), or to the root.
        const auto pathOf = [&](QString key, const QString &stop) {
            QStringList way;
            while (!key.isEmpty()) {
                way << shownId[key];
                if (key == stop)
                    break;
                key = tree[key].parent;
            }
            return way;
        };
        for (size_t i = 0; i < result.sections.size(); ++i) {
            if (inTree[i])
                continue;
            const Section &s = result.sections[i];
            const QString a = pointKey(s.from), b = pointKey(s.to);
            if (!tree.count(a) || !tree.count(b))
                continue;
            // Where the two ways down meet: the stations and length of the
            // loop are those of both ways above it, and the section.
            QString x = a, y = b;
            while (x != y && !(x.isEmpty() && y.isEmpty())) {
                if (tree[x].depth >= tree[y].depth && !x.isEmpty())
                    x = tree[x].parent;
                else
                    y = tree[y].parent;
            }
            const TreeNode &meet = tree[x];
            LevelLoop loop;
            loop.stations = s.stations + tree[a].stations + tree[b].stations
                            - (x.isEmpty() ? 0 : 2 * meet.stations);
            loop.length = s.length + tree[a].length + tree[b].length
                          - (x.isEmpty() ? 0 : 2 * meet.length);
            loop.misclosureMm = (tree[a].height + s.dh - tree[b].height) * 1000;
            loop.toleranceMm = settings.grade.tolerance(loop.stations, loop.length);
            loop.within = std::fabs(loop.misclosureMm) <= loop.toleranceMm;
            // Round from where the ways meet (or a fixed point) through a and
            // b back again.
            QStringList down = pathOf(a, x), up = pathOf(b, x);
            if (!x.isEmpty())
                up.removeLast();
            std::reverse(down.begin(), down.end());
            loop.points = down + up;
            result.loops.push_back(loop);
        }
    }

    // Least squares: H_to − H_from = h + v, weights 1/n (or 1/L in km).
    const int m = int(result.sections.size());
    const int u = int(unknown.size());
    Eigen::MatrixXd A = Eigen::MatrixXd::Zero(m, u);
    Eigen::VectorXd l(m), p(m);
    for (int i = 0; i < m; ++i) {
        const Section &s = result.sections[size_t(i)];
        const QString a = pointKey(s.from), b = pointKey(s.to);
        double constant = s.dh;
        if (unknown.count(b))
            A(i, unknown[b]) += 1;
        else
            constant -= fixed[b];
        if (unknown.count(a))
            A(i, unknown[a]) -= 1;
        else
            constant += fixed[a];
        l(i) = constant;
        const double km = s.length / 1000;
        p(i) = settings.byDistance && km > 0 ? 1 / km : 1.0 / s.stations;
    }
    const Eigen::MatrixXd N = A.transpose() * p.asDiagonal() * A;
    Eigen::VectorXd x = Eigen::VectorXd::Zero(u);
    Eigen::MatrixXd Q = Eigen::MatrixXd::Zero(u, u);
    if (u > 0) {
        const Eigen::LDLT<Eigen::MatrixXd> solver(N);
        if (solver.info() != Eigen::Success)
            return fail(QStringLiteral("水准网无法平差（法方程奇异）"));
        x = solver.solve(A.transpose() * p.asDiagonal() * l);
        Q = solver.solve(Eigen::MatrixXd::Identity(u, u));
    }
    const Eigen::VectorXd v = A * x - l;
    result.dof = m - u;
    if (result.dof > 0) {
        double vpv = 0;
        for (int i = 0; i < m; ++i)
            vpv += p(i) * v(i) * v(i) * 1e6; // mm²
        result.sigma0Mm = std::sqrt(vpv / result.dof);
    }
    for (const auto &[key, h] : fixed)
        if (nodes.count(key))
            result.heights[shownId[key]] = h;
    for (const auto &[key, index] : unknown) {
        result.heights[shownId[key]] = x(index);
        if (result.sigma0Mm)
            result.sigmaMm[shownId[key]] = *result.sigma0Mm * std::sqrt(Q(index, index));
    }
    // Each section's correction shared among its stations (by count or
    // length): the turning points' heights, and the intermediate sights
    // from their station's back point.
    // Standardised corrections: v over σ0·√(Qvv), Qvv = P⁻¹ − A·Q·Aᵀ.
    if (result.sigma0Mm && *result.sigma0Mm > 0) {
        const Eigen::MatrixXd AQAt = A * Q * A.transpose();
        for (int i = 0; i < m; ++i) {
            const double qvv = 1 / p(i) - AQAt(i, i);
            if (qvv > 1e-12)
                result.sections[size_t(i)].standardised =
                    v(i) * 1000 / (*result.sigma0Mm * std::sqrt(qvv));
        }
    }
    for (int i = 0; i < m; ++i) {
        Section &s = result.sections[size_t(i)];
        s.correction = v(i);
        double h = result.heights[shownId[pointKey(s.from)]];
        for (const int index : s.stationIndices) {
            const Station &st = result.stations[size_t(index)];
            const double share = settings.byDistance && s.length > 0 ? st.length() / s.length
                                                                      : 1.0 / s.stations;
            for (const LevelReading &r : st.intermediates)
                result.intermediates[r.point] = h + *st.b1 - r.reading;
            h += st.dh + v(i) * share;
        }
    }
    return result;
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

std::vector<ImportRow> levelImportRows(const LevelResult &result,
                                       const std::map<QString, const Point *> &matched)
{
    std::vector<ImportRow> rows;
    for (const auto &[id, point] : matched)
        rows.push_back({int(rows.size()) + 1, point->name,
                        QString::number(result.heights.at(id), 'g', 17), true, true});
    return rows;
}

QByteArray levelJson(const LevelResult &result)
{
    const auto number = [](const std::optional<double> &v) {
        return v && std::isfinite(*v) ? QJsonValue(*v) : QJsonValue();
    };
    QJsonArray lines;
    for (const LevelLine &l : result.lines)
        lines.append(QJsonObject{{QStringLiteral("from"), l.from},
                                 {QStringLiteral("to"), l.to},
                                 {QStringLiteral("stations"), l.stations},
                                 {QStringLiteral("length_m"), l.length},
                                 {QStringLiteral("misclosure_mm"), number(l.misclosureMm)},
                                 {QStringLiteral("tolerance_mm"), number(l.toleranceMm)},
                                 {QStringLiteral("within"), l.within}});
    QJsonArray stations;
    for (const Station &s : result.stations)
        stations.append(QJsonObject{{QStringLiteral("no"), s.no},
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
    QJsonObject heights;
    for (const auto &[id, h] : result.heights)
        heights.insert(id, h);
    QJsonObject intermediates;
    for (const auto &[id, h] : result.intermediates)
        intermediates.insert(id, h);
    return QJsonDocument(QJsonObject{{QStringLiteral("lines"), lines},
                                     {QStringLiteral("stations"), stations},
                                     {QStringLiteral("sections"), sections},
                                     {QStringLiteral("loops"), loops},
                                     {QStringLiteral("heights"), heights},
                                     {QStringLiteral("intermediates"), intermediates},
                                     {QStringLiteral("sigma0_mm"), number(result.sigma0Mm)},
                                     {QStringLiteral("dof"), result.dof}})
        .toJson(QJsonDocument::Indented);
}
