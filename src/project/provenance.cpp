// Where the stored values came from: the kept files, the entries, the
// origins and the history of a project, for files and servers alike.
#include "project/projectdb.h"

#include "base/inputfile.h"
#include "project/queryrows.h"
#include "project/storedialect.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSqlError>

#include <cmath>
#include <map>
#include <set>

#include <pwd.h>
#include <unistd.h>

namespace {

const std::pair<WriteHow, const char *> howKeys[] = {
    {WriteHow::Typed, "typed"}, {WriteHow::Import, "import"}, {WriteHow::Level, "level"},
    {WriteHow::Server, "server"}, {WriteHow::Undo, "undo"}};

const std::pair<HistoryRow::Kind, const char *> kindKeys[] = {
    {HistoryRow::Elevation, "H"},     {HistoryRow::EpochDate, "D"},     {HistoryRow::EpochName, "N"},
    {HistoryRow::EpochLayers, "L"},   {HistoryRow::EpochDeleted, "E"},  {HistoryRow::PointName, "P"},
    {HistoryRow::PointPosition, "XY"}, {HistoryRow::PointDeleted, "T"}, {HistoryRow::EpochsRenumbered, "R"},
    {HistoryRow::OriginChanged, "O"}, {HistoryRow::ElevationConfirmed, "C"}};

// A time as stored: text from a file, a timestamp from a server; both as
// UTC text.
QString timeText(const QVariant &value)
{
    if (value.isNull())
        return QString();
    switch (value.metaType().id()) {
    case QMetaType::QDateTime:
        return value.toDateTime().toUTC().toString(Qt::ISODate);
    case QMetaType::Int:
    case QMetaType::LongLong:
        return QDateTime::fromSecsSinceEpoch(value.toLongLong(), Qt::UTC).toString(Qt::ISODate);
    default:
        return value.toString();
    }
}

std::optional<double> optionalNumber(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (value.isNull() || !ok)
        return std::nullopt;
    return number;
}

QVariant nullOr(const std::optional<double> &value)
{
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Double));
}

// The entry's columns, from `first` on: Id, WrittenAt, Who, How, SourceId,
// Sheet, CarriedBy (ProjectDatabase::entryColumns).
WriteEntry entryFrom(const QSqlQuery &query, int first)
{
    WriteEntry entry;
    entry.id = query.value(first).toLongLong();
    entry.at = timeText(query.value(first + 1));
    entry.who = query.value(first + 2).toString();
    entry.how = query.value(first + 3).toString();
    if (!query.value(first + 4).isNull())
        entry.sourceId = query.value(first + 4).toLongLong();
    entry.sheet = query.value(first + 5).toString();
    entry.carriedBy = query.value(first + 6).toString();
    return entry;
}

// The origin's columns: Line, Station, Adjusted, Sigma, then the entry's.
ElevationOrigin originFrom(const QSqlQuery &query, int first)
{
    ElevationOrigin origin;
    origin.detail.line = query.value(first).toInt();
    origin.detail.station = query.value(first + 1).toString();
    origin.detail.adjusted = optionalNumber(query.value(first + 2));
    origin.detail.sigmaMm = optionalNumber(query.value(first + 3));
    origin.entry = entryFrom(query, first + 4);
    return origin;
}

// A history value as a file keeps it: an elevation as a number (a server
// gives it as text), anything else as text.
QVariant storedValue(HistoryRow::Kind kind, const QVariant &value)
{
    if (value.isNull())
        return QVariant(QMetaType(QMetaType::QString));
    if (kind == HistoryRow::Elevation)
        if (const auto number = optionalNumber(value))
            return *number;
    return value.toString();
}

} // namespace

QString historyHash(const QString &previous, const QVariant &id, const QVariant &entry, const QVariant &written,
                    const QVariant &kind, const QVariant &oldValue, const QVariant &newValue)
{
    QByteArray text;
    const auto field = [&](const QVariant &value) {
        if (value.isNull()) {
            text += "-|";
            return;
        }
        QByteArray bytes;
        if (value.metaType().id() == QMetaType::Double)
            bytes = QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest).toUtf8();
        else
            bytes = value.toString().toUtf8();
        text += QByteArray::number(bytes.size()) + ':' + bytes + '|';
    };
    for (const QVariant &value : {id, entry, written, kind, oldValue, newValue})
        field(value);
    text += previous.toLatin1();
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
}

