#include "gui/observationgrid.h"

#include "base/textnumber.h"
#include "gui/keys.h"
#include "gui/messages.h"
#include "gui/provenancedialog.h"
#include "gui/questionabledialog.h"
#include "gui/session.h"
#include "gui/twips.h"
#include "domain/buildingdeformation.h"
#include "domain/keyrules.h"
#include "domain/pointstyle.h"
#include "domain/settlement.h"
#include "domain/settlementrules.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QIcon>
#include <QMenu>
#include <QPixmap>
#include <QScrollBar>
#include <QTableWidget>

#include <set>

namespace {

constexpr int rowsInView = 15;

constexpr int rowHeight = 300;

// The background of an elevation that looks like a slip, until it is
// confirmed or corrected.
const QColor questionableColour(255, 214, 153);

} // namespace

ObservationGrid::ObservationGrid(Session &session, const Widgets &widgets)
    : m_session(session)
    , m_w(widgets)
{
    m_w.elevation->installEventFilter(this);
    m_w.name->installEventFilter(this);
    m_w.elevation->setAttribute(Qt::WA_InputMethodEnabled, false);
    connect(m_w.grid, &QTableWidget::cellClicked, this, &ObservationGrid::cellClicked);
    connect(m_w.grid->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &ObservationGrid::scrolled);
    m_w.grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_w.grid, &QTableWidget::customContextMenuRequested, this,
            &ObservationGrid::showCellMenu);
}

int ObservationGrid::topRow() const
{
    return m_w.grid->verticalScrollBar()->value() + 1;
}

void ObservationGrid::setTopRow(int row)
{
    m_w.grid->verticalScrollBar()->setValue(row - 1);
}

QString ObservationGrid::cellText(int row, int column) const
{
    const QTableWidgetItem *item = m_w.grid->item(row - 1, column);
    return item ? item->text() : QString();
}

