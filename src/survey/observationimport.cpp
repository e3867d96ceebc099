#include "survey/observationimport.h"

#include "project/projectdb.h"
#include "domain/keyrules.h"
#include "domain/projectsnapshot.h"
#include "xlsx/workbook.h"
#include "domain/settlement.h"
#include "domain/settlementrules.h"
#include "base/inputfile.h"
#include "base/textnumber.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace {

// A number read from a cell, as text: whole numbers without decimals.
QString numberText(double value)
{
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return QString::fromLatin1(text, int(result.ptr - text));
}

// A cell's text that is a finite number written out whole ("nan", "inf" and
// "1e999" are not).
bool finiteNumber(const QString &text)
{
    const QByteArray latin = text.trimmed().toLatin1();
    double value = 0;
    const auto parsed = std::from_chars(latin.constData(), latin.constData() + latin.size(), value);
    return parsed.ec == std::errc() && parsed.ptr == latin.constData() + latin.size()
           && std::isfinite(value);
}

QString xlsReaderPath()
{
    const QString beside =
        QCoreApplication::applicationDirPath() + QStringLiteral("/sedimetra-xlsreader");
    if (QFileInfo::exists(beside))
        return beside;
    return qEnvironmentVariable("SEDIMETRA_XLSREADER", beside);
}

// The .xls rows, read by sedimetra-xlsreader in a process of its own: a
// damaged file can make it crash or hang, never the program.
Result<ObservationRows> readXls(const QString &path)
{
    const auto unreadable = [&](const QString &why) -> Result<ObservationRows> {
        return fail(QStringLiteral("无法读取工作簿：%1（%2）").arg(QDir::toNativeSeparators(path), why));
    };
    QProcess reader;
    reader.start(xlsReaderPath(), {path});
    if (!reader.waitForStarted(10000))
        return unreadable(QStringLiteral("读取程序 %1 无法启动").arg(xlsReaderPath()));
    QByteArray output;
    QElapsedTimer clock;
    clock.start();
    // Read as it comes, so that the pipe never fills; a reader that takes
    // too long or prints too much is stopped.
    while (reader.state() != QProcess::NotRunning) {
        reader.waitForReadyRead(200);
        output += reader.readAllStandardOutput();
        if (clock.elapsed() > 30000 || output.size() > (64 << 20)) {
            reader.kill();
            reader.waitForFinished(5000);
            return unreadable(QStringLiteral("读取超时或数据过多"));
        }
    }
    output += reader.readAllStandardOutput();
    const QString reason = QString::fromUtf8(reader.readAllStandardError()).trimmed();
    if (reader.exitStatus() != QProcess::NormalExit)
        return unreadable(QStringLiteral("工作簿已损坏，读取程序异常结束"));
    switch (reader.exitCode()) {
    case 0:
        break;
    case 4:
        return ObservationRows{ImportSource::Empty, {}, {}};
    case 3:
        return ObservationRows{ImportSource::NotFound, {},
                               QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(path), reason)};
    default:
        return unreadable(QStringLiteral("工作簿已损坏，读取程序异常结束"));
    }
    ObservationRows read;
    read.provenance.sheet = QStringLiteral("Sheet1"); // as the reader matched it
    for (const QByteArray &line : output.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() != 4)
            continue;
        ImportRow row;
        row.row = fields[0].toInt();
        row.name = QString::fromUtf8(QByteArray::fromBase64(fields[1])).trimmed();
        row.elevation = QString::fromUtf8(QByteArray::fromBase64(fields[2])).trimmed();
        // 1: a finite number, 2: a number cell of no finite value.
        row.numeric = fields[3] == "1" || fields[3] == "2" || isNumeric(row.elevation);
        row.finite = fields[3] != "2";
        read.rows.push_back(row);
    }
    read.source = read.rows.empty() ? ImportSource::Empty : ImportSource::Read;
    return read;
}

