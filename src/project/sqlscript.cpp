#include "project/sqlscript.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

namespace {

bool wordStart(QChar c)
{
    return c.isLetter() || c == u'_';
}

bool wordPart(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

// Past the quoted string or name opening at `i`: a doubled quote stands for
// itself, and after E (E'…') a backslash escapes.
qsizetype pastQuoted(const QString &script, qsizetype i)
{
    const qsizetype n = script.size();
    const QChar quote = script[i];
    const bool escapes = quote == u'\'' && i > 0 && (script[i - 1] == u'E' || script[i - 1] == u'e')
                         && (i < 2 || !wordPart(script[i - 2]));
    qsizetype j = i + 1;
    while (j < n) {
        if (escapes && script[j] == u'\\') {
            j += 2;
            continue;
        }
        if (script[j] == quote) {
            if (j + 1 < n && script[j + 1] == quote) {
                j += 2;
                continue;
            }
            break;
        }
        ++j;
    }
    return std::min(n, j + 1);
}

// The dollar quote ($$ or $tag$) opening at `i`, or nothing ($1 is a
// parameter, a$b a name).
QString dollarTagAt(const QString &script, qsizetype i)
{
    if (script[i] != u'$' || (i > 0 && wordPart(script[i - 1])))
        return QString();
    qsizetype j = i + 1;
    while (j < script.size() && (script[j].isLetterOrNumber() || script[j] == u'_'))
        ++j;
    if (j >= script.size() || script[j] != u'$' || (j > i + 1 && script[i + 1].isDigit()))
        return QString();
    return script.mid(i, j - i + 1);
}

} // namespace

QStringList sqlStatements(const QString &script)
{
    QStringList statements;
    const qsizetype n = script.size();
    qsizetype start = 0;       // where the statement under way began
    bool code = false;          // it holds more than comments and space
    bool trigger = false;       // it is CREATE [TEMP] TRIGGER …
    bool body = false;          // … with a BEGIN seen
    QStringList first;          // its first three words
    QString last, beforeLast;   // its last two tokens, words in capitals
    const auto token = [&](const QString &t) {
        beforeLast = last;
        last = t;
        code = true;
    };
    qsizetype i = 0;
    while (i < n) {
        const QChar c = script[i];
        const QChar next = i + 1 < n ? script[i + 1] : QChar();
        if (c == u'-' && next == u'-') {
            const qsizetype end = script.indexOf(u'\n', i);
            i = end < 0 ? n : end + 1;
            continue;
        }
        if (c == u'/' && next == u'*') {
            const qsizetype end = script.indexOf(QStringLiteral("*/"), i + 2);
            i = end < 0 ? n : end + 2;
            continue;
        }
        if (c == u'\'' || c == u'"') {
            token(QString(c));
            i = pastQuoted(script, i);
            continue;
        }
        if (const QString tag = dollarTagAt(script, i); !tag.isEmpty()) {
            const qsizetype end = script.indexOf(tag, i + tag.size());
            token(tag);
            i = end < 0 ? n : end + tag.size();
            continue;
        }
        if (wordStart(c)) {
            qsizetype j = i + 1;
            while (j < n && wordPart(script[j]))
                ++j;
            const QString word = script.mid(i, j - i).toUpper();
            if (first.size() < 3) {
                first << word;
                const QString second = first.value(1);
                trigger = first.front() == QLatin1String("CREATE")
                          && (second == QLatin1String("TRIGGER")
                              || ((second == QLatin1String("TEMP") || second == QLatin1String("TEMPORARY"))
                                  && first.value(2) == QLatin1String("TRIGGER")));
            }
            if (trigger && word == QLatin1String("BEGIN"))
                body = true;
            token(word);
            i = j;
            continue;
        }
        if (c == u';') {
            // An SQLite trigger's body holds statements of its own.
            if (body && !(last == QLatin1String("END") && beforeLast == QLatin1String(";"))) {
                token(QStringLiteral(";"));
                ++i;
                continue;
            }
            if (code)
                statements << script.mid(start, i - start).trimmed();
            start = i + 1;
            code = trigger = body = false;
            first.clear();
            last.clear();
            beforeLast.clear();
            ++i;
            continue;
        }
        if (!c.isSpace())
            token(QString(c));
        ++i;
    }
    if (code)
        statements << script.mid(start).trimmed();
    return statements;
}

Result<QStringList> sqlScript(const QString &name)
{
    QFile file(QStringLiteral(":/sql/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("程序中没有 SQL 脚本 %1").arg(name));
    return sqlStatements(QString::fromUtf8(file.readAll()));
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
