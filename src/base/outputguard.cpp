#include "base/outputguard.h"

#include "base/programfiles.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// The path with every link of it resolved; a file not yet made is named in
// its resolved folder.
QString resolved(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + QLatin1Char('/') + info.fileName();
}

// Two names of one file: the same device and inode.
bool sameFile(const QString &a, const QString &b)
{
    struct stat sa, sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0
        || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace

void ProtectedFiles::add(const QString &what, const QString &path)
{
    if (!path.isEmpty())
        m_files.emplace_back(what, path);
}

Result<void> ProtectedFiles::checkOutput(const QString &output, bool mayReplaceDatabase) const
{
    const QString target = resolved(output);
    for (const auto &[what, path] : m_files) {
        if (resolved(path) == target || sameFile(path, output))
            return fail(QStringLiteral("输出文件 %1 就是%2 %3，不能用输出覆盖它。")
                            .arg(QDir::toNativeSeparators(output), what,
                                 QDir::toNativeSeparators(path)));
    }
    // Write-protected by its permissions, whoever runs the program (root
    // included), as a project is.
    const QFileInfo existing(output);
    const auto writeBits = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (existing.exists() && existing.isFile() && !(existing.permissions() & writeBits))
        return fail(QStringLiteral("文件 %1 是只读的，没有替换它。")
                        .arg(QDir::toNativeSeparators(output)));
    struct stat kind;
    if (::stat(QFile::encodeName(output).constData(), &kind) == 0 && !S_ISREG(kind.st_mode))
        return fail(QStringLiteral("%1 不是普通文件（文件夹、设备、管道或套接字），不能把输出写到那里。")
                        .arg(QDir::toNativeSeparators(output)));
    if (!mayReplaceDatabase && existing.exists()) {
        // A database begins with these 16 bytes: a project of this program,
        // or of any other.
        QFile file(output);
        if (file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3", 16))
            return fail(QStringLiteral("文件 %1 是一个数据库（可能是另一个工程），不能用输出覆盖它；请另选输出文件名。")
                            .arg(QDir::toNativeSeparators(output)));
    }
    return success();
}

ProtectedFiles programFiles(const QString &programDir, const QString &projectPath)
{
    ProtectedFiles files;
    files.add(QStringLiteral("打开的工程"), projectPath);
    files.add(QStringLiteral("系统数据库"), systemDatabasePath(programDir));
    files.add(QStringLiteral("工程模板"), projectTemplatePath(programDir));
    return files;
}
