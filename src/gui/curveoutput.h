#pragma once

#include <memory>

class DxfDrawing;
class MainWindow;
namespace Ui {
class Form1;
}

// "生成曲线图": draws the curve sheets of the chosen kind into the program
// run's drawing and writes it next to the project as <project>.dxf.
class CurveOutput
{
public:
    CurveOutput(MainWindow &window, Ui::Form1 &ui);
    ~CurveOutput();

    void drawCurveSheets();

private:
    MainWindow &m_window;
    Ui::Form1 &ui;
    // One drawing for the whole program run: a second run lands beside the
    // first in the same file.
    std::unique_ptr<DxfDrawing> m_drawing;
};
