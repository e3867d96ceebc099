#include "gui/epochcommands.h"

#include "survey/fieldrules.h"

#include "base/textnumber.h"
#include "gui/keys.h"
#include "gui/messages.h"
#include "gui/session.h"
#include "domain/keyrules.h"
#include "domain/settlement.h"

#include <QDate>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>

EpochCommands::EpochCommands(Session &session, const Widgets &widgets)
    : m_session(session)
    , m_w(widgets)
{
    m_w.date->setMaxLength(10);
    m_w.name->setMaxLength(10);
    m_w.layers->setMaxLength(3);
    for (QLineEdit *box : {m_w.date, m_w.name, m_w.layers})
        box->installEventFilter(this);
    m_w.layers->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_w.date->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_w.list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_w.list, &QListWidget::customContextMenuRequested, this,
            &EpochCommands::showListMenu);
}

namespace {
// The epoch number of a list entry: the number before the first "." (a name
// may hold "." itself).
int epochOfEntry(const QListWidgetItem *entry)
{
    const QString text = entry->text();
    return text.left(text.indexOf(QLatin1Char('.'))).toInt();
}
} // namespace

void EpochCommands::showListMenu(const QPoint &position)
{
    const QListWidgetItem *entry = m_w.list->itemAt(position);
    if (!entry || !m_session.project())
        return;
    const int cjNo = epochOfEntry(entry);
    QMenu menu(m_w.list);
    connect(menu.addAction(QStringLiteral("删除本次观测")), &QAction::triggered, this,
            [this, cjNo] { removeEpoch(cjNo); });
    menu.exec(m_w.list->viewport()->mapToGlobal(position));
}

void EpochCommands::removeEpoch(int cjNo)
{
    const ProjectSnapshot &snapshot = m_session.snapshot();
    const Epoch *epoch = snapshot.epochByNumber(cjNo);
    if (!epoch)
        return;
    // What typed into an open box belongs to the epoch shown is kept first.
    if (!m_session.leaveBoxes())
        return;
    int elevations = 0;
    const int index = snapshot.epochIndex(cjNo);
    for (int column = 0; column < int(snapshot.pointNumbers().size()); ++column)
        elevations += ProjectSnapshot::present(snapshot.at(index, column)) ? 1 : 0;
    QString question = QStringLiteral("删除%1及其 %2 个高程？").arg(m_session.epochLabel(cjNo)).arg(elevations);
    const bool later = index + 1 < snapshot.epochCount();
    if (later)
        question += QStringLiteral("\n以后各次观测的次序号依次减一。");
    if (cjNo == 0 && later)
        question += QStringLiteral("\n观测“%1”（%2）将成为首次观测，"
                                   "各点的累计沉降从它算起。")
                        .arg(snapshot.epochs()[size_t(index + 1)].name,
                             snapshot.epochs()[size_t(index + 1)].date);
    if (!askYesNo(m_w.window, question))
        return;
    const int shown = m_session.currentEpoch();
    if (auto removed = m_session.removeEpoch(cjNo); !removed) {
        reportWriteFailure(m_w.window, m_session.projectPath(), removed.error());
        return;
    }
    // The list anew; the epoch shown stays shown under its new number, and
    // in place of the removed one the epoch that took its number.
    refillList(shown > cjNo ? shown - 1 : shown);
    selectEpoch();
}

void EpochCommands::refillList(int show)
{
    {
        const QSignalBlocker blocker(m_w.list);
        m_w.list->clear();
        for (const Epoch &e : m_session.snapshot().epochs())
            addListEntry(QString::number(e.cjNo) + QLatin1Char('.') + e.name);
    }
    int row = m_w.list->count() - 1;
    for (int i = 0; i < m_w.list->count(); ++i)
        if (epochOfEntry(m_w.list->item(i)) == show)
            row = i;
    if (row >= 0) {
        const QSignalBlocker blocker(m_w.list);
        m_w.list->setCurrentRow(row);
    }
    if (row < 0) {
        m_session.setCurrentEpoch(-1);
        m_w.modify->setEnabled(false);
    }
}

