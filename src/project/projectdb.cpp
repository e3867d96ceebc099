#include "project/projectdb.h"

#include "base/programfiles.h"
#include "base/savefile.h"
#include "base/settings.h"
#include "project/serverstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlRecord>
#include <QUrl>
#include <QUuid>

#include <cmath>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <limits>

namespace {

// The tables and fields the program reads and writes.
const std::pair<const char *, std::vector<const char *>> requiredTables[] = {
    {"Sur1", {"CjNo", "MyDate", "Name", "Layers"}},
    {"Sur2", {"CjNo", "CjdNo", "PointH"}},
    {"Sur3", {"CjdNo", "PointName", "Aci", "Mark"}},
    {"AciRgb", {"Aci_Color", "Rgb_R", "Rgb_G", "Rgb_B"}},
};

QString textOf(const QVariant &value)
{
    return value.isNull() ? QString() : value.toString();
}

// The current row of a query over CjNo, MyDate, Name, Layers.
Epoch epochFrom(const QSqlQuery &query)
{
    return Epoch{query.value(0).toInt(), textOf(query.value(1)), textOf(query.value(2)),
                 textOf(query.value(3))};
}

// The current row of a query over CjdNo, PointName, Aci, Mark.
Point pointFrom(const QSqlQuery &query)
{
    return Point{query.value(0).toInt(), textOf(query.value(1)), query.value(2).toInt(),
                 textOf(query.value(3))};
}

// An elevation that is no number (a text, NULL) reads as NaN: missing, never 0.
Elevation elevationFrom(const QSqlQuery &query)
{
    const QVariant h = query.value(2);
    bool number = false;
    const double metres = h.isNull() ? 0 : h.toDouble(&number);
    return Elevation{query.value(0).toInt(), query.value(1).toInt(),
                     number ? metres : std::numeric_limits<double>::quiet_NaN()};
}

QVariant firstValue(const QSqlQuery &query)
{
    return query.value(0);
}

std::pair<int, Rgb> colourFrom(const QSqlQuery &query)
{
    return {query.value(0).toInt(),
            Rgb{query.value(1).toInt(), query.value(2).toInt(), query.value(3).toInt()}};
}

} // namespace

// Device and inode of the open file: a project deleted or replaced behind the
// program's back must not take its writes into a file nobody will see again.
struct ProjectDatabase::FileIdentity
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

ProjectDatabase::ProjectDatabase() = default;

