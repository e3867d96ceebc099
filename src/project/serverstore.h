#pragma once

// Projects held on a PostgreSQL server: their address, the schema, and the
// moves between a project file and the server. Uses base/ and the project
// store.

#include "base/programfiles.h"
#include "base/result.h"

#include <QSqlDatabase>
#include <QString>

#include <vector>

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

// The address in the text; a reason for one that is not of the form above.
Result<ServerAddress> parseServerUrl(const QString &text);
// The address as it may be shown: never with a password.
QString displayUrl(const ServerAddress &address);
// A project path as it may be shown: a server address without its password,
// a file path as it is.
QString shownProjectPath(const QString &path);

// The program's arguments as given, read before anything else; every
// password in a server address among them (postgresql://user:PASSWORD@…)
// is then overwritten in the process's own argument memory, so that other
// users no longer see it in the process list. `hidden` tells whether there
// was one.
QStringList takeArgumentsHidingPasswords(int argc, char *argv[], bool *hidden);

// How long a session of this program waits, in seconds, for a lock another
// session holds (10 unless the setting "服务器等待秒数" says otherwise) and
// for one statement (six times that). Set once at start.
void setServerWaits(int lockSeconds);
class SettingsStore;
void setServerWaits(const SettingsStore &settings);
int serverLockWait();
int serverStatementWait();

// A new connection (named `connection`) to the server's database; libpq
// finds the password in PGPASSWORD or ~/.pgpass when the address has none,
// and sets up TLS as its configuration says. The reason on failure never
// holds the password.
Result<QSqlDatabase> connectToServer(const ServerAddress &address, const QString &connection);

// The names of the projects on the server, in order: those the login may read.
Result<QStringList> listServerProjects(const ServerAddress &address);
// The same over a connection open already.
Result<QStringList> listServerProjects(QSqlDatabase &db);

// The schema this program version writes: 7. Version 1 had no rights per
// project, 2 no positions; 3 let every login call the schema's functions;
// 4 kept no history; 5 no chain; 6 could not record a confirmed elevation.
constexpr int serverSchemaVersion = 7;
// The version of the schema on the server `db` is connected to; 0 when it
// has none.
Result<int> serverSchemaOf(QSqlDatabase &db);
// Success when the server holds this program's schema; otherwise the reason
// and what to run (server init) to make or upgrade it.
Result<void> checkServerSchema(QSqlDatabase &db, const ServerAddress &address);

// Creates the schema "sedimetra" (projects, their members, header fields,
// the three record tables with a project id, the colour table from the
// project template), the change counter, the roles sedimetra_read,
// sedimetra_write and sedimetra_admin, row-level security per project and
// the views a session works through. A schema of this version keeps its
// tables (rules, counter and views are made anew); version 1 is upgraded in
// place, its writers becoming writers of every existing project. One
// transaction.
Result<QString> initialiseServer(const ServerAddress &address, const QString &templatePath);

// What a push did: `checked` is false when the project was written but the
// read-back check did not confirm it (the message says why).
struct PushReport
{
    QString message;
    bool checked = false;
};

// Copies the project file at `file` into the server as project
// `address.project`, then checks that every record arrived: counts and a
// checksum of the values. A new project makes its login its writer; one
// that exists is refused unless `replace`, and replaced only by one of its
// writers (its records go, its members stay). A failure means nothing was
// written.
Result<PushReport> pushProject(const QString &file, const ServerAddress &address, bool replace);

// Gives the login or group role `member` rights `read`, `write` or `none`
// on the project of `address`; for members of sedimetra_admin only.
Result<QString> grantProject(const ServerAddress &address, const QString &member,
                             const QString &rights);
struct ProjectMember
{
    QString member;
    bool canWrite = false;
};
// Who is a member of the project of `address`, by name.
Result<std::vector<ProjectMember>> projectMembers(const ServerAddress &address);
// Writes the server project to a new project file at `file`, made from the
// project template and replaced only once complete and checked.
Result<QString> pullProject(const ServerAddress &address, const QString &templatePath,
                            const QString &file);
