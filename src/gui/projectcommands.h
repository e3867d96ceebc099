#pragma once

#include <QString>

class MainWindow;
namespace Ui {
class Form1;
}

// "新建工程" and "打开工程": making a project file current, and showing it in
// the window (point names in their colours, the epoch list, the newest epoch).
class ProjectCommands
{
public:
    ProjectCommands(MainWindow &window, Ui::Form1 &ui);

    void newProject();
    void openProject();
    // The second half of "打开工程", for a file already chosen: makes it the
    // current project, or tells the user why not. True when it is current.
    bool openProjectFile(const QString &path);
    // Empties the window of any project: title, epoch list, grid, boxes.
    void resetProjectView();
    // Grid column 0 of rows 1 to the point count: the point names in their
    // colours. With setRowHeights every row also gets its designed height.
    void loadPointRows(bool setRowHeights);
    // The epoch list: "<CjNo>.<Name>" for every epoch in CjNo order; returns
    // how many there are.
    int listEpochs();

private:
    // Shows the project file dialog; an empty text when the user cancelled.
    QString askProjectFile(bool forNew);
    bool refuseProgramFile(const QString &path);
    // Opens the project, titles the window and shows the point names; false
    // (the user told why) when the file is refused.
    bool makeCurrent(const QString &path, const QString &titlePrefix);

    MainWindow &m_window;
    Ui::Form1 &ui;
};
