#include "gui/serverprojectdialog.h"

#include "gui/messages.h"
#include "session/firmoverview.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QTableWidget>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

ServerProjectDialog::ServerProjectDialog(const QString &remembered, const QString &programDir,
                                         const SettingsStore *settings, QWidget *parent)
    : QDialog(parent)
    , m_programDir(programDir)
    , m_settings(settings)
{
    setWindowTitle(QStringLiteral("打开服务器工程"));
    setObjectName(QStringLiteral("ServerProjectDialog"));
    const auto last = parseServerUrl(remembered);
    m_host = new QLineEdit(last ? last->host : QStringLiteral("localhost"));
    m_host->setObjectName(QStringLiteral("Host"));
    m_port = new QSpinBox;
    m_port->setObjectName(QStringLiteral("Port"));
    m_port->setRange(1, 65535);
    m_port->setValue(last ? last->port : 5432);
    m_database = new QLineEdit(last ? last->database : QString());
    m_database->setObjectName(QStringLiteral("Database"));
    m_user = new QLineEdit(last ? last->user : QString());
    m_user->setObjectName(QStringLiteral("User"));
    m_password = new QLineEdit;
    m_password->setObjectName(QStringLiteral("Password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setPlaceholderText(QStringLiteral("空：用 PGPASSWORD 或 ~/.pgpass；不保存"));
    m_projects = new QTreeWidget;
    m_projects->setObjectName(QStringLiteral("Projects"));
    m_projects->setRootIsDecorated(false);
    m_projects->setHeaderLabels({QStringLiteral("工程"), QStringLiteral("末次观测"), QStringLiteral("距今（天）"),
                                 QStringLiteral("测点"), QStringLiteral("预警"), QStringLiteral("稳定性")});

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("主机："), m_host);
    form->addRow(QStringLiteral("端口："), m_port);
    form->addRow(QStringLiteral("数据库："), m_database);
    form->addRow(QStringLiteral("用户："), m_user);
    form->addRow(QStringLiteral("密码："), m_password);
    auto *list = new QPushButton(QStringLiteral("列出工程"));
    list->setObjectName(QStringLiteral("List"));
    list->setAutoDefault(false);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("打开"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
    auto *rights = buttons->addButton(QStringLiteral("权限…"), QDialogButtonBox::ActionRole);
    rights->setObjectName(QStringLiteral("Rights"));
    rights->setEnabled(false);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(list);
    layout->addWidget(new QLabel(QStringLiteral("服务器上的工程：")));
    layout->addWidget(m_projects, 1);
    layout->addWidget(buttons);
    resize(760, 460);

    connect(list, &QPushButton::clicked, this, &ServerProjectDialog::listProjects);
    connect(m_projects, &QTreeWidget::currentItemChanged, this, [buttons, rights](QTreeWidgetItem *item) {
        buttons->button(QDialogButtonBox::Ok)->setEnabled(item != nullptr);
        rights->setEnabled(item != nullptr);
    });
    connect(rights, &QPushButton::clicked, this, [this] {
        ProjectRightsDialog dialog(chosen(), this);
        dialog.exec();
    });
    connect(m_projects, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

ServerAddress ServerProjectDialog::address() const
{
    ServerAddress address;
    address.host = m_host->text().trimmed();
    address.port = m_port->value();
    address.database = m_database->text().trimmed();
    address.user = m_user->text().trimmed();
    address.password = m_password->text();
    return address;
}

void ServerProjectDialog::listProjects()
{
    m_projects->clear();
    const ServerAddress server = address();
    if (server.host.isEmpty() || server.database.isEmpty()) {
        showMessage(this, QStringLiteral("请填写主机和数据库！"), windowTitle());
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto buildings = firmOverview(server, m_programDir, m_settings, QDate::currentDate());
    QApplication::restoreOverrideCursor();
    if (!buildings) {
        showMessage(this, buildings.error(), windowTitle());
        return;
    }
    if (buildings->empty())
        showMessage(this, QStringLiteral("服务器上还没有工程（用 sedimetra-batch server push 推送）。"),
                    windowTitle(), QMessageBox::Information);
    // The firm's overview, alarms first: the figures each building's report gives.
    for (const FirmBuilding &building : *buildings) {
        const BuildingOverview &o = building.overview;
        QStringList row{o.name};
        if (!building.problem.isEmpty()) {
            row << QString() << QString() << QString() << QStringLiteral("无法读取：%1").arg(building.problem);
        } else {
            row << (o.last ? QStringLiteral("%1（%2）").arg(o.last->name, o.last->date) : QStringLiteral("—"))
                << (o.daysSince ? QString::number(*o.daysSince) : QStringLiteral("—")) << QString::number(o.observed)
                << (o.worst ? QStringLiteral("%1 个测点：%2").arg(o.pointsInAlarm).arg(o.worstText) : QStringLiteral("无"))
                << verdictText(o.verdict);
        }
        auto *item = new QTreeWidgetItem(m_projects, row);
        item->setToolTip(4, row.value(4));
        if (o.worst)
            item->setForeground(4, QColor(200, 0, 0));
    }
    for (int c = 0; c < m_projects->columnCount() - 1; ++c)
        m_projects->resizeColumnToContents(c);
    if (m_projects->topLevelItemCount() > 0)
        m_projects->setCurrentItem(m_projects->topLevelItem(0));
}

ServerAddress ServerProjectDialog::chosen() const
{
    ServerAddress chosen = address();
    if (const QTreeWidgetItem *item = m_projects->currentItem())
        chosen.project = item->text(0);
    return chosen;
}

QString ServerProjectDialog::serverUrl() const
{
    ServerAddress server = address();
    server.password.clear();
    return displayUrl(server);
}

ProjectRightsDialog::ProjectRightsDialog(const ServerAddress &project, QWidget *parent)
    : QDialog(parent)
    , m_project(project)
{
    setWindowTitle(QStringLiteral("工程权限 - %1").arg(project.project));
    setObjectName(QStringLiteral("ProjectRightsDialog"));
    m_members = new QTableWidget(0, 2);
    m_members->setObjectName(QStringLiteral("Members"));
    m_members->setHorizontalHeaderLabels({QStringLiteral("用户或角色"), QStringLiteral("权限")});
    m_members->horizontalHeader()->setStretchLastSection(true);
    m_members->verticalHeader()->hide();
    m_members->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_members->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_member = new QLineEdit;
    m_member->setObjectName(QStringLiteral("Member"));
    m_member->setPlaceholderText(QStringLiteral("登录名或组角色"));
    m_rights = new QComboBox;
    m_rights->setObjectName(QStringLiteral("RightsChoice"));
    m_rights->addItem(QStringLiteral("读写"), QStringLiteral("write"));
    m_rights->addItem(QStringLiteral("只读"), QStringLiteral("read"));
    m_rights->addItem(QStringLiteral("无"), QStringLiteral("none"));
    auto *apply = new QPushButton(QStringLiteral("授权"));
    apply->setObjectName(QStringLiteral("Grant"));
    apply->setAutoDefault(false);
    auto *row = new QHBoxLayout;
    row->addWidget(m_member, 1);
    row->addWidget(m_rights);
    row->addWidget(apply);
    auto *close = new QDialogButtonBox(QDialogButtonBox::Close);
    close->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral(
        "sedimetra_read 的成员读全部工程，sedimetra_admin 的成员管理全部工程；"
        "此外，下列用户或角色读或写本工程。只有 sedimetra_admin 的成员能授权。")));
    layout->itemAt(0)->widget()->setProperty("wordWrap", true);
    layout->addWidget(m_members, 1);
    layout->addLayout(row);
    layout->addWidget(close);
    resize(440, 360);
    connect(apply, &QPushButton::clicked, this, &ProjectRightsDialog::grant);
    connect(m_members, &QTableWidget::cellClicked, this, [this](int row) {
        if (const QTableWidgetItem *item = m_members->item(row, 0))
            m_member->setText(item->text());
    });
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    refresh();
}

void ProjectRightsDialog::refresh()
{
    m_members->setRowCount(0);
    const auto members = projectMembers(m_project);
    if (!members) {
        showMessage(this, members.error(), windowTitle());
        return;
    }
    for (const ProjectMember &m : *members) {
        const int row = m_members->rowCount();
        m_members->insertRow(row);
        m_members->setItem(row, 0, new QTableWidgetItem(m.member));
        m_members->setItem(row, 1, new QTableWidgetItem(m.canWrite ? QStringLiteral("读写")
                                                                   : QStringLiteral("只读")));
    }
}

void ProjectRightsDialog::grant()
{
    const QString member = m_member->text().trimmed();
    if (member.isEmpty()) {
        showMessage(this, QStringLiteral("请填写用户或角色！"), windowTitle());
        return;
    }
    const auto granted = grantProject(m_project, member, m_rights->currentData().toString());
    if (!granted) {
        showMessage(this, granted.error(), windowTitle());
        return;
    }
    refresh();
}
