#include "survey/levelling.h"

#include "base/inputfile.h"
#include "base/savefile.h"
#include "base/settings.h"
#include "base/textnumber.h"
#include "survey/keyrules.h"
#include "survey/projectsnapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QBuffer>
#include <QJsonParseError>
#include <QRegularExpression>

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>

#include <algorithm>
#include <cmath>
#include <deque>
#include <unordered_map>
#include <unordered_set>

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

// A turning point's id, as a key: digits, or TP and digits.
bool looksLikeTurningPoint(const QString &key)
{
    qsizetype at = key.startsWith(QLatin1String("tp")) ? 2 : 0;
    for (; at < key.size(); ++at)
        if (!key[at].isDigit())
            return false;
    return !key.isEmpty();
}

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

QString pointKey(const QString &id)
{
    return pointNameKey(id);
}

namespace {

// Lines of a file one at a time, without their end (\n or \r\n), so that a
// large file is never held whole; a line longer than `maxLine` bytes ends
// the reading with an error.
class LineReader
{
public:
    static constexpr qsizetype maxLine = 4096;
    explicit LineReader(QIODevice &device)
        : m_device(device)
    {}
    enum Status { Line, End, TooLong };
    Status next(QByteArray *line)
    {
        for (;;) {
            const qsizetype newline = m_buffer.indexOf('\n', m_pos);
            if (newline >= 0) {
                *line = m_buffer.mid(m_pos, newline - m_pos);
                m_pos = newline + 1;
                break;
            }
            if (m_buffer.size() - m_pos > maxLine)
                return ++m_number, TooLong;
            const QByteArray more = m_device.read(1 << 16);
            if (more.isEmpty()) {
                if (m_pos >= m_buffer.size())
                    return End;
                *line = m_buffer.mid(m_pos);
                m_pos = m_buffer.size();
                break;
            }
            m_buffer.remove(0, m_pos);
            m_pos = 0;
            m_buffer += more;
        }
        ++m_number;
        if (line->endsWith('\r'))
            line->chop(1);
        if (line->size() > maxLine)
            return TooLong;
        return Line;
    }
    int number() const { return m_number; }

private:
    QIODevice &m_device;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    int m_number = 0;
};

Failure tooLong(const QString &path, int line)
{
    return fail(QStringLiteral("%1过长，不是水准仪的记录").arg(where(path, line)));
}

Failure tooManyReadings(const QString &path, int line)
{
    return fail(QStringLiteral("%1：读数超过 %2 个").arg(where(path, line)).arg(maxReadings));
}

// A staff reading or a sight length the readers accept; the reason otherwise.
QString outOfRange(bool sight, double metres)
{
    if (!std::isfinite(metres))
        return QStringLiteral("不是有限的数");
    if (sight && (metres < 0 || metres > maxSightLength))
        return QStringLiteral("视距 %1 m 不在 0～%2 m 之内").arg(metres, 0, 'g', 6).arg(maxSightLength);
    if (!sight && std::fabs(metres) > maxStaffReading)
        return QStringLiteral("读数 %1 m 超出 ±%2 m").arg(metres, 0, 'g', 6).arg(maxStaffReading);
    return QString();
}

Result<LevelFile> readGsi(LineReader &reader, const QString &path)
{
    LevelFile file;
    file.path = path;
    bool newLine = true;
    size_t count = 0;
    QByteArray text;
    for (;;) {
        const LineReader::Status status = reader.next(&text);
        if (status == LineReader::End)
            break;
        const int lineNo = reader.number();
        if (status == LineReader::TooLong)
            return tooLong(path, lineNo);
        while (text.endsWith(' '))
            text.chop(1);
        if (text.isEmpty())
            continue;
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
            const auto invalid = [&](const QString &why) {
                return fail(QStringLiteral("%1第 %2 个字（%3）%4")
                                .arg(where(path, lineNo))
                                .arg(wordNo)
                                .arg(QString::fromLatin1(header), why));
            };
            // A value in its word's own unit, to metres: digits only, the
            // sign in its own place.
            const auto value = [&]() -> Result<double> {
                double scale = 0;
                switch (header[5]) {
                case '0': scale = 1e-3; break;
                case '1': scale = 1e-3 * footInMetres; break;
                case '6': scale = 1e-4; break;
                case '7': scale = 1e-4 * footInMetres; break;
                case '8': scale = 1e-5; break;
                default: return invalid(QStringLiteral("的单位无效"));
                }
                if (sign != '+' && sign != '-')
                    return invalid(QStringLiteral("的符号无效"));
                for (const char c : data)
                    if (c < '0' || c > '9')
                        return invalid(QStringLiteral("的数值无效"));
                return (sign == '-' ? -1.0 : 1.0) * double(data.toLongLong()) * scale;
            };
            if (index == "41") {
                newLine = true;
            } else if (index == "11") {
                point = withoutPadding(QString::fromLatin1(data));
            } else if (index == "32") {
                const auto v = value();
                if (!v)
                    return v.failure();
                if (const QString why = outOfRange(true, *v); !why.isEmpty())
                    return invalid(why);
                distance = *v;
            } else if (index == "33") {
                const auto v = value();
                if (!v)
                    return v.failure();
                if (const QString why = outOfRange(false, *v); !why.isEmpty())
                    return invalid(why);
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
                if (!usableElevation(*v))
                    return invalid(QStringLiteral("的高程不在有效范围内"));
                if (!point.isEmpty())
                    file.enteredHeights.push_back({point, *v, lineNo});
            }
        }
        if (!reading)
            continue;
        if (point.isEmpty())
            return fail(QStringLiteral("%1的读数没有点号").arg(where(path, lineNo)));
        if (++count > maxReadings)
            return tooManyReadings(path, lineNo);
        if (newLine || file.lines.empty()) {
            RecordedLine line;
            line.number = int(file.lines.size()) + 1;
            line.fileLine = lineNo;
            file.lines.push_back(line);
            newLine = false;
        }
        file.lines.back().readings.push_back({reading->first, point, reading->second, distance, lineNo});
    }
    if (count == 0)
        return fail(QStringLiteral("%1 中没有水准读数").arg(QDir::toNativeSeparators(path)));
    return file;
}

