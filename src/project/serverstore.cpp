// Moves between a project file and the server: push and pull, each checked
// by counts and a checksum of every record.
#include "project/serverstore.h"

#include "project/serverparts.h"
#include "base/savefile.h"
#include "project/projectdb.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QLocale>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>

#include <cmath>
#include <map>

using namespace serverparts;

namespace {

// The records of a project in one canonical text, digested: what a move
// must carry over unchanged. Elevations are written with every digit a
// double has, so a checksum match means equal values.
struct RecordDigest
{
    int epochs = 0, points = 0, elevations = 0, headerFields = 0;
    QByteArray checksum;
    bool operator==(const RecordDigest &) const = default;
    QString counts() const
    {
        return QStringLiteral("%1 次观测、%2 个测点、%3 个高程、%4 个表头项")
            .arg(epochs)
            .arg(points)
            .arg(elevations)
            .arg(headerFields);
    }
};

// Every record of a project, read once for a move and its check.
struct ProjectRecords
{
    std::vector<Epoch> epochs;
    std::vector<Point> points;
    std::vector<Elevation> elevations;
    std::map<QString, QString> fields;
    std::optional<PlanDrawingFile> plan;
};

Result<ProjectRecords> readRecords(ProjectDatabase &project)
{
    auto epochs = project.epochs();
    if (!epochs)
        return epochs.failure();
    auto points = project.points();
    if (!points)
        return points.failure();
    auto elevations = project.allElevations();
    if (!elevations)
        return elevations.failure();
    auto fields = project.headerFields();
    if (!fields)
        return fields.failure();
    auto plan = project.planDrawing();
    if (!plan)
        return plan.failure();
    return ProjectRecords{std::move(*epochs), std::move(*points), std::move(*elevations),
                          std::move(*fields), std::move(*plan)};
}

RecordDigest digestOf(const ProjectRecords &records)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const Epoch &e : records.epochs)
        hash.addData(QStringLiteral("E|%1|%2|%3|%4\n")
                         .arg(e.cjNo)
                         .arg(e.date, e.name, e.layers)
                         .toUtf8());
    for (const Point &p : records.points) {
        QString line = QStringLiteral("P|%1|%2|%3|%4").arg(p.cjdNo).arg(p.name).arg(p.aci).arg(p.mark);
        if (p.position)
            line += QStringLiteral("|%1|%2").arg(QString::number(p.position->x, 'g', 17),
                                                 QString::number(p.position->y, 'g', 17));
        hash.addData((line + QLatin1Char('\n')).toUtf8());
    }
    int elevations = 0;
    for (const Elevation &e : records.elevations) {
        // A record without a height is no measurement: not carried, not counted.
        if (std::isnan(e.pointH))
            continue;
        ++elevations;
        hash.addData(QStringLiteral("H|%1|%2|%3\n")
                         .arg(e.cjNo)
                         .arg(e.cjdNo)
                         .arg(QString::number(e.pointH, 'g', 17))
                         .toUtf8());
    }
    for (const auto &[name, value] : records.fields)
        hash.addData(QStringLiteral("F|%1|%2\n").arg(name, value).toUtf8());
    if (records.plan)
        hash.addData(QStringLiteral("D|%1|%2\n")
                         .arg(records.plan->name,
                              QString::fromLatin1(QCryptographicHash::hash(
                                  records.plan->data, QCryptographicHash::Sha256).toHex()))
                         .toUtf8());
    return RecordDigest{int(records.epochs.size()), int(records.points.size()), elevations,
                        int(records.fields.size()),
                        hash.result().toHex()};
}

// The digest of a project as it is stored now.
Result<RecordDigest> digestOf(ProjectDatabase &project)
{
    const auto records = readRecords(project);
    if (!records)
        return records.failure();
    return digestOf(*records);
}