void ObservationGrid::setCell(int row, int column, const QString &text)
{
    QTableWidgetItem *item = m_w.grid->item(row - 1, column);
    if (item) {
        item->setText(text);
    } else if (!text.isEmpty()) {
        item = new QTableWidgetItem(text);
        // Names to the left, numbers to the right.
        item->setTextAlignment((column == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
        m_w.grid->setItem(row - 1, column, item);
    }
    // A figure too wide for its cell is elided at its end; the whole of it
    // is the cell's tooltip.
    if (item)
        item->setToolTip(text);
}

int ObservationGrid::dayCountOf(int epoch)
{
    if (epoch < 1)
        return 0;
    const ProjectSnapshot &snapshot = m_session.snapshot();
    const int current = snapshot.epochIndex(epoch);
    const int previous = snapshot.epochIndex(epoch - 1);
    return current >= 0 && previous >= 0 ? snapshot.dayCount(current, previous) : 0;
}

void ObservationGrid::fill()
{
    if (!m_session.project())
        return;
    const int points = std::min(m_session.pointCount(), m_w.grid->rowCount());
    m_w.grid->setUpdatesEnabled(false);
    refreshAlarms();
    refreshQuestionable();
    for (int n = 1; n <= points; ++n)
        fillRow(n);
    m_w.grid->setUpdatesEnabled(true);
}

void ObservationGrid::refreshAlarms()
{
    const std::map<int, QString> before = std::move(m_alarmReasons);
    m_alarmReasons.clear();
    const ProjectSnapshot &snapshot = m_session.snapshot();
    const int index = snapshot.epochIndex(m_session.currentEpoch());
    if (m_session.project() && index >= 0) {
        for (const Alarm &alarm : m_session.alarmsAtCurrentEpoch()) {
            const QString text = alarmText(alarm, snapshot);
            for (const std::optional<int> number :
                 {alarm.point, alarm.pair ? std::optional(alarm.pair->first) : std::nullopt,
                  alarm.pair ? std::optional(alarm.pair->second) : std::nullopt})
                if (number) {
                    QString &reason = m_alarmReasons[*number];
                    reason += (reason.isEmpty() ? QString() : QStringLiteral("\n")) + text;
                }
        }
    }
    // Rows whose alarm came or went, or changed, are coloured again.
    recolourChanged(before, m_alarmReasons);
}

void ObservationGrid::recolourChanged(const std::map<int, QString> &before, const std::map<int, QString> &now)
{
    std::set<int> changed;
    for (const auto &[number, reason] : before)
        if (const auto found = now.find(number); found == now.end() || found->second != reason)
            changed.insert(number);
    for (const auto &[number, reason] : now)
        if (!before.count(number))
            changed.insert(number);
    for (const int number : changed)
        if (number >= 1 && number <= m_w.grid->rowCount())
            colourRow(number);
}

void ObservationGrid::colourRow(int n)
{
    const auto reason = m_alarmReasons.find(n);
    const auto questioned = m_questionable.find(n);
    // The value in question is the one typed in this epoch.
    const int typedColumn = m_session.currentEpoch() == 0 ? 1 : 2;
    for (int column = 1; column <= 5; ++column) {
        QTableWidgetItem *item = m_w.grid->item(n - 1, column);
        if (!item)
            continue;
        QString tip = item->text();
        if (reason == m_alarmReasons.end()) {
            item->setData(Qt::ForegroundRole, QVariant());
        } else {
            item->setForeground(QColor(Qt::red));
            tip += QStringLiteral("\n预警：") + reason->second;
        }
        if (column == typedColumn && questioned != m_questionable.end()) {
            item->setBackground(questionableColour);
            tip += QStringLiteral("\n可疑，未核对：") + questioned->second
                   + QStringLiteral("\n（右键「核对可疑高程…」确认或修改）");
        } else {
            item->setData(Qt::BackgroundRole, QVariant());
        }
        item->setToolTip(tip);
    }
}

void ObservationGrid::fillRow(int n)
{
    // One rule for a row, whether the epoch is filled or an elevation was
    // just typed: the same stored values give the same figures.
    const ProjectSnapshot &snapshot = m_session.snapshot();
    const int k = m_session.currentEpoch();
    const QString unit = m_session.unit();
    const PointValues v =
        PointEpochValues(k, snapshot.elevation(0, n),
                         k >= 1 ? snapshot.elevation(k - 1, n) : std::nullopt,
                         k >= 1 ? snapshot.elevation(k, n) : std::nullopt, dayCountOf(k));
    setCell(n, 1, v.first ? FormatElevation(*v.first, unit) : QString());
    setCell(n, 2, v.current ? FormatElevation(*v.current, unit) : QString());
    setCell(n, 3, v.thisSettlement ? FormatSettlement(*v.thisSettlement) : QString());
    setCell(n, 4, v.cumulative ? FormatSettlement(*v.cumulative) : QString());
    setCell(n, 5, v.rate ? FormatRate(*v.rate) : QString());
    colourRow(n);
}

void ObservationGrid::loadPointRows(bool setRowHeights)
{
    QTableWidget *grid = m_w.grid;
    if (setRowHeights)
        for (int row = 0; row < grid->rowCount(); ++row)
            grid->setRowHeight(row, twips(rowHeight));
    if (!m_session.project())
        return;
    // Points are found by number: a point's row is always its CjdNo, and
    // points above the point count stay hidden until the count is raised.
    const ProjectSnapshot &snapshot = m_session.snapshot();
    for (const Point &point : snapshot.points()) {
        if (point.cjdNo < 1 || point.cjdNo > m_session.pointCount()
            || point.cjdNo > grid->rowCount())
            continue;
        auto *item = new QTableWidgetItem(point.name);
        // A point whose colour index is not in the table keeps the grid's
        // own text colour.
        if (const auto rgb = snapshot.colour(point.aci))
            item->setForeground(QColor(rgb->r, rgb->g, rgb->b));
        grid->setItem(point.cjdNo - 1, 0, item);
    }
}

void ObservationGrid::clear()
{
    QTableWidget *grid = m_w.grid;
    for (int row = 0; row < grid->rowCount(); ++row)
        for (int column = 0; column < grid->columnCount(); ++column)
            delete grid->takeItem(row, column);
    m_w.elevation->clear();
    m_w.elevation->setGeometry(grid->x() + grid->columnWidth(0) + twips(750),
                               m_w.elevation->y(), twips(850), twips(rowHeight));
    m_w.elevation->hide();
    m_w.name->clear();
    m_w.name->setGeometry(grid->x(), m_w.name->y(), twips(850), twips(rowHeight));
    m_w.name->hide();
    closeBoxes();
    m_typedHere.clear();
}

void ObservationGrid::closeElevationBox()
{
    m_w.elevation->clear();
    m_w.elevation->hide();
    m_editRow = m_editColumn = 0;
    m_editEpoch = -1;
}

bool ObservationGrid::leaveBoxes()
{
    // As a spreadsheet commits a cell on leaving it: a changed, valid entry
    // goes to the epoch and point its box was opened for, never to another
    // epoch; an entry that cannot be saved is asked about, and the user may
    // go back to it.
    const auto goBack = [](QLineEdit *box) {
        box->setFocus();
        box->selectAll();
        return false;
    };
    if (m_session.project() && m_editRow != 0 && m_editEpoch >= 0 && m_w.elevation->isVisible()) {
        const QString typed = m_w.elevation->text();
        if (typed != cellText(m_editRow, m_editColumn)) {
            if (!typed.isEmpty() && !isTypeableElevation(typed)) {
                if (!askYesNo(m_w.window, QStringLiteral("“%1”不是高程，不能保存。放弃这个输入？\n"
                                                         "（选“否”返回修改）")
                                              .arg(typed)))
                    return goBack(m_w.elevation);
            } else {
                if (!storeTyped(m_editEpoch, m_editRow, typed))
                    return goBack(m_w.elevation);
                m_session.announceElevationStored(m_editEpoch, m_editRow);
            }
        }
    }
    if (m_session.project() && m_nameRow != 0 && m_w.name->isVisible()) {
        const QString name = m_w.name->text();
        if (!name.isEmpty() && name != cellText(m_nameRow, 0)) {
            if (!isAcceptablePointName(name)) {
                if (!askYesNo(m_w.window, QStringLiteral("点名“%1”含有不能使用的字符，不能保存。放弃这个输入？\n"
                                                         "（选“否”返回修改）")
                                              .arg(name)))
                    return goBack(m_w.name);
            } else if (nameTakenAnswered(m_nameRow, name)) {
                if (auto named = m_session.namePoint(m_nameRow, name); !named) {
                    reportWriteFailure(m_w.window, m_session.projectPath(), named.error());
                    return goBack(m_w.name);
                }
                setCell(m_nameRow, 0, name);
            }
        }
    }
    closeBoxes();
    return true;
}

void ObservationGrid::closeBoxes()
{
    m_w.name->clear();
    m_w.name->hide();
    m_nameRow = 0;
    closeElevationBox();
}

void ObservationGrid::placeBox(QLineEdit *box, int row, int column)
{
    QTableWidget *grid = m_w.grid;
    const QRect cell = grid->visualRect(grid->model()->index(row - 1, column));
    const QPoint topLeft = grid->viewport()->mapTo(m_w.window, cell.topLeft());
    const int left = box == m_w.name ? grid->x() : topLeft.x();
    box->move(left, topLeft.y());
    if (box == m_w.elevation)
        box->resize(std::max(box->width(), cell.width()), box->height()); // a widened column, a wider box
    box->raise();
}

void ObservationGrid::cellClicked(int tableRow, int column)
{
    if (!m_session.project())
        return;
    // The box open so far is left by the same rule as any other way out.
    if (!leaveBoxes())
        return;
    const int row = tableRow + 1;
    const int k = m_session.currentEpoch();
    const int editable = k == 0 ? 1 : (k > 0 ? 2 : -1);
    if (column != 0) {
        m_w.name->clear();
        m_w.name->hide();
        m_nameRow = 0;
    }
    if (column != editable)
        closeElevationBox();
    if (column == 0) {
        m_nameRow = row;
        m_w.name->resize(m_w.grid->columnWidth(0), twips(300));
        placeBox(m_w.name, row, 0);
        m_w.name->setText(cellText(row, 0));
        m_w.name->show();
        m_w.name->setFocus();
        m_w.name->selectAll();
    } else if (column == editable) {
        // The box belongs to this epoch and point, whatever is selected later.
        m_editRow = row;
        m_editColumn = column;
        m_editEpoch = k;
        placeBox(m_w.elevation, row, column);
        m_w.elevation->setText(cellText(row, column));
        m_w.elevation->show();
        m_w.elevation->setFocus();
        m_w.elevation->selectAll();
    }
}

void ObservationGrid::scrolled()
{
    if (m_editRow == 0 && m_nameRow == 0)
        return;
    // An open row is kept in view: the view moves back by a row at a time
    // (each move notifies again) until the row is inside it.
    for (const int row : {m_editRow, m_nameRow}) {
        if (row == 0)
            continue;
        const int top = topRow();
        if (row < top)
            setTopRow(top - 1);
        else if (row > top + rowsInView - 1)
            setTopRow(top + 1);
    }
    if (m_w.elevation->isVisible() && m_editRow != 0)
        placeBox(m_w.elevation, m_editRow, m_editColumn);
    if (m_w.name->isVisible() && m_nameRow != 0)
        placeBox(m_w.name, m_nameRow, 0);
}

bool ObservationGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const QChar c = typedCharacter(static_cast<QKeyEvent *>(event));
    if (c.isNull() || !m_session.project())
        return false;

    if (watched == m_w.elevation) {
        if (m_editEpoch < 0 || m_editRow == 0)
            return false;
        if (c.unicode() == 13) {
            commitElevation();
            return true;
        }
        return c.unicode() != 8 && !elevationKeyAccepted(textBeforeTyping(m_w.elevation), c);
    }

    if (watched == m_w.name) {
        // The first character of an empty box is taken as typed, and Enter
        // in an empty box does nothing.
        if (m_nameRow == 0 || m_w.name->text().isEmpty())
            return c.unicode() == 13;
        if (c.unicode() == 8)
            return false;
        if (c.unicode() == 13) {
            commitName();
            return true;
        }
        const auto accepted = pointNameKey(c);
        if (!accepted)
            return true;
        if (*accepted != c) {
            m_w.name->insert(QString(*accepted));
            return true;
        }
        return false;
    }
    return false;
}

void ObservationGrid::commitElevation()
{
    const int row = m_editRow;
    const int k = m_editEpoch;
    const QString typed = m_w.elevation->text();
    const QString unit = m_session.unit();

    // Pasted text passes no key rule: what the keys could not have typed is
    // refused before anything is written.
    if (!typed.isEmpty() && !isTypeableElevation(typed)) {
        showMessage(m_w.window, QStringLiteral("“%1”不是高程，请重新输入！").arg(typed));
        m_w.elevation->setFocus();
        m_w.elevation->selectAll();
        return;
    }
    if (!storeTyped(k, row, typed)) {
        // The row keeps showing what the project holds; the typed text stays
        // in the box so that nothing typed is lost.
        m_w.elevation->setFocus();
        return;
    }

    const int next = row >= m_session.pointCount() ? 1 : row + 1;
    m_editRow = next; // before any scrolling, which keeps the edit row in view
    if (next == 1)
        setTopRow(1);
    // Rows 15, 25, 35 ... bring rows 10, 20, 30 ... to the top; row 5 leaves
    // the view where it is.
    if (next % 10 == 5 && next / 10 * 10 >= 1)
        setTopRow(next / 10 * 10);
    m_w.elevation->setText(cellText(next, m_editColumn));
    placeBox(m_w.elevation, next, m_editColumn);
    m_session.announceElevationStored(k, row);
    m_w.elevation->setFocus();
    m_w.elevation->selectAll();
}

bool ObservationGrid::reviewQuestionable(bool leaving)
{
    const int k = m_session.currentEpoch();
    if (!m_session.project() || k < 0)
        return true;
    std::vector<QuestionableElevation> questionable = m_session.questionable(k);
    // Leaving, only those typed here are listed: values brought in by an
    // import were asked about then, and an epoch only looked at asks nothing.
    if (leaving)
        std::erase_if(questionable, [&](const QuestionableElevation &q) { return !m_typedHere.count({k, q.cjdNo}); });
    if (questionable.empty()) {
        if (!leaving)
            showMessage(m_w.window, QStringLiteral("%1没有待核对的可疑高程。").arg(m_session.epochLabel(k)));
        return true;
    }
    QuestionableDialog dialog(
        m_session.epochLabel(k), std::move(questionable), m_session.unit(),
        [this](int cjdNo) {
            const Point *point = m_session.snapshot().point(cjdNo);
            return point ? point->name : QStringLiteral("%1 号点").arg(cjdNo);
        },
        [this, k](int cjdNo) { return m_session.confirmElevation(k, cjdNo); }, m_w.window);
    dialog.exec();
    // Confirmed ones lose their mark.
    refreshQuestionable();
    const auto correct = dialog.pointToCorrect();
    if (!correct)
        return true;
    // Back to the value in question: its box open, its text selected.
    const int column = k == 0 ? 1 : 2;
    if (*correct >= 1 && *correct <= m_w.grid->rowCount()) {
        m_w.grid->scrollToItem(m_w.grid->item(*correct - 1, column));
        cellClicked(*correct - 1, column);
    }
    return false;
}

void ObservationGrid::refreshQuestionable()
{
    std::map<int, QString> before = std::move(m_questionable);
    m_questionable.clear();
    const int k = m_session.currentEpoch();
    if (m_session.project() && k >= 0)
        for (const QuestionableElevation &q : m_session.questionable(k))
            m_questionable[q.cjdNo] = QuestionableReason(q, m_session.unit());
    recolourChanged(before, m_questionable);
}

bool ObservationGrid::nameTakenAnswered(int row, const QString &name)
{
    // A name another point already has: the import would find only one of
    // them, so the user is asked first.
    for (const Point &point : m_session.snapshot().points())
        if (point.cjdNo != row && pointNameKey(point.name) == pointNameKey(name))
            return askYesNo(m_w.window,
                            QStringLiteral("点名“%1”已被第 %2 号测点使用，是否仍然使用这个点名？")
                                .arg(name)
                                .arg(point.cjdNo));
    return true;
}

void ObservationGrid::commitName()
{
    const int row = m_nameRow;
    const QString name = m_w.name->text();
    if (name != cellText(row, 0) && !nameTakenAnswered(row, name)) {
        m_w.name->setFocus();
        m_w.name->selectAll();
        return;
    }
    if (!isAcceptablePointName(name)) {
        showMessage(m_w.window,
                    QStringLiteral("点名“%1”含有不能使用的字符（空格或 !\"#$%&'()*+,:;<=>?@），"
                                   "请修改！")
                        .arg(name));
        m_w.name->setFocus();
        return;
    }
    if (auto named = m_session.namePoint(row, name); !named) {
        reportWriteFailure(m_w.window, m_session.projectPath(), named.error());
        return;
    }
    setCell(row, 0, name);
    if (const Point *point = m_session.snapshot().point(row))
        if (const auto rgb = m_session.snapshot().colour(point->aci))
            m_w.grid->item(row - 1, 0)->setForeground(QColor(rgb->r, rgb->g, rgb->b));

    const int next = row >= m_session.pointCount() ? 1 : row + 1;
    m_nameRow = next; // before any scrolling, which keeps the name row in view
    if (next == 1)
        setTopRow(1);
    const int top = topRow();
    if ((next >= top + rowsInView || next % 10 == 5) && next / 10 * 10 >= 1)
        setTopRow(next / 10 * 10);
    m_w.name->setText(cellText(next, 0));
    placeBox(m_w.name, next, 0);
    m_w.name->setFocus();
    m_w.name->selectAll();
}
