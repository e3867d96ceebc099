#pragma once

#include <QString>

#include <functional>
#include <memory>

class MainWindow;

// Start-up: opens the system database Sdmx.mdb of `programDir`, reads the
// elevation unit and the point count, loads and shows the main window.
// Without a usable system database the user is told "系统文件不全！" and
// nothing is returned: the program must end. The file is never created or
// changed here.
std::unique_ptr<MainWindow> startup(const QString &programDir);

// The whole program: checks for a display, makes the application, runs
// start-up and the event loop. Returns the process exit code. The program
// directory is the executable's unless `programDir` names another (the
// start-up benchmark runs on a copy); `onShown`, when given, runs once the
// window is shown.
int runSedimetra(int argc, char *argv[], const QString &programDir = QString(),
                 const std::function<void(MainWindow &)> &onShown = {});
