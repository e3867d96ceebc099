// sedimetra-mkdb: builds the program's database files from SQL at build time.
//
//   sedimetra-mkdb [--keep-existing] OUTPUT SQLFILE...
//
// The database is built in a private temporary folder and put in place through
// SaveFile only when every statement succeeded, so a failed build never
// leaves half a template. With --keep-existing an OUTPUT that already exists is
// left untouched: the system database holds the user's settings.
#include "base/savefile.h"
#include "project/sqlscript.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool build(const QString &output, const QStringList &sqlFiles, QString *error)
{
    const QString connection = QStringLiteral("mkdb");
    bool ok = true;
    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(output);
        if (!db.open()) {
            *error = QStringLiteral("cannot create %1: %2").arg(output, db.lastError().text());
            ok = false;
        }
        for (const QString &sqlFile : sqlFiles) {
            if (!ok)
                break;
            if (auto ran = runSqlScript(db, sqlFile); !ran) {
                *error = ran.error();
                ok = false;
                break;
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool keepExisting = args.removeAll(QStringLiteral("--keep-existing")) > 0;
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: sedimetra-mkdb [--keep-existing] OUTPUT SQLFILE...\n");
        return 2;
    }
    const QString output = args.takeFirst();
    if (keepExisting && QFileInfo::exists(output))
        return 0;

    QTemporaryDir work;
    const QString built = work.filePath(QStringLiteral("built.mdb"));
    QString error;
    if (!work.isValid() || !build(built, args, &error)) {
        std::fprintf(stderr, "sedimetra-mkdb: %s\n", qPrintable(error));
        return 1;
    }
    QFile file(built);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "sedimetra-mkdb: cannot read %s\n", qPrintable(built));
        return 1;
    }
    if (auto saved = saveFileContents(output, file.readAll()); !saved) {
        std::fprintf(stderr, "sedimetra-mkdb: %s\n", qPrintable(saved.error()));
        return 1;
    }
    return 0;
}
