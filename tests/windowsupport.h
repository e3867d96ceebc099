#pragma once

#include "testsupport.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class MainWindow;
class ProjectDatabase;

namespace testsupport {

// A control of the main window by its object name (Text4, Command3 ...).
template <typename T> T *control(QWidget *window, const char *name)
{
    return window->findChild<T *>(QString::fromLatin1(name));
}

// Clicks the push button of that name with the left mouse button.
void click(QWidget *window, const char *button);

// The messages a command shows when no project is open: the program started
// on a fresh program directory and `button` clicked.
QList<SeenMessage> messagesWithoutProject(const char *button);

// A program directory, its main window and one project, for the tests that
// drive a command of the window.
struct WindowSession
{
    TestProgram program;
    std::unique_ptr<MainWindow> window;
    QString project;

    WindowSession();
    ~WindowSession();

    // The program directory with `settings` in Sdmx.mdb and the built files
    // `support` (paths below Support/) copied from the build.
    bool makeProgram(const QList<std::pair<QString, QString>> &settings = {},
                     const QStringList &support = {});
    // The project `name` in the projects folder, with epoch 0 (2018-01-01
    // "A", floors 2) and epoch 1 (2018-01-11 "B", floors 4), then `fill`.
    bool makeProjectFile(const QString &name,
                         const std::function<Result<void>(ProjectDatabase &)> &fill = {});
    // Starts the window, waits until it is shown and opens the project.
    bool openWindow();
    // A file beside the project: its name with another extension.
    QString besideProject(const QString &extension) const;
};

} // namespace testsupport
