#pragma once

#include <QString>
#include <QStringList>

class QWidget;
class Session;
struct ImportPlan;

// Asks about the rows of odd elevations of a plan: 仍然写入 keeps them, 跳过这些行
// leaves them out of the plan; false when the user gives the import up.
bool implausibleAnswered(QWidget *window, ImportPlan &plan, const QString &title);
// True when the plan replaces none of the epoch's elevations, or the user
// agrees to it replacing them ("第 k 次观测已有 N 个测点的高程，<verb>将覆盖其中
// M 个。…").
bool replacingAnswered(QWidget *window, const ImportPlan &plan, const QString &epoch, const QString &verb,
                       const QString &title);

// "↑调入数据": elevations of the current epoch from a workbook's Sheet1, or
// from the digital level's raw files through the levelling dialog.
class ImportCommand
{
public:
    ImportCommand(Session &session, QWidget *window);
    void importObservations();
    // The raw files read, checked and adjusted in "水准测量平差".
    void importLevelFiles(const QStringList &paths);

private:
    Session &m_session;
    QWidget *m_window;
};
