#include "base/savefile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSysInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString cannotWrite(const QString &target, const QString &reason)
{
    return QStringLiteral("无法写入 %1：%2").arg(QDir::toNativeSeparators(target), reason);
}

// This computer, in the names of scratch files: another computer writing
// into the same shared folder has processes of its own.
QString hostTag()
{
    static const QString tag = QString::fromLatin1(
        QCryptographicHash::hash(QSysInfo::machineHostName().toUtf8(), QCryptographicHash::Md5)
            .toHex()
            .left(6));
    return tag;
}

QString scratchPrefix(const QFileInfo &target)
{
    return QStringLiteral(".") + target.fileName().left(40) + QLatin1Char('.');
}

} // namespace

QString scratchPath(const QString &target, const QString &suffix)
{
    const QFileInfo info(target);
    return info.absolutePath() + QLatin1Char('/') + scratchPrefix(info) + hostTag()
           + QLatin1Char('-') + QString::number(::getpid()) + QLatin1Char('-')
           + QString::number(QRandomGenerator::system()->generate64(), 36) + QLatin1Char('.')
           + suffix;
}

int removeAbandonedScratch(const QString &target)
{
    const QFileInfo info(target);
    const QString prefix = scratchPrefix(info);
    static const QRegularExpression name(
        QStringLiteral("^([0-9a-f]{6})-(\\d+)-[0-9a-z]+\\.(tmp|pull)(-journal)?$"));
    const QDir folder(info.absolutePath());
    const QDateTime dayAgo = QDateTime::currentDateTimeUtc().addDays(-1);
    int removed = 0;
    // Compared as text: a name filter would read "[" or "*" in the
    // project's name as a wildcard.
    const auto entries = folder.entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (!entry.fileName().startsWith(prefix))
            continue;
        const auto match = name.match(entry.fileName().mid(prefix.size()));
        if (!match.hasMatch())
            continue;
        // Abandoned: its process on this computer is gone, or it is older
        // than a day (a process elsewhere never takes that long).
        const qint64 pid = match.captured(2).toLongLong();
        const bool gone = match.captured(1) == hostTag() && pid > 0 && pid <= 0x7fffffff
                          && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
        const bool old = entry.lastModified().toUTC() < dayAgo;
        if ((gone || old) && ::unlink(QFile::encodeName(entry.absoluteFilePath()).constData()) == 0)
            ++removed;
    }
    return removed;
}

SaveFile::SaveFile(const QString &target)
    : m_target(QFileInfo(target).absoluteFilePath())
{}

SaveFile::~SaveFile()
{
    discard();
}

void SaveFile::discard()
{
    if (m_file) {
        m_file->close();
        m_file.reset();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(QFile::encodeName(m_temporary).constData());
        m_temporary.clear();
    }
}

Result<void> SaveFile::open()
{
    discard();
    const QFileInfo target(m_target);
    if (target.isDir())
        return fail(cannotWrite(m_target, QStringLiteral("这是一个文件夹")));
    // The permissions of the file it replaces, or the usual ones of a new file.
    // Only a regular file is replaced: a rename over a device (/dev/null), a
    // pipe or a socket would put a file in its place.
    struct stat existing;
    const bool exists = ::stat(QFile::encodeName(m_target).constData(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return fail(cannotWrite(m_target, QStringLiteral("这不是普通文件（设备、管道或套接字），不能用输出替换它")));
    const mode_t mode = exists ? (existing.st_mode & 07777) : 0666;
    // What a killed save of this target left behind goes first.
    removeAbandonedScratch(m_target);
    int code = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name = scratchPath(m_target, QStringLiteral("tmp"));
        // O_EXCL: never an existing file, and never through a link planted
        // at the name; O_NOFOLLOW for the same reason on every system.
        const int fd = ::open(QFile::encodeName(name).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            m_fd = fd;
            m_temporary = name;
            m_file = std::make_unique<QFile>();
            if (!m_file->open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
                const QString reason = m_file->errorString();
                discard();
                return fail(cannotWrite(m_target, reason));
            }
            return success();
        }
        code = errno;
        if (code != EEXIST)
            break;
    }
    return fail(cannotWrite(m_target, systemError(code)));
}

Result<void> SaveFile::commit()
{
    if (!m_file)
        return fail(cannotWrite(m_target, QStringLiteral("文件没有打开")));
    if (!m_file->flush()) {
        const QString reason = m_file->errorString();
        discard();
        return fail(cannotWrite(m_target, reason));
    }
    if (m_file->error() != QFileDevice::NoError) {
        const QString reason = m_file->errorString();
        discard();
        return fail(cannotWrite(m_target, reason));
    }
    m_file->close();
    m_file.reset();
    if (::fsync(m_fd) != 0) {
        const int code = errno;
        discard();
        return fail(cannotWrite(m_target, systemError(code)));
    }
    ::close(m_fd);
    m_fd = -1;
    if (::rename(QFile::encodeName(m_temporary).constData(),
                 QFile::encodeName(m_target).constData())
        != 0) {
        const int code = errno;
        discard();
        return fail(cannotWrite(m_target, systemError(code)));
    }
    m_temporary.clear();
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(QFile::encodeName(QFileInfo(m_target).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return success();
}

Result<void> saveFileContents(const QString &target, const QByteArray &content)
{
    SaveFile file(target);
    if (auto opened = file.open(); !opened)
        return opened;
    if (file.device().write(content) != content.size())
        return fail(cannotWrite(target, file.device().errorString()));
    return file.commit();
}