ProjectDatabase::~ProjectDatabase()
{
    m_statements.clear();
    if (!m_connection.isEmpty()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

Result<void> ProjectDatabase::createFromTemplate(const QString &templatePath, const QString &path)
{
    QFile source(templatePath);
    if (!source.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("无法读取工程模板 %1：%2")
                        .arg(QDir::toNativeSeparators(templatePath), source.errorString()));
    const QByteArray content = source.readAll();
    if (QFileInfo(path).isDir())
        return fail(QStringLiteral("这是一个文件夹"));
    // A failed copy never leaves half a project or destroys the file it was
    // to replace.
    return saveFileContents(path, content);
}

Result<void> ProjectDatabase::openServer(const QString &url, const QString &password)
{
    auto address = parseServerUrl(url);
    if (!address)
        return address.failure();
    if (!password.isEmpty())
        address->password = password;
    if (address->project.isEmpty())
        return fail(QStringLiteral("地址中没有工程名（?project=…）"));
    m_connection = QStringLiteral("project-") + QUuid::createUuid().toString(QUuid::Id128);
    auto db = connectToServer(*address, m_connection);
    if (!db) {
        m_connection.clear();
        return db.failure();
    }
    m_db = *db;
    m_server = true;
    if (auto schema = checkServerSchema(m_db, *address); !schema)
        return schema;
    QSqlQuery query(m_db);
    // A project this role may not read is not seen at all.
    if (!query.prepare(QStringLiteral("SELECT id, sedimetra.may_write(id) FROM sedimetra.projects "
                                      "WHERE name = ?")))
        return fail(query.lastError().text());
    query.addBindValue(address->project);
    if (!query.exec())
        return fail(query.lastError().text());
    if (!query.next())
        return fail(QStringLiteral("服务器上没有工程“%1”，或你没有读它的权限").arg(address->project));
    m_projectId = query.value(0).toInt();
    m_readOnly = !query.value(1).toBool();
    query.finish();
    // The session sees its project's records under the file's table names:
    // the server's permanent views over the project the session names, found
    // before the shared tables. Nothing is written to open a project, so a
    // server whose disk is full still lets everyone read.
    const QStringList setup{
        QStringLiteral("SET search_path TO sedimetra_project, sedimetra"),
        QStringLiteral("SELECT set_config('sedimetra.project', '%1', false)").arg(m_projectId),
    };
    for (const QString &sql : setup)
        if (!query.exec(sql))
            return fail(query.lastError().text());
    m_path = displayUrl(*address);
    return success();
}

Result<void> ProjectDatabase::open(const QString &path, const QString &password)
{
    if (isServerUrl(path))
        return openServer(path, password);
    const QFileInfo info(path);
    if (!info.exists())
        return fail(QStringLiteral("文件不存在"));
    if (!info.isFile())
        return fail(QStringLiteral("这不是一个文件"));
    // The file's own marks, not whether this user could write anyway: a
    // project marked read-only stays unchanged even for an administrator.
    const auto writeBits = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    m_readOnly = !(info.permissions() & writeBits);

    m_connection = QStringLiteral("project-") + QUuid::createUuid().toString(QUuid::Id128);
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    // By URI: mode=rw never makes a new empty database of a vanished path.
    m_db.setDatabaseName(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded)
                         + (m_readOnly ? QStringLiteral("?mode=ro") : QStringLiteral("?mode=rw")));
    // Another program writing the same project makes this one wait its turn.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
    if (!m_db.open())
        return fail(m_db.lastError().text());

    for (const auto &[table, fields] : requiredTables) {
        QSqlQuery query(m_db);
        if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(QLatin1String(table))))
            return fail(query.lastError().text());
        QStringList present;
        while (query.next())
            present << query.value(1).toString();
        if (present.isEmpty())
            return fail(QStringLiteral("不是沉降工程数据库（缺少表 %1）").arg(QLatin1String(table)));
        for (const char *field : fields) {
            if (!present.contains(QLatin1String(field), Qt::CaseInsensitive))
                return fail(QStringLiteral("不是沉降工程数据库（表 %1 缺少字段 %2）")
                                .arg(QLatin1String(table), QLatin1String(field)));
        }
        // A view of that name (perhaps one that never ends) is no table.
        QSqlQuery kind(m_db);
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

    if (!m_readOnly) {
        // A rollback journal, and every commit synced to the disk before it
        // returns: a crash right after a commit loses nothing.
        QSqlQuery pragma(m_db);
        if (!pragma.exec(QStringLiteral("PRAGMA journal_mode=DELETE"))
            || !pragma.exec(QStringLiteral("PRAGMA synchronous=FULL")))
            return fail(pragma.lastError().text());
    }
    const auto identity = FileIdentity::of(info.absoluteFilePath());
    if (!identity)
        return fail(QStringLiteral("文件不存在"));
    m_identity = std::make_unique<FileIdentity>(*identity);
    m_path = info.absoluteFilePath();
    return success();
}

Result<ProjectDatabase::Durability> ProjectDatabase::durability()
{
    if (m_server)
        return Durability{QStringLiteral("postgresql"), 2};
    QSqlQuery query(m_db);
    Durability durability;
    if (!query.exec(QStringLiteral("PRAGMA journal_mode")) || !query.next())
        return fail(query.lastError().text());
    durability.journalMode = query.value(0).toString().toLower();
    if (!query.exec(QStringLiteral("PRAGMA synchronous")) || !query.next())
        return fail(query.lastError().text());
    durability.synchronous = query.value(0).toInt();
    return durability;
}

