#pragma once

#include <QString>

class QWidget;
class Session;

// "新建工程" and "打开工程": making a project file current. The other areas
// of the window show it when the session announces the change.
class ProjectCommands
{
public:
    // `window` is titled with the project and parents the dialogs.
    ProjectCommands(Session &session, QWidget *window);

    void newProject();
    void openProject();
    // The second half of "打开工程", for a file already chosen: makes it the
    // current project, or tells the user why not. True when it is current.
    // A server project's address (postgresql://…) is accepted as well, with
    // the password for it when one was typed (never kept).
    bool openProjectFile(const QString &path, const QString &password = QString());
    // "打开服务器工程": the server dialog, then the project chosen there.
    void openServerProject();
    // Empties the window of any project: title, epoch list, grid, boxes.
    void resetProjectView();

private:
    // Shows the project file dialog; an empty text when the user cancelled.
    QString askProjectFile(bool forNew);
    bool refuseProgramFile(const QString &path);
    // Tells of changes made to the open project outside the program (its
    // record checked), if there are any.
    void tellChangesOutside();
    // Opens and reads the project, makes it current and titles the window;
    // false (the user told why) when the file is refused.
    bool makeCurrent(const QString &path, const QString &titlePrefix,
                     const QString &password = QString());

    Session &m_session;
    QWidget *m_window;
};
