#include "base/inputfile.h"

#include <QDir>
#include <QFileInfo>

Result<std::unique_ptr<QFile>> openInputFile(const QString &path, qint64 maxBytes)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (!info.exists())
        return fail(QStringLiteral("找不到 %1").arg(shown));
    if (info.isDir())
        return fail(QStringLiteral("%1 是文件夹，不是文件").arg(shown));
    if (!info.isFile())
        return fail(QStringLiteral("%1 不是普通文件（管道或设备），不能读取").arg(shown));
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return fail(QStringLiteral("无法打开 %1：%2").arg(shown, file->errorString()));
    if (file->size() > maxBytes)
        return fail(QStringLiteral("%1 过大（超过 %2 MB）").arg(shown).arg(maxBytes >> 20));
    return file;
}