Result<qint64> ProjectDatabase::dataVersion()
{
    if (m_server) {
        // The project's change counter less this session's own changes: it
        // moves only when another program commits.
        QSqlQuery &query = statement(
            "serverVersion",
            QStringLiteral("SELECT change_seq - coalesce(nullif(current_setting("
                           "'sedimetra.own_changes', true), '')::bigint, 0) "
                           "FROM sedimetra.projects WHERE id = ?"));
        query.bindValue(0, m_projectId);
        const auto version = firstRow(query, firstValue);
        if (!version)
            return version.failure();
        if (!*version)
            return fail(QStringLiteral("工程已从服务器上删除"));
        return (*version)->toLongLong();
    }
    QSqlQuery &query = statement("dataVersion", QStringLiteral("PRAGMA data_version"));
    const auto version = firstRow(query, firstValue);
    if (!version)
        return version.failure();
    return *version ? (*version)->toLongLong() : 0;
}

QSqlQuery &ProjectDatabase::statement(const char *key, const QString &sql)
{
    for (auto &[k, query] : m_statements)
        if (k == key || std::strcmp(k, key) == 0)
            return *query;
    auto query = std::make_unique<QSqlQuery>(m_db);
    query->setForwardOnly(true);
    if (m_server) {
        // The same statements on the server: names compared without case
        // by lower(), and a plain BEGIN.
        static const QRegularExpression nocase(QStringLiteral("(\\w+) = \\? COLLATE NOCASE"));
        QString serverSql = sql;
        serverSql.replace(nocase, QStringLiteral("lower(\\1) = lower(?)"));
        serverSql.replace(QStringLiteral("BEGIN IMMEDIATE"), QStringLiteral("BEGIN"));
        if (!query->prepare(serverSql))
            m_unprepared[query.get()] = query->lastError().text();
    } else if (!query->prepare(sql)) {
        m_unprepared[query.get()] = query->lastError().text();
    }
    m_statements.emplace_back(key, std::move(query));
    return *m_statements.back().second;
}

Result<void> ProjectDatabase::run(QSqlQuery &query)
{
    if (!m_db.isOpen())
        return fail(QStringLiteral("没有打开的沉降工程"));
    if (const auto unprepared = m_unprepared.find(&query); unprepared != m_unprepared.end())
        return fail(QStringLiteral("数据库不接受语句：%1").arg(unprepared->second));
    if (!query.exec()) {
        noteFailure(query.lastError());
        // Which wait ran out, when one did.
        const QString code = query.lastError().nativeErrorCode();
        if (code == QLatin1String("55P03"))
            return fail(QStringLiteral("等待另一位用户释放工程超过 %1 秒（服务器的 lock_timeout），请稍后再试")
                            .arg(serverLockWait()));
        if (code == QLatin1String("57014"))
            return fail(QStringLiteral("服务器上的一条语句执行超过 %1 秒（statement_timeout），已中止")
                            .arg(serverStatementWait()));
        return fail(query.lastError().text());
    }
    return success();
}

void ProjectDatabase::noteFailure(const QSqlError &error)
{
    // SQLSTATE 40P01: deadlock detected; 40001: serialization failure.
    const QString code = error.nativeErrorCode();
    m_retryable = m_server && (code == QLatin1String("40P01") || code == QLatin1String("40001"));
}

Result<void> ProjectDatabase::checkWritable()
{
    if (m_readOnly)
        return fail(QStringLiteral("工程文件是只读的"));
    if (m_server)
        return success();
    const auto identity = FileIdentity::of(m_path);
    if (!identity || !m_identity || !(*identity == *m_identity))
        return fail(QStringLiteral("工程文件已被删除、移动或替换"));
    return success();
}