// DiNi M5: each record a line of fixed columns (counted from 1): "For M5" and
// "|" in 7, the address, "|" in 17; the information field in 18–48, "|" in
// 49; three value blocks of a type (50–51), a value right-aligned (53–66)
// and a unit (68–71), each closed by "|" (72, 95, 118); an "e" after the
// last marks a record the level found in error.
struct DiniColumns
{
    static constexpr int info = 17, infoLength = 31;
    static constexpr int block = 49, blockStep = 23;
    static constexpr int type = 0, value = 3, valueLength = 14, unit = 18, unitLength = 4;
};

// The station being read on one DiNi line: where its readings start in the
// line, how many back and fore sights it has, and whether the level asked
// for the next reading to replace one.
struct DiniLineState
{
    size_t stationStart = 0;
    size_t previousStart = 0;
    int backs = 0, fores = 0;
    bool repeat = false;
    QByteArray invalidated; // type of the reading the level invalidated last
};

bool isBack(LevelReading::Kind kind)
{
    return kind == LevelReading::Back1 || kind == LevelReading::Back2;
}

bool isFore(LevelReading::Kind kind)
{
    return kind == LevelReading::Fore1 || kind == LevelReading::Fore2;
}

void recount(const RecordedLine &line, DiniLineState &state)
{
    state.backs = state.fores = 0;
    for (size_t i = state.stationStart; i < line.readings.size(); ++i) {
        state.backs += isBack(line.readings[i].kind) ? 1 : 0;
        state.fores += isFore(line.readings[i].kind) ? 1 : 0;
    }
}

// Drops the station's latest back (or fore) reading.
void dropLatest(RecordedLine &line, DiniLineState &state, bool back)
{
    for (size_t i = line.readings.size(); i-- > state.stationStart;)
        if (back ? isBack(line.readings[i].kind) : isFore(line.readings[i].kind)) {
            line.readings.erase(line.readings.begin() + qsizetype(i));
            break;
        }
    recount(line, state);
}

