#pragma once

class MainWindow;
namespace Ui {
class Form1;
}

// "生成成果表": writes the results table of the open project to
// <project>.xlsx and opens it with the system's spreadsheet program.
class ResultsCommand
{
public:
    ResultsCommand(MainWindow &window, Ui::Form1 &ui);
    void writeResultsTable();
    // Tests turn off opening the workbook in another program.
    void setOpensWorkbook(bool open) { m_opensWorkbook = open; }

private:
    MainWindow &m_window;
    Ui::Form1 &ui;
    bool m_opensWorkbook = true;
};
