#include "survey/pointpositions.h"

#include "base/inputfile.h"
#include "domain/buildingdeformation.h"
#include "domain/keyrules.h"
#include "xlsx/workbook.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
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

// What a column's numbers say of their axis on China's national grids
// (Gauss-Krüger, CGCS2000, Xi'an 80, Beijing 54): a northing has 7 digits
// (about 1,900,000 to 6,000,000 m), an easting 6 (about 100,000 to
// 900,000 m, 500,000 at the central meridian), or 8 with the zone number in
// front (13 to 45 for 3° and 6° zones). 'N', 'E', or 0 when the numbers do
// not decide it (a local site grid).
char gridAxisOf(const std::vector<double> &values)
{
    if (values.empty())
        return 0;
    const auto all = [&](auto test) { return std::all_of(values.begin(), values.end(), test); };
    const auto northing = [](double v) { return v >= 1'900'000 && v <= 6'000'000; };
    const auto easting = [](double v) {
        if (v >= 100'000 && v <= 900'000)
            return true;
        const double zone = std::floor(v / 1'000'000), within = v - zone * 1'000'000;
        return zone >= 13 && zone <= 45 && within >= 100'000 && within <= 900'000;
    };
    if (all(northing))
        return 'N';
    if (all(easting))
        return 'E';
    return 0;
}

QString digitsWords(const std::vector<double> &values)
{
    const int digits = int(QString::number(std::floor(std::fabs(values.front())), 'f', 0).size());
    return QStringLiteral("%1 位数").arg(digits);
}

// Rows of cells into positions; a first row that is not numbers is
// headings. `x` and `y` are the columns of the two coordinates. Which is
// east is what the user asked; else what the numbers show on a national
// grid (said, and followed over headings that say otherwise); else what the
// headings name; else `fallback`, said with `fallbackNote`.
PositionTable positionsFrom(const std::vector<std::pair<int, QStringList>> &lines,
                            std::optional<PositionAxes> asked, int xColumn = 1, int yColumn = 2,
                            PositionAxes fallback = PositionAxes::NorthEast, const QString &fallbackNote = QString())
{
    PositionTable table;
    bool first = true;
    std::optional<PositionAxes> named;
    QString headings;
    struct Raw
    {
        int line;
        QString name;
        double a, b;
    };
    std::vector<Raw> raw;
    std::vector<double> as, bs;
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
            if (a == 'E' && b == 'N')
                named = PositionAxes::EastNorth;
            else if (a == 'N' && b == 'E')
                named = PositionAxes::NorthEast;
            headings = QStringLiteral("“%1”“%2”").arg(cells.value(xColumn).trimmed().left(12),
                                                     cells.value(yColumn).trimmed().left(12));
            continue;
        }
        first = false;
        if (name.isEmpty() || !x || !y) {
            table.rejected << QStringLiteral("第 %1 行").arg(line);
            continue;
        }
        raw.push_back({line, name, *x, *y});
        as.push_back(*x);
        bs.push_back(*y);
    }
    const int aColumn = xColumn + 1, bColumn = yColumn + 1; // as a spreadsheet counts them
    const char aAxis = gridAxisOf(as), bAxis = gridAxisOf(bs);
    std::optional<PositionAxes> byNumbers;
    if (aAxis == 'E' && bAxis == 'N')
        byNumbers = PositionAxes::EastNorth;
    else if (aAxis == 'N' && bAxis == 'E')
        byNumbers = PositionAxes::NorthEast;
    const auto orderWords = [&](PositionAxes axes) {
        return axes == PositionAxes::EastNorth
                   ? QStringLiteral("第 %1 列为东坐标、第 %2 列为北坐标").arg(aColumn).arg(bColumn)
                   : QStringLiteral("第 %1 列为北坐标、第 %2 列为东坐标").arg(aColumn).arg(bColumn);
    };
    const auto readAs = [](PositionAxes axes) {
        return axes == PositionAxes::EastNorth ? QStringLiteral("按东、北坐标读入")
                                               : QStringLiteral("按测量坐标读入：X 为北坐标，Y 为东坐标");
    };
    if (asked) {
        table.axes = *asked;
        table.axesNote = QStringLiteral("%1（%2）").arg(readAs(*asked), orderWords(*asked));
        if (byNumbers && *byNumbers != *asked)
            table.axesNote += QStringLiteral("（注意：数字看来相反，第 %1 列为%2，第 %3 列为%4）")
                                  .arg(aColumn)
                                  .arg(digitsWords(as))
                                  .arg(bColumn)
                                  .arg(digitsWords(bs));
    } else if (byNumbers) {
        table.axes = *byNumbers;
        table.axesNote = readAs(*byNumbers) + QStringLiteral("，按数字判定：%1（国家坐标系中北坐标为 7 位数，东坐标为 6 位数或带带号的 8 "
                                        "位数；第 %2 列为%3，第 %4 列为%5）")
                             .arg(orderWords(*byNumbers))
                             .arg(aColumn)
                             .arg(digitsWords(as))
                             .arg(bColumn)
                             .arg(digitsWords(bs));
        const PositionAxes headed = named.value_or(fallback);
        if (!headings.isEmpty() && headed != *byNumbers) {
            table.axesNote += QStringLiteral("；表头%1所示与数字不符，已按数字读入").arg(headings);
            table.axesDoubtful = true;
        }
    } else if (named) {
        table.axes = *named;
        table.axesNote = QStringLiteral("%1（表头%2：%3）").arg(readAs(*named), headings, orderWords(*named));
    } else {
        table.axes = fallback;
        table.axesDoubtful = !raw.empty();
        table.axesNote = (fallbackNote.isEmpty()
                              ? QStringLiteral("按测量坐标读入：X 为北坐标，Y 为东坐标")
                              : fallbackNote)
                         + QStringLiteral("（表头和数字都不能判定东、北，如为施工坐标系请核对；读反时用“交换东、北”"
                                          "或 coords --axes en）");
    }
    for (const Raw &r : raw)
        table.rows.push_back({r.line, r.name,
                              table.axes == PositionAxes::NorthEast ? Position{r.b, r.a} : Position{r.a, r.b}});
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
        return positionsFrom(csvLines(text, QLatin1Char(',')), asked, 2, 3, PositionAxes::EastNorth,
                             QStringLiteral("按 CASS 坐标文件读入：点名、编码、东坐标、北坐标、高程"));
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
    // Positions from two coordinate systems: said after every change.
    if (const auto now = project.points())
        summary.far = farPointsText(farPlacedPoints(*now));
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
    if (!s.far.isEmpty())
        lines << s.far;
    return lines.join(QLatin1Char('\n'));
}
