#include "project/projectdb.h"

#include "base/programfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QUrl>
#include <QUuid>

#include <sqlite3.h>
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

bool ProjectDatabase::createFromTemplate(const QString &templatePath, const QString &path,
                                         QString *error)
{
    QFile source(templatePath);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("无法读取工程模板 %1：%2")
                     .arg(QDir::toNativeSeparators(templatePath), source.errorString());
        return false;
    }
    const QByteArray content = source.readAll();
    if (QFileInfo(path).isDir()) {
        *error = QStringLiteral("这是一个文件夹");
        return false;
    }
    // Written beside the target and renamed over it, so that a failed copy
    // never leaves half a project or destroys the file it was to replace.
    const QString temporary =
        path + QStringLiteral(".new-") + QUuid::createUuid().toString(QUuid::Id128).left(8);
    QFile target(temporary);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = target.errorString();
        return false;
    }
    const bool written =
        target.write(content) == content.size() && target.flush() && ::fsync(target.handle()) == 0;
    const QString writeError = target.errorString();
    target.close();
    if (!written) {
        QFile::remove(temporary);
        *error = writeError.isEmpty() ? QStringLiteral("写入失败") : writeError;
        return false;
    }
    return replaceWithFinished(temporary, path, error);
}

bool ProjectDatabase::open(const QString &path)
{
    m_error.clear();
    const QFileInfo info(path);
    if (!info.exists()) {
        m_error = QStringLiteral("文件不存在");
        return false;
    }
    if (!info.isFile()) {
        m_error = QStringLiteral("这不是一个文件");
        return false;
    }
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
    if (!m_db.open()) {
        m_error = m_db.lastError().text();
        return false;
    }

    for (const auto &[table, fields] : requiredTables) {
        QSqlQuery query(m_db);
        if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(QLatin1String(table)))) {
            m_error = query.lastError().text();
            return false;
        }
        QStringList present;
        while (query.next())
            present << query.value(1).toString();
        if (present.isEmpty()) {
            m_error = QStringLiteral("不是沉降工程数据库（缺少表 %1）").arg(QLatin1String(table));
            return false;
        }
        for (const char *field : fields) {
            if (!present.contains(QLatin1String(field), Qt::CaseInsensitive)) {
                m_error = QStringLiteral("不是沉降工程数据库（表 %1 缺少字段 %2）")
                              .arg(QLatin1String(table), QLatin1String(field));
                return false;
            }
        }
    }

    if (!m_readOnly) {
        // A rollback journal, and every commit synced to the disk before it
        // returns: a crash right after a commit loses nothing.
        QSqlQuery pragma(m_db);
        if (!pragma.exec(QStringLiteral("PRAGMA journal_mode=DELETE"))
            || !pragma.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
            m_error = pragma.lastError().text();
            return false;
        }
    }
    const auto identity = FileIdentity::of(info.absoluteFilePath());
    if (!identity) {
        m_error = QStringLiteral("文件不存在");
        return false;
    }
    m_identity = std::make_unique<FileIdentity>(*identity);
    m_path = info.absoluteFilePath();
    return true;
}

QSqlQuery &ProjectDatabase::statement(const char *key, const QString &sql)
{
    for (auto &[k, query] : m_statements)
        if (k == key || std::strcmp(k, key) == 0)
            return *query;
    auto query = std::make_unique<QSqlQuery>(m_db);
    query->setForwardOnly(true);
    query->prepare(sql);
    m_statements.emplace_back(key, std::move(query));
    return *m_statements.back().second;
}

bool ProjectDatabase::run(QSqlQuery &query)
{
    m_error.clear();
    if (!m_db.isOpen()) {
        m_error = QStringLiteral("没有打开的沉降工程");
        return false;
    }
    if (!query.exec()) {
        m_error = query.lastError().text();
        return false;
    }
    return true;
}

bool ProjectDatabase::checkWritable()
{
    m_error.clear();
    if (m_readOnly) {
        m_error = QStringLiteral("工程文件是只读的");
        return false;
    }
    const auto identity = FileIdentity::of(m_path);
    if (!identity || !m_identity || !(*identity == *m_identity)) {
        m_error = QStringLiteral("工程文件已被删除、移动或替换");
        return false;
    }
    return true;
}

