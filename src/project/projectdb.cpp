#include "project/projectdb.h"

#include "base/programfiles.h"
#include "base/savefile.h"
#include "project/settingsstore.h"
#include "project/storedialect.h"
#include "project/queryrows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlRecord>
#include <QUuid>

#include <cmath>
#include <limits>

#include <cstring>

using namespace projectrows;

ProjectDatabase::ProjectDatabase() = default;

ProjectDatabase::~ProjectDatabase()
{
    m_statements.clear();
    m_dialect.reset(); // its statements go before the connection
    if (!m_connection.isEmpty() && !m_borrowed) {
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

Result<void> ProjectDatabase::open(const QString &path, const QString &password)
{
    m_dialect = isServerUrl(path) ? serverDialect() : fileDialect();
    m_connection = QStringLiteral("project-") + QUuid::createUuid().toString(QUuid::Id128);
    auto db = m_dialect->open(path, password, m_connection);
    if (!db) {
        // The failed connection goes with its name.
        if (QSqlDatabase::contains(m_connection))
            QSqlDatabase::removeDatabase(m_connection);
        m_connection.clear();
        return db.failure();
    }
    m_db = *db;
    return success();
}

Result<void> ProjectDatabase::openOnServerConnection(const QString &connection, const QString &project)
{
    m_dialect = serverDialect();
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    if (!db.isOpen())
        return fail(QStringLiteral("与服务器的连接已断开"));
    if (auto opened = m_dialect->openOn(db, project); !opened)
        return opened;
    m_connection = connection;
    m_borrowed = true;
    m_db = db;
    return success();
}

QString ProjectDatabase::path() const
{
    return m_dialect ? m_dialect->path() : QString();
}

bool ProjectDatabase::isServer() const
{
    return m_dialect && m_dialect->isServer();
}

bool ProjectDatabase::isReadOnly() const
{
    return m_dialect && m_dialect->readOnly();
}

Result<ProjectDatabase::Durability> ProjectDatabase::durability()
{
    if (!m_db.isOpen())
        return fail(QStringLiteral("没有打开的沉降工程"));
    return m_dialect->durability(m_db);
}

Result<qint64> ProjectDatabase::dataVersion()
{
    if (!m_db.isOpen())
        return fail(QStringLiteral("没有打开的沉降工程"));
    return m_dialect->dataVersion(m_db);
}

QSqlQuery &ProjectDatabase::statement(const char *key, const QString &sql)
{
    for (auto &[k, query] : m_statements)
        if (k == key || std::strcmp(k, key) == 0)
            return *query;
    auto query = std::make_unique<QSqlQuery>(m_db);
    query->setForwardOnly(true);
    if (!query->prepare(sql))
        m_unprepared[query.get()] = query->lastError().text();
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
        return fail(m_dialect->failure(query.lastError()));
    }
    return success();
}

void ProjectDatabase::noteFailure(const QSqlError &error)
{
    m_retryable = m_dialect->retryable(error);
}

Result<void> ProjectDatabase::checkWritable()
{
    if (!m_dialect)
        return fail(QStringLiteral("没有打开的沉降工程"));
    return m_dialect->checkWritable();
}

Result<void> ProjectDatabase::beginTransaction()
{
    if (auto writable = checkWritable(); !writable)
        return writable;
    return m_dialect->begin(m_db);
}

Result<void> ProjectDatabase::commitTransaction()
{
    if (m_provenanceReady)
        if (auto sealed = m_dialect->sealHistory(m_db); !sealed) {
            rollbackTransaction();
            return fail(QStringLiteral("无法为修改记录加上校验值，未作任何修改：%1").arg(sealed.error()));
        }
    Result<void> committed = m_dialect->commit(m_db);
    if (!committed) {
        noteFailure(m_db.lastError());
        rollbackTransaction();
    }
    return committed;
}

void ProjectDatabase::rollbackTransaction()
{
    m_dialect->rollback(m_db);
    // Tables, triggers and the entry made in the transaction went with it.
    m_provenanceReady = false;
    m_hasProvenance.reset();
    m_entriesCarried.reset();
    m_entry.reset();
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
                                      "WHERE %1 ORDER BY CjNo LIMIT 1")
                           .arg(m_dialect->caseless("MyDate")));
    query.bindValue(0, date);
    return firstRow(query, epochFrom);
}

