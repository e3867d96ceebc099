#pragma once

#include <QObject>
#include <QString>

class MainWindow;
class QLineEdit;
namespace Ui {
class Form1;
}

// The observation grid Flex1 with its two floating boxes: the elevation box
// (Text4) over the editable elevation cell of a row, and the name box (Text5)
// over a point-name cell. Rows are numbered as the grid shows them: data row
// n (1 to the point count) belongs to point n; 0 means "none".
class ObservationGrid : public QObject
{
public:
    ObservationGrid(MainWindow &window, Ui::Form1 &ui);

    // Shows the current epoch: every point's first and this elevation and
    // its three derived values, all read afresh from the project.
    void fill();

    // Empties and hides the elevation box; no cell is in edit.
    void closeElevationBox();
    // Both boxes emptied and hidden.
    void closeBoxes();

    int editRow() const { return m_editRow; }
    int editColumn() const { return m_editColumn; }
    int nameRow() const { return m_nameRow; }
    // The first data row in view.
    int topRow() const;
    void setTopRow(int row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void cellClicked(int tableRow, int column);
    void scrolled();
    void commitElevation();
    void commitName();
    void placeBox(QLineEdit *box, int row, int column);
    void setCell(int row, int column, const QString &text);
    QString cellText(int row, int column) const;
    // Day count between the current epoch and the one before it; 0 for the
    // first epoch or a malformed date.
    int dayCountOf(int epoch);
    QString elevationText(const QString &typed) const;

    MainWindow &m_window;
    Ui::Form1 &ui;
    int m_editRow = 0;
    int m_editColumn = 0;
    int m_nameRow = 0;
};