// The entry the server records a push under: the records the push writes
// (and, replacing, removes) are in the project's history as its own.
Result<void> beginPushEntry(QSqlDatabase &db, int project)
{
    QSqlQuery query(db);
    if (auto ready = prepared(query, QStringLiteral("INSERT INTO sedimetra.entries (project_id, how) "
                                                    "VALUES (?, 'server') RETURNING id"));
        !ready)
        return ready;
    query.addBindValue(project);
    if (!query.exec() || !query.next())
        return fail(query.lastError().text());
    const QString entry = query.value(0).toString();
    query.finish();
    if (auto ready = prepared(query, QStringLiteral("SELECT set_config('sedimetra.entry', ?, true)")); !ready)
        return ready;
    query.addBindValue(entry);
    if (!query.exec())
        return fail(query.lastError().text());
    return success();
}

// Rows of a JSON array written as text, an object a row: the fields'
// names as given, a missing value as null, text escaped as JSON wants.
class JsonRows
{
public:
    void begin()
    {
        m_text += m_rows++ == 0 ? "{" : ",{";
        m_fields = 0;
    }
    void end() { m_text += '}'; }
    void field(const char *name, qint64 value) { key(name) += QByteArray::number(value); }
    void field(const char *name, const std::optional<qint64> &value)
    {
        key(name) += value ? QByteArray::number(*value) : QByteArray("null");
    }
    void field(const char *name, const std::optional<double> &value)
    {
        key(name) += value ? QByteArray::number(*value, 'g', QLocale::FloatingPointShortest) : QByteArray("null");
    }
    void field(const char *name, const std::optional<QString> &value)
    {
        QByteArray &out = key(name);
        if (!value) {
            out += "null";
            return;
        }
        out += '"';
        for (const char c : value->toUtf8()) {
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20)
                    out += "\\u00" + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
                else
                    out += c;
            }
        }
        out += '"';
    }
    bool empty() const { return m_rows == 0; }
    QByteArray array() const { return '[' + m_text + ']'; }

private:
    QByteArray &key(const char *name)
    {
        if (m_fields++ > 0)
            m_text += ',';
        m_text += '"';
        m_text += name;
        m_text += "\":";
        return m_text;
    }
    QByteArray m_text;
    qsizetype m_rows = 0;
    int m_fields = 0;
};

