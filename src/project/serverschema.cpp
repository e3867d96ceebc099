// The schema on the server: its tables, the change counter, rights per
// project and the views a session works through; making and upgrading it,
// and giving rights.
#include "project/serverstore.h"

#include "project/serverparts.h"
#include "project/projectdb.h"

#include <QDir>
#include <QSqlError>

#include <algorithm>
#include <cstring>

using namespace serverparts;

// The first lines of a function that runs with the owner's rights on behalf
// of a project's writer: the login (never a role it set) must write
// `project`, or be an administrator.
#define SD_WRITER_CHECK                                                                               \
    "  IF NOT (project = ANY (sedimetra.login_writes())\n"                                           \
    "          OR pg_catalog.pg_has_role(session_user, 'sedimetra_admin', 'MEMBER')) THEN\n"        \
    "    RAISE EXCEPTION 'no right to write project %', project USING ERRCODE = '42501';\n"         \
    "  END IF;\n"

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
    QSqlQuery query(server.db);
    if (!query.exec(QStringLiteral("SELECT name FROM sedimetra.projects ORDER BY name")))
        return fail(query.lastError().text());
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
// by every `server init`, so an older server gets it too. It runs with its
// owner's rights, so that nobody else may move a counter; nobody may call it
// (functionRights) or attach it to a table of their own, and it refuses to
// count for any table but the schema's record tables, before it reads a
// row: a row of a type of the caller's could run the caller's cast inside.
QStringList changeCounting()
{
    QStringList tables;
    for (const char *table : recordTables)
        tables << QStringLiteral("'%1'").arg(QLatin1String(table));
    QStringList statements{QStringLiteral(
        "CREATE OR REPLACE FUNCTION sedimetra.count_change() RETURNS trigger LANGUAGE plpgsql "
        "SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$\n"
        "DECLARE\n"
        "  own integer;\n"
        "  touched integer[];\n"
        "BEGIN\n"
        "  IF TG_TABLE_SCHEMA <> 'sedimetra' OR TG_TABLE_NAME NOT IN (%1) OR TG_LEVEL <> 'STATEMENT'\n"
        "     OR TG_WHEN <> 'AFTER' THEN\n"
        "    RAISE EXCEPTION 'sedimetra.count_change() counts the changes of the sedimetra record "
        "tables only' USING ERRCODE = '42501';\n"
        "  END IF;\n"
        "  own := nullif(current_setting('sedimetra.project', true), '')::integer;\n"
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
        "END $$").arg(tables.join(QStringLiteral(", ")))};
    const std::pair<const char *, const char *> triggers[] = {
        {"sur1", "sur1"}, {"sur2", "sur2"}, {"sur3", "sur3"}, {"header", "header_fields"},
        {"plan", "plan_drawings"}};
    for (const auto &[prefix, table] : triggers) {
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

namespace {


// Who may do what, per project. The roles: sedimetra_read reads every
// project of the firm; sedimetra_write may create projects and write those
// it is a writer of; sedimetra_admin grants, replaces and removes any. The
// table `members` says which login or group role reads or writes a project
// (whoever creates one becomes its writer); row-level security on every
// shared table holds each session to it, whatever SQL it sends. The
// projects table and its counters change only through the administrator or
// the functions below, which run with their owner's rights and check first.
QStringList rightsStatements()
{
    QStringList statements{
        QStringLiteral("DO $$ BEGIN\n"
                       "  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'sedimetra_read') "
                       "THEN CREATE ROLE sedimetra_read NOLOGIN; END IF;\n"
                       "  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'sedimetra_write') "
                       "THEN CREATE ROLE sedimetra_write NOLOGIN; END IF;\n"
                       "  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'sedimetra_admin') "
                       "THEN CREATE ROLE sedimetra_admin NOLOGIN; END IF;\n"
                       "  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'sedimetra_member') "
                       "THEN CREATE ROLE sedimetra_member NOLOGIN; END IF;\n"
                       "END $$"),
        // The owner of the schema's objects, whose rights the functions
        // below run with: a role nobody logs in as, that can neither change
        // roles nor bypass the row rules, so that a function that is ever
        // led astray can do no more than the schema itself. Whoever runs
        // `server init` becomes its member (to renew the schema later); it
        // gives a project's readers and writers the member role.
        QStringLiteral(
            "DO $$ BEGIN\n"
            "  IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = 'sedimetra_owner') THEN\n"
            "    CREATE ROLE sedimetra_owner NOLOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE NOREPLICATION "
            "NOBYPASSRLS;\n"
            "  END IF;\n"
            "  IF EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = 'sedimetra_owner' AND (rolsuper\n"
            "             OR rolcreaterole OR rolbypassrls OR rolcanlogin OR rolreplication OR rolcreatedb)) THEN\n"
            "    RAISE EXCEPTION 'the role sedimetra_owner may not log in, be a superuser, create roles or "
            "bypass row security' USING ERRCODE = '42501';\n"
            "  END IF;\n"
            "  IF NOT pg_catalog.pg_has_role(current_user, 'sedimetra_owner', 'MEMBER') THEN\n"
            "    EXECUTE pg_catalog.format('GRANT sedimetra_owner TO %I', current_user);\n"
            "  END IF;\n"
            "  IF NOT EXISTS (SELECT FROM pg_catalog.pg_auth_members WHERE roleid = 'sedimetra_member'::regrole\n"
            "                 AND member = 'sedimetra_owner'::regrole AND admin_option) THEN\n"
            "    GRANT sedimetra_member TO sedimetra_owner WITH ADMIN OPTION;\n"
            "  END IF;\n"
            "END $$"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS sedimetra.members (project_id integer NOT NULL "
                       "REFERENCES sedimetra.projects ON DELETE CASCADE, member name NOT NULL, "
                       "can_write boolean NOT NULL, PRIMARY KEY (project_id, member))"),
        // Those who were given rights before the member role existed.
        QStringLiteral("DO $$ DECLARE\n"
                       "  m name;\n"
                       "BEGIN\n"
                       "  FOR m IN SELECT DISTINCT s.member FROM sedimetra.members s\n"
                       "           JOIN pg_catalog.pg_roles r ON r.rolname = s.member\n"
                       "           WHERE s.member NOT IN ('sedimetra_owner', 'sedimetra_member')\n"
                       "           AND NOT pg_catalog.pg_has_role(s.member, 'sedimetra_member', 'MEMBER') LOOP\n"
                       "    EXECUTE pg_catalog.format('GRANT sedimetra_member TO %I', m);\n"
                       "  END LOOP;\n"
                       "END $$"),
        // Whether the current role is (through any group) a member of the
        // project, as a reader or as a writer.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.is_member(project integer, writing boolean) "
            "RETURNS boolean LANGUAGE sql STABLE SET search_path = pg_catalog, pg_temp AS $$\n"
            "  SELECT EXISTS (SELECT FROM sedimetra.members m JOIN pg_catalog.pg_roles r "
            "ON r.rolname = m.member WHERE m.project_id = project AND (m.can_write OR NOT writing) "
            "AND pg_catalog.pg_has_role(r.oid, 'MEMBER'))\n"
            "$$"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.may_read(project integer) RETURNS boolean "
            "LANGUAGE sql STABLE SET search_path = pg_catalog, pg_temp AS $$\n"
            "  SELECT pg_catalog.pg_has_role('sedimetra_read', 'MEMBER') "
            "OR pg_catalog.pg_has_role('sedimetra_admin', 'MEMBER') "
            "OR sedimetra.is_member(project, false)\n"
            "$$"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.may_write(project integer) RETURNS boolean "
            "LANGUAGE sql STABLE SET search_path = pg_catalog, pg_temp AS $$\n"
            "  SELECT pg_catalog.pg_has_role('sedimetra_admin', 'MEMBER') "
            "OR sedimetra.is_member(project, true)\n"
            "$$"),
        // The projects the login writes (through any of its roles): whose
        // members it may see. With the owner's rights, since the members
        // table shows a role only its own rows; the login is session_user,
        // which no statement of the caller's can change.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.login_writes() RETURNS integer[] "
            "LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$\n"
            "  SELECT coalesce(array_agg(DISTINCT m.project_id), '{}') FROM sedimetra.members m "
            "JOIN pg_catalog.pg_roles r ON r.rolname = m.member "
            "WHERE m.can_write AND pg_catalog.pg_has_role(session_user, r.oid, 'MEMBER')\n"
            "$$"),
        // A project's name as names are compared: NFKC, blanks trimmed, in
        // capitals, and the Greek and Cyrillic capitals that look like
        // Latin ones read as those, so that "Α" (alpha) is not another "A".
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.name_key(project_name text) RETURNS text "
            "LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $$\n"
            "  SELECT pg_catalog.translate(pg_catalog.upper(normalize(pg_catalog.btrim(project_name), NFKC)),\n"
            "    'ΑΒΕΖΗΙΚΜΝΟΡΤΥΧАВЕЅІЈКМНОРСТХУ', 'ABEZHIKMNOPTYXABESIJKMHOPCTXY')\n"
            "$$"),
        // A new project, its creator (the login) its first writer. A name
        // that is taken by a project the login may not see is refused as
        // any name it may not use is: nobody learns of a project this way.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.create_project(project_name text) "
            "RETURNS integer LANGUAGE plpgsql SECURITY DEFINER "
            "SET search_path = pg_catalog, pg_temp AS $$\n"
            "DECLARE\n"
            "  made integer;\n"
            "BEGIN\n"
            "  IF project_name IS NULL OR btrim(project_name) = '' OR length(project_name) > 200\n"
            "     OR project_name ~ '[[:cntrl:]]'\n"
            "     OR project_name ~ '[\\u00AD\\u200B-\\u200F\\u202A-\\u202E\\u2060-\\u2064\\uFEFF]'\n"
            "     OR project_name <> normalize(pg_catalog.btrim(project_name), NFKC)\n"
            "     OR EXISTS (SELECT FROM sedimetra.projects\n"
            "                WHERE sedimetra.name_key(name) = sedimetra.name_key(project_name)) THEN\n"
            "    RAISE EXCEPTION 'this project name cannot be used' USING ERRCODE = 'SD001';\n"
            "  END IF;\n"
            "  INSERT INTO sedimetra.projects (name) VALUES (project_name) RETURNING id INTO made;\n"
            "  INSERT INTO sedimetra.members VALUES (made, session_user, true);\n"
            "  RETURN made;\n"
            "EXCEPTION WHEN unique_violation THEN\n"
            "  RAISE EXCEPTION 'this project name cannot be used' USING ERRCODE = 'SD001';\n"
            "END $$"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.grant_project(project_name text, "
            "member_name text, rights text) RETURNS void LANGUAGE plpgsql SECURITY DEFINER "
            "SET search_path = pg_catalog, pg_temp AS $$\n"
            "DECLARE\n"
            "  project integer;\n"
            "BEGIN\n"
            "  IF rights NOT IN ('read', 'write', 'none') THEN\n"
            "    RAISE EXCEPTION 'rights must be read, write or none' USING ERRCODE = '22023';\n"
            "  END IF;\n"
            "  SELECT id INTO project FROM sedimetra.projects WHERE name = project_name;\n"
            "  IF project IS NULL THEN\n"
            "    RAISE EXCEPTION 'no project %', project_name USING ERRCODE = 'P0002';\n"
            "  END IF;\n"
            "  IF rights = 'none' THEN\n"
            "    DELETE FROM sedimetra.members WHERE project_id = project AND member = member_name;\n"
            "    IF FOUND THEN\n"
            "      -- Member of no project any more: no longer a member of the schema.\n"
            "      IF NOT EXISTS (SELECT FROM sedimetra.members WHERE member = member_name)\n"
            "         AND pg_catalog.pg_has_role(member_name, 'sedimetra_member', 'MEMBER') THEN\n"
            "        EXECUTE pg_catalog.format('REVOKE sedimetra_member FROM %I', member_name);\n"
            "      END IF;\n"
            "      RETURN;\n"
            "    END IF;\n"
            "  END IF;\n"
            "  IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = member_name) THEN\n"
            "    RAISE EXCEPTION 'no role %', member_name USING ERRCODE = '42704';\n"
            "  END IF;\n"
            "  IF rights = 'none' THEN\n"
            "    RETURN;\n"
            "  END IF;\n"
            "  IF member_name IN ('sedimetra_owner', 'sedimetra_member') THEN\n"
            "    RAISE EXCEPTION 'the role % holds the schema and is no member of a project', member_name\n"
            "      USING ERRCODE = '22023';\n"
            "  END IF;\n"
            "  INSERT INTO sedimetra.members VALUES (project, member_name, rights = 'write')\n"
            "    ON CONFLICT (project_id, member) DO UPDATE SET can_write = EXCLUDED.can_write;\n"
            "  -- A member may use the schema; the row rules show it its projects alone.\n"
            "  IF NOT pg_catalog.pg_has_role(member_name, 'sedimetra_member', 'MEMBER') THEN\n"
            "    EXECUTE pg_catalog.format('GRANT sedimetra_member TO %I', member_name);\n"
            "  END IF;\n"
            "END $$"),
        // The grants from scratch: a writer no longer reads every project,
        // nor adds, removes or counts projects itself.
        QStringLiteral("REVOKE ALL ON ALL TABLES IN SCHEMA sedimetra "
                       "FROM sedimetra_read, sedimetra_write, sedimetra_admin"),
        QStringLiteral("REVOKE ALL ON ALL SEQUENCES IN SCHEMA sedimetra "
                       "FROM sedimetra_read, sedimetra_write, sedimetra_admin"),
        QStringLiteral("DO $$ BEGIN\n"
                       "  IF pg_catalog.pg_has_role('sedimetra_write', 'sedimetra_read', 'MEMBER') THEN\n"
                       "    REVOKE sedimetra_read FROM sedimetra_write;\n"
                       "  END IF;\n"
                       "END $$"),
        // A member of a project (sedimetra_member, given by grant_project)
        // holds the same table rights as a writer: the row rules alone say
        // which project it reads and which it writes.
        QStringLiteral("GRANT USAGE ON SCHEMA sedimetra "
                       "TO sedimetra_read, sedimetra_write, sedimetra_admin, sedimetra_member"),
        QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA sedimetra "
                       "TO sedimetra_read, sedimetra_write, sedimetra_admin, sedimetra_member"),
        QStringLiteral("GRANT INSERT, UPDATE, DELETE ON sedimetra.sur1, sedimetra.sur2, "
                       "sedimetra.sur3, sedimetra.header_fields, sedimetra.plan_drawings "
                       "TO sedimetra_write, sedimetra_admin, sedimetra_member"),
        // The files kept and the entries are added, never changed; the
        // history is written by the server alone.
        QStringLiteral("GRANT INSERT ON sedimetra.sources, sedimetra.entries "
                       "TO sedimetra_write, sedimetra_admin, sedimetra_member"),
        QStringLiteral("GRANT USAGE ON SEQUENCE sedimetra.sources_id_seq, sedimetra.entries_id_seq "
                       "TO sedimetra_write, sedimetra_admin, sedimetra_member"),
        QStringLiteral("GRANT INSERT, UPDATE, DELETE ON sedimetra.origins "
                       "TO sedimetra_write, sedimetra_admin, sedimetra_member"),
        QStringLiteral("GRANT DELETE ON sedimetra.projects TO sedimetra_admin"),
        QStringLiteral("GRANT INSERT, UPDATE, DELETE ON sedimetra.members TO sedimetra_admin"),
        // A project is seen by those who may read it.
        QStringLiteral("ALTER TABLE sedimetra.projects ENABLE ROW LEVEL SECURITY"),
        QStringLiteral("DROP POLICY IF EXISTS project_read ON sedimetra.projects"),
        QStringLiteral("CREATE POLICY project_read ON sedimetra.projects FOR SELECT "
                       "USING (sedimetra.may_read(id))"),
        QStringLiteral("DROP POLICY IF EXISTS project_remove ON sedimetra.projects"),
        QStringLiteral("CREATE POLICY project_remove ON sedimetra.projects FOR DELETE "
                       "TO sedimetra_admin USING (true)"),
        // Who works on which building is seen by the administrators, by
        // each role of its own rows, and by the writers of a project of
        // that project's members.
        QStringLiteral("ALTER TABLE sedimetra.members ENABLE ROW LEVEL SECURITY"),
        QStringLiteral("DROP POLICY IF EXISTS members_read ON sedimetra.members"),
        QStringLiteral("CREATE POLICY members_read ON sedimetra.members FOR SELECT USING ("
                       "pg_catalog.pg_has_role('sedimetra_admin', 'MEMBER') "
                       "OR member IN (SELECT rolname FROM pg_catalog.pg_roles "
                       "WHERE pg_catalog.pg_has_role(oid, 'MEMBER')) "
                       "OR project_id = ANY (sedimetra.login_writes()))"),
        QStringLiteral("DROP POLICY IF EXISTS members_change ON sedimetra.members"),
        QStringLiteral("CREATE POLICY members_change ON sedimetra.members FOR ALL TO sedimetra_admin "
                       "USING (true) WITH CHECK (true)"),
    };
    // A project's records: read where the project is seen, written where
    // the role is its writer. The list of projects is made once a
    // statement, not once a row.
    const QString readable = QStringLiteral("project_id IN (SELECT id FROM sedimetra.projects)");
    const QString writable = QStringLiteral(
        "project_id IN (SELECT id FROM sedimetra.projects WHERE sedimetra.may_write(id))");
    for (const char *name : provenanceTables) {
        const QString table = QStringLiteral("sedimetra.") + QLatin1String(name);
        statements << QStringLiteral("ALTER TABLE %1 ENABLE ROW LEVEL SECURITY").arg(table);
        for (const char *policy : {"records_read", "records_insert", "records_update", "records_delete"})
            statements << QStringLiteral("DROP POLICY IF EXISTS %1 ON %2").arg(QLatin1String(policy), table);
        statements << QStringLiteral("CREATE POLICY records_read ON %1 FOR SELECT USING (%2)").arg(table, readable);
        if (std::strcmp(name, "history") != 0)
            statements << QStringLiteral("CREATE POLICY records_insert ON %1 FOR INSERT WITH CHECK (%2)")
                              .arg(table, writable);
        if (std::strcmp(name, "origins") == 0)
            statements << QStringLiteral("CREATE POLICY records_update ON %1 FOR UPDATE USING (%2) WITH CHECK (%2)")
                              .arg(table, writable)
                       << QStringLiteral("CREATE POLICY records_delete ON %1 FOR DELETE USING (%2)").arg(table, writable);
    }
    for (const char *name : recordTables) {
        const QString table = QStringLiteral("sedimetra.") + QLatin1String(name);
        statements << QStringLiteral("ALTER TABLE %1 ENABLE ROW LEVEL SECURITY").arg(table);
        const std::pair<const char *, QString> policies[] = {
            {"records_read", QStringLiteral("FOR SELECT USING (%1)").arg(readable)},
            {"records_insert", QStringLiteral("FOR INSERT WITH CHECK (%1)").arg(writable)},
            {"records_update",
             QStringLiteral("FOR UPDATE USING (%1) WITH CHECK (%1)").arg(writable)},
            {"records_delete", QStringLiteral("FOR DELETE USING (%1)").arg(writable)},
        };
        for (const auto &[policy, rule] : policies) {
            statements << QStringLiteral("DROP POLICY IF EXISTS %1 ON %2")
                              .arg(QLatin1String(policy), table);
            statements << QStringLiteral("CREATE POLICY %1 ON %2 %3")
                              .arg(QLatin1String(policy), table, rule);
        }
    }
    return statements;
}

