#include "project/serverstore.h"

#include "base/savefile.h"
#include "project/projectdb.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

#include <memory>

namespace {

// Runs statements one after another on `db`; the first failure's reason.
Result<void> runAll(QSqlDatabase &db, const QStringList &statements)
{
    for (const QString &sql : statements) {
        QSqlQuery query(db);
        if (!query.exec(sql))
            return fail(query.lastError().text());
    }
    return success();
}

// The server connection of a move, closed and removed with it.
struct Connection
{
    QString name = QStringLiteral("server-") + QUuid::createUuid().toString(QUuid::Id128);
    QSqlDatabase db;
    ~Connection()
    {
        if (db.isValid()) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
        }
    }
};

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
    return ProjectRecords{std::move(*epochs), std::move(*points), std::move(*elevations),
                          std::move(*fields)};
}

RecordDigest digestOf(const ProjectRecords &records)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const Epoch &e : records.epochs)
        hash.addData(QStringLiteral("E|%1|%2|%3|%4\n")
                         .arg(e.cjNo)
                         .arg(e.date, e.name, e.layers)
                         .toUtf8());
    for (const Point &p : records.points)
        hash.addData(
            QStringLiteral("P|%1|%2|%3|%4\n").arg(p.cjdNo).arg(p.name).arg(p.aci).arg(p.mark).toUtf8());
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

// Inserts rows of `columns` values into `table`, many rows a statement.
Result<void> insertRows(QSqlDatabase &db, const QString &table, int columns,
                        const std::vector<QVariantList> &rows)
{
    constexpr int rowsPerStatement = 500;
    for (size_t first = 0; first < rows.size(); first += rowsPerStatement) {
        const size_t count = std::min(rows.size() - first, size_t(rowsPerStatement));
        QStringList placeholders;
        const QString row =
            QLatin1Char('(') + QStringList(columns, QStringLiteral("?")).join(QLatin1Char(','))
            + QLatin1Char(')');
        for (size_t i = 0; i < count; ++i)
            placeholders << row;
        QSqlQuery query(db);
        if (!query.prepare(QStringLiteral("INSERT INTO %1 VALUES %2")
                               .arg(table, placeholders.join(QLatin1Char(',')))))
            return fail(query.lastError().text());
        for (size_t i = 0; i < count; ++i)
            for (const QVariant &value : rows[first + i])
                query.addBindValue(value);
        if (!query.exec())
            return fail(query.lastError().text());
    }
    return success();
}

} // namespace

bool isServerUrl(const QString &text)
{
    return text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
           || text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

Result<ServerAddress> parseServerUrl(const QString &text)
{
    const QUrl url(text, QUrl::TolerantMode);
    const QString form = QStringLiteral("postgresql://[用户@]主机[:端口]/数据库?project=工程名");
    if (!isServerUrl(text) || !url.isValid() || url.host().isEmpty())
        return fail(QStringLiteral("服务器工程的地址应为 %1").arg(form));
    ServerAddress address;
    address.user = url.userName(QUrl::FullyDecoded);
    address.password = url.password(QUrl::FullyDecoded);
    address.host = url.host(QUrl::FullyDecoded);
    address.port = url.port(5432);
    address.database = url.path(QUrl::FullyDecoded).mid(1);
    address.project = QUrlQuery(url).queryItemValue(QStringLiteral("project"), QUrl::FullyDecoded);
    if (address.database.isEmpty() || address.database.contains(QLatin1Char('/')))
        return fail(QStringLiteral("服务器工程的地址缺少数据库名：应为 %1").arg(form));
    return address;
}

QString displayUrl(const ServerAddress &address)
{
    QUrl url;
    url.setScheme(QStringLiteral("postgresql"));
    url.setUserName(address.user);
    url.setHost(address.host);
    if (address.port != 5432)
        url.setPort(address.port);
    url.setPath(QLatin1Char('/') + address.database);
    if (!address.project.isEmpty()) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("project"),
                           QString(address.project)
                               .replace(QLatin1Char('%'), QStringLiteral("%25"))
                               .replace(QLatin1Char('&'), QStringLiteral("%26"))
                               .replace(QLatin1Char('+'), QStringLiteral("%2B")));
        url.setQuery(query);
    }
    return url.toString(QUrl::PrettyDecoded);
}