// A file's record of where its values came from, into the server project.
Result<void> carryProvenance(QSqlDatabase &db, int project, const ProvenanceRecords &records,
                             ProjectDatabase &file)
{
    // The kept files' bytes first, one file at a time and each in parts
    // (never all in one document): the client holds one file and one part
    // in hand, the server joins the parts in this session's own table and
    // computes the file's SHA-256.
    constexpr qsizetype partBytes = 4 << 20;
    if (auto made = runAll(db, {QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS pushed_bytes (n integer, part bytea) "
                                               "ON COMMIT DROP")});
        !made)
        return made;
    for (const auto &[s, unread] : records.sources) {
        if (!s.bytesKept)
            continue;
        const auto data = file.sourceData(s.id);
        if (!data)
            return data.failure();
        if (!*data)
            continue;
        if (auto cleared = runAll(db, {QStringLiteral("DELETE FROM pg_temp.pushed_bytes")}); !cleared)
            return cleared;
        for (qsizetype at = 0, n = 0; at < (*data)->size(); at += partBytes, ++n) {
            QSqlQuery part(db);
            if (auto ready = prepared(part, QStringLiteral("INSERT INTO pg_temp.pushed_bytes VALUES (?, ?)")); !ready)
                return ready;
            part.addBindValue(int(n));
            part.addBindValue(QByteArray::fromRawData((*data)->constData() + at,
                                                      std::min(partBytes, (*data)->size() - at)));
            if (!part.exec())
                return fail(part.lastError().text());
        }
        QSqlQuery keep(db);
        if (auto ready = prepared(keep, QStringLiteral(
                                            "SELECT sedimetra.carry_source(?, ?::jsonb, (SELECT coalesce(string_agg("
                                            "part, ''::bytea ORDER BY n), ''::bytea) FROM pg_temp.pushed_bytes))"));
            !ready)
            return ready;
        keep.addBindValue(project);
        keep.addBindValue(QString::fromUtf8(
            QJsonDocument(QJsonObject{{QStringLiteral("name"), s.name}, {QStringLiteral("readat"), s.readAt},
                                      {QStringLiteral("readby"), s.readBy}, {QStringLiteral("instrument"), s.instrument},
                                      {QStringLiteral("closure"), s.closureMm ? QJsonValue(*s.closureMm) : QJsonValue()},
                                      {QStringLiteral("tolerance"), s.toleranceMm ? QJsonValue(*s.toleranceMm) : QJsonValue()}})
                .toJson(QJsonDocument::Compact)));
        if (!keep.exec())
            return fail(keep.lastError().text());
    }
    const auto number = [](const std::optional<double> &v) { return v ? QJsonValue(*v) : QJsonValue(); };
    QJsonArray sources, entries;
    for (const auto &[s, unread] : records.sources)
        sources.append(QJsonObject{{QStringLiteral("id"), s.id}, {QStringLiteral("name"), s.name},
                                   {QStringLiteral("sha256"), s.sha256}, {QStringLiteral("size"), s.size},
                                   {QStringLiteral("readat"), s.readAt}, {QStringLiteral("readby"), s.readBy},
                                   {QStringLiteral("instrument"), s.instrument},
                                   {QStringLiteral("closure"), number(s.closureMm)},
                                   {QStringLiteral("tolerance"), number(s.toleranceMm)},
                                   {QStringLiteral("data"), QJsonValue()}});
    for (const WriteEntry &e : records.entries)
        entries.append(QJsonObject{{QStringLiteral("id"), e.id}, {QStringLiteral("writtenat"), e.at},
                                   {QStringLiteral("who"), e.who}, {QStringLiteral("how"), e.how},
                                   {QStringLiteral("sourceid"), e.sourceId ? QJsonValue(*e.sourceId) : QJsonValue()},
                                   {QStringLiteral("sheet"), e.sheet.isEmpty() ? QJsonValue() : QJsonValue(e.sheet)}});
    // The origins and the history, tens of thousands of rows each in a
    // large project, written straight as JSON text: a document of objects
    // took longer to build than the server takes to store them.
    JsonRows origins;
    for (const ProvenanceRecords::Cell &c : records.origins) {
        origins.begin();
        origins.field("cjno", c.cjNo);
        origins.field("cjdno", c.cjdNo);
        origins.field("entryid", c.origin.entry.id);
        origins.field("line", c.origin.detail.line > 0 ? std::optional<qint64>(c.origin.detail.line) : std::nullopt);
        origins.field("station", c.origin.detail.station.isEmpty() ? std::optional<QString>()
                                                                    : std::optional<QString>(c.origin.detail.station));
        origins.field("adjusted", c.origin.detail.adjusted);
        origins.field("sigma", c.origin.detail.sigmaMm);
        origins.end();
    }
    JsonRows history;
    for (const HistoryRow &h : records.history) {
        // Elevations as the shortest text that reads back as the same number.
        const auto value = [&](const QVariant &v) -> std::optional<QString> {
            if (v.isNull())
                return std::nullopt;
            if (h.kind == HistoryRow::Elevation)
                return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
            return v.toString();
        };
        const auto key = [](const std::optional<int> &v) { return v ? std::optional<qint64>(*v) : std::nullopt; };
        history.begin();
        history.field("id", h.id);
        history.field("entryid", h.entry.id);
        history.field("writtenat", std::optional<QString>(h.at.isEmpty() ? h.entry.at : h.at));
        history.field("kind", std::optional<QString>(kindKey(h.kind)));
        history.field("cjno", key(h.cjNo));
        history.field("cjdno", key(h.cjdNo));
        history.field("oldvalue", value(h.oldValue));
        history.field("newvalue", value(h.newValue));
        history.field("label", h.label.isEmpty() ? std::optional<QString>() : std::optional<QString>(h.label));
        history.end();
    }
    if (sources.isEmpty() && entries.isEmpty() && origins.empty() && history.empty())
        return success();
    const QByteArray carried = "{\"sources\":" + QJsonDocument(sources).toJson(QJsonDocument::Compact)
                               + ",\"entries\":" + QJsonDocument(entries).toJson(QJsonDocument::Compact)
                               + ",\"origins\":" + origins.array() + ",\"history\":" + history.array() + '}';
    QSqlQuery query(db);
    if (auto ready = prepared(query, QStringLiteral("SELECT sedimetra.carry_provenance(?, ?::jsonb)")); !ready)
        return ready;
    query.addBindValue(project);
    query.addBindValue(QString::fromUtf8(carried));
    if (!query.exec())
        return fail(query.lastError().text());
    return success();
}

} // namespace