// The views a session works through: the file's table names over the
// records of the project named by the session setting sedimetra.project,
// adding its id to every record written and refusing any other. Permanent,
// so that opening a project writes nothing to the server's catalog; with
// the rights of the session's own role, so that row-level security holds.
QStringList sessionViews()
{
    const QString project = QStringLiteral("current_setting('sedimetra.project', true)::integer");
    QStringList statements{QStringLiteral("CREATE SCHEMA IF NOT EXISTS sedimetra_project")};
    const std::pair<const char *, const char *> views[] = {
        {"sur1", "SELECT project_id, cjno, mydate, name, layers FROM sedimetra.sur1"},
        {"sur2", "SELECT project_id, cjno, cjdno, pointh FROM sedimetra.sur2"},
        {"sur3", "SELECT project_id, cjdno, pointname, aci, mark, x, y FROM sedimetra.sur3"},
        {"headerfields", "SELECT project_id, name, value FROM sedimetra.header_fields"},
        {"plandrawing", "SELECT project_id, name, data FROM sedimetra.plan_drawings"},
        {"sources", "SELECT project_id, id, name, sha256, size, readat, readby, instrument, closure, "
                    "tolerance, data FROM sedimetra.sources"},
        {"entries", "SELECT project_id, id, writtenat, who, how, sourceid, sheet, carriedby FROM sedimetra.entries"},
        {"origins", "SELECT project_id, cjno, cjdno, entryid, line, station, adjusted, sigma "
                    "FROM sedimetra.origins"},
        {"history", "SELECT project_id, id, entryid, writtenat, kind, cjno, cjdno, oldvalue, newvalue, label, hash "
                    "FROM sedimetra.history"},
    };
    for (const auto &[name, select] : views) {
        const QString view = QStringLiteral("sedimetra_project.") + QLatin1String(name);
        statements << QStringLiteral("CREATE OR REPLACE VIEW %1 WITH (security_invoker = true) AS "
                                     "%2 WHERE project_id = %3 WITH CASCADED CHECK OPTION")
                          .arg(view, QLatin1String(select), project);
        statements << QStringLiteral("ALTER VIEW %1 ALTER COLUMN project_id SET DEFAULT %2")
                          .arg(view, project);
    }
    statements << QStringLiteral("GRANT USAGE ON SCHEMA sedimetra_project "
                                 "TO sedimetra_read, sedimetra_write, sedimetra_admin, sedimetra_member")
               << QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA sedimetra_project "
                                 "TO sedimetra_read, sedimetra_write, sedimetra_admin, sedimetra_member")
               << QStringLiteral("GRANT INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA "
                                 "sedimetra_project TO sedimetra_write, sedimetra_admin, sedimetra_member");
    return statements;
}

