#include "gui/projectcommands.h"

#include "base/programfiles.h"
#include "base/settings.h"
#include "gui/messages.h"
#include "gui/session.h"
#include "gui/serverprojectdialog.h"
#include "project/projectdb.h"
#include "project/serverstore.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>

namespace {
const QString projectFilter = QStringLiteral("沉降工程 (*.mdb)");
} // namespace

ProjectCommands::ProjectCommands(Session &session, QWidget *window)
    : m_session(session)
    , m_window(window)
{}

void ProjectCommands::resetProjectView()
{
    m_session.closeProject();
    m_window->setWindowTitle(QStringLiteral("Sedimetra 2018"));
    m_session.setCurrentEpoch(-1);
    m_session.setZoomLevel(2);
    m_session.announceProjectChanged();
}

QString ProjectCommands::askProjectFile(bool forNew)
{
    QFileDialog dialog(m_window,
                       forNew ? QStringLiteral("新建沉降工程") : QStringLiteral("打开沉降工程"));
    // Qt's own dialog everywhere, so that the ".mdb" suffix and the question
    // before replacing a file behave alike on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(projectFilter);
    if (forNew) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QStringLiteral("mdb"));
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (!m_session.lastProjectDir().isEmpty())
        dialog.setDirectory(m_session.lastProjectDir());
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

bool ProjectCommands::refuseProgramFile(const QString &path)
{
    const QString programDir = m_session.programDir();
    if (!isProgramFile(programDir, path))
        return false;
    showMessage(m_window, QStringLiteral("“%1”是本程序的系统文件，不能用作沉降工程。")
                               .arg(QDir::toNativeSeparators(path)));
    return true;
}

bool ProjectCommands::makeCurrent(const QString &path, const QString &titlePrefix,
                                  const QString &password)
{
    // A server address is shown without any password.
    const QString shown = isServerUrl(path) ? shownProjectPath(path) : QDir::toNativeSeparators(path);
    auto project = std::make_unique<ProjectDatabase>();
    Result<void> opened = project->open(path, password);
    if (opened)
        opened = m_session.openProject(std::move(project));
    if (!opened) {
        showMessage(m_window, QStringLiteral("无法打开沉降工程：%1\n%2").arg(shown, opened.error()));
        return false;
    }
    const bool server = m_session.project()->isServer();
    m_window->setWindowTitle(titlePrefix + (server ? m_session.projectPath()
                                                   : QDir::toNativeSeparators(m_session.projectPath())));
    if (!server)
        m_session.setLastProjectDir(QFileInfo(m_session.projectPath()).absolutePath());
    if (m_session.project()->isReadOnly())
        showMessage(m_window,
                    QStringLiteral("沉降工程文件是只读的，只能查看，修改无法保存：%1").arg(shown));
    if (const QStringList &warnings = m_session.snapshot().warnings(); !warnings.isEmpty()) {
        QStringList shown = warnings.mid(0, 10);
        if (warnings.size() > shown.size())
            shown << QStringLiteral("……共 %1 处").arg(warnings.size());
        showMessage(m_window, QStringLiteral("沉降工程中有无效的高程：\n%1").arg(shown.join(u'\n')));
    }
    // Changes made outside the program: the record no longer vouches for
    // the figures, and the surveyor is told which. Checked once the grid
    // is shown (it reads the whole history), for the project still open.
    QTimer::singleShot(0, m_window, [this, opened = m_session.projectPath()] {
        if (m_session.project() && m_session.projectPath() == opened)
            tellChangesOutside();
    });
    // The alarms the grid and the plan show are judged with the limits table.
    if (m_session.deformation().limitsUnusable)
        showMessage(m_window, m_session.deformation().problem);
    return true;
}

void ProjectCommands::tellChangesOutside()
{
    const auto check = m_session.project()->checkRecord();
    if (!check) {
        showMessage(m_window, QStringLiteral("无法核对沉降工程的修改记录：%1").arg(check.error()));
        return;
    }
    if (check->breaks.empty())
        return;
    QStringList listed(check->breaks.begin(), check->breaks.begin() + std::min<size_t>(check->breaks.size(), 10));
    if (check->breaks.size() > size_t(listed.size()))
        listed << QStringLiteral("……共 %1 处").arg(check->breaks.size());
    showMessage(m_window, QStringLiteral("发现 %1 处未经记录的修改（在本程序之外作出，修改记录中没有）：\n%2")
                              .arg(check->breaks.size())
                              .arg(listed.join(u'\n')));
}

void ProjectCommands::newProject()
{
    const QString templatePath = projectTemplatePath(m_session.programDir());
    if (!QFileInfo::exists(templatePath)) {
        showMessage(
            m_window,
            QStringLiteral("找不到工程模板：%1").arg(QDir::toNativeSeparators(templatePath)));
        return;
    }
    // The open project stays open until another is chosen: a cancelled
    // dialog changes nothing. What is typed reaches the project it was
    // typed for.
    if (!m_session.leaveBoxes())
        return;
    const QString path = askProjectFile(true);
    if (path.isEmpty() || refuseProgramFile(path))
        return;
    resetProjectView();
    if (auto made = ProjectDatabase::createFromTemplate(templatePath, path); !made) {
        showMessage(m_window, QStringLiteral("无法新建沉降工程：%1\n%2")
                                  .arg(QDir::toNativeSeparators(path), made.error()));
        return;
    }
    if (!makeCurrent(path, QStringLiteral("Sedimetra 2018 当前工程：")))
        return;
    m_session.announceProjectChanged();
}

void ProjectCommands::openProject()
{
    // The open project stays open until another is chosen.
    if (!m_session.leaveBoxes())
        return;
    const QString path = askProjectFile(false);
    if (path.isEmpty())
        return;
    resetProjectView();
    openProjectFile(path);
}

bool ProjectCommands::openProjectFile(const QString &path, const QString &password)
{
    if (!isServerUrl(path) && refuseProgramFile(path))
        return false;
    if (!makeCurrent(path, QStringLiteral("Sedimetra 2018  当前工程："), password))
        return false;
    m_session.announceProjectChanged();
    return true;
}

void ProjectCommands::openServerProject()
{
    if (!m_session.leaveBoxes())
        return;
    ServerProjectDialog dialog(m_session.settings().readSettingOr(SettingKey::Server), m_session.programDir(),
                               &m_session.settings(), m_window);
    if (dialog.exec() != QDialog::Accepted || dialog.chosen().project.isEmpty())
        return; // the open project stays open
    storeSettingOrTell(m_window, m_session, SettingKey::Server, dialog.serverUrl());
    const ServerAddress chosen = dialog.chosen();
    resetProjectView();
    openProjectFile(displayUrl(chosen), chosen.password);
}
