#pragma once

// The system database (Sdmx.mdb) the program keeps its settings in, read
// and written a key at a time; the keys and their defaults are in
// base/settings.h.

#include "base/result.h"
#include "base/settings.h"

#include <QSqlDatabase>
#include <QString>

#include <optional>

class SettingsStore;
// A setting that must be a positive number; `fallback` otherwise.
double positiveSetting(const SettingsStore &settings, const QString &key, double fallback);

class SettingsStore
{
public:
    SettingsStore() = default;
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // Opens the system database at `path` and checks that it holds Para1.
    // Never creates or changes the file: a missing file, a file that is not a
    // database and a database without Para1 are all refused with the reason.
    Result<void> open(const QString &path);
    bool isOpen() const { return m_db.isValid() && m_db.isOpen(); }
    QString path() const { return m_path; }

    // The stored value of `key`, or nothing when the key has no row (or the
    // row cannot be read).
    std::optional<QString> readSetting(const QString &key) const;

    // The stored value, or the key's default when it has no row.
    QString readSettingOr(const QString &key) const;

    // Stores `value` under `key`, adding the row when it is absent, and commits
    // at once. On failure nothing is stored, and the reason is given.
    Result<void> writeSetting(const QString &key, const QString &value);

private:
    QString m_connection;
    QString m_path;
    QSqlDatabase m_db;
};
