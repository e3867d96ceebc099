#pragma once

#include <QMessageBox>
#include <QPoint>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "domain/projectsnapshot.h"

#include <QByteArray>
#include <QJsonArray>

#include <functional>
#include <optional>

namespace testsupport {

// The value of a read that must succeed; a failed read stops the test
// program with its reason.
template <typename T> T must(Result<T> result)
{
    if (!result)
        qFatal("a read failed: %s", qPrintable(result.error()));
    return std::move(*result);
}

// Project records as a test writes them down, in any order.
struct Records
{
    std::vector<Epoch> epochs;
    std::vector<Elevation> elevations;
    std::vector<Point> points;
    std::vector<std::pair<int, Rgb>> colours;
};
// The snapshot of those records, as the loader would make it.
ProjectSnapshot snapshotOf(const Records &records);


// The project template the build made.
QString projectTemplate();

// Makes a new project at `path` from the built template; false on failure.
bool makeProject(const QString &path);

// Makes a system database Sdmx.mdb in `dir` from the schema the build uses.
// Fails the calling test (returns false) when it cannot.
bool makeSystemDatabase(const QString &dir);

// Writes `content` (UTF-8) to `path`, making the folders on the way.
bool writeFile(const QString &path, const QByteArray &content);

// Reads a setting through a connection of its own, independent of the store
// under test, so that a value seen here has really reached the file.
std::optional<QString> storedSetting(const QString &sdmxPath, const QString &key);
bool storeSettingDirectly(const QString &sdmxPath, const QString &key, const QString &value);

// A program directory in a temporary folder: Sdmx.mdb with the given
// settings and the project template, and a folder for projects beside it.
class TestProgram
{
public:
    bool make(const QList<std::pair<QString, QString>> &settings = {});
    QString programDir() const { return m_dir.path() + QStringLiteral("/程序/"); }
    QString sdmx() const { return programDir() + QStringLiteral("Sdmx.mdb"); }
    QString templatePath() const
    {
        return programDir() + QStringLiteral("Support/Db/数据库模板.mdb");
    }
    QString projects() const { return m_dir.path() + QStringLiteral("/测量 项目/"); }
    // Writes a file below the program directory.
    bool addFile(const QString &relative, const QByteArray &content = "x");

private:
    QTemporaryDir m_dir;
};

// Runs a Python script with Debian's python3, the independent reader and
// writer of the tests; its standard output, trimmed. A failed run fails the
// calling test's next comparison with an empty output and a warning.
QByteArray runPython(const QString &script, const QStringList &arguments,
                     int timeoutMs = 30000);

// Rows of a query as Python's own sqlite3 module reads them (read-only).
QJsonArray readWithPython(const QString &path, const QString &sql);

// SHA-256 of a file's bytes; empty when it cannot be read.
QByteArray digestOf(const QString &path);

// Another program's connection holding a database file locked for writing
// while it lives.
class ExclusiveLock
{
public:
    explicit ExclusiveLock(const QString &path);
    ~ExclusiveLock();
    ExclusiveLock(const ExclusiveLock &) = delete;
    ExclusiveLock &operator=(const ExclusiveLock &) = delete;
    bool locked() const { return m_locked; }

private:
    QString m_connection;
    bool m_locked = false;
};

// Types `text` into `widget` key by key, as a user would; characters outside
// ASCII (Chinese) arrive as key events carrying that text, as from an input
// method that commits one character per key.
void typeText(QWidget *widget, const QString &text);

// What a message box showed, and where the main window stood meanwhile.
struct SeenMessage
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QPoint windowPos;
};

// Answers the modal dialogs that come up while it lives, as a user would.
// Message boxes are recorded and answered with `messageAnswer` when the box
// has that button (OK otherwise). File dialogs take the next of the queued
// paths, typed into the dialog and accepted; an empty path, or none left,
// cancels the dialog. `window`, when given, is the window whose position is
// recorded while a message box is up.
class DialogWatcher
{
public:
    explicit DialogWatcher(QWidget *window = nullptr);
    ~DialogWatcher();

    void queueFile(const QString &path) { m_files << path; }
    // The base point typed into the next point pick; no point cancels it.
    void queuePick(std::optional<QPointF> point) { m_picks << point; }
    void setMessageAnswer(QMessageBox::StandardButton answer) { m_answer = answer; }
    // Message boxes answered by a key (Enter, Esc) instead, as a user at the
    // keyboard answers them.
    void answerWithKey(Qt::Key key) { m_key = key; }
    // Keys typed into a message box before its answer key: what a fast
    // typist sends on without looking at the screen.
    void typeIntoMessages(const QString &keys) { m_typed = keys; }
    // The button the list of questionable elevations is answered with,
    // after any keys: "稍后核对" unless told.
    void answerQuestionableWith(const QString &button) { m_questionableButton = button; }

    QList<SeenMessage> seen() const { return m_seen; }
    QStringList fileDialogTitles() const { return m_fileTitles; }
    QStringList fileDialogFilters() const { return m_fileFilters; }
    // The points the picks suggested, as "x,y".
    QStringList pickSuggestions() const { return m_suggestions; }

private:
    void poll();
    QWidget *m_window;
    QList<SeenMessage> m_seen;
    QStringList m_files;
    QStringList m_fileTitles;
    QStringList m_fileFilters;
    QList<std::optional<QPointF>> m_picks;
    QStringList m_suggestions;
    QMessageBox::StandardButton m_answer = QMessageBox::Ok;
    std::optional<Qt::Key> m_key;
    QString m_typed;
    QString m_questionableButton = QStringLiteral("稍后核对");
    QWidget *m_answering = nullptr;
    class QTimer *m_timer;
};

} // namespace testsupport
