#pragma once

#include "layout/curvelayout.h"

#include <QString>

class MainWindow;
class QLineEdit;
namespace Ui {
class Form1;
}

// The frame-template list, the three curve-kind options and the zoom
// buttons: they load the layout, write the axis labels and boxes, enable the
// controls each kind uses, and draw the preview.
class CurveKindControls
{
public:
    CurveKindControls(MainWindow &window, Ui::Form1 &ui);

    // A template chosen in the list: stored, its layout read for the kind
    // selected, the axis boxes set; the output button needs a layout file.
    void chooseFrameTemplate();
    // The handler of the kind's option: layout, labels, boxes, enabling and,
    // with a project open, the preview.
    void selectCurveKind(CurveKind kind);
    void zoomIn();
    void zoomOut();

    const CurveLayout &layout() const { return m_layout; }
    // The kind whose option is selected.
    CurveKind selectedKind() const;

private:
    QString layoutFile() const;
    void draw(CurveKind kind);

    MainWindow &m_window;
    Ui::Form1 &ui;
    CurveLayout m_layout;
};

// Sets a box's text from the program: a box's length limit holds for what is
// typed, not for a value the program shows, which is never cut short.
void showInBox(QLineEdit *box, const QString &text);