QString shownProjectPath(const QString &path)
{
    if (!isServerUrl(path))
        return path;
    const auto address = parseServerUrl(path);
    return address ? displayUrl(*address) : QStringLiteral("postgresql://…");
}

namespace {

QString connectionFailure(const QString &libpqText, const ServerAddress &address)
{
    // The causes a surveyor can act on, in the window's language; libpq's
    // own words only for what is not among them (never with the password).
    const struct
    {
        const char *says;
        QString cause;
    } causes[] = {
        {"password authentication failed", QStringLiteral("用户 %1 的密码不对").arg(address.user)},
        {"no password supplied", QStringLiteral("服务器要求密码，但没有给出（请在密码框、PGPASSWORD 或 ~/.pgpass 中给出）")},
        {"does not exist", QStringLiteral("服务器上没有这个数据库或用户（数据库 %1，用户 %2）").arg(address.database, address.user)},
        {"no pg_hba.conf entry", QStringLiteral("服务器不允许这台计算机或这个用户连接（pg_hba.conf）")},
        {"Connection refused", QStringLiteral("服务器 %1:%2 没有在运行，或端口不对").arg(address.host).arg(address.port)},
        {"could not translate host name", QStringLiteral("找不到主机 %1").arg(address.host)},
        {"timeout expired", QStringLiteral("在 10 秒内没有连上服务器 %1").arg(address.host)},
        {"No route to host", QStringLiteral("到主机 %1 的网络不通").arg(address.host)},
    };
    for (const auto &known : causes)
        if (libpqText.contains(QLatin1String(known.says), Qt::CaseInsensitive))
            return known.cause;
    QString reason = libpqText.simplified();
    if (!address.password.isEmpty())
        reason.replace(address.password, QStringLiteral("***"));
    return reason;
}

} // namespace

Result<QSqlDatabase> connectToServer(const ServerAddress &address, const QString &connection)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return fail(QStringLiteral("没有 PostgreSQL 的数据库驱动（Debian 软件包 libqt6sql6-psql）"));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
    db.setHostName(address.host);
    db.setPort(address.port);
    db.setDatabaseName(address.database);
    db.setUserName(address.user);
    db.setPassword(address.password);
    db.setConnectOptions(QStringLiteral("connect_timeout=10;application_name=sedimetra"));
    if (!db.open()) {
        const QString reason = connectionFailure(db.lastError().text(), address);
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connection);
        return fail(QStringLiteral("无法连接服务器 %1：%2").arg(displayUrl(address), reason));
    }
    // Bounded waits: a lock another session holds, a statement that runs on.
    QSqlQuery bounds(db);
    for (const char *limit : {"SET lock_timeout = '10s'", "SET statement_timeout = '60s'"})
        bounds.exec(QString::fromLatin1(limit));
    return db;
}

Result<QStringList> listServerProjects(const ServerAddress &address)
{
    Connection server;
    auto db = connectToServer(address, server.name);
    if (!db)
        return db.failure();
    server.db = *db;
    QSqlQuery query(server.db);
    if (!query.exec(QStringLiteral("SELECT name FROM sedimetra.projects ORDER BY name")))
        return fail(QStringLiteral("服务器 %1 上没有沉降工程库（先运行 sedimetra-batch server init）")
                        .arg(displayUrl(address)));
    QStringList names;
    while (query.next())
        names << query.value(0).toString();
    return names;
}

