#include "base/programfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>


QString programDirectoryOf(const QString &executableDir)
{
    QString dir = QDir::fromNativeSeparators(executableDir);
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

namespace {

// The user's own folder for the files the program writes, when it runs
// installed; empty when it runs from a folder of its own.
QString &userFilesDir()
{
    static QString dir;
    return dir;
}

// Where the writable files of a program directory are.
QString writableDir(const QString &programDir)
{
    return userFilesDir().isEmpty() ? programDir : userFilesDir();
}

// The files the program writes, shipped as their first contents.
const char *const userFiles[] = {"Sdmx.mdb", "Support/水准等级.json", "Support/变形限值.json"};

} // namespace

QString locateProgram(const QString &executableDir, const QString &userDataDir)
{
    const QString beside = programDirectoryOf(executableDir);
    userFilesDir().clear();
    // A folder of its own (the build folder, a portable copy): as it is.
    const QFileInfo database(beside + QStringLiteral("Sdmx.mdb"));
    if (database.isFile() && database.isWritable())
        return beside;
    const QString shared = programDirectoryOf(QDir::cleanPath(beside + QStringLiteral("../share/sedimetra")));
    if (!QFileInfo(shared).isDir() || userDataDir.isEmpty())
        return beside;
    // Installed: the shipped files read where they are, each user's own
    // settings and tables in their data folder, seeded from the shipped ones.
    const QString user = programDirectoryOf(userDataDir);
    QDir().mkpath(user + QStringLiteral("Support/TK"));
    for (const char *name : userFiles) {
        const QString file = QString::fromUtf8(name);
        if (QFileInfo::exists(user + file) || !QFileInfo(shared + file).isFile())
            continue;
        if (QFile::copy(shared + file, user + file))
            QFile::setPermissions(user + file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    userFilesDir() = user;
    return shared;
}

QString defaultUserDataDir()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? QString() : data + QStringLiteral("/sedimetra");
}

QString systemDatabasePath(const QString &programDir)
{
    return writableDir(programDir) + QStringLiteral("Sdmx.mdb");
}

QString projectTemplatePath(const QString &programDir)
{
    return programDir + QStringLiteral("Support/Db/数据库模板.mdb");
}

bool isProgramFile(const QString &programDir, const QString &path)
{
    const auto resolved = [](const QString &file) {
        const QFileInfo info(file);
        const QString canonical = info.canonicalFilePath();
        return QDir::cleanPath(canonical.isEmpty() ? info.absoluteFilePath() : canonical);
    };
    const QString chosen = resolved(path);
    if (chosen.compare(resolved(systemDatabasePath(programDir)), Qt::CaseInsensitive) == 0)
        return true;
    for (const QString &folder : {programDir, writableDir(programDir)}) {
        const QString support = resolved(folder + QStringLiteral("Support")) + QLatin1Char('/');
        if (chosen.startsWith(support, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString frameTemplatesDir(const QString &programDir)
{
    return programDir + QStringLiteral("Support/TK/");
}

QString levelGradesPath(const QString &programDir)
{
    return writableDir(programDir) + QStringLiteral("Support/水准等级.json");
}

QString deformationLimitsPath(const QString &programDir)
{
    return writableDir(programDir) + QStringLiteral("Support/变形限值.json");
}

QString tableTemplatesDir(const QString &programDir)
{
    return programDir + QStringLiteral("Support/Tab/");
}

QStringList frameTemplateEntries(const QString &dir)
{
    QStringList entries;
    const QStringList names =
        QDir(dir).entryList(QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDir::Name | QDir::IgnoreCase);
    for (const QString &name : names) {
        const QString upper = name.toUpper();
        if (upper.endsWith(QLatin1String(".DWG")) || upper.endsWith(QLatin1String(".DXF")))
            continue;
        entries << upper;
    }
    return entries;
}

QStringList tableTemplateEntries(const QString &dir)
{
    QStringList entries;
    const QStringList names =
        QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    const QLatin1String extension(".xlsx");
    for (const QString &name : names) {
        if (name.size() > extension.size() && name.endsWith(extension, Qt::CaseInsensitive))
            entries << name.left(name.size() - extension.size());
    }
    return entries;
}

int indexIgnoringCase(const QStringList &entries, const QString &value)
{
    const int exact = int(entries.indexOf(value));
    if (exact >= 0)
        return exact;
    for (int i = 0; i < entries.size(); ++i)
        if (entries[i].compare(value, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString findIgnoringCase(const QString &dir, const QString &name)
{
    // One entry of the folder, never a path out of it.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))
        || name == QLatin1String(".") || name == QLatin1String(".."))
        return QString();
    const QDir directory(dir);
    if (directory.exists(name))
        return directory.filePath(name);
    const QStringList names = directory.entryList(
        QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    const int index = indexIgnoringCase(names, name);
    return index < 0 ? QString() : directory.filePath(names[index]);
}

QStringList allFrameTemplateEntries(const QString &programDir)
{
    QStringList entries = frameTemplateEntries(frameTemplatesDir(programDir));
    if (!userFilesDir().isEmpty())
        for (const QString &own : frameTemplateEntries(userFilesDir() + QStringLiteral("Support/TK/")))
            if (indexIgnoringCase(entries, own) < 0)
                entries << own;
    std::sort(entries.begin(), entries.end(),
              [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return entries;
}

QString frameTemplateFolder(const QString &programDir, const QString &templateName)
{
    if (!userFilesDir().isEmpty()) {
        const QString own = findIgnoringCase(userFilesDir() + QStringLiteral("Support/TK/"), templateName);
        if (!own.isEmpty())
            return own;
    }
    return findIgnoringCase(frameTemplatesDir(programDir), templateName);
}

QString frameLayoutFile(const QString &programDir, const QString &templateName)
{
    const QString folder = frameTemplateFolder(programDir, templateName);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return QString();
    const QString file = findIgnoringCase(folder, templateName + QStringLiteral(".ini"));
    return file.isEmpty() || !QFileInfo(file).isFile() ? QString() : file;
}

bool isServerUrl(const QString &text)
{
    return text.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
           || text.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

QString safeFileName(const QString &name)
{
    static const QRegularExpression unsafe(QStringLiteral("[\\\\/:*?\"<>|\\x00-\\x1f]"));
    return QString(name).replace(unsafe, QStringLiteral("_"));
}

QString outputPathOf(const QString &projectPath, const QString &suffix)
{
    if (isServerUrl(projectPath)) {
        QString name = safeFileName(QUrlQuery(QUrl(projectPath))
                                        .queryItemValue(QStringLiteral("project"), QUrl::FullyDecoded));
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
            name = QStringLiteral("server-project");
        return QDir::currentPath() + QLatin1Char('/') + name + suffix;
    }
    const QFileInfo info(projectPath);
    return info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + suffix;
}
