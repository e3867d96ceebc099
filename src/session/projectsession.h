#pragma once

// session/: the one door to an open project. Owns the store, the current
// snapshot and the monitoring model of that snapshot; every write goes
// through it. The window, sedimetra-batch and the web view open projects
// through it. No widgets.

#include "base/result.h"
#include "domain/monitoringmodel.h"
#include "domain/projectsnapshot.h"
#include "domain/settlementrules.h"
#include "domain/stability.h"
#include "project/projectdb.h"
#include "survey/observationimport.h"
#include "survey/pointpositions.h"

#include <QString>
#include <QStringList>

#include <map>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class SettingsStore;

// An open project: its store, its snapshot (a value, replaced whole after
// each write, never changed in place) and the model of that snapshot (made
// when first asked for after a change). A write says how it was written
// (typed, from a server, an undo) as an argument; it is committed at once,
// and the snapshot after it is made from what was committed, so that the
// project is not read again for the session's own changes. A change another
// program committed is picked up by reloadIfChanged().
class ProjectSession
{
public:
    // `settings` (the program's, which may be closed) and the program
    // directory give the header fields, the limit table and the analysis's
    // settings; the settings store outlives the session.
    ProjectSession(const QString &programDir, const SettingsStore *settings);
    ~ProjectSession();
    ProjectSession(const ProjectSession &) = delete;
    ProjectSession &operator=(const ProjectSession &) = delete;

    // Makes the project current after reading it whole; the project stays
    // closed when it cannot be read.
    Result<void> open(std::unique_ptr<ProjectDatabase> project);
    void close();
    bool isOpen() const { return m_project != nullptr; }
    ProjectDatabase *store() const { return m_project.get(); }
    QString path() const { return m_project ? m_project->path() : QString(); }

    const ProjectSnapshot &snapshot() const { return m_snapshot; }
    // The header fields in effect (the project's own first), and the
    // deformation settings they give with the limit table.
    const std::map<QString, QString> &fields() const { return m_fields; }
    const DeformationSettings &deformation() const { return m_deformation; }
    // Reads the header fields and the limit table again (after either changed).
    void refreshDeformationSettings();

    // The points analysed: 1 to this (the window's point count).
    int lastPoint() const { return m_lastPoint; }
    void setLastPoint(int count);
    // While true, the model keeps the analysis made before the last commit
    // (none before the first): elevations are being typed, and the analysis
    // is made again once typing pauses, never on an Enter.
    void setTyping(bool typing);
    // The stability analysis of the snapshot, with the settings in effect.
    const StabilityAnalysis &stability() const;
    StabilitySettings stabilitySettings() const;
    // The analysis with other settings (tried before they are stored): the
    // session's analysis when they are those in effect.
    StabilityAnalysis stabilityWith(const StabilitySettings &settings) const;
    // The monitoring model at the epoch at `epochIndex` (the last without
    // one): what the report, the workbook, `plan`, `analyse` and the window
    // read. Without every epoch's history unless asked.
    const MonitoringModel &model(std::optional<int> epochIndex = std::nullopt, bool history = false) const;

    // Reads the project again when another program has committed to it
    // since the last read; true when it did. A failed read is returned.
    Result<bool> reloadIfChanged();
    // The elevations written here that the last such read found changed by
    // another program's later commit, for the user; emptied by the call.
    QStringList takeOverwrittenIn(const QString &unit);
    // The project changed in ways the session did not follow (an import, a
    // level file read into it): read it whole again.
    Result<void> reload();

