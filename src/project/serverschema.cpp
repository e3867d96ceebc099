// The schema on the server: its tables, the change counter, rights per
// project and the views a session works through; making and upgrading it,
// and giving rights.
#include "project/serverstore.h"

#include "project/serverparts.h"
#include "project/projectdb.h"
#include "project/sqlscript.h"

#include <QDir>
#include <QSqlError>

#include <algorithm>
#include <functional>
#include <cstring>

using namespace serverparts;

Result<void> serverparts::runAll(QSqlDatabase &db, const QStringList &statements)
{
    for (const QString &sql : statements) {
        QSqlQuery query(db);
        if (!query.exec(sql))
            return fail(query.lastError().text());
    }
    return success();
}

Result<void> Connection::open(const ServerAddress &address)
{
    auto connected = connectToServer(address, name);
    if (!connected)
        return connected.failure();
    db = *connected;
    return checkServerSchema(db, address);
}

Result<void> serverparts::insertRows(QSqlDatabase &db, const QString &table, int columns,
                                     const std::vector<QVariantList> &rows, const QString &conflict)
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
        if (!query.prepare(QStringLiteral("INSERT INTO %1 VALUES %2 %3")
                               .arg(table, placeholders.join(QLatin1Char(',')), conflict)))
            return fail(query.lastError().text());
        for (size_t i = 0; i < count; ++i)
            for (const QVariant &value : rows[first + i])
                query.addBindValue(value);
        if (!query.exec())
            return fail(query.lastError().text());
    }
    return success();
}

Result<void> serverparts::prepared(QSqlQuery &query, const QString &sql)
{
    if (!query.prepare(sql))
        return fail(query.lastError().text());
    return success();
}

QString serverparts::sqlState(const QSqlQuery &query)
{
    return query.lastError().nativeErrorCode();
}

Result<QStringList> listServerProjects(const ServerAddress &address)
{
    Connection server;
    if (auto opened = server.open(address); !opened)
        return opened.failure();
    return listServerProjects(server.db);
}

Result<QStringList> listServerProjects(QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT name FROM sedimetra.projects ORDER BY name")))
        return fail(query.lastError().text());
    QStringList names;
    while (query.next())
        names << query.value(0).toString();
    return names;
}

namespace {

// The schema's scripts (src/project/sql/server/), as statements in order.
Result<QStringList> scripts(const QStringList &names)
{
    QStringList statements;
    for (const QString &name : names) {
        auto script = sqlScript(QStringLiteral("server/") + name);
        if (!script)
            return script.failure();
        statements += *script;
    }
    return statements;
}

// The rules of the schema, made anew by every `server init`: the rights,
// the change counter, the history, the session views, who may call what
// and who owns it all.
Result<QStringList> rules()
{
    return scripts({QStringLiteral("rules/1-rights.sql"), QStringLiteral("rules/2-change-counting.sql"),
                    QStringLiteral("rules/3-history.sql"), QStringLiteral("rules/4-session-views.sql"),
                    QStringLiteral("rules/5-function-rights.sql"), QStringLiteral("rules/6-ownership.sql")});
}

// Runs `statements` in one transaction on `db`.
Result<void> runTransaction(QSqlDatabase &db, const QStringList &statements)
{
    if (!db.transaction())
        return fail(db.lastError().text());
    if (auto done = runAll(db, statements); !done) {
        db.rollback();
        return done;
    }
    if (!db.commit())
        return fail(db.lastError().text());
    return success();
}

} // namespace

Result<int> serverSchemaOf(QSqlDatabase &db)
{
    QSqlQuery query(db);
    // Asked of the catalog first: a query of a missing table would leave
    // the session's transaction (if any) aborted.
    if (!query.exec(QStringLiteral("SELECT to_regclass('sedimetra.schema_version') IS NOT NULL"))
        || !query.next())
        return fail(query.lastError().text());
    if (!query.value(0).toBool())
        return 0;
    if (!query.exec(QStringLiteral("SELECT max(version) FROM sedimetra.schema_version"))
        || !query.next())
        return fail(query.lastError().text());
    return query.value(0).toInt();
}

