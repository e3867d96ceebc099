#pragma once

#include "project/serverstore.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QTreeWidget;
class SettingsStore;
class QSpinBox;
class QTableWidget;

// "打开服务器工程": the server's address (host, port, database, user, and a
// password kept only while the program runs), its projects with each one's
// last epoch, how long ago, its worst alarm and whether it has settled (the
// firm's overview, alarms first), and the one chosen. The address without the password is remembered as the
// setting "服务器".
class ServerProjectDialog : public QDialog
{
public:
    // `remembered`: the last server, postgresql://user@host:port/database.
    // `programDir` and `settings` give each building's analysis and limits.
    ServerProjectDialog(const QString &remembered, const QString &programDir, const SettingsStore *settings,
                        QWidget *parent);

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
    QTreeWidget *m_projects;
    QString m_programDir;
    const SettingsStore *m_settings;
};

// "工程权限": who reads and who writes one server project, and, for a
// member of sedimetra_admin, giving a login or group role read, write or no
// rights on it.
class ProjectRightsDialog : public QDialog
{
public:
    ProjectRightsDialog(const ServerAddress &project, QWidget *parent);

    // Gives the member typed the rights chosen; says why when it cannot.
    void grant();
    // The members as the server has them now.
    void refresh();

private:
    ServerAddress m_project;
    QTableWidget *m_members;
    QLineEdit *m_member;
    QComboBox *m_rights;
};