Result<SourceFile> readSourceFile(const QString &path)
{
    auto file = openInputFile(path, qint64(1) << 40);
    if (!file)
        return file.failure();
    SourceFile source;
    source.name = QFileInfo(path).fileName();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 got = (*file)->read(block.data(), block.size());
        if (got < 0)
            return fail(QStringLiteral("无法读取 %1：%2").arg(QDir::toNativeSeparators(path), (*file)->errorString()));
        if (got == 0)
            break;
        hash.addData(QByteArrayView(block.constData(), got));
        if (source.size + got <= maxSourceBytes)
            source.data.append(block.constData(), got);
        else
            source.data.clear();
        source.size += got;
    }
    if (source.size > maxSourceBytes)
        source.data = QByteArray();
    source.sha256 = QString::fromLatin1(hash.result().toHex());
    return source;
}

QString howKey(WriteHow how)
{
    for (const auto &[value, key] : howKeys)
        if (value == how)
            return QLatin1String(key);
    return QString();
}

QString howWords(const QString &key)
{
    static const std::pair<const char *, const char *> words[] = {
        {"typed", "键入"},         {"import", "工作簿调入"},     {"level", "水准数据调入"},
        {"server", "服务器推送或拉取"}, {"undo", "撤销修改"}, {"sql", "在服务器上直接修改"}};
    for (const auto &[k, w] : words)
        if (key == QLatin1String(k))
            return QString::fromUtf8(w);
    return key.isEmpty() ? QStringLiteral("未记录") : key;
}

QString kindKey(HistoryRow::Kind kind)
{
    for (const auto &[value, key] : kindKeys)
        if (value == kind)
            return QLatin1String(key);
    return QString();
}

std::optional<HistoryRow::Kind> kindOfKey(const QString &key)
{
    for (const auto &[value, k] : kindKeys)
        if (key == QLatin1String(k))
            return value;
    return std::nullopt;
}

QString kindWords(HistoryRow::Kind kind)
{
    switch (kind) {
    case HistoryRow::Elevation: return QStringLiteral("高程");
    case HistoryRow::EpochDate: return QStringLiteral("观测日期");
    case HistoryRow::EpochName: return QStringLiteral("观测名称");
    case HistoryRow::EpochLayers: return QStringLiteral("荷载层数");
    case HistoryRow::EpochDeleted: return QStringLiteral("删除观测");
    case HistoryRow::PointName: return QStringLiteral("点名");
    case HistoryRow::PointPosition: return QStringLiteral("点位");
    case HistoryRow::PointDeleted: return QStringLiteral("删除测点");
    case HistoryRow::EpochsRenumbered: return QStringLiteral("观测编号");
    case HistoryRow::OriginChanged: return QStringLiteral("高程来历");
    case HistoryRow::ElevationConfirmed: return QStringLiteral("高程核对");
    }
    return QString();
}

ProjectDatabase::Writing::Writing(Writing &&other) noexcept
    : m_project(std::exchange(other.m_project, nullptr)), m_before(std::move(other.m_before))
{
}

ProjectDatabase::Writing::~Writing()
{
    if (m_project)
        m_project->m_way = m_before;
}

ProjectDatabase::Writing ProjectDatabase::writingAs(WriteHow how, std::optional<qint64> source,
                                                    const QString &sheet)
{
    Writing scope(this, m_way);
    m_way = Writing::Way{how, source, sheet};
    return scope;
}

