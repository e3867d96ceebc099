#include "session/firmoverview.h"

#include "project/projectdb.h"
#include "session/projectsession.h"

#include <algorithm>

Result<std::vector<FirmBuilding>> firmOverview(const ServerAddress &server, const QString &programDir,
                                               const SettingsStore *settings, const QDate &today)
{
    const auto names = listServerProjects(server);
    if (!names)
        return names.failure();
    std::vector<BuildingOverview> read;
    std::vector<FirmBuilding> unread;
    for (const QString &name : *names) {
        ServerAddress address = server;
        address.project = name;
        auto store = std::make_unique<ProjectDatabase>();
        ProjectSession session(programDir, settings);
        Result<void> opened = store->open(displayUrl(address), server.password);
        if (opened)
            opened = session.open(std::move(store));
        if (!opened) {
            FirmBuilding building;
            building.overview.name = name;
            building.problem = opened.error();
            unread.push_back(building);
            continue;
        }
        // Every point observed counts, as in the report.
        const std::vector<int> numbers = session.snapshot().pointNumbers();
        session.setLastPoint(numbers.empty() ? 0 : *std::max_element(numbers.begin(), numbers.end()));
        read.push_back(buildingOverview(name, session.snapshot(), session.model(), today));
    }
    sortOverview(read);
    std::vector<FirmBuilding> buildings;
    for (BuildingOverview &overview : read)
        buildings.push_back({std::move(overview), QString()});
    buildings.insert(buildings.end(), unread.begin(), unread.end());
    return buildings;
}
