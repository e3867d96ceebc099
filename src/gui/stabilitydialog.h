#pragma once

#include "survey/stability.h"

#include <QDialog>

class QChart;
class QChartView;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;
class QTableWidget;
class Session;

// "稳定性分析": the building's verdict, the three settings (stored as they
// are changed), a table of the points and the chart of the selected one —
// observed settlement against days with both predictions drawn a year past
// the last epoch and their final settlements as dashed lines. The chart can
// be saved as PNG.
class StabilityDialog : public QDialog
{
public:
    StabilityDialog(Session &session, QWidget *parent);

    // Saves the chart of the selected point as PNG at `path`; the reason on
    // failure.
    Result<void> exportChart(const QString &path);
    const StabilityAnalysis &analysis() const { return m_analysis; }

private:
    void analyse();
    void settingChanged();
    void showPoint(int row);
    void exportChartAsked();

    Session &m_session;
    StabilityAnalysis m_analysis;
    QLabel *m_building;
    QSpinBox *m_window;
    QDoubleSpinBox *m_limit;
    QSpinBox *m_step;
    QTableWidget *m_table;
    QChart *m_chart;
    QChartView *m_chartView;
};

// The colour a verdict is shown in: green, red, grey.
QColor verdictColour(Verdict verdict);
