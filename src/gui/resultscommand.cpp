#include "gui/resultscommand.h"

#include "gui/mainwindow.h"
#include "gui/messages.h"
#include "project/projectdb.h"
#include "report/resultsrun.h"
#include "ui_mainwindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace {
const QString title = QStringLiteral("沉降观测");
}

ResultsCommand::ResultsCommand(MainWindow &window, Ui::Form1 &ui)
    : m_window(window)
    , ui(ui)
{}

void ResultsCommand::writeResultsTable()
{
    ProjectDatabase *project = m_window.project();
    if (!project) {
        showMessage(&m_window, QStringLiteral("请先新建或打开沉降工程文件！"), title);
        ui.Text1->setFocus();
        return;
    }
    const QString output = resultsPathOf(project->path());
    QString error;
    const ResultsRunStatus status =
        runResultsTable(*project, m_window.settings(),
                        tableTemplatePath(m_window.programDir(), ui.Combo2->currentText()),
                        m_window.pointCount(), m_window.elevationUnit(), output, &error);
    switch (status) {
    case ResultsRunStatus::NothingToWrite:
        return;
    case ResultsRunStatus::TemplateMissing:
        showMessage(&m_window, QStringLiteral("表格模板被删除，请重新安装！"), title);
        return;
    case ResultsRunStatus::Failed:
        showMessage(&m_window, QStringLiteral("成果表未能生成：%1").arg(error), title);
        return;
    case ResultsRunStatus::Written:
        break;
    }
    if (m_opensWorkbook)
        QDesktopServices::openUrl(QUrl::fromLocalFile(output));
    showMessage(&m_window, QStringLiteral("成果表已保存：%1").arg(QDir::toNativeSeparators(output)),
                title, QMessageBox::Information);
}
