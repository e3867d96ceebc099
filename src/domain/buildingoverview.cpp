#include "domain/buildingoverview.h"

#include "domain/settlement.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace {

// How far an alarm is over its threshold, as a multiple of it.
double exceedance(const Alarm &alarm)
{
    return alarm.threshold > 0 ? std::abs(alarm.value) / alarm.threshold : 0;
}

} // namespace

BuildingOverview buildingOverview(const QString &name, const ProjectSnapshot &snapshot, const MonitoringModel &model,
                                  const QDate &today)
{
    BuildingOverview overview;
    overview.name = name;
    if (model.stability)
        overview.verdict = model.stability->building;
    const int k = model.epochIndex;
    if (k < 0 || k >= snapshot.epochCount())
        return overview;
    overview.last = snapshot.epochs()[size_t(k)];
    if (const QDate date = QDate::fromString(overview.last->date, Qt::ISODate); date.isValid() && today.isValid())
        overview.daysSince = int(date.daysTo(today));
    for (const int number : snapshot.pointNumbers())
        if (isMeasured(snapshot.at(k, snapshot.columnOf(number))))
            ++overview.observed;
    const std::vector<Alarm> &alarms = model.figures.alarms;
    overview.alarms = int(alarms.size());
    std::set<int> named;
    for (const Alarm &alarm : alarms) {
        if (alarm.point)
            named.insert(*alarm.point);
        if (alarm.pair) {
            named.insert(alarm.pair->first);
            named.insert(alarm.pair->second);
        }
        if (!overview.worst || exceedance(alarm) > exceedance(*overview.worst))
            overview.worst = alarm;
    }
    overview.pointsInAlarm = int(named.size());
    if (overview.worst)
        overview.worstText = alarmText(*overview.worst, snapshot);
    return overview;
}

void sortOverview(std::vector<BuildingOverview> &buildings)
{
    const auto rank = [](const BuildingOverview &b) {
        return b.alarms > 0 ? 0 : b.verdict == Verdict::Unstable ? 1 : 2;
    };
    std::stable_sort(buildings.begin(), buildings.end(), [&](const BuildingOverview &a, const BuildingOverview &b) {
        if (rank(a) != rank(b))
            return rank(a) < rank(b);
        if (a.pointsInAlarm != b.pointsInAlarm)
            return a.pointsInAlarm > b.pointsInAlarm;
        return a.name < b.name;
    });
}