Result<void> checkServerSchema(QSqlDatabase &db, const ServerAddress &address)
{
    const auto version = serverSchemaOf(db);
    if (!version)
        return version.failure();
    if (*version == 0)
        return fail(QStringLiteral("服务器 %1 的数据库里没有沉降工程库（用 sedimetra-batch server "
                                   "init 建立）")
                        .arg(displayUrl(address)));
    if (*version < serverSchemaVersion)
        return fail(QStringLiteral("服务器 %1 的沉降工程库是第 %2 版，本程序用第 %3 版（用 "
                                   "sedimetra-batch server init 升级）")
                        .arg(displayUrl(address))
                        .arg(*version)
                        .arg(serverSchemaVersion));
    if (*version > serverSchemaVersion)
        return fail(QStringLiteral("服务器 %1 的沉降工程库是第 %2 版，比本程序新（本程序认第 %3 版）")
                        .arg(displayUrl(address))
                        .arg(*version)
                        .arg(serverSchemaVersion));
    return success();
}

namespace {

// Whether the login may make or renew the schema, asked before any change:
// renewing its rules takes its owner (or a member of the owning role, or a
// superuser); making it takes the right to create schemas in the database
// and, for roles not there yet, to create roles.
Result<void> mayInitialise(QSqlDatabase &db, const ServerAddress &address, int version)
{
    QSqlQuery query(db);
    if (version > 0) {
        if (!query.exec(QStringLiteral(
                "SELECT pg_catalog.pg_get_userbyid(nspowner), pg_catalog.pg_has_role(nspowner, 'USAGE'), "
                "current_user FROM pg_catalog.pg_namespace WHERE nspname = 'sedimetra'"))
            || !query.next())
            return fail(query.lastError().text());
        if (query.value(1).toBool())
            return success();
        return fail(QStringLiteral("只有沉降工程库的所有者 %1（或其角色的成员、超级用户）才能在服务器 %2 上运行 "
                                   "server init；当前用户 %3 不能。")
                        .arg(query.value(0).toString(), displayUrl(address), query.value(2).toString()));
    }
    if (!query.exec(QStringLiteral(
            "SELECT pg_catalog.has_database_privilege(current_database(), 'CREATE'), "
            "(SELECT rolsuper OR rolcreaterole FROM pg_catalog.pg_roles WHERE rolname = current_user) "
            "OR (SELECT count(*) FROM pg_catalog.pg_roles WHERE rolname IN "
            "('sedimetra_read', 'sedimetra_write', 'sedimetra_admin')) = 3, "
            "current_user, current_database()"))
        || !query.next())
        return fail(query.lastError().text());
    QStringList missing;
    if (!query.value(0).toBool())
        missing << QStringLiteral("在数据库 %1 中建立模式的权限（CREATE）").arg(query.value(3).toString());
    if (!query.value(1).toBool())
        missing << QStringLiteral("建立角色的权限（CREATEROLE）");
    if (missing.isEmpty())
        return success();
    return fail(QStringLiteral("在服务器 %1 上建立沉降工程库需要%2；当前用户 %3 没有。请由数据库的所有者或超级用户运行 "
                               "server init。")
                    .arg(displayUrl(address), missing.join(QStringLiteral("和")), query.value(2).toString()));
}

} // namespace

