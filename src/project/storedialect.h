#pragma once

// What a project file (SQLite) and a project on a server (PostgreSQL) do
// differently, behind one small interface: ProjectDatabase writes every
// other statement once, for both. Used only inside project/.

#include "base/result.h"
#include "project/projectdb.h"

#include <QSqlDatabase>
#include <QString>

#include <memory>
#include <optional>

class QSqlError;

class StoreDialect
{
public:
    virtual ~StoreDialect() = default;

    // Connects `connection` (a fresh name) to the store at `path`, with the
    // store's own checks: the tables and fields of a project file; the
    // schema, the project and this role's rights on a server.
    virtual Result<QSqlDatabase> open(const QString &path, const QString &password,
                                      const QString &connection) = 0;
    // Selects the server project `project` on a connection open already.
    virtual Result<void> openOn(QSqlDatabase &db, const QString &project)
    {
        (void)db;
        (void)project;
        return fail(QStringLiteral("project files have no shared connection"));
    }
    virtual bool isServer() const = 0;
    virtual bool readOnly() const = 0;
    // The file's full path, or the server project's address without password.
    virtual QString path() const = 0;

    // "column = ?", compared without regard to letter case.
    virtual QString caseless(const char *column) const = 0;
    // Whether a write may go ahead: not read-only, and a file still the one
    // opened.
    virtual Result<void> checkWritable() const = 0;
    virtual Result<void> begin(QSqlDatabase &db) = 0;
    virtual Result<void> commit(QSqlDatabase &db) = 0;
    virtual void rollback(QSqlDatabase &db) = 0;
    // A failure worth running the transaction again for (a deadlock).
    virtual bool retryable(const QSqlError &error) const = 0;
    // The sentence for a failed statement.
    virtual QString failure(const QSqlError &error) const = 0;

    virtual Result<ProjectDatabase::Durability> durability(QSqlDatabase &db) const = 0;
    // A number that moves when another program commits to the project.
    virtual Result<qint64> dataVersion(QSqlDatabase &db) = 0;
    // One statement writing an elevation (CjNo, CjdNo, PointH) whether or not
    // it has a record; empty where there is none (then: update, else insert).
    virtual QString upsertElevation() const = 0;
    // The header-field table: whether it is there, making it, and one
    // statement writing a field (Name, Value).
    virtual Result<bool> hasHeaderFields(QSqlDatabase &db) const = 0;
    virtual Result<void> makeHeaderFields(QSqlDatabase &db) const = 0;
    virtual QString upsertHeaderField() const = 0;
    // The points' positions (Sur3's X and Y) and the plan drawing's table:
    // whether they are there, and making them.
    virtual Result<bool> hasPositions(QSqlDatabase &db) const = 0;
    virtual Result<void> makePositions(QSqlDatabase &db) = 0;
    // Where the values came from (Sources, Entries, Origins, History):
    // whether the store has the tables; making them, with the triggers that
    // write the history (on a server they are part of the schema).
    virtual Result<bool> hasProvenance(QSqlDatabase &db) const = 0;
    virtual Result<void> makeProvenance(QSqlDatabase &db, bool recording) = 0;
    // Whether the entries have the mark of those carried from elsewhere
    // (CarriedBy: who carried them).
    virtual Result<bool> entriesCarried(QSqlDatabase &db) const = 0;
    // Inside a transaction that wrote the history, before it commits: the
    // history rows written are chained (historyHash).
    virtual Result<void> sealHistory(QSqlDatabase &db) = 0;
    // The history in chain order, each row's fields as historyHash takes
    // them: Id, EntryId, the time as hashed, Kind, OldValue, NewValue, then
    // Hash, CjNo, CjdNo.
    virtual QString chainRows() const = 0;
    // Starts the entry the writes of the transaction under way are recorded
    // under, and gives its id.
    virtual Result<qint64> beginEntry(QSqlDatabase &db, const QString &how,
                                      std::optional<qint64> source, const QString &sheet) = 0;
    // One statement writing an elevation's origin (CjNo, CjdNo, EntryId,
    // Line, Station, Adjusted, Sigma) whether or not it has one.
    virtual QString upsertOrigin() const = 0;
    // Moves the epochs from `first` on up one number (`step` 1) or down one
    // (-1, epoch `first` deleted), with their elevations, origins and
    // history, and records the move (a history row 'R') when `recording`.
    virtual Result<void> renumberEpochs(QSqlDatabase &db, int first, int step, bool provenance,
                                        bool recording) = 0;
    // Records, under the entry of the writing under way, that the surveyor
    // confirmed the elevation stored for epoch `cjNo` and point `cjdNo` as
    // observed: a history row 'C' with that value. Fails without one.
    virtual Result<void> confirmElevation(QSqlDatabase &db, int cjNo, int cjdNo) = 0;
    // Inside a transaction: holds the project against anyone else adding or
    // moving epochs until the transaction ends (a file's transaction holds
    // its write lock from its start).
    virtual Result<void> lockEpochs(QSqlDatabase &db) = 0;
    // Epoch and point numbers within 32 bits.
    virtual Result<void> checkKeys(QSqlDatabase &db) const = 0;
};

std::unique_ptr<StoreDialect> fileDialect();
std::unique_ptr<StoreDialect> serverDialect();
