#pragma once

#include "layout/curvelayout.h"

#include <QString>

#include <vector>

class PreviewWidget;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;
class Session;

// The frame-template list, the three curve-kind options and the zoom
// buttons: they load the layout, write the axis labels and boxes, enable the
// controls each kind uses, and draw the preview. The axis boxes are filled
// when a project is opened or created and when a kind or template is chosen;
// in between they keep what the user typed.
class CurveKindControls
{
public:
    struct Widgets
    {
        QWidget *window;                         // Form1, for messages
        QComboBox *frameTemplates;               // Combo1
        QRadioButton *settlement, *rate, *load;  // Option1 to Option3
        QRadioButton *plan;                      // Option4, 沉降平面图
        QLineEdit *time, *curve, *aux;           // Text6, Text7, Text8
        QLabel *timeCaption, *timeUnit;          // Label5, Label12
        QLabel *curveCaption, *curveUnit;        // Label6, Label8
        QLabel *auxCaption, *auxUnit;            // Label14, Label18
        QPushButton *output;                     // Command3
        QPushButton *zoomIn, *zoomOut;           // Command8, Command9
        PreviewWidget *preview;                  // Pic1
        std::vector<QWidget *> settlementOnly;   // aux axis and tiling controls
    };
    CurveKindControls(Session &session, const Widgets &widgets);

    // A template chosen in the list: stored, its layout read for the kind
    // selected, the axis boxes set; the output button needs a layout file.
    void chooseFrameTemplate();
    // The handler of the kind's option: layout, labels, boxes, enabling and,
    // with a project open, the preview.
    void selectCurveKind(CurveKind kind);
    // The axis boxes show the ranges fitted to the open project's data (the
    // layout's ranges when they are larger or no project is open).
    void fitAxisBoxes();
    void zoomIn();
    void zoomOut();
    // Selects the settlement kind and redraws its preview; the axis boxes
    // change only when another kind was selected.
    void showSettlementPreview();

    // The kind whose option is selected.
    CurveKind selectedKind() const;

    // The plan view: its option is enabled while at least three points have
    // positions; chosen, the preview shows the plan at the shown epoch.
    void updatePlanOption();
    bool planSelected() const;
    void showPlan();

private:
    QString layoutFile() const;
    // Layout, labels, enabling and preview of a kind, the boxes untouched.
    void showKind(CurveKind kind);
    void draw(CurveKind kind);

    Session &m_session;
    // The plan's own zoom: it opens with every placed point inside (1),
    // whatever the curves' zoom is.
    int m_planZoom = 1;
    Widgets m_w;
    // The session's layout was read from the chosen template for its kind.
    bool m_layoutRead = false;
};

// Sets a box's text from the program: a box's length limit holds for what is
// typed, not for a value the program shows, which is never cut short.
void showInBox(QLineEdit *box, const QString &text);
