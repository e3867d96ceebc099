#pragma once

#include "base/result.h"
#include "project/settingsstore.h"
#include "layout/curvelayout.h"
#include "project/projectdb.h"
#include "domain/buildingdeformation.h"
#include "domain/monitoringmodel.h"
#include "survey/pointpositions.h"
#include "domain/projectsnapshot.h"
#include "domain/settlementrules.h"
#include "domain/stability.h"
#include "session/projectsession.h"

#include <QObject>
#include <QByteArray>

#include <functional>
#include <QString>

#include <map>
#include <memory>
#include <optional>

// The window's run-time state: the program directory, the settings, the open
// project (a ProjectSession: its store, snapshot and model), the elevation
// unit, the point count, the selected epoch, the preview zoom and the chosen
// curve kind with its layout. The controllers of the window's areas share it
// and talk through its signals; none of them knows another.
//
// Writes to the project go through the project session, the one door for
// the window, the batch and the web view; the window's own calls below only
// pass them on and keep what the window shows (the plan's background, the
// pause after typing) in step. A change another program committed is picked
// up by reloadIfChanged().
class Session : public QObject
{
    Q_OBJECT
public:
    Session(const QString &programDir, std::unique_ptr<SettingsStore> settings);
    ~Session() override;

    QString programDir() const { return m_programDir; }
    SettingsStore &settings() { return *m_settings; }

    QString unit() const { return m_unit; }
    void setUnit(const QString &unit) { m_unit = unit; }
    int pointCount() const { return m_pointCount; }
    void setPointCount(int count)
    {
        m_pointCount = count;
        m_project.setLastPoint(count);
    }
    int currentEpoch() const { return m_currentEpoch; }
    void setCurrentEpoch(int number) { m_currentEpoch = number; }
    int zoomLevel() const { return m_zoomLevel; }
    void setZoomLevel(int level) { m_zoomLevel = level; }
    // Where the file dialogs start: the folder of the last project chosen.
    QString lastProjectDir() const { return m_lastProjectDir; }
    // The folder of the last project chosen, stored as a setting.
    void setLastProjectDir(const QString &dir);
    CurveKind curveKind() const { return m_curveKind; }
    const CurveLayout &curveLayout() const { return m_curveLayout; }
    void setCurve(CurveKind kind, const CurveLayout &layout);

    // The open project, or null; its snapshot (empty without a project).
    ProjectDatabase *project() const { return m_project.store(); }
    QString projectPath() const { return m_project.path(); }
    ProjectSession &projectSession() { return m_project; }
    // Where an output of the open project goes, given the path a run would
    // choose (beside a project file): for a project on a server, the same
    // name in the last project folder, or the home folder without one.
    QString outputPath(const QString &runPath) const;
    const ProjectSnapshot &snapshot() const { return m_project.snapshot(); }
    // Makes the project current after reading it whole; the project stays
    // closed when it cannot be read.
    Result<void> openProject(std::unique_ptr<ProjectDatabase> project);
    void closeProject();
    // Reads the project again when another program has committed to it
    // since the last read; true when it did. A failed read is returned.
    Result<bool> reloadIfChanged();
    // The elevations typed here that the last such read found changed by
    // another program's later commit, for the user; emptied by the call.
    QStringList takeOverwritten();

    // Writes, each committed at once, the snapshot updated after it.
    // An elevation in metres, or none to delete the record, recorded as
    // written `how` (typed in the grid, or from the server).
    Result<void> storeElevation(int cjNo, int cjdNo, std::optional<double> metres, WriteHow how);
    // Puts back the value an elevation had before the change `row` records,
    // recorded as an undo; a value in the history that is no elevation is
    // refused with its reason, never put back as another.
    Result<void> undo(const HistoryRow &row);
    // Names point `cjdNo`: a new point gets the colour and mark of its number.
    Result<void> namePoint(int cjdNo, const QString &name);
    // Adds an epoch with the next number, which is returned.
    Result<int> addEpoch(const QString &date, const QString &name, const QString &layers);
    // The elevations of epoch `cjNo` that look like slips and were not
    // confirmed as observed (QuestionableElevations), points 1 to the point
    // count.
    std::vector<QuestionableElevation> questionable(int cjNo) const;
    // Records that the stored elevation was confirmed as observed.
    Result<void> confirmElevation(int cjNo, int cjdNo);
    // A point's colour and mark, in the project and the snapshot.
    Result<void> stylePoint(int cjdNo, int aci, const QString &mark);
    // What an elevation may differ from its reference without a question,
    // from the settings 高程突变限值 and 首次高程偏差限值, read once at start:
    // not on every commit.
    const PlausibilityLimits &plausibility() const { return m_limits; }
    // An epoch as messages name it: by its name and date ("观测“B”（2018-07-20）"),
    // never by its number alone, which starts at 0.
    QString epochLabel(int cjNo) const;
    // Where an epoch of that date goes in date order: the number it takes
    // (the later epochs move up by one), or the next number at the end.
    int placeByDate(const QString &date) const;
    // Puts a new epoch in at number `cjNo` (placeByDate), moving the later
    // ones up, in one transaction; reads the project again.
    Result<void> insertEpoch(int cjNo, const QString &date, const QString &name, const QString &layers);
    Result<void> updateEpoch(const Epoch &epoch);
    // Removes an epoch (later ones move down by one number) or a point, each
    // with its elevations in one transaction, and reads the project again.
    Result<void> removeEpoch(int cjNo);
    Result<void> removePoint(int cjdNo);
    // The project changed in ways the session did not follow (an import):
    // read it whole again.
    Result<void> reload();