namespace {

// Upgrades the schema at `version` in place, in one transaction; what was
// done, in words.
Result<QString> upgradeServer(QSqlDatabase &db, const ServerAddress &address, int from,
                              const std::function<Failure(const QString &)> &failed)
{
    // In place. From version 1, whoever could write before (every
    // member of sedimetra_write) becomes a writer of every project there
    // is; projects made from now on follow the new rule. Version 3 adds
    // the points' positions and the plan drawing; version 4 takes the
    // schema's functions from those who need not call them, and shows
    // the members table only as far as each role may see it.
    QStringList steps;
    if (from == 1)
        steps << QStringLiteral("2-members.sql");
    steps << QStringLiteral("3-positions.sql") << QStringLiteral("5-provenance.sql");
    auto upgrade = scripts(steps);
    const auto renewed = rules();
    if (!upgrade || !renewed)
        return failed(upgrade ? renewed.error() : upgrade.error());
    *upgrade << QStringLiteral("UPDATE sedimetra.schema_version SET version = %1").arg(serverSchemaVersion);
    *upgrade += *renewed;
    // The history there is chained as it stands, once (6-chain.sql).
    if (from < 6) {
        const auto chain = scripts({QStringLiteral("6-chain.sql")});
        if (!chain)
            return failed(chain.error());
        *upgrade += *chain;
    }
    if (auto done = runTransaction(db, *upgrade); !done)
        return failed(done.error());
    const QString upgraded = QStringLiteral("已把服务器 %1 的沉降工程库从第 %2 版升级到第 %3 版")
                                 .arg(displayUrl(address))
                                 .arg(from)
                                 .arg(serverSchemaVersion);
    const QString confirmed = QStringLiteral("可疑高程经核对确认的，确认也记入历史。");
    if (from == 6)
        return upgraded + QStringLiteral("：") + confirmed;
    const QString chain = QStringLiteral("历史记录逐条链式校验（SHA-256），可用 sedimetra-batch verify 核对；"
                                         "库中对象归 sedimetra_owner（不能登录、不能改角色）所有；")
                          + confirmed;
    if (from == 5)
        return upgraded + QStringLiteral("：") + chain;
    const QString provenance = QStringLiteral("每个高程记下来历，每次修改由服务器记入历史（写入者不能改写历史），"
                                              "调入的原始文件存入工程；")
                               + chain;
    if (from == 4)
        return upgraded + QStringLiteral("：") + provenance;
    const QString rights = QStringLiteral("库中函数只由需要的角色调用，成员表只对管理员、本人和该工程的写入者可见；")
                           + provenance;
    if (from == 3)
        return upgraded + QStringLiteral("：") + rights;
    if (from == 2)
        return upgraded + QStringLiteral("：测点可存坐标，工程可存平面图；") + rights;
    QSqlQuery counts(db);
    QString members = QStringLiteral("?");
    if (counts.exec(QStringLiteral("SELECT count(DISTINCT member) FROM sedimetra.members"))
        && counts.next())
        members = counts.value(0).toString();
    return upgraded
           + QStringLiteral("：原有的 %1 个写入角色成员成为每个已有工程的写入者；新建的工程只由建立者写入，"
                            "其他人需由 sedimetra_admin 授权；测点可存坐标，工程可存平面图；%2")
                 .arg(members, rights);
}

} // namespace

