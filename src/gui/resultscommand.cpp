#include "gui/resultscommand.h"

#include "base/outputguard.h"
#include "gui/messages.h"
#include "gui/session.h"
#include "report/resultsrun.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace {
const QString title = QStringLiteral("沉降观测");
}

ResultsCommand::ResultsCommand(Session &session, const Widgets &widgets)
    : m_session(session)
    , m_w(widgets)
{}

void ResultsCommand::writeResultsTable()
{
    if (!m_session.project()) {
        showMessage(m_w.window, QStringLiteral("请先新建或打开沉降工程文件！"), title);
        m_w.firstBox->setFocus();
        return;
    }
    if (!m_session.leaveBoxes())
        return;
    if (auto reloaded = m_session.reloadIfChanged(); !reloaded) {
        showMessage(m_w.window, reloaded.error(), title);
        return;
    }
    const QString output = m_session.outputPath(resultsPathOf(m_session.projectPath()));
    const QString templatePath =
        tableTemplatePath(m_session.programDir(), m_w.tableTemplates->currentText());
    ProtectedFiles keep = programFiles(m_session.programDir(), m_session.projectPath());
    keep.add(QStringLiteral("表格模板"), templatePath);
    if (auto allowed = keep.checkOutput(output); !allowed) {
        showMessage(m_w.window, QStringLiteral("成果表未能生成：%1").arg(allowed.error()), title);
        return;
    }
    const ResultsSettings settings{
        m_session.pointCount(), m_session.unit(),
        resultsHeader(effectiveHeaderFields(m_session.settings(), m_session.project())),
        stabilitySettingsFrom(m_session.settings())};
    const auto status = runResultsTable(m_session.snapshot().withUsableDates(), settings, templatePath, output);
    if (!status) {
        showMessage(m_w.window, QStringLiteral("成果表未能生成：%1").arg(status.error()), title);
        return;
    }
    switch (*status) {
    case ResultsRunStatus::NothingToWrite:
        return;
    case ResultsRunStatus::TemplateMissing:
        showMessage(m_w.window, QStringLiteral("表格模板被删除，请重新安装！"), title);
        return;
    case ResultsRunStatus::Written:
        break;
    }
    if (m_opensWorkbook)
        QDesktopServices::openUrl(QUrl::fromLocalFile(output));
    showMessage(m_w.window,
                QStringLiteral("成果表已保存：%1").arg(QDir::toNativeSeparators(output)), title,
                QMessageBox::Information);
}
