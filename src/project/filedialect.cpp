// A project file: SQLite, a rollback journal and every commit synced; the
// file's identity checked before each write.
#include "project/storedialect.h"

#include "project/projectdb.h"
#include "project/sqlscript.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <optional>

#include <sys/stat.h>

namespace {

// The tables and fields the program reads and writes.
const std::pair<const char *, std::vector<const char *>> requiredTables[] = {
    {"Sur1", {"CjNo", "MyDate", "Name", "Layers"}},
    {"Sur2", {"CjNo", "CjdNo", "PointH"}},
    {"Sur3", {"CjdNo", "PointName", "Aci", "Mark"}},
    {"AciRgb", {"Aci_Color", "Rgb_R", "Rgb_G", "Rgb_B"}},
};

// Where the values came from, added to a project on its first write, and
// the history's triggers (src/project/sql/file/): read once.
const Result<QStringList> &fileScript(int which)
{
    static const Result<QStringList> scripts[] = {sqlScript(QStringLiteral("file/1-provenance.sql")),
                                                  sqlScript(QStringLiteral("file/2-history.sql")),
                                                  sqlScript(QStringLiteral("file/3-position.sql"))};
    return scripts[which];
}
enum FileScript { ProvenanceTables = 0, HistoryTriggers = 1, PositionTrigger = 2 };

// Device and inode of the open file: a project deleted or replaced behind the
// program's back must not take its writes into a file nobody will see again.
struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;

    static std::optional<FileIdentity> of(const QString &path)
    {
        struct stat info;
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return std::nullopt;
        return FileIdentity{info.st_dev, info.st_ino};
    }
    bool operator==(const FileIdentity &) const = default;
};

Result<void> exec(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        return fail(query.lastError().text());
    return success();
}

Result<void> runScript(QSqlDatabase &db, FileScript which)
{
    const Result<QStringList> &script = fileScript(which);
    if (!script)
        return script.failure();
    for (const QString &statement : *script)
        if (auto ran = exec(db, statement); !ran)
            return ran;
    return success();
}

// Every table the program needs, with its fields, and a table, not a view
// (perhaps one that never ends) of that name.
Result<void> checkTables(QSqlDatabase &db)
{
    for (const auto &[table, fields] : requiredTables) {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(QLatin1String(table))))
            return fail(query.lastError().text());
        QStringList present;
        while (query.next())
            present << query.value(1).toString();
        if (present.isEmpty())
            return fail(QStringLiteral("不是沉降工程数据库（缺少表 %1）").arg(QLatin1String(table)));
        for (const char *field : fields)
            if (!present.contains(QLatin1String(field), Qt::CaseInsensitive))
                return fail(QStringLiteral("不是沉降工程数据库（表 %1 缺少字段 %2）")
                                .arg(QLatin1String(table), QLatin1String(field)));
        QSqlQuery kind(db);
        if (!kind.prepare(
                QStringLiteral("SELECT type FROM sqlite_master WHERE name = ? COLLATE NOCASE")))
            return fail(kind.lastError().text());
        kind.addBindValue(QLatin1String(table));
        if (!kind.exec())
            return fail(kind.lastError().text());
        const bool isTable = kind.next() && kind.value(0).toString() == QLatin1String("table");
        kind.finish();
        if (!isTable)
            return fail(QStringLiteral("不是沉降工程数据库（%1 不是数据表）").arg(QLatin1String(table)));
    }
    return success();
}

