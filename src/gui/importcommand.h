#pragma once

#include <QString>
#include <QStringList>

class QWidget;
class Session;

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
