#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

// The one way a file of the program is replaced. The new content goes into a
// temporary file beside the target with a name nobody can guess, created
// anew (an existing file or a link planted at that name makes the creation
// fail rather than be followed), is flushed and synced to the disk, and is
// then renamed over the target in one step: the target is always either the
// old file or the whole new one, also after a crash or a power cut.
//
//     SaveFile file(path);
//     if (auto opened = file.open(); !opened)
//         return opened;
//     file.device().write(bytes);
//     return file.commit();
//
// A SaveFile that is destroyed without a successful commit removes its
// temporary file and leaves the target as it was.
class SaveFile
{
public:
    explicit SaveFile(const QString &target);
    ~SaveFile();
    SaveFile(const SaveFile &) = delete;
    SaveFile &operator=(const SaveFile &) = delete;

    // Creates the temporary file. Fails, naming the target, when the folder
    // cannot be written or the target is a folder.
    Result<void> open();
    // Where the new content is written; valid after a successful open().
    QFile &device() { return *m_file; }
    // Flushes and syncs the temporary file, renames it over the target and
    // syncs the folder. On failure the target is left as it was.
    Result<void> commit();

private:
    void discard();

    QString m_target;
    QString m_temporary;
    std::unique_ptr<QFile> m_file;
    int m_fd = -1;
};

// A scratch file's path beside `target`: hidden, named after the target,
// this computer and this process, with a random part and `suffix`.
QString scratchPath(const QString &target, const QString &suffix);
// Removes the scratch files beside `target` (with their journals) that a
// process of this computer which is no longer running left behind, or that
// are older than a day. Returns how many went.
int removeAbandonedScratch(const QString &target);

// Replaces `target` with `content` through a SaveFile.
Result<void> saveFileContents(const QString &target, const QByteArray &content);
