#pragma once

#include "cad/cadinterface.h"

#include <QDialog>

#include <optional>

class QLineEdit;

// The base-point pick of a curve-sheet run: the prompt "请指定插入基点：",
// X and Y in drawing units, OK or cancel.
class PointPickDialog : public QDialog
{
    Q_OBJECT
public:
    PointPickDialog(CadPoint suggested, QWidget *parent = nullptr);
    CadPoint point() const;

    // Shows the dialog; nothing when the user cancels.
    static std::optional<CadPoint> pick(CadPoint suggested, QWidget *parent);

private:
    QLineEdit *m_x;
    QLineEdit *m_y;
};
