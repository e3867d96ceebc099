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
// The projects named, each read over the connection named `connection`
// (open already under the login's own name, the web view's), one after
// another, in the order given: unsorted, so that a list read in parts over
// several connections at once is sorted whole.
std::vector<FirmBuilding> readFirmBuildings(const QStringList &names, const QString &connection,
                                            const QString &programDir, const SettingsStore *settings,
                                            const QDate &today);
// The order of the overview: as sortOverview, those not read last.
void sortFirm(std::vector<FirmBuilding> &buildings);