Result<std::optional<Epoch>> ProjectDatabase::epochByName(const QString &name)
{
    QSqlQuery &query = statement(
        "epochByName", QStringLiteral("SELECT CjNo, MyDate, Name, Layers FROM Sur1 "
                                      "WHERE %1 ORDER BY CjNo LIMIT 1")
                           .arg(m_dialect->caseless("Name")));
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
    // Recorded: its date, name and floors are what later changes are
    // compared with.
    return recorded([&]() -> Result<void> {
        QSqlQuery &query = statement(
            "addEpoch",
            QStringLiteral("INSERT INTO Sur1 (CjNo, MyDate, Name, Layers) VALUES (?, ?, ?, ?)"));
        query.bindValue(0, epoch.cjNo);
        query.bindValue(1, epoch.date);
        query.bindValue(2, epoch.name);
        query.bindValue(3, epoch.layers);
        return run(query);
    });
}

Result<void> ProjectDatabase::updateEpoch(const Epoch &epoch)
{
    return recorded([&]() -> Result<void> {
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
    });
}

Result<void> ProjectDatabase::deleteEpoch(int cjNo)
{
    return recorded([&]() -> Result<void> {
        // The elevations first: their deletions are recorded while the
        // epoch is still there to name them.
        QSqlQuery &removeElevations =
            statement("deleteEpochElevations", QStringLiteral("DELETE FROM Sur2 WHERE CjNo = ?"));
        removeElevations.bindValue(0, cjNo);
        if (auto ran = run(removeElevations); !ran)
            return ran;
        QSqlQuery &removeEpoch =
            statement("deleteEpoch", QStringLiteral("DELETE FROM Sur1 WHERE CjNo = ?"));
        removeEpoch.bindValue(0, cjNo);
        if (auto ran = run(removeEpoch); !ran)
            return ran;
        if (removeEpoch.numRowsAffected() < 1)
            return fail(QStringLiteral("找不到第 %1 次观测").arg(cjNo));
        return renumberEpochs(cjNo, -1);
    });
}

Result<void> ProjectDatabase::renumberEpochs(int first, int step)
{
    const auto provenance = hasProvenance();
    if (!provenance)
        return provenance.failure();
    return m_dialect->renumberEpochs(m_db, first, step, *provenance, m_recording);
}

Result<void> ProjectDatabase::insertEpoch(const Epoch &epoch)
{
    return recorded([&]() -> Result<void> {
        // Up by one through negative numbers, as deleteEpoch moves them down.
        if (auto moved = renumberEpochs(epoch.cjNo, 1); !moved)
            return moved;
        return addEpoch(epoch);
    });
}

