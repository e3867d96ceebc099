// Rows carried to the server by COPY, over libpq on the connection the
// program already has (Qt's driver has no COPY of its own).
#include "project/serverparts.h"

#include <QLocale>
#include <QSqlDriver>

#include <libpq-fe.h>

namespace {

// A value as COPY's text format reads it.
void appendField(QByteArray &line, const QVariant &value)
{
    if (value.isNull()) {
        line += "\\N";
        return;
    }
    QByteArray text;
    switch (value.typeId()) {
    case QMetaType::Double:
        text = QByteArray::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
        break;
    case QMetaType::QByteArray:
        text = "\\\\x" + value.toByteArray().toHex();
        line += text;
        return;
    default:
        text = value.toString().toUtf8();
    }
    for (const char c : text) {
        switch (c) {
        case '\\':
            line += "\\\\";
            break;
        case '\t':
            line += "\\t";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        default:
            line += c;
        }
    }
}

QString lastError(PGconn *connection)
{
    return QString::fromUtf8(PQerrorMessage(connection)).trimmed();
}

} // namespace

Result<void> serverparts::copyRows(QSqlDatabase &db, const QString &table, const QStringList &columns,
                                   const std::vector<QVariantList> &rows)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // The driver names the handle by libpq's struct ("pg_conn*").
    if (!handle.isValid()
        || (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        return fail(QStringLiteral("服务器连接不是 PostgreSQL 的连接"));
    PGconn *connection = *static_cast<PGconn *const *>(handle.constData());
    const QByteArray statement =
        QStringLiteral("COPY %1 (%2) FROM STDIN").arg(table, columns.join(QLatin1Char(','))).toUtf8();
    PGresult *started = PQexec(connection, statement.constData());
    const bool copying = PQresultStatus(started) == PGRES_COPY_IN;
    PQclear(started);
    if (!copying)
        return fail(lastError(connection));
    // Sent in parts of about 256 KB: the rows are never one text in memory.
    QByteArray part;
    bool sent = true;
    for (const QVariantList &row : rows) {
        for (int i = 0; i < row.size(); ++i) {
            if (i > 0)
                part += '\t';
            appendField(part, row[i]);
        }
        part += '\n';
        if (part.size() > (256 << 10)) {
            sent = PQputCopyData(connection, part.constData(), int(part.size())) == 1;
            part.clear();
            if (!sent)
                break;
        }
    }
    if (sent && !part.isEmpty())
        sent = PQputCopyData(connection, part.constData(), int(part.size())) == 1;
    const QString interrupted = sent ? QString() : lastError(connection);
    if (PQputCopyEnd(connection, sent ? nullptr : "the program stopped sending") != 1)
        return fail(lastError(connection));
    QString failure = interrupted;
    while (PGresult *result = PQgetResult(connection)) {
        if (PQresultStatus(result) != PGRES_COMMAND_OK && failure.isEmpty())
            failure = QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
        PQclear(result);
    }
    if (!failure.isEmpty())
        return fail(failure);
    return success();
}