QString ProjectDatabase::localUser()
{
    for (const char *variable : {"USER", "LOGNAME", "USERNAME"})
        if (const QString name = qEnvironmentVariable(variable); !name.isEmpty())
            return name;
    if (const passwd *entry = ::getpwuid(::getuid()); entry && entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return QStringLiteral("uid %1").arg(::getuid());
}

Result<bool> ProjectDatabase::hasProvenance()
{
    if (!m_db.isOpen())
        return fail(QStringLiteral("没有打开的沉降工程"));
    if (!m_hasProvenance) {
        const auto present = m_dialect->hasProvenance(m_db);
        if (!present)
            return present.failure();
        m_hasProvenance = *present;
    }
    return *m_hasProvenance;
}

QString ProjectDatabase::entryColumns()
{
    if (!m_entriesCarried) {
        const auto carried = m_dialect->entriesCarried(m_db);
        m_entriesCarried = carried && *carried;
    }
    return *m_entriesCarried ? QStringLiteral("e.Id, e.WrittenAt, e.Who, e.How, e.SourceId, e.Sheet, e.CarriedBy")
                             : QStringLiteral("e.Id, e.WrittenAt, e.Who, e.How, e.SourceId, e.Sheet, NULL");
}

Result<void> ProjectDatabase::makeProvenance()
{
    if (m_provenanceReady)
        return success();
    if (auto made = m_dialect->makeProvenance(m_db, m_recording); !made)
        return made;
    m_provenanceReady = true;
    m_hasProvenance = true;
    m_entriesCarried.reset();
    return success();
}

void ProjectDatabase::transactionEnded()
{
    m_inTransaction = false;
    const bool typing = m_entryWay.how == WriteHow::Typed || m_entryWay.how == WriteHow::Undo;
    if (isServer() || !typing)
        m_entry.reset();
}

Result<void> ProjectDatabase::recordWrites()
{
    if (auto made = makeProvenance(); !made)
        return made;
    if (!m_recording || (m_entry && m_entryWay == m_way))
        return success();
    const auto entry = m_dialect->beginEntry(m_db, howKey(m_way.how), m_way.source, m_way.sheet);
    if (!entry)
        return fail(QStringLiteral("无法记录这次修改：%1").arg(entry.error()));
    m_entry = *entry;
    m_entryWay = m_way;
    return success();
}

Result<qint64> ProjectDatabase::keepSource(const SourceFile &file)
{
    // Kept as readSourceFile read it: its SHA-256 and size are of the whole
    // file, its bytes only up to maxSourceBytes.
    const QString &sha256 = file.sha256;
    const qint64 size = file.size;
    if (sha256.isEmpty())
        return fail(QStringLiteral("原始文件 %1 没有读出校验值，未存入工程").arg(file.name));
    qint64 id = 0;
    const Result<void> kept = inTransaction([&]() -> Result<void> {
        if (auto made = makeProvenance(); !made)
            return made;
        QSqlQuery &known = statement("sourceBySha", QStringLiteral("SELECT Id FROM Sources WHERE Sha256 = ?"));
        known.bindValue(0, sha256);
        if (auto ran = run(known); !ran)
            return ran;
        if (known.next()) {
            id = known.value(0).toLongLong();
            known.finish();
            return success();
        }
        QSqlQuery &insert = statement(
            "keepSource", QStringLiteral("INSERT INTO Sources (Name, Sha256, Size, ReadAt, ReadBy, Instrument, "
                                         "Closure, Tolerance, Data) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING Id"));
        insert.bindValue(0, file.name);
        insert.bindValue(1, sha256);
        insert.bindValue(2, size);
        insert.bindValue(3, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
        insert.bindValue(4, localUser());
        insert.bindValue(5, file.instrument.isEmpty() ? QVariant(QMetaType(QMetaType::QString))
                                                      : QVariant(file.instrument));
        insert.bindValue(6, nullOr(file.closureMm));
        insert.bindValue(7, nullOr(file.toleranceMm));
        const bool whole = size <= maxSourceBytes && file.data.size() == size;
        insert.bindValue(8, whole ? QVariant(file.data) : QVariant(QMetaType(QMetaType::QByteArray)));
        if (auto ran = run(insert); !ran)
            return ran;
        if (!insert.next())
            return fail(QStringLiteral("无法保存原始文件 %1").arg(file.name));
        id = insert.value(0).toLongLong();
        insert.finish();
        return success();
    });
    if (!kept)
        return fail(QStringLiteral("无法把原始文件 %1 存入工程：%2").arg(file.name, kept.error()));
    return id;
}

Result<std::vector<StoredSource>> ProjectDatabase::sources()
{
    const auto present = hasProvenance();
    if (!present)
        return present.failure();
    if (!*present)
        return std::vector<StoredSource>();
    QSqlQuery &query = statement(
        "sources", QStringLiteral("SELECT Id, Name, Sha256, Size, ReadAt, ReadBy, Instrument, Closure, Tolerance, "
                                  "Data IS NOT NULL FROM Sources ORDER BY Id"));
    return allRows(query, [](const QSqlQuery &row) {
        return StoredSource{row.value(0).toLongLong(), row.value(1).toString(), row.value(2).toString(),
                            row.value(3).toLongLong(), timeText(row.value(4)), row.value(5).toString(),
                            row.value(6).toString(), optionalNumber(row.value(7)),
                            optionalNumber(row.value(8)), row.value(9).toBool()};
    });
}

Result<std::optional<QByteArray>> ProjectDatabase::sourceData(qint64 id)
{
    const auto present = hasProvenance();
    if (!present)
        return present.failure();
    if (!*present)
        return std::optional<QByteArray>();
    QSqlQuery &query = statement("sourceData", QStringLiteral("SELECT Data FROM Sources WHERE Id = ?"));
    query.bindValue(0, id);
    const auto data = firstRow(query, [](const QSqlQuery &row) { return row.value(0); });
    if (!data)
        return data.failure();
    if (!*data || (*data)->isNull())
        return std::optional<QByteArray>();
    return std::optional<QByteArray>((*data)->toByteArray());
}

Result<std::optional<ElevationOrigin>> ProjectDatabase::origin(int cjNo, int cjdNo)
{
    const auto present = hasProvenance();
    if (!present)
        return present.failure();
    if (!*present)
        return std::optional<ElevationOrigin>();
    // Read from a file: its origin row. Typed: its last change says it all.
    QSqlQuery &query = statement(
        "origin", QStringLiteral("SELECT o.Line, o.Station, o.Adjusted, o.Sigma, %1 FROM Origins o "
                                 "LEFT JOIN Entries e ON e.Id = o.EntryId WHERE o.CjNo = ? AND o.CjdNo = ?")
                      .arg(entryColumns()));
    query.bindValue(0, cjNo);
    query.bindValue(1, cjdNo);
    const auto read = firstRow(query, [](const QSqlQuery &row) { return originFrom(row, 0); });
    if (!read || *read)
        return read;
    QSqlQuery &last = statement(
        "lastChange", QStringLiteral("SELECT h.WrittenAt, h.NewValue IS NULL, %1 FROM History h LEFT JOIN Entries e "
                                     "ON e.Id = h.EntryId WHERE h.CjNo = ? AND h.CjdNo = ? AND h.Kind = 'H' "
                                     "ORDER BY h.Id DESC LIMIT 1")
                          .arg(entryColumns()));
    last.bindValue(0, cjNo);
    last.bindValue(1, cjdNo);
    const auto change = firstRow(last, [](const QSqlQuery &row) {
        ElevationOrigin origin;
        origin.entry = entryFrom(row, 2);
        if (!row.value(0).isNull())
            origin.entry.at = timeText(row.value(0));
        return std::pair(origin, row.value(1).toBool());
    });
    if (!change)
        return change.failure();
    if (!*change || (*change)->second)
        return std::optional<ElevationOrigin>();
    return std::optional<ElevationOrigin>((*change)->first);
}

Result<std::vector<std::pair<int, qint64>>> ProjectDatabase::sourcesOfEpochs()
{
    const auto present = hasProvenance();
    if (!present)
        return present.failure();
    if (!*present)
        return std::vector<std::pair<int, qint64>>();
    QSqlQuery &query = statement(
        "sourcesOfEpochs", QStringLiteral("SELECT DISTINCT o.CjNo, e.SourceId FROM Origins o JOIN Entries e "
                                          "ON e.Id = o.EntryId WHERE e.SourceId IS NOT NULL ORDER BY o.CjNo, e.SourceId"));
    return allRows(query, [](const QSqlQuery &row) {
        return std::pair(row.value(0).toInt(), row.value(1).toLongLong());
    });
}

Result<std::vector<HistoryRow>> ProjectDatabase::history(std::optional<int> cjNo, std::optional<int> cjdNo,
                                                         bool changesOnly)
{
    const auto present = hasProvenance();
    if (!present)
        return present.failure();
    if (!*present)
        return std::vector<HistoryRow>();
    QStringList conditions;
    if (cjNo)
        conditions << QStringLiteral("h.CjNo = %1").arg(*cjNo);
    if (cjdNo)
        conditions << QStringLiteral("h.CjdNo = %1").arg(*cjdNo);
    if (changesOnly)
        conditions << QStringLiteral("h.Kind = 'H' AND h.OldValue IS NOT NULL");
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral("SELECT h.Id, h.Kind, h.CjNo, h.CjdNo, h.OldValue, h.NewValue, h.Label, h.WrittenAt, %1 "
                                      "FROM History h LEFT JOIN Entries e ON e.Id = h.EntryId %2 ORDER BY h.Id")
                           .arg(entryColumns(),
                                conditions.isEmpty() ? QString()
                                                     : QStringLiteral("WHERE ") + conditions.join(QStringLiteral(" AND ")))))
        return fail(m_dialect->failure(query.lastError()));
    return allRows(query, [](const QSqlQuery &row) {
        HistoryRow history;
        history.id = row.value(0).toLongLong();
        history.kind = kindOfKey(row.value(1).toString()).value_or(HistoryRow::Elevation);
        if (!row.value(2).isNull())
            history.cjNo = row.value(2).toInt();
        if (!row.value(3).isNull())
            history.cjdNo = row.value(3).toInt();
        history.oldValue = row.value(4);
        history.newValue = row.value(5);
        history.label = row.value(6).toString();
        history.at = timeText(row.value(7));
        history.entry = entryFrom(row, 8);
        return history;
    });
}

