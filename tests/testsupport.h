#pragma once

#include <QMessageBox>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QTemporaryDir;

namespace testsupport {

// Makes a system database Sdmx.mdb in `dir` from the schema the build uses.
// Fails the calling test (returns false) when it cannot.
bool makeSystemDatabase(const QString &dir);

// Writes `content` (UTF-8) to `path`, making the folders on the way.
bool writeFile(const QString &path, const QByteArray &content);

// Reads a setting through a connection of its own, independent of the store
// under test, so that a value seen here has really reached the file.
std::optional<QString> storedSetting(const QString &sdmxPath, const QString &key);
bool storeSettingDirectly(const QString &sdmxPath, const QString &key, const QString &value);

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

// Watches for the next application-modal message box, records it, and
// presses its OK button. `window`, when given, is the window whose position
// is recorded while the box is up.
class MessageWatcher
{
public:
    explicit MessageWatcher(QWidget *window = nullptr);
    ~MessageWatcher();
    QList<SeenMessage> seen() const { return m_seen; }

private:
    void poll();
    QWidget *m_window;
    QList<SeenMessage> m_seen;
    class QTimer *m_timer;
};

} // namespace testsupport
