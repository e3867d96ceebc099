#pragma once

// The firm's buildings on a server at a glance: every project the login
// may read, each opened through a session of its own and summed up from its
// one model, so that the list says what each building's report says.

#include "base/result.h"
#include "domain/buildingoverview.h"
#include "project/serverstore.h"

#include <QDate>
#include <QString>

#include <vector>

class SettingsStore;

// A building that could not be read stays in the list, with the reason.
struct FirmBuilding
{
    BuildingOverview overview;
    QString problem;
};

// The projects in the order sortOverview gives (those that could not be
// read last); refused, with the reason, when the server cannot be reached.
Result<std::vector<FirmBuilding>> firmOverview(const ServerAddress &server, const QString &programDir,
                                               const SettingsStore *settings, const QDate &today);
// The same over the connection named `connection`, open already under the
// login's own name (the web view's): one connection for every project.
Result<std::vector<FirmBuilding>> firmOverviewOn(const QString &connection, const QString &programDir,
                                                 const SettingsStore *settings, const QDate &today);