Result<LevelFile> readDini(LineReader &reader, const QString &path)
{
    using C = DiniColumns;
    LevelFile file;
    file.path = path;
    std::vector<DiniLineState> states;
    std::map<int, size_t> byNumber;
    std::optional<size_t> current;
    size_t count = 0;
    const auto startLine = [&](int number, const QString &method, int fileLine) {
        RecordedLine line;
        line.number = number;
        line.method = method;
        line.fileLine = fileLine;
        // The back sights of the method: B in BF and aBF, BB in BFFB, aBFFB, BBFF.
        const int backs = int(method.count(QLatin1Char('B')));
        line.perSight = backs == 1 || backs == 2 ? backs : 0;
        file.lines.push_back(line);
        states.emplace_back();
        byNumber[number] = file.lines.size() - 1;
        current = file.lines.size() - 1;
        if (line.perSight == 0)
            file.warnings << QStringLiteral("%1：水准路线 %2 的观测方法“%3”无法识别，按每个视线读两次处理")
                                 .arg(where(path, fileLine))
                                 .arg(number)
                                 .arg(method);
    };
    QByteArray raw;
    for (;;) {
        const LineReader::Status status = reader.next(&raw);
        if (status == LineReader::End)
            break;
        const int lineNo = reader.number();
        if (status == LineReader::TooLong)
            return tooLong(path, lineNo);
        if (raw.trimmed().isEmpty())
            continue;
        if (!raw.startsWith("For M5|"))
            return fail(QStringLiteral("%1 不是 DiNi M5 记录").arg(where(path, lineNo)));
        const QByteArray text = raw.leftJustified(121, ' ');
        if (text[16] != '|' || text[C::block - 1] != '|')
            return fail(QStringLiteral("%1 的栏目位置与 DiNi M5 格式不符").arg(where(path, lineNo)));
        if (text.mid(118).trimmed().startsWith('e'))
            continue; // a record the level marked as in error
        const QByteArray info = text.mid(C::info, C::infoLength);

        if (info.startsWith("TO")) {
            const QList<QByteArray> words = info.mid(2).simplified().split(' ');
            const QByteArray first = words.value(0).toLower();
            // The line number closes the field (column 48).
            std::optional<int> number;
            if (words.size() > 1 && info.back() != ' ') {
                bool ok = false;
                const int n = words.back().toInt(&ok);
                if (ok)
                    number = n;
            }
            const QString method = words.size() > (number ? 2 : 1) ? QString::fromLatin1(words[1])
                                                                    : QString();
            if (first == "start-line") {
                startLine(number.value_or(int(file.lines.size()) + 1), method, lineNo);
            } else if (first == "cont-line") {
                if (number && byNumber.count(*number)) {
                    current = byNumber[*number];
                } else {
                    startLine(number.value_or(int(file.lines.size()) + 1), method, lineNo);
                    file.warnings << QStringLiteral("%1：续测的水准路线 %2 的开始不在本文件中")
                                         .arg(where(path, lineNo))
                                         .arg(number.value_or(0));
                }
            } else if (first == "station" && words.value(1).toLower() == "repeated" && current) {
                // The station is measured again: its readings so far go,
                // or, with none yet, those of the station just finished.
                RecordedLine &line = file.lines[*current];
                DiniLineState &state = states[*current];
                if (line.readings.size() == state.stationStart)
                    state.stationStart = state.previousStart;
                line.readings.resize(state.stationStart);
                state.backs = state.fores = 0;
                state.repeat = false;
            } else if (first == "measurement" && words.value(1).toLower() == "repeated" && current) {
                states[*current].repeat = true;
            }
            continue;
        }
        if (!info.startsWith("KD"))
            continue;
        const QString point = withoutPadding(QString::fromLatin1(info.mid(4, 8)));
        const QByteArray code = info.mid(12, 5);

        // The record's values in metres, by type; the types read here must
        // have a value and a unit the program knows.
        std::map<QByteArray, double> values;
        for (int b = 0; b < 3; ++b) {
            const int at = C::block + b * C::blockStep;
            const QByteArray type = text.mid(at + C::type, 2).trimmed();
            if (type.isEmpty())
                continue;
            static const std::set<QByteArray> read{"Rb", "Rf", "Rz", "HD", "Z", "Sh"};
            if (!read.count(type))
                continue;
            if (text[at - 1] != '|')
                return fail(QStringLiteral("%1 的栏目位置与 DiNi M5 格式不符").arg(where(path, lineNo)));
            const QByteArray number = text.mid(at + C::value, C::valueLength).trimmed();
            const QByteArray unit = text.mid(at + C::unit, C::unitLength).trimmed();
            bool ok = false;
            double v = number.toDouble(&ok);
            if (!ok || !std::isfinite(v))
                return fail(QStringLiteral("%1 的 %2 值“%3”无效")
                                .arg(where(path, lineNo), QString::fromLatin1(type), QString::fromLatin1(number)));
            if (unit == "mm")
                v /= 1000;
            else if (unit == "ft")
                v *= footInMetres;
            else if (unit != "m")
                return fail(QStringLiteral("%1 的 %2 值的单位“%3”无法识别")
                                .arg(where(path, lineNo), QString::fromLatin1(type), QString::fromLatin1(unit)));
            QString why;
            if (type == "HD" || type.startsWith('R'))
                why = outOfRange(type == "HD", v);
            else if (!usableElevation(v))
                why = QStringLiteral("高程 %1 不在有效范围内").arg(v, 0, 'g', 6);
            if (!why.isEmpty())
                return fail(QStringLiteral("%1 的 %2 值：%3").arg(where(path, lineNo), QString::fromLatin1(type), why));
            values[type] = v;
        }
        QByteArray readingType;
        for (const char *type : {"Rb", "Rf", "Rz"})
            if (values.count(type))
                readingType = type;
        if (code.trimmed() == "#####") {
            // Invalidated by the level; the reading is taken again.
            if (current)
                states[*current].invalidated = readingType;
            continue;
        }
        if (readingType.isEmpty()) {
            // The level's own results: a height entered at the start of a
            // line, the line's sum of height differences and station count.
            if (values.count("Z") && !point.isEmpty() && (!current || file.lines[*current].readings.empty()))
                file.enteredHeights.push_back({point, values["Z"], lineNo});
            if (current && values.count("Sh"))
                file.lines[*current].levelSumDh = values["Sh"];
            if (current && info.startsWith("KD2")) {
                bool ok = false;
                const int stations = code.trimmed().toInt(&ok);
                if (ok && stations >= 0)
                    file.lines[*current].levelStations = stations;
            }
            continue;
        }
        if (point.isEmpty())
            return fail(QStringLiteral("%1的读数没有点号").arg(where(path, lineNo)));
        if (++count > maxReadings)
            return tooManyReadings(path, lineNo);
        if (!current)
            startLine(int(file.lines.size()) + 1, QString(), lineNo);
        RecordedLine &line = file.lines[*current];
        DiniLineState &state = states[*current];
        const std::optional<double> distance =
            values.count("HD") ? std::optional(values["HD"]) : std::nullopt;
        if (readingType == "Rz") {
            line.readings.push_back({LevelReading::Intermediate, point, values["Rz"], distance, lineNo});
            continue;
        }
        const bool back = readingType == "Rb";
        if (state.repeat && state.invalidated != readingType) {
            // The reading repeated was not marked: it is the station's
            // latest of this kind, or the finished station's.
            if (line.readings.size() == state.stationStart && state.stationStart > state.previousStart) {
                state.stationStart = state.previousStart;
                recount(line, state);
            }
            dropLatest(line, state, back);
        }
        state.repeat = false;
        state.invalidated.clear();
        const int perSight = line.perSight > 0 ? line.perSight : 2;
        if ((back ? state.backs : state.fores) >= perSight)
            dropLatest(line, state, back); // read once more than the method has: the later counts
        int &sights = back ? state.backs : state.fores;
        const LevelReading::Kind kind = back ? (sights == 0 ? LevelReading::Back1 : LevelReading::Back2)
                                             : (sights == 0 ? LevelReading::Fore1 : LevelReading::Fore2);
        ++sights;
        line.readings.push_back({kind, point, values[readingType], distance, lineNo});
        if (state.backs == perSight && state.fores == perSight) {
            state.previousStart = state.stationStart;
            state.stationStart = line.readings.size();
            state.backs = state.fores = 0;
        }
    }
    if (count == 0)
        return fail(QStringLiteral("%1 中没有水准读数").arg(QDir::toNativeSeparators(path)));
    return file;
}