namespace {

// The project's records made ready to become the file's: the project with
// its members, counter and history stays; what the file has is written over
// what is there (only values that differ change, and only they are
// recorded), and what the file no longer has is removed here. A window open
// on it sees the change at its next look.
Result<void> clearForReplace(QSqlDatabase &db, int id, const ProjectRecords &records)
{
    if (auto made = runAll(db, {QStringLiteral(
            "CREATE TEMP TABLE pushed_keys (cjno integer, cjdno integer) ON COMMIT DROP")});
        !made)
        return fail(made.error());
    std::vector<QVariantList> keys;
    for (const Epoch &e : records.epochs)
        keys.push_back({e.cjNo, -1});
    for (const Point &p : records.points)
        keys.push_back({-1, p.cjdNo});
    for (const Elevation &e : records.elevations)
        keys.push_back({e.cjNo, e.cjdNo});
    if (auto done = copyRows(db, QStringLiteral("pg_temp.pushed_keys"), {QStringLiteral("cjno"), QStringLiteral("cjdno")},
                             keys);
        !done)
        return fail(done.error());
    // Counted, so that the server compares the two sets whole, not row by row.
    if (auto counted = runAll(db, {QStringLiteral("ANALYZE pg_temp.pushed_keys")}); !counted)
        return fail(counted.error());
    for (const QString &remove :
         {QStringLiteral("DELETE FROM sedimetra.sur2 s WHERE s.project_id = ? AND NOT EXISTS (SELECT FROM "
                         "pg_temp.pushed_keys k WHERE k.cjno = s.cjno AND k.cjdno = s.cjdno)"),
          QStringLiteral("DELETE FROM sedimetra.sur1 s WHERE s.project_id = ? AND NOT EXISTS (SELECT FROM "
                         "pg_temp.pushed_keys k WHERE k.cjno = s.cjno AND k.cjdno = -1)"),
          QStringLiteral("DELETE FROM sedimetra.sur3 s WHERE s.project_id = ? AND NOT EXISTS (SELECT FROM "
                         "pg_temp.pushed_keys k WHERE k.cjdno = s.cjdno AND k.cjno = -1)"),
          QStringLiteral("DELETE FROM sedimetra.header_fields WHERE project_id = ?"),
          QStringLiteral("DELETE FROM sedimetra.plan_drawings WHERE project_id = ?")}) {
        QSqlQuery query(db);
        if (auto ready = prepared(query, remove); !ready)
            return fail(ready.error());
        query.addBindValue(id);
        if (!query.exec())
            return fail(query.lastError().text());
    }
    return success();
}

// The file's records written into project `id`: over what is there when
// replacing, only what differs.
Result<void> writeRecords(QSqlDatabase &db, int id, const ProjectRecords &records, bool replacing)
{
    std::vector<QVariantList> rows;
    for (const Epoch &e : records.epochs)
        rows.push_back({id, e.cjNo, e.date, e.name, e.layers});
    if (auto done = insertRows(db, QStringLiteral("sedimetra.sur1"), 5, rows,
                               replacing ? QStringLiteral("ON CONFLICT (project_id, cjno) DO UPDATE SET "
                                                          "mydate = EXCLUDED.mydate, name = EXCLUDED.name, "
                                                          "layers = EXCLUDED.layers WHERE (sur1.mydate, sur1.name, "
                                                          "sur1.layers) IS DISTINCT FROM (EXCLUDED.mydate, "
                                                          "EXCLUDED.name, EXCLUDED.layers)")
                                         : QString());
        !done)
        return fail(done.error());
    rows.clear();
    for (const Point &p : records.points)
        rows.push_back({id, p.cjdNo, p.name, p.aci, p.mark,
                        p.position ? QVariant(p.position->x) : QVariant(),
                        p.position ? QVariant(p.position->y) : QVariant()});
    if (auto done = insertRows(db, QStringLiteral("sedimetra.sur3"), 7, rows,
                               replacing ? QStringLiteral("ON CONFLICT (project_id, cjdno) DO UPDATE SET "
                                                          "pointname = EXCLUDED.pointname, aci = EXCLUDED.aci, "
                                                          "mark = EXCLUDED.mark, x = EXCLUDED.x, y = EXCLUDED.y "
                                                          "WHERE (sur3.pointname, sur3.aci, sur3.mark, sur3.x, sur3.y) "
                                                          "IS DISTINCT FROM (EXCLUDED.pointname, EXCLUDED.aci, "
                                                          "EXCLUDED.mark, EXCLUDED.x, EXCLUDED.y)")
                                         : QString());
        !done)
        return fail(done.error());
    rows.clear();
    if (records.plan)
        rows.push_back({id, records.plan->name, records.plan->data});
    if (auto done = insertRows(db, QStringLiteral("sedimetra.plan_drawings"), 3, rows); !done)
        return fail(done.error());
    // The heights, tens of thousands: copied into a table of the
    // session's own, then written in one statement, whose history the
    // server records in one go.
    rows.clear();
    for (const Elevation &e : records.elevations)
        rows.push_back({e.cjNo, e.cjdNo, std::isnan(e.pointH) ? QVariant() : QVariant(e.pointH)});
    if (auto made = runAll(db, {QStringLiteral("CREATE TEMP TABLE pushed_elevations (cjno integer, cjdno integer, "
                                               "pointh double precision) ON COMMIT DROP")});
        !made)
        return fail(made.error());
    if (auto done = copyRows(db, QStringLiteral("pg_temp.pushed_elevations"),
                             {QStringLiteral("cjno"), QStringLiteral("cjdno"), QStringLiteral("pointh")}, rows);
        !done)
        return fail(done.error());
    QSqlQuery heights(db);
    if (auto ready = prepared(heights, QStringLiteral("INSERT INTO sedimetra.sur2 (project_id, cjno, cjdno, pointh) "
                                                      "SELECT ?, cjno, cjdno, pointh FROM pg_temp.pushed_elevations "
                                                      "ORDER BY cjno, cjdno %1")
                                           .arg(replacing ? QStringLiteral(
                                                                "ON CONFLICT (project_id, cjno, cjdno) DO UPDATE SET "
                                                                "pointh = EXCLUDED.pointh WHERE sur2.pointh IS DISTINCT "
                                                                "FROM EXCLUDED.pointh")
                                                          : QString()));
        !ready)
        return fail(ready.error());
    heights.addBindValue(id);
    if (!heights.exec())
        return fail(heights.lastError().text());
    rows.clear();
    for (const auto &[name, value] : records.fields)
        rows.push_back({id, name, value});
    if (auto done = insertRows(db, QStringLiteral("sedimetra.header_fields"), 3, rows);
        !done)
        return fail(done.error());
    return success();
}

// A new project on the server, named `name`, its creator its first writer;
// its id.
Result<int> createServerProject(QSqlDatabase &db, const QString &name)
{
    QSqlQuery add(db);
    if (auto ready = prepared(add, QStringLiteral("SELECT sedimetra.create_project(?)"));
        !ready)
        return fail(ready.error());
    add.addBindValue(name);
    if (!add.exec() || !add.next()) {
        const QString state = sqlState(add);
        // A name taken by a project this login may not see is told as
        // any name it may not use: nobody learns of a project so.
        if (state == QLatin1String("SD001") || state == QLatin1String("23505"))
            return fail(QStringLiteral("不能在服务器上建立名为“%1”的工程：这个名称不能使用（请换一个工程名，"
                                         "或请 sedimetra_admin 授权）")
                              .arg(name));
        if (state == QLatin1String("42501"))
            return fail(QStringLiteral("你没有在服务器上建立工程的权限（需要角色 sedimetra_write）"));
        return fail(add.lastError().text());
    }
    return add.value(0).toInt();
}

} // namespace

