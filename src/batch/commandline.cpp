#include "batch/commandline.h"

#include "base/programfiles.h"
#include "project/settingsstore.h"
#include "project/projectdb.h"
#include "project/serverstore.h"
#include "survey/domaininputs.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int usageError(const QString &why, const QString &synopsis)
{
    std::fprintf(stderr, "sedimetra-batch: %s\n", qPrintable(why));
    if (!synopsis.isEmpty())
        std::fprintf(stderr, "usage: sedimetra-batch %s\n", qPrintable(synopsis));
    else
        std::fprintf(stderr, "%s\n", "see sedimetra-batch --help");
    return 2;
}

int failure(const QString &why)
{
    std::fprintf(stderr, "sedimetra-batch: %s\n",
                 qPrintable(QString(why).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    return 1;
}

CommandLine::CommandLine(QString synopsis)
    : m_synopsis(std::move(synopsis))
{
    m_parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                          QStringLiteral("this help")));
}

void CommandLine::option(const QString &name, const QString &valueName, const QString &description)
{
    m_parser.addOption(QCommandLineOption(name, description, valueName));
}

void CommandLine::flag(const QString &name, const QString &description)
{
    m_parser.addOption(QCommandLineOption(name, description));
}

std::optional<int> CommandLine::parse(const QStringList &args, int minPositional, int maxPositional)
{
    if (!m_parser.parse(QStringList{QStringLiteral("sedimetra-batch")} + args))
        return wrong(m_parser.errorText());
    if (m_parser.isSet(QStringLiteral("help"))) {
        // Qt's own help, with this command's form in place of its first line.
        QString help = m_parser.helpText();
        help = help.mid(help.indexOf(QLatin1Char('\n')) + 1);
        std::printf("usage: sedimetra-batch %s\n%s", qPrintable(m_synopsis), qPrintable(help));
        return 0;
    }
    const int count = int(m_parser.positionalArguments().size());
    if (count < minPositional)
        return wrong(QStringLiteral("too few arguments"));
    if (maxPositional >= 0 && count > maxPositional)
        return wrong(QStringLiteral("unexpected argument %1")
                         .arg(m_parser.positionalArguments().value(maxPositional)));
    return std::nullopt;
}

QString CommandLine::value(const QString &name, const QString &fallback) const
{
    return m_parser.isSet(name) ? m_parser.value(name) : fallback;
}

QString programDir()
{
    static const QString dir = locateProgram(QCoreApplication::applicationDirPath(), defaultUserDataDir());
    return dir;
}

Result<void> openProject(ProjectDatabase &project, const QString &path)
{
    if (!isServerUrl(path) && isProgramFile(programDir(), path))
        return fail(QStringLiteral("“%1”是本程序自己的文件，不能用作沉降工程")
                        .arg(QDir::toNativeSeparators(path)));
    if (auto opened = project.open(path); !opened)
        return fail(QStringLiteral("cannot open the project %1: %2")
                        .arg(QDir::toNativeSeparators(shownProjectPath(path)), opened.error()));
    return success();
}

Result<std::unique_ptr<ProjectSession>> openSession(const QString &path, const SettingsStore *settings)
{
    auto project = std::make_unique<ProjectDatabase>();
    if (auto opened = openProject(*project, path); !opened)
        return opened.failure();
    auto session = std::make_unique<ProjectSession>(programDir(), settings);
    if (auto read = session->open(std::move(project)); !read)
        return read.failure();
    return session;
}

Result<std::unique_ptr<ProjectSession>> openInputSession(const QString &projectPath, SettingsStore *settings)
{
    const QString dir = programDir();
    if (auto opened = settings->open(systemDatabasePath(dir)); !opened)
        return fail(QStringLiteral("cannot open the system database %1: %2")
                        .arg(QDir::toNativeSeparators(systemDatabasePath(dir)), opened.error()));
    auto session = openSession(projectPath, settings);
    if (!session)
        return session.failure();
    for (const QString &warning : (*session)->snapshot().warnings())
        std::fprintf(stderr, "sedimetra-batch: warning: %s\n", qPrintable(warning));
    return session;
}

Result<ProjectSnapshot> openInputs(const QString &projectPath, SettingsStore *settings,
                                   std::map<QString, QString> *headerFields)
{
    const auto session = openInputSession(projectPath, settings);
    if (!session)
        return session.failure();
    *headerFields = (*session)->fields();
    return (*session)->snapshot();
}

bool writeOut(const QByteArray &bytes)
{
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size())
           && std::fflush(stdout) == 0;
}