Result<void> ProjectDatabase::beginTransaction()
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    if (m_server) // the server's own transaction calls: BEGIN is no statement to prepare there
        return m_db.transaction() ? success() : fail(m_db.lastError().text());
    return run(statement("begin", QStringLiteral("BEGIN IMMEDIATE")));
}

Result<void> ProjectDatabase::commitTransaction()
{
    Result<void> committed = success();
    if (!m_server) {
        committed = run(statement("commit", QStringLiteral("COMMIT")));
    } else if (!m_db.commit()) {
        noteFailure(m_db.lastError());
        committed = fail(m_db.lastError().text());
    }
    if (!committed)
        rollbackTransaction();
    return committed;
}

void ProjectDatabase::rollbackTransaction()
{
    if (m_server)
        m_db.rollback();
    else
        statement("rollback", QStringLiteral("ROLLBACK")).exec();
}

template <typename Make>
auto ProjectDatabase::allRows(QSqlQuery &query, Make make)
    -> Result<std::vector<decltype(make(query))>>
{
    if (auto ran = run(query); !ran)
        return ran.failure();
    std::vector<decltype(make(query))> rows;
    while (query.next())
        rows.push_back(make(query));
    // A row that cannot be read (a damaged page) is a failure, never the
    // end of the data.
    const QSqlError error = query.lastError();
    query.finish();
    if (error.isValid())
        return fail(error.text());
    return rows;
}

template <typename Make>
auto ProjectDatabase::firstRow(QSqlQuery &query, Make make)
    -> Result<std::optional<decltype(make(query))>>
{
    if (auto ran = run(query); !ran)
        return ran.failure();
    std::optional<decltype(make(query))> row;
    if (query.next())
        row = make(query);
    const QSqlError error = query.lastError();
    query.finish();
    if (error.isValid())
        return fail(error.text());
    return row;
}

Result<std::vector<Epoch>> ProjectDatabase::epochs()
{
    QSqlQuery &query = statement(
        "epochs", QStringLiteral("SELECT CjNo, MyDate, Name, Layers FROM Sur1 ORDER BY CjNo"));
    return allRows(query, epochFrom);
}

Result<std::optional<Epoch>> ProjectDatabase::epochByNumber(int cjNo)
{
    QSqlQuery &query = statement(
        "epochByNumber",
        QStringLiteral("SELECT CjNo, MyDate, Name, Layers FROM Sur1 WHERE CjNo = ? LIMIT 1"));
    query.bindValue(0, cjNo);
    return firstRow(query, epochFrom);
}

Result<std::optional<Epoch>> ProjectDatabase::epochByDate(const QString &date)
{
    QSqlQuery &query = statement(
        "epochByDate", QStringLiteral("SELECT CjNo, MyDate, Name, Layers FROM Sur1 "
                                      "WHERE MyDate = ? COLLATE NOCASE ORDER BY CjNo LIMIT 1"));
    query.bindValue(0, date);
    return firstRow(query, epochFrom);
}

Result<std::optional<Epoch>> ProjectDatabase::epochByName(const QString &name)
{
    QSqlQuery &query = statement(
        "epochByName", QStringLiteral("SELECT CjNo, MyDate, Name, Layers FROM Sur1 "
                                      "WHERE Name = ? COLLATE NOCASE ORDER BY CjNo LIMIT 1"));
    query.bindValue(0, name);
    return firstRow(query, epochFrom);
}

Result<int> ProjectDatabase::nextEpochNumber()
{
    QSqlQuery &query = statement("nextEpoch", QStringLiteral("SELECT MAX(CjNo) FROM Sur1"));
    const auto highest = firstRow(query, firstValue);
    if (!highest)
        return highest.failure();
    return !*highest || (*highest)->isNull() ? 0 : (*highest)->toInt() + 1;
}

