#pragma once

// Projects held on a PostgreSQL server: their address, the schema, and the
// moves between a project file and the server. Uses base/ and the project
// store.

#include "base/result.h"

#include <QSqlDatabase>
#include <QString>

// postgresql://[user[:password]@]host[:port]/database?project=NAME
struct ServerAddress
{
    QString user;
    QString password; // only as given in the address; never stored or shown
    QString host;
    int port = 5432;
    QString database;
    QString project;
};

// True for a text that names a server project rather than a file.
bool isServerUrl(const QString &text);
// The address in the text; a reason for one that is not of the form above.
Result<ServerAddress> parseServerUrl(const QString &text);
// The address as it may be shown: never with a password.
QString displayUrl(const ServerAddress &address);
// A project path as it may be shown: a server address without its password,
// a file path as it is.
QString shownProjectPath(const QString &path);

// A new connection (named `connection`) to the server's database; libpq
// finds the password in PGPASSWORD or ~/.pgpass when the address has none,
// and sets up TLS as its configuration says. The reason on failure never
// holds the password.
Result<QSqlDatabase> connectToServer(const ServerAddress &address, const QString &connection);

// The names of the projects on the server, in order.
Result<QStringList> listServerProjects(const ServerAddress &address);

// The schema this program version writes: 1.
constexpr int serverSchemaVersion = 1;
// Creates the schema "sedimetra" (projects, header fields, the three record
// tables with a project id, the colour table from the project template's
// `colourSource`), the change counter, and the roles sedimetra_read and
// sedimetra_write with their grants; a schema already there is left as it is
// when it has this version. One transaction.
Result<QString> initialiseServer(const ServerAddress &address, const QString &templatePath);

// Copies the project file at `file` into the server as project
// `address.project` (refused when the name exists unless `replace`), then
// checks that every record arrived: counts and a checksum of the values.
// Returns a sentence saying so.
Result<QString> pushProject(const QString &file, const ServerAddress &address, bool replace);
// Writes the server project to a new project file at `file`, made from the
// project template and replaced only once complete and checked.
Result<QString> pullProject(const ServerAddress &address, const QString &templatePath,
                            const QString &file);
