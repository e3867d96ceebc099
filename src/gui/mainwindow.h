#pragma once

#include "project/settingsstore.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QLineEdit;
class CurveKindControls;
class CurveOutput;
class ResultsCommand;
class EpochCommands;
class ImportCommand;
class ObservationGrid;
class ProjectCommands;
class Session;

namespace Ui {
class Form1;
}

// The main window Form1: it builds the controls, makes the session and one
// controller per area of the window, and connects them. The run-time state
// lives in the session; the controllers talk through its signals.
//
// gui/ holds everything with a widget: this window and its .ui file,
// start-up, the message helper, dialogs and the controllers. It uses every
// core folder; nothing below it includes a gui/ header.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    MainWindow(const QString &programDir, std::unique_ptr<SettingsStore> settings,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    Session &session() { return *m_session; }
    ObservationGrid &grid() { return *m_grid; }
    ProjectCommands &projectCommands() { return *m_projectCommands; }
    ResultsCommand &resultsCommand() { return *m_results; }

    // The load step: runs once before the window is first shown.
    void loadMainWindow();
    // "退出程序": stores the unit, the point count and the two fonts, then
    // closes the window, which ends the program.
    void exitProgram();
    // "沉降软件，最大化": back to full size from the compact window.
    void restoreWindow();
    // The compact window the curve drawing leaves: only the restore button.
    void makeCompact();

    // Handlers of the settings controls.
    void changeElevationUnit(const QString &unit);
    void changePointCount();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // Larger than its designed size, the grid and the preview take the room:
    // the grid and the preview share the width, both the height; the
    // controls below them move down, those right of the grid move right.
    void resizeEvent(QResizeEvent *event) override;

private:
    void setUpGrid();
    void connectControls();
    void connectSettings();
    void connectOutputs();
    void connectMenus();
    void placeWindow();
    void storeExitSettings();
    bool storeSetting(const QString &key, const QString &value);
    void storeNumericBox(const QString &key, const QString &text);
    void fillFrameTemplates();
    void fillTableTemplates();
    void chooseTableTemplate();
    void setTilingEnabled(bool enabled);

    // The results-table header editor (Frame9).
    std::vector<std::pair<QString, QLineEdit *>> headerFields() const;
    void openHeaderEditor();
    // "稳定性分析": the verdict and the predictions of the open project.
    void openStabilityDialog();
    // "测点坐标" and "平面图设置": where the points stand, and what the plan
    // is judged against; the grid and the preview show the result.
    void openPositionsDialog();
    void openPlanSettings();
    // The plan's dialogs have changed what the plan shows.
    void showPlanChanges();
    void saveHeaderEditor();
    void cancelHeaderEditor();

    std::unique_ptr<Ui::Form1> ui;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<ProjectCommands> m_projectCommands;
    std::unique_ptr<ObservationGrid> m_grid;
    std::unique_ptr<EpochCommands> m_epochs;
    std::unique_ptr<CurveKindControls> m_curveKinds;
    std::unique_ptr<CurveOutput> m_curveOutput;
    std::unique_ptr<ResultsCommand> m_results;
    std::unique_ptr<ImportCommand> m_import;
    bool m_exitStored = false;
    bool m_placedWithFrame = false;
    // Where the full window stood and how large it was when it was made
    // compact: the button gives it back as it was.
    std::optional<std::pair<QPoint, QSize>> m_beforeCompact;
    // The designed geometry of the window's controls, for growing from it.
    std::vector<std::pair<QWidget *, QRect>> m_designed;
    void useFullSize();
};
