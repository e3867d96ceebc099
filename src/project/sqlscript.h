#pragma once

// SQL kept as scripts, in files a person can read and run with psql or
// sqlite3, compiled into the program (resources under :/sql/) and run here
// statement by statement.

#include "base/result.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The statements of a script, each without its closing ";": a ";" ends a
// statement only outside quoted strings and names, comments, PostgreSQL's
// dollar-quoted bodies ($$ … $$, $tag$ … $tag$) and the BEGIN … END body of
// an SQLite trigger (which ends at "; END;"). A statement of comments only
// is no statement; the last needs no ";".
QStringList sqlStatements(const QString &script);

// The statements of the kept script `name` (as "server/rights.sql");
// refused, with the reason, when the program holds no such script.
Result<QStringList> sqlScript(const QString &name);

// Runs every statement of the script file in one transaction. On failure the
// transaction is rolled back and the reason names the file, the database's
// words and the statement.
Result<void> runSqlScript(QSqlDatabase &db, const QString &scriptFile);