namespace {

// The change counter of every project: once per statement that changes
// rows of a project, whoever makes it (the program, or plain SQL), each
// project whose rows the statement touched counts a change; the session
// counts those of its own project (sedimetra.project) as its own, so that it
// never reloads for its own writes. Both go back with a rollback. Made anew
// by every `server init`, so an older server gets it too.
QStringList changeCounting()
{
    QStringList statements{QStringLiteral(
        "CREATE OR REPLACE FUNCTION sedimetra.count_change() RETURNS trigger LANGUAGE plpgsql AS $$\n"
        "DECLARE\n"
        "  own integer := nullif(current_setting('sedimetra.project', true), '')::integer;\n"
        "  touched integer[];\n"
        "BEGIN\n"
        "  IF TG_OP = 'INSERT' THEN\n"
        "    SELECT array_agg(DISTINCT project_id) INTO touched FROM new_rows;\n"
        "  ELSIF TG_OP = 'DELETE' THEN\n"
        "    SELECT array_agg(DISTINCT project_id) INTO touched FROM old_rows;\n"
        "  ELSE\n"
        "    SELECT array_agg(DISTINCT project_id) INTO touched\n"
        "      FROM (SELECT project_id FROM new_rows UNION SELECT project_id FROM old_rows) r;\n"
        "  END IF;\n"
        "  IF touched IS NULL THEN\n"
        "    RETURN NULL;\n"
        "  END IF;\n"
        "  UPDATE sedimetra.projects SET change_seq = change_seq + 1 WHERE id = ANY (touched);\n"
        "  IF own = ANY (touched) THEN\n"
        "    PERFORM set_config('sedimetra.own_changes', (coalesce(nullif(current_setting("
        "'sedimetra.own_changes', true), ''), '0')::bigint + 1)::text, false);\n"
        "  END IF;\n"
        "  RETURN NULL;\n"
        "END $$")};
    const std::pair<const char *, const char *> tables[] = {
        {"sur1", "sur1"}, {"sur2", "sur2"}, {"sur3", "sur3"}, {"header", "header_fields"}};
    for (const auto &[prefix, table] : tables) {
        const QString name = QLatin1String(prefix), on = QStringLiteral("sedimetra.") + QLatin1String(table);
        statements << QStringLiteral("DROP TRIGGER IF EXISTS %1_changed ON %2").arg(name, on);
        const std::pair<const char *, const char *> events[] = {
            {"inserted", "INSERT ON %1 REFERENCING NEW TABLE AS new_rows"},
            {"updated", "UPDATE ON %1 REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows"},
            {"deleted", "DELETE ON %1 REFERENCING OLD TABLE AS old_rows"}};
        for (const auto &[suffix, event] : events) {
            statements << QStringLiteral("DROP TRIGGER IF EXISTS %1_%2 ON %3").arg(name, QLatin1String(suffix), on);
            statements << QStringLiteral("CREATE TRIGGER %1_%2 AFTER %3 FOR EACH STATEMENT "
                                         "EXECUTE FUNCTION sedimetra.count_change()")
                              .arg(name, QLatin1String(suffix), QString::fromLatin1(event).arg(on));
        }
    }
    return statements;
}

} // namespace

