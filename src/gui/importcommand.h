#pragma once

#include <QString>

class QWidget;
class Session;

// "↑调入数据": elevations of the current epoch from a workbook's Sheet1.
class ImportCommand
{
public:
    ImportCommand(Session &session, QWidget *window);
    void importObservations();

private:
    Session &m_session;
    QWidget *m_window;
};
