#pragma once

#include <QObject>
#include <QString>

class MainWindow;
namespace Ui {
class Form1;
}

// The epoch list and the three epoch boxes (date, name, load floors):
// selecting an epoch, "新观测" and "修  改", and the boxes' key rules.
class EpochCommands : public QObject
{
public:
    EpochCommands(MainWindow &window, Ui::Form1 &ui);

    // The selected list entry becomes the current epoch: its fields go into
    // the boxes and the grid is filled for it.
    void selectEpoch();
    void newObservation();
    void modify();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool noProject();
    void focusBox(class QLineEdit *box);
    // The checks a date and a name must pass before either is written:
    // pasted text the keys could not have typed is refused (the box takes
    // the focus), and so is a date or name another epoch has.
    bool acceptableDate(const QString &date, int exceptEpoch);
    bool acceptableName(const QString &name, int exceptEpoch);
    void remember();

    MainWindow &m_window;
    Ui::Form1 &ui;
    QString m_rememberedDate;
    QString m_rememberedName;
    QString m_rememberedLayers;
};
