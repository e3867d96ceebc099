#pragma once

// What the server's own files share (address and connection, schema and
// rights, moves); used only inside project/.

#include "base/result.h"
#include "project/serverstore.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QVariantList>

#include <vector>

namespace serverparts {

// Runs statements one after another on `db`; the first failure's reason.
Result<void> runAll(QSqlDatabase &db, const QStringList &statements);

// The server connection of a move, closed and removed with it.
struct Connection
{
    QString name = QStringLiteral("server-") + QUuid::createUuid().toString(QUuid::Id128);
    QSqlDatabase db;
    Connection() = default;
    // Connects to the server of `address` and checks that its database
    // holds this program's schema.
    Result<void> open(const ServerAddress &address);
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection()
    {
        if (db.isValid()) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
        }
    }
};

// Inserts rows of `columns` values into `table`, many rows a statement;
// `conflict` ("ON CONFLICT …") is added to each statement.
Result<void> insertRows(QSqlDatabase &db, const QString &table, int columns,
                        const std::vector<QVariantList> &rows, const QString &conflict = QString());

// Rows of values copied into `table` (a temporary table of the session's:
// COPY does not pass row-level security) in one COPY, tens of thousands at
// once; a null value is NULL, a number is written so that it reads back as
// the same number. On the connection's open transaction.
Result<void> copyRows(QSqlDatabase &db, const QString &table, const QStringList &columns,
                      const std::vector<QVariantList> &rows);

// A prepared statement on the server, or the reason it could not be
// prepared (never an "EXECUTE" error later).
Result<void> prepared(QSqlQuery &query, const QString &sql);

// The SQLSTATE of the query's last error.
QString sqlState(const QSqlQuery &query);

// The first key of a project's write lock (an advisory lock keyed by the
// project's id, "SdEp"): held from a transaction's first entry or history
// row, and by whoever adds or moves epochs, until the transaction ends.
constexpr int projectWriteLock = 0x53644570;

// Where a project's values came from: the files kept, the entries, the
// origins and the history.
inline const char *const provenanceTables[] = {"sources", "entries", "origins", "history"};

} // namespace serverparts