Result<void> ProjectDatabase::addEpoch(const Epoch &epoch)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    QSqlQuery &query = statement(
        "addEpoch",
        QStringLiteral("INSERT INTO Sur1 (CjNo, MyDate, Name, Layers) VALUES (?, ?, ?, ?)"));
    query.bindValue(0, epoch.cjNo);
    query.bindValue(1, epoch.date);
    query.bindValue(2, epoch.name);
    query.bindValue(3, epoch.layers);
    return run(query);
}

Result<void> ProjectDatabase::updateEpoch(const Epoch &epoch)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    QSqlQuery &query = statement(
        "updateEpoch",
        QStringLiteral("UPDATE Sur1 SET MyDate = ?, Name = ?, Layers = ? WHERE CjNo = ?"));
    query.bindValue(0, epoch.date);
    query.bindValue(1, epoch.name);
    query.bindValue(2, epoch.layers);
    query.bindValue(3, epoch.cjNo);
    if (auto ran = run(query); !ran)
        return ran;
    if (query.numRowsAffected() < 1)
        return fail(QStringLiteral("找不到第 %1 次观测").arg(epoch.cjNo));
    return success();
}

Result<void> ProjectDatabase::deleteEpoch(int cjNo)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    return inTransaction([&]() -> Result<void> {
        QSqlQuery &removeEpoch =
            statement("deleteEpoch", QStringLiteral("DELETE FROM Sur1 WHERE CjNo = ?"));
        removeEpoch.bindValue(0, cjNo);
        if (auto ran = run(removeEpoch); !ran)
            return ran;
        if (removeEpoch.numRowsAffected() < 1)
            return fail(QStringLiteral("找不到第 %1 次观测").arg(cjNo));
        QSqlQuery &removeElevations =
            statement("deleteEpochElevations", QStringLiteral("DELETE FROM Sur2 WHERE CjNo = ?"));
        removeElevations.bindValue(0, cjNo);
        if (auto ran = run(removeElevations); !ran)
            return ran;
        // The numbers are unique, and SQLite checks that row by row in no
        // given order: the later epochs go to negative numbers first, then
        // to their new ones.
        for (const char *table : {"Sur1", "Sur2"}) {
            for (const char *step : {"SET CjNo = -CjNo WHERE CjNo > ?",
                                     "SET CjNo = -CjNo - 1 WHERE CjNo < 0 AND -CjNo > ?"}) {
                QSqlQuery move(m_db);
                if (!move.prepare(QStringLiteral("UPDATE %1 %2")
                                      .arg(QLatin1String(table), QLatin1String(step))))
                    return fail(move.lastError().text());
                move.bindValue(0, cjNo);
                if (auto ran = run(move); !ran)
                    return ran;
            }
        }
        return success();
    });
}

Result<void> ProjectDatabase::insertEpoch(const Epoch &epoch)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    return inTransaction([&]() -> Result<void> {
        // Up by one through negative numbers, as deleteEpoch moves them down.
        for (const char *table : {"Sur1", "Sur2"}) {
            for (const char *step : {"SET CjNo = -CjNo - 1 WHERE CjNo >= ?", "SET CjNo = -CjNo WHERE CjNo < 0"}) {
                QSqlQuery move(m_db);
                if (!move.prepare(QStringLiteral("UPDATE %1 %2").arg(QLatin1String(table), QLatin1String(step))))
                    return fail(move.lastError().text());
                if (QLatin1String(step).contains(QLatin1Char('?')))
                    move.bindValue(0, epoch.cjNo);
                if (auto ran = run(move); !ran)
                    return ran;
            }
        }
        return addEpoch(epoch);
    });
}

Result<std::optional<double>> ProjectDatabase::elevation(int cjNo, int cjdNo)
{
    QSqlQuery &query =
        statement("elevation",
                  QStringLiteral("SELECT PointH FROM Sur2 WHERE CjNo = ? AND CjdNo = ? LIMIT 1"));
    query.bindValue(0, cjNo);
    query.bindValue(1, cjdNo);
    return firstRow(query, [](const QSqlQuery &row) { return row.value(0).toDouble(); });
}

