#include "gui/observationgrid.h"

#include "gui/mainwindow.h"
#include "gui/messages.h"
#include "gui/twips.h"
#include "project/projectdb.h"
#include "survey/keyrules.h"
#include "survey/pointstyle.h"
#include "survey/settlement.h"
#include "base/textnumber.h"
#include "ui_mainwindow.h"

#include <QKeyEvent>
#include <QScrollBar>

#include <unordered_map>

namespace {

constexpr int rowsInView = 15;

// The character a key press types, or a null character for keys that type
// none (arrows, Delete) and for shortcuts.
QChar typedCharacter(const QKeyEvent *key)
{
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return QChar();
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        return QChar(13);
    if (key->text().size() != 1)
        return QChar();
    const QChar c = key->text().front();
    return (c.unicode() < 32 && c.unicode() != 8) ? QChar() : c;
}

std::unordered_map<int, double> byPoint(const std::vector<Elevation> &elevations)
{
    std::unordered_map<int, double> map;
    map.reserve(elevations.size());
    for (const Elevation &e : elevations)
        map.try_emplace(e.cjdNo, e.pointH);
    return map;
}

std::optional<double> find(const std::unordered_map<int, double> &map, int point)
{
    const auto found = map.find(point);
    return found == map.end() ? std::nullopt : std::optional<double>(found->second);
}

} // namespace

ObservationGrid::ObservationGrid(MainWindow &window, Ui::Form1 &ui)
    : m_window(window)
    , ui(ui)
{
    ui.Text4->installEventFilter(this);
    ui.Text5->installEventFilter(this);
    ui.Text4->setAttribute(Qt::WA_InputMethodEnabled, false);
    connect(ui.Flex1, &QTableWidget::cellClicked, this, &ObservationGrid::cellClicked);
    connect(ui.Flex1->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &ObservationGrid::scrolled);
}

int ObservationGrid::topRow() const
{
    return ui.Flex1->verticalScrollBar()->value() + 1;
}

void ObservationGrid::setTopRow(int row)
{
    ui.Flex1->verticalScrollBar()->setValue(row - 1);
}

QString ObservationGrid::cellText(int row, int column) const
{
    const QTableWidgetItem *item = ui.Flex1->item(row - 1, column);
    return item ? item->text() : QString();
}