Result<ObservationRows> readXlsx(const QString &path)
{
    XlsxWorkbook workbook;
    if (auto opened = workbook.open(path); !opened)
        return ObservationRows{ImportSource::NotFound, {}, opened.error()};
    QString name;
    for (const QString &sheet : workbook.sheetNames())
        if (sheet.compare(QLatin1String("Sheet1"), Qt::CaseInsensitive) == 0) {
            name = sheet;
            break;
        }
    const auto found = name.isEmpty() ? Result<XlsxSheet *>(fail(QString())) : workbook.sheet(name);
    if (!found)
        return ObservationRows{
            ImportSource::NotFound, {},
            QStringLiteral("工作簿 %1 中没有工作表 Sheet1").arg(QDir::toNativeSeparators(path))};
    XlsxSheet *sheet = *found;
    ObservationRows read;
    read.provenance.sheet = name;
    const int last = sheet->lastRow();
    for (int r = 2; r <= last; ++r) {
        ImportRow row;
        row.row = r;
        const XlsxSheet::Value name = sheet->value(r, 1);
        row.name =
            (name.kind == XlsxSheet::Value::Number ? numberText(name.text.toDouble()) : name.text)
                .trimmed();
        const XlsxSheet::Value elevation = sheet->value(r, 2);
        row.elevation = elevation.text.trimmed();
        row.numeric = elevation.kind == XlsxSheet::Value::Number
                      || (elevation.kind == XlsxSheet::Value::Text && isNumeric(row.elevation));
        row.finite = elevation.kind != XlsxSheet::Value::Number || finiteNumber(row.elevation);
        read.rows.push_back(row);
    }
    read.source = read.rows.empty() ? ImportSource::Empty : ImportSource::Read;
    return read;
}

} // namespace

Result<ObservationRows> readObservationRows(const QString &path)
{
    // Only a regular file: a FIFO would block the reading, a device never end.
    auto file = openInputFile(path, qint64(1) << 30);
    if (!file)
        return ObservationRows{ImportSource::NotFound, {}, file.error()};
    // The content decides, not the name: a zip is an .xlsx, an OLE file an .xls.
    const QByteArray magic = (*file)->read(8);
    (*file)->close();
    // The workbook as it was read is kept with the elevations it brings.
    const auto withSource = [&](Result<ObservationRows> read) -> Result<ObservationRows> {
        if (!read || read->source != ImportSource::Read)
            return read;
        auto source = readSourceFile(path);
        if (!source)
            return source.failure();
        read->provenance.how = WriteHow::Import;
        read->provenance.sources = {*source};
        return read;
    };
    if (magic.startsWith("PK"))
        return withSource(readXlsx(path));
    if (magic.startsWith("\xD0\xCF\x11\xE0"))
        return withSource(readXls(path));
    return ObservationRows{ImportSource::NotFound, {},
                           QStringLiteral("%1 不是 Excel 工作簿").arg(QDir::toNativeSeparators(path))};
}

namespace {

// Each row against the point's previous elevation, or, for a point with
// none, against the median of the others in the epoch: a slip is marked
// and listed, never left out.
void markImplausible(ImportPlan &plan, const ProjectSnapshot &snapshot,
                     const std::unordered_map<int, double> &inEpoch, const std::vector<const ImportRow *> &rowOf,
                     const QString &unit, const PlausibilityLimits &limits)
{
    std::vector<double> epochValues;
    for (const auto &[cjdNo, h] : inEpoch)
        epochValues.push_back(h);
    plan.implausible.assign(plan.writes.size(), false);
    for (size_t i = 0; i < plan.writes.size(); ++i) {
        const auto [cjdNo, metres] = plan.writes[i];
        const std::optional<double> before = PreviousElevation(snapshot, plan.epoch, cjdNo);
        const std::optional<double> reference =
            before ? before : MedianOfOthers(epochValues, inEpoch.at(cjdNo));
        if (!ImplausibleElevation(reference, metres, before ? limits.change : limits.firstDeviation))
            continue;
        plan.implausible[i] = true;
        plan.result.implausible << QStringLiteral("第 %1 行 %2：%3%4 → %5")
                                  .arg(rowOf[i]->row)
                                  .arg(rowOf[i]->name,
                                       before ? QString() : QStringLiteral("本次中数 "),
                                       FormatElevation(*reference, unit), FormatElevation(metres, unit));
    }
}

} // namespace

