#include "project/sqlscript.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

QStringList sqlStatements(const QString &script)
{
    QStringList statements;
    QString current;
    for (const QString &rawLine : script.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1String("--")))
            continue;
        current += line + QLatin1Char('\n');
        if (line.endsWith(QLatin1Char(';'))) {
            statements << current.trimmed();
            current.clear();
        }
    }
    if (!current.trimmed().isEmpty())
        statements << current.trimmed();
    return statements;
}

bool runSqlScript(QSqlDatabase &db, const QString &scriptFile, QString *error)
{
    QFile file(scriptFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(scriptFile, file.errorString());
        return false;
    }
    const QString script = QString::fromUtf8(file.readAll());
    if (!db.transaction()) {
        *error = QStringLiteral("%1: %2").arg(scriptFile, db.lastError().text());
        return false;
    }
    for (const QString &statement : sqlStatements(script)) {
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            *error = QStringLiteral("%1: %2\n%3")
                         .arg(scriptFile, query.lastError().text(), statement.left(200));
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        *error = QStringLiteral("%1: %2").arg(scriptFile, db.lastError().text());
        return false;
    }
    return true;
}
