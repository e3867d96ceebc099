#pragma once

#include "project/provenance.h"

#include <QObject>

#include <functional>
#include <map>
#include <set>
#include <QString>

class QLineEdit;
class QTableWidget;
class QWidget;
class Session;

// The observation grid Flex1 with its two floating boxes: the elevation box
// (Text4) over the editable elevation cell of a row, and the name box (Text5)
// over a point-name cell. Rows are numbered as the grid shows them: data row
// n (1 to the point count) belongs to point n; 0 means "none".
class ObservationGrid : public QObject
{
public:
    // The widgets the grid owns.
    struct Widgets
    {
        QWidget *window;      // Form1: where the boxes are placed, messages shown
        QTableWidget *grid;   // Flex1
        QLineEdit *elevation; // Text4
        QLineEdit *name;      // Text5
    };
    ObservationGrid(Session &session, const Widgets &widgets);

    // Shows the current epoch: every point's first and this elevation and
    // its three derived values, from the project snapshot.
    void fill();
    // Grid column 0 of rows 1 to the point count: the point names in their
    // colours. With setRowHeights every row also gets its designed height.
    void loadPointRows(bool setRowHeights);
    // The grid emptied of any project: cells cleared, boxes closed.
    void clear();

    // Empties and hides the elevation box; no cell is in edit.
    void closeElevationBox();
    // Both boxes emptied and hidden.
    void closeBoxes();
    // Every way of leaving a box (another cell, another epoch, unit, point
    // count or project, a command, closing): an open box's changed, valid
    // entry is committed to the epoch and point it was opened for, an
    // invalid one is asked about, then the boxes close. False when the user
    // chose to go back to the box, which stays open with its text.
    bool leaveBoxes();
    // Recomputes one row from the snapshot, as fill() does.
    void fillRow(int row);
    // The alarms of the shown epoch, worked out again: a point in alarm has
    // its figures in red and the reason as their tooltip.
    void refreshAlarms();
    // The one way a typed elevation is committed (Enter, or leaving the
    // box): to epoch `cjNo` and point `row`, marked as typed here, the row
    // and its alarms shown anew; false after telling why it failed.
    bool storeTyped(int cjNo, int row, const QString &typed);
    // What "测点坐标…" of a name cell's menu opens.
    void setPositionsOpener(std::function<void()> open) { m_openPositions = std::move(open); }
    // "删除测点" from a point-name cell's context menu: after the user
    // agrees, the point's record and all its elevations go, and the grid and
    // the preview show the project as it is now.
    void removePoint(int row);
    // A point's colour and mark, from the name cell's context menu.
    void restylePoint(int row, int aci, const QString &mark);
    // The shown epoch's elevations that look like slips, marked in the
    // grid: listed to be confirmed or corrected ("核对可疑高程…", or on
    // leaving the epoch with `leaving`, when there are any). False when the
    // surveyor chose to correct one: its box is then open.
    bool reviewQuestionable(bool leaving);
    // Which elevations of the shown epoch are questionable, worked out
    // again; rows whose mark came or went are coloured again.
    void refreshQuestionable();
    // True when no other point has the name, or the user agrees to a second.
    bool nameTakenAnswered(int row, const QString &name);

    int editRow() const { return m_editRow; }
    int editColumn() const { return m_editColumn; }
    int nameRow() const { return m_nameRow; }
    // The first data row in view.
    int topRow() const;
    void setTopRow(int row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<void()> m_openPositions;
    std::map<int, QString> m_alarmReasons; // by point number
    std::map<int, QString> m_questionable; // why, by point number
    std::set<std::pair<int, int>> m_typedHere; // (epoch, point) typed since the project was shown
    void colourRow(int row);
    // Colours again the rows whose entry in a reasons map came, went or changed.
    void recolourChanged(const std::map<int, QString> &before, const std::map<int, QString> &now);
    void cellClicked(int tableRow, int column);
    void showCellMenu(const QPoint &position);
    // "高程来历…" and "撤销修改" for the elevation of epoch `cjNo` in `row`.
    void showElevationMenu(int cjNo, int row, const QPoint &position);
    // Puts back the value `change` replaced, once the user agrees; recorded
    // as an undo.
    bool undoChange(const HistoryRow &change);
    void scrolled();
    void commitElevation();
    void commitName();
    void placeBox(QLineEdit *box, int row, int column);
    void setCell(int row, int column, const QString &text);
    QString cellText(int row, int column) const;
    // Day count between the current epoch and the one before it; 0 for the
    // first epoch or a malformed date.
    int dayCountOf(int epoch);

    Session &m_session;
    Widgets m_w;
    int m_editRow = 0;
    int m_editColumn = 0;
    int m_editEpoch = -1; // the epoch the elevation box was opened for
    int m_nameRow = 0;
};
