#pragma once

// What every command of sedimetra-batch shares: its command line (Qt's
// parser, --help of its own), the way it says a failure, and the inputs of
// a run on a project.

#include "base/result.h"
#include "session/projectsession.h"
#include "domain/projectsnapshot.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

class SettingsStore;

// Exit codes: 0 done, 1 failed (the reason on stderr), 2 the command line
// is not of the command's form, 3 a push written but not confirmed.
int usageError(const QString &why, const QString &synopsis = QString());
int failure(const QString &why);

// One command's line: options with a value or without, positional
// arguments, and --help.
class CommandLine
{
public:
    // `synopsis`: the command's form, as --help and a usage error show it.
    explicit CommandLine(QString synopsis);

    void option(const QString &name, const QString &valueName, const QString &description);
    void flag(const QString &name, const QString &description);

    // Parses the command's arguments (after its name). Nothing when the
    // command goes on; else the exit code, having printed the help (0) or
    // the usage error (2).
    std::optional<int> parse(const QStringList &args, int minPositional, int maxPositional);

    bool isSet(const QString &name) const { return m_parser.isSet(name); }
    QString value(const QString &name, const QString &fallback = QString()) const;
    QStringList values(const QString &name) const { return m_parser.values(name); }
    QStringList positional() const { return m_parser.positionalArguments(); }
    // A usage error of this command.
    int wrong(const QString &why) const { return usageError(why, m_synopsis); }

private:
    QString m_synopsis;
    QCommandLineParser m_parser;
};

// The program's folder (where Sdmx.mdb and Support/ are).
QString programDir();

// The settings beside the program and the whole project of a run, with the
// header fields its outputs carry: a project that cannot be read whole is a
// failure, never a run on half of it. The loader's warnings go to stderr.
Result<ProjectSnapshot> openInputs(const QString &projectPath, SettingsStore *settings,
                                   std::map<QString, QString> *headerFields);
// The same, keeping the session open: a run that reads more of the project
// (its record, its plan drawing) reads it through the session's store.
Result<std::unique_ptr<ProjectSession>> openInputSession(const QString &projectPath, SettingsStore *settings);

// Opens the project at `path` (a file or a server address); the failure
// names it.
class ProjectDatabase;
// The project at `path` opened through the one door: store, snapshot and
// model; refused like openProject. `settings` (may be null) gives the
// program-wide header fields and the analysis's settings.
Result<std::unique_ptr<ProjectSession>> openSession(const QString &path, const SettingsStore *settings = nullptr);
Result<void> openProject(ProjectDatabase &project, const QString &path);

// Writes `bytes` to standard output; false when it cannot.
bool writeOut(const QByteArray &bytes);

// The commands, each given the arguments after its name.
int curvesCommand(const QStringList &args);
int tableCommand(const QStringList &args);
int importCommand(const QStringList &args);
int analyseCommand(const QStringList &args);
int levelCommand(const QStringList &args);
int serverCommand(const QStringList &args);
int coordsCommand(const QStringList &args);
int planCommand(const QStringList &args);
int reportCommand(const QStringList &args);
// The read-only web view of the server's projects.
int serveCommand(const QStringList &args);
// A new epoch as the window makes one: checked (`malformed` set when the
// fields are not of their form, as against a name or date already used);
// writeNewEpoch places it in date order in the transaction that writes it,
// and gives its number and whether later ones moved up.
class ProjectDatabase;
struct NewEpoch
{
    Epoch epoch;
    bool inserted = false; // later epochs move up by one number
};
Result<NewEpoch> newEpochOf(const std::vector<Epoch> &epochs, const QString &date, const QString &name,
                            const QString &layers, bool *malformed);
Result<void> writeNewEpoch(ProjectDatabase &project, NewEpoch &planned);
// "已加入第 2 次观测“第三次”（2024-05-01）".
QString newEpochText(const NewEpoch &planned);
// A project made and kept from a script.
int newCommand(const QStringList &args);
int epochCommand(const QStringList &args);
int pointsCommand(const QStringList &args);
int headerCommand(const QStringList &args);
int verifyCommand(const QStringList &args);
// Where the elevations came from and every change since.
int historyCommand(const QStringList &args);
// curves --kind plan: the plan sheet of one epoch into the project's drawing.
struct CadPoint;
int planSheetCommand(const CommandLine &line, const QString &projectPath, CadPoint base);