Result<void> ProjectDatabase::restore(const HistoryRow &row)
{
    if (row.kind != HistoryRow::Elevation || !row.cjNo || !row.cjdNo)
        return fail(QStringLiteral("只能撤销仍在工程中的高程的修改"));
    const auto undo = writingAs(WriteHow::Undo);
    if (row.oldValue.isNull())
        return deleteElevation(*row.cjNo, *row.cjdNo);
    bool ok = false;
    const double metres = row.oldValue.toDouble(&ok);
    if (!ok)
        return fail(QStringLiteral("历史记录中的原值 %1 不是高程").arg(row.oldValue.toString().left(40)));
    return setElevation(*row.cjNo, *row.cjdNo, metres);
}

Result<void> ProjectDatabase::confirmElevation(int cjNo, int cjdNo)
{
    return recorded([&]() -> Result<void> {
        if (!m_recording)
            return success();
        return m_dialect->confirmElevation(m_db, cjNo, cjdNo);
    });
}

Result<std::map<int, double>> ProjectDatabase::confirmedElevations(int cjNo)
{
    const auto present = hasProvenance();
    if (!present)
        return present.failure();
    std::map<int, double> confirmed;
    if (!*present)
        return confirmed;
    // A confirmation holds until the elevation changes again.
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.prepare(QStringLiteral(
            "SELECT h.CjdNo, h.NewValue FROM History h WHERE h.CjNo = ? AND h.Kind = 'C' AND h.Id > "
            "coalesce((SELECT max(g.Id) FROM History g WHERE g.CjNo = h.CjNo AND g.CjdNo = h.CjdNo "
            "AND g.Kind = 'H'), 0) ORDER BY h.Id")))
        return fail(m_dialect->failure(query.lastError()));
    query.addBindValue(cjNo);
    if (!query.exec())
        return fail(m_dialect->failure(query.lastError()));
    while (query.next()) {
        bool ok = false;
        const double metres = query.value(1).toDouble(&ok);
        if (ok && !query.value(0).isNull())
            confirmed[query.value(0).toInt()] = metres;
    }
    if (query.lastError().isValid())
        return fail(m_dialect->failure(query.lastError()));
    return confirmed;
}

