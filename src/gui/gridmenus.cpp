// The grid's cell menus: a point's style, removal and the history of a
// value, with undo of one change.
#include "gui/observationgrid.h"

#include "gui/messages.h"
#include "gui/provenancedialog.h"
#include "gui/questionabledialog.h"
#include "gui/session.h"
#include "domain/pointstyle.h"

#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QTableWidget>

void ObservationGrid::showCellMenu(const QPoint &position)
{
    const QModelIndex cell = m_w.grid->indexAt(position);
    if (!m_session.project() || !cell.isValid())
        return;
    // An elevation's cell: the first epoch's, or the current one's (a row
    // takes elevations before its point is named).
    const int k = m_session.currentEpoch();
    if ((cell.column() == 1 && k >= 0) || (cell.column() == 2 && k >= 1)) {
        showElevationMenu(cell.column() == 1 ? 0 : k, cell.row() + 1, position);
        return;
    }
    if (cell.column() != 0 || !m_session.snapshot().point(cell.row() + 1))
        return;
    const int row = cell.row() + 1;
    const Point *point = m_session.snapshot().point(row);
    QMenu menu(m_w.grid);
    // Colour and mark for the preview, the sheets and the legend.
    QMenu *colours = menu.addMenu(QStringLiteral("颜色"));
    colours->setObjectName(QStringLiteral("PointColours"));
    for (const PointColour &colour : pointColours()) {
        QAction *action = colours->addAction(QStringLiteral("%1（%2）").arg(colour.name).arg(colour.aci));
        action->setCheckable(true);
        action->setChecked(colour.aci == point->aci);
        if (const auto rgb = m_session.snapshot().colour(colour.aci)) {
            QPixmap swatch(12, 12);
            swatch.fill(QColor(rgb->r, rgb->g, rgb->b));
            action->setIcon(QIcon(swatch));
        }
        const int aci = colour.aci;
        const QString mark = point->mark;
        connect(action, &QAction::triggered, this, [this, row, aci, mark] { restylePoint(row, aci, mark); });
    }
    QMenu *marks = menu.addMenu(QStringLiteral("标志"));
    marks->setObjectName(QStringLiteral("PointMarks"));
    for (const QString &mark : pointMarks()) {
        QAction *action = marks->addAction(mark);
        action->setCheckable(true);
        action->setChecked(mark == point->mark);
        const int aci = point->aci;
        connect(action, &QAction::triggered, this, [this, row, aci, mark] { restylePoint(row, aci, mark); });
    }
    // Where the points stand, for the plan.
    if (m_openPositions)
        connect(menu.addAction(QStringLiteral("测点坐标…")), &QAction::triggered, this,
                [this] { m_openPositions(); });
    menu.addSeparator();
    connect(menu.addAction(QStringLiteral("删除测点")), &QAction::triggered, this,
            [this, row] { removePoint(row); });
    menu.exec(m_w.grid->viewport()->mapToGlobal(position));
}

void ObservationGrid::showElevationMenu(int cjNo, int row, const QPoint &position)
{
    if (!leaveBoxes())
        return;
    QMenu menu(m_w.grid);
    connect(menu.addAction(QStringLiteral("高程来历…")), &QAction::triggered, this, [this, cjNo, row] {
        ProvenanceDialog dialog(m_session, cjNo, row, [this](const HistoryRow &change) { return undoChange(change); },
                                m_w.window);
        dialog.exec();
    });
    connect(menu.addAction(QStringLiteral("核对可疑高程…")), &QAction::triggered, this,
            [this] { reviewQuestionable(false); });
    QAction *undo = menu.addAction(QStringLiteral("撤销修改"));
    // The last change of the value (a confirmation changes nothing).
    const auto history = m_session.project()->history(cjNo, row);
    std::optional<HistoryRow> last;
    if (history)
        for (auto change = history->rbegin(); change != history->rend() && !last; ++change)
            if (change->kind == HistoryRow::Elevation)
                last = *change;
    undo->setEnabled(last && !m_session.project()->isReadOnly());
    connect(undo, &QAction::triggered, this, [this, last] {
        if (last)
            undoChange(*last);
    });
    menu.exec(m_w.grid->viewport()->mapToGlobal(position));
}

