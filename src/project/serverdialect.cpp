// A project on a PostgreSQL server: the session names its project, the
// server's views show it only that project's records, and row-level security
// holds it to its rights.
#include "project/storedialect.h"

#include "project/serverparts.h"
#include "project/serverstore.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <optional>

namespace {

class ServerDialect : public StoreDialect
{
public:
    Result<QSqlDatabase> open(const QString &url, const QString &password,
                              const QString &connection) override
    {
        auto address = parseServerUrl(url);
        if (!address)
            return address.failure();
        if (!password.isEmpty())
            address->password = password;
        if (address->project.isEmpty())
            return fail(QStringLiteral("地址中没有工程名（?project=…）"));
        auto db = connectToServer(*address, connection);
        if (!db)
            return db.failure();
        if (auto schema = checkServerSchema(*db, *address); !schema)
            return schema.failure();
        QSqlQuery path(*db);
        if (!path.exec(QStringLiteral("SET search_path TO sedimetra_project, sedimetra")))
            return fail(path.lastError().text());
        if (auto chosen = select(*db, address->project, true); !chosen)
            return chosen.failure();
        m_path = displayUrl(*address);
        return *db;
    }
    Result<void> openOn(QSqlDatabase &db, const QString &project) override
    {
        // A connection shared by many projects, read one after another: the
        // search path as every project's, set once; the project read-only.
        if (!db.driver()->property("sedimetra.searchPath").toBool()) {
            QSqlQuery path(db);
            if (!path.exec(QStringLiteral("SET search_path TO sedimetra_project, sedimetra")))
                return fail(path.lastError().text());
            db.driver()->setProperty("sedimetra.searchPath", true);
        }
        if (auto chosen = select(db, project, false); !chosen)
            return chosen;
        ServerAddress address;
        address.user = db.userName();
        address.host = db.hostName();
        address.port = db.port();
        address.database = db.databaseName();
        address.project = project;
        m_path = displayUrl(address);
        return success();
    }
    // Makes `project` the connection's project, when this login may read
    // it, in one statement; whether the login may write it is asked only
    // when it matters.
    //
    // The session sees its project's records under the file's table names:
    // the server's permanent views over the project the session names,
    // found (by the search path) before the shared tables. Nothing is
    // written to open a project, so a server whose disk is full still lets
    // everyone read.
    Result<void> select(QSqlDatabase &db, const QString &project, bool askWriting)
    {
        QSqlQuery query(db);
        // A project this role may not read is not seen at all.
        if (!query.prepare(QStringLiteral("SELECT id, %1, set_config('sedimetra.project', id::text, false) "
                                          "FROM sedimetra.projects WHERE name = ?")
                               .arg(askWriting ? QStringLiteral("sedimetra.may_write(id)") : QStringLiteral("false"))))
            return fail(query.lastError().text());
        query.addBindValue(project);
        if (!query.exec())
            return fail(query.lastError().text());
        if (!query.next())
            return fail(QStringLiteral("服务器上没有工程“%1”，或你没有读它的权限").arg(project));
        m_projectId = query.value(0).toInt();
        m_readOnly = !query.value(1).toBool();
        return success();
    }
    bool isServer() const override { return true; }
    bool readOnly() const override { return m_readOnly; }
    QString path() const override { return m_path; }

    QString caseless(const char *column) const override
    {
        return QStringLiteral("lower(%1) = lower(?)").arg(QLatin1String(column));
    }
    Result<void> checkWritable() const override
    {
        if (m_readOnly)
            return fail(QStringLiteral("工程文件是只读的"));
        return success();
    }
    // The driver's own transaction calls: BEGIN is no statement to prepare.
    Result<void> begin(QSqlDatabase &db) override
    {
        return db.transaction() ? success() : fail(failure(db.lastError()));
    }
    Result<void> commit(QSqlDatabase &db) override
    {
        return db.commit() ? success() : fail(failure(db.lastError()));
    }
    void rollback(QSqlDatabase &db) override { db.rollback(); }
    bool retryable(const QSqlError &error) const override
    {
        // SQLSTATE 40P01: deadlock detected; 40001: serialization failure.
        const QString code = error.nativeErrorCode();
        return code == QLatin1String("40P01") || code == QLatin1String("40001");
    }
    QString failure(const QSqlError &error) const override
    {
        // Which wait ran out, when one did.
        const QString code = error.nativeErrorCode();
        if (code == QLatin1String("55P03"))
            return QStringLiteral("等待另一位用户释放工程超过 %1 秒（服务器的 lock_timeout），请稍后再试")
                .arg(serverLockWait());
        if (code == QLatin1String("23505"))
            return QStringLiteral("另一位用户同时写入了同一条记录，本次修改未保存，请重新读取后再试");
        if (code == QLatin1String("57014"))
            return QStringLiteral("服务器上的一条语句执行超过 %1 秒（statement_timeout），已中止")
                .arg(serverStatementWait());
        return error.text();
    }

