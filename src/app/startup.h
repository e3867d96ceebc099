#pragma once

#include <memory>

class MainWindow;
class QString;

// Start-up: opens the system database Sdmx.mdb of `programDir`, reads the
// elevation unit and the point count, loads and shows the main window.
// Without a usable system database the user is told "系统文件不全！" and
// nothing is returned: the program must end. The file is never created or
// changed here.
std::unique_ptr<MainWindow> startup(const QString &programDir);

// The whole program: checks for a display, makes the application, runs
// start-up and the event loop. Returns the process exit code.
int runSedimetra(int argc, char *argv[]);