// The points' positions and the plan drawing (version 3): added in place
// to an older schema, part of a new one.
QStringList positionStatements()
{
    return {QStringLiteral("ALTER TABLE sedimetra.sur3 ADD COLUMN IF NOT EXISTS x double precision, "
                           "ADD COLUMN IF NOT EXISTS y double precision"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS sedimetra.plan_drawings (project_id integer "
                           "PRIMARY KEY REFERENCES sedimetra.projects ON DELETE CASCADE, "
                           "name text, data bytea)")};
}

// Where the values came from (version 5): the files kept, the entries (who
// wrote, when, how), the origin of each elevation and the history of every
// change. Added in place to an older schema, part of a new one.
QStringList provenanceStatements()
{
    const QString project =
        QStringLiteral("project_id integer NOT NULL REFERENCES sedimetra.projects ON DELETE CASCADE");
    return {QStringLiteral("CREATE TABLE IF NOT EXISTS sedimetra.sources (%1, id bigserial, name text NOT NULL, "
                           "sha256 text NOT NULL, size bigint NOT NULL, readat timestamptz, readby text, "
                           "instrument text, closure double precision, tolerance double precision, data bytea, "
                           "PRIMARY KEY (project_id, id), UNIQUE (project_id, sha256))")
                .arg(project),
            QStringLiteral("CREATE TABLE IF NOT EXISTS sedimetra.entries (%1, id bigserial, "
                           "writtenat timestamptz NOT NULL DEFAULT now(), who text NOT NULL DEFAULT session_user, "
                           "how text NOT NULL, sourceid bigint, sheet text, txid bigint DEFAULT txid_current(), carriedby text, "
                           "PRIMARY KEY (project_id, id))")
                .arg(project),
            QStringLiteral("CREATE TABLE IF NOT EXISTS sedimetra.origins (%1, cjno integer NOT NULL, "
                           "cjdno integer NOT NULL, entryid bigint, line integer, station text, "
                           "adjusted double precision, sigma double precision, PRIMARY KEY (project_id, cjno, cjdno))")
                .arg(project),
            QStringLiteral("CREATE TABLE IF NOT EXISTS sedimetra.history (%1, id bigserial, entryid bigint, "
                           "writtenat timestamptz NOT NULL DEFAULT now(), kind text NOT NULL, cjno integer, cjdno integer, oldvalue text, newvalue text, "
                           "label text, PRIMARY KEY (project_id, id))")
                .arg(project),
            QStringLiteral("CREATE INDEX IF NOT EXISTS history_cell ON sedimetra.history (project_id, cjno, cjdno)"),
            // Version 6: each history row chained to the one before it.
            QStringLiteral("ALTER TABLE sedimetra.history ADD COLUMN IF NOT EXISTS hash text")};
}

// The history, written by the server as the records change, whoever
// changes them: the program, or plain SQL. With its owner's rights, since
// nobody else may write the history; it refuses to run for any table but
// the three record tables. A write is recorded under the entry the
// transaction made (sedimetra.entry), when that entry is this
// transaction's and this project's; otherwise under an entry of its own,
// "sql". An epoch's renumbering is no change: its history and origins move
// with it. A deleted epoch or point leaves its rows, named in label.
// Entries and kept files are stamped with the login and the server's time,
// whatever the insert says.
QStringList historyRecording()
{
    QStringList statements{
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.stamp_row() RETURNS trigger LANGUAGE plpgsql "
            "SET search_path = pg_catalog, pg_temp AS $$\n"
            "BEGIN\n"
            "  -- The schema's own functions (the history, a carried project) write\n"
            "  -- as the owner, with what they were given.\n"
            "  IF current_user = (SELECT r.rolname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_roles r\n"
            "                     ON r.oid = c.relowner WHERE c.oid = TG_RELID) THEN\n"
            "    RETURN NEW;\n"
            "  END IF;\n"
            "  IF TG_TABLE_NAME = 'entries' THEN\n"
            "    NEW.carriedby := NULL;\n"
            "    IF NEW.how IS NULL OR NEW.how NOT IN ('typed', 'import', 'level', 'server', 'undo', 'sql') THEN\n"
            "      RAISE EXCEPTION 'unknown way of writing: %', NEW.how USING ERRCODE = '22023';\n"
            "    END IF;\n"
            "    NEW.writtenat := now();\n"
            "    NEW.who := session_user;\n"
            "    NEW.txid := txid_current();\n"
            "    -- The project's write lock from the transaction's first entry on:\n"
            "    -- its history rows follow the others' whole, in the order they commit.\n"
            "    PERFORM pg_catalog.pg_advisory_xact_lock(%1, NEW.project_id);\n"
            "  ELSE\n"
            "    NEW.readat := now();\n"
            "    NEW.readby := session_user;\n"
            "    -- A kept file is what its bytes are, whatever the insert says.\n"
            "    IF NEW.data IS NOT NULL THEN\n"
            "      NEW.sha256 := pg_catalog.encode(pg_catalog.sha256(NEW.data), 'hex');\n"
            "      NEW.size := pg_catalog.length(NEW.data);\n"
            "    END IF;\n"
            "  END IF;\n"
            "  RETURN NEW;\n"
            "END $$").arg(projectWriteLock),
        QStringLiteral("DROP TRIGGER IF EXISTS entries_stamped ON sedimetra.entries"),
        QStringLiteral("CREATE TRIGGER entries_stamped BEFORE INSERT ON sedimetra.entries FOR EACH ROW "
                       "EXECUTE FUNCTION sedimetra.stamp_row()"),
        QStringLiteral("DROP TRIGGER IF EXISTS sources_stamped ON sedimetra.sources"),
        QStringLiteral("CREATE TRIGGER sources_stamped BEFORE INSERT ON sedimetra.sources FOR EACH ROW "
                       "EXECUTE FUNCTION sedimetra.stamp_row()"),
        // The entry a change of `project` is recorded under: the one this
        // transaction made for it, by this login, and not carried from a
        // file; else one of its own ("sql"). A session names its entry in
        // the setting sedimetra.entry, which it could set to any number.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.entry_for(project integer) RETURNS bigint LANGUAGE plpgsql "
            "SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$\n"
            "DECLARE\n"
            "  entry bigint;\n"
            "BEGIN\n"
            "  PERFORM pg_catalog.pg_advisory_xact_lock(%1, project);\n"
            "  entry := nullif(current_setting('sedimetra.entry', true), '')::bigint;\n"
            "  IF entry IS NULL OR NOT EXISTS (SELECT FROM sedimetra.entries WHERE project_id = project\n"
            "                                   AND id = entry AND txid = pg_catalog.txid_current()\n"
            "                                   AND who = session_user AND carriedby IS NULL) THEN\n"
            "    INSERT INTO sedimetra.entries (project_id, how) VALUES (project, 'sql') RETURNING id INTO entry;\n"
            "    PERFORM set_config('sedimetra.entry', entry::text, true);\n"
            "  END IF;\n"
            "  RETURN entry;\n"
            "END $$").arg(projectWriteLock),
        // The history's chain (see historyHash in provenance.h): each row's
        // hash over its fields and the project's previous row's hash, set as
        // the row is written. Rows are written under the project's write
        // lock, so that their ids follow one another in commit order.
        // A field as it enters the hash: "<bytes>:<text>|", or "-|" for none.
        // Without a pinned search_path (every name in it is qualified) so
        // that it is inlined where it is used.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.chain_field(f text) RETURNS text LANGUAGE sql IMMUTABLE AS $$\n"
            "  SELECT CASE WHEN f IS NULL THEN '-|' ELSE pg_catalog.octet_length(f)::text OPERATOR(pg_catalog.||) ':'\n"
            "    OPERATOR(pg_catalog.||) f OPERATOR(pg_catalog.||) '|' END\n"
            "$$"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.chain_text(id bigint, entryid bigint, writtenat timestamptz, "
            "kind text, oldvalue text, newvalue text) RETURNS text LANGUAGE sql IMMUTABLE AS $$\n"
            "  SELECT sedimetra.chain_field(id::text) || sedimetra.chain_field(entryid::text)\n"
            "    || sedimetra.chain_field(pg_catalog.floor(pg_catalog.date_part('epoch', writtenat))::bigint::text)\n"
            "    || sedimetra.chain_field(kind) || sedimetra.chain_field(oldvalue) || sedimetra.chain_field(newvalue)\n"
            "$$"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.history_hash(previous text, id bigint, entryid bigint, "
            "writtenat timestamptz, kind text, oldvalue text, newvalue text) RETURNS text LANGUAGE sql IMMUTABLE "
            "AS $$\n"
            "  SELECT pg_catalog.encode(pg_catalog.sha256(pg_catalog.convert_to(\n"
            "    sedimetra.chain_text(id, entryid, writtenat, kind, oldvalue, newvalue) || coalesce(previous, ''),\n"
            "    'UTF8')), 'hex')\n"
            "$$"),
        // A row written one at a time: chained to the project's last row.
        // A row the schema's own functions chained already (insert_history)
        // keeps its hash. Without a pinned search_path, for speed: it runs
        // inside those functions (whose path is pinned) and names nothing
        // unqualified.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.chain_history() RETURNS trigger LANGUAGE plpgsql AS $$\n"
            "BEGIN\n"
            "  IF TG_TABLE_SCHEMA OPERATOR(pg_catalog.<>) 'sedimetra' OR TG_TABLE_NAME OPERATOR(pg_catalog.<>) "
            "'history'\n"
            "     OR TG_LEVEL OPERATOR(pg_catalog.<>) 'ROW' OR TG_WHEN OPERATOR(pg_catalog.<>) 'BEFORE'\n"
            "     OR TG_OP OPERATOR(pg_catalog.<>) 'INSERT' THEN\n"
            "    RAISE EXCEPTION 'sedimetra.chain_history() chains the rows of sedimetra.history only' "
            "USING ERRCODE = '42501';\n"
            "  END IF;\n"
            "  IF NEW.hash IS NOT NULL AND current_user OPERATOR(pg_catalog.=) (SELECT r.rolname\n"
            "      FROM pg_catalog.pg_class c JOIN pg_catalog.pg_roles r ON r.oid OPERATOR(pg_catalog.=) c.relowner\n"
            "      WHERE c.oid OPERATOR(pg_catalog.=) TG_RELID) THEN\n"
            "    RETURN NEW;\n"
            "  END IF;\n"
            "  PERFORM pg_catalog.pg_advisory_xact_lock(%1, NEW.project_id);\n"
            "  NEW.hash := sedimetra.history_hash((SELECT h.hash FROM sedimetra.history h\n"
            "      WHERE h.project_id OPERATOR(pg_catalog.=) NEW.project_id AND h.id OPERATOR(pg_catalog.<) NEW.id\n"
            "      ORDER BY h.id DESC LIMIT 1),\n"
            "    NEW.id, NEW.entryid, NEW.writtenat, NEW.kind, NEW.oldvalue, NEW.newvalue);\n"
            "  RETURN NEW;\n"
            "END $$").arg(projectWriteLock),
        // Many rows at once, chained as they are made: `rows` (a jsonb array
        // of entryid, writtenat, kind, cjno, cjdno, oldvalue, newvalue,
        // label, in order) are given ids after the project's write lock is
        // held, their hashes are computed in one pass, and they are inserted
        // in one statement. Called by the schema's functions alone.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.insert_history(project integer, rows_given jsonb) RETURNS void "
            "LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $$\n"
            "DECLARE\n"
            "  ids bigint[];\n"
            "  texts text[];\n"
            "  hashes text[];\n"
            "  previous text;\n"
            "  i integer;\n"
            "BEGIN\n"
            "  IF rows_given IS NULL OR pg_catalog.jsonb_array_length(rows_given) = 0 THEN\n"
            "    RETURN;\n"
            "  END IF;\n"
            "  PERFORM pg_catalog.pg_advisory_xact_lock(%1, project);\n"
            "  SELECT h.hash INTO previous FROM sedimetra.history h WHERE h.project_id = project\n"
            "    ORDER BY h.id DESC LIMIT 1;\n"
            "  SELECT pg_catalog.array_agg(m.id ORDER BY m.o), pg_catalog.array_agg(\n"
            "           sedimetra.chain_text(m.id, m.entryid, m.t, m.kind, m.oldvalue, m.newvalue) ORDER BY m.o)\n"
            "    INTO ids, texts\n"
            "    FROM (SELECT x.o, pg_catalog.nextval('sedimetra.history_id_seq'::pg_catalog.regclass) AS id,\n"
            "                 x.entryid, coalesce(x.writtenat::timestamptz, now()) AS t, x.kind, x.oldvalue, x.newvalue\n"
            "          FROM (SELECT * FROM ROWS FROM (pg_catalog.jsonb_to_recordset(rows_given) AS (\n"
            "                entryid bigint, writtenat text, kind text, cjno integer, cjdno integer, oldvalue text,\n"
            "                newvalue text, label text)) WITH ORDINALITY AS x(entryid, writtenat, kind, cjno, cjdno,\n"
            "                oldvalue, newvalue, label, o) ORDER BY x.o) x) m;\n"
            "  hashes := pg_catalog.array_fill(NULL::text, ARRAY[pg_catalog.cardinality(texts)]);\n"
            "  FOR i IN 1 .. pg_catalog.cardinality(texts) LOOP\n"
            "    previous := pg_catalog.encode(pg_catalog.sha256(pg_catalog.convert_to(texts[i] || coalesce(previous, ''),\n"
            "                                                                          'UTF8')), 'hex');\n"
            "    hashes[i] := previous;\n"
            "  END LOOP;\n"
            "  INSERT INTO sedimetra.history (project_id, id, entryid, writtenat, kind, cjno, cjdno, oldvalue, newvalue,\n"
            "                                 label, hash)\n"
            "    SELECT project, u.id, x.entryid, coalesce(x.writtenat::timestamptz, now()), x.kind, x.cjno, x.cjdno,\n"
            "           x.oldvalue, x.newvalue, x.label, u.hash\n"
            "    FROM ROWS FROM (pg_catalog.jsonb_to_recordset(rows_given) AS (entryid bigint, writtenat text,\n"
            "         kind text, cjno integer, cjdno integer, oldvalue text, newvalue text, label text))\n"
            "         WITH ORDINALITY AS x(entryid, writtenat, kind, cjno, cjdno, oldvalue, newvalue, label, o)\n"
            "    JOIN ROWS FROM (pg_catalog.unnest(ids), pg_catalog.unnest(hashes)) WITH ORDINALITY AS u(id, hash, o)\n"
            "      ON u.o = x.o\n"
            "    ORDER BY x.o;\n"
            "END $$").arg(projectWriteLock),
        QStringLiteral("DROP TRIGGER IF EXISTS history_chained ON sedimetra.history"),
        QStringLiteral("CREATE TRIGGER history_chained BEFORE INSERT ON sedimetra.history FOR EACH ROW "
                       "EXECUTE FUNCTION sedimetra.chain_history()"),
        // The elevations' history, a statement at a time: a push of tens of
        // thousands of heights is one insert into the history, not one each.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.record_elevations() RETURNS trigger LANGUAGE plpgsql "
            "SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$\n"
            "DECLARE\n"
            "  project integer;\n"
            "  entry bigint;\n"
            "BEGIN\n"
            "  IF TG_TABLE_SCHEMA <> 'sedimetra' OR TG_TABLE_NAME <> 'sur2' OR TG_LEVEL <> 'STATEMENT'\n"
            "     OR TG_WHEN <> 'AFTER' THEN\n"
            "    RAISE EXCEPTION 'sedimetra.record_elevations() records the changes of sedimetra.sur2 only' "
            "USING ERRCODE = '42501';\n"
            "  END IF;\n"
            "  IF TG_OP = 'INSERT' THEN\n"
            "    FOR project IN SELECT DISTINCT n.project_id FROM new_rows n\n"
            "                   JOIN sedimetra.projects p ON p.id = n.project_id LOOP\n"
            "      entry := sedimetra.entry_for(project);\n"
            "      PERFORM sedimetra.insert_history(project, (SELECT pg_catalog.jsonb_agg(pg_catalog.jsonb_build_object(\n"
            "        'entryid', entry, 'kind', 'H', 'cjno', n.cjno, 'cjdno', n.cjdno, 'newvalue', n.pointh::text)\n"
            "        ORDER BY n.cjno, n.cjdno) FROM new_rows n WHERE n.project_id = project));\n"
            "    END LOOP;\n"
            "  ELSIF TG_OP = 'UPDATE' THEN\n"
            "    FOR project IN SELECT DISTINCT n.project_id FROM new_rows n\n"
            "                   JOIN old_rows o ON o.project_id = n.project_id AND o.cjno = n.cjno\n"
            "                   AND o.cjdno = n.cjdno AND o.pointh IS DISTINCT FROM n.pointh\n"
            "                   JOIN sedimetra.projects p ON p.id = n.project_id LOOP\n"
            "      entry := sedimetra.entry_for(project);\n"
            "      PERFORM sedimetra.insert_history(project, (SELECT pg_catalog.jsonb_agg(pg_catalog.jsonb_build_object(\n"
            "        'entryid', entry, 'kind', 'H', 'cjno', n.cjno, 'cjdno', n.cjdno, 'oldvalue', o.pointh::text,\n"
            "        'newvalue', n.pointh::text) ORDER BY n.cjno, n.cjdno) FROM new_rows n\n"
            "        JOIN old_rows o ON o.project_id = n.project_id AND o.cjno = n.cjno AND o.cjdno = n.cjdno\n"
            "        WHERE n.project_id = project AND o.pointh IS DISTINCT FROM n.pointh));\n"
            "    END LOOP;\n"
            "  ELSE\n"
            "    FOR project IN SELECT DISTINCT o.project_id FROM old_rows o\n"
            "                   JOIN sedimetra.projects p ON p.id = o.project_id LOOP\n"
            "      entry := sedimetra.entry_for(project);\n"
            "      PERFORM sedimetra.insert_history(project, (SELECT pg_catalog.jsonb_agg(pg_catalog.jsonb_build_object(\n"
            "        'entryid', entry, 'kind', 'H', 'cjno', o.cjno, 'cjdno', o.cjdno, 'oldvalue', o.pointh::text)\n"
            "        ORDER BY o.cjno, o.cjdno) FROM old_rows o WHERE o.project_id = project));\n"
            "      DELETE FROM sedimetra.origins g USING old_rows o WHERE o.project_id = project\n"
            "        AND g.project_id = project AND g.cjno = o.cjno AND g.cjdno = o.cjdno;\n"
            "    END LOOP;\n"
            "  END IF;\n"
            "  RETURN NULL;\n"
            "END $$"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION sedimetra.record_history() RETURNS trigger LANGUAGE plpgsql "
            "SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$\n"
            "DECLARE\n"
            "  project integer;\n"
            "  entry bigint;\n"
            "BEGIN\n"
            "  IF TG_TABLE_SCHEMA <> 'sedimetra' OR TG_TABLE_NAME NOT IN ('sur1', 'sur3', 'origins')\n"
            "     OR TG_LEVEL <> 'ROW' OR TG_WHEN <> 'AFTER' THEN\n"
            "    RAISE EXCEPTION 'sedimetra.record_history() records the changes of the sedimetra record "
            "tables only' USING ERRCODE = '42501';\n"
            "  END IF;\n"
            "  IF TG_OP = 'DELETE' THEN project := OLD.project_id; ELSE project := NEW.project_id; END IF;\n"
            "  -- A project being removed takes its history with it.\n"
            "  IF NOT EXISTS (SELECT FROM sedimetra.projects WHERE id = project) THEN\n"
            "    RETURN NULL;\n"
            "  END IF;\n"
            "  -- An origin replaced or removed by a login: what it said is kept\n"
            "  -- (the schema's own moves and deletions are not run through here).\n"
            "  IF TG_TABLE_NAME = 'origins' THEN\n"
            "    entry := sedimetra.entry_for(project);\n"
            "    INSERT INTO sedimetra.history (project_id, entryid, kind, cjno, cjdno, oldvalue, newvalue)\n"
            "      VALUES (project, entry, 'O', OLD.cjno, OLD.cjdno, sedimetra.origin_text(OLD.entryid, OLD.line,\n"
            "              OLD.station, OLD.adjusted, OLD.sigma),\n"
            "              CASE WHEN TG_OP = 'UPDATE' THEN sedimetra.origin_text(NEW.entryid, NEW.line, NEW.station,\n"
            "                   NEW.adjusted, NEW.sigma) END);\n"
            "    RETURN NULL;\n"
            "  END IF;\n"
            "  IF TG_TABLE_NAME = 'sur1' AND TG_OP = 'UPDATE' THEN\n"
            "    IF OLD.cjno <> NEW.cjno THEN\n"
            "      UPDATE sedimetra.history SET cjno = NEW.cjno WHERE project_id = project AND cjno = OLD.cjno;\n"
            "      UPDATE sedimetra.origins SET cjno = NEW.cjno WHERE project_id = project AND cjno = OLD.cjno;\n"
            "    END IF;\n"
            "  END IF;\n"
            "  entry := sedimetra.entry_for(project);\n"
            "  IF TG_TABLE_NAME = 'sur1' THEN\n"
            "    IF TG_OP = 'INSERT' THEN\n"
            "      INSERT INTO sedimetra.history (project_id, entryid, kind, cjno, oldvalue, newvalue)\n"
            "        SELECT project, entry, k, NEW.cjno, NULL, n FROM (VALUES (1, 'D', NEW.mydate),\n"
            "          (2, 'N', NEW.name), (3, 'L', NEW.layers)) c(o, k, n) WHERE n IS NOT NULL ORDER BY o;\n"
            "    ELSIF TG_OP = 'UPDATE' THEN\n"
            "      INSERT INTO sedimetra.history (project_id, entryid, kind, cjno, oldvalue, newvalue)\n"
            "        SELECT project, entry, k, NEW.cjno, o, n FROM (VALUES ('D', OLD.mydate, NEW.mydate),\n"
            "          ('N', OLD.name, NEW.name), ('L', OLD.layers, NEW.layers)) c(k, o, n)\n"
            "        WHERE o IS DISTINCT FROM n;\n"
            "    ELSIF TG_OP = 'DELETE' THEN\n"
            "      INSERT INTO sedimetra.history (project_id, entryid, kind, cjno, oldvalue)\n"
            "        VALUES (project, entry, 'E', OLD.cjno, btrim(coalesce(OLD.mydate, '') || ' ' ||\n"
            "                coalesce(OLD.name, '') || ' ' || coalesce(OLD.layers, '')));\n"
            "      UPDATE sedimetra.history SET cjno = NULL, label = btrim(coalesce(label || ' ', '') ||\n"
            "             coalesce(OLD.mydate, '') || ' ' || coalesce(OLD.name, ''))\n"
            "        WHERE project_id = project AND cjno = OLD.cjno;\n"
            "      DELETE FROM sedimetra.origins WHERE project_id = project AND cjno = OLD.cjno;\n"
            "    END IF;\n"
            "  ELSE\n"
            "    IF TG_OP = 'INSERT' THEN\n"
            "      INSERT INTO sedimetra.history (project_id, entryid, kind, cjdno, oldvalue, newvalue)\n"
            "        VALUES (project, entry, 'P', NEW.cjdno, NULL, NEW.pointname);\n"
            "    ELSIF TG_OP = 'UPDATE' THEN\n"
            "      IF OLD.pointname IS DISTINCT FROM NEW.pointname THEN\n"
            "        INSERT INTO sedimetra.history (project_id, entryid, kind, cjdno, oldvalue, newvalue)\n"
            "          VALUES (project, entry, 'P', NEW.cjdno, OLD.pointname, NEW.pointname);\n"
            "      END IF;\n"
            "      IF OLD.x IS DISTINCT FROM NEW.x OR OLD.y IS DISTINCT FROM NEW.y THEN\n"
            "        INSERT INTO sedimetra.history (project_id, entryid, kind, cjdno, oldvalue, newvalue)\n"
            "          VALUES (project, entry, 'XY', NEW.cjdno, OLD.x::text || ',' || OLD.y::text,\n"
            "                  NEW.x::text || ',' || NEW.y::text);\n"
            "      END IF;\n"
            "    ELSIF TG_OP = 'DELETE' THEN\n"
            "      INSERT INTO sedimetra.history (project_id, entryid, kind, cjdno, oldvalue)\n"
            "        VALUES (project, entry, 'T', OLD.cjdno, OLD.pointname);\n"
            "      UPDATE sedimetra.history SET cjdno = NULL, label = btrim(coalesce(label || ' ', '') ||\n"
            "             coalesce(OLD.pointname, '')) WHERE project_id = project AND cjdno = OLD.cjdno;\n"
            "      DELETE FROM sedimetra.origins WHERE project_id = project AND cjdno = OLD.cjdno;\n"
            "    END IF;\n"
            "  END IF;\n"
            "  RETURN NULL;\n"
            "END $$")};
    // A project's own record of where its values came from, carried from
    // a file by a push: the files, entries (marked as carried, by whom),
    // origins and history, with their ids made the server's. Only a writer
    // of the project may carry into it; the server's own history of the
    // push stands beside it.
    // One kept file of a push, with its bytes: one file a call, so that no
    // document holds them all. Its SHA-256 and size are computed here; the
    // rest is what the file says. A file the project keeps already is kept
    // once.
    statements << QStringLiteral(
        "CREATE OR REPLACE FUNCTION sedimetra.carry_source(project integer, described jsonb, bytes bytea) "
        "RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$\n"
        "BEGIN\n"
        SD_WRITER_CHECK
        "  IF bytes IS NULL THEN\n"
        "    RETURN;\n"
        "  END IF;\n"
        "  INSERT INTO sedimetra.sources (project_id, name, sha256, size, readat, readby, instrument, closure,\n"
        "                                 tolerance, data)\n"
        "    SELECT project, coalesce(x.name, ''), pg_catalog.encode(pg_catalog.sha256(bytes), 'hex'),\n"
        "           pg_catalog.length(bytes), x.readat::timestamptz, x.readby, x.instrument, x.closure, x.tolerance,\n"
        "           bytes\n"
        "    FROM pg_catalog.jsonb_to_record(described) AS x(name text, readat text, readby text, instrument text,\n"
        "         closure float8, tolerance float8)\n"
        "    ON CONFLICT (project_id, sha256) DO NOTHING;\n"
        "END $$");
    // Nothing here names an object a caller could make first (no
    // temporary table, every name schema-qualified): the ids old and new are
    // matched in jsonb values, never in a table.
    statements << QStringLiteral(
        "CREATE OR REPLACE FUNCTION sedimetra.carry_provenance(project integer, carried jsonb) "
        "RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$\n"
        "DECLARE\n"
        "  source_ids jsonb;\n"
        "  entry_ids jsonb;\n"
        "  unnamed bigint;\n"
        "BEGIN\n"
        SD_WRITER_CHECK
        "  PERFORM pg_catalog.pg_advisory_xact_lock(%1, project);\n"
        "  -- A kept file's SHA-256 and size are those of its bytes, computed here.\n"
        "  INSERT INTO sedimetra.sources (project_id, name, sha256, size, readat, readby, instrument, closure,\n"
        "                                 tolerance, data)\n"
        "    SELECT project, x.name, CASE WHEN b.bytes IS NULL THEN pg_catalog.lower(x.sha256)\n"
        "             ELSE pg_catalog.encode(pg_catalog.sha256(b.bytes), 'hex') END,\n"
        "           coalesce(pg_catalog.length(b.bytes)::bigint, x.size), x.readat::timestamptz, x.readby,\n"
        "           x.instrument, x.closure, x.tolerance, b.bytes\n"
        "    FROM pg_catalog.jsonb_to_recordset(carried->'sources') AS x(id bigint, name text, sha256 text,\n"
        "         size bigint, readat text, readby text, instrument text, closure float8, tolerance float8,\n"
        "         data text)\n"
        "    CROSS JOIN LATERAL (SELECT pg_catalog.decode(x.data, 'base64') AS bytes) b\n"
        "    ON CONFLICT (project_id, sha256) DO NOTHING;\n"
        "  SELECT coalesce(pg_catalog.jsonb_object_agg(x.id::text, s.id), '{}') INTO source_ids\n"
        "    FROM pg_catalog.jsonb_to_recordset(carried->'sources') AS x(id bigint, sha256 text, data text)\n"
        "    JOIN sedimetra.sources s ON s.project_id = project AND s.sha256 = CASE WHEN x.data IS NULL\n"
        "      THEN pg_catalog.lower(x.sha256)\n"
        "      ELSE pg_catalog.encode(pg_catalog.sha256(pg_catalog.decode(x.data, 'base64')), 'hex') END;\n"
        "  SELECT coalesce(pg_catalog.jsonb_object_agg(x.id::text,\n"
        "           pg_catalog.nextval('sedimetra.entries_id_seq'::pg_catalog.regclass)), '{}') INTO entry_ids\n"
        "    FROM pg_catalog.jsonb_to_recordset(carried->'entries') AS x(id bigint);\n"
        "  -- Carried entries are what the file says, marked with who carried\n"
        "  -- them; they belong to no transaction, so no write can be made\n"
        "  -- under one of them.\n"
        "  INSERT INTO sedimetra.entries (project_id, id, writtenat, who, how, sourceid, sheet, txid, carriedby)\n"
        "    SELECT project, (entry_ids->>x.id::text)::bigint, coalesce(x.writtenat::timestamptz, now()),\n"
        "           coalesce(x.who, ''),\n"
        "           coalesce(x.how, ''), (source_ids->>x.sourceid::text)::bigint, x.sheet, NULL, session_user\n"
        "    FROM pg_catalog.jsonb_to_recordset(carried->'entries') AS x(id bigint, writtenat text, who text,\n"
        "         how text, sourceid bigint, sheet text);\n"
        "  -- A carried row that names no carried entry is carried all the same,\n"
        "  -- under an entry that says so.\n"
        "  IF EXISTS (SELECT FROM pg_catalog.jsonb_to_recordset(carried->'history') AS x(entryid bigint)\n"
        "             WHERE (entry_ids->>coalesce(x.entryid::text, '')) IS NULL)\n"
        "     OR EXISTS (SELECT FROM pg_catalog.jsonb_to_recordset(carried->'origins') AS x(entryid bigint)\n"
        "                WHERE (entry_ids->>coalesce(x.entryid::text, '')) IS NULL) THEN\n"
        "    INSERT INTO sedimetra.entries (project_id, writtenat, who, how, txid, carriedby)\n"
        "      VALUES (project, now(), '', '', NULL, session_user) RETURNING id INTO unnamed;\n"
        "  END IF;\n"
        "  INSERT INTO sedimetra.origins (project_id, cjno, cjdno, entryid, line, station, adjusted, sigma)\n"
        "    SELECT project, x.cjno, x.cjdno, coalesce((entry_ids->>x.entryid::text)::bigint, unnamed), x.line,\n"
        "           x.station, x.adjusted, x.sigma\n"
        "    FROM pg_catalog.jsonb_to_recordset(carried->'origins') AS x(cjno integer, cjdno integer,\n"
        "         entryid bigint, line integer, station text, adjusted float8, sigma float8)\n"
        "    ON CONFLICT (project_id, cjno, cjdno) DO UPDATE SET entryid = EXCLUDED.entryid, line = EXCLUDED.line,\n"
        "      station = EXCLUDED.station, adjusted = EXCLUDED.adjusted, sigma = EXCLUDED.sigma;\n"
        "  PERFORM sedimetra.insert_history(project, (SELECT pg_catalog.jsonb_agg(pg_catalog.jsonb_build_object(\n"
        "      'entryid', coalesce((entry_ids->>x.entryid::text)::bigint, unnamed),\n"
        "      'writtenat', coalesce(x.writtenat::timestamptz, now()), 'kind', x.kind, 'cjno', x.cjno,\n"
        "      'cjdno', x.cjdno, 'oldvalue', x.oldvalue, 'newvalue', x.newvalue, 'label', x.label) ORDER BY x.id)\n"
        "    FROM pg_catalog.jsonb_to_recordset(carried->'history') AS x(id bigint, entryid bigint,\n"
        "         writtenat text, kind text, cjno integer, cjdno integer, oldvalue text, newvalue text,\n"
        "         label text)\n"
        "    -- A row the project has already (carried before, or pulled from here\n"
        "    -- and pushed back) is kept once.\n"
        "    WHERE NOT EXISTS (SELECT FROM sedimetra.history h WHERE h.project_id = project\n"
        "      AND pg_catalog.concat_ws(E'\\x1f', h.kind, coalesce(h.cjno::text, E'\\x01'),\n"
        "            coalesce(h.cjdno::text, E'\\x01'), coalesce(h.oldvalue, E'\\x01'), coalesce(h.newvalue, E'\\x01'),\n"
        "            pg_catalog.floor(pg_catalog.date_part('epoch', h.writtenat))::bigint::text)\n"
        "        = pg_catalog.concat_ws(E'\\x1f', x.kind, coalesce(x.cjno::text, E'\\x01'),\n"
        "            coalesce(x.cjdno::text, E'\\x01'), coalesce(x.oldvalue, E'\\x01'), coalesce(x.newvalue, E'\\x01'),\n"
        "            pg_catalog.floor(pg_catalog.date_part('epoch', coalesce(x.writtenat::timestamptz, now())))::bigint::text))));\n"
        "END $$").arg(projectWriteLock);
    const std::pair<const char *, const char *> recorded[] = {{"sur1", "INSERT OR UPDATE OR DELETE"},
                                                              {"sur3", "INSERT OR UPDATE OR DELETE"}};
    for (const auto &[table, events] : recorded) {
        const QString name = QLatin1String(table);
        statements << QStringLiteral("DROP TRIGGER IF EXISTS %1_history ON sedimetra.%1").arg(name)
                   << QStringLiteral("CREATE TRIGGER %1_history AFTER %2 ON sedimetra.%1 FOR EACH ROW "
                                     "EXECUTE FUNCTION sedimetra.record_history()")
                          .arg(name, QLatin1String(events));
    }
    // An origin as words the history keeps: "entry 12, line 8, station 2,
    // adjusted 10.2501, sigma 0.3" (what is not there is left out).
    statements << QStringLiteral(
        "CREATE OR REPLACE FUNCTION sedimetra.origin_text(entryid bigint, line integer, station text, "
        "adjusted double precision, sigma double precision) RETURNS text LANGUAGE sql IMMUTABLE "
        "SET search_path = pg_catalog, pg_temp AS $$\n"
        "  SELECT pg_catalog.concat_ws(', ', 'entry ' || entryid, 'line ' || line, 'station ' || station,\n"
        "                              'adjusted ' || adjusted, 'sigma ' || sigma)\n"
        "$$");
    // Origins a login replaces or removes; the schema's own functions (a
    // carried file, renumbering, deletions that follow an epoch or point)
    // write them as the owner and are recorded where they are made.
    statements << QStringLiteral("DROP TRIGGER IF EXISTS origins_history ON sedimetra.origins")
               << QStringLiteral("CREATE TRIGGER origins_history AFTER UPDATE OR DELETE ON sedimetra.origins "
                                 "FOR EACH ROW WHEN (current_user <> 'sedimetra_owner') "
                                 "EXECUTE FUNCTION sedimetra.record_history()");
    // A record's key (its project, epoch and point numbers) is changed by
    // the schema's own functions alone: moved by plain SQL, an elevation
    // would change epoch or point without a trace. An origin names an entry
    // this login made in this transaction, so that it always says truly who
    // wrote it and when. With the caller's rights: it refuses, it writes
    // nothing.
    statements << QStringLiteral(
        "CREATE OR REPLACE FUNCTION sedimetra.guard_keys() RETURNS trigger LANGUAGE plpgsql "
        "SET search_path = pg_catalog, pg_temp AS $$\n"
        "BEGIN\n"
        "  IF current_user = (SELECT r.rolname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_roles r\n"
        "                     ON r.oid = c.relowner WHERE c.oid = TG_RELID) THEN\n"
        "    RETURN NEW;\n"
        "  END IF;\n"
        "  IF TG_OP = 'UPDATE' AND (OLD.project_id IS DISTINCT FROM NEW.project_id\n"
        "      OR pg_catalog.to_jsonb(OLD)->'cjno' IS DISTINCT FROM pg_catalog.to_jsonb(NEW)->'cjno'\n"
        "      OR pg_catalog.to_jsonb(OLD)->'cjdno' IS DISTINCT FROM pg_catalog.to_jsonb(NEW)->'cjdno') THEN\n"
        "    RAISE EXCEPTION 'epoch and point numbers are changed by sedimetra.renumber_epochs() only'\n"
        "      USING ERRCODE = 'SD002';\n"
        "  END IF;\n"
        "  IF TG_TABLE_NAME = 'origins' THEN\n"
        "    IF NOT EXISTS (SELECT FROM sedimetra.entries e WHERE e.project_id = NEW.project_id\n"
        "        AND e.id = NEW.entryid AND e.txid = pg_catalog.txid_current() AND e.who = session_user\n"
        "        AND e.carriedby IS NULL) THEN\n"
        "      RAISE EXCEPTION 'an origin names the entry its own transaction made' USING ERRCODE = 'SD003';\n"
        "    END IF;\n"
        "  END IF;\n"
        "  RETURN NEW;\n"
        "END $$");
    for (const char *table : {"sur1", "sur2", "sur3", "origins"}) {
        const QString name = QLatin1String(table);
        statements << QStringLiteral("DROP TRIGGER IF EXISTS %1_keys ON sedimetra.%1").arg(name)
                   << QStringLiteral("CREATE TRIGGER %1_keys BEFORE %2 ON sedimetra.%1 FOR EACH ROW "
                                     "EXECUTE FUNCTION sedimetra.guard_keys()")
                          .arg(name, name == QLatin1String("origins") ? QStringLiteral("INSERT OR UPDATE")
                                                                       : QStringLiteral("UPDATE"));
    }
    // The epochs from `first` on move up one number (step 1, an epoch
    // inserted before them) or down one (step -1, epoch `first` deleted);
    // their elevations move with them, their history and origins by the
    // epochs' trigger, and the move itself is a history row ('R': the first
    // number before and after).
    statements << QStringLiteral(
        "CREATE OR REPLACE FUNCTION sedimetra.renumber_epochs(project integer, first integer, step integer) "
        "RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$\n"
        "BEGIN\n"
        SD_WRITER_CHECK
        "  IF first IS NULL OR first < 0 OR step IS NULL OR step NOT IN (1, -1) THEN\n"
        "    RAISE EXCEPTION 'epochs move up or down one number from a number of 0 or more'\n"
        "      USING ERRCODE = '22023';\n"
        "  END IF;\n"
        "  IF step = -1 AND EXISTS (SELECT FROM sedimetra.sur1 WHERE project_id = project AND cjno = first) THEN\n"
        "    RAISE EXCEPTION 'epoch % is still there', first USING ERRCODE = '22023';\n"
        "  END IF;\n"
        "  IF NOT EXISTS (SELECT FROM sedimetra.sur1 WHERE project_id = project AND cjno >= first) THEN\n"
        "    RETURN;\n"
        "  END IF;\n"
        "  -- Numbers are unique: through negative ones, then to their places.\n"
        "  IF step = 1 THEN\n"
        "    UPDATE sedimetra.sur1 SET cjno = -cjno - 1 WHERE project_id = project AND cjno >= first;\n"
        "    UPDATE sedimetra.sur2 SET cjno = -cjno - 1 WHERE project_id = project AND cjno >= first;\n"
        "    UPDATE sedimetra.sur1 SET cjno = -cjno WHERE project_id = project AND cjno < 0;\n"
        "    UPDATE sedimetra.sur2 SET cjno = -cjno WHERE project_id = project AND cjno < 0;\n"
        "  ELSE\n"
        "    UPDATE sedimetra.sur1 SET cjno = -cjno WHERE project_id = project AND cjno > first;\n"
        "    UPDATE sedimetra.sur2 SET cjno = -cjno WHERE project_id = project AND cjno > first;\n"
        "    UPDATE sedimetra.sur1 SET cjno = -cjno - 1 WHERE project_id = project AND cjno < 0;\n"
        "    UPDATE sedimetra.sur2 SET cjno = -cjno - 1 WHERE project_id = project AND cjno < 0;\n"
        "  END IF;\n"
        "  INSERT INTO sedimetra.history (project_id, entryid, kind, oldvalue, newvalue)\n"
        "    VALUES (project, sedimetra.entry_for(project), 'R',\n"
        "            CASE WHEN step = 1 THEN first ELSE first + 1 END::text,\n"
        "            CASE WHEN step = 1 THEN first + 1 ELSE first END::text);\n"
        "END $$");
    // An elevation that looked like a slip, confirmed by a writer as
    // observed: a history row 'C' holding the value stored now, under the
    // login's own entry. The history is the server's alone to write.
    statements << QStringLiteral(
        "CREATE OR REPLACE FUNCTION sedimetra.confirm_elevation(project integer, target_epoch integer, "
        "target_point integer) RETURNS void LANGUAGE plpgsql SECURITY DEFINER "
        "SET search_path = pg_catalog, pg_temp AS $$\n"
        "DECLARE\n"
        "  stored text;\n"
        "BEGIN\n"
        SD_WRITER_CHECK
        "  SELECT s.pointh::text INTO stored FROM sedimetra.sur2 s\n"
        "    WHERE s.project_id = project AND s.cjno = target_epoch AND s.cjdno = target_point;\n"
        "  IF stored IS NULL THEN\n"
        "    RAISE EXCEPTION 'point % has no elevation in epoch %', target_point, target_epoch\n"
        "      USING ERRCODE = '22023';\n"
        "  END IF;\n"
        "  INSERT INTO sedimetra.history (project_id, entryid, kind, cjno, cjdno, oldvalue, newvalue)\n"
        "    VALUES (project, sedimetra.entry_for(project), 'C', target_epoch, target_point, stored, stored);\n"
        "END $$");
    statements << QStringLiteral("DROP TRIGGER IF EXISTS sur2_history ON sedimetra.sur2");
    const std::pair<const char *, const char *> elevationEvents[] = {
        {"inserted", "INSERT ON sedimetra.sur2 REFERENCING NEW TABLE AS new_rows"},
        {"updated", "UPDATE ON sedimetra.sur2 REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows"},
        {"deleted", "DELETE ON sedimetra.sur2 REFERENCING OLD TABLE AS old_rows"}};
    for (const auto &[suffix, event] : elevationEvents)
        statements << QStringLiteral("DROP TRIGGER IF EXISTS sur2_history_%1 ON sedimetra.sur2").arg(QLatin1String(suffix))
                   << QStringLiteral("CREATE TRIGGER sur2_history_%1 AFTER %2 FOR EACH STATEMENT "
                                     "EXECUTE FUNCTION sedimetra.record_elevations()")
                          .arg(QLatin1String(suffix), QLatin1String(event));
    return statements;
}

