#pragma once

#include <QString>
#include <QStringList>

// Where the program finds its files, and the two template lists of the window.

// The program directory of an executable directory: the path with a trailing
// "/" (a root that already ends in one gets no second).
QString programDirectoryOf(const QString &executableDir);

// The program directory of a running program, and where it writes. When the
// folder of the executable holds a writable Sdmx.mdb (the build folder, a
// portable copy) that folder is both. Otherwise, installed (bin/ beside
// share/sedimetra/), the shipped files are read from share/sedimetra/ and
// the files the program writes (Sdmx.mdb, the grade and limit tables) live
// in `userDataDir`, seeded from the shipped copies the first time; the
// paths below then point there. The one place that decides the layout.
QString locateProgram(const QString &executableDir, const QString &userDataDir);
// The user's data folder for an installed program: ~/.local/share/sedimetra.
QString defaultUserDataDir();

// Files and folders relative to the program directory (the writable ones
// in the user's folder when the program runs installed).
QString systemDatabasePath(const QString &programDir);  // Sdmx.mdb
QString projectTemplatePath(const QString &programDir); // Support/Db/数据库模板.mdb
QString frameTemplatesDir(const QString &programDir);   // Support/TK/
QString tableTemplatesDir(const QString &programDir);   // Support/Tab/
QString levelGradesPath(const QString &programDir);     // Support/水准等级.json
QString deformationLimitsPath(const QString &programDir); // Support/变形限值.json

// True when `path` is one of the program's own files, never a project: the
// system database, or anything in a Support folder of the program (the
// project template among them), shipped or in the user's data folder.
// Compared as full paths after resolving links, without regard to letter
// case.
bool isProgramFile(const QString &programDir, const QString &path);

// The entries of the frame-template list: every folder and file of `dir`,
// sorted by name without regard to case, in upper case, without "." and ".." and without names
// ending in ".DWG" or ".DXF" (frame drawings are not templates). A missing folder gives an empty
// list.
QStringList frameTemplateEntries(const QString &dir);

// The entries of the table-template list: the workbook files "*.xlsx" of
// `dir` (extension matched without regard to case), sorted by name without
// regard to case, each
// without its extension. A missing folder gives an empty list.
QStringList tableTemplateEntries(const QString &dir);

// Index of `value` in `entries` compared without regard to letter case, or -1.
int indexIgnoringCase(const QStringList &entries, const QString &value);

// The path of the entry of `dir` whose name equals `name` without regard to
// letter case (an exact match preferred), or an empty text when there is none.
// The lists show names in upper case while the files keep theirs. A name
// with a path separator, "." or ".." finds nothing: templates stay inside
// the program's folders.
QString findIgnoringCase(const QString &dir, const QString &name);

// The frame templates of the list: the shipped ones and, when the program
// runs installed, the user's own in their data folder (Support/TK/ there),
// sorted as frameTemplateEntries sorts; and a template's folder, the
// user's own first.
QStringList allFrameTemplateEntries(const QString &programDir);
QString frameTemplateFolder(const QString &programDir, const QString &templateName);

// The layout file of a frame template: Support/TK/<T>/<T>.ini, folder and file
// matched without regard to case; empty when it does not exist.
QString frameLayoutFile(const QString &programDir, const QString &templateName);

// Where an output of a project goes: beside a project file, with its base
// name and `suffix` (".xlsx"); for a project on a server
// (postgresql://…?project=NAME) in the current folder, named after the
// project with the characters a file name cannot hold replaced by "_".
QString outputPathOf(const QString &projectPath, const QString &suffix);

// True for a text that names a project on a server (postgresql:// or
// postgres://) rather than a file.
bool isServerUrl(const QString &text);
// A name made fit for a file name on every system: the characters no file
// system takes (\ / : * ? " < > | and control characters) become "_".
QString safeFileName(const QString &name);
