#pragma once

#include "base/result.h"

#include <QFile>
#include <QString>

#include <memory>

// A file the user gives the program to read (a level's raw file, a
// workbook): only a regular file is opened. A folder, a FIFO or a device
// such as /dev/zero is refused before it is opened, since opening a FIFO
// waits for a writer and a device may never end; so is a file larger than
// `maxBytes`.
Result<std::unique_ptr<QFile>> openInputFile(const QString &path, qint64 maxBytes);