Result<PushReport> pushProject(const QString &file, const ServerAddress &address, bool replace)
{
    if (address.project.isEmpty())
        return fail(QStringLiteral("地址中没有工程名（?project=…）"));
    ProjectDatabase source;
    if (auto opened = source.open(file); !opened)
        return fail(QStringLiteral("无法打开工程 %1：%2")
                        .arg(QDir::toNativeSeparators(file), opened.error()));
    const auto records = readRecords(source);
    if (!records)
        return fail(QStringLiteral("无法读取工程 %1：%2")
                        .arg(QDir::toNativeSeparators(file), records.error()));
    const RecordDigest sourceDigest = digestOf(*records);
    const auto provenance = source.provenanceRecords(false);
    if (!provenance)
        return fail(QStringLiteral("无法读取工程 %1 的来历记录：%2")
                        .arg(QDir::toNativeSeparators(file), provenance.error()));

    Connection server;
    if (auto opened = server.open(address); !opened)
        return opened.failure();
    if (!server.db.transaction())
        return fail(server.db.lastError().text());
    const auto failed = [&](const QString &reason) -> Result<PushReport> {
        server.db.rollback();
        return fail(reason);
    };
    // The project as this role sees it: one it may not read is not seen.
    QSqlQuery query(server.db);
    if (auto ready = prepared(query, QStringLiteral("SELECT id, sedimetra.may_write(id) FROM "
                                                    "sedimetra.projects WHERE name = ?"));
        !ready)
        return failed(ready.error());
    query.addBindValue(address.project);
    if (!query.exec())
        return failed(query.lastError().text());
    int id = 0;
    bool replacing = false;
    if (query.next()) {
        if (!replace)
            return failed(QStringLiteral("服务器上已有工程“%1”（要替换它，请加 --replace）")
                              .arg(address.project));
        if (!query.value(1).toBool())
            return failed(QStringLiteral("你没有工程“%1”的写权限，不能替换它（请 sedimetra_admin 用 "
                                         "sedimetra-batch server grant 授权）")
                              .arg(address.project));
        id = query.value(0).toInt();
        query.finish();
        if (auto begun = beginPushEntry(server.db, id); !begun)
            return failed(begun.error());
        if (auto cleared = clearForReplace(server.db, id, *records); !cleared)
            return failed(cleared.error());
        replacing = true;
    } else {
        query.finish();
        const auto made = createServerProject(server.db, address.project);
        if (!made)
            return failed(made.error());
        id = *made;
        if (auto begun = beginPushEntry(server.db, id); !begun)
            return failed(begun.error());
    }
    // Where the file's values came from goes with them.
    if (auto carried = carryProvenance(server.db, id, *provenance, source); !carried)
        return failed(carried.error());

    if (auto written = writeRecords(server.db, id, *records, replacing); !written)
        return failed(written.error());
    if (!server.db.commit())
        return fail(server.db.lastError().text());

    // Committed. Read back through the program's own access to a server
    // project; a check that cannot finish or disagrees is told as such,
    // never as a push that failed.
    const QString url = displayUrl(address);
    const auto unchecked = [&](const QString &why) {
        return PushReport{QStringLiteral("已写入服务器，但核对未完成：%1（工程已在 %2；"
                                         "可用 sedimetra-batch server pull 取回核对）")
                              .arg(why, url),
                          false};
    };
    ProjectDatabase target;
    if (auto opened = target.open(url, address.password); !opened)
        return unchecked(QStringLiteral("无法读回：%1").arg(opened.error()));
    const auto targetDigest = digestOf(target);
    if (!targetDigest)
        return unchecked(QStringLiteral("无法读回：%1").arg(targetDigest.error()));
    if (!(*targetDigest == sourceDigest))
        return unchecked(QStringLiteral("核对不符，文件有 %1，服务器上有 %2")
                             .arg(sourceDigest.counts(), targetDigest->counts()));
    return PushReport{QStringLiteral("已把 %1 推送到 %2：%3，全部到达，校验和一致（%4）。")
                          .arg(QDir::toNativeSeparators(file), url, sourceDigest.counts(),
                               QString::fromLatin1(sourceDigest.checksum.left(16))),
                      true};
}