Result<std::pair<Epoch, bool>> ProjectDatabase::addEpochByDate(const QString &date, const QString &name,
                                                               const QString &layers)
{
    Epoch epoch{0, date, name, layers};
    bool inserted = false;
    const auto added = recorded([&]() -> Result<void> {
        if (auto held = m_dialect->lockEpochs(m_db); !held)
            return held;
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        if (!query.prepare(QStringLiteral("SELECT CjNo, MyDate, Name, Layers FROM Sur1 ORDER BY CjNo")))
            return fail(m_dialect->failure(query.lastError()));
        const auto epochs = allRows(query, epochFrom);
        if (!epochs)
            return epochs.failure();
        epoch.cjNo = epochs->empty() ? 0 : epochs->back().cjNo + 1;
        inserted = false;
        for (const Epoch &e : *epochs) {
            if (e.date == date)
                return fail(QStringLiteral("“%1”日期已存在，请修改！").arg(date));
            if (e.name.compare(name, Qt::CaseInsensitive) == 0)
                return fail(QStringLiteral("“%1”名称已存在，请修改！").arg(name));
        }
        // Dates are yyyy-mm-dd: in that form text order is date order.
        for (const Epoch &e : *epochs)
            if (e.date > date) {
                epoch.cjNo = e.cjNo;
                inserted = true;
                break;
            }
        if (inserted)
            if (auto moved = renumberEpochs(epoch.cjNo, 1); !moved)
                return moved;
        return addEpoch(epoch);
    });
    if (!added)
        return added.failure();
    return std::pair(epoch, inserted);
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

Result<void> ProjectDatabase::setElevation(int cjNo, int cjdNo, double metres, const ElevationDetail &detail)
{
    if (!usableElevation(metres))
        return fail(QStringLiteral("高程 %1 不是有效的高程（须为有限的数，绝对值小于 %2 m），未保存")
                        .arg(metres, 0, 'g', 6)
                        .arg(maxElevation, 0, 'g', 6));
    return recorded([&]() -> Result<void> {
        // Its origin first: the value's history row is written as it lands.
        // (A copy brings its origins along.) A value typed has no origin
        // row: its history row says who typed it and when.
        if (!m_entry)
            return writeElevation(cjNo, cjdNo, metres);
        if (m_way.how == WriteHow::Typed || m_way.how == WriteHow::Undo) {
            QSqlQuery &forget = statement(
                "forgetOrigin", QStringLiteral("DELETE FROM Origins WHERE CjNo = ? AND CjdNo = ?"));
            forget.bindValue(0, cjNo);
            forget.bindValue(1, cjdNo);
            if (auto ran = run(forget); !ran)
                return ran;
            return writeElevation(cjNo, cjdNo, metres);
        }
        QSqlQuery &origin = statement("upsertOrigin", m_dialect->upsertOrigin());
        origin.bindValue(0, cjNo);
        origin.bindValue(1, cjdNo);
        origin.bindValue(2, *m_entry);
        origin.bindValue(3, detail.line > 0 ? QVariant(detail.line) : QVariant(QMetaType(QMetaType::Int)));
        origin.bindValue(4, detail.station.isEmpty() ? QVariant(QMetaType(QMetaType::QString))
                                                     : QVariant(detail.station));
        origin.bindValue(5, detail.adjusted ? QVariant(*detail.adjusted) : QVariant(QMetaType(QMetaType::Double)));
        origin.bindValue(6, detail.sigmaMm ? QVariant(*detail.sigmaMm) : QVariant(QMetaType(QMetaType::Double)));
        if (auto ran = run(origin); !ran)
            return ran;
        return writeElevation(cjNo, cjdNo, metres);
    });
}

Result<void> ProjectDatabase::writeElevation(int cjNo, int cjdNo, double metres)
{
    if (const QString upsert = m_dialect->upsertElevation(); !upsert.isEmpty()) {
        QSqlQuery &query = statement("upsertElevation", upsert);
        query.bindValue(0, cjNo);
        query.bindValue(1, cjdNo);
        query.bindValue(2, metres);
        return run(query);
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
    return recorded([&]() -> Result<void> {
        QSqlQuery &query = statement("deleteElevation",
                                     QStringLiteral("DELETE FROM Sur2 WHERE CjNo = ? AND CjdNo = ?"));
        query.bindValue(0, cjNo);
        query.bindValue(1, cjdNo);
        return run(query);
    });
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
    if (!m_db.isOpen())
        return fail(QStringLiteral("没有打开的沉降工程"));
    const auto present = m_dialect->hasHeaderFields(m_db);
    if (!present)
        return present.failure();
    if (!*present)
        return fields;
    QSqlQuery query(m_db);
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
        if (auto made = m_dialect->makeHeaderFields(m_db); !made)
            return made;
        QSqlQuery query(m_db);
        for (const auto &[name, value] : fields) {
            if (!query.prepare(m_dialect->upsertHeaderField()))
                return fail(query.lastError().text());
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
    if (!m_db.isOpen())
        return fail(QStringLiteral("没有打开的沉降工程"));
    return m_dialect->checkKeys(m_db);
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
