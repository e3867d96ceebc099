// A project made and kept from a script, as the window does it: a new
// project from the template, epochs added in date order, listed and
// removed, points added and listed, the header fields shown and set.
#include "batch/commandline.h"

#include "base/programfiles.h"
#include "base/settings.h"
#include "base/textnumber.h"
#include "project/projectdb.h"
#include "project/serverstore.h"
#include "domain/buildingdeformation.h"
#include "survey/fieldrules.h"
#include "domain/keyrules.h"
#include "domain/pointstyle.h"
#include "survey/provenanceview.h"
#include "domain/settlement.h"
#include "domain/stability.h"
#include "survey/domaininputs.h"

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
    *malformed = false;
    const auto named = epochNameRule(nameGiven);
    if (!named)
        return named.failure();
    const QString name = *named;
    const auto floors = loadFloorsRule(layersGiven);
    if (!floors)
        return floors.failure();
    const QString layers = QString::number(*floors);
    // Unique as the window holds them: names without regard to case.
    for (const Epoch &e : epochs) {
        if (e.name.compare(name, Qt::CaseInsensitive) == 0)
            return fail(QStringLiteral("“%1”名称已存在，请修改！").arg(name));
        if (e.date == *date)
            return fail(QStringLiteral("“%1”日期已存在，请修改！").arg(*date));
    }
    // Its place is chosen where it is written (writeNewEpoch).
    return NewEpoch{{-1, *date, name, layers}, false};
}

QString newEpochText(const NewEpoch &planned)
{
    return QStringLiteral("已加入第 %1 次观测“%2”（%3）%4")
        .arg(planned.epoch.cjNo)
        .arg(planned.epoch.name, planned.epoch.date,
             planned.inserted ? QStringLiteral("，按日期插入，以后各次的次序号依次加一") : QString());
}

Result<void> writeNewEpoch(ProjectDatabase &project, NewEpoch &planned)
{
    // The place in date order is chosen in the transaction that writes it:
    // another program may add an epoch meanwhile.
    const auto added = project.addEpochByDate(planned.epoch.date, planned.epoch.name, planned.epoch.layers);
    if (!added)
        return added.failure();
    planned = NewEpoch{added->first, added->second};
    return success();
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
    // A template is a project: read as one before anything is made of it.
    {
        ProjectDatabase probe;
        if (auto opened = probe.open(templatePath); !opened)
            return failure(QStringLiteral("%1 不是沉降工程模板：%2")
                               .arg(QDir::toNativeSeparators(templatePath), opened.error()));
    }
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
    auto session = openSession(positional[0]);
    if (!session)
        return failure(session.error());
    ProjectDatabase &project = *(*session)->store();
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
        if (auto removed = (*session)->removeEpoch(cjNo); !removed)
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
    // Its place in date order is chosen in the transaction that writes it:
    // another program may add an epoch meanwhile.
    const auto added =
        (*session)->addEpochByDate(planned->epoch.date, planned->epoch.name, planned->epoch.layers);
    if (!added)
        return failure(QStringLiteral("观测未能写入，工程未作任何修改：%1").arg(added.error()));
    std::printf("%s\n", qPrintable(newEpochText(NewEpoch{added->first, added->second})));
    return 0;
}

int pointsCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("points PROJECT.mdb add NAME... | list [--format text|json]"));
    line.option(QStringLiteral("format"), QStringLiteral("text|json"), QStringLiteral("list's output"));
    if (const auto done = line.parse(args, 2, -1))
        return *done;
    const QStringList positional = line.positional();
    auto session = openSession(positional[0]);
    if (!session)
        return failure(session.error());
    ProjectDatabase &project = *(*session)->store();
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
    // matches names (J02 is J2); numbered after the last point, each with
    // the mark and colour the window gives a new point of its number.
    std::set<QString> taken;
    for (const Point &p : *points)
        taken.insert(pointNameKey(p.name.trimmed()));
    int number = points->empty() ? 1 : points->back().cjdNo + 1;
    std::vector<Point> added;
    for (const QString &given : positional.mid(2)) {
        const auto named = pointNameRule(given);
        if (!named)
            return failure(named.error());
        const QString name = *named;
        if (!taken.insert(pointNameKey(name)).second)
            return failure(QStringLiteral("点名“%1”已存在或重复").arg(name));
        const PointStyle style = defaultPointStyle(number);
        added.push_back({number++, name, style.aci, style.mark});
    }
    const auto written = (*session)->addPoints(added);
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
    auto session = openSession(positional[0]);
    if (!session)
        return failure(session.error());
    ProjectDatabase &project = *(*session)->store();
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
        if (auto allowed = headerFieldsRule(fields); !allowed)
            return failure(allowed.error());
        if (auto saved = (*session)->setHeaderFields(fields); !saved)
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

