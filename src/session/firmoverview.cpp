#include "session/firmoverview.h"

#include "project/projectdb.h"
#include "session/projectsession.h"

#include <algorithm>
#include <functional>

namespace {

using OpenProject = std::function<Result<void>(ProjectDatabase &, const QString &name)>;

std::vector<FirmBuilding> readEach(const QStringList &names, const OpenProject &openProject, const QString &programDir,
                                   const SettingsStore *settings, const QDate &today)
{
    std::vector<FirmBuilding> buildings;
    for (const QString &name : names) {
        FirmBuilding building;
        auto store = std::make_unique<ProjectDatabase>();
        ProjectSession session(programDir, settings);
        Result<void> opened = openProject(*store, name);
        if (opened)
            opened = session.open(std::move(store));
        if (!opened) {
            building.overview.name = name;
            building.problem = opened.error();
        } else {
            // Every point observed counts, as in the report.
            const std::vector<int> numbers = session.snapshot().pointNumbers();
            session.setLastPoint(numbers.empty() ? 0 : *std::max_element(numbers.begin(), numbers.end()));
            building.overview = buildingOverview(name, session.snapshot(), session.model(), today);
        }
        buildings.push_back(std::move(building));
    }
    return buildings;
}

} // namespace

void sortFirm(std::vector<FirmBuilding> &buildings)
{
    std::vector<BuildingOverview> read;
    std::vector<FirmBuilding> unread;
    for (FirmBuilding &building : buildings)
        if (building.problem.isEmpty())
            read.push_back(std::move(building.overview));
        else
            unread.push_back(std::move(building));
    sortOverview(read);
    buildings.clear();
    for (BuildingOverview &overview : read)
        buildings.push_back({std::move(overview), QString()});
    buildings.insert(buildings.end(), unread.begin(), unread.end());
}

Result<std::vector<FirmBuilding>> firmOverview(const ServerAddress &server, const QString &programDir,
                                               const SettingsStore *settings, const QDate &today)
{
    const auto names = listServerProjects(server);
    if (!names)
        return names.failure();
    std::vector<FirmBuilding> buildings = readEach(
        *names,
        [&](ProjectDatabase &store, const QString &name) {
            ServerAddress address = server;
            address.project = name;
            return store.open(displayUrl(address), server.password);
        },
        programDir, settings, today);
    sortFirm(buildings);
    return buildings;
}

std::vector<FirmBuilding> readFirmBuildings(const QStringList &names, const QString &connection,
                                            const QString &programDir, const SettingsStore *settings,
                                            const QDate &today)
{
    return readEach(
        names,
        [&](ProjectDatabase &store, const QString &name) { return store.openOnServerConnection(connection, name); },
        programDir, settings, today);
}
