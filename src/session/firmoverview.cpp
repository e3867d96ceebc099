#include "session/firmoverview.h"

#include "project/projectdb.h"
#include "session/projectsession.h"

#include <QSqlDatabase>

#include <algorithm>
#include <functional>

namespace {

using OpenProject = std::function<Result<void>(ProjectDatabase &, const QString &name)>;

std::vector<FirmBuilding> overviewOf(const QStringList &names, const OpenProject &openProject,
                                     const QString &programDir, const SettingsStore *settings, const QDate &today)
{
    std::vector<BuildingOverview> read;
    std::vector<FirmBuilding> unread;
    for (const QString &name : names) {
        auto store = std::make_unique<ProjectDatabase>();
        ProjectSession session(programDir, settings);
        Result<void> opened = openProject(*store, name);
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

} // namespace

Result<std::vector<FirmBuilding>> firmOverview(const ServerAddress &server, const QString &programDir,
                                               const SettingsStore *settings, const QDate &today)
{
    const auto names = listServerProjects(server);
    if (!names)
        return names.failure();
    return overviewOf(
        *names,
        [&](ProjectDatabase &store, const QString &name) {
            ServerAddress address = server;
            address.project = name;
            return store.open(displayUrl(address), server.password);
        },
        programDir, settings, today);
}

Result<std::vector<FirmBuilding>> firmOverviewOn(const QString &connection, const QString &programDir,
                                                 const SettingsStore *settings, const QDate &today)
{
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    const auto names = listServerProjects(db);
    if (!names)
        return names.failure();
    return overviewOf(
        *names,
        [&](ProjectDatabase &store, const QString &name) { return store.openOnServerConnection(connection, name); },
        programDir, settings, today);
}
