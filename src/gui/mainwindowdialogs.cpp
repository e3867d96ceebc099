// The dialogs the main window opens: the stability analysis, the points'
// positions, the plan's settings and the header fields.
#include "gui/mainwindow.h"

#include "survey/fieldrules.h"
#include "base/programfiles.h"
#include "base/textnumber.h"
#include "gui/curvekindcontrols.h"
#include "gui/curveoutput.h"
#include "gui/epochcommands.h"
#include "gui/importcommand.h"
#include "gui/inputrules.h"
#include "gui/messages.h"
#include "gui/observationgrid.h"
#include "gui/plandialogs.h"
#include "gui/projectcommands.h"
#include "gui/resultscommand.h"
#include "gui/session.h"
#include "gui/stabilitydialog.h"
#include "gui/twips.h"
#include "ui_mainwindow.h"

#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QHeaderView>
#include <QMenu>
#include <QTimer>

void MainWindow::openStabilityDialog()
{
    if (!m_session->project()) {
        showMessage(this, QStringLiteral("请先新建或打开沉降工程文件！"));
        ui->Text1->setFocus();
        return;
    }
    // What is typed in an open box counts, and so does what another program
    // committed.
    if (!m_session->leaveBoxes())
        return;
    if (auto reloaded = m_session->reloadIfChanged(); !reloaded) {
        showMessage(this, reloaded.error());
        return;
    }
    StabilityDialog dialog(*m_session, this);
    dialog.exec();
}

void MainWindow::openPositionsDialog()
{
    if (!m_session->project() || !m_session->leaveBoxes())
        return;
    if (auto reloaded = m_session->reloadIfChanged(); !reloaded) {
        showMessage(this, reloaded.error());
        return;
    }
    PositionsDialog dialog(*m_session, this);
    dialog.exec();
    // What 确定 wrote (positions, a plan drawing): the window shows the
    // project as it is.
    showPlanChanges();
}

void MainWindow::openPlanSettings()
{
    if (!m_session->project() || !m_session->leaveBoxes())
        return;
    PlanSettingsDialog dialog(*m_session, this);
    if (dialog.exec() == QDialog::Accepted)
        showPlanChanges();
}

void MainWindow::showPlanChanges()
{
    m_curveKinds->updatePlanOption();
    m_grid->fill();
    m_curveKinds->showSettlementPreview();
}

void MainWindow::makeCompact()
{
    if (ui->Command13->isHidden())
        m_beforeCompact = std::pair(pos(), size());
    ui->Command13->show();
    ui->Command13->raise();
    setFixedSize(ui->Command13->size());
    placeWindow();
}

// The eight header fields of the results table, in the order they are read
// and written, with their boxes.
std::vector<std::pair<QString, QLineEdit *>> MainWindow::headerFields() const
{
    QLineEdit *const boxes[] = {ui->Text9,  ui->Text16, ui->Text17, ui->Text18,
                                ui->Text19, ui->Text20, ui->Text21, ui->Text22};
    const std::vector<QString> keys = headerFieldKeys();
    Q_ASSERT(keys.size() == std::size(boxes));
    std::vector<std::pair<QString, QLineEdit *>> fields;
    for (size_t i = 0; i < keys.size(); ++i)
        fields.emplace_back(keys[i], boxes[i]);
    return fields;
}

void MainWindow::openHeaderEditor()
{
    ui->Frame9->move(twips(6120), twips(2880));
    ui->Frame9->show();
    ui->Frame9->raise();
    // The open project's fields (a field it does not hold shows the
    // program-wide value); with no project, the program-wide values that new
    // projects start from.
    const auto fields = effectiveHeaderFields(m_session->settings(), m_session->project());
    for (const auto &[key, box] : headerFields()) {
        const auto found = fields.find(key);
        box->setText(found == fields.end() ? QString() : found->second);
    }
}

void MainWindow::saveHeaderEditor()
{
    if (ProjectDatabase *project = m_session->project()) {
        std::map<QString, QString> fields;
        for (const auto &[key, box] : headerFields())
            fields[key] = box->text();
        // A refused or failed write keeps the panel open so that nothing
        // typed is lost.
        if (auto allowed = headerFieldsRule(fields); !allowed) {
            showMessage(this, allowed.error());
            return;
        }
        if (auto stored = project->setHeaderFields(fields); !stored) {
            reportWriteFailure(this, m_session->projectPath(), stored.error());
            return;
        }
        ui->Frame9->hide();
        return;
    }
    for (const auto &[key, box] : headerFields()) {
        // A failed write keeps the panel open so that nothing typed is lost.
        if (!storeSetting(key, box->text()))
            return;
    }
    ui->Frame9->hide();
}

void MainWindow::cancelHeaderEditor()
{
    ui->Frame9->hide();
}
