#pragma once

#include "base/result.h"

#include <QString>

#include <utility>
#include <vector>

// The files an output must never replace: the open project, the program's
// own databases and the inputs of the run. An output path is compared with
// them after links are resolved (a symbolic link, or a second name of the
// same file), so no spelling of a path gets past the check.
class ProtectedFiles
{
public:
    // `what` names the file for the user, such as "打开的工程".
    void add(const QString &what, const QString &path);

    // Fails, naming both files, when `output` is one of the protected files;
    // fails too when an earlier output of that name is write-protected, which
    // is kept as it is, as a write-protected project is; when it is no
    // regular file (a device such as /dev/null, a pipe, a folder); and, unless
    // `mayReplaceDatabase` (a project pulled over its earlier copy), when it
    // is a database — another project, say — which no report or drawing
    // replaces.
    Result<void> checkOutput(const QString &output, bool mayReplaceDatabase = false) const;

private:
    std::vector<std::pair<QString, QString>> m_files;
};

// The open project, the system database and the project template.
ProtectedFiles programFiles(const QString &programDir, const QString &projectPath);