bool EpochCommands::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const QChar c = typedCharacter(static_cast<QKeyEvent *>(event));
    if (c.isNull())
        return false; // Tab, Escape, Delete: editing keys, not characters
    bool accepted = true;
    if (watched == m_w.date && (c == QLatin1Char('/') || c == QLatin1Char('.'))) {
        // A slash or a dot where the dash goes is taken for it.
        if (dateKeyAccepted(textBeforeTyping(m_w.date), QLatin1Char('-')))
            m_w.date->insert(QStringLiteral("-"));
        return true;
    }
    if (watched == m_w.date)
        accepted = c.unicode() == 8 || dateKeyAccepted(textBeforeTyping(m_w.date), c);
    else if (watched == m_w.name)
        accepted = epochNameKeyAccepted(c);
    else if (watched == m_w.layers)
        accepted = loadFloorKeyAccepted(c);
    return !accepted;
}

void EpochCommands::addListEntry(const QString &text)
{
    // A long name is cut by the list's width: the tooltip has it whole.
    auto *entry = new QListWidgetItem(text, m_w.list);
    entry->setToolTip(text);
}

bool EpochCommands::noProject()
{
    if (m_session.project())
        return false;
    showMessage(m_w.window, QStringLiteral("请先新建或打开沉降工程文件！"));
    focusBox(m_w.date);
    return true;
}

void EpochCommands::focusBox(QLineEdit *box)
{
    box->setFocus();
    box->selectAll();
}

void EpochCommands::remember()
{
    m_rememberedDate = m_w.date->text();
    m_rememberedName = m_w.name->text();
    m_rememberedLayers = m_w.layers->text();
}