bool ProjectDatabase::beginTransaction()
{
    if (!checkWritable())
        return false;
    QSqlQuery &begin = statement("begin", QStringLiteral("BEGIN IMMEDIATE"));
    if (!run(begin))
        return false;
    m_inTransaction = true;
    return true;
}

bool ProjectDatabase::commitTransaction()
{
    QSqlQuery &commit = statement("commit", QStringLiteral("COMMIT"));
    const bool ok = run(commit);
    if (!ok)
        rollbackTransaction();
    m_inTransaction = false;
    return ok;
}

void ProjectDatabase::rollbackTransaction()
{
    const QString error = m_error;
    QSqlQuery &rollback = statement("rollback", QStringLiteral("ROLLBACK"));
    rollback.exec();
    m_inTransaction = false;
    m_error = error;
}

std::optional<Epoch> ProjectDatabase::oneEpoch(QSqlQuery &query)
{
    std::optional<Epoch> epoch;
    if (run(query) && query.next())
        epoch = epochFrom(query);
    query.finish();
    return epoch;
}

std::optional<Point> ProjectDatabase::onePoint(QSqlQuery &query)
{
    std::optional<Point> point;
    if (run(query) && query.next())
        point = pointFrom(query);
    query.finish();
    return point;
}

std::vector<Epoch> ProjectDatabase::epochs()
{
    QSqlQuery &query = statement(
        "epochs", QStringLiteral("SELECT CjNo, MyDate, Name, Layers FROM Sur1 ORDER BY CjNo"));
    std::vector<Epoch> result;
    if (run(query))
        while (query.next())
            result.push_back(epochFrom(query));
    query.finish();
    return result;
}

std::optional<Epoch> ProjectDatabase::epochByNumber(int cjNo)
{
    QSqlQuery &query = statement(
        "epochByNumber",
        QStringLiteral("SELECT CjNo, MyDate, Name, Layers FROM Sur1 WHERE CjNo = ? LIMIT 1"));
    query.bindValue(0, cjNo);
    return oneEpoch(query);
}

std::optional<Epoch> ProjectDatabase::epochByDate(const QString &date)
{
    QSqlQuery &query = statement(
        "epochByDate", QStringLiteral("SELECT CjNo, MyDate, Name, Layers FROM Sur1 "
                                      "WHERE MyDate = ? COLLATE NOCASE ORDER BY CjNo LIMIT 1"));
    query.bindValue(0, date);
    return oneEpoch(query);
}

std::optional<Epoch> ProjectDatabase::epochByName(const QString &name)
{
    QSqlQuery &query = statement(
        "epochByName", QStringLiteral("SELECT CjNo, MyDate, Name, Layers FROM Sur1 "
                                      "WHERE Name = ? COLLATE NOCASE ORDER BY CjNo LIMIT 1"));
    query.bindValue(0, name);
    return oneEpoch(query);
}

std::optional<int> ProjectDatabase::nextEpochNumber()
{
    QSqlQuery &query = statement("nextEpoch", QStringLiteral("SELECT MAX(CjNo) FROM Sur1"));
    std::optional<int> next;
    if (run(query) && query.next())
        next = query.value(0).isNull() ? 0 : query.value(0).toInt() + 1;
    query.finish();
    return next;
}

bool ProjectDatabase::addEpoch(const Epoch &epoch)
{
    if (!checkWritable())
        return false;
    QSqlQuery &query = statement(
        "addEpoch",
        QStringLiteral("INSERT INTO Sur1 (CjNo, MyDate, Name, Layers) VALUES (?, ?, ?, ?)"));
    query.bindValue(0, epoch.cjNo);
    query.bindValue(1, epoch.date);
    query.bindValue(2, epoch.name);
    query.bindValue(3, epoch.layers);
    return run(query);
}

