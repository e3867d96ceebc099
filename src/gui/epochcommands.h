#pragma once

#include <QObject>

#include <optional>
#include <QString>

class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;
class Session;

// The epoch list and the three epoch boxes (date, name, load floors):
// selecting an epoch, "新观测" and "修  改", and the boxes' key rules.
class EpochCommands : public QObject
{
public:
    struct Widgets
    {
        QWidget *window;      // Form1, for messages
        QListWidget *list;    // List1
        QLineEdit *date;      // Text1
        QLineEdit *name;      // Text2
        QLineEdit *layers;    // Text3
        QPushButton *modify;  // Command2
    };
    EpochCommands(Session &session, const Widgets &widgets);

    // The selected list entry becomes the current epoch: its fields go into
    // the boxes, and the grid and the preview show it. A change another
    // program made to the project is read first.
    void selectEpoch();
    // The epoch list of the open project ("<CjNo>.<Name>" in CjNo order) with
    // the newest epoch selected; the boxes emptied without a project.
    void showProject();
    void newObservation();
    void modify();
    // "删除本次观测" from the list's context menu: after the user agrees,
    // the epoch and its elevations go, later epochs move down by one
    // number, and list, grid and preview show the project as it is now.
    void removeEpoch(int cjNo);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool noProject();
    void showListMenu(const QPoint &position);
    void addListEntry(const QString &text);
    void focusBox(class QLineEdit *box);
    // The checks a date and a name must pass before either is written:
    // pasted text the keys could not have typed is refused (the box takes
    // the focus), and so is a date or name another epoch has.
    // A new epoch's date before the last epoch's is asked about: "按日期插入"
    // sets `insertAt` to the number it takes in date order.
    bool acceptableDate(const QString &date, int exceptEpoch, std::optional<int> *insertAt = nullptr);
    // The date box's text as people write dates, put in the box's form.
    void readDateAsWritten();
    // The list anew from the snapshot, epoch `show` selected (or the last).
    void refillList(int show);
    bool acceptableName(const QString &name, int exceptEpoch);
    void remember();

    Session &m_session;
    Widgets m_w;
    QString m_rememberedDate;
    QString m_rememberedName;
    QString m_rememberedLayers;
};
