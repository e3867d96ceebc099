#include "project/settingsstore.h"

#include "base/textnumber.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

SettingsStore::~SettingsStore()
{
    if (!m_connection.isEmpty()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

Result<void> SettingsStore::open(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile()) {
        return fail(QStringLiteral("文件不存在"));
    }
    m_connection = QStringLiteral("sdmx-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    // Opened by URI with mode=rw, so that a file that vanished since the check
    // above is reported instead of being made anew as an empty database.
    m_db.setDatabaseName(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded)
                         + QStringLiteral("?mode=rw"));
    m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=3000"));
    if (!m_db.open()) {
        return fail(m_db.lastError().text());
    }
    QSqlQuery probe(m_db);
    if (!probe.exec(QStringLiteral("SELECT Name, Value FROM Para1 LIMIT 1"))) {
        const QString reason = probe.lastError().text();
        m_db.close();
        return fail(reason);
    }
    m_path = path;
    return success();
}

std::optional<QString> SettingsStore::readSetting(const QString &key) const
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT Value FROM Para1 WHERE Name = ?"));
    query.addBindValue(key);
    if (!query.exec())
        return std::nullopt;
    if (!query.next())
        return std::nullopt;
    const QVariant value = query.value(0);
    return value.isNull() ? QString() : value.toString();
}

QString SettingsStore::readSettingOr(const QString &key) const
{
    return readSetting(key).value_or(settingDefault(key));
}

Result<void> SettingsStore::writeSetting(const QString &key, const QString &value)
{
    // Update the row, and add it when there was none: the same upsert works
    // on a Para1 made without a key constraint.
    QSqlQuery update(m_db);
    update.prepare(QStringLiteral("UPDATE Para1 SET Value = ? WHERE Name = ?"));
    update.addBindValue(value);
    update.addBindValue(key);
    if (!update.exec())
        return fail(update.lastError().text());
    if (update.numRowsAffected() > 0)
        return success();
    QSqlQuery insert(m_db);
    insert.prepare(QStringLiteral("INSERT INTO Para1 (Name, Value) VALUES (?, ?)"));
    insert.addBindValue(key);
    insert.addBindValue(value);
    if (!insert.exec())
        return fail(insert.lastError().text());
    return success();
}

double positiveSetting(const SettingsStore &settings, const QString &key, double fallback)
{
    const auto stored = settings.readSetting(key);
    if (!stored || !isNumeric(stored->trimmed()))
        return fallback;
    const double value = leadingNumber(*stored);
    return std::isfinite(value) && value > 0 ? value : fallback;
}