bool ProjectDatabase::updateEpoch(const Epoch &epoch)
{
    if (!checkWritable())
        return false;
    QSqlQuery &query = statement(
        "updateEpoch",
        QStringLiteral("UPDATE Sur1 SET MyDate = ?, Name = ?, Layers = ? WHERE CjNo = ?"));
    query.bindValue(0, epoch.date);
    query.bindValue(1, epoch.name);
    query.bindValue(2, epoch.layers);
    query.bindValue(3, epoch.cjNo);
    if (!run(query))
        return false;
    if (query.numRowsAffected() < 1) {
        m_error = QStringLiteral("找不到第 %1 次观测").arg(epoch.cjNo);
        return false;
    }
    return true;
}

std::optional<double> ProjectDatabase::elevation(int cjNo, int cjdNo)
{
    QSqlQuery &query =
        statement("elevation",
                  QStringLiteral("SELECT PointH FROM Sur2 WHERE CjNo = ? AND CjdNo = ? LIMIT 1"));
    query.bindValue(0, cjNo);
    query.bindValue(1, cjdNo);
    std::optional<double> value;
    if (run(query) && query.next())
        value = query.value(0).toDouble();
    query.finish();
    return value;
}

bool ProjectDatabase::setElevation(int cjNo, int cjdNo, double metres)
{
    if (!checkWritable())
        return false;
    // Update the record, and add it when there was none.
    QSqlQuery &update =
        statement("updateElevation",
                  QStringLiteral("UPDATE Sur2 SET PointH = ? WHERE CjNo = ? AND CjdNo = ?"));
    update.bindValue(0, metres);
    update.bindValue(1, cjNo);
    update.bindValue(2, cjdNo);
    if (!run(update))
        return false;
    if (update.numRowsAffected() > 0)
        return true;
    QSqlQuery &insert =
        statement("insertElevation",
                  QStringLiteral("INSERT INTO Sur2 (CjNo, CjdNo, PointH) VALUES (?, ?, ?)"));
    insert.bindValue(0, cjNo);
    insert.bindValue(1, cjdNo);
    insert.bindValue(2, metres);
    return run(insert);
}

bool ProjectDatabase::deleteElevation(int cjNo, int cjdNo)
{
    if (!checkWritable())
        return false;
    QSqlQuery &query = statement("deleteElevation",
                                 QStringLiteral("DELETE FROM Sur2 WHERE CjNo = ? AND CjdNo = ?"));
    query.bindValue(0, cjNo);
    query.bindValue(1, cjdNo);
    return run(query);
}

namespace {
std::vector<Elevation> readElevations(QSqlQuery &query)
{
    std::vector<Elevation> result;
    while (query.next())
        result.push_back(
            Elevation{query.value(0).toInt(), query.value(1).toInt(), query.value(2).toDouble()});
    query.finish();
    return result;
}
} // namespace

std::vector<Elevation> ProjectDatabase::elevationsOfPoint(int cjdNo)
{
    QSqlQuery &query = statement(
        "elevationsOfPoint",
        QStringLiteral("SELECT CjNo, CjdNo, PointH FROM Sur2 WHERE CjdNo = ? ORDER BY CjNo"));
    query.bindValue(0, cjdNo);
    return run(query) ? readElevations(query) : std::vector<Elevation>();
}

std::vector<Elevation> ProjectDatabase::elevationsOfEpoch(int cjNo, std::optional<int> upToPoint)
{
    QSqlQuery &query = statement("elevationsOfEpoch",
                                 QStringLiteral("SELECT CjNo, CjdNo, PointH FROM Sur2 "
                                                "WHERE CjNo = ? AND CjdNo <= ? ORDER BY CjdNo"));
    query.bindValue(0, cjNo);
    query.bindValue(1, upToPoint.value_or(std::numeric_limits<int>::max()));
    return run(query) ? readElevations(query) : std::vector<Elevation>();
}

