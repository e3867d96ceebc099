#include "gui/serverprojectdialog.h"

#include "gui/messages.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

ServerProjectDialog::ServerProjectDialog(const QString &remembered, QWidget *parent)
    : QDialog(parent)
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
    m_projects = new QListWidget;
    m_projects->setObjectName(QStringLiteral("Projects"));

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

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(list);
    layout->addWidget(new QLabel(QStringLiteral("服务器上的工程：")));
    layout->addWidget(m_projects, 1);
    layout->addWidget(buttons);
    resize(420, 460);

    connect(list, &QPushButton::clicked, this, &ServerProjectDialog::listProjects);
    connect(m_projects, &QListWidget::currentRowChanged, this, [buttons](int row) {
        buttons->button(QDialogButtonBox::Ok)->setEnabled(row >= 0);
    });
    connect(m_projects, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
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
    const auto names = listServerProjects(server);
    if (!names) {
        showMessage(this, names.error(), windowTitle());
        return;
    }
    if (names->isEmpty())
        showMessage(this, QStringLiteral("服务器上还没有工程（用 sedimetra-batch server push 推送）。"),
                    windowTitle(), QMessageBox::Information);
    m_projects->addItems(*names);
    if (m_projects->count() > 0)
        m_projects->setCurrentRow(0);
}

ServerAddress ServerProjectDialog::chosen() const
{
    ServerAddress chosen = address();
    if (const QListWidgetItem *item = m_projects->currentItem())
        chosen.project = item->text();
    return chosen;
}

QString ServerProjectDialog::serverUrl() const
{
    ServerAddress server = address();
    server.password.clear();
    return displayUrl(server);
}