Result<QString> initialiseServer(const ServerAddress &address, const QString &templatePath)
{
    Connection server;
    auto db = connectToServer(address, server.name);
    if (!db)
        return db.failure();
    server.db = *db;
    {
        QSqlQuery existing(server.db);
        if (existing.exec(QStringLiteral(
                "SELECT version FROM sedimetra.schema_version ORDER BY version DESC LIMIT 1"))
            && existing.next()) {
            const int version = existing.value(0).toInt();
            if (version == serverSchemaVersion) {
                // The tables stay; the change counter is made anew.
                existing.finish();
                if (!server.db.transaction())
                    return fail(server.db.lastError().text());
                if (auto counted = runAll(server.db, changeCounting()); !counted) {
                    server.db.rollback();
                    return counted.failure();
                }
                if (!server.db.commit())
                    return fail(server.db.lastError().text());
                return QStringLiteral("服务器 %1 的沉降工程库已是第 %2 版，表未作修改；变更计数已更新。")
                    .arg(displayUrl(address))
                    .arg(version);
            }
            return fail(QStringLiteral("服务器 %1 的沉降工程库是第 %2 版，本程序只认第 %3 版")
                            .arg(displayUrl(address))
                            .arg(version)
                            .arg(serverSchemaVersion));
        }
    }
    if (!server.db.transaction())
        return fail(server.db.lastError().text());
    const QStringList schema{
        QStringLiteral("CREATE SCHEMA sedimetra"),
        QStringLiteral("CREATE TABLE sedimetra.schema_version (version integer NOT NULL)"),
        QStringLiteral("INSERT INTO sedimetra.schema_version VALUES (%1)").arg(serverSchemaVersion),
        // change_seq counts the commits to a project's records: a program
        // that read the project sees from it whether another one has written.
        QStringLiteral("CREATE TABLE sedimetra.projects (id serial PRIMARY KEY, "
                       "name text NOT NULL UNIQUE, created timestamptz NOT NULL DEFAULT now(), "
                       "change_seq bigint NOT NULL DEFAULT 0)"),
        QStringLiteral("CREATE TABLE sedimetra.header_fields (project_id integer NOT NULL "
                       "REFERENCES sedimetra.projects ON DELETE CASCADE, name text NOT NULL, "
                       "value text, PRIMARY KEY (project_id, name))"),
        QStringLiteral("CREATE TABLE sedimetra.sur1 (project_id integer NOT NULL "
                       "REFERENCES sedimetra.projects ON DELETE CASCADE, cjno integer NOT NULL, "
                       "mydate text, name text, layers text, PRIMARY KEY (project_id, cjno))"),
        QStringLiteral("CREATE TABLE sedimetra.sur2 (project_id integer NOT NULL "
                       "REFERENCES sedimetra.projects ON DELETE CASCADE, cjno integer NOT NULL, "
                       "cjdno integer NOT NULL, pointh double precision, "
                       "PRIMARY KEY (project_id, cjno, cjdno))"),
        QStringLiteral("CREATE INDEX sur2_point ON sedimetra.sur2 (project_id, cjdno, cjno)"),
        QStringLiteral("CREATE TABLE sedimetra.sur3 (project_id integer NOT NULL "
                       "REFERENCES sedimetra.projects ON DELETE CASCADE, cjdno integer NOT NULL, "
                       "pointname text, aci integer, mark text, PRIMARY KEY (project_id, cjdno))"),
        QStringLiteral("CREATE TABLE sedimetra.acirgb (aci_color integer PRIMARY KEY, "
                       "rgb_r integer NOT NULL, rgb_g integer NOT NULL, rgb_b integer NOT NULL)"),
        // Who may read and who may change.
        QStringLiteral("DO $$ BEGIN\n"
                       "  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'sedimetra_read') "
                       "THEN CREATE ROLE sedimetra_read NOLOGIN; END IF;\n"
                       "  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'sedimetra_write') "
                       "THEN CREATE ROLE sedimetra_write NOLOGIN; END IF;\n"
                       "END $$"),
        QStringLiteral("GRANT USAGE ON SCHEMA sedimetra TO sedimetra_read, sedimetra_write"),
        QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA sedimetra TO sedimetra_read"),
        QStringLiteral("GRANT sedimetra_read TO sedimetra_write"),
        QStringLiteral("GRANT INSERT, UPDATE, DELETE ON sedimetra.sur1, sedimetra.sur2, "
                       "sedimetra.sur3, sedimetra.header_fields TO sedimetra_write"),
        QStringLiteral("GRANT INSERT, DELETE ON sedimetra.projects TO sedimetra_write"),
        QStringLiteral("GRANT UPDATE (change_seq) ON sedimetra.projects TO sedimetra_write"),
        QStringLiteral("GRANT USAGE ON SEQUENCE sedimetra.projects_id_seq TO sedimetra_write"),
    };
    if (auto made = runAll(server.db, schema + changeCounting()); !made) {
        server.db.rollback();
        return made.failure();
    }
    // The colour table, from the project template.
    ProjectDatabase colourSource;
    if (auto opened = colourSource.open(templatePath); !opened) {
        server.db.rollback();
        return fail(QStringLiteral("无法读取工程模板 %1：%2")
                        .arg(QDir::toNativeSeparators(templatePath), opened.error()));
    }
    const auto colours = colourSource.colours();
    if (!colours) {
        server.db.rollback();
        return colours.failure();
    }
    std::vector<QVariantList> rows;
    for (const auto &[aci, rgb] : *colours)
        rows.push_back({aci, rgb.r, rgb.g, rgb.b});
    if (auto inserted = insertRows(server.db, QStringLiteral("sedimetra.acirgb"), 4, rows);
        !inserted) {
        server.db.rollback();
        return inserted.failure();
    }
    if (!server.db.commit())
        return fail(server.db.lastError().text());
    return QStringLiteral("已在服务器 %1 建立沉降工程库（第 %2 版），角色 sedimetra_read、"
                          "sedimetra_write 已授权。")
        .arg(displayUrl(address))
        .arg(serverSchemaVersion);
}