    // The building's plan: the drawing kept with the project as lines, and
    // the alarm values, limits and pairs that are no neighbours, read with
    // the project and after its header fields change.
    const PlanBackground &planBackground() const { return m_planBackground; }
    const DeformationSettings &deformation() const { return m_project.deformation(); }
    void refreshDeformationSettings();
    // The monitoring figures of the project at the shown epoch, as the
    // report, the workbook, `plan` and `analyse` make them (monitoringModel):
    // the deformation, its alarms (the forecasts' at the last epoch) and the
    // stability analysis. Made when first asked for after a change. While
    // elevations are being typed its forecasts are those of the analysis
    // before the last commit; the analysis is made again once typing pauses
    // (forecastsChanged), never on an Enter.
    const MonitoringModel &model() const;
    // The model's deformation at the shown epoch, for the plan view and the
    // plan sheet; none without three placed points.
    // (Valid until the next change of the project or the shown epoch.)
    const PlanFigures *planFiguresAtCurrentEpoch() const;
    // The stability analysis of the project as it stands (points 1 to the
    // point count, the settings as stored): made when first asked for after
    // a change, as the report and the batch make it.
    const StabilityAnalysis &stability() const;
    // The settings it is made with: the project's own, else the program's.
    StabilitySettings stabilitySettings() const;
    // The model's alarms at the shown epoch: what the grid colours.
    std::vector<Alarm> alarmsAtCurrentEpoch() const;
    // Sets or clears points' positions, the snapshot kept up to date.
    Result<void> setPositions(const std::vector<std::pair<int, std::optional<Position>>> &positions);
    // Positions (and a plan drawing) from a file, through the one core
    // function; the project is read again.
    Result<PositionSummary> placePoints(const std::vector<PositionRow> &rows,
                                        const std::optional<PlanDrawingFile> &plan,
                                        PositionSummary summary);

    // Stores a setting at once.
    Result<void> storeSetting(const QString &key, const QString &value);

    // Announcements, sent by the controller that caused them.
    void announceProjectChanged() { emit projectChanged(); }
    // Leaves any open edit box by the grid's one rule: a changed, valid entry
    // is committed to its own epoch and point, an invalid one asked about.
    // False when the user chose to go back to the box: the caller then
    // changes nothing.
    bool leaveBoxes() { return !m_boxLeaver || m_boxLeaver(); }
    void setBoxLeaver(std::function<bool()> leaver) { m_boxLeaver = std::move(leaver); }
    // On leaving the shown epoch for another: its questionable elevations,
    // if any, listed to be confirmed or corrected. False when the surveyor
    // went back to correct one: the caller then changes nothing.
    bool reviewLeavingEpoch() { return !m_leavingReview || m_leavingReview(); }
    void setLeavingReview(std::function<bool()> review) { m_leavingReview = std::move(review); }
    void requestRefresh() { emit refreshRequested(); }
    void announceEpochShown() { emit epochShown(); }
    void announcePointCount() { emit pointCountChanged(); }
    void announceElevationStored(int cjNo, int cjdNo) { emit elevationStored(cjNo, cjdNo); }

signals:
    // Another project (or none) is open: every area shows it anew.
    void projectChanged();
    // Show the selected epoch again (the unit, the point count or the data
    // changed).
    void refreshRequested();
    // The selected epoch is current and its boxes filled: grid and preview.
    void epochShown();
    // An elevation was committed by the grid.
    void elevationStored(int cjNo, int cjdNo);
    void pointCountChanged();
    // The forecasts were worked out again after typing paused: the alarms
    // the grid and the plan show may have changed.
    void forecastsChanged();

private:
    std::function<bool()> m_boxLeaver;
    std::function<bool()> m_leavingReview;
    PlausibilityLimits m_limits;
    // After the project was read again: its plan drawing, when it changed.
    void readPlanBackground();
    // After an elevation was written: the pause before the forecasts are
    // made again.
    void typed();

    QString m_programDir;
    std::unique_ptr<SettingsStore> m_settings;
    QString m_unit = QStringLiteral("m");
    int m_pointCount = 15;
    class QTimer *m_forecastPause = nullptr;
    int m_currentEpoch = -1;
    int m_zoomLevel = 2;
    CurveKind m_curveKind = CurveKind::Settlement;
    CurveLayout m_curveLayout;
    ProjectSession m_project;
    PlanBackground m_planBackground;
    QByteArray m_planDigest; // of the drawing the background was read from
    QString m_lastProjectDir;
};
