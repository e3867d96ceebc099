#pragma once

#include "base/settings.h"
#include "layout/curvelayout.h"

#include <QWidget>

#include <memory>
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
class ProjectDatabase;

namespace Ui {
class Form1;
}

// The main window Form1. It owns the program's run-time state: the program
// directory, the system database with the settings, the elevation unit, the
// point count, the current project, the current epoch, the grid's edit cell
// and name row and the preview zoom level.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    MainWindow(const QString &programDir, std::unique_ptr<SettingsStore> settings,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    // State set by start-up before the window is loaded.
    void setElevationUnit(const QString &unit) { m_unit = unit; }
    void setPointCount(int count) { m_pointCount = count; }

    QString programDir() const { return m_programDir; }
    SettingsStore &settings() { return *m_settings; }
    QString elevationUnit() const { return m_unit; }
    int pointCount() const { return m_pointCount; }
    QString currentProjectPath() const;
    int currentEpoch() const { return m_currentEpoch; }
    int zoomLevel() const { return m_zoomLevel; }

    // The open project, or null when none is current.
    ProjectDatabase *project() const { return m_project.get(); }
    void setProject(std::unique_ptr<ProjectDatabase> project);
    void closeProject();
    void setCurrentEpoch(int number) { m_currentEpoch = number; }
    void setZoomLevel(int level) { m_zoomLevel = level; }
    // The grid has no cell in edit and no name row; both boxes are hidden.
    void clearEditCells();
    ObservationGrid &grid() { return *m_grid; }
    ProjectCommands &projectCommands() { return *m_projectCommands; }
    ResultsCommand &resultsCommand() { return *m_results; }
    // The layout of the chosen frame template and curve kind.
    const CurveLayout &curveLayout() const;
    CurveKind selectedCurveKind() const;
    // Writes a setting; a failed write is reported to the user.
    bool storeSetting(const QString &key, const QString &value);
    // Selects the settlement curve kind and redraws its preview.
    void showSettlementPreview();
    // Tells the user that a change could not be written to the project.
    void reportWriteFailure(const QString &reason);
    // Where the project dialogs start: the folder of the last project chosen.
    QString lastProjectDir() const { return m_lastProjectDir; }
    void setLastProjectDir(const QString &dir) { m_lastProjectDir = dir; }

    // Selecting an epoch of the list: makes it the current epoch and shows it.
    void selectEpoch();

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

private:
    void setUpGrid();
    void connectControls();
    void placeWindow();
    void storeExitSettings();
    void storeNumericBox(const QString &key, const QString &text);
    void fillFrameTemplates();
    void fillTableTemplates();
    void chooseTableTemplate();
    void setTilingEnabled(bool enabled);

    // The results-table header editor (Frame9).
    std::vector<std::pair<QString, QLineEdit *>> headerFields() const;
    void openHeaderEditor();
    void saveHeaderEditor();
    void cancelHeaderEditor();

    std::unique_ptr<Ui::Form1> ui;
    QString m_programDir;
    std::unique_ptr<SettingsStore> m_settings;
    QString m_unit = QStringLiteral("m");
    int m_pointCount = 15;
    std::unique_ptr<ProjectDatabase> m_project;
    std::unique_ptr<ProjectCommands> m_projectCommands;
    std::unique_ptr<ObservationGrid> m_grid;
    std::unique_ptr<EpochCommands> m_epochs;
    std::unique_ptr<CurveKindControls> m_curveKinds;
    std::unique_ptr<CurveOutput> m_curveOutput;
    std::unique_ptr<ResultsCommand> m_results;
    std::unique_ptr<ImportCommand> m_import;
    QString m_lastProjectDir;
    int m_currentEpoch = -1;
    int m_zoomLevel = 2;
    bool m_exitStored = false;
    bool m_placedWithFrame = false;
};
