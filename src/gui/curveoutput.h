#pragma once

#include "cad/curvesrun.h"

#include <QMessageBox>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <set>

class Drawing;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QWidget;
class Session;

// "生成曲线图": draws the curve sheets of the chosen kind into the project's
// drawing and writes it next to the project as <project>.dxf.
class CurveOutput : public QObject
{
    Q_OBJECT
public:
    struct Widgets
    {
        QWidget *window;                // Form1: moved aside while the point is picked
        QLineEdit *font, *bigFont;      // Text15, Text14
        QComboBox *frameTemplates;      // Combo1
        QLineEdit *time, *curve, *aux;  // Text6, Text7, Text8
        QCheckBox *split;               // Check1
        QLineEdit *lines, *perRow;      // Text10, Text11
        QWidget *firstBox;              // Text1: the focus when no project is open
    };
    CurveOutput(Session &session, const Widgets &widgets);
    ~CurveOutput() override;

    void drawCurveSheets();
    // "输出平面图": the plan sheet of the shown epoch into the same drawing.
    void drawPlanSheet();

signals:
    // The drawing was written to `path`.
    void drawingWritten(const QString &path);

private:
    // The checks and the drawing every output starts with; the drawing's
    // path, or nothing when the output does not go ahead.
    std::optional<QString> begin();
    CurveRequest request(const QString &output) const;
    // Asks whether axes too small for the data are widened (Yes), kept (No)
    // or the output is given up (Cancel).
    QMessageBox::StandardButton askAboutShortfalls(const std::vector<AxisShortfall> &shortfalls,
                                                   CurveKind kind);

    Session &m_session;
    Widgets m_w;
    // One drawing for the open project: a second run lands beside the first
    // in the same file.
    std::unique_ptr<Drawing> m_drawing;
    std::set<QString> m_written;
};
