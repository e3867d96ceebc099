#include "survey/pointpositions.h"

#include "base/inputfile.h"
#include "survey/keyrules.h"
#include "xlsx/workbook.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

#include <cmath>
#include <set>

QString positionKey(const QString &name)
{
    // As every import matches names: J02 is J2, j2 is J2.
    return pointNameKey(name.trimmed());
}

namespace {

std::optional<double> coordinate(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional(value) : std::nullopt;
}

// The axis a heading names: 'E' east, 'N' north, 0 neither (X and Y say
// nothing sure: a surveyor's X is north, an architect's east).
char axisOf(const QString &heading)
{
    const QString h = heading.trimmed().toUpper();
    if (h.contains(QStringLiteral("东")) || h == QLatin1String("E") || h.startsWith(QLatin1String("EAST")))
        return 'E';
    if (h.contains(QStringLiteral("北")) || h == QLatin1String("N") || h.startsWith(QLatin1String("NORTH")))
        return 'N';
    return 0;
}

// Rows of cells into positions; a first row that is not numbers is
// headings. `x` and `y` are the columns of the two coordinates.
PositionTable positionsFrom(const std::vector<std::pair<int, QStringList>> &lines,
                            std::optional<PositionAxes> asked, int xColumn = 1, int yColumn = 2)
{
    PositionTable table;
    table.axes = asked.value_or(PositionAxes::NorthEast);
    bool first = true;
    for (const auto &[line, cells] : lines) {
        const bool blank = std::all_of(cells.begin(), cells.end(),
                                       [](const QString &c) { return c.trimmed().isEmpty(); });
        if (blank)
            continue;
        const auto x = cells.size() > xColumn ? coordinate(cells[xColumn]) : std::nullopt;
        const auto y = cells.size() > yColumn ? coordinate(cells[yColumn]) : std::nullopt;
        const QString name = cells.value(0).trimmed();
        if (first && (!x || !y)) {
            first = false;
            // Headings: they may name the axes.
            const char a = axisOf(cells.value(xColumn)), b = axisOf(cells.value(yColumn));
            if (!asked && a == 'E' && b == 'N')
                table.axes = PositionAxes::EastNorth;
            continue;
        }
        first = false;
        if (name.isEmpty() || !x || !y) {
            table.rejected << QStringLiteral("第 %1 行").arg(line);
            continue;
        }
        table.rows.push_back({line, name,
                              table.axes == PositionAxes::NorthEast ? Position{*y, *x} : Position{*x, *y}});
    }
    table.axesNote = table.axes == PositionAxes::NorthEast ? QStringLiteral("按测量坐标读入：X 为北坐标，Y 为东坐标")
                                                           : QStringLiteral("按东、北坐标读入");
    return table;
}

} // namespace

// The fields of a CSV line: separated by `separator`, a field in double
// quotes may hold it, and "" in quotes is one quote.
QStringList csvFields(const QString &line, QChar separator)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"'))
                field += c, ++i;
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"') && field.trimmed().isEmpty()) {
            quoted = true;
            field.clear();
        } else if (c == separator) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

// The lines of a text, numbered from 1, each as its CSV fields: split at
// `separator`, or for none given at a tab where the line has one, else a comma.
std::vector<std::pair<int, QStringList>> csvLines(const QString &text, std::optional<QChar> separator = {})
{
    std::vector<std::pair<int, QStringList>> lines;
    int number = 0;
    for (QString line : text.split(QLatin1Char('\n'))) {
        ++number;
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QChar by = separator ? *separator : line.contains(QLatin1Char('\t')) ? QLatin1Char('\t') : QLatin1Char(',');
        lines.emplace_back(number, csvFields(line, by));
    }
    return lines;
}

PositionTable parsePositionText(const QString &text, std::optional<PositionAxes> asked)
{
    return positionsFrom(csvLines(text), asked);
}

Result<PositionTable> readPositionTable(const QString &path, std::optional<PositionAxes> asked)
{
    auto file = openInputFile(path, qint64(64) << 20);
    if (!file)
        return file.failure();
    const QByteArray bytes = (*file)->readAll();
    (*file)->close();
    if (bytes.startsWith("PK")) {
        XlsxWorkbook workbook;
        if (auto opened = workbook.open(path); !opened)
            return opened.failure();
        const QStringList sheets = workbook.sheetNames();
        if (sheets.isEmpty())
            return fail(QStringLiteral("工作簿 %1 中没有工作表").arg(QDir::toNativeSeparators(path)));
        const auto sheet = workbook.sheet(sheets.front());
        if (!sheet)
            return sheet.failure();
        std::vector<std::pair<int, QStringList>> lines;
        for (int r = 1; r <= (*sheet)->lastRow(); ++r) {
            QStringList cells;
            for (int c = 1; c <= 3; ++c)
                cells << (*sheet)->value(r, c).text;
            lines.emplace_back(r, cells);
        }
        return positionsFrom(lines, asked);
    }
    if (bytes.startsWith("\xD0\xCF\x11\xE0"))
        return fail(QStringLiteral("%1 是 .xls 工作簿：请另存为 .xlsx 或 CSV 再读入坐标")
                        .arg(QDir::toNativeSeparators(path)));
    // UTF-8, else GBK (GB18030) as Chinese Excel and CASS save it.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        QStringDecoder gbk("GB18030", QStringConverter::Flag::Stateless);
        text = gbk.isValid() ? gbk.decode(bytes) : QString();
        if (!gbk.isValid() || gbk.hasError())
            return fail(QStringLiteral("%1 既不是 UTF-8 也不是 GBK 编码的文本，无法读入坐标")
                            .arg(QDir::toNativeSeparators(path)));
    }
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    if (path.endsWith(QLatin1String(".dat"), Qt::CaseInsensitive)) {
        // CASS: name, code, east, north, height; the east before the north.
        PositionTable table =
            positionsFrom(csvLines(text, QLatin1Char(',')), asked.value_or(PositionAxes::EastNorth), 2, 3);
        if (!asked)
            table.axesNote = QStringLiteral("按 CASS 坐标文件读入：点名、编码、东坐标、北坐标、高程");
        return table;
    }
    return parsePositionText(text, asked);
}