Result<void> ProjectDatabase::setElevation(int cjNo, int cjdNo, double metres)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    if (!usableElevation(metres))
        return fail(QStringLiteral("高程 %1 不是有效的高程（须为有限的数，绝对值小于 %2 m），未保存")
                        .arg(metres, 0, 'g', 6)
                        .arg(maxElevation, 0, 'g', 6));
    if (m_server) {
        // One statement: of two programs writing the same record at once,
        // the later commit's value stays, and neither fails.
        QSqlQuery &upsert = statement(
            "upsertElevation",
            QStringLiteral("INSERT INTO Sur2 (CjNo, CjdNo, PointH) VALUES (?, ?, ?) "
                           "ON CONFLICT (project_id, cjno, cjdno) DO UPDATE SET pointh = "
                           "EXCLUDED.pointh"));
        upsert.bindValue(0, cjNo);
        upsert.bindValue(1, cjdNo);
        upsert.bindValue(2, metres);
        return run(upsert);
    }
    // Update the record, and add it when there was none.
    QSqlQuery &update =
        statement("updateElevation",
                  QStringLiteral("UPDATE Sur2 SET PointH = ? WHERE CjNo = ? AND CjdNo = ?"));
    update.bindValue(0, metres);
    update.bindValue(1, cjNo);
    update.bindValue(2, cjdNo);
    if (auto ran = run(update); !ran)
        return ran;
    if (update.numRowsAffected() > 0)
        return success();
    QSqlQuery &insert =
        statement("insertElevation",
                  QStringLiteral("INSERT INTO Sur2 (CjNo, CjdNo, PointH) VALUES (?, ?, ?)"));
    insert.bindValue(0, cjNo);
    insert.bindValue(1, cjdNo);
    insert.bindValue(2, metres);
    return run(insert);
}

Result<void> ProjectDatabase::deleteElevation(int cjNo, int cjdNo)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    QSqlQuery &query = statement("deleteElevation",
                                 QStringLiteral("DELETE FROM Sur2 WHERE CjNo = ? AND CjdNo = ?"));
    query.bindValue(0, cjNo);
    query.bindValue(1, cjdNo);
    return run(query);
}

Result<std::vector<Elevation>> ProjectDatabase::elevationsOfPoint(int cjdNo)
{
    QSqlQuery &query = statement(
        "elevationsOfPoint",
        QStringLiteral("SELECT CjNo, CjdNo, PointH FROM Sur2 WHERE CjdNo = ? ORDER BY CjNo"));
    query.bindValue(0, cjdNo);
    return allRows(query, elevationFrom);
}

Result<std::vector<Elevation>> ProjectDatabase::elevationsOfEpoch(int cjNo,
                                                                  std::optional<int> upToPoint)
{
    QSqlQuery &query = statement("elevationsOfEpoch",
                                 QStringLiteral("SELECT CjNo, CjdNo, PointH FROM Sur2 "
                                                "WHERE CjNo = ? AND CjdNo <= ? ORDER BY CjdNo"));
    query.bindValue(0, cjNo);
    query.bindValue(1, upToPoint.value_or(std::numeric_limits<int>::max()));
    return allRows(query, elevationFrom);
}

Result<std::vector<Elevation>> ProjectDatabase::allElevations()
{
    QSqlQuery &query =
        statement("allElevations",
                  QStringLiteral("SELECT CjNo, CjdNo, PointH FROM Sur2 ORDER BY CjNo, CjdNo"));
    return allRows(query, elevationFrom);
}