enum class LevelFormat { Gsi, Dini, OtherDini };

// What the first line that is not blank says the file is.
LevelFormat formatOf(const QByteArray &firstLine)
{
    if (firstLine.startsWith("For M5"))
        return LevelFormat::Dini;
    // A GSI block never holds "|"; the DiNi's older REC 500 records do.
    if (firstLine.contains('|'))
        return LevelFormat::OtherDini;
    return LevelFormat::Gsi;
}

Result<LevelFile> readFrom(QIODevice &device, const QString &path)
{
    // Look at the first line that is not blank, then read from the start.
    QByteArray first;
    {
        LineReader probe(device);
        QByteArray line;
        while (probe.next(&line) == LineReader::Line)
            if (!line.trimmed().isEmpty()) {
                first = line;
                break;
            }
    }
    if (!device.seek(0))
        return fail(QStringLiteral("无法读取 %1").arg(QDir::toNativeSeparators(path)));
    LineReader reader(device);
    switch (formatOf(first)) {
    case LevelFormat::Dini:
        return readDini(reader, path);
    case LevelFormat::OtherDini:
        return fail(QStringLiteral("%1 不是 DiNi M5 格式（可能是较早的 REC 500 记录格式）。"
                                   "本程序读取 M5 格式：请在水准仪上将数据以 M5 格式导出。")
                        .arg(QDir::toNativeSeparators(path)));
    case LevelFormat::Gsi:
        break;
    }
    return readGsi(reader, path);
}

Result<LevelFile> parseWith(Result<LevelFile> (*read)(LineReader &, const QString &),
                            const QByteArray &content, const QString &path)
{
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    LineReader reader(buffer);
    return read(reader, path);
}

} // namespace

size_t LevelFile::readingCount() const
{
    size_t n = 0;
    for (const RecordedLine &line : lines)
        n += line.readings.size();
    return n;
}

Result<LevelFile> parseGsi(const QByteArray &content, const QString &path)
{
    return parseWith(readGsi, content, path);
}

Result<LevelFile> parseDini(const QByteArray &content, const QString &path)
{
    return parseWith(readDini, content, path);
}

Result<LevelFile> readLevelFile(const QString &path)
{
    auto file = openInputFile(path, qint64(256) << 20);
    if (!file)
        return file.failure();
    return readFrom(**file, path);
}