class FileDialect : public StoreDialect
{
public:
    Result<QSqlDatabase> open(const QString &path, const QString &, const QString &connection) override
    {
        const QFileInfo info(path);
        if (!info.exists())
            return fail(QStringLiteral("文件不存在"));
        if (!info.isFile())
            return fail(QStringLiteral("这不是一个文件"));
        // The file's own marks, not whether this user could write anyway: a
        // project marked read-only stays unchanged even for an administrator.
        const auto writeBits = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
        m_readOnly = !(info.permissions() & writeBits);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        // By URI: mode=rw never makes a new empty database of a vanished path.
        db.setDatabaseName(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded)
                           + (m_readOnly ? QStringLiteral("?mode=ro") : QStringLiteral("?mode=rw")));
        // Another program writing the same project makes this one wait its turn.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open())
            return fail(db.lastError().text());
        if (auto checked = checkTables(db); !checked)
            return checked.failure();
        // A rollback journal, and every commit synced to the disk before it
        // returns: a crash right after a commit loses nothing.
        if (!m_readOnly)
            for (const char *pragma : {"PRAGMA journal_mode=DELETE", "PRAGMA synchronous=FULL"})
                if (auto set = exec(db, QLatin1String(pragma)); !set)
                    return set.failure();
        m_identity = FileIdentity::of(info.absoluteFilePath());
        if (!m_identity)
            return fail(QStringLiteral("文件不存在"));
        m_path = info.absoluteFilePath();
        return db;
    }
    bool isServer() const override { return false; }
    bool readOnly() const override { return m_readOnly; }
    QString path() const override { return m_path; }

    QString caseless(const char *column) const override
    {
        return QStringLiteral("%1 = ? COLLATE NOCASE").arg(QLatin1String(column));
    }
    Result<void> checkWritable() const override
    {
        if (m_readOnly)
            return fail(QStringLiteral("工程文件是只读的"));
        const auto identity = FileIdentity::of(m_path);
        if (!identity || !m_identity || !(*identity == *m_identity))
            return fail(QStringLiteral("工程文件已被删除、移动或替换"));
        return success();
    }
    Result<void> begin(QSqlDatabase &db) override { return exec(db, QStringLiteral("BEGIN IMMEDIATE")); }
    Result<void> commit(QSqlDatabase &db) override { return exec(db, QStringLiteral("COMMIT")); }
    void rollback(QSqlDatabase &db) override { (void)exec(db, QStringLiteral("ROLLBACK")); }
    bool retryable(const QSqlError &) const override { return false; }
    QString failure(const QSqlError &error) const override { return error.text(); }

    Result<ProjectDatabase::Durability> durability(QSqlDatabase &db) const override
    {
        QSqlQuery query(db);
        ProjectDatabase::Durability durability;
        if (!query.exec(QStringLiteral("PRAGMA journal_mode")) || !query.next())
            return fail(query.lastError().text());
        durability.journalMode = query.value(0).toString().toLower();
        if (!query.exec(QStringLiteral("PRAGMA synchronous")) || !query.next())
            return fail(query.lastError().text());
        durability.synchronous = query.value(0).toInt();
        return durability;
    }
    Result<qint64> dataVersion(QSqlDatabase &db) override
    {
        if (!m_version) {
            m_version.emplace(db);
            m_version->setForwardOnly(true);
            if (!m_version->prepare(QStringLiteral("PRAGMA data_version")))
                return fail(m_version->lastError().text());
        }
        if (!m_version->exec())
            return fail(m_version->lastError().text());
        const qint64 version = m_version->next() ? m_version->value(0).toLongLong() : 0;
        m_version->finish();
        return version;
    }
    QString upsertElevation() const override { return QString(); }
    Result<bool> hasHeaderFields(QSqlDatabase &db) const override
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT type FROM sqlite_master WHERE name = 'HeaderFields'")))
            return fail(query.lastError().text());
        return query.next() && query.value(0).toString() == QLatin1String("table");
    }
    Result<void> makeHeaderFields(QSqlDatabase &db) const override
    {
        return exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS HeaderFields "
                                       "(Name TEXT NOT NULL PRIMARY KEY, Value TEXT)"));
    }
    QString upsertHeaderField() const override
    {
        return QStringLiteral("INSERT OR REPLACE INTO HeaderFields (Name, Value) VALUES (?, ?)");
    }
    Result<bool> hasPositions(QSqlDatabase &db) const override
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral(
                "SELECT (SELECT count(*) FROM pragma_table_info('Sur3') WHERE name IN ('X', 'Y')), "
                "(SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'PlanDrawing')")))
            return fail(query.lastError().text());
        return query.next() && query.value(0).toInt() == 2 && query.value(1).toInt() == 1;
    }
    Result<void> makePositions(QSqlDatabase &db) override
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT name FROM pragma_table_info('Sur3')")))
            return fail(query.lastError().text());
        QStringList columns;
        while (query.next())
            columns << query.value(0).toString().toUpper();
        for (const char *column : {"X", "Y"})
            if (!columns.contains(QLatin1String(column)))
                if (auto added = exec(db, QStringLiteral("ALTER TABLE Sur3 ADD COLUMN %1 REAL")
                                              .arg(QLatin1String(column)));
                    !added)
                    return added;
        if (auto made = exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS PlanDrawing (Name TEXT, Data BLOB)"));
            !made)
            return made;
        return m_triggersMade ? runScript(db, PositionTrigger) : success();
    }
    Result<bool> hasProvenance(QSqlDatabase &db) const override
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                       "name IN ('Sources', 'Entries', 'Origins', 'History')")))
            return fail(query.lastError().text());
        return query.next() && query.value(0).toInt() == 4;
    }
    Result<bool> entriesCarried(QSqlDatabase &db) const override { return hasColumn(db, "Entries", "CarriedBy"); }
    static Result<bool> hasColumn(QSqlDatabase &db, const char *table, const char *column)
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT count(*) FROM pragma_table_info('%1') WHERE name = '%2'")
                            .arg(QLatin1String(table), QLatin1String(column))))
            return fail(query.lastError().text());
        return query.next() && query.value(0).toInt() == 1;
    }
    QString chainRows() const override
    {
        return QStringLiteral("SELECT Id, EntryId, WrittenAt, Kind, OldValue, NewValue, Hash, CjNo, CjdNo "
                              "FROM History ORDER BY Id");
    }
    // The rows written since the last one chained, chained in Id order.
    Result<void> sealHistory(QSqlDatabase &db) override
    {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SELECT Id, Hash FROM History WHERE Hash IS NOT NULL ORDER BY Id DESC LIMIT 1")))
            return fail(query.lastError().text());
        qint64 last = -1;
        QString previous;
        if (query.next()) {
            last = query.value(0).toLongLong();
            previous = query.value(1).toString();
        }
        query.finish();
        if (!query.prepare(QStringLiteral("SELECT Id, EntryId, WrittenAt, Kind, OldValue, NewValue FROM History "
                                          "WHERE Id > ? ORDER BY Id")))
            return fail(query.lastError().text());
        query.addBindValue(last);
        if (!query.exec())
            return fail(query.lastError().text());
        std::vector<std::pair<qint64, QString>> sealed;
        while (query.next()) {
            previous = historyHash(previous, query.value(0), query.value(1), query.value(2), query.value(3),
                                   query.value(4), query.value(5));
            sealed.emplace_back(query.value(0).toLongLong(), previous);
        }
        if (query.lastError().isValid())
            return fail(query.lastError().text());
        query.finish();
        if (sealed.empty())
            return success();
        QSqlQuery update(db);
        if (!update.prepare(QStringLiteral("UPDATE History SET Hash = ? WHERE Id = ?")))
            return fail(update.lastError().text());
        for (const auto &[id, hash] : sealed) {
            update.bindValue(0, hash);
            update.bindValue(1, id);
            if (!update.exec())
                return fail(update.lastError().text());
        }
        return success();
    }
    Result<void> makeProvenance(QSqlDatabase &db, bool recording) override
    {
        if (auto made = runScript(db, ProvenanceTables); !made)
            return made;
        // Entries carried from elsewhere are marked (a file of an earlier
        // version has no mark yet).
        const auto carried = entriesCarried(db);
        if (!carried)
            return carried.failure();
        if (!*carried)
            if (auto added = exec(db, QStringLiteral("ALTER TABLE Entries ADD COLUMN CarriedBy TEXT")); !added)
                return added;
        // The history's chain (a file of an earlier version is chained from
        // its first row at this write).
        if (auto chained = hasColumn(db, "History", "Hash"); !chained)
            return chained.failure();
        else if (!*chained)
            if (auto added = exec(db, QStringLiteral("ALTER TABLE History ADD COLUMN Hash TEXT")); !added)
                return added;
        if (m_triggersMade || !recording)
            return success();
        // The history is written by triggers of this connection (temporary:
        // the file stays readable by any SQLite program and by older
        // versions of this one), under the entry SdWriting names.
        if (auto made = runScript(db, HistoryTriggers); !made)
            return made;
        m_triggersMade = true;
        const auto positions = hasPositions(db);
        if (!positions)
            return positions.failure();
        return *positions ? runScript(db, PositionTrigger) : success();
    }
    Result<qint64> beginEntry(QSqlDatabase &db, const QString &how, std::optional<qint64> source,
                              const QString &sheet) override
    {
        QSqlQuery query(db);
        if (!query.prepare(QStringLiteral("INSERT INTO Entries (WrittenAt, Who, How, SourceId, Sheet) "
                                          "VALUES (?, ?, ?, ?, ?) RETURNING Id")))
            return fail(query.lastError().text());
        query.addBindValue(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
        query.addBindValue(ProjectDatabase::localUser());
        query.addBindValue(how);
        query.addBindValue(source ? QVariant(*source) : QVariant());
        query.addBindValue(sheet.isEmpty() ? QVariant() : QVariant(sheet));
        if (!query.exec() || !query.next())
            return fail(query.lastError().text());
        const qint64 id = query.value(0).toLongLong();
        query.finish();
        if (auto cleared = exec(db, QStringLiteral("DELETE FROM temp.SdWriting")); !cleared)
            return cleared.failure();
        const bool typing = how == QLatin1String("typed") || how == QLatin1String("undo");
        if (auto set = exec(db, QStringLiteral("INSERT INTO temp.SdWriting VALUES (%1, %2)").arg(id).arg(typing ? 1 : 0));
            !set)
            return set.failure();
        return id;
    }
    QString upsertOrigin() const override
    {
        return QStringLiteral("INSERT OR REPLACE INTO Origins (CjNo, CjdNo, EntryId, Line, Station, "
                              "Adjusted, Sigma) VALUES (?, ?, ?, ?, ?, ?, ?)");
    }
    Result<void> renumberEpochs(QSqlDatabase &db, int first, int step, bool provenance, bool recording) override
    {
        QStringList tables{QStringLiteral("Sur1"), QStringLiteral("Sur2")};
        if (provenance)
            tables << QStringLiteral("Origins") << QStringLiteral("History");
        // The numbers are unique, and SQLite checks that row by row in no
        // given order: the epochs go to negative numbers first, then to
        // their new ones.
        const QStringList steps =
            step > 0 ? QStringList{QStringLiteral("SET CjNo = -CjNo - 1 WHERE CjNo >= %1"),
                                   QStringLiteral("SET CjNo = -CjNo WHERE CjNo < 0")}
                     : QStringList{QStringLiteral("SET CjNo = -CjNo WHERE CjNo > %1"),
                                   QStringLiteral("SET CjNo = -CjNo - 1 WHERE CjNo < 0")};
        for (const QString &table : tables)
            for (const QString &move : steps)
                if (auto moved = exec(db, QStringLiteral("UPDATE %1 ").arg(table) + move.arg(first)); !moved)
                    return moved;
        if (!provenance || !recording)
            return success();
        const int before = step > 0 ? first : first + 1, after = step > 0 ? first + 1 : first;
        return exec(db, QStringLiteral("INSERT INTO History (EntryId, WrittenAt, Kind, OldValue, NewValue) "
                                       "VALUES ((SELECT EntryId FROM temp.SdWriting), "
                                       "CAST(strftime('%s', 'now') AS INTEGER), 'R', '%1', '%2')")
                            .arg(before)
                            .arg(after));
    }
    Result<void> confirmElevation(QSqlDatabase &db, int cjNo, int cjdNo) override
    {
        QSqlQuery query(db);
        if (!query.prepare(QStringLiteral(
                "INSERT INTO History (EntryId, WrittenAt, Kind, CjNo, CjdNo, OldValue, NewValue) "
                "SELECT (SELECT EntryId FROM temp.SdWriting), CAST(strftime('%s', 'now') AS INTEGER), 'C', "
                "CjNo, CjdNo, PointH, PointH FROM Sur2 WHERE CjNo = ? AND CjdNo = ? AND PointH IS NOT NULL")))
            return fail(query.lastError().text());
        query.addBindValue(cjNo);
        query.addBindValue(cjdNo);
        if (!query.exec())
            return fail(query.lastError().text());
        if (query.numRowsAffected() != 1)
            return fail(QStringLiteral("第 %1 次观测中第 %2 号测点没有高程，无从核对").arg(cjNo).arg(cjdNo));
        return success();
    }
    // BEGIN IMMEDIATE took the file's write lock.
    Result<void> lockEpochs(QSqlDatabase &) override { return success(); }
    Result<void> checkKeys(QSqlDatabase &db) const override
    {
        // Epoch and point numbers are 32-bit: one beyond would be read as
        // another number (4294967298 as 2).
        const std::pair<const char *, const char *> keys[] = {
            {"Sur1", "CjNo"}, {"Sur2", "CjNo"}, {"Sur2", "CjdNo"}, {"Sur3", "CjdNo"}};
        for (const auto &[table, column] : keys) {
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("SELECT %2 FROM %1 WHERE %2 > 2147483647 OR %2 < "
                                           "-2147483648 LIMIT 1")
                                .arg(QLatin1String(table), QLatin1String(column))))
                return fail(query.lastError().text());
            if (query.next())
                return fail(QStringLiteral("工程已损坏：表 %1 的 %2 有超出范围的编号 %3")
                                .arg(QLatin1String(table), QLatin1String(column),
                                     query.value(0).toString().left(40)));
            if (query.lastError().isValid())
                return fail(query.lastError().text());
        }
        return success();
    }

private:
    bool m_readOnly = false;
    QString m_path;
    std::optional<FileIdentity> m_identity;
    std::optional<QSqlQuery> m_version;
    bool m_triggersMade = false;
};

} // namespace

std::unique_ptr<StoreDialect> fileDialect()
{
    return std::make_unique<FileDialect>();
}