Result<std::map<QString, QString>> ProjectDatabase::headerFields()
{
    std::map<QString, QString> fields;
    QSqlQuery query(m_db);
    bool present = m_server; // a server project always has them
    if (!m_server) {
        if (!query.exec(QStringLiteral("SELECT type FROM sqlite_master WHERE name = 'HeaderFields'")))
            return fail(query.lastError().text());
        present = query.next() && query.value(0).toString() == QLatin1String("table");
        query.finish();
    }
    if (!present)
        return fields;
    if (!query.exec(QStringLiteral("SELECT Name, Value FROM HeaderFields")))
        return fail(query.lastError().text());
    while (query.next())
        fields[query.value(0).toString()] = textOf(query.value(1));
    if (query.lastError().isValid())
        return fail(query.lastError().text());
    return fields;
}

Result<void> ProjectDatabase::setHeaderFields(const std::map<QString, QString> &fields)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    return inTransaction([&]() -> Result<void> {
        QSqlQuery query(m_db);
        if (!m_server
            && !query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS HeaderFields "
                                          "(Name TEXT NOT NULL PRIMARY KEY, Value TEXT)")))
            return fail(query.lastError().text());
        for (const auto &[name, value] : fields) {
            query.prepare(m_server ? QStringLiteral("INSERT INTO HeaderFields (Name, Value) "
                                                    "VALUES (?, ?) ON CONFLICT (project_id, name) "
                                                    "DO UPDATE SET value = EXCLUDED.value")
                                   : QStringLiteral("INSERT OR REPLACE INTO HeaderFields "
                                                    "(Name, Value) VALUES (?, ?)"));
            query.addBindValue(name);
            query.addBindValue(value);
            if (!query.exec())
                return fail(query.lastError().text());
        }
        return success();
    });
}

Result<void> ProjectDatabase::checkKeys()
{
    if (m_server)
        return success(); // the server's columns are 32-bit integers
    // Epoch and point numbers are 32-bit: one beyond would be read as
    // another number (4294967298 as 2).
    const std::pair<const char *, const char *> keys[] = {
        {"Sur1", "CjNo"}, {"Sur2", "CjNo"}, {"Sur2", "CjdNo"}, {"Sur3", "CjdNo"}};
    for (const auto &[table, column] : keys) {
        QSqlQuery query(m_db);
        if (!query.exec(QStringLiteral("SELECT %2 FROM %1 WHERE %2 > 2147483647 OR %2 < -2147483648 "
                                       "LIMIT 1")
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

Result<std::optional<int>> ProjectDatabase::maxPointNumber()
{
    QSqlQuery &query = statement("maxPoint", QStringLiteral("SELECT MAX(CjdNo) FROM Sur2"));
    const auto highest = firstRow(query, firstValue);
    if (!highest)
        return highest.failure();
    if (!*highest || (*highest)->isNull())
        return std::optional<int>();
    return std::optional<int>((*highest)->toInt());
}

Result<std::vector<Point>> ProjectDatabase::points()
{
    QSqlQuery &query = statement(
        "points", QStringLiteral("SELECT CjdNo, PointName, Aci, Mark FROM Sur3 ORDER BY CjdNo"));
    return allRows(query, pointFrom);
}

Result<std::optional<Point>> ProjectDatabase::pointByNumber(int cjdNo)
{
    QSqlQuery &query = statement(
        "pointByNumber",
        QStringLiteral("SELECT CjdNo, PointName, Aci, Mark FROM Sur3 WHERE CjdNo = ? LIMIT 1"));
    query.bindValue(0, cjdNo);
    return firstRow(query, pointFrom);
}

Result<std::optional<Point>> ProjectDatabase::pointByName(const QString &name)
{
    QSqlQuery &query = statement(
        "pointByName", QStringLiteral("SELECT CjdNo, PointName, Aci, Mark FROM Sur3 "
                                      "WHERE PointName = ? COLLATE NOCASE ORDER BY CjdNo LIMIT 1"));
    query.bindValue(0, name);
    return firstRow(query, pointFrom);
}

Result<void> ProjectDatabase::addPoint(const Point &point)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    QSqlQuery &query = statement(
        "addPoint",
        QStringLiteral("INSERT INTO Sur3 (CjdNo, PointName, Aci, Mark) VALUES (?, ?, ?, ?)"));
    query.bindValue(0, point.cjdNo);
    query.bindValue(1, point.name);
    query.bindValue(2, point.aci);
    query.bindValue(3, point.mark);
    return run(query);
}

Result<void> ProjectDatabase::setPointStyle(int cjdNo, int aci, const QString &mark)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    QSqlQuery &query =
        statement("setPointStyle", QStringLiteral("UPDATE Sur3 SET Aci = ?, Mark = ? WHERE CjdNo = ?"));
    query.bindValue(0, aci);
    query.bindValue(1, mark);
    query.bindValue(2, cjdNo);
    if (auto ran = run(query); !ran)
        return ran;
    if (query.numRowsAffected() < 1)
        return fail(QStringLiteral("找不到第 %1 号观测点").arg(cjdNo));
    return success();
}

Result<void> ProjectDatabase::renamePoint(int cjdNo, const QString &name)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    QSqlQuery &query =
        statement("renamePoint", QStringLiteral("UPDATE Sur3 SET PointName = ? WHERE CjdNo = ?"));
    query.bindValue(0, name);
    query.bindValue(1, cjdNo);
    if (auto ran = run(query); !ran)
        return ran;
    if (query.numRowsAffected() < 1)
        return fail(QStringLiteral("找不到第 %1 号观测点").arg(cjdNo));
    return success();
}

Result<void> ProjectDatabase::deletePoint(int cjdNo)
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    return inTransaction([&]() -> Result<void> {
        QSqlQuery &removePoint =
            statement("deletePoint", QStringLiteral("DELETE FROM Sur3 WHERE CjdNo = ?"));
        removePoint.bindValue(0, cjdNo);
        if (auto ran = run(removePoint); !ran)
            return ran;
        QSqlQuery &removeElevations = statement(
            "deletePointElevations", QStringLiteral("DELETE FROM Sur2 WHERE CjdNo = ?"));
        removeElevations.bindValue(0, cjdNo);
        return run(removeElevations);
    });
}