namespace {

// The stations of one recorded line, with their values and checks.
void buildStations(const RecordedLine &recorded, int lineIndex, const LevelGrade &grade,
                   std::vector<Station> *stations)
{
    bool doubleRead = recorded.perSight == 2;
    if (recorded.perSight == 0)
        for (const LevelReading &r : recorded.readings)
            doubleRead |= r.kind == LevelReading::Back2 || r.kind == LevelReading::Fore2;
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
    for (const LevelReading &r : recorded.readings) {
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


// Which ids are network points: the fixed, entered and project points, and
// any id that is not a turning point's (digits, or TP and digits).
class NetworkPoints
{
public:
    NetworkPoints(const LevelSettings &settings, const std::vector<LevelFile> &files)
    {
        for (const auto &[id, h] : settings.fixed)
            m_keys.insert(pointKey(id));
        for (const QString &known : settings.knownPoints)
            m_keys.insert(pointKey(known));
        for (const LevelFile &file : files)
            for (const EnteredHeight &entered : file.enteredHeights)
                m_keys.insert(pointKey(entered.point));
    }
    bool isNode(const QString &id) const
    {
        const QString key = pointKey(id);
        return m_keys.count(key) > 0 || !looksLikeTurningPoint(key);
    }

private:
    std::unordered_set<QString> m_keys;
};

using SparseMatrix = Eigen::SparseMatrix<double>;

// Entries of the inverse of a sparse symmetric matrix from its LDLᵀ factors
// (Takahashi's equations), on the pattern of the factor: the variance of
// every unknown and the covariance of any two joined by an observation,
// without forming the dense inverse.
class SelectedInverse
{
public:
    explicit SelectedInverse(const Eigen::SimplicialLDLT<SparseMatrix> &ldlt)
        : m_factor(ldlt.matrixL().nestedExpression())
        , m_order(ldlt.permutationP().indices())
    {
        m_factor.makeCompressed();
        const int n = int(m_factor.cols());
        const int *outer = m_factor.outerIndexPtr();
        const int *inner = m_factor.innerIndexPtr();
        const double *value = m_factor.valuePtr();
        const Eigen::VectorXd &d = ldlt.vectorD();
        m_diagonal.assign(size_t(n), 0.0);
        m_below.assign(size_t(m_factor.nonZeros()), 0.0);
        for (int i = n - 1; i >= 0; --i) {
            for (int e = outer[i]; e < outer[i + 1]; ++e) {
                const int j = inner[e];
                if (j <= i)
                    continue;
                double z = 0;
                for (int f = outer[i]; f < outer[i + 1]; ++f)
                    if (inner[f] > i)
                        z -= value[f] * at(inner[f], j);
                m_below[size_t(e)] = z;
            }
            double z = 1.0 / d(i);
            for (int f = outer[i]; f < outer[i + 1]; ++f)
                if (inner[f] > i)
                    z -= value[f] * m_below[size_t(f)];
            m_diagonal[size_t(i)] = z;
        }
    }
    // The entry (a, b) of the inverse, in the matrix's own order.
    double operator()(int a, int b) const { return at(m_order(a), m_order(b)); }

private:
    double at(int r, int c) const
    {
        if (r == c)
            return m_diagonal[size_t(r)];
        if (r < c)
            std::swap(r, c);
        const int *inner = m_factor.innerIndexPtr();
        const int *begin = inner + m_factor.outerIndexPtr()[c];
        const int *end = inner + m_factor.outerIndexPtr()[c + 1];
        const int *found = std::lower_bound(begin, end, r);
        return found != end && *found == r ? m_below[size_t(found - inner)] : 0.0;
    }

    SparseMatrix m_factor;
    Eigen::VectorXi m_order;
    std::vector<double> m_diagonal, m_below;
};

QString figure(double v, int decimals)
{
    return std::isfinite(v) && std::fabs(v) < 1e12 ? QString::number(v, 'f', decimals)
                                                   : QStringLiteral("—");
}

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

Result<LevelResult> adjustLevelling(const std::vector<LevelFile> &files,
                                    const LevelSettings &settings)
{
    LevelResult result;
    std::unordered_map<QString, double> fixedByKey;
    for (const auto &[id, h] : settings.fixed) {
        if (!usableElevation(h))
            return fail(QStringLiteral("起算点 %1 的高程 %2 不是有效的高程").arg(id).arg(h, 0, 'g', 6));
        fixedByKey[pointKey(id)] = h;
    }

    // Stations line by line; each line the level summed itself is checked
    // against its own count and sum.
    int lineIndex = 0;
    std::vector<std::pair<size_t, size_t>> lineStations; // first, end station of each line
    std::vector<int> lineNumbers;
    for (const LevelFile &file : files) {
        result.warnings << file.warnings;
        for (const RecordedLine &recorded : file.lines) {
            const size_t before = result.stations.size();
            buildStations(recorded, lineIndex, settings.grade, &result.stations);
            const int built = int(result.stations.size() - before);
            double sum = 0;
            for (size_t i = before; i < result.stations.size(); ++i)
                sum += result.stations[i].dh;
            const bool countDiffers = recorded.levelStations && *recorded.levelStations != built;
            const bool sumDiffers = recorded.levelSumDh && std::fabs(sum - *recorded.levelSumDh) > 0.05e-3;
            if (countDiffers || sumDiffers)
                result.warnings << QStringLiteral("%1 水准路线 %2：本程序得 %3 站、高差之和 %4 m，"
                                                  "与水准仪记录的 %5 站、%6 m 不符")
                                       .arg(where(file.path, recorded.fileLine))
                                       .arg(recorded.number)
                                       .arg(built)
                                       .arg(figure(sum, 5),
                                            recorded.levelStations ? QString::number(*recorded.levelStations)
                                                                   : QStringLiteral("—"),
                                            recorded.levelSumDh ? figure(*recorded.levelSumDh, 5)
                                                                : QStringLiteral("—"));
            if (built > 0) {
                lineStations.emplace_back(before, result.stations.size());
                lineNumbers.push_back(recorded.number);
                ++lineIndex;
            }
        }
    }
    if (result.stations.empty())
        return fail(QStringLiteral("没有完整的测站"));

    // Sections between network points, line by line.
    const NetworkPoints network(settings, files);
    std::vector<std::pair<size_t, size_t>> lineSections;
    for (const auto &[first, end] : lineStations) {
        const size_t before = result.sections.size();
        Section section;
        section.from = result.stations[first].back;
        for (size_t i = first; i < end; ++i) {
            const Station &s = result.stations[i];
            section.dh += s.dh;
            section.stations += 1;
            section.length += s.length();
            section.stationIndices.push_back(int(i));
            if (i + 1 == end || network.isNode(s.fore)) {
                section.to = s.fore;
                result.sections.push_back(section);
                section = Section();
                section.from = s.fore;
            }
        }
        lineSections.emplace_back(before, result.sections.size());
    }

    // The network's points, numbered as first met; its connected parts.
    std::unordered_map<QString, int> nodeOf;
    std::vector<QString> shown;
    const auto nodeIndex = [&](const QString &id) {
        const auto [at, added] = nodeOf.try_emplace(pointKey(id), int(shown.size()));
        if (added)
            shown.push_back(id);
        return at->second;
    };
    const int m = int(result.sections.size());
    std::vector<std::pair<int, int>> ends(static_cast<size_t>(m));
    for (int i = 0; i < m; ++i)
        ends[size_t(i)] = {nodeIndex(result.sections[size_t(i)].from), nodeIndex(result.sections[size_t(i)].to)};
    const int n = int(shown.size());
    std::vector<std::vector<int>> sectionsAt(static_cast<size_t>(n));
    for (int i = 0; i < m; ++i) {
        sectionsAt[size_t(ends[size_t(i)].first)].push_back(i);
        if (ends[size_t(i)].second != ends[size_t(i)].first)
            sectionsAt[size_t(ends[size_t(i)].second)].push_back(i);
    }
    const auto otherEnd = [&](int section, int at) {
        const auto [a, b] = ends[size_t(section)];
        return a == at ? b : a;
    };
    std::vector<int> partOf(size_t(n), -1);
    for (int start = 0; start < n; ++start) {
        if (partOf[size_t(start)] >= 0)
            continue;
        const int p = int(result.parts.size());
        result.parts.emplace_back();
        std::deque<int> open{start};
        partOf[size_t(start)] = p;
        while (!open.empty()) {
            const int at = open.front();
            open.pop_front();
            result.parts.back().points << shown[size_t(at)];
            for (const int s : sectionsAt[size_t(at)])
                if (const int other = otherEnd(s, at); partOf[size_t(other)] < 0) {
                    partOf[size_t(other)] = p;
                    open.push_back(other);
                }
        }
    }

    // Each part's datum: the fixed points given in it, else the first
    // height entered on the level for one of its points, else its first
    // point at 0 (its heights then relative).
    std::vector<std::optional<double>> fixedHeight(static_cast<size_t>(n));
    std::vector<bool> hasDatum(result.parts.size(), false);
    for (int v = 0; v < n; ++v)
        if (const auto found = fixedByKey.find(pointKey(shown[size_t(v)])); found != fixedByKey.end()) {
            LevelPart &part = result.parts[size_t(partOf[size_t(v)])];
            part.datum = LevelPart::Fixed;
            part.datumPoints << shown[size_t(v)];
            fixedHeight[size_t(v)] = found->second;
            hasDatum[size_t(partOf[size_t(v)])] = true;
        }
    std::vector<std::pair<const LevelFile *, const EnteredHeight *>> entered;
    for (const LevelFile &file : files)
        for (const EnteredHeight &e : file.enteredHeights)
            entered.emplace_back(&file, &e);
    std::set<const EnteredHeight *> datumEntered;
    for (const auto &[file, e] : entered) {
        const auto found = nodeOf.find(pointKey(e->point));
        if (found == nodeOf.end() || hasDatum[size_t(partOf[size_t(found->second)])])
            continue;
        LevelPart &part = result.parts[size_t(partOf[size_t(found->second)])];
        part.datum = LevelPart::Entered;
        part.datumPoints << shown[size_t(found->second)];
        fixedHeight[size_t(found->second)] = e->height;
        hasDatum[size_t(partOf[size_t(found->second)])] = true;
        datumEntered.insert(e);
    }
    for (size_t p = 0; p < result.parts.size(); ++p)
        if (!hasDatum[p]) {
            LevelPart &part = result.parts[p];
            part.datum = LevelPart::Relative;
            part.datumPoints << part.points.front();
            fixedHeight[size_t(nodeOf.at(pointKey(part.points.front())))] = 0.0;
        }
    for (int v = 0; v < n; ++v)
        result.partIndex[shown[size_t(v)]] = partOf[size_t(v)];

    // Lines: closed, or attached between two fixed points.
    for (size_t l = 0; l < lineStations.size(); ++l) {
        const auto [first, end] = lineStations[l];
        LevelLine line;
        line.number = lineNumbers[l];
        line.from = result.stations[first].back;
        line.to = result.stations[end - 1].fore;
        double sum = 0;
        for (size_t i = first; i < end; ++i) {
            sum += result.stations[i].dh;
            line.stations += 1;
            line.length += result.stations[i].length();
        }
        const int a = nodeOf.at(pointKey(line.from)), b = nodeOf.at(pointKey(line.to));
        if (a == b)
            line.misclosureMm = sum * 1000;
        else if (fixedHeight[size_t(a)] && fixedHeight[size_t(b)])
            line.misclosureMm = (sum - (*fixedHeight[size_t(b)] - *fixedHeight[size_t(a)])) * 1000;
        if (line.misclosureMm) {
            line.toleranceMm = settings.grade.tolerance(line.stations, line.length);
            line.within = std::fabs(*line.misclosureMm) <= *line.toleranceMm;
        }
        result.lines.push_back(line);
    }

    // A tree from the datum points (a root joined to each fixed point by
    // its height) over the sections: each section outside it closes one
    // independent loop, or one line between fixed points.
    {
        constexpr int root = -1;
        std::vector<int> parent(size_t(n), -2), depth(size_t(n), 0), treeStations(size_t(n), 0);
        std::vector<double> treeHeight(size_t(n), 0), treeLength(size_t(n), 0);
        std::vector<bool> inTree(size_t(m), false);
        std::deque<int> open;
        for (int v = 0; v < n; ++v)
            if (fixedHeight[size_t(v)]) {
                parent[size_t(v)] = root;
                depth[size_t(v)] = 1;
                treeHeight[size_t(v)] = *fixedHeight[size_t(v)];
                open.push_back(v);
            }
        while (!open.empty()) {
            const int at = open.front();
            open.pop_front();
            for (const int s : sectionsAt[size_t(at)]) {
                const int other = otherEnd(s, at);
                if (parent[size_t(other)] != -2)
                    continue;
                const Section &section = result.sections[size_t(s)];
                parent[size_t(other)] = at;
                depth[size_t(other)] = depth[size_t(at)] + 1;
                treeHeight[size_t(other)] =
                    treeHeight[size_t(at)] + (ends[size_t(s)].first == at ? section.dh : -section.dh);
                treeStations[size_t(other)] = treeStations[size_t(at)] + section.stations;
                treeLength[size_t(other)] = treeLength[size_t(at)] + section.length;
                inTree[size_t(s)] = true;
                open.push_back(other);
            }
        }
        // The way from a point down to `stop` (included), or to the root.
        const auto pathOf = [&](int v, int stop) {
            QStringList way;
            while (v != root) {
                way << shown[size_t(v)];
                if (v == stop)
                    break;
                v = parent[size_t(v)];
            }
            return way;
        };
        for (int i = 0; i < m; ++i) {
            if (inTree[size_t(i)])
                continue;
            const Section &s = result.sections[size_t(i)];
            const auto [a, b] = ends[size_t(i)];
            // Where the two ways down meet: the stations and length of the
            // loop are those of both ways above it, and the section.
            int x = a, y = b;
            while (x != y) {
                if (x != root && (y == root || depth[size_t(x)] >= depth[size_t(y)]))
                    x = parent[size_t(x)];
                else
                    y = parent[size_t(y)];
            }
            LevelLoop loop;
            loop.stations = s.stations + treeStations[size_t(a)] + treeStations[size_t(b)]
                            - (x == root ? 0 : 2 * treeStations[size_t(x)]);
            loop.length = s.length + treeLength[size_t(a)] + treeLength[size_t(b)]
                          - (x == root ? 0 : 2 * treeLength[size_t(x)]);
            loop.misclosureMm = (treeHeight[size_t(a)] + s.dh - treeHeight[size_t(b)]) * 1000;
            loop.toleranceMm = settings.grade.tolerance(loop.stations, loop.length);
            loop.within = std::fabs(loop.misclosureMm) <= loop.toleranceMm;
            // Round from where the ways meet (or a fixed point) through a and
            // b back again.
            QStringList down = pathOf(a, x), up = pathOf(b, x);
            if (x != root)
                up.removeLast();
            std::reverse(down.begin(), down.end());
            loop.points = down + up;
            result.loops.push_back(loop);
        }
    }

    // Least squares: H_to − H_from = h + v, weights 1/n (or 1/L in km); the
    // normal matrix is as sparse as the network.
    std::vector<int> unknownOf(size_t(n), -1);
    int u = 0;
    for (int v = 0; v < n; ++v)
        if (!fixedHeight[size_t(v)])
            unknownOf[size_t(v)] = u++;
    Eigen::VectorXd l(m), p(m), rhs = Eigen::VectorXd::Zero(u);
    std::vector<Eigen::Triplet<double>> entries;
    entries.reserve(size_t(4 * m));
    for (int i = 0; i < m; ++i) {
        const Section &s = result.sections[size_t(i)];
        const auto [a, b] = ends[size_t(i)];
        const int ua = unknownOf[size_t(a)], ub = unknownOf[size_t(b)];
        double constant = s.dh;
        if (ub < 0)
            constant -= *fixedHeight[size_t(b)];
        if (ua < 0)
            constant += *fixedHeight[size_t(a)];
        l(i) = constant;
        const double km = s.length / 1000;
        p(i) = settings.byDistance && km > 0 ? 1 / km : 1.0 / s.stations;
        if (ub >= 0) {
            entries.emplace_back(ub, ub, p(i));
            rhs(ub) += p(i) * constant;
        }
        if (ua >= 0) {
            entries.emplace_back(ua, ua, p(i));
            rhs(ua) -= p(i) * constant;
        }
        if (ua >= 0 && ub >= 0) {
            entries.emplace_back(ua, ub, -p(i));
            entries.emplace_back(ub, ua, -p(i));
        }
    }
    Eigen::VectorXd x = Eigen::VectorXd::Zero(u);
    std::optional<SelectedInverse> Q;
    if (u > 0) {
        SparseMatrix N(u, u);
        N.setFromTriplets(entries.begin(), entries.end());
        const Eigen::SimplicialLDLT<SparseMatrix> solver(N);
        if (solver.info() != Eigen::Success || !(solver.vectorD().minCoeff() > 0))
            return fail(QStringLiteral("水准网无法平差（法方程奇异）"));
        x = solver.solve(rhs);
        Q.emplace(solver);
    }
    const auto heightOf = [&](int v) {
        return unknownOf[size_t(v)] >= 0 ? x(unknownOf[size_t(v)]) : *fixedHeight[size_t(v)];
    };
    Eigen::VectorXd residual(m);
    for (int i = 0; i < m; ++i)
        residual(i) = heightOf(ends[size_t(i)].second) - heightOf(ends[size_t(i)].first)
                      - result.sections[size_t(i)].dh;
    result.dof = m - u;
    if (result.dof > 0) {
        double vpv = 0;
        for (int i = 0; i < m; ++i)
            vpv += p(i) * residual(i) * residual(i) * 1e6; // mm²
        result.sigma0Mm = std::sqrt(vpv / result.dof);
    }
    for (int v = 0; v < n; ++v) {
        const double h = heightOf(v);
        if (!usableElevation(h))
            return fail(QStringLiteral("点 %1 的平差高程不是有效的高程").arg(shown[size_t(v)]));
        result.heights[shown[size_t(v)]] = h;
        if (result.sigma0Mm && unknownOf[size_t(v)] >= 0)
            result.sigmaMm[shown[size_t(v)]] =
                *result.sigma0Mm * std::sqrt(std::max(0.0, (*Q)(unknownOf[size_t(v)], unknownOf[size_t(v)])));
    }
    // Standardised corrections: v over σ0·√(Qvv), Qvv = 1/p − a·Q·aᵀ.
    if (result.sigma0Mm && *result.sigma0Mm > 0) {
        for (int i = 0; i < m; ++i) {
            const int ua = unknownOf[size_t(ends[size_t(i)].first)];
            const int ub = unknownOf[size_t(ends[size_t(i)].second)];
            double aqa = 0;
            if (ua >= 0)
                aqa += (*Q)(ua, ua);
            if (ub >= 0)
                aqa += (*Q)(ub, ub);
            if (ua >= 0 && ub >= 0)
                aqa -= 2 * (*Q)(ua, ub);
            const double qvv = 1 / p(i) - aqa;
            if (qvv > 1e-12)
                result.sections[size_t(i)].standardised =
                    residual(i) * 1000 / (*result.sigma0Mm * std::sqrt(qvv));
        }
    }
    // Each section's correction shared among its stations (by count or
    // length): the turning points' heights, and the intermediate sights
    // from their station's back point.
    for (int i = 0; i < m; ++i) {
        Section &s = result.sections[size_t(i)];
        s.correction = residual(i);
        double h = heightOf(ends[size_t(i)].first);
        for (const int index : s.stationIndices) {
            const Station &st = result.stations[size_t(index)];
            const double share = settings.byDistance && s.length > 0 ? st.length() / s.length
                                                                      : 1.0 / s.stations;
            for (const LevelReading &r : st.intermediates)
                result.intermediates[r.point] = h + *st.b1 - r.reading;
            h += st.dh + residual(i) * share;
        }
    }
    // Heights entered on the level that did not fix their part, against
    // the adjusted heights.
    for (const auto &[file, e] : entered) {
        if (datumEntered.count(e))
            continue;
        const auto found = nodeOf.find(pointKey(e->point));
        if (found == nodeOf.end())
            continue;
        const double adjusted = heightOf(found->second);
        if (std::fabs(e->height - adjusted) > 0.05e-3)
            result.warnings << QStringLiteral("%1 在水准仪上输入的 %2 高程 %3 m 未作起算，"
                                              "与平差高程 %4 m 相差 %5 mm")
                                   .arg(where(file->path, e->line), e->point, figure(e->height, 5),
                                        figure(adjusted, 5), figure((e->height - adjusted) * 1000, 2));
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
        rows.push_back({int(rows.size()) + 1, point->name, QString::number(h, 'g', 17), true, true});
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