    // Writes, each committed at once, the snapshot made anew after it.
    // An elevation in metres, or none to delete the record, recorded as
    // written `how`.
    Result<void> storeElevation(int cjNo, int cjdNo, std::optional<double> metres, WriteHow how);
    // Puts back the value an elevation had before the change `row` records
    // (the store's checked restore), recorded as an undo; a value in the
    // history that is no elevation is refused with its reason.
    Result<void> undo(const HistoryRow &row);
    // Names point `cjdNo`: a new point gets the colour and mark of its number.
    Result<void> namePoint(int cjdNo, const QString &name);
    Result<void> stylePoint(int cjdNo, int aci, const QString &mark);
    Result<void> removePoint(int cjdNo);
    // Adds an epoch with the next number, which is returned.
    Result<int> addEpoch(const QString &date, const QString &name, const QString &layers);
    // Puts a new epoch in at number `cjNo`, moving the later ones up.
    Result<void> insertEpoch(int cjNo, const QString &date, const QString &name, const QString &layers);
    Result<void> updateEpoch(const Epoch &epoch);
    Result<void> removeEpoch(int cjNo);
    Result<void> setPositions(const std::vector<std::pair<int, std::optional<Position>>> &positions);
    // Positions (and a plan drawing) from a file; the project is read again.
    Result<PositionSummary> placePoints(const std::vector<PositionRow> &rows,
                                        const std::optional<PlanDrawingFile> &plan, PositionSummary summary);
    // Adds an epoch in its place in date order, chosen in the transaction
    // that writes it; the epoch, and whether later ones moved up.
    Result<std::pair<Epoch, bool>> addEpochByDate(const QString &date, const QString &name, const QString &layers);
    // Adds the points in one transaction.
    Result<void> addPoints(const std::vector<Point> &points);
    // The project's own header fields; the settings they give are read again.
    Result<void> setHeaderFields(const std::map<QString, QString> &fields);
    // Observations from a workbook or a level file: planned against the
    // project as it is (what is new, what replaces, what looks like a
    // slip), then written as planned, recorded as the plan's provenance
    // says (import, level); the project is read again after the write.
    Result<ImportPlan> planImport(int epoch, const std::vector<ImportRow> &rows, const QString &unit,
                                  const PlausibilityLimits &limits, const ImportProvenance &from);
    Result<ImportResult> writeImport(const ImportPlan &plan);
    // Writes that belong together (a new epoch and the heights read into
    // it, planned against the project with the epoch in place) in one
    // transaction: all of them stay or none; the project is read again
    // after.
    Result<void> writeTogether(const std::function<Result<void>(ProjectDatabase &)> &work);
    // Both at once, as a script imports.
    Result<ImportResult> importObservations(int epoch, const std::vector<ImportRow> &rows, const QString &unit,
                                            const PlausibilityLimits &limits, const ImportProvenance &from);
    // Records that the stored elevation was confirmed as observed.
    Result<void> confirmElevation(int cjNo, int cjdNo);
    // The elevations of epoch `cjNo` that look like slips and were not
    // confirmed as observed, points 1 to lastPoint().
    std::vector<QuestionableElevation> questionable(int cjNo, const PlausibilityLimits &limits) const;

    // An epoch as messages name it: by its name and date ("观测“B”（2018-07-20）").
    QString epochLabel(int cjNo) const;
    // Where an epoch of that date goes in date order: the number it takes
    // (the later epochs move up by one), or the next number at the end.
    int placeByDate(const QString &date) const;

private:
    Result<void> readSnapshot();
    // The snapshot is replaced: the analysis and the model are made again
    // when next asked for.
    void replace(ProjectSnapshot next);
    void changed();
    void elevationWritten(int cjNo, int cjdNo, std::optional<double> metres);
    // Epoch `cjNo` inserted (by +1) or removed (by -1): the elevations
    // written here follow their epochs.
    void renumberWritten(int cjNo, int by);

    QString m_programDir;
    const SettingsStore *m_settings;
    std::unique_ptr<ProjectDatabase> m_project;
    ProjectSnapshot m_snapshot;
    std::map<QString, QString> m_fields;
    DeformationSettings m_deformation;
    qint64 m_dataVersion = 0;
    int m_lastPoint = 15;
    bool m_typing = false;
    // The analysis made for the snapshot as it is, with its settings.
    mutable std::optional<std::pair<StabilitySettings, std::shared_ptr<const StabilityAnalysis>>> m_stability;
    // The analysis before the last commit, kept while typing.
    std::shared_ptr<const StabilityAnalysis> m_typingAnalysis;
    // The model last made, and what it was made for (epoch index, history).
    mutable std::optional<MonitoringModel> m_model;
    mutable std::pair<std::optional<int>, bool> m_modelFor;
    // Elevations written here since the last read (none: deleted), by
    // epoch and point; and those a read found changed since.
    std::map<std::pair<int, int>, std::optional<double>> m_typed;
    std::vector<std::pair<std::pair<int, int>, std::pair<std::optional<double>, std::optional<double>>>> m_overwritten;
    // The confirmed elevations of each epoch asked about, read once.
    mutable std::map<int, std::map<int, double>> m_confirmed;
};