Result<std::optional<Rgb>> ProjectDatabase::colour(int aci)
{
    QSqlQuery &query = statement(
        "colour",
        QStringLiteral("SELECT Rgb_R, Rgb_G, Rgb_B FROM AciRgb WHERE Aci_Color = ? LIMIT 1"));
    query.bindValue(0, aci);
    return firstRow(query, [](const QSqlQuery &row) {
        return Rgb{row.value(0).toInt(), row.value(1).toInt(), row.value(2).toInt()};
    });
}

Result<std::vector<std::pair<int, Rgb>>> ProjectDatabase::colours()
{
    QSqlQuery &query =
        statement("colours", QStringLiteral("SELECT Aci_Color, Rgb_R, Rgb_G, Rgb_B FROM AciRgb "
                                            "ORDER BY Aci_Color"));
    return allRows(query, colourFrom);
}

bool isSameFileIgnoringCase(const QString &path, const QStringList &programFiles)
{
    const auto resolved = [](const QString &file) {
        const QFileInfo info(file);
        const QString canonical = info.canonicalFilePath();
        return QDir::cleanPath(canonical.isEmpty() ? info.absoluteFilePath() : canonical);
    };
    const QString chosen = resolved(path);
    for (const QString &file : programFiles)
        if (chosen.compare(resolved(file), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

std::map<QString, QString> effectiveHeaderFields(const SettingsStore &settings,
                                                 ProjectDatabase *project)
{
    std::map<QString, QString> fields;
    if (project)
        if (auto own = project->headerFields())
            fields = std::move(*own);
    for (const QString &key : headerFieldKeys())
        if (!fields.count(key))
            if (const auto stored = settings.readSetting(key))
                fields[key] = *stored;
    return fields;
}

bool usableElevation(double metres)
{
    return std::isfinite(metres) && std::fabs(metres) < maxElevation;
}