Result<QString> initialiseServer(const ServerAddress &address, const QString &templatePath)
{
    Connection server;
    auto db = connectToServer(address, server.name);
    if (!db)
        return db.failure();
    server.db = *db;
    // Quiet unless something is wrong: the rules are made anew with
    // "DROP ... IF EXISTS", which tells of each thing not there.
    if (QSqlQuery quiet(server.db); !quiet.exec(QStringLiteral("SET client_min_messages = warning")))
        return fail(quiet.lastError().text());
    const auto version = serverSchemaOf(server.db);
    if (!version)
        return version.failure();
    if (auto allowed = mayInitialise(server.db, address, *version); !allowed)
        return allowed.failure();
    const auto failed = [&](const QString &reason) {
        return fail(QStringLiteral("服务器 %1 的沉降工程库未能建立或更新（未作任何修改）：%2")
                        .arg(displayUrl(address), reason));
    };
    if (*version == serverSchemaVersion) {
        // The tables stay; the rules, counter and views are made anew.
        const auto renewed = rules();
        if (!renewed)
            return failed(renewed.error());
        if (auto done = runTransaction(server.db, *renewed); !done)
            return failed(done.error());
        return QStringLiteral("服务器 %1 的沉降工程库已是第 %2 版，表未作修改；权限、变更计数和视图已更新。")
            .arg(displayUrl(address))
            .arg(serverSchemaVersion);
    }
    if (*version >= 1 && *version < serverSchemaVersion)
        return upgradeServer(server.db, address, *version, failed);
    if (*version != 0)
        return fail(QStringLiteral("服务器 %1 的沉降工程库是第 %2 版，本程序只认第 %3 版")
                        .arg(displayUrl(address))
                        .arg(*version)
                        .arg(serverSchemaVersion));
    auto tables = scripts({QStringLiteral("1-tables.sql")});
    auto added = scripts({QStringLiteral("3-positions.sql"), QStringLiteral("5-provenance.sql")});
    const auto made = rules();
    if (!tables || !added || !made)
        return failed(!tables ? tables.error() : !added ? added.error() : made.error());
    *tables << QStringLiteral("INSERT INTO sedimetra.schema_version VALUES (%1)").arg(serverSchemaVersion);
    if (!server.db.transaction())
        return fail(server.db.lastError().text());
    if (auto ran = runAll(server.db, *tables + *added + *made); !ran) {
        server.db.rollback();
        return failed(ran.error());
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
    return QStringLiteral("已在服务器 %1 建立沉降工程库（第 %2 版），角色 sedimetra_read（读全部工程）、"
                          "sedimetra_write（建立工程、写自己有权的工程）、sedimetra_admin（授权、替换、删除）已设好。")
        .arg(displayUrl(address))
        .arg(serverSchemaVersion);
}

Result<QString> grantProject(const ServerAddress &address, const QString &member,
                             const QString &rights)
{
    if (address.project.isEmpty())
        return fail(QStringLiteral("地址中没有工程名（?project=…）"));
    if (rights != QLatin1String("read") && rights != QLatin1String("write")
        && rights != QLatin1String("none"))
        return fail(QStringLiteral("权限应为 read、write 或 none"));
    Connection server;
    if (auto opened = server.open(address); !opened)
        return opened.failure();
    QSqlQuery query(server.db);
    if (auto ready = prepared(query, QStringLiteral("SELECT sedimetra.grant_project(?, ?, ?)"));
        !ready)
        return ready.failure();
    query.addBindValue(address.project);
    query.addBindValue(member);
    query.addBindValue(rights);
    if (!query.exec()) {
        const QString state = sqlState(query);
        if (state == QLatin1String("42501"))
            return fail(QStringLiteral("只有 sedimetra_admin 的成员才能授权"));
        if (state == QLatin1String("P0002"))
            return fail(QStringLiteral("服务器上没有工程“%1”").arg(address.project));
        if (state == QLatin1String("42704"))
            return fail(QStringLiteral("服务器上没有用户或角色“%1”").arg(member));
        return fail(query.lastError().text());
    }
    const QString what = rights == QLatin1String("write")  ? QStringLiteral("读写")
                         : rights == QLatin1String("read") ? QStringLiteral("只读")
                                                           : QString();
    if (what.isEmpty())
        return QStringLiteral("已取消 %1 对工程“%2”的权限。").arg(member, address.project);
    return QStringLiteral("%1 对工程“%2”的权限：%3。").arg(member, address.project, what);
}

Result<std::vector<ProjectMember>> projectMembers(const ServerAddress &address)
{
    if (address.project.isEmpty())
        return fail(QStringLiteral("地址中没有工程名（?project=…）"));
    Connection server;
    if (auto opened = server.open(address); !opened)
        return opened.failure();
    QSqlQuery query(server.db);
    if (auto ready = prepared(query, QStringLiteral("SELECT id FROM sedimetra.projects WHERE name = ?"));
        !ready)
        return ready.failure();
    query.addBindValue(address.project);
    if (!query.exec())
        return fail(query.lastError().text());
    if (!query.next())
        return fail(QStringLiteral("服务器上没有工程“%1”，或你没有读它的权限").arg(address.project));
    const int id = query.value(0).toInt();
    query.finish();
    if (auto ready = prepared(query, QStringLiteral("SELECT member, can_write FROM sedimetra.members "
                                                    "WHERE project_id = ? ORDER BY member"));
        !ready)
        return ready.failure();
    query.addBindValue(id);
    if (!query.exec())
        return fail(query.lastError().text());
    std::vector<ProjectMember> members;
    while (query.next())
        members.push_back({query.value(0).toString(), query.value(1).toBool()});
    return members;
}
