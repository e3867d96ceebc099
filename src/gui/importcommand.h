#pragma once

class MainWindow;
namespace Ui {
class Form1;
}

// "↑调入数据": elevations of the current epoch from a workbook's Sheet1.
class ImportCommand
{
public:
    ImportCommand(MainWindow &window, Ui::Form1 &ui);
    void importObservations();

private:
    MainWindow &m_window;
    Ui::Form1 &ui;
};
