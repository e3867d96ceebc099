#pragma once

// The monitoring figures of a project as it stands at one epoch, made once
// by one function: the stability analysis with its accepted forecasts and
// the reasons for the others, the building's deformation at the epoch (over
// every point with a settlement and over the placed ones, each population
// counted), its contours and alarms of every kind, every epoch's
// deformation when asked for, and what the user is to be told. The
// workbook, the JSON, the plan sheet and the report format it; none of them
// computes a figure again, so they can never disagree.

#include "domain/buildingdeformation.h"
#include "domain/projectsnapshot.h"
#include "domain/stability.h"

#include <QJsonObject>
#include <QStringList>

#include <memory>
#include <optional>

struct MonitoringRequest
{
    StabilitySettings stability;
    int lastPoint = 15;                     // the points analysed: 1 to this
    std::optional<int> epochIndex;          // the epoch of the figures; the last by default
    std::optional<double> contourStep;      // mm; the project's, else one chosen from the range
    bool history = true;                    // every epoch's deformation too
};

struct MonitoringModel
{
    int epochIndex = -1;
    // Shared, never null: the window's model keeps the analysis of the
    // snapshot before the last commit while typing, without a copy.
    std::shared_ptr<const StabilityAnalysis> stability;
    DeformationSettings deformation;
    bool placed = false; // three points or more have a position: a plan
    PlanFigures figures; // at the epoch
    std::optional<DeformationReport> history;
    QStringList warnings; // the limits table's problem, the analysis's notes
};

MonitoringModel monitoringModel(const ProjectSnapshot &snapshot, const DeformationSettings &deformation,
                                const MonitoringRequest &request);
// The same over an analysis already made (request.stability is then not
// used): the window, while elevations are being typed, keeps the analysis
// it made before the last commit until typing pauses.
MonitoringModel monitoringModel(const ProjectSnapshot &snapshot, const DeformationSettings &deformation,
                                const MonitoringRequest &request,
                                std::shared_ptr<const StabilityAnalysis> stability);

// The model as `analyse --format json` gives it: the stability analysis,
// every epoch's deformation and the alarms (the model made with history).
QJsonObject analysisJson(const MonitoringModel &model, const ProjectSnapshot &snapshot);