Result<ImportPlan> planImport(ProjectDatabase &project, int epoch,
                              const std::vector<ImportRow> &rows, const QString &unit,
                              const PlausibilityLimits &limits, const ImportProvenance &from)
{
    ImportPlan plan;
    plan.epoch = epoch;
    plan.provenance = from;
    ImportResult &result = plan.result;
    const auto points = project.points();
    if (!points)
        return points.failure();
    // The first point of a name, as the lookup by name finds it, and how
    // many points have each name.
    std::unordered_map<QString, const Point *> pointOf;
    std::unordered_map<QString, int> pointsNamed;
    for (const Point &point : *points) {
        const QString key = pointNameKey(point.name);
        pointOf.emplace(key, &point);
        ++pointsNamed[key];
    }
    // The project as the grid sees it, for each point's previous elevation;
    // the records this epoch holds, and what it will hold, by point.
    const auto epochs = project.epochs();
    if (!epochs)
        return epochs.failure();
    const auto elevations = project.allElevations();
    if (!elevations)
        return elevations.failure();
    const auto snapshot = ProjectSnapshot::fromRecords(*epochs, *points, *elevations, {});
    if (!snapshot)
        return snapshot.failure();
    std::unordered_map<int, bool> held;
    std::unordered_map<int, double> inEpoch;
    for (const Elevation &e : *elevations)
        if (e.cjNo == epoch) {
            held[e.cjdNo] = false;
            if (isMeasured(e.pointH) && usableElevation(e.pointH))
                inEpoch[e.cjdNo] = e.pointH;
        }
    plan.held = int(held.size());
    for (const auto &[cjdNo, replaced] : held)
        plan.heldPoints.insert(cjdNo);
    std::vector<const ImportRow *> rowOf;
    std::unordered_set<QString> listedUnmatched, listedAmbiguous, listedMatchedAs;
    result.rows = int(rows.size());

    for (const ImportRow &row : rows) {
        if (row.name.isEmpty() || row.elevation.isEmpty() || !row.numeric) {
            ++result.skipped;
            continue;
        }
        const QString key = pointNameKey(row.name);
        const auto found = pointOf.find(key);
        // Each name listed once, found through a set: a sheet of a million
        // unknown names is read in linear time.
        if (found == pointOf.end()) {
            if (listedUnmatched.insert(row.name).second)
                result.unmatched << row.name;
            continue;
        }
        if (pointsNamed[key] > 1 && listedAmbiguous.insert(row.name).second)
            result.ambiguous << row.name;
        if (const QString stored = found->second->name.trimmed();
            stored != row.name && listedMatchedAs.insert(row.name).second)
            result.matchedAs << QStringLiteral("%1 → %2").arg(row.name, stored);
        // "1e999" and the like are no elevation: counted, never stored.
        const double metres = ParseElevation(row.elevation, unit);
        if (!row.finite || !usableElevation(metres)) {
            ++result.invalid;
            continue;
        }
        const int cjdNo = found->second->cjdNo;
        if (const auto replaced = held.find(cjdNo); replaced != held.end() && !replaced->second) {
            replaced->second = true;
            ++result.overwritten;
        }
        plan.writes.emplace_back(cjdNo, metres);
        ElevationDetail detail = row.detail;
        if (detail.line == 0 && from.how == WriteHow::Import)
            detail.line = row.row; // a workbook's row
        plan.details.push_back(detail);
        rowOf.push_back(&row);
        inEpoch[cjdNo] = metres;
    }
    markImplausible(plan, *snapshot, inEpoch, rowOf, unit, limits);
    return plan;
}

void skipImplausible(ImportPlan &plan)
{
    std::vector<std::pair<int, double>> kept;
    std::vector<ElevationDetail> keptDetails;
    for (size_t i = 0; i < plan.writes.size(); ++i)
        if (!plan.implausible[i]) {
            kept.push_back(plan.writes[i]);
            keptDetails.push_back(plan.details[i]);
        }
    plan.result.implausibleSkipped = int(plan.writes.size() - kept.size());
    plan.writes = std::move(kept);
    plan.details = std::move(keptDetails);
    std::set<int> replaced;
    for (const auto &[cjdNo, metres] : plan.writes)
        if (plan.heldPoints.count(cjdNo))
            replaced.insert(cjdNo);
    plan.result.overwritten = int(replaced.size());
    plan.implausible.assign(plan.writes.size(), false);
}

Result<ImportResult> writeImport(ProjectDatabase &project, const ImportPlan &plan)
{
    ImportResult result = plan.result;
    // By point number, whatever the sheet's order: two imports of one epoch
    // take the rows' locks in the same order and never deadlock. A later row
    // of a point still comes after an earlier one.
    std::vector<size_t> order(plan.writes.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return plan.writes[a].first < plan.writes[b].first; });
    const ImportProvenance &from = plan.provenance;
    const Result<void> written = project.inTransaction([&]() -> Result<void> {
        // The files first, then each elevation recorded as read from its one.
        std::vector<std::optional<qint64>> kept;
        for (const SourceFile &source : from.sources) {
            const auto id = project.keepSource(source);
            if (!id)
                return id.failure();
            kept.push_back(*id);
        }
        std::optional<ProjectDatabase::Writing> writing;
        int writingSource = -1;
        for (const size_t i : order) {
            const auto [cjdNo, metres] = plan.writes[i];
            const ElevationDetail detail = i < plan.details.size() ? plan.details[i] : ElevationDetail();
            const int source = detail.sourceIndex < int(kept.size()) ? detail.sourceIndex : -1;
            if (!writing || source != writingSource) {
                writing.reset();
                writing.emplace(project.writingAs(from.how, source >= 0 ? kept[size_t(source)] : std::nullopt,
                                                  from.sheet));
                writingSource = source;
            }
            if (auto stored = project.setElevation(plan.epoch, cjdNo, metres, detail); !stored)
                return stored;
        }
        if (plan.implausibleConfirmed)
            for (size_t i = 0; i < plan.writes.size() && i < plan.implausible.size(); ++i)
                if (plan.implausible[i])
                    if (auto confirmed = project.confirmElevation(plan.epoch, plan.writes[i].first); !confirmed)
                        return confirmed;
        return success();
    });
    if (!written)
        return written.failure();
    result.imported = int(plan.writes.size());
    return result;
}