namespace {

QJsonValue jsonOf(const QVariant &value)
{
    if (value.isNull())
        return QJsonValue();
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (value.metaType().id() == QMetaType::Double && ok)
        return number;
    return value.toString();
}

QJsonObject originJson(const ElevationOrigin &o, const std::vector<StoredSource> &sources)
{
    QJsonObject origin{{QStringLiteral("how"), o.entry.how},
                       {QStringLiteral("who"), o.entry.who},
                       {QStringLiteral("at"), o.entry.at}};
    if (!o.entry.carriedBy.isEmpty())
        origin.insert(QStringLiteral("carried_by"), o.entry.carriedBy);
    for (const StoredSource &s : sources)
        if (o.entry.sourceId && s.id == *o.entry.sourceId) {
            origin.insert(QStringLiteral("file"), s.name);
            origin.insert(QStringLiteral("sha256"), s.sha256);
        }
    if (!o.entry.sheet.isEmpty())
        origin.insert(QStringLiteral("sheet"), o.entry.sheet);
    if (o.detail.line > 0)
        origin.insert(QStringLiteral("line"), o.detail.line);
    if (!o.detail.station.isEmpty())
        origin.insert(QStringLiteral("station"), o.detail.station);
    if (o.detail.adjusted)
        origin.insert(QStringLiteral("adjusted_m"), *o.detail.adjusted);
    if (o.detail.sigmaMm)
        origin.insert(QStringLiteral("sigma_mm"), *o.detail.sigmaMm);
    return origin;
}

} // namespace

int historyCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("history PROJECT.mdb [--epoch N] [--point NAME] [--format text|json]"));
    line.option(QStringLiteral("epoch"), QStringLiteral("N"), QStringLiteral("only this epoch's history"));
    line.option(QStringLiteral("point"), QStringLiteral("NAME"), QStringLiteral("only this point's history"));
    line.option(QStringLiteral("format"), QStringLiteral("text|json"), QStringLiteral("the output's form"));
    if (const auto done = line.parse(args, 1, 1))
        return *done;
    const QString format = line.value(QStringLiteral("format"), QStringLiteral("text"));
    if (format != QLatin1String("text") && format != QLatin1String("json"))
        return line.wrong(QStringLiteral("--format must be text or json"));
    std::optional<int> epoch, point;
    if (line.isSet(QStringLiteral("epoch"))) {
        bool ok = false;
        epoch = line.value(QStringLiteral("epoch")).toInt(&ok);
        if (!ok)
            return line.wrong(QStringLiteral("--epoch takes an epoch number"));
    }
    ProjectDatabase project;
    if (auto opened = openProject(project, line.positional()[0]); !opened)
        return failure(opened.error());
    if (line.isSet(QStringLiteral("point"))) {
        const QString name = line.value(QStringLiteral("point"));
        const auto points = project.points();
        if (!points)
            return failure(points.error());
        for (const Point &p : *points)
            if (pointNameKey(p.name.trimmed()) == pointNameKey(name.trimmed())) {
                point = p.cjdNo;
                break;
            }
        if (!point)
            return failure(QStringLiteral("工程中没有测点“%1”").arg(name));
    }
    const auto lines = historyLines(project, epoch, point);
    if (!lines)
        return failure(lines.error());
    // For one elevation, where it came from too.
    std::optional<ElevationOrigin> origin;
    std::optional<QString> originWords;
    if (epoch && point) {
        const auto found = project.origin(*epoch, *point);
        if (!found)
            return failure(found.error());
        origin = *found;
        const auto words = originText(project, *epoch, *point);
        if (!words)
            return failure(words.error());
        originWords = *words;
    }
    if (format == QLatin1String("json")) {
        const auto sources = project.sources();
        if (!sources)
            return failure(sources.error());
        QJsonArray rows;
        for (const HistoryLine &l : *lines) {
            QJsonObject row{{QStringLiteral("id"), l.row.id},
                            {QStringLiteral("at"), l.row.at.isEmpty() ? l.row.entry.at : l.row.at},
                            {QStringLiteral("who"), l.row.entry.who},
                            {QStringLiteral("how"), l.row.entry.how},
                            {QStringLiteral("kind"), kindKey(l.row.kind)},
                            {QStringLiteral("what"), l.what},
                            {QStringLiteral("epoch"), l.row.cjNo ? QJsonValue(*l.row.cjNo) : QJsonValue()},
                            {QStringLiteral("point"), l.point},
                            {QStringLiteral("old"), jsonOf(l.row.oldValue)},
                            {QStringLiteral("new"), jsonOf(l.row.newValue)}};
            if (!l.row.label.isEmpty())
                row.insert(QStringLiteral("deleted"), l.row.label);
            if (!l.row.entry.carriedBy.isEmpty())
                row.insert(QStringLiteral("carried_by"), l.row.entry.carriedBy);
            if (!l.source.isEmpty())
                row.insert(QStringLiteral("file"), l.source);
            if (!l.row.entry.sheet.isEmpty())
                row.insert(QStringLiteral("sheet"), l.row.entry.sheet);
            rows.append(row);
        }
        QJsonObject out{{QStringLiteral("history"), rows}};
        if (origin)
            out.insert(QStringLiteral("origin"), originJson(*origin, *sources));
        return printJson(out) ? 0 : failure(QStringLiteral("cannot write the output"));
    }
    QString text;
    if (epoch && point)
        text += QStringLiteral("来历：%1\n").arg(originWords ? *originWords : QStringLiteral("未记录（在记录来历之前存入）"));
    if (lines->empty())
        text += QStringLiteral("没有修改记录\n");
    for (const HistoryLine &l : *lines)
        text += QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7 → %8%9\n")
                    .arg(l.at, l.who, l.how, l.what, l.epoch, l.point, l.oldText, l.newText,
                         l.source.isEmpty() ? QString() : QStringLiteral("\t") + l.source);
    return writeOut(text.toUtf8()) ? 0 : failure(QStringLiteral("cannot write the output"));
}

int verifyCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("verify PROJECT.mdb"));
    if (const auto done = line.parse(args, 1, 1))
        return *done;
    ProjectDatabase project;
    if (auto opened = openProject(project, line.positional().front()); !opened)
        return failure(opened.error());
    const auto check = project.checkRecord();
    if (!check)
        return failure(check.error());
    QString text;
    if (!check->kept) {
        text = QStringLiteral("工程在记录修改之前存入，没有修改记录可核对\n");
    } else if (check->breaks.empty() && !check->chained) {
        text = QStringLiteral("%1 条修改记录由早先的版本写入，尚未加校验链（本程序下次写入时加上）；"
                              "每个值都与最后记录的一致\n")
                   .arg(check->rows);
    } else if (check->breaks.empty()) {
        text = QStringLiteral("记录完整：%1 条修改记录，记录链完整，每个值都与最后记录的一致\n记录链末值 %2\n")
                   .arg(check->rows)
                   .arg(check->lastHash.isEmpty() ? QStringLiteral("—") : check->lastHash);
    } else {
        text = QStringLiteral("发现 %1 处未经记录的修改：\n").arg(check->breaks.size());
        for (const QString &found : check->breaks)
            text += found + QLatin1Char('\n');
        text += QStringLiteral("记录链末值 %1\n").arg(check->lastHash.isEmpty() ? QStringLiteral("—") : check->lastHash);
    }
    if (!writeOut(text.toUtf8()))
        return failure(QStringLiteral("cannot write the output"));
    return check->breaks.empty() ? 0 : 1;
}