void EpochCommands::showProject()
{
    {
        const QSignalBlocker blocker(m_w.list);
        m_w.list->clear();
    }
    m_w.date->setText(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    m_w.name->clear();
    m_w.layers->clear();
    if (!m_session.project())
        return;
    {
        const QSignalBlocker blocker(m_w.list);
        for (const Epoch &epoch : m_session.snapshot().epochs())
            addListEntry(QString::number(epoch.cjNo) + QLatin1Char('.') + epoch.name);
    }
    if (m_w.list->count() > 0)
        m_w.list->setCurrentRow(m_w.list->count() - 1); // runs the epoch selection
    else
        selectEpoch();
}

void EpochCommands::selectEpoch()
{
    if (!m_session.project())
        return;
    // An open box is left first: what it holds belongs to the epoch shown so
    // far. Back to the box, the epoch shown so far stays selected.
    // Leaving an epoch for another, its questionable elevations are listed;
    // the surveyor may go back to one.
    QListWidgetItem *chosen = m_w.list->currentItem();
    const bool leaving = chosen && m_session.currentEpoch() >= 0 && epochOfEntry(chosen) != m_session.currentEpoch();
    if (!m_session.leaveBoxes() || (leaving && !m_session.reviewLeavingEpoch())) {
        const QSignalBlocker blocker(m_w.list);
        for (int row = 0; row < m_w.list->count(); ++row)
            if (epochOfEntry(m_w.list->item(row)) == m_session.currentEpoch())
                m_w.list->setCurrentRow(row);
        return;
    }
    if (auto reloaded = m_session.reloadIfChanged(); !reloaded)
        showMessage(m_w.window, reloaded.error());
    if (const QStringList overwritten = m_session.takeOverwritten(); !overwritten.isEmpty())
        showMessage(m_w.window,
                    QStringLiteral("以下高程在您输入后又被另一位用户改动，以后提交的为准：\n%1")
                        .arg(overwritten.mid(0, 20).join(QLatin1Char('\n'))));
    if (QListWidgetItem *entry = m_w.list->currentItem()) {
        m_session.setCurrentEpoch(epochOfEntry(entry));
        if (const Epoch *epoch = m_session.snapshot().epochByNumber(m_session.currentEpoch())) {
            m_w.date->setText(epoch->date);
            m_w.name->setText(epoch->name);
            m_w.layers->setText(epoch->layers);
            remember();
            m_w.modify->setEnabled(true);
        }
    }
    m_session.announceEpochShown();
}

void EpochCommands::readDateAsWritten()
{
    // "2025/03/10", "2025.03.10", "20250310" (pasted) shown as 2025-03-10.
    if (const auto date = normalisedDate(m_w.date->text()); date && *date != m_w.date->text())
        m_w.date->setText(*date);
}

bool EpochCommands::acceptableDate(const QString &date, int exceptEpoch, std::optional<int> *insertAt)
{
    if (!isTypeableDate(date)) {
        focusBox(m_w.date);
        return false;
    }
    const auto day = calendarDate(date);
    if (!day) {
        showMessage(m_w.window, QStringLiteral("观测日期不正确！请按“年-月-日”输入实际存在的日期，"
                                               "如 2018-07-10。"));
        focusBox(m_w.date);
        return false;
    }

    const auto existing = m_session.project()->epochByDate(date);
    if (!existing) {
        showMessage(m_w.window, existing.error());
        return false;
    }
    if (*existing && (*existing)->cjNo != exceptEpoch) {
        showMessage(m_w.window,
                    QStringLiteral("“") + date + QStringLiteral("”日期已存在，请修改！"));
        focusBox(m_w.date);
        return false;
    }
    // Out of order with its neighbours: the rate would run backwards in time.
    const ProjectSnapshot &snapshot = m_session.snapshot();
    const int place = exceptEpoch >= 0 ? snapshot.epochIndex(exceptEpoch) : snapshot.epochCount();
    const Epoch *previous = place > 0 ? &snapshot.epochs()[size_t(place - 1)] : nullptr;
    const Epoch *next = exceptEpoch >= 0 && place >= 0 && place + 1 < snapshot.epochCount()
                            ? &snapshot.epochs()[size_t(place + 1)]
                            : nullptr;
    // A new epoch dated before the last one is a campaign entered late: it
    // goes in its place in date order, compared with its true neighbours.
    if (insertAt && previous && exceptEpoch < 0) {
        if (const auto last = calendarDate(previous->date); last && *day < *last) {
            const int place = m_session.placeByDate(date);
            const Epoch *after = snapshot.epochByNumber(place);
            const Epoch *before = snapshot.epochByNumber(place - 1);
            QString where = before ? QStringLiteral("排在“%1”（%2）之后、“%3”（%4）之前")
                                         .arg(before->name, before->date, after->name, after->date)
                                   : QStringLiteral("排在“%1”（%2）之前，成为首次观测").arg(after->name, after->date);
            const int answer =
                askChoice(m_w.window,
                          QStringLiteral("观测日期 %1 早于最后一次观测“%2”（%3）。\n"
                                         "按日期插入：本次观测%4，以后各次观测的次序号依次加一，"
                                         "沉降与速率都与它前后的观测相比。")
                              .arg(date, previous->name, previous->date, where),
                          {QStringLiteral("按日期插入"), QStringLiteral("返回修改")}, 0);
            if (answer != 0) {
                focusBox(m_w.date);
                return false;
            }
            *insertAt = place;
            return true;
        }
    }
    QString question;
    if (const auto before = previous ? calendarDate(previous->date) : std::nullopt;
        before && *day < *before)
        question = QStringLiteral("观测日期 %1 早于上一次观测（%2）的日期 %3。\n是否仍然使用这个日期？")
                       .arg(date, previous->name, previous->date);
    else if (const auto after = next ? calendarDate(next->date) : std::nullopt;
             after && *day > *after)
        question = QStringLiteral("观测日期 %1 晚于下一次观测（%2）的日期 %3。\n是否仍然使用这个日期？")
                       .arg(date, next->name, next->date);
    if (!question.isEmpty() && !askYesNo(m_w.window, question)) {
        focusBox(m_w.date);
        return false;
    }
    return true;
}

bool EpochCommands::acceptableName(const QString &name, int exceptEpoch)
{
    if (name.contains(QLatin1Char(' '))) {
        focusBox(m_w.name);
        return false;
    }
    if (auto rule = epochNameRule(name); !rule) {
        showMessage(m_w.window, rule.error());
        focusBox(m_w.name);
        return false;
    }
    const auto existing = m_session.project()->epochByName(name);
    if (!existing) {
        showMessage(m_w.window, existing.error());
        return false;
    }
    if (*existing && (*existing)->cjNo != exceptEpoch) {
        showMessage(m_w.window,
                    QStringLiteral("“") + name + QStringLiteral("”名称已存在，请修改！"));
        focusBox(m_w.name);
        return false;
    }
    return true;
}

void EpochCommands::newObservation()
{
    if (noProject())
        return;
    if (!m_session.leaveBoxes())
        return;
    readDateAsWritten();
    const QString date = m_w.date->text();
    const QString name = m_w.name->text();
    const QString layers = m_w.layers->text();
    if (date.isEmpty() || name.isEmpty() || layers.isEmpty())
        return;
    std::optional<int> insertAt;
    if (!acceptableDate(date, -1, &insertAt) || !acceptableName(name, -1))
        return;
    if (insertAt) {
        if (auto inserted = m_session.insertEpoch(*insertAt, date, name, layers); !inserted) {
            reportWriteFailure(m_w.window, m_session.projectPath(), inserted.error());
            return;
        }
        refillList(*insertAt);
        selectEpoch();
        return;
    }
    const auto number = m_session.addEpoch(date, name, layers);
    if (!number) {
        reportWriteFailure(m_w.window, m_session.projectPath(), number.error());
        return;
    }
    addListEntry(QString::number(*number) + QLatin1Char('.') + name);
    m_w.list->setCurrentRow(m_w.list->count() - 1); // selecting fills the grid
}

void EpochCommands::modify()
{
    if (noProject())
        return;
    readDateAsWritten();
    const QString date = m_w.date->text();
    const QString name = m_w.name->text();
    const QString layers = m_w.layers->text();
    if (m_rememberedDate.isEmpty())
        return;
    if (date.isEmpty() || name.isEmpty() || layers.isEmpty())
        return;
    if (date == m_rememberedDate && name == m_rememberedName && layers == m_rememberedLayers)
        return;
    if (!isNumeric(layers)) {
        focusBox(m_w.layers);
        return;
    }
    const auto found = m_session.project()->epochByName(m_rememberedName);
    if (!found) {
        showMessage(m_w.window, found.error());
        return;
    }
    const std::optional<Epoch> &epoch = *found;
    // The epoch itself never counts as another epoch with its own date or
    // name, so that a change of letter case alone is not refused.
    const int self = epoch ? epoch->cjNo : -1;
    if (date != m_rememberedDate && !acceptableDate(date, self))
        return;
    if (name != m_rememberedName && !acceptableName(name, self))
        return;
    if (epoch) {
        if (auto updated = m_session.updateEpoch({epoch->cjNo, date, name, layers}); !updated) {
            reportWriteFailure(m_w.window, m_session.projectPath(), updated.error());
            return;
        }
        for (int row = 0; row < m_w.list->count(); ++row) {
            QListWidgetItem *entry = m_w.list->item(row);
            const QString text = entry->text();
            const qsizetype dot = text.indexOf(QLatin1Char('.'));
            if (text.mid(dot + 1) != m_rememberedName)
                continue;
            entry->setText(text.left(dot + 1) + name);
            entry->setToolTip(entry->text());
            const QSignalBlocker blocker(m_w.list);
            m_w.list->setCurrentRow(row);
            break;
        }
        // The same epoch again: its fields and its grid, changed dates and all.
        selectEpoch();
    }
    remember();
}
