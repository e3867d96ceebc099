// The check of a project's record: every history row chained to the one
// before it, and the values the record says each thing last had against
// what the project holds.
#include "project/projectdb.h"

#include "project/queryrows.h"
#include "project/storedialect.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>

#include <map>
#include <functional>
#include <set>

namespace {

// Each epoch's date, name and load floors and each point's name against the
// last recorded.
void compareFieldsAndNames(RecordCheck &check, const std::vector<Epoch> &epochs, const std::vector<Point> &points,
                           const std::map<std::pair<int, QString>, QVariant> &epochFields,
                           const std::map<int, QVariant> &names, int firstEpochNumber)
{
    const std::pair<const char *, const char *> fields[] = {{"D", "观测日期"}, {"N", "观测名称"}, {"L", "荷载层数"}};
    for (const Epoch &e : epochs)
        for (const auto &[kind, words] : fields) {
            const auto recorded = epochFields.find({e.cjNo, QLatin1String(kind)});
            if (recorded == epochFields.end())
                continue;
            const QString now = *kind == 'D' ? e.date : *kind == 'N' ? e.name : e.layers;
            if (recorded->second.toString() != now)
                check.breaks.push_back(QStringLiteral("第 %1 次观测的%2：库中 %3，记录为 %4，程序之外修改")
                                           .arg(e.cjNo + firstEpochNumber)
                                           .arg(QString::fromUtf8(words), now, recorded->second.toString()));
        }
    for (const Point &p : points)
        if (const auto recorded = names.find(p.cjdNo); recorded != names.end() && recorded->second.toString() != p.name)
            check.breaks.push_back(QStringLiteral("第 %1 号点的点名：库中 %2，记录为 %3，程序之外修改")
                                       .arg(p.cjdNo)
                                       .arg(p.name, recorded->second.toString()));
}

// Every stored elevation against the last value recorded, and every
// recorded one still there.
Result<void> compareElevations(QSqlQuery &query, RecordCheck &check,
                               const std::map<std::pair<int, int>, QVariant> &elevations,
                               const std::set<int> &epochsRecordedWhole,
                               const std::function<QString(int, int)> &cell,
                               const std::function<QString(const QVariant &)> &metres,
                               const std::function<QString(const QSqlError &)> &failure)
{
    if (!query.exec(QStringLiteral("SELECT CjNo, CjdNo, PointH FROM Sur2 WHERE PointH IS NOT NULL ORDER BY CjNo, CjdNo")))
        return fail(failure(query.lastError()));
    std::set<std::pair<int, int>> presentCells;
    while (query.next()) {
        const std::pair<int, int> key{query.value(0).toInt(), query.value(1).toInt()};
        const double value = query.value(2).toDouble();
        presentCells.insert(key);
        const auto recorded = elevations.find(key);
        if (recorded == elevations.end()) {
            if (epochsRecordedWhole.count(key.first))
                check.breaks.push_back(QStringLiteral("%1：库中 %2，没有记录，程序之外写入")
                                           .arg(cell(key.first, key.second), metres(value)));
            continue;
        }
        bool ok = false;
        const double last = recorded->second.toDouble(&ok);
        if (recorded->second.isNull() || !ok || std::abs(last - value) > 1e-9)
            check.breaks.push_back(QStringLiteral("%1：库中 %2，记录为 %3，程序之外修改")
                                       .arg(cell(key.first, key.second), metres(value), metres(recorded->second)));
    }
    if (query.lastError().isValid())
        return fail(failure(query.lastError()));
    query.finish();
    for (const auto &[key, last] : elevations)
        if (!last.isNull() && !presentCells.count(key))
            check.breaks.push_back(QStringLiteral("%1：库中没有，记录为 %2，程序之外删除")
                                       .arg(cell(key.first, key.second), metres(last)));
    return success();
}

} // namespace

Result<RecordCheck> ProjectDatabase::checkRecord(int firstEpochNumber)
{
    RecordCheck check;
    const auto present = hasProvenance();
    if (!present)
        return present.failure();
    if (!*present) {
        check.kept = false;
        return check;
    }
    const auto points = this->points();
    if (!points)
        return points.failure();
    std::map<int, QString> pointNames;
    for (const Point &p : *points)
        pointNames[p.cjdNo] = p.name;
    const auto cell = [&](int cjNo, int cjdNo) {
        const auto name = pointNames.find(cjdNo);
        return QStringLiteral("%1 第 %2 次")
            .arg(name != pointNames.end() ? name->second : QStringLiteral("%1 号点").arg(cjdNo))
            .arg(cjNo + firstEpochNumber);
    };
    const auto metres = [](const QVariant &value) {
        return value.isNull() ? QStringLiteral("没有") : QString::number(value.toDouble(), 'f', 5);
    };

    // The chain, and the last value recorded of each thing.
    std::map<std::pair<int, int>, QVariant> elevations;
    std::map<std::pair<int, QString>, QVariant> epochFields;
    std::map<int, QVariant> names;
    std::set<int> epochsRecordedWhole; // made while the history was kept
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    // A history written before rows were chained (by an earlier version,
    // until this one's first write) has no chain yet to check.
    if (!query.exec(QStringLiteral("SELECT count(Hash) FROM History")) || !query.next())
        return fail(m_dialect->failure(query.lastError()));
    const bool chained = query.value(0).toLongLong() > 0;
    check.chained = chained;
    query.finish();
    if (!query.exec(m_dialect->chainRows()))
        return fail(m_dialect->failure(query.lastError()));
    QString previous;
    while (query.next()) {
        ++check.rows;
        const QString stored = query.value(6).toString();
        const QString expected = historyHash(previous, query.value(0), query.value(1), query.value(2),
                                             query.value(3), query.value(4), query.value(5));
        const QString kind = query.value(3).toString();
        if (!chained) {
            // Nothing to compare with.
        } else if (stored.isEmpty())
            check.breaks.push_back(QStringLiteral("修改记录第 %1 条没有校验值：在程序之外写入")
                                       .arg(query.value(0).toLongLong()));
        else if (stored != expected)
            check.breaks.push_back(QStringLiteral("修改记录第 %1 条与记录链不符：该条在程序之外被改动，或它之前的记录被删除")
                                       .arg(query.value(0).toLongLong()));
        // Go on from what is stored: one altered row is one break.
        previous = stored.isEmpty() ? expected : stored;
        const bool epoch = !query.value(7).isNull(), point = !query.value(8).isNull();
        if (kind == QLatin1String("H") && epoch && point)
            elevations[{query.value(7).toInt(), query.value(8).toInt()}] = query.value(5);
        else if ((kind == QLatin1String("D") || kind == QLatin1String("N") || kind == QLatin1String("L")) && epoch) {
            epochFields[{query.value(7).toInt(), kind}] = query.value(5);
            if (kind == QLatin1String("D") && query.value(4).isNull())
                epochsRecordedWhole.insert(query.value(7).toInt());
        } else if (kind == QLatin1String("P") && point)
            names[query.value(8).toInt()] = query.value(5);
    }
    if (query.lastError().isValid())
        return fail(m_dialect->failure(query.lastError()));
    if (chained)
        check.lastHash = previous;
    query.finish();

    // Every value against the last one recorded.
    if (auto compared = compareElevations(query, check, elevations, epochsRecordedWhole, cell, metres,
                                          [this](const QSqlError &e) { return m_dialect->failure(e); });
        !compared)
        return compared.failure();
    const auto epochs = this->epochs();
    if (!epochs)
        return epochs.failure();
    compareFieldsAndNames(check, *epochs, *points, epochFields, names, firstEpochNumber);
    return check;
}
