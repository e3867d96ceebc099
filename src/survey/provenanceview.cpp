#include "survey/provenanceview.h"

#include <QDateTime>


namespace {

QString epochWords(const Epoch &e)
{
    return QStringLiteral("第 %1 次 %2 %3").arg(e.cjNo).arg(e.date, e.name).trimmed();
}

QString valueText(HistoryRow::Kind kind, const QVariant &value)
{
    if (value.isNull())
        return QStringLiteral("—");
    if (kind == HistoryRow::Elevation || kind == HistoryRow::ElevationConfirmed) {
        bool ok = false;
        const double metres = value.toDouble(&ok);
        if (ok)
            return QString::number(metres, 'f', 5) + QStringLiteral(" m");
    }
    if (kind == HistoryRow::EpochsRenumbered)
        return QStringLiteral("第 %1 次起").arg(value.toString());
    if (kind == HistoryRow::PointPosition) {
        const QStringList parts = value.toString().split(QLatin1Char(','));
        if (parts.size() == 2)
            return QStringLiteral("东 %1 北 %2").arg(parts[0].toDouble(), 0, 'f', 3).arg(parts[1].toDouble(), 0, 'f', 3);
    }
    return value.toString();
}

// What a project's history needs to be read: its epochs, points and files by key.
struct Names
{
    std::map<int, QString> epochs, points;
    std::map<qint64, StoredSource> sources;
};

Result<Names> namesOf(ProjectDatabase &project)
{
    Names names;
    const auto epochs = project.epochs();
    if (!epochs)
        return epochs.failure();
    for (const Epoch &e : *epochs)
        names.epochs[e.cjNo] = epochWords(e);
    const auto points = project.points();
    if (!points)
        return points.failure();
    for (const Point &p : *points)
        names.points[p.cjdNo] = p.name;
    const auto sources = project.sources();
    if (!sources)
        return sources.failure();
    for (const StoredSource &s : *sources)
        names.sources[s.id] = s;
    return names;
}

HistoryLine lineOf(const HistoryRow &row, const Names &names)
{
    HistoryLine line;
    line.row = row;
    line.at = localTime(row.at.isEmpty() ? row.entry.at : row.at);
    line.who = row.entry.who.isEmpty() ? QStringLiteral("未记录") : row.entry.who;
    const bool deletion = row.newValue.isNull() && !row.oldValue.isNull();
    line.how = howWords(row.entry.how);
    if (deletion)
        line.how += QStringLiteral("（删除）");
    line.how += carriedWords(row.entry);
    line.what = kindWords(row.kind);
    if (row.cjNo) {
        const auto e = names.epochs.find(*row.cjNo);
        line.epoch = e != names.epochs.end() ? e->second : QStringLiteral("第 %1 次").arg(*row.cjNo);
    }
    if (row.cjdNo) {
        const auto p = names.points.find(*row.cjdNo);
        line.point = p != names.points.end() ? p->second : QStringLiteral("%1 号点").arg(*row.cjdNo);
    }
    if (!row.label.isEmpty()) {
        // Deleted since: the label names what it belonged to.
        if (!row.cjNo && row.kind != HistoryRow::PointName && row.kind != HistoryRow::PointPosition
            && row.kind != HistoryRow::PointDeleted)
            line.epoch = QStringLiteral("已删除：") + row.label;
        else if (!row.cjdNo)
            line.point = QStringLiteral("已删除：") + row.label;
    }
    line.oldText = valueText(row.kind, row.oldValue);
    line.newText = valueText(row.kind, row.newValue);
    if (row.entry.sourceId)
        if (const auto s = names.sources.find(*row.entry.sourceId); s != names.sources.end())
            line.source = s->second.name;
    return line;
}

} // namespace

QString carriedWords(const WriteEntry &entry)
{
    if (entry.carriedBy.isEmpty())
        return QString();
    return QStringLiteral("（由文件带入，推送者 %1）").arg(entry.carriedBy);
}

