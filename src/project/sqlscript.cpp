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

Result<void> runSqlScript(QSqlDatabase &db, const QString &scriptFile)
{
    QFile file(scriptFile);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(scriptFile, file.errorString()));
    const QString script = QString::fromUtf8(file.readAll());
    if (!db.transaction())
        return fail(QStringLiteral("%1: %2").arg(scriptFile, db.lastError().text()));
    for (const QString &statement : sqlStatements(script)) {
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            const QString reason = QStringLiteral("%1: %2\n%3")
                                       .arg(scriptFile, query.lastError().text(), statement.left(200));
            db.rollback();
            return fail(reason);
        }
    }
    if (!db.commit())
        return fail(QStringLiteral("%1: %2").arg(scriptFile, db.lastError().text()));
    return success();
}