// Who may call the schema's functions: nobody by default (PostgreSQL
// grants EXECUTE to PUBLIC on every new function), then each role what it
// must. The rules' helpers are called by the policies with the caller's
// rights; count_change is called by its triggers alone, which needs no
// EXECUTE right, and without that right nobody can attach it to a table.
QStringList functionRights()
{
    return {QStringLiteral("REVOKE ALL ON ALL FUNCTIONS IN SCHEMA sedimetra "
                           "FROM PUBLIC, sedimetra_read, sedimetra_write, sedimetra_admin, sedimetra_member"),
            QStringLiteral("GRANT EXECUTE ON FUNCTION sedimetra.is_member(integer, boolean), "
                           "sedimetra.may_read(integer), sedimetra.may_write(integer), "
                           "sedimetra.login_writes() TO sedimetra_read, sedimetra_write, sedimetra_admin"),
            QStringLiteral("GRANT EXECUTE ON FUNCTION sedimetra.is_member(integer, boolean), "
                           "sedimetra.may_read(integer), sedimetra.may_write(integer), "
                           "sedimetra.login_writes() TO sedimetra_member"),
            QStringLiteral("GRANT EXECUTE ON FUNCTION sedimetra.create_project(text) TO sedimetra_write, sedimetra_admin"),
            // Each checks first that the login writes the project.
            QStringLiteral("GRANT EXECUTE ON FUNCTION sedimetra.carry_provenance(integer, jsonb), "
                           "sedimetra.carry_source(integer, jsonb, bytea), "
                           "sedimetra.renumber_epochs(integer, integer, integer), "
                           "sedimetra.confirm_elevation(integer, integer, integer) "
                           "TO sedimetra_write, sedimetra_admin, sedimetra_member"),
            QStringLiteral("GRANT EXECUTE ON FUNCTION sedimetra.grant_project(text, text, text) "
                           "TO sedimetra_admin")};
}