Result<ProvenanceRecords> ProjectDatabase::provenanceRecords(bool withBytes)
{
    ProvenanceRecords records;
    const auto present = hasProvenance();
    if (!present)
        return present.failure();
    if (!*present)
        return records;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    const auto read = [&](const QString &sql, auto take) -> Result<void> {
        if (!query.prepare(sql))
            return fail(m_dialect->failure(query.lastError()));
        const auto rows = allRows(query, [&](const QSqlQuery &row) {
            take(row);
            return 0;
        });
        return rows ? success() : Result<void>(rows.failure());
    };
    if (auto done = read(QStringLiteral("SELECT Id, Name, Sha256, Size, ReadAt, ReadBy, Instrument, Closure, "
                                        "Tolerance, %1, Data IS NOT NULL FROM Sources ORDER BY Id")
                             .arg(withBytes ? QStringLiteral("Data") : QStringLiteral("NULL")),
                         [&](const QSqlQuery &row) {
                             const QVariant data = row.value(9);
                             records.sources.emplace_back(
                                 StoredSource{row.value(0).toLongLong(), row.value(1).toString(),
                                              row.value(2).toString(), row.value(3).toLongLong(),
                                              timeText(row.value(4)), row.value(5).toString(),
                                              row.value(6).toString(), optionalNumber(row.value(7)),
                                              optionalNumber(row.value(8)), row.value(10).toBool()},
                                 data.toByteArray());
                         });
        !done)
        return done.failure();
    if (auto done = read(QStringLiteral("SELECT %1 FROM Entries e ORDER BY e.Id").arg(entryColumns()),
                         [&](const QSqlQuery &row) { records.entries.push_back(entryFrom(row, 0)); });
        !done)
        return done.failure();
    if (auto done = read(QStringLiteral("SELECT o.CjNo, o.CjdNo, o.Line, o.Station, o.Adjusted, o.Sigma, %1 "
                                        "FROM Origins o LEFT JOIN Entries e ON e.Id = o.EntryId "
                                        "ORDER BY o.CjNo, o.CjdNo")
                             .arg(entryColumns()),
                         [&](const QSqlQuery &row) {
                             records.origins.push_back({row.value(0).toInt(), row.value(1).toInt(), originFrom(row, 2)});
                         });
        !done)
        return done.failure();
    auto history = this->history();
    if (!history)
        return history.failure();
    records.history = std::move(*history);
    return records;
}