Result<QString> pushProject(const QString &file, const ServerAddress &address, bool replace)
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

    Connection server;
    auto db = connectToServer(address, server.name);
    if (!db)
        return db.failure();
    server.db = *db;
    if (!server.db.transaction())
        return fail(server.db.lastError().text());
    const auto failed = [&](const QString &reason) -> Result<QString> {
        server.db.rollback();
        return fail(reason);
    };
    QSqlQuery query(server.db);
    query.prepare(QStringLiteral("SELECT id FROM sedimetra.projects WHERE name = ?"));
    query.addBindValue(address.project);
    if (!query.exec())
        return failed(query.lastError().text());
    if (query.next()) {
        if (!replace)
            return failed(QStringLiteral("服务器上已有工程“%1”（要替换它，请加 --replace）")
                              .arg(address.project));
        QSqlQuery remove(server.db);
        remove.prepare(QStringLiteral("DELETE FROM sedimetra.projects WHERE name = ?"));
        remove.addBindValue(address.project);
        if (!remove.exec())
            return failed(remove.lastError().text());
    }
    query.finish();
    QSqlQuery add(server.db);
    add.prepare(QStringLiteral("INSERT INTO sedimetra.projects (name) VALUES (?) RETURNING id"));
    add.addBindValue(address.project);
    if (!add.exec() || !add.next())
        return failed(add.lastError().text());
    const int id = add.value(0).toInt();
    add.finish();

    std::vector<QVariantList> rows;
    for (const Epoch &e : records->epochs)
        rows.push_back({id, e.cjNo, e.date, e.name, e.layers});
    if (auto done = insertRows(server.db, QStringLiteral("sedimetra.sur1"), 5, rows); !done)
        return failed(done.error());
    rows.clear();
    for (const Point &p : records->points)
        rows.push_back({id, p.cjdNo, p.name, p.aci, p.mark});
    if (auto done = insertRows(server.db, QStringLiteral("sedimetra.sur3"), 5, rows); !done)
        return failed(done.error());
    rows.clear();
    for (const Elevation &e : records->elevations)
        rows.push_back({id, e.cjNo, e.cjdNo,
                        std::isnan(e.pointH) ? QVariant() : QVariant(e.pointH)});
    if (auto done = insertRows(server.db, QStringLiteral("sedimetra.sur2"), 4, rows); !done)
        return failed(done.error());
    rows.clear();
    for (const auto &[name, value] : records->fields)
        rows.push_back({id, name, value});
    if (auto done = insertRows(server.db, QStringLiteral("sedimetra.header_fields"), 3, rows);
        !done)
        return failed(done.error());
    if (!server.db.commit())
        return fail(server.db.lastError().text());

    // Read back through the program's own access to a server project.
    QString url = displayUrl(address);
    ProjectDatabase target;
    if (auto opened = target.open(url, address.password); !opened)
        return fail(QStringLiteral("工程已写入服务器，但无法读回核对：%1").arg(opened.error()));
    const auto targetDigest = digestOf(target);
    if (!targetDigest)
        return targetDigest.failure();
    if (!(*targetDigest == sourceDigest))
        return fail(QStringLiteral("核对不符：文件有 %1，服务器上有 %2")
                        .arg(sourceDigest.counts(), targetDigest->counts()));
    return QStringLiteral("已把 %1 推送到 %2：%3，全部到达，校验和一致（%4）。")
        .arg(QDir::toNativeSeparators(file), url, sourceDigest.counts(),
             QString::fromLatin1(sourceDigest.checksum.left(16)));
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

    // Made beside the target under a name of its own, filled in one
    // transaction, checked, and only then put in the target's place.
    const QFileInfo target(file);
    const QString scratch = target.absolutePath() + QStringLiteral("/.") + target.fileName()
                            + QStringLiteral(".") + QUuid::createUuid().toString(QUuid::Id128);
    struct Scratch
    {
        QString path;
        ~Scratch() { QFile::remove(path); }
    } cleanup{scratch};
    if (auto made = ProjectDatabase::createFromTemplate(templatePath, scratch); !made)
        return made.failure();
    {
        ProjectDatabase copy;
        if (auto opened = copy.open(scratch); !opened)
            return opened.failure();
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
            return success();
        });
        if (!filled)
            return filled.failure();
        if (!records->fields.empty())
            if (auto done = copy.setHeaderFields(records->fields); !done)
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