Result<QString> pullProject(const ServerAddress &address, const QString &templatePath,
                            const QString &file)
{
    const QString url = displayUrl(address);
    ProjectDatabase source;
    if (auto opened = source.open(url, address.password); !opened)
        return opened.failure();
    const auto records = readRecords(source);
    if (!records)
        return fail(QStringLiteral("无法读取服务器工程 %1：%2").arg(url, records.error()));
    const RecordDigest sourceDigest = digestOf(*records);
    const auto provenance = source.provenanceRecords();
    if (!provenance)
        return fail(QStringLiteral("无法读取服务器工程 %1 的来历记录：%2").arg(url, provenance.error()));

    // Made beside the target under a name of its own, filled in one
    // transaction, checked, and only then put in the target's place.
    // A pull killed earlier left its scratch file (and journal) behind:
    // they go now.
    const QFileInfo target(file);
    removeAbandonedScratch(target.absoluteFilePath());
    const QString scratch = scratchPath(target.absoluteFilePath(), QStringLiteral("pull"));
    struct Scratch
    {
        QString path;
        ~Scratch()
        {
            QFile::remove(path);
            QFile::remove(path + QStringLiteral("-journal"));
        }
    } cleanup{scratch};
    // The scratch file is written in place (it is a temporary itself): no
    // second temporary beside it that a kill could leave.
    {
        QFile source(templatePath);
        if (!source.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("无法读取工程模板 %1：%2")
                            .arg(QDir::toNativeSeparators(templatePath), source.errorString()));
        QFile made(scratch);
        if (!made.open(QIODevice::WriteOnly | QIODevice::NewOnly)
            || made.write(source.readAll()) != source.size() || !made.flush())
            return fail(QStringLiteral("无法写入 %1：%2")
                            .arg(QDir::toNativeSeparators(scratch), made.errorString()));
    }
    {
        ProjectDatabase copy;
        if (auto opened = copy.open(scratch); !opened)
            return opened.failure();
        // The records come with their history: copied, not recorded again.
        copy.setRecording(false);
        const Result<void> filled = copy.inTransaction([&]() -> Result<void> {
            for (const Epoch &e : records->epochs)
                if (auto done = copy.addEpoch(e); !done)
                    return done;
            for (const Point &p : records->points)
                if (auto done = copy.addPoint(p); !done)
                    return done;
            for (const Elevation &e : records->elevations)
                if (!std::isnan(e.pointH))
                    if (auto done = copy.setElevation(e.cjNo, e.cjdNo, e.pointH); !done)
                        return done;
            return copy.writeProvenanceRecords(*provenance);
        });
        if (!filled)
            return filled.failure();
        if (!records->fields.empty())
            if (auto done = copy.setHeaderFields(records->fields); !done)
                return done.failure();
        if (records->plan)
            if (auto done = copy.setPlanDrawing(*records->plan); !done)
                return done.failure();
        const auto copied = digestOf(copy);
        if (!copied)
            return copied.failure();
        if (!(*copied == sourceDigest))
            return fail(QStringLiteral("核对不符：服务器上有 %1，文件中有 %2")
                            .arg(sourceDigest.counts(), copied->counts()));
    }
    QFile made(scratch);
    if (!made.open(QIODevice::ReadOnly))
        return fail(made.errorString());
    if (auto saved = saveFileContents(file, made.readAll()); !saved)
        return saved.failure();
    return QStringLiteral("已把 %1 拉取到 %2：%3，全部到达，校验和一致（%4）。")
        .arg(url, QDir::toNativeSeparators(target.absoluteFilePath()), sourceDigest.counts(),
             QString::fromLatin1(sourceDigest.checksum.left(16)));
}

