#include "gui/projectcommands.h"

#include "gui/mainwindow.h"
#include "gui/messages.h"
#include "base/programfiles.h"
#include "gui/twips.h"
#include "project/projectdb.h"
#include "ui_mainwindow.h"

#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <unordered_map>

namespace {
const QString projectFilter = QStringLiteral("沉降工程 (*.mdb)");
constexpr int rowHeight = 300;
} // namespace

ProjectCommands::ProjectCommands(MainWindow &window, Ui::Form1 &ui)
    : m_window(window)
    , ui(ui)
{}

void ProjectCommands::resetProjectView()
{
    m_window.closeProject();
    m_window.setWindowTitle(QStringLiteral("Sedimetra 2018"));
    m_window.setCurrentEpoch(-1);
    m_window.setZoomLevel(2);

    {
        const QSignalBlocker blocker(ui.List1);
        ui.List1->clear();
    }
    ui.Pic1->clearPicture();

    QTableWidget *grid = ui.Flex1;
    for (int row = 0; row < grid->rowCount(); ++row)
        for (int column = 0; column < grid->columnCount(); ++column)
            delete grid->takeItem(row, column);

    ui.Text1->setText(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    ui.Text2->clear();
    ui.Text3->clear();

    ui.Text4->clear();
    ui.Text4->setGeometry(grid->x() + grid->columnWidth(0) + twips(750), ui.Text4->y(), twips(850),
                          twips(rowHeight));
    ui.Text4->hide();
    ui.Text5->clear();
    ui.Text5->setGeometry(grid->x(), ui.Text5->y(), twips(850), twips(rowHeight));
    ui.Text5->hide();
    m_window.clearEditCells();
}

QString ProjectCommands::askProjectFile(bool forNew)
{
    QFileDialog dialog(&m_window,
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
    if (!m_window.lastProjectDir().isEmpty())
        dialog.setDirectory(m_window.lastProjectDir());
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QString chosen = dialog.selectedFiles().value(0);
    if (!chosen.isEmpty())
        m_window.setLastProjectDir(QFileInfo(chosen).absolutePath());
    return chosen;
}

bool ProjectCommands::refuseProgramFile(const QString &path)
{
    const QString programDir = m_window.programDir();
    if (!isSameFileIgnoringCase(path,
                                {systemDatabasePath(programDir), projectTemplatePath(programDir)}))
        return false;
    showMessage(&m_window, QStringLiteral("“%1”是本程序的系统文件，不能用作沉降工程。")
                               .arg(QDir::toNativeSeparators(path)));
    return true;
}

bool ProjectCommands::makeCurrent(const QString &path, const QString &titlePrefix)
{
    auto project = std::make_unique<ProjectDatabase>();
    if (!project->open(path)) {
        showMessage(&m_window, QStringLiteral("无法打开沉降工程：%1\n%2")
                                   .arg(QDir::toNativeSeparators(path), project->errorString()));
        return false;
    }
    const bool readOnly = project->isReadOnly();
    m_window.setProject(std::move(project));
    m_window.setWindowTitle(titlePrefix + QDir::toNativeSeparators(m_window.project()->path()));
    loadPointRows(false);
    ui.Flex1->setCurrentCell(0, 4);
    if (readOnly)
        showMessage(&m_window, QStringLiteral("沉降工程文件是只读的，只能查看，修改无法保存：%1")
                                   .arg(QDir::toNativeSeparators(path)));
    return true;
}

void ProjectCommands::newProject()
{
    resetProjectView();
    const QString templatePath = projectTemplatePath(m_window.programDir());
    if (!QFileInfo::exists(templatePath)) {
        showMessage(
            &m_window,
            QStringLiteral("找不到工程模板：%1").arg(QDir::toNativeSeparators(templatePath)));
        return;
    }
    const QString path = askProjectFile(true);
    if (path.isEmpty() || refuseProgramFile(path))
        return;
    QString error;
    if (!ProjectDatabase::createFromTemplate(templatePath, path, &error)) {
        showMessage(
            &m_window,
            QStringLiteral("无法新建沉降工程：%1\n%2").arg(QDir::toNativeSeparators(path), error));
        return;
    }
    if (!makeCurrent(path, QStringLiteral("Sedimetra 2018 当前工程：")))
        return;
    if (listEpochs() > 0)
        ui.List1->setCurrentRow(ui.List1->count() - 1);
}

void ProjectCommands::openProject()
{
    resetProjectView();
    const QString path = askProjectFile(false);
    if (!path.isEmpty())
        openProjectFile(path);
}

bool ProjectCommands::openProjectFile(const QString &path)
{
    if (refuseProgramFile(path))
        return false;
    if (!makeCurrent(path, QStringLiteral("Sedimetra 2018  当前工程：")))
        return false;
    if (listEpochs() > 0)
        ui.List1->setCurrentRow(ui.List1->count() - 1); // runs the epoch selection
    else
        m_window.selectEpoch();
    return true;
}

void ProjectCommands::loadPointRows(bool setRowHeights)
{
    QTableWidget *grid = ui.Flex1;
    if (setRowHeights)
        for (int row = 0; row < grid->rowCount(); ++row)
            grid->setRowHeight(row, twips(rowHeight));
    ProjectDatabase *project = m_window.project();
    if (!project)
        return;

    // Points are found by number: a point's row is always its CjdNo, and
    // points above the point count stay hidden until the count is raised.
    std::unordered_map<int, Point> points;
    for (Point &point : project->points())
        points.try_emplace(point.cjdNo, std::move(point));
    std::unordered_map<int, std::optional<Rgb>> colours;
    for (int number = 1; number <= m_window.pointCount() && number <= grid->rowCount(); ++number) {
        const auto found = points.find(number);
        if (found == points.end())
            continue;
        auto *item = new QTableWidgetItem(found->second.name);
        auto colour = colours.find(found->second.aci);
        if (colour == colours.end())
            colour = colours.emplace(found->second.aci, project->colour(found->second.aci)).first;
        // A point whose colour index is not in the table keeps the grid's
        // own text colour.
        if (colour->second)
            item->setForeground(QColor(colour->second->r, colour->second->g, colour->second->b));
        grid->setItem(number - 1, 0, item);
    }
}

int ProjectCommands::listEpochs()
{
    ProjectDatabase *project = m_window.project();
    if (!project)
        return 0;
    const QSignalBlocker blocker(ui.List1);
    const std::vector<Epoch> epochs = project->epochs();
    for (const Epoch &epoch : epochs)
        ui.List1->addItem(QString::number(epoch.cjNo) + QLatin1Char('.') + epoch.name);
    return int(epochs.size());
}
