#pragma once

#include "domain/stability.h"

#include <QDialog>

#include <map>

class QChart;
class QChartView;
class QDoubleSpinBox;
class QHBoxLayout;
class QLabel;
class QSpinBox;
class QTableWidget;
class Session;

// "稳定性分析": the building's verdict, the four settings (stored with the
// project as they are changed; "设为默认值" makes them the program's), a table of the points and the chart of the selected one —
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
    QHBoxLayout *makeSettingsRow(const StabilitySettings &stored);
    void analyse();
    void settingChanged();
    void storeAsDefault();
    std::map<QString, QString> shownSettings() const;
    void showPoint(int row);
    void exportChartAsked();

    Session &m_session;
    StabilityAnalysis m_analysis;
    QLabel *m_building;
    QSpinBox *m_window;
    QDoubleSpinBox *m_limit;
    QSpinBox *m_step;
    QDoubleSpinBox *m_maxInterval;
    bool m_toldUnstored = false;
    QTableWidget *m_table;
    QChart *m_chart;
    QChartView *m_chartView;
};

// The colour a verdict is shown in: green, red, grey.
QColor verdictColour(Verdict verdict);
