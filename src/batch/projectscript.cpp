// A project made and kept from a script, as the window does it: a new
// project from the template, epochs added in date order, listed and
// removed, points added and listed, the header fields shown and set.
#include "batch/commandline.h"

#include "base/programfiles.h"
#include "base/settings.h"
#include "base/textnumber.h"
#include "project/projectdb.h"
#include "project/serverstore.h"
#include "survey/buildingdeformation.h"
#include "survey/keyrules.h"
#include "survey/settlement.h"
#include "survey/stability.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

bool printJson(const QJsonValue &value)
{
    const QByteArray text = value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Indented)
                                            : QJsonDocument(value.toObject()).toJson(QJsonDocument::Indented);
    return writeOut(text);
}

QJsonObject epochJson(const Epoch &e)
{
    return {{QStringLiteral("number"), e.cjNo},
            {QStringLiteral("date"), e.date},
            {QStringLiteral("name"), e.name},
            {QStringLiteral("layers"), e.layers}};
}

} // namespace

Result<NewEpoch> newEpochOf(const std::vector<Epoch> &epochs, const QString &dateGiven, const QString &nameGiven,
                            const QString &layersGiven, bool *malformed)
{
    // The window's rules: a date it would take, a name without blanks that
    // no other epoch has, load floors in digits.
    *malformed = true;
    const auto date = normalisedDate(dateGiven.trimmed());
    if (!date || !calendarDate(*date))
        return fail(QStringLiteral("--date takes a date, YYYY-MM-DD"));
    const QString name = nameGiven.trimmed();
    if (name.isEmpty() || name.contains(QLatin1Char(' ')))
        return fail(QStringLiteral("--name takes a name without blanks"));
    const QString layers = layersGiven.trimmed();
    if (layers.isEmpty() || !std::all_of(layers.begin(), layers.end(), [](QChar c) { return loadFloorKeyAccepted(c); }))
        return fail(QStringLiteral("--layers takes a whole number of floors"));
    *malformed = false;
    for (const Epoch &e : epochs)
        if (e.name == name)
            return fail(QStringLiteral("“%1”名称已存在，请修改！").arg(name));
    // In date order: before the first epoch dated later, as the window
    // inserts a campaign entered late (later ones move up by one number).
    const QDate day = *calendarDate(*date);
    NewEpoch planned{{epochs.empty() ? 0 : epochs.back().cjNo + 1, *date, name, layers}, false};
    for (const Epoch &e : epochs)
        if (const auto other = calendarDate(e.date); other && *other > day) {
            planned.epoch.cjNo = e.cjNo;
            planned.inserted = true;
            break;
        }
    return planned;
}

QString newEpochText(const NewEpoch &planned)
{
    return QStringLiteral("已加入第 %1 次观测“%2”（%3）%4")
        .arg(planned.epoch.cjNo)
        .arg(planned.epoch.name, planned.epoch.date,
             planned.inserted ? QStringLiteral("，按日期插入，以后各次的次序号依次加一") : QString());
}

Result<void> writeNewEpoch(ProjectDatabase &project, const NewEpoch &planned)
{
    return planned.inserted ? project.insertEpoch(planned.epoch) : project.addEpoch(planned.epoch);
}

int newCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("new PROJECT.mdb [--template FILE.mdb]"));
    line.option(QStringLiteral("template"), QStringLiteral("FILE.mdb"),
                QStringLiteral("the project template (default: the program's)"));
    if (const auto done = line.parse(args, 1, 1))
        return *done;
    const QString path = line.positional().front();
    const QString templatePath = line.value(QStringLiteral("template"), projectTemplatePath(programDir()));
    // A new project never takes the place of anything.
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        return failure(QStringLiteral("%1 已存在，不会被新工程替换").arg(QDir::toNativeSeparators(path)));
    if (!QFileInfo(templatePath).isFile())
        return failure(QStringLiteral("找不到工程模板：%1").arg(QDir::toNativeSeparators(templatePath)));
    if (auto made = ProjectDatabase::createFromTemplate(templatePath, path); !made)
        return failure(QStringLiteral("无法新建沉降工程 %1：%2").arg(QDir::toNativeSeparators(path), made.error()));
    std::printf("%s\n", qPrintable(QStringLiteral("已新建沉降工程 %1").arg(QDir::toNativeSeparators(path))));
    return 0;
}

int epochCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("epoch PROJECT.mdb add --date YYYY-MM-DD --name NAME --layers N | "
                                    "list [--format text|json] | remove N"));
    line.option(QStringLiteral("date"), QStringLiteral("YYYY-MM-DD"), QStringLiteral("the epoch's date"));
    line.option(QStringLiteral("name"), QStringLiteral("NAME"), QStringLiteral("the epoch's name, unique"));
    line.option(QStringLiteral("layers"), QStringLiteral("N"), QStringLiteral("the load floors built by then"));
    line.option(QStringLiteral("format"), QStringLiteral("text|json"), QStringLiteral("list's output"));
    if (const auto done = line.parse(args, 2, 3))
        return *done;
    const QStringList positional = line.positional();
    const QString action = positional[1];
    ProjectDatabase project;
    if (auto opened = openProject(project, positional[0]); !opened)
        return failure(opened.error());
    const auto epochs = project.epochs();
    if (!epochs)
        return failure(epochs.error());

    if (action == QLatin1String("list")) {
        if (positional.size() != 2)
            return line.wrong(QStringLiteral("list takes no more arguments"));
        const QString format = line.value(QStringLiteral("format"), QStringLiteral("text"));
        if (format == QLatin1String("json")) {
            QJsonArray list;
            for (const Epoch &e : *epochs)
                list.append(epochJson(e));
            return printJson(list) ? 0 : failure(QStringLiteral("cannot write the output"));
        }
        if (format != QLatin1String("text"))
            return line.wrong(QStringLiteral("--format must be text or json"));
        for (const Epoch &e : *epochs)
            std::printf("%d\t%s\t%s\t%s\n", e.cjNo, qPrintable(e.date), qPrintable(e.name), qPrintable(e.layers));
        return 0;
    }

    if (action == QLatin1String("remove")) {
        bool ok = false;
        const int cjNo = positional.value(2).toInt(&ok);
        if (positional.size() != 3 || !ok)
            return line.wrong(QStringLiteral("remove takes the epoch's number"));
        if (!std::any_of(epochs->begin(), epochs->end(), [&](const Epoch &e) { return e.cjNo == cjNo; }))
            return failure(QStringLiteral("工程中没有第 %1 次观测").arg(cjNo));
        if (auto removed = project.deleteEpoch(cjNo); !removed)
            return failure(QStringLiteral("观测未能删除，工程未作任何修改：%1").arg(removed.error()));
        std::printf("%s\n", qPrintable(QStringLiteral("已删除第 %1 次观测及其高程，以后各次的次序号依次减一").arg(cjNo)));
        return 0;
    }

    if (action != QLatin1String("add") || positional.size() != 2)
        return line.wrong(QStringLiteral("the action is add, list or remove"));
    for (const char *needed : {"date", "name", "layers"})
        if (!line.isSet(QLatin1String(needed)))
            return line.wrong(QStringLiteral("add needs --date, --name and --layers"));
    bool malformed = false;
    const auto planned = newEpochOf(*epochs, line.value(QStringLiteral("date")), line.value(QStringLiteral("name")),
                                    line.value(QStringLiteral("layers")), &malformed);
    if (!planned)
        return malformed ? line.wrong(planned.error()) : failure(planned.error());
    if (auto added = writeNewEpoch(project, *planned); !added)
        return failure(QStringLiteral("观测未能写入，工程未作任何修改：%1").arg(added.error()));
    std::printf("%s\n", qPrintable(newEpochText(*planned)));
    return 0;
}

int pointsCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("points PROJECT.mdb add NAME... | list [--format text|json]"));
    line.option(QStringLiteral("format"), QStringLiteral("text|json"), QStringLiteral("list's output"));
    if (const auto done = line.parse(args, 2, -1))
        return *done;
    const QStringList positional = line.positional();
    ProjectDatabase project;
    if (auto opened = openProject(project, positional[0]); !opened)
        return failure(opened.error());
    const auto points = project.points();
    if (!points)
        return failure(points.error());
    const QString action = positional[1];
    if (action == QLatin1String("list")) {
        const QString format = line.value(QStringLiteral("format"), QStringLiteral("text"));
        if (format == QLatin1String("json")) {
            QJsonArray list;
            for (const Point &p : *points) {
                QJsonObject point{{QStringLiteral("number"), p.cjdNo},
                                  {QStringLiteral("name"), p.name},
                                  {QStringLiteral("mark"), p.mark},
                                  {QStringLiteral("colour"), p.aci}};
                if (p.position) {
                    point.insert(QStringLiteral("east"), p.position->x);
                    point.insert(QStringLiteral("north"), p.position->y);
                }
                list.append(point);
            }
            return printJson(list) ? 0 : failure(QStringLiteral("cannot write the output"));
        }
        if (format != QLatin1String("text"))
            return line.wrong(QStringLiteral("--format must be text or json"));
        for (const Point &p : *points)
            std::printf("%d\t%s\n", p.cjdNo, qPrintable(p.name));
        return 0;
    }
    if (action != QLatin1String("add") || positional.size() < 3)
        return line.wrong(QStringLiteral("the action is add NAME... or list"));
    // Names as the window's name box takes them, unique as every import
    // matches names (J02 is J2); numbered after the last point, the
    // window's default mark and colour.
    std::set<QString> taken;
    for (const Point &p : *points)
        taken.insert(pointNameKey(p.name.trimmed()));
    int number = points->empty() ? 1 : points->back().cjdNo + 1;
    std::vector<Point> added;
    for (const QString &given : positional.mid(2)) {
        const QString name = given.trimmed().toUpper();
        if (name.isEmpty() || !isAcceptablePointName(name))
            return failure(QStringLiteral("点名“%1”含有不能用的字符").arg(given));
        if (!taken.insert(pointNameKey(name)).second)
            return failure(QStringLiteral("点名“%1”已存在或重复").arg(name));
        added.push_back({number++, name, 7, QStringLiteral("圆形")});
    }
    const auto written = project.inTransaction([&]() -> Result<void> {
        for (const Point &p : added)
            if (auto one = project.addPoint(p); !one)
                return one;
        return success();
    });
    if (!written)
        return failure(QStringLiteral("测点未能写入，工程未作任何修改：%1").arg(written.error()));
    std::printf("%s\n", qPrintable(QStringLiteral("已加入 %1 个测点").arg(added.size())));
    return 0;
}

int headerCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("header PROJECT.mdb [KEY=VALUE ...] [--format text|json]"));
    line.option(QStringLiteral("format"), QStringLiteral("text|json"), QStringLiteral("the output without KEY=VALUE"));
    if (const auto done = line.parse(args, 1, -1))
        return *done;
    const QStringList positional = line.positional();
    ProjectDatabase project;
    if (auto opened = openProject(project, positional[0]); !opened)
        return failure(opened.error());
    // The keys a project's header holds: the results table's, the
    // deformation settings and the building's stability settings.
    QStringList keys;
    for (const QString &key : headerFieldKeys())
        keys << key;
    keys << DeformationKey::BuildingHeight << DeformationKey::Structure << DeformationKey::Soil
         << DeformationKey::CumulativeAlarm << DeformationKey::RateAlarm << DeformationKey::DifferentialAlarm
         << DeformationKey::TiltAlarm << DeformationKey::NotNeighbours << DeformationKey::ContourStep
         << DeformationKey::PlanScale << stabilitySettingKeys();
    keys.removeDuplicates();
    if (positional.size() > 1) {
        std::map<QString, QString> fields;
        for (const QString &pair : positional.mid(1)) {
            const qsizetype at = pair.indexOf(QLatin1Char('='));
            const QString key = pair.left(at).trimmed();
            if (at < 1 || !keys.contains(key))
                return line.wrong(QStringLiteral("“%1” is no KEY=VALUE of the header; the keys: %2")
                                      .arg(pair, keys.join(QStringLiteral(", "))));
            QString value = pair.mid(at + 1).trimmed();
            // The ratio alarms are typed in ‰, as in the window.
            if (key == DeformationKey::DifferentialAlarm || key == DeformationKey::TiltAlarm) {
                const auto stored = perMilleAlarmText(value);
                if (!stored)
                    return failure(stored.error());
                value = *stored;
            }
            fields[key] = value;
        }
        if (auto saved = project.setHeaderFields(fields); !saved)
            return failure(QStringLiteral("表头未能写入，工程未作任何修改：%1").arg(saved.error()));
    }
    const auto stored = project.headerFields();
    if (!stored)
        return failure(stored.error());
    if (line.value(QStringLiteral("format"), QStringLiteral("text")) == QLatin1String("json")) {
        QJsonObject object;
        for (const QString &key : keys)
            if (const auto found = stored->find(key); found != stored->end())
                object.insert(key, found->second);
        return printJson(object) ? 0 : failure(QStringLiteral("cannot write the output"));
    }
    for (const QString &key : keys)
        if (const auto found = stored->find(key); found != stored->end())
            std::printf("%s=%s\n", qPrintable(key), qPrintable(found->second));
    return 0;
}
