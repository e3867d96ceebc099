#include "gui/resultscommand.h"

#include "gui/messages.h"
#include "gui/session.h"
#include "pdfreport/monitoringreport.h"
#include "report/resultsrun.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QProgressDialog>
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
    QStringList told;
    const auto status = runResultsTable(m_session.snapshot(), run->settings, run->templatePath, output, &told);
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
    if (!told.isEmpty())
        showMessage(m_w.window,
                    QStringLiteral("成果表已保存：%1\n%2").arg(QDir::toNativeSeparators(output), told.join(u'\n')),
                    title);
    else
        showMessage(m_w.window, QStringLiteral("成果表已保存：%1").arg(QDir::toNativeSeparators(output)), title,
                    QMessageBox::Information);
}

void ResultsCommand::writeReport()
{
    const QString reportTitle = QStringLiteral("沉降观测报告");
    if (!m_session.project()) {
        showMessage(m_w.window, QStringLiteral("请先新建或打开沉降工程文件！"), reportTitle);
        m_w.firstBox->setFocus();
        return;
    }
    if (!m_session.leaveBoxes())
        return;
    if (auto reloaded = m_session.reloadIfChanged(); !reloaded) {
        showMessage(m_w.window, reloaded.error(), reportTitle);
        return;
    }
    const QString output = QFileDialog::getSaveFileName(
        m_w.window, QStringLiteral("生成沉降观测报告"), m_session.outputPath(reportPathOf(m_session.projectPath())),
        QStringLiteral("PDF 文件 (*.pdf)"));
    if (output.isEmpty())
        return;
    ReportRequest request;
    request.settings = &m_session.settings();
    request.headerFields = effectiveHeaderFields(m_session.settings(), m_session.project());
    request.programDir = m_session.programDir();
    request.projectPath = m_session.projectPath();
    request.output = output;
    request.planBackground = m_session.planBackground();
    request.pointCount = m_session.pointCount();
    request.templateName = m_w.tableTemplates->currentText();
    request.unit = m_session.unit();
    if (auto records = epochRecords(*m_session.project()); records)
        request.records = std::move(*records);
    else {
        showMessage(m_w.window, QStringLiteral("报告未能生成：%1").arg(records.error()), reportTitle);
        return;
    }
    if (auto check = m_session.project()->checkRecord(1); check) // the report counts epochs from 1
        request.check = std::move(*check);
    else {
        showMessage(m_w.window, QStringLiteral("报告未能生成：%1").arg(check.error()), reportTitle);
        return;
    }
    // A report that takes longer than half a second shows its progress.
    QProgressDialog progress(QStringLiteral("正在生成报告…"), QString(), 0, 1, m_w.window);
    progress.setWindowTitle(reportTitle);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    request.progress = [&progress](int page, int pages) {
        progress.setMaximum(pages);
        progress.setValue(page);
        progress.setLabelText(QStringLiteral("正在生成报告：第 %1 页，共 %2 页").arg(page + 1).arg(pages));
    };
    const auto written = writeMonitoringReport(m_session.snapshot(), request);
    progress.reset();
    if (!written) {
        showMessage(m_w.window, QStringLiteral("报告未能生成：%1").arg(written.error()), reportTitle);
        return;
    }
    const QString saved = QStringLiteral("沉降观测报告（%1 页）已保存：%2")
                              .arg(written->pages)
                              .arg(QDir::toNativeSeparators(written->output));
    if (!written->told.isEmpty())
        showMessage(m_w.window, saved + u'\n' + written->told.join(u'\n'), reportTitle);
    else
        showMessage(m_w.window, saved, reportTitle, QMessageBox::Information);
}