QString localTime(const QString &utc)
{
    QDateTime time = QDateTime::fromString(utc, Qt::ISODate);
    if (!time.isValid())
        return utc;
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

Result<std::vector<HistoryLine>> historyLines(ProjectDatabase &project, std::optional<int> cjNo,
                                              std::optional<int> cjdNo)
{
    const auto names = namesOf(project);
    if (!names)
        return names.failure();
    const auto rows = project.history(cjNo, cjdNo);
    if (!rows)
        return rows.failure();
    std::vector<HistoryLine> lines;
    lines.reserve(rows->size());
    for (const HistoryRow &row : *rows)
        lines.push_back(lineOf(row, *names));
    return lines;
}

Result<std::optional<QString>> originText(ProjectDatabase &project, int cjNo, int cjdNo)
{
    const auto origin = project.origin(cjNo, cjdNo);
    if (!origin)
        return origin.failure();
    if (!*origin)
        return std::optional<QString>();
    const ElevationOrigin &o = **origin;
    QString text = howWords(o.entry.how);
    if (o.entry.sourceId) {
        const auto sources = project.sources();
        if (!sources)
            return sources.failure();
        for (const StoredSource &s : *sources)
            if (s.id == *o.entry.sourceId)
                text += QStringLiteral("：%1（SHA-256 %2）").arg(s.name, s.sha256.left(16));
    }
    if (!o.entry.sheet.isEmpty())
        text += QStringLiteral("，工作表 %1").arg(o.entry.sheet);
    if (o.detail.line > 0)
        text += o.entry.how == QLatin1String("import") ? QStringLiteral("，第 %1 行").arg(o.detail.line)
                                                         : QStringLiteral("，文件第 %1 行").arg(o.detail.line);
    if (!o.detail.station.isEmpty())
        text += QStringLiteral("，第 %1 站").arg(o.detail.station);
    if (o.detail.adjusted)
        text += QStringLiteral("，平差高程 %1 m").arg(*o.detail.adjusted, 0, 'f', 5);
    if (o.detail.sigmaMm)
        text += QStringLiteral("，中误差 %1 mm").arg(*o.detail.sigmaMm, 0, 'f', 2);
    text += QStringLiteral("；%1，%2").arg(o.entry.who.isEmpty() ? QStringLiteral("未记录") : o.entry.who,
                                          localTime(o.entry.at));
    text += carriedWords(o.entry);
    return std::optional<QString>(text);
}

Result<std::vector<EpochRecords>> epochRecords(ProjectDatabase &project)
{
    auto names = namesOf(project);
    if (!names)
        return names.failure();
    // The report counts its epochs from 1, as its overview does.
    const auto reportWords = [](const Epoch &e) {
        return QStringLiteral("第 %1 次 %2 %3").arg(e.cjNo + 1).arg(e.date, e.name).trimmed();
    };
    const auto epochs = project.epochs();
    if (!epochs)
        return epochs.failure();
    const auto rows = project.history({}, {}, true);
    if (!rows)
        return rows.failure();
    const auto used = project.sourcesOfEpochs();
    if (!used)
        return used.failure();
    std::vector<EpochRecords> records;
    std::map<int, size_t> indexOf;
    for (const Epoch &e : *epochs) {
        indexOf[e.cjNo] = records.size();
        names->epochs[e.cjNo] = reportWords(e);
        records.push_back({e.cjNo, reportWords(e), {}, {}});
    }
    for (const auto &[cjNo, id] : *used)
        if (const auto epoch = indexOf.find(cjNo); epoch != indexOf.end())
            if (const auto s = names->sources.find(id); s != names->sources.end())
                records[epoch->second].sources.push_back(s->second);
    // An elevation changed after its first entry: a row that had a value before.
    for (const HistoryRow &row : *rows)
        if (const auto epoch = row.cjNo ? indexOf.find(*row.cjNo) : indexOf.end(); epoch != indexOf.end())
            records[epoch->second].changed.push_back(lineOf(row, *names));
    return records;
}