Result<void> ProjectDatabase::writeProvenanceRecords(const ProvenanceRecords &records)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    return inTransaction([&]() -> Result<void> {
        if (auto made = makeProvenance(); !made)
            return made;
        const auto insert = [&](const QString &sql, const QVariantList &values) -> Result<void> {
            QSqlQuery query(m_db);
            if (!query.prepare(sql))
                return fail(m_dialect->failure(query.lastError()));
            for (int i = 0; i < values.size(); ++i)
                query.bindValue(i, values[i]);
            return run(query);
        };
        const auto orNull = [](const QString &text) {
            return text.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(text);
        };
        const auto idOrNull = [](const std::optional<qint64> &id) {
            return id ? QVariant(*id) : QVariant(QMetaType(QMetaType::LongLong));
        };
        for (const auto &[s, data] : records.sources)
            if (auto done = insert(QStringLiteral("INSERT INTO Sources (Id, Name, Sha256, Size, ReadAt, ReadBy, "
                                                  "Instrument, Closure, Tolerance, Data) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                                   {s.id, s.name, s.sha256, s.size, s.readAt, s.readBy, orNull(s.instrument),
                                    nullOr(s.closureMm), nullOr(s.toleranceMm),
                                    s.bytesKept ? QVariant(data) : QVariant(QMetaType(QMetaType::QByteArray))});
                !done)
                return done;
        for (const WriteEntry &e : records.entries)
            if (auto done = insert(QStringLiteral("INSERT INTO Entries (Id, WrittenAt, Who, How, SourceId, Sheet, "
                                                  "CarriedBy) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                                   {e.id, e.at, e.who, e.how, idOrNull(e.sourceId), orNull(e.sheet),
                                    orNull(e.carriedBy)});
                !done)
                return done;
        for (const ProvenanceRecords::Cell &c : records.origins) {
            const ElevationDetail &d = c.origin.detail;
            if (auto done = insert(m_dialect->upsertOrigin(),
                                   {c.cjNo, c.cjdNo, c.origin.entry.id,
                                    d.line > 0 ? QVariant(d.line) : QVariant(QMetaType(QMetaType::Int)),
                                    orNull(d.station), nullOr(d.adjusted), nullOr(d.sigmaMm)});
                !done)
                return done;
        }
        for (const HistoryRow &h : records.history) {
            const auto key = [](const std::optional<int> &k) {
                return k ? QVariant(*k) : QVariant(QMetaType(QMetaType::Int));
            };
            const QDateTime at = QDateTime::fromString(h.at, Qt::ISODate);
            if (auto done = insert(QStringLiteral("INSERT INTO History (Id, EntryId, WrittenAt, Kind, CjNo, CjdNo, "
                                                  "OldValue, NewValue, Label) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                                   {h.id, h.entry.id,
                                    at.isValid() ? QVariant(at.toSecsSinceEpoch()) : QVariant(QMetaType(QMetaType::LongLong)),
                                    kindKey(h.kind), key(h.cjNo), key(h.cjdNo),
                                    storedValue(h.kind, h.oldValue), storedValue(h.kind, h.newValue),
                                    orNull(h.label)});
                !done)
                return done;
        }
        return success();
    });
}