Result<PositionSummary> placePoints(ProjectDatabase &project, const std::vector<PositionRow> &rows,
                                    const std::optional<PlanDrawingFile> &plan, PositionSummary summary)
{
    const auto points = project.points();
    if (!points)
        return points.failure();
    std::map<QString, std::vector<const Point *>> byName;
    for (const Point &p : *points)
        if (!p.name.trimmed().isEmpty())
            byName[positionKey(p.name)].push_back(&p);
    std::map<QString, int> given;
    for (const PositionRow &row : rows)
        ++given[positionKey(row.name)];

    std::vector<std::pair<int, std::optional<Position>>> writes;
    std::set<QString> told;
    for (const PositionRow &row : rows) {
        const QString key = positionKey(row.name);
        const auto found = byName.find(key);
        if (found == byName.end()) {
            if (told.insert(key).second)
                summary.unknown << row.name.trimmed();
            continue;
        }
        if (given[key] > 1 || found->second.size() > 1) {
            if (told.insert(key).second)
                summary.twice << row.name.trimmed();
            continue;
        }
        const Point &point = *found->second.front();
        if (point.position && *point.position == row.at) {
            ++summary.unchanged;
            continue;
        }
        writes.emplace_back(point.cjdNo, row.at);
    }
    std::optional<PlanDrawingFile> kept = plan;
    if (kept && kept->data.size() > maxPlanDrawingBytes) {
        summary.planRefused = QStringLiteral("平面图超过 %1 MB，未存入工程").arg(maxPlanDrawingBytes >> 20);
        kept.reset();
    }
    const Result<void> written = project.inTransaction([&]() -> Result<void> {
        if (!writes.empty())
            if (auto done = project.setPositions(writes); !done)
                return done;
        if (kept)
            return project.setPlanDrawing(*kept);
        return success();
    });
    if (!written)
        return written.failure();
    summary.set = int(writes.size());
    if (kept)
        summary.plan = kept->name;
    return summary;
}

QString shownName(const QString &name)
{
    // A name from a file may hold anything: control characters (a terminal's
    // escape sequences) are shown as \xNN, and a name is cut at 40 characters.
    QString shown;
    for (const QChar c : name) {
        if (shown.size() >= 40) {
            shown += QStringLiteral("…");
            break;
        }
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString positionSummaryText(const QString &file, const PositionSummary &s)
{
    const auto list = [](const QStringList &names) {
        QStringList shown;
        for (const QString &name : names.mid(0, 20))
            shown << shownName(name);
        return names.size() > 20 ? shown.join(QStringLiteral("、")) + QStringLiteral(" 等 %1 个").arg(names.size())
                                 : shown.join(QStringLiteral("、"));
    };
    QStringList lines;
    lines << QStringLiteral("从 %1 设置了 %2 个测点的坐标，%3 个不变。")
                 .arg(QDir::toNativeSeparators(file))
                 .arg(s.set)
                 .arg(s.unchanged);
    if (!s.unknown.isEmpty())
        lines << QStringLiteral("工程中没有的点名：%1").arg(list(s.unknown));
    if (!s.twice.isEmpty())
        lines << QStringLiteral("出现两次的点名（未设置）：%1").arg(list(s.twice));
    if (!s.missing.isEmpty())
        lines << QStringLiteral("图中找不到的测点：%1").arg(list(s.missing));
    if (!s.rejected.isEmpty())
        lines << QStringLiteral("不是“点名, X, Y”的行：%1").arg(list(s.rejected));
    if (!s.unit.isEmpty())
        lines << s.unit;
    if (!s.axes.isEmpty())
        lines << s.axes;
    if (!s.notDrawn.empty()) {
        QStringList kinds;
        for (const auto &[kind, count] : s.notDrawn)
            kinds << QStringLiteral("%1 个 %2").arg(count).arg(kind);
        lines << QStringLiteral("未绘制：%1").arg(kinds.join(QStringLiteral("，")));
    }
    if (!s.plan.isEmpty())
        lines << QStringLiteral("平面图 %1 已存入工程。").arg(s.plan);
    if (!s.planRefused.isEmpty())
        lines << s.planRefused;
    return lines.join(QLatin1Char('\n'));
}