Result<ImportResult> importObservations(ProjectDatabase &project, int epoch,
                                        const std::vector<ImportRow> &rows, const QString &unit,
                                        const PlausibilityLimits &limits, const ImportProvenance &from)
{
    auto plan = planImport(project, epoch, rows, unit, limits, from);
    if (!plan)
        return plan.failure();
    return writeImport(project, *plan);
}

QString nothingImportedReason(const ImportResult &result)
{
    if (result.imported > 0)
        return QString();
    if (result.rows == 0)
        return QStringLiteral("工作簿中没有数据行");
    if (result.implausibleSkipped > 0 && result.implausibleSkipped + result.skipped + result.invalid
                                             + int(result.unmatched.size()) >= result.rows)
        return QStringLiteral("%1 行的高程变化异常，均已跳过").arg(result.implausibleSkipped);
    if (result.skipped + result.invalid >= result.rows) {
        QStringList why;
        if (result.skipped > 0)
            why << QStringLiteral("%1 行没有点名或 B 列的高程不是数字（A 列应为点名、B 列为高程，"
                                  "有“序号”等列时请先删去）")
                       .arg(result.skipped);
        if (result.invalid > 0)
            why << QStringLiteral("%1 行的高程不是有限的数").arg(result.invalid);
        return why.join(QStringLiteral("，"));
    }
    if (!result.unmatched.isEmpty())
        return QStringLiteral("%1 行的点名在工程中都找不到（如 %2）：A 列应为点名、B 列为高程，"
                              "有“序号”等列时请先删去")
            .arg(result.rows - result.skipped - result.invalid)
            .arg(result.unmatched.mid(0, 5).join(QStringLiteral("、")));
    return QStringLiteral("%1 行中没有可调入的高程").arg(result.rows);
}

QString importSummary(const QString &file, const ImportResult &result)
{
    constexpr int listedNames = 20;
    QString summary = QStringLiteral("已从 %1 调入 %2 个高程。").arg(file).arg(result.imported);
    if (const QString why = nothingImportedReason(result); !why.isEmpty())
        summary += QStringLiteral("\n没有调入任何高程：%1。").arg(why);
    if (result.skipped > 0)
        summary += QStringLiteral("\n%1 行没有点名或高程不是数字，已跳过。").arg(result.skipped);
    if (result.invalid > 0)
        summary += QStringLiteral("\n%1 行的高程不是有限的数（如 1e999），已跳过。").arg(result.invalid);
    if (!result.ambiguous.isEmpty())
        summary += QStringLiteral("\n以下点名属于多个测点，高程只调入了编号最小的一个：%1")
                       .arg(result.ambiguous.mid(0, listedNames).join(QStringLiteral("、")));
    if (result.overwritten > 0)
        summary += QStringLiteral("\n其中 %1 个替换了本次观测原有的高程。").arg(result.overwritten);
    if (!result.matchedAs.isEmpty()) {
        summary += QStringLiteral("\n以下点名按工程中的写法对上（不分大小写、不计前导零）：%1")
                       .arg(result.matchedAs.mid(0, listedNames).join(QStringLiteral("、")));
        if (result.matchedAs.size() > listedNames)
            summary += QStringLiteral(" 等，共 %1 个").arg(result.matchedAs.size());
    }
    if (!result.implausible.isEmpty()) {
        summary += (result.implausibleSkipped > 0
                        ? QStringLiteral("\n以下行的高程变化异常（超过限值或相差百倍），已跳过：\n%1")
                        : QStringLiteral("\n以下行的高程变化异常（超过限值或相差百倍），已调入，请核对：\n%1"))
                       .arg(result.implausible.mid(0, listedNames).join(QLatin1Char('\n')));
        if (result.implausible.size() > listedNames)
            summary += QStringLiteral("\n等，共 %1 行").arg(result.implausible.size());
    }
    if (!result.unmatched.isEmpty()) {
        const QStringList shown = result.unmatched.mid(0, listedNames);
        summary +=
            QStringLiteral("\n以下点名在工程中找不到：%1").arg(shown.join(QStringLiteral("、")));
        if (result.unmatched.size() > listedNames)
            summary += QStringLiteral(" 等，共 %1 个").arg(result.unmatched.size());
    }
    return summary;
}