    Result<ProjectDatabase::Durability> durability(QSqlDatabase &) const override
    {
        return ProjectDatabase::Durability{QStringLiteral("postgresql"), 2};
    }
    // The project's change counter less this session's own changes: it
    // moves only when another program commits.
    Result<qint64> dataVersion(QSqlDatabase &db) override
    {
        if (!m_version) {
            m_version.emplace(db);
            m_version->setForwardOnly(true);
            if (!m_version->prepare(QStringLiteral(
                    "SELECT change_seq - coalesce(nullif(current_setting("
                    "'sedimetra.own_changes', true), '')::bigint, 0) "
                    "FROM sedimetra.projects WHERE id = ?")))
                return fail(failure(m_version->lastError()));
        }
        m_version->bindValue(0, m_projectId);
        if (!m_version->exec())
            return fail(failure(m_version->lastError()));
        if (!m_version->next())
            return fail(QStringLiteral("工程已从服务器上删除"));
        const qint64 version = m_version->value(0).toLongLong();
        m_version->finish();
        return version;
    }
    // Of two programs writing the same record at once, the later commit's
    // value stays, and neither fails.
    QString upsertElevation() const override
    {
        return QStringLiteral("INSERT INTO Sur2 (CjNo, CjdNo, PointH) VALUES (?, ?, ?) "
                              "ON CONFLICT (project_id, cjno, cjdno) DO UPDATE SET pointh = "
                              "EXCLUDED.pointh");
    }
    Result<bool> hasHeaderFields(QSqlDatabase &) const override { return true; }
    Result<bool> hasPositions(QSqlDatabase &) const override { return true; }
    Result<void> makePositions(QSqlDatabase &) override { return success(); }
    Result<void> makeHeaderFields(QSqlDatabase &) const override { return success(); }
    QString upsertHeaderField() const override
    {
        return QStringLiteral("INSERT INTO HeaderFields (Name, Value) VALUES (?, ?) "
                              "ON CONFLICT (project_id, name) DO UPDATE SET value = EXCLUDED.value");
    }
    // The schema holds the tables and writes the history itself.
    Result<bool> hasProvenance(QSqlDatabase &) const override { return true; }
    Result<void> makeProvenance(QSqlDatabase &, bool) override { return success(); }
    Result<bool> entriesCarried(QSqlDatabase &) const override { return true; }
    // The server chains each row as it is written.
    Result<void> sealHistory(QSqlDatabase &) override { return success(); }
    QString chainRows() const override
    {
        return QStringLiteral("SELECT id, entryid, floor(date_part('epoch', writtenat))::bigint, kind, oldvalue, "
                              "newvalue, hash, cjno, cjdno FROM History ORDER BY id");
    }
    // The server stamps the entry with the login and its own time; the
    // triggers find it through the transaction's setting sedimetra.entry.
    Result<qint64> beginEntry(QSqlDatabase &db, const QString &how, std::optional<qint64> source,
                              const QString &sheet) override
    {
        QSqlQuery query(db);
        if (!query.prepare(QStringLiteral("INSERT INTO Entries (How, SourceId, Sheet) VALUES (?, ?, ?) "
                                          "RETURNING Id")))
            return fail(failure(query.lastError()));
        query.addBindValue(how);
        query.addBindValue(source ? QVariant(*source) : QVariant(QMetaType(QMetaType::LongLong)));
        query.addBindValue(sheet.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(sheet));
        if (!query.exec() || !query.next())
            return fail(failure(query.lastError()));
        const qint64 id = query.value(0).toLongLong();
        query.finish();
        if (!query.prepare(QStringLiteral("SELECT set_config('sedimetra.entry', ?, true)")))
            return fail(failure(query.lastError()));
        query.addBindValue(QString::number(id));
        if (!query.exec())
            return fail(failure(query.lastError()));
        return id;
    }
    QString upsertOrigin() const override
    {
        return QStringLiteral("INSERT INTO Origins (CjNo, CjdNo, EntryId, Line, Station, Adjusted, Sigma) "
                              "VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (project_id, cjno, cjdno) DO UPDATE "
                              "SET entryid = EXCLUDED.entryid, line = EXCLUDED.line, "
                              "station = EXCLUDED.station, adjusted = EXCLUDED.adjusted, "
                              "sigma = EXCLUDED.sigma");
    }
    // The server's own function: nobody else may change a record's key.
    Result<void> renumberEpochs(QSqlDatabase &db, int first, int step, bool, bool) override
    {
        QSqlQuery query(db);
        if (!query.prepare(QStringLiteral("SELECT sedimetra.renumber_epochs(?, ?, ?)")))
            return fail(failure(query.lastError()));
        query.addBindValue(m_projectId);
        query.addBindValue(first);
        query.addBindValue(step);
        if (!query.exec())
            return fail(failure(query.lastError()));
        return success();
    }
    // The server's own function: only it writes the history.
    Result<void> confirmElevation(QSqlDatabase &db, int cjNo, int cjdNo) override
    {
        QSqlQuery query(db);
        if (!query.prepare(QStringLiteral("SELECT sedimetra.confirm_elevation(?, ?, ?)")))
            return fail(failure(query.lastError()));
        query.addBindValue(m_projectId);
        query.addBindValue(cjNo);
        query.addBindValue(cjdNo);
        if (!query.exec())
            return fail(failure(query.lastError()));
        return success();
    }
    // A lock of the project's epochs that any member may take, waited for
    // within the session's lock timeout; gone with the transaction.
    Result<void> lockEpochs(QSqlDatabase &db) override
    {
        QSqlQuery query(db);
        if (!query.prepare(QStringLiteral("SELECT pg_catalog.pg_advisory_xact_lock(%1, ?)").arg(serverparts::projectWriteLock)))
            return fail(failure(query.lastError()));
        query.addBindValue(m_projectId);
        if (!query.exec())
            return fail(failure(query.lastError()));
        return success();
    }
    // The server's columns are 32-bit integers.
    Result<void> checkKeys(QSqlDatabase &) const override { return success(); }

private:
    int m_projectId = 0;
    bool m_readOnly = false;
    QString m_path;
    std::optional<QSqlQuery> m_version;
};

} // namespace

std::unique_ptr<StoreDialect> serverDialect()
{
    return std::make_unique<ServerDialect>();
}
