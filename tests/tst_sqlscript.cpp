// Scripts kept as SQL files are cut into the statements psql and sqlite3
// would run: a ";" in a string, a name, a comment, a function's body or a
// trigger's body ends nothing. Every kept script reads.
#include "project/sqlscript.h"

#include "project/serverparts.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QTest>

class SqlScriptTest : public QObject
{
    Q_OBJECT
private slots:
    void statementsEndWhereTheyEnd_data();
    void statementsEndWhereTheyEnd();
    void everyKeptScriptReads();
};

void SqlScriptTest::statementsEndWhereTheyEnd_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("statements");
    QTest::newRow("two statements") << QStringLiteral("SELECT 1;\nSELECT 2;\n")
                                    << QStringList{QStringLiteral("SELECT 1"), QStringLiteral("SELECT 2")};
    QTest::newRow("the last without its ;")
        << QStringLiteral("SELECT 1;\n  SELECT 2  ") << QStringList{QStringLiteral("SELECT 1"), QStringLiteral("SELECT 2")};
    QTest::newRow("; in strings and names")
        << QStringLiteral("INSERT INTO t VALUES ('a;b', 'it''s;', E'\\';x', \"odd;name\");SELECT 3")
        << QStringList{QStringLiteral("INSERT INTO t VALUES ('a;b', 'it''s;', E'\\';x', \"odd;name\")"),
                       QStringLiteral("SELECT 3")};
    QTest::newRow("; in comments, comments alone no statement")
        << QStringLiteral("-- first; still a comment\nSELECT 1 /* ; */;\n/* trailing; */\n-- end;\n")
        << QStringList{QStringLiteral("-- first; still a comment\nSELECT 1 /* ; */")};
    QTest::newRow("dollar-quoted bodies")
        << QStringLiteral("CREATE FUNCTION f() RETURNS int LANGUAGE plpgsql AS $$ BEGIN RETURN 1; END $$;\n"
                          "DO $do$ BEGIN EXECUTE $q$SELECT 'x;'$q$; PERFORM $$;$$; END $do$;\nSELECT $1;")
        << QStringList{QStringLiteral("CREATE FUNCTION f() RETURNS int LANGUAGE plpgsql AS $$ BEGIN RETURN 1; END $$"),
                       QStringLiteral("DO $do$ BEGIN EXECUTE $q$SELECT 'x;'$q$; PERFORM $$;$$; END $do$"),
                       QStringLiteral("SELECT $1")};
    QTest::newRow("an SQLite trigger's body")
        << QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS t AFTER UPDATE ON s BEGIN "
                          "INSERT INTO h VALUES (CASE WHEN new.x IS NULL THEN 0 ELSE 1 END); "
                          "DELETE FROM o WHERE a = old.a; END;\nSELECT 1;")
        << QStringList{QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS t AFTER UPDATE ON s BEGIN "
                                      "INSERT INTO h VALUES (CASE WHEN new.x IS NULL THEN 0 ELSE 1 END); "
                                      "DELETE FROM o WHERE a = old.a; END"),
                       QStringLiteral("SELECT 1")};
    QTest::newRow("a PostgreSQL trigger has no body")
        << QStringLiteral("CREATE TRIGGER a AFTER INSERT ON t FOR EACH STATEMENT EXECUTE FUNCTION f();\n"
                          "CREATE TRIGGER b BEFORE INSERT ON t FOR EACH ROW EXECUTE FUNCTION g();")
        << QStringList{QStringLiteral("CREATE TRIGGER a AFTER INSERT ON t FOR EACH STATEMENT EXECUTE FUNCTION f()"),
                       QStringLiteral("CREATE TRIGGER b BEFORE INSERT ON t FOR EACH ROW EXECUTE FUNCTION g()")};
}

void SqlScriptTest::statementsEndWhereTheyEnd()
{
    QFETCH(QString, script);
    QFETCH(QStringList, statements);
    QCOMPARE(sqlStatements(script), statements);
}

void SqlScriptTest::everyKeptScriptReads()
{
    QDirIterator scripts(QStringLiteral(":/sql"), {QStringLiteral("*.sql")}, QDir::Files,
                         QDirIterator::Subdirectories);
    int count = 0;
    const QRegularExpression lock(QStringLiteral("pg_advisory_xact_lock\\((\\d+)"));
    while (scripts.hasNext()) {
        const QString path = scripts.next();
        const auto statements = sqlScript(path.mid(QStringLiteral(":/sql/").size()));
        QVERIFY2(statements, qPrintable(path));
        QVERIFY2(!statements->isEmpty(), qPrintable(path));
        ++count;
        // The project's write lock is the one the program takes too.
        for (const QString &statement : *statements)
            for (const auto &m : lock.globalMatch(statement))
                QCOMPARE(m.captured(1).toInt(), serverparts::projectWriteLock);
        for (const QString &statement : *statements)
            QVERIFY2(!statement.isEmpty() && !statement.endsWith(u';'), qPrintable(path + u' ' + statement));
    }
    QVERIFY(count >= 10);
    QVERIFY(!sqlScript(QStringLiteral("server/none.sql")));
}

QTEST_MAIN(SqlScriptTest)
#include "tst_sqlscript.moc"