// Every object of the schema owned by sedimetra_owner, whoever made it:
// the functions that run with their owner's rights then have no more than
// the schema's own (never those of the superuser who ran `server init`).
QStringList ownership()
{
    return {QStringLiteral(
        "DO $$ DECLARE\n"
        "  o record;\n"
        "BEGIN\n"
        "  -- The schemas first: an object's new owner must be able to create in its schema.\n"
        "  IF (SELECT nspowner FROM pg_catalog.pg_namespace WHERE nspname = 'sedimetra')\n"
        "     <> 'sedimetra_owner'::pg_catalog.regrole THEN\n"
        "    ALTER SCHEMA sedimetra OWNER TO sedimetra_owner;\n"
        "  END IF;\n"
        "  IF (SELECT nspowner FROM pg_catalog.pg_namespace WHERE nspname = 'sedimetra_project')\n"
        "     <> 'sedimetra_owner'::pg_catalog.regrole THEN\n"
        "    ALTER SCHEMA sedimetra_project OWNER TO sedimetra_owner;\n"
        "  END IF;\n"
        "  FOR o IN SELECT c.oid::pg_catalog.regclass AS name, c.relkind FROM pg_catalog.pg_class c\n"
        "           JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace\n"
        "           WHERE n.nspname IN ('sedimetra', 'sedimetra_project') AND c.relkind IN ('r', 'v', 'p')\n"
        "           AND c.relowner <> 'sedimetra_owner'::pg_catalog.regrole LOOP\n"
        "    EXECUTE pg_catalog.format('ALTER %s %s OWNER TO sedimetra_owner',\n"
        "                              CASE o.relkind WHEN 'v' THEN 'VIEW' ELSE 'TABLE' END, o.name);\n"
        "  END LOOP;\n"
        "  FOR o IN SELECT p.oid::pg_catalog.regprocedure AS name FROM pg_catalog.pg_proc p\n"
        "           JOIN pg_catalog.pg_namespace n ON n.oid = p.pronamespace\n"
        "           WHERE n.nspname = 'sedimetra' AND p.proowner <> 'sedimetra_owner'::pg_catalog.regrole LOOP\n"
        "    EXECUTE pg_catalog.format('ALTER FUNCTION %s OWNER TO sedimetra_owner', o.name);\n"
        "  END LOOP;\n"

        "END $$")};
}

