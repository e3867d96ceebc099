// The raw files of digital levels: Leica GSI-8/16 and Trimble DiNi M5, read
// line by line into recorded lines of readings.
#include "survey/levelling.h"

#include "survey/levellingparts.h"

#include "base/inputfile.h"
#include "base/textnumber.h"
#include "domain/keyrules.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <functional>

using levelparts::where;

namespace {

constexpr double footInMetres = 0.3048;

// A point id without the zeros that pad it on the left ("0000A12" is "A12").
QString withoutPadding(const QString &id)
{
    QString trimmed = id.trimmed();
    qsizetype zeros = 0;
    while (zeros + 1 < trimmed.size() && trimmed[zeros] == QLatin1Char('0'))
        ++zeros;
    return trimmed.mid(zeros);
}

} // namespace

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

// A GSI word's value in its own unit, to metres: digits only, the sign in
// its own place; `invalid` says what is wrong.
Result<double> gsiValue(const QByteArray &header, char sign, const QByteArray &data,
                        const std::function<Failure(const QString &)> &invalid)
{
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
            const auto value = [&] { return gsiValue(header, sign, data, invalid); };
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
// line and how many back and fore sights it has.
//
// The level marks every reading it invalidated itself ("#####" after the
// point id); "Measurement repeated" and "Station repeated" only tell what
// the operator did, and the records they concern are already marked.
// "Station repeated" forgets the station not yet complete; a station
// already complete is never undone by it.
struct DiniLineState
{
    size_t stationStart = 0;
    int backs = 0, fores = 0;
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

// A record's values in metres, by type; the types read here must have a
// value and a unit the program knows.
Result<std::map<QByteArray, double>> diniValues(const QByteArray &text, const QString &path, int lineNo)
{
    using C = DiniColumns;
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
    return values;
}

// A record without a reading: the level's own results, kept to compare.
void keepLevelResults(LevelFile &file, std::optional<size_t> current, const QByteArray &info, const QString &point,
                      const std::map<QByteArray, double> &values, int lineNo)
{
    // A height entered at the start of a line, the line's sum of height
    // differences and station count.
    if (values.count("Z") && !point.isEmpty() && (!current || file.lines[*current].readings.empty()))
        file.enteredHeights.push_back({point, values.at("Z"), lineNo});
    if (current && values.count("Sh"))
        file.lines[*current].levelSumDh = values.at("Sh");
    if (current && info.startsWith("KD2")) {
        // The level's station count, right-aligned in columns 30–38.
        bool ok = false;
        const int stations = info.mid(12, 9).trimmed().toInt(&ok);
        if (ok && stations >= 0)
            file.lines[*current].levelStations = stations;
    }
}

// A back or fore sight added to its station: read more often than the
// method has, the later reading counts.
void addSighting(RecordedLine &line, DiniLineState &state, bool back, const QString &point, double metres,
                 std::optional<double> distance, int lineNo)
{
    const int perSight = line.perSight > 0 ? line.perSight : 2;
    if ((back ? state.backs : state.fores) >= perSight)
        dropLatest(line, state, back); // read once more than the method has: the later counts
    int &sights = back ? state.backs : state.fores;
    const LevelReading::Kind kind = back ? (sights == 0 ? LevelReading::Back1 : LevelReading::Back2)
                                         : (sights == 0 ? LevelReading::Fore1 : LevelReading::Fore2);
    ++sights;
    line.readings.push_back({kind, point, metres, distance, lineNo});
    if (state.backs == perSight && state.fores == perSight) {
        state.stationStart = line.readings.size();
        state.backs = state.fores = 0;
    }
}

// The lines of a DiNi file as they are read: each line's state, the lines
// by number, and the one the readings go to.
struct DiniLines
{
    LevelFile &file;
    const QString &path;
    std::vector<DiniLineState> states;
    std::map<int, size_t> byNumber;
    std::optional<size_t> current;

    void start(int number, const QString &method, int fileLine)
    {
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
    }
    // A TO record: a line started or continued, or a station measured again.
    void control(const QByteArray &info, int lineNo);
};

void DiniLines::control(const QByteArray &info, int lineNo)
{
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
        start(number.value_or(int(file.lines.size()) + 1), method, lineNo);
    } else if (first == "cont-line") {
        if (number && byNumber.count(*number)) {
            current = byNumber[*number];
        } else {
            start(number.value_or(int(file.lines.size()) + 1), method, lineNo);
            file.warnings << QStringLiteral("%1：续测的水准路线 %2 的开始不在本文件中")
                                 .arg(where(path, lineNo))
                                 .arg(number.value_or(0));
        }
    } else if (first == "station" && words.value(1).toLower() == "repeated" && current) {
        // The station is measured again: its valid readings so far
        // (back sights without their fore sights) go.
        RecordedLine &line = file.lines[*current];
        DiniLineState &state = states[*current];
        line.readings.resize(state.stationStart);
        state.backs = state.fores = 0;
    }
}

Result<LevelFile> readDini(LineReader &reader, const QString &path)
{
    using C = DiniColumns;
    LevelFile file;
    file.path = path;
    DiniLines lines{file, path, {}, {}, std::nullopt};
    std::optional<size_t> &current = lines.current;
    size_t count = 0;
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
            lines.control(info, lineNo);
            continue;
        }
        if (!info.startsWith("KD"))
            continue;
        const QString point = withoutPadding(QString::fromLatin1(info.mid(4, 8)));
        const QByteArray code = info.mid(12, 5);

        const auto read = diniValues(text, path, lineNo);
        if (!read)
            return read.failure();
        const std::map<QByteArray, double> &values = *read;
        QByteArray readingType;
        for (const char *type : {"Rb", "Rf", "Rz"})
            if (values.count(type))
                readingType = type;
        if (code.trimmed() == "#####")
            continue; // invalidated by the level; the reading is taken again
        if (readingType.isEmpty()) {
            keepLevelResults(file, current, info, point, values, lineNo);
            continue;
        }
        if (point.isEmpty())
            return fail(QStringLiteral("%1的读数没有点号").arg(where(path, lineNo)));
        if (++count > maxReadings)
            return tooManyReadings(path, lineNo);
        if (!current)
            lines.start(int(file.lines.size()) + 1, QString(), lineNo);
        RecordedLine &line = file.lines[*current];
        DiniLineState &state = lines.states[*current];
        const std::optional<double> distance =
            values.count("HD") ? std::optional(values.at("HD")) : std::nullopt;
        if (readingType == "Rz") {
            line.readings.push_back({LevelReading::Intermediate, point, values.at("Rz"), distance, lineNo});
            continue;
        }
        addSighting(line, state, readingType == "Rb", point, values.at(readingType), distance, lineNo);
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
    auto read = readFrom(**file, path);
    if (!read)
        return read;
    // The file as read, kept with the heights that come from it.
    auto source = readSourceFile(path);
    if (!source)
        return source.failure();
    read->source = std::move(*source);
    return read;
}