void ObservationGrid::setCell(int row, int column, const QString &text)
{
    QTableWidgetItem *item = ui.Flex1->item(row - 1, column);
    if (item) {
        item->setText(text);
    } else if (!text.isEmpty()) {
        item = new QTableWidgetItem(text);
        // Names to the left, numbers to the right.
        item->setTextAlignment((column == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
        ui.Flex1->setItem(row - 1, column, item);
    }
}

int ObservationGrid::dayCountOf(int epoch)
{
    if (epoch < 1)
        return 0;
    ProjectDatabase *project = m_window.project();
    const auto current = project->epochByNumber(epoch);
    const auto previous = project->epochByNumber(epoch - 1);
    return current && previous ? DayCount(current->date, previous->date) : 0;
}

void ObservationGrid::fill()
{
    ProjectDatabase *project = m_window.project();
    if (!project)
        return;
    const int k = m_window.currentEpoch();
    const int points = std::min(m_window.pointCount(), ui.Flex1->rowCount());
    const int dayCount = dayCountOf(k);

    // Three reads, one per epoch, instead of three lookups per point.
    const auto first = byPoint(project->elevationsOfEpoch(0, points));
    const auto previous = k >= 1 ? byPoint(project->elevationsOfEpoch(k - 1, points))
                                 : std::unordered_map<int, double>();
    const auto current =
        k >= 1 ? byPoint(project->elevationsOfEpoch(k, points)) : std::unordered_map<int, double>();
    const QString unit = m_window.elevationUnit();

    ui.Flex1->setUpdatesEnabled(false);
    for (int n = 1; n <= points; ++n) {
        const PointValues v =
            PointEpochValues(k, find(first, n), find(previous, n), find(current, n), dayCount);
        setCell(n, 1, v.first ? FormatElevation(*v.first, unit) : QString());
        setCell(n, 2, v.current ? FormatElevation(*v.current, unit) : QString());
        setCell(n, 3, v.thisSettlement ? FormatSettlement(*v.thisSettlement) : QString());
        setCell(n, 4, v.cumulative ? FormatSettlement(*v.cumulative) : QString());
        setCell(n, 5, v.rate ? FormatRate(*v.rate) : QString());
    }
    ui.Flex1->setUpdatesEnabled(true);
}

void ObservationGrid::closeElevationBox()
{
    ui.Text4->clear();
    ui.Text4->hide();
    m_editRow = m_editColumn = 0;
}

void ObservationGrid::closeBoxes()
{
    ui.Text5->clear();
    ui.Text5->hide();
    m_nameRow = 0;
    closeElevationBox();
}

void ObservationGrid::placeBox(QLineEdit *box, int row, int column)
{
    QTableWidget *grid = ui.Flex1;
    const QRect cell = grid->visualRect(grid->model()->index(row - 1, column));
    const QPoint topLeft = grid->viewport()->mapTo(&m_window, cell.topLeft());
    const int left = box == ui.Text5 ? grid->x() : topLeft.x();
    box->move(left, topLeft.y());
    box->raise();
}

void ObservationGrid::cellClicked(int tableRow, int column)
{
    if (!m_window.project())
        return;
    const int row = tableRow + 1;
    const int k = m_window.currentEpoch();
    const int editable = k == 0 ? 1 : (k > 0 ? 2 : -1);
    if (column != 0) {
        ui.Text5->clear();
        ui.Text5->hide();
        m_nameRow = 0;
    }
    if (column != editable)
        closeElevationBox();
    if (column == 0) {
        m_nameRow = row;
        ui.Text5->resize(ui.Flex1->columnWidth(0), twips(300));
        placeBox(ui.Text5, row, 0);
        ui.Text5->setText(cellText(row, 0));
        ui.Text5->show();
        ui.Text5->setFocus();
        ui.Text5->selectAll();
    } else if (column == editable) {
        m_editRow = row;
        m_editColumn = column;
        placeBox(ui.Text4, row, column);
        ui.Text4->setText(cellText(row, column));
        ui.Text4->show();
        ui.Text4->setFocus();
        ui.Text4->selectAll();
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
    if (ui.Text4->isVisible() && m_editRow != 0)
        placeBox(ui.Text4, m_editRow, m_editColumn);
    if (ui.Text5->isVisible() && m_nameRow != 0)
        placeBox(ui.Text5, m_nameRow, 0);
}

bool ObservationGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const QChar c = typedCharacter(static_cast<QKeyEvent *>(event));
    if (c.isNull() || !m_window.project())
        return false;

    if (watched == ui.Text4) {
        if (m_window.currentEpoch() < 0 || m_editRow == 0)
            return false;
        if (c.unicode() == 13) {
            commitElevation();
            return true;
        }
        return !elevationKeyAccepted(ui.Text4->text(), c);
    }

    if (watched == ui.Text5) {
        // The first character of an empty box is taken as typed, and Enter
        // in an empty box does nothing.
        if (m_nameRow == 0 || ui.Text5->text().isEmpty())
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
            ui.Text5->insert(QString(*accepted));
            return true;
        }
        return false;
    }
    return false;
}

QString ObservationGrid::elevationText(const QString &typed) const
{
    // The value as typed, in the unit it was typed in.
    if (typed.isEmpty())
        return QString();
    return formatFixed(leadingNumber(typed),
                       m_window.elevationUnit() == QLatin1String("m") ? 5 : 2);
}

void ObservationGrid::commitElevation()
{
    ProjectDatabase *project = m_window.project();
    const int row = m_editRow;
    const int k = m_window.currentEpoch();
    const QString typed = ui.Text4->text();
    const QString unit = m_window.elevationUnit();

    // Pasted text passes no key rule: what the keys could not have typed is
    // refused before anything is written.
    if (!typed.isEmpty() && !isTypeableElevation(typed)) {
        showMessage(&m_window, QStringLiteral("“%1”不是高程，请重新输入！").arg(typed));
        ui.Text4->setFocus();
        ui.Text4->selectAll();
        return;
    }
    const int dayCount = dayCountOf(k);
    const double hc = ParseElevation(typed, unit);
    const bool stored =
        typed.isEmpty() ? project->deleteElevation(k, row) : project->setElevation(k, row, hc);
    if (!stored) {
        // The row keeps showing what the project holds; the typed text stays
        // in the box so that nothing typed is lost.
        m_window.reportWriteFailure(project->errorString());
        ui.Text4->setFocus();
        return;
    }

    setCell(row, m_editColumn, elevationText(typed));
    if (k >= 1) {
        if (typed.isEmpty()) {
            for (int column = 3; column <= 5; ++column)
                setCell(row, column, QString());
        } else {
            // The values of the row from the value just typed, whatever it is.
            const double h0 = project->elevation(0, row).value_or(0);
            const double hp = project->elevation(k - 1, row).value_or(0);
            if (hp != 0) {
                setCell(row, 3, FormatSettlement(hc - hp));
                setCell(row, 5, dayCount >= 1 ? FormatRate((hc - hp) / dayCount) : QString());
            }
            if (h0 != 0)
                setCell(row, 4, FormatSettlement(hc - h0));
        }
    }

    const int next = row >= m_window.pointCount() ? 1 : row + 1;
    m_editRow = next; // before any scrolling, which keeps the edit row in view
    if (next == 1)
        setTopRow(1);
    // Rows 15, 25, 35 ... bring rows 10, 20, 30 ... to the top; row 5 leaves
    // the view where it is.
    if (next % 10 == 5 && next / 10 * 10 >= 1)
        setTopRow(next / 10 * 10);
    ui.Text4->setText(cellText(next, m_editColumn));
    placeBox(ui.Text4, next, m_editColumn);
    m_window.showSettlementPreview();
    ui.Text4->setFocus();
    ui.Text4->selectAll();
}

void ObservationGrid::commitName()
{
    ProjectDatabase *project = m_window.project();
    const int row = m_nameRow;
    const QString name = ui.Text5->text();
    if (!isAcceptablePointName(name)) {
        showMessage(&m_window,
                    QStringLiteral("点名“%1”含有不能使用的字符（空格或 !\"#$%&'()*+,:;<=>?@），"
                                   "请修改！")
                        .arg(name));
        ui.Text5->setFocus();
        return;
    }
    if (project->pointByNumber(row)) {
        if (!project->renamePoint(row, name)) {
            m_window.reportWriteFailure(project->errorString());
            return;
        }
        setCell(row, 0, name);
    } else {
        const PointStyle style = defaultPointStyle(row);
        if (!project->addPoint({row, name, style.aci, style.mark})) {
            m_window.reportWriteFailure(project->errorString());
            return;
        }
        setCell(row, 0, name);
        QTableWidgetItem *item = ui.Flex1->item(row - 1, 0);
        if (const auto rgb = project->colour(style.aci))
            item->setForeground(QColor(rgb->r, rgb->g, rgb->b));
    }

    const int next = row >= m_window.pointCount() ? 1 : row + 1;
    m_nameRow = next; // before any scrolling, which keeps the name row in view
    if (next == 1)
        setTopRow(1);
    const int top = topRow();
    if ((next >= top + rowsInView || next % 10 == 5) && next / 10 * 10 >= 1)
        setTopRow(next / 10 * 10);
    ui.Text5->setText(cellText(next, 0));
    placeBox(ui.Text5, next, 0);
    ui.Text5->setFocus();
    ui.Text5->selectAll();
}