// The rules of the schema, made anew by every `server init`: the rights,
// the change counter, the session views and who may call what.
QStringList rules()
{
    return rightsStatements() + changeCounting() + historyRecording() + sessionViews() + functionRights()
           + ownership();
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
        if (auto done = runTransaction(server.db, rules()); !done)
            return failed(done.error());
        return QStringLiteral("服务器 %1 的沉降工程库已是第 %2 版，表未作修改；权限、变更计数和视图已更新。")
            .arg(displayUrl(address))
            .arg(serverSchemaVersion);
    }
    if (*version >= 1 && *version < serverSchemaVersion) {
        // In place. From version 1, whoever could write before (every
        // member of sedimetra_write) becomes a writer of every project there
        // is; projects made from now on follow the new rule. Version 3 adds
        // the points' positions and the plan drawing; version 4 takes the
        // schema's functions from those who need not call them, and shows
        // the members table only as far as each role may see it.
        QStringList upgrade;
        if (*version == 1)
            upgrade << QStringLiteral("CREATE TABLE sedimetra.members (project_id integer NOT NULL "
                                      "REFERENCES sedimetra.projects ON DELETE CASCADE, member name NOT "
                                      "NULL, can_write boolean NOT NULL, PRIMARY KEY (project_id, member))")
                    << QStringLiteral("INSERT INTO sedimetra.members SELECT p.id, r.rolname, true "
                                      "FROM sedimetra.projects p, pg_auth_members a "
                                      "JOIN pg_roles r ON r.oid = a.member "
                                      "WHERE a.roleid = 'sedimetra_write'::regrole");
        upgrade << positionStatements() << provenanceStatements()
                << QStringLiteral("UPDATE sedimetra.schema_version SET version = %1").arg(serverSchemaVersion);
        upgrade += rules();
        // The history there is chained as it stands, project by project,
        // once: a chain made since is checked, never made again (that would
        // hide a change made outside the program).
        if (*version < 6)
            upgrade << QStringLiteral(
            "DO $$ DECLARE\n"
            "  r record;\n"
            "  previous text;\n"
            "  current_project integer;\n"
            "BEGIN\n"
            "  FOR r IN SELECT project_id, id, entryid, writtenat, kind, oldvalue, newvalue FROM sedimetra.history\n"
            "           ORDER BY project_id, id LOOP\n"
            "    IF current_project IS DISTINCT FROM r.project_id THEN\n"
            "      current_project := r.project_id;\n"
            "      previous := NULL;\n"
            "    END IF;\n"
            "    previous := sedimetra.history_hash(previous, r.id, r.entryid, r.writtenat, r.kind, r.oldvalue,\n"
            "                                       r.newvalue);\n"
            "    UPDATE sedimetra.history SET hash = previous WHERE project_id = r.project_id AND id = r.id;\n"
            "  END LOOP;\n"
            "END $$");
        if (auto done = runTransaction(server.db, upgrade); !done)
            return failed(done.error());
        const QString upgraded = QStringLiteral("已把服务器 %1 的沉降工程库从第 %2 版升级到第 %3 版")
                                     .arg(displayUrl(address))
                                     .arg(*version)
                                     .arg(serverSchemaVersion);
        const QString confirmed = QStringLiteral("可疑高程经核对确认的，确认也记入历史。");
        if (*version == 6)
            return upgraded + QStringLiteral("：") + confirmed;
        const QString chain = QStringLiteral("历史记录逐条链式校验（SHA-256），可用 sedimetra-batch verify 核对；"
                                             "库中对象归 sedimetra_owner（不能登录、不能改角色）所有；")
                              + confirmed;
        if (*version == 5)
            return upgraded + QStringLiteral("：") + chain;
        const QString provenance = QStringLiteral("每个高程记下来历，每次修改由服务器记入历史（写入者不能改写历史），"
                                                  "调入的原始文件存入工程；")
                                   + chain;
        if (*version == 4)
            return upgraded + QStringLiteral("：") + provenance;
        const QString rights = QStringLiteral("库中函数只由需要的角色调用，成员表只对管理员、本人和该工程的写入者可见；")
                               + provenance;
        if (*version == 3)
            return upgraded + QStringLiteral("：") + rights;
        if (*version == 2)
            return upgraded + QStringLiteral("：测点可存坐标，工程可存平面图；") + rights;
        QSqlQuery counts(server.db);
        QString members = QStringLiteral("?");
        if (counts.exec(QStringLiteral("SELECT count(DISTINCT member) FROM sedimetra.members"))
            && counts.next())
            members = counts.value(0).toString();
        return upgraded
               + QStringLiteral("：原有的 %1 个写入角色成员成为每个已有工程的写入者；新建的工程只由建立者写入，"
                                "其他人需由 sedimetra_admin 授权；测点可存坐标，工程可存平面图；%2")
                     .arg(members, rights);
    }
    if (*version != 0)
        return fail(QStringLiteral("服务器 %1 的沉降工程库是第 %2 版，本程序只认第 %3 版")
                        .arg(displayUrl(address))
                        .arg(*version)
                        .arg(serverSchemaVersion));
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
    };
    if (auto made = runAll(server.db, schema + positionStatements() + provenanceStatements() + rules());
        !made) {
        server.db.rollback();
        return failed(made.error());
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