std::vector<Elevation> ProjectDatabase::allElevations()
{
    // Every elevation is read for each preview redraw: straight through
    // SQLite's own interface, a row costs a fraction of a QSqlQuery row.
    m_error.clear();
    std::vector<Elevation> result;
    const QVariant handle = m_db.isOpen() ? m_db.driver()->handle() : QVariant();
    sqlite3 *db = handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0
                      ? *static_cast<sqlite3 *const *>(handle.constData())
                      : nullptr;
    if (!db) {
        QSqlQuery &query =
            statement("allElevations",
                      QStringLiteral("SELECT CjNo, CjdNo, PointH FROM Sur2 ORDER BY CjNo, CjdNo"));
        return run(query) ? readElevations(query) : result;
    }
    sqlite3_stmt *select = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT CjNo, CjdNo, PointH FROM Sur2 ORDER BY CjNo, CjdNo", -1,
                           &select, nullptr)
        != SQLITE_OK) {
        m_error = QString::fromUtf8(sqlite3_errmsg(db));
        return result;
    }
    int status;
    while ((status = sqlite3_step(select)) == SQLITE_ROW)
        result.push_back(Elevation{sqlite3_column_int(select, 0), sqlite3_column_int(select, 1),
                                   sqlite3_column_double(select, 2)});
    if (status != SQLITE_DONE) {
        m_error = QString::fromUtf8(sqlite3_errmsg(db));
        result.clear();
    }
    sqlite3_finalize(select);
    return result;
}

std::optional<int> ProjectDatabase::maxPointNumber()
{
    QSqlQuery &query = statement("maxPoint", QStringLiteral("SELECT MAX(CjdNo) FROM Sur2"));
    std::optional<int> result;
    if (run(query) && query.next() && !query.value(0).isNull())
        result = query.value(0).toInt();
    query.finish();
    return result;
}

std::vector<Point> ProjectDatabase::points()
{
    QSqlQuery &query = statement(
        "points", QStringLiteral("SELECT CjdNo, PointName, Aci, Mark FROM Sur3 ORDER BY CjdNo"));
    std::vector<Point> result;
    if (run(query))
        while (query.next())
            result.push_back(pointFrom(query));
    query.finish();
    return result;
}

std::optional<Point> ProjectDatabase::pointByNumber(int cjdNo)
{
    QSqlQuery &query = statement(
        "pointByNumber",
        QStringLiteral("SELECT CjdNo, PointName, Aci, Mark FROM Sur3 WHERE CjdNo = ? LIMIT 1"));
    query.bindValue(0, cjdNo);
    return onePoint(query);
}

std::optional<Point> ProjectDatabase::pointByName(const QString &name)
{
    QSqlQuery &query = statement(
        "pointByName", QStringLiteral("SELECT CjdNo, PointName, Aci, Mark FROM Sur3 "
                                      "WHERE PointName = ? COLLATE NOCASE ORDER BY CjdNo LIMIT 1"));
    query.bindValue(0, name);
    return onePoint(query);
}

bool ProjectDatabase::addPoint(const Point &point)
{
    if (!checkWritable())
        return false;
    QSqlQuery &query = statement(
        "addPoint",
        QStringLiteral("INSERT INTO Sur3 (CjdNo, PointName, Aci, Mark) VALUES (?, ?, ?, ?)"));
    query.bindValue(0, point.cjdNo);
    query.bindValue(1, point.name);
    query.bindValue(2, point.aci);
    query.bindValue(3, point.mark);
    return run(query);
}

bool ProjectDatabase::renamePoint(int cjdNo, const QString &name)
{
    if (!checkWritable())
        return false;
    QSqlQuery &query =
        statement("renamePoint", QStringLiteral("UPDATE Sur3 SET PointName = ? WHERE CjdNo = ?"));
    query.bindValue(0, name);
    query.bindValue(1, cjdNo);
    if (!run(query))
        return false;
    if (query.numRowsAffected() < 1) {
        m_error = QStringLiteral("找不到第 %1 号观测点").arg(cjdNo);
        return false;
    }
    return true;
}

std::optional<Rgb> ProjectDatabase::colour(int aci)
{
    QSqlQuery &query = statement(
        "colour",
        QStringLiteral("SELECT Rgb_R, Rgb_G, Rgb_B FROM AciRgb WHERE Aci_Color = ? LIMIT 1"));
    query.bindValue(0, aci);
    std::optional<Rgb> rgb;
    if (run(query) && query.next())
        rgb = Rgb{query.value(0).toInt(), query.value(1).toInt(), query.value(2).toInt()};
    query.finish();
    return rgb;
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
