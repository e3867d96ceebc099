#include "gui/importcommand.h"

#include "gui/messages.h"
#include "gui/session.h"
#include "survey/observationimport.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {
const QString title = QStringLiteral("调入数据");
} // namespace

ImportCommand::ImportCommand(Session &session, QWidget *window)
    : m_session(session)
    , m_window(window)
{}

void ImportCommand::importObservations()
{
    ProjectDatabase *project = m_session.project();
    if (!project || m_session.currentEpoch() < 0)
        return;
    QFileDialog dialog(m_window, QStringLiteral("调入观测数据"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(QStringLiteral("观测数据 (*.xls *.xlsx)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (!m_session.lastProjectDir().isEmpty())
        dialog.setDirectory(m_session.lastProjectDir());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().value(0).isEmpty())
        return;
    const QString path = dialog.selectedFiles().value(0);

    std::vector<ImportRow> rows;
    QString error;
    switch (readObservationRows(path, &rows, &error)) {
    case ImportSource::NotFound:
        showMessage(m_window, QStringLiteral("找不到数据源！"), title);
        return;
    case ImportSource::Empty:
        showMessage(m_window, QStringLiteral("数据源为空！"), title);
        return;
    case ImportSource::Unreadable:
        showMessage(m_window, error, title);
        return;
    case ImportSource::Read:
        break;
    }
    const int epoch = m_session.currentEpoch();
    const auto plan = planImport(*project, epoch, rows, m_session.unit());
    if (!plan) {
        showMessage(m_window,
                    QStringLiteral("调入失败，工程未作任何修改：%1\n%2")
                        .arg(QDir::toNativeSeparators(project->path()), plan.error()),
                    title);
        return;
    }
    // Elevations already typed or imported into this epoch are replaced
    // only when the user says so.
    if (plan->result.overwritten > 0
        && !askYesNo(m_window,
                     QStringLiteral("第 %1 次观测已有 %2 个测点的高程，调入将覆盖其中 %3 个。"
                                    "是否继续调入？")
                         .arg(epoch)
                         .arg(plan->held)
                         .arg(plan->result.overwritten),
                     title))
        return;
    const ImportResult result = writeImport(*project, *plan);
    if (!result.written) {
        showMessage(m_window,
                    QStringLiteral("调入失败，工程未作任何修改：%1\n%2")
                        .arg(QDir::toNativeSeparators(project->path()), result.error),
                    title);
        return;
    }
    // The project read again, and the epoch shown again: its boxes, the grid
    // and the preview.
    if (auto reloaded = m_session.reload(); !reloaded)
        showMessage(m_window, reloaded.error(), title);
    m_session.requestRefresh();

    showMessage(m_window, importSummary(QFileInfo(path).fileName(), result), title,
                QMessageBox::Information);
}
