#pragma once

class QComboBox;
class QWidget;
class Session;

// "生成成果表": writes the results table of the open project to
// <project>.xlsx and opens it with the system's spreadsheet program.
class ResultsCommand
{
public:
    struct Widgets
    {
        QWidget *window;           // Form1, for messages
        QComboBox *tableTemplates; // Combo2
        QWidget *firstBox;         // Text1: the focus when no project is open
    };
    ResultsCommand(Session &session, const Widgets &widgets);
    void writeResultsTable();
    // "生成报告": the monitoring report as one PDF, where the user says.
    void writeReport();
    // Tests turn off opening the workbook in another program.
    void setOpensWorkbook(bool open) { m_opensWorkbook = open; }

private:
    Session &m_session;
    Widgets m_w;
    bool m_opensWorkbook = true;
};
