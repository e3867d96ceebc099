#pragma once

#include "base/result.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// Splits an SQL script into statements: "--" comment lines are dropped and a
// statement ends at a line that ends with ";". The scripts of the program hold
// no ";" at a line end inside a string literal.
QStringList sqlStatements(const QString &script);

// Runs every statement of the script file in one transaction. On failure the
// transaction is rolled back and the reason names the file, the database's
// words and the statement.
Result<void> runSqlScript(QSqlDatabase &db, const QString &scriptFile);
