#pragma once

// A building at a glance, as a list of a firm's buildings shows it: its
// last epoch and how long ago, the points observed then, its alarms and
// whether it has settled. Made from the project's one model, so that the
// list says what the building's report says.

#include "domain/buildingdeformation.h"
#include "domain/monitoringmodel.h"
#include "domain/projectsnapshot.h"
#include "domain/stability.h"

#include <QDate>
#include <QString>

#include <optional>
#include <vector>

struct BuildingOverview
{
    QString name;                 // the project's
    std::optional<Epoch> last;    // the model's epoch (the last with a usable date)
    std::optional<int> daysSince; // from its date to the day asked
    int observed = 0;             // points with an elevation at that epoch
    std::optional<Alarm> worst;   // the alarm furthest over its threshold
    QString worstText;            // it in words, as the report says it
    int alarms = 0;               // every alarm at that epoch
    int pointsInAlarm = 0;        // the points those name (a pair names two)
    Verdict verdict = Verdict::Insufficient;
};

// The overview of `snapshot` (with usable dates only, as the model was made
// of it) by its model at its last epoch, `today` the day days count to.
BuildingOverview buildingOverview(const QString &name, const ProjectSnapshot &snapshot, const MonitoringModel &model,
                                  const QDate &today);

// Buildings with alarms first (the most points in alarm first), then the
// unsettled, then the rest, each group by name.
void sortOverview(std::vector<BuildingOverview> &buildings);
