#include "gui/resultscommand.h"

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
    ResultsRequest request;
    request.settings = &m_session.settings();
    request.headerFields = effectiveHeaderFields(m_session.settings(), m_session.project());
    request.programDir = m_session.programDir();
    request.projectPath = m_session.projectPath();
    request.templateName = m_w.tableTemplates->currentText();
    request.output = m_session.outputPath(resultsPathOf(m_session.projectPath()));
    request.pointCount = m_session.pointCount();
    request.unit = m_session.unit();
    const auto run = prepareResultsRun(request);
    if (!run) {
        showMessage(m_w.window, QStringLiteral("成果表未能生成：%1").arg(run.error()), title);
        return;
    }
    const QString output = run->output;
    const auto status = runResultsTable(m_session.snapshot().withUsableDates(), run->settings,
                                        run->templatePath, output);
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
