#pragma once

// Helpers of the fuzz targets: a Qt application for the plugins, and the
// input written to a file for the readers that take a path.

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace fuzzsupport {

inline void startQt()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

// The bytes as a file named `name` in a folder of the run's own.
inline QString asFile(const uint8_t *data, size_t size, const QString &name)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    return path;
}

} // namespace fuzzsupport