bool ObservationGrid::undoChange(const HistoryRow &change)
{
    if (change.kind != HistoryRow::Elevation || !change.cjNo || !change.cjdNo)
        return false;
    const Point *point = m_session.snapshot().point(*change.cjdNo);
    const QString unit = m_session.unit();
    // A value in the history that is no number is shown as it is recorded;
    // the session refuses to put it back.
    const auto shown = [&](const QVariant &v) {
        bool number = false;
        const double metres = v.toDouble(&number);
        return v.isNull() ? QStringLiteral("（无）") : number ? FormatElevation(metres, unit) : v.toString().left(40);
    };
    if (!askYesNo(m_w.window, QStringLiteral("把 %1 在%2的高程从 %3 恢复为 %4？\n（这次撤销也记入历史）")
                                  .arg(point ? point->name : QString::number(*change.cjdNo),
                                       m_session.epochLabel(*change.cjNo), shown(change.newValue),
                                       shown(change.oldValue))))
        return false;
    if (auto restored = m_session.undo(change); !restored) {
        reportWriteFailure(m_w.window, m_session.projectPath(), restored.error());
        return false;
    }
    if (*change.cjNo == m_session.currentEpoch() || *change.cjNo == 0)
        fillRow(*change.cjdNo);
    m_session.announceElevationStored(*change.cjNo, *change.cjdNo);
    return true;
}

bool ObservationGrid::storeTyped(int cjNo, int row, const QString &typed)
{
    // A questionable value is stored on its own point all the same and
    // marked: a question here would take the keys typed on from the field
    // book, before the surveyor has seen it, and put the next values on the
    // wrong points. It is confirmed or corrected when the surveyor looks
    // (reviewQuestionable).
    const auto metres = typed.isEmpty() ? std::nullopt : std::optional(ParseElevation(typed, m_session.unit()));
    if (auto stored = m_session.storeElevation(cjNo, row, metres, WriteHow::Typed); !stored) {
        reportWriteFailure(m_w.window, m_session.projectPath(), stored.error());
        return false;
    }
    m_typedHere.insert({cjNo, row});
    // The row as a fresh fill of the epoch shows it (a box's epoch is the
    // one shown: another selection would have closed it).
    if (cjNo == m_session.currentEpoch()) {
        refreshAlarms();
        refreshQuestionable();
        fillRow(row);
    }
    return true;
}

void ObservationGrid::removePoint(int row)
{
    const ProjectSnapshot &snapshot = m_session.snapshot();
    const Point *point = snapshot.point(row);
    if (!point || !leaveBoxes())
        return;
    int elevations = 0;
    if (const int column = snapshot.columnOf(row); column >= 0)
        for (int index = 0; index < snapshot.epochCount(); ++index)
            elevations += ProjectSnapshot::present(snapshot.at(index, column)) ? 1 : 0;
    if (!askYesNo(m_w.window, QStringLiteral("删除第 %1 号测点“%2”及其全部 %3 个高程？")
                                  .arg(row)
                                  .arg(point->name)
                                  .arg(elevations)))
        return;
    if (auto removed = m_session.removePoint(row); !removed) {
        reportWriteFailure(m_w.window, m_session.projectPath(), removed.error());
        return;
    }
    delete m_w.grid->takeItem(row - 1, 0);
    m_session.requestRefresh();
}

void ObservationGrid::restylePoint(int row, int aci, const QString &mark)
{
    if (!leaveBoxes())
        return;
    if (auto styled = m_session.stylePoint(row, aci, mark); !styled) {
        reportWriteFailure(m_w.window, m_session.projectPath(), styled.error());
        return;
    }
    if (QTableWidgetItem *item = m_w.grid->item(row - 1, 0))
        if (const auto rgb = m_session.snapshot().colour(aci))
            item->setForeground(QColor(rgb->r, rgb->g, rgb->b));
    m_session.announceElevationStored(m_session.currentEpoch(), row); // the preview draws it anew
}
