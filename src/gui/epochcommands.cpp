#include "gui/epochcommands.h"

#include "gui/mainwindow.h"
#include "gui/messages.h"
#include "project/projectdb.h"
#include "survey/keyrules.h"
#include "gui/observationgrid.h"
#include "base/textnumber.h"
#include "ui_mainwindow.h"

#include <QKeyEvent>

EpochCommands::EpochCommands(MainWindow &window, Ui::Form1 &ui)
    : m_window(window)
    , ui(ui)
{
    ui.Text1->setMaxLength(10);
    ui.Text2->setMaxLength(10);
    ui.Text3->setMaxLength(3);
    for (QLineEdit *box : {ui.Text1, ui.Text2, ui.Text3})
        box->installEventFilter(this);
    ui.Text3->setAttribute(Qt::WA_InputMethodEnabled, false);
    ui.Text1->setAttribute(Qt::WA_InputMethodEnabled, false);
}

bool EpochCommands::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    QChar c;
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        c = QChar(13);
    else if (key->text().size() == 1)
        c = key->text().front();
    else
        return false;
    if (c.unicode() < 32 && c.unicode() != 8 && c.unicode() != 13)
        return false; // Tab, Escape, Delete: editing keys, not characters
    bool accepted = true;
    if (watched == ui.Text1)
        accepted = dateKeyAccepted(ui.Text1->text(), c);
    else if (watched == ui.Text2)
        accepted = epochNameKeyAccepted(c);
    else if (watched == ui.Text3)
        accepted = loadFloorKeyAccepted(c);
    return !accepted;
}

bool EpochCommands::noProject()
{
    if (m_window.project())
        return false;
    showMessage(&m_window, QStringLiteral("请先新建或打开沉降工程文件！"));
    focusBox(ui.Text1);
    return true;
}

void EpochCommands::focusBox(QLineEdit *box)
{
    box->setFocus();
    box->selectAll();
}

void EpochCommands::remember()
{
    m_rememberedDate = ui.Text1->text();
    m_rememberedName = ui.Text2->text();
    m_rememberedLayers = ui.Text3->text();
}

void EpochCommands::selectEpoch()
{
    ProjectDatabase *project = m_window.project();
    if (!project)
        return;
    if (QListWidgetItem *entry = ui.List1->currentItem()) {
        // The number before the first "."; a name may hold "." itself.
        const QString text = entry->text();
        m_window.setCurrentEpoch(text.left(text.indexOf(QLatin1Char('.'))).toInt());
        if (const auto epoch = project->epochByNumber(m_window.currentEpoch())) {
            ui.Text1->setText(epoch->date);
            ui.Text2->setText(epoch->name);
            ui.Text3->setText(epoch->layers);
            remember();
            ui.Command2->setEnabled(true);
        }
    }
    m_window.grid().fill();
    m_window.showSettlementPreview();
}

bool EpochCommands::acceptableDate(const QString &date, int exceptEpoch)
{
    if (!isTypeableDate(date)) {
        focusBox(ui.Text1);
        return false;
    }
    const auto existing = m_window.project()->epochByDate(date);
    if (existing && existing->cjNo != exceptEpoch) {
        showMessage(&m_window,
                    QStringLiteral("“") + date + QStringLiteral("”日期已存在，请修改！"));
        focusBox(ui.Text1);
        return false;
    }
    return true;
}

bool EpochCommands::acceptableName(const QString &name, int exceptEpoch)
{
    if (name.contains(QLatin1Char(' '))) {
        focusBox(ui.Text2);
        return false;
    }
    const auto existing = m_window.project()->epochByName(name);
    if (existing && existing->cjNo != exceptEpoch) {
        showMessage(&m_window,
                    QStringLiteral("“") + name + QStringLiteral("”名称已存在，请修改！"));
        focusBox(ui.Text2);
        return false;
    }
    return true;
}

void EpochCommands::newObservation()
{
    if (noProject())
        return;
    m_window.grid().closeElevationBox();
    const QString date = ui.Text1->text();
    const QString name = ui.Text2->text();
    const QString layers = ui.Text3->text();
    if (date.isEmpty() || name.isEmpty() || layers.isEmpty())
        return;
    if (!acceptableDate(date, -1) || !acceptableName(name, -1))
        return;
    ProjectDatabase *project = m_window.project();
    const auto number = project->nextEpochNumber();
    if (!number || !project->addEpoch({*number, date, name, layers})) {
        m_window.reportWriteFailure(project->errorString());
        return;
    }
    ui.List1->addItem(QString::number(*number) + QLatin1Char('.') + name);
    ui.List1->setCurrentRow(ui.List1->count() - 1); // selecting fills the grid
}

void EpochCommands::modify()
{
    if (noProject())
        return;
    const QString date = ui.Text1->text();
    const QString name = ui.Text2->text();
    const QString layers = ui.Text3->text();
    if (m_rememberedDate.isEmpty())
        return;
    if (date.isEmpty() || name.isEmpty() || layers.isEmpty())
        return;
    if (date == m_rememberedDate && name == m_rememberedName && layers == m_rememberedLayers)
        return;
    if (!isNumeric(layers)) {
        focusBox(ui.Text3);
        return;
    }
    ProjectDatabase *project = m_window.project();
    const auto epoch = project->epochByName(m_rememberedName);
    // The epoch itself never counts as another epoch with its own date or
    // name, so that a change of letter case alone is not refused.
    const int self = epoch ? epoch->cjNo : -1;
    if (date != m_rememberedDate && !acceptableDate(date, self))
        return;
    if (name != m_rememberedName && !acceptableName(name, self))
        return;
    if (epoch) {
        if (!project->updateEpoch({epoch->cjNo, date, name, layers})) {
            m_window.reportWriteFailure(project->errorString());
            return;
        }
        for (int row = 0; row < ui.List1->count(); ++row) {
            QListWidgetItem *entry = ui.List1->item(row);
            const QString text = entry->text();
            const qsizetype dot = text.indexOf(QLatin1Char('.'));
            if (text.mid(dot + 1) != m_rememberedName)
                continue;
            entry->setText(text.left(dot + 1) + name);
            const QSignalBlocker blocker(ui.List1);
            ui.List1->setCurrentRow(row);
            break;
        }
        // The same epoch again: its fields and its grid, changed dates and all.
        selectEpoch();
    }
    remember();
}
