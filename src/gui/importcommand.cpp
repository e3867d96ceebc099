#include "gui/importcommand.h"

#include "base/inputfile.h"
#include "base/settings.h"

#include "gui/leveldialog.h"
#include "gui/messages.h"
#include "gui/session.h"
#include "survey/observationimport.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace {
const QString title = QStringLiteral("调入数据");
} // namespace

namespace {
// A workbook by its name (.xls, .xlsx) or its first bytes (a zip or an OLE
// file); anything else is taken for a level's raw file.
bool isWorkbook(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("xls") || suffix == QLatin1String("xlsx"))
        return true;
    auto file = openInputFile(path, qint64(1) << 30);
    if (!file)
        return true; // the workbook reader says why it cannot be read
    const QByteArray magic = (*file)->read(4);
    return magic.startsWith("PK") || magic.startsWith("\xD0\xCF\x11\xE0");
}
} // namespace

bool implausibleAnswered(QWidget *window, ImportPlan &plan, const QString &title)
{
    // Rows that fail the plausibility check are asked about before anything
    // is written: written all the same, left out, or the import given up.
    const QStringList &odd = plan.result.implausible;
    if (odd.isEmpty())
        return true;
    constexpr int listed = 12;
    QString text = QStringLiteral("%1 行高程变化异常：\n%2").arg(odd.size()).arg(odd.mid(0, listed).join(QLatin1Char('\n')));
    if (odd.size() > listed)
        text += QStringLiteral("\n等");
    const int answer = askChoice(
        window, text, {QStringLiteral("仍然写入"), QStringLiteral("跳过这些行"), QStringLiteral("取消")}, 2, title);
    if (answer == 1)
        skipImplausible(plan);
    plan.implausibleConfirmed = answer == 0;
    return answer < 2;
}

bool replacingAnswered(QWidget *window, const ImportPlan &plan, const QString &epoch, const QString &verb,
                       const QString &title)
{
    // Elevations already typed or imported into the epoch are replaced only
    // when the user says so.
    return plan.result.overwritten == 0
           || askYesNo(window,
                       QStringLiteral("%1已有 %2 个测点的高程，%3将覆盖其中 %4 个。"
                                      "是否继续%5？")
                           .arg(epoch)
                           .arg(plan.held)
                           .arg(verb)
                           .arg(plan.result.overwritten)
                           .arg(verb == QLatin1String("调入") ? verb : QString()),
                       title);
}

ImportCommand::ImportCommand(Session &session, QWidget *window)
    : m_session(session)
    , m_window(window)
{}

void ImportCommand::importObservations()
{
    ProjectDatabase *project = m_session.project();
    if (!project || m_session.currentEpoch() < 0 || !m_session.leaveBoxes())
        return;
    QFileDialog dialog(m_window, QStringLiteral("调入观测数据"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // Workbooks of elevations, or the digital level's raw files (one or more).
    dialog.setNameFilters({QStringLiteral("观测数据 (*.xls *.xlsx)"),
                           QStringLiteral("水准原始数据 (*.gsi *.gsi8 *.gsi16 *.dat *.raw *.txt)")});
    dialog.setFileMode(QFileDialog::ExistingFiles);
    // The folder and file type of the last import, else the project's folder.
    const QString lastFolder = m_session.settings().readSettingOr(SettingKey::ImportFolder);
    if (!lastFolder.isEmpty() && QFileInfo(lastFolder).isDir())
        dialog.setDirectory(lastFolder);
    else if (!m_session.lastProjectDir().isEmpty())
        dialog.setDirectory(m_session.lastProjectDir());
    if (const QString type = m_session.settings().readSettingOr(SettingKey::ImportFileType);
        dialog.nameFilters().contains(type))
        dialog.selectNameFilter(type);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().value(0).isEmpty())
        return;
    const QStringList chosen = dialog.selectedFiles();
    storeSettingOrTell(m_window, m_session, SettingKey::ImportFolder, QFileInfo(chosen.front()).absolutePath());
    storeSettingOrTell(m_window, m_session, SettingKey::ImportFileType, dialog.selectedNameFilter());
    const QString path = chosen.front();
    if (!isWorkbook(path)) {
        importLevelFiles(chosen);
        return;
    }

    const auto read = readObservationRows(path);
    if (!read) {
        showMessage(m_window, read.error(), title);
        return;
    }
    switch (read->source) {
    case ImportSource::NotFound:
        showMessage(m_window, QStringLiteral("找不到数据源！"), title);
        return;
    case ImportSource::Empty:
        showMessage(m_window, QStringLiteral("数据源为空！"), title);
        return;
    case ImportSource::Read:
        break;
    }
    const std::vector<ImportRow> &rows = read->rows;
    const int epoch = m_session.currentEpoch();
    ProjectSession &session = m_session.projectSession();
    auto plan = session.planImport(epoch, rows, m_session.unit(), m_session.plausibility(), read->provenance);
    if (!plan) {
        showMessage(m_window,
                    QStringLiteral("调入失败，工程未作任何修改：%1\n%2")
                        .arg(QDir::toNativeSeparators(project->path()), plan.error()),
                    title);
        return;
    }
    if (!implausibleAnswered(m_window, *plan, title)
        || !replacingAnswered(m_window, *plan, m_session.epochLabel(epoch), QStringLiteral("调入"), title))
        return;
    const auto result = session.writeImport(*plan);
    if (!result) {
        showMessage(m_window,
                    QStringLiteral("调入失败，工程未作任何修改：%1\n%2")
                        .arg(QDir::toNativeSeparators(project->path()), result.error()),
                    title);
        return;
    }
    // The session read the project again: the epoch shown again, its boxes,
    // the grid and the preview.
    m_session.requestRefresh();

    showMessage(m_window, importSummary(QFileInfo(path).fileName(), *result), title,
                QMessageBox::Information);
}

void ImportCommand::importLevelFiles(const QStringList &paths)
{
    std::vector<LevelFile> files;
    for (const QString &path : paths) {
        auto file = readLevelFile(path);
        if (!file) {
            showMessage(m_window, file.error(), QStringLiteral("水准测量平差"));
            return;
        }
        files.push_back(std::move(*file));
    }
    LevelDialog dialog(m_session, std::move(files), m_window);
    dialog.exec();
}
