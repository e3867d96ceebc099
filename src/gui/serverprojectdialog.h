#pragma once

#include "project/serverstore.h"

#include <QDialog>

class QLineEdit;
class QListWidget;
class QSpinBox;

// "打开服务器工程": the server's address (host, port, database, user, and a
// password kept only while the program runs), the list of its projects, and
// the one chosen. The address without the password is remembered as the
// setting "服务器".
class ServerProjectDialog : public QDialog
{
public:
    // `remembered`: the last server, postgresql://user@host:port/database.
    ServerProjectDialog(const QString &remembered, QWidget *parent);

    // The chosen project's address (no password in it) and the password typed.
    ServerAddress chosen() const;
    // The server without project or password, to remember.
    QString serverUrl() const;

private:
    void listProjects();
    ServerAddress address() const;

    QLineEdit *m_host;
    QSpinBox *m_port;
    QLineEdit *m_database;
    QLineEdit *m_user;
    QLineEdit *m_password;
    QListWidget *m_projects;
};
