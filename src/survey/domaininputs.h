#pragma once

// The domain's values as the stores and the program's files hold them: the
// project read whole into a snapshot, the settings of the checks and the
// analysis read from the settings store, the firm's table of deformation
// limits read from (and written to) its file. The computations themselves
// are in domain/ and know none of these.

#include "base/result.h"
#include "domain/buildingdeformation.h"
#include "domain/projectsnapshot.h"
#include "domain/settlementrules.h"
#include "domain/stability.h"

#include <QString>
#include <QStringList>

#include <map>
#include <vector>

class ProjectDatabase;
class SettingsStore;

// Reads the whole project. A record that cannot be read (a damaged page, a
// lock held past the wait) fails the whole snapshot with the reason and the
// file: nothing is ever made from half a project.
Result<ProjectSnapshot> loadSnapshot(ProjectDatabase &project);

PlausibilityLimits plausibilityLimits(const SettingsStore &settings);

// The settings "稳定天数", "稳定速率", "预测步长" and "预测区间上限"; a value that
// is absent or no positive number (for the last, none of at most 1000 %)
// takes its default.
StabilitySettings stabilitySettingsFrom(const SettingsStore &settings);

// A building's own: the project's header fields of the same names, where
// they hold a usable value, over the program-wide settings (a building on
// soft clay is judged apart from the one next door).
StabilitySettings stabilitySettingsFrom(const SettingsStore &settings,
                                        const std::map<QString, QString> &projectFields);

// The four keys, in the order the dialog shows them.
QStringList stabilitySettingKeys();

// The program-wide table (a JSON file); the shipped rows when there is no file.
Result<std::vector<DeformationLimit>> readDeformationLimits(const QString &path);

Result<void> writeDeformationLimits(const QString &path, const std::vector<DeformationLimit> &limits);

// The same from the table at `limitsPath`.
DeformationSettings deformationSettings(const QString &limitsPath,
                                        const std::map<QString, QString> &fields,
                                        const ProjectSnapshot &snapshot);

