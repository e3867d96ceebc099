#include "session/projectsession.h"

#include "base/programfiles.h"
#include "project/settingsstore.h"
#include "domain/pointstyle.h"
#include "domain/settlement.h"
#include "survey/domaininputs.h"

namespace {

Result<void> noProject()
{
    return fail(QStringLiteral("没有打开的沉降工程"));
}

} // namespace

ProjectSession::ProjectSession(const QString &programDir, const SettingsStore *settings)
    : m_programDir(programDir)
    , m_settings(settings)
{
}

ProjectSession::~ProjectSession() = default;

Result<void> ProjectSession::open(std::unique_ptr<ProjectDatabase> project)
{
    close();
    m_project = std::move(project);
    if (auto read = readSnapshot(); !read) {
        close();
        return read;
    }
    return success();
}

void ProjectSession::close()
{
    m_project.reset();
    m_dataVersion = 0;
    m_typed.clear();
    m_overwritten.clear();
    m_confirmed.clear();
    m_typingAnalysis.reset();
    m_fields.clear();
    m_deformation = {};
    replace(ProjectSnapshot());
}

Result<void> ProjectSession::readSnapshot()
{
    // The version first: a commit between the two reads is seen next time.
    auto version = m_project->dataVersion();
    if (!version)
        return version.failure();
    auto snapshot = loadSnapshot(*m_project);
    if (!snapshot)
        return snapshot.failure();
    m_confirmed.clear();
    m_dataVersion = *version;
    m_snapshot = std::move(*snapshot);
    refreshDeformationSettings(); // and the analysis and the model made again
    return success();
}

void ProjectSession::replace(ProjectSnapshot next)
{
    m_snapshot = std::move(next);
    changed();
}

void ProjectSession::changed()
{
    m_stability.reset();
    m_model.reset();
}

void ProjectSession::refreshDeformationSettings()
{
    m_fields.clear();
    if (m_project && m_settings)
        m_fields = effectiveHeaderFields(*m_settings, m_project.get());
    m_deformation = deformationSettings(deformationLimitsPath(m_programDir), m_fields, m_snapshot);
    changed();
}

void ProjectSession::setLastPoint(int count)
{
    if (count != m_lastPoint) {
        m_lastPoint = count;
        changed();
    }
}

void ProjectSession::setTyping(bool typing)
{
    if (typing == m_typing)
        return;
    m_typing = typing;
    if (!typing)
        m_typingAnalysis.reset();
    m_model.reset();
}

StabilitySettings ProjectSession::stabilitySettings() const
{
    return m_settings && m_settings->isOpen() ? stabilitySettingsFrom(*m_settings, m_fields) : StabilitySettings();
}

const StabilityAnalysis &ProjectSession::stability() const
{
    const StabilitySettings settings = stabilitySettings();
    if (!m_stability || !(m_stability->first == settings)) {
        m_stability.emplace(settings, std::make_shared<const StabilityAnalysis>(
                                          analyseStability(m_snapshot, settings, m_lastPoint)));
        m_model.reset();
    }
    return *m_stability->second;
}

StabilityAnalysis ProjectSession::stabilityWith(const StabilitySettings &settings) const
{
    return settings == stabilitySettings() ? stability() : analyseStability(m_snapshot, settings, m_lastPoint);
}

const MonitoringModel &ProjectSession::model(std::optional<int> epochIndex, bool history) const
{
    const std::pair<std::optional<int>, bool> asked{epochIndex, history};
    if (m_model && m_modelFor == asked)
        return *m_model;
    // The analysis is given (the settings' own, or the one kept while
    // typing): no settings are read on a commit.
    MonitoringRequest request;
    request.lastPoint = m_lastPoint;
    request.epochIndex = epochIndex;
    request.history = history;
    const bool typing = m_typing && !m_stability;
    if (!typing)
        (void)stability();
    m_model = monitoringModel(m_snapshot, m_deformation, request,
                              !typing              ? m_stability->second
                              : m_typingAnalysis ? m_typingAnalysis
                                                 : std::make_shared<const StabilityAnalysis>());
    m_modelFor = asked;
    return *m_model;
}

Result<bool> ProjectSession::reloadIfChanged()
{
    if (!m_project)
        return false;
    auto version = m_project->dataVersion();
    if (!version)
        return version.failure();
    if (*version == m_dataVersion)
        return false;
    if (auto read = readSnapshot(); !read)
        return read.failure();
    // Another program committed: an elevation written here since the last
    // read that now holds another value was written again after ours.
    for (const auto &[key, typed] : m_typed)
        if (const auto now = m_snapshot.elevation(key.first, key.second); now != typed)
            m_overwritten.push_back({key, {typed, now}});
    m_typed.clear();
    return true;
}

QStringList ProjectSession::takeOverwrittenIn(const QString &unit)
{
    QStringList told;
    const auto shown = [&](const std::optional<double> &h) {
        return h ? FormatElevation(*h, unit) : QStringLiteral("（无）");
    };
    for (const auto &[key, values] : std::exchange(m_overwritten, {})) {
        const Point *point = m_snapshot.point(key.second);
        told << QStringLiteral("%1 测点“%2”：您输入 %3，现为 %4")
                    .arg(epochLabel(key.first), point ? point->name : QString::number(key.second),
                         shown(values.first), shown(values.second));
    }
    return told;
}

Result<void> ProjectSession::reload()
{
    if (!m_project)
        return success();
    m_typed.clear(); // the session's own change (an import) is no one else's
    return readSnapshot();
}

Result<void> ProjectSession::storeElevation(int cjNo, int cjdNo, std::optional<double> metres, WriteHow how)
{
    if (!m_project)
        return noProject();
    const auto writing = m_project->writingAs(how);
    const Result<void> stored = metres ? m_project->setElevation(cjNo, cjdNo, *metres)
                                       : m_project->deleteElevation(cjNo, cjdNo);
    if (stored)
        elevationWritten(cjNo, cjdNo, metres);
    return stored;
}

Result<void> ProjectSession::undo(const HistoryRow &row)
{
    if (!m_project)
        return noProject();
    if (auto restored = m_project->restore(row); !restored)
        return restored;
    // The restore took the old value as none or a number, or refused it.
    elevationWritten(*row.cjNo, *row.cjdNo,
                     row.oldValue.isNull() ? std::nullopt : std::optional(row.oldValue.toDouble()));
    return success();
}

void ProjectSession::renumberWritten(int cjNo, int by)
{
    // What was written here follows its epoch to its new number; what was
    // written for a removed epoch goes with it.
    std::map<std::pair<int, int>, std::optional<double>> moved;
    for (const auto &[key, typed] : m_typed) {
        if (by < 0 && key.first == cjNo)
            continue;
        const bool later = by > 0 ? key.first >= cjNo : key.first > cjNo;
        moved[{later ? key.first + by : key.first, key.second}] = typed;
    }
    m_typed = std::move(moved);
}

void ProjectSession::elevationWritten(int cjNo, int cjdNo, std::optional<double> metres)
{
    if (m_stability)
        m_typingAnalysis = m_stability->second;
    replace(m_snapshot.withElevation(cjNo, cjdNo, metres));
    m_typed[{cjNo, cjdNo}] = metres;
}

Result<void> ProjectSession::confirmElevation(int cjNo, int cjdNo)
{
    if (!m_project)
        return noProject();
    const auto metres = m_snapshot.elevation(cjNo, cjdNo);
    if (!metres)
        return fail(QStringLiteral("该测点在%1没有高程，无从核对").arg(epochLabel(cjNo)));
    if (auto confirmed = m_project->confirmElevation(cjNo, cjdNo); !confirmed)
        return confirmed;
    m_confirmed[cjNo][cjdNo] = *metres;
    return success();
}

std::vector<QuestionableElevation> ProjectSession::questionable(int cjNo, const PlausibilityLimits &limits) const
{
    if (!m_project || cjNo < 0)
        return {};
    auto confirmed = m_confirmed.find(cjNo);
    if (confirmed == m_confirmed.end()) {
        // A confirmation that cannot be read leaves the value questioned.
        auto read = m_project->confirmedElevations(cjNo);
        confirmed = m_confirmed.emplace(cjNo, read ? std::move(*read) : std::map<int, double>()).first;
    }
    return QuestionableElevations(m_snapshot, cjNo, m_lastPoint, limits, confirmed->second);
}

Result<void> ProjectSession::stylePoint(int cjdNo, int aci, const QString &mark)
{
    if (!m_project)
        return noProject();
    const Point *point = m_snapshot.point(cjdNo);
    if (!point)
        return fail(QStringLiteral("找不到第 %1 号观测点").arg(cjdNo));
    if (auto styled = m_project->setPointStyle(cjdNo, aci, mark); !styled)
        return styled;
    Point styledPoint = *point;
    styledPoint.aci = aci;
    styledPoint.mark = mark;
    replace(m_snapshot.withPoint(styledPoint));
    return success();
}

Result<void> ProjectSession::namePoint(int cjdNo, const QString &name)
{
    if (!m_project)
        return noProject();
    const auto existing = m_project->pointByNumber(cjdNo);
    if (!existing)
        return existing.failure();
    if (*existing) {
        if (auto renamed = m_project->renamePoint(cjdNo, name); !renamed)
            return renamed;
        Point point = **existing;
        point.name = name;
        replace(m_snapshot.withPoint(point));
        return success();
    }
    const PointStyle style = defaultPointStyle(cjdNo);
    const Point point{cjdNo, name, style.aci, style.mark};
    if (auto added = m_project->addPoint(point); !added)
        return added;
    replace(m_snapshot.withPoint(point));
    return success();
}

Result<void> ProjectSession::removePoint(int cjdNo)
{
    if (!m_project)
        return noProject();
    if (auto removed = m_project->deletePoint(cjdNo); !removed)
        return removed;
    std::erase_if(m_typed, [cjdNo](const auto &entry) { return entry.first.second == cjdNo; });
    return readSnapshot();
}

Result<int> ProjectSession::addEpoch(const QString &date, const QString &name, const QString &layers)
{
    if (!m_project)
        return noProject().failure();
    const auto number = m_project->nextEpochNumber();
    if (!number)
        return number;
    const Epoch epoch{*number, date, name, layers};
    if (auto added = m_project->addEpoch(epoch); !added)
        return added.failure();
    replace(m_snapshot.withEpoch(epoch));
    return *number;
}

Result<void> ProjectSession::insertEpoch(int cjNo, const QString &date, const QString &name, const QString &layers)
{
    if (!m_project)
        return noProject();
    if (auto inserted = m_project->insertEpoch({cjNo, date, name, layers}); !inserted)
        return inserted;
    renumberWritten(cjNo, +1);
    return readSnapshot();
}

Result<void> ProjectSession::updateEpoch(const Epoch &epoch)
{
    if (!m_project)
        return noProject();
    if (auto updated = m_project->updateEpoch(epoch); !updated)
        return updated;
    replace(m_snapshot.withEpoch(epoch));
    return success();
}

Result<void> ProjectSession::removeEpoch(int cjNo)
{
    if (!m_project)
        return noProject();
    if (auto removed = m_project->deleteEpoch(cjNo); !removed)
        return removed;
    renumberWritten(cjNo, -1);
    return readSnapshot();
}

Result<void> ProjectSession::setPositions(const std::vector<std::pair<int, std::optional<Position>>> &positions)
{
    if (!m_project)
        return noProject();
    if (auto set = m_project->setPositions(positions); !set)
        return set;
    std::vector<Point> placed;
    for (const auto &[number, position] : positions)
        if (const Point *point = m_snapshot.point(number)) {
            placed.push_back(*point);
            placed.back().position = position;
        }
    replace(m_snapshot.withPoints(placed));
    return success();
}

Result<PositionSummary> ProjectSession::placePoints(const std::vector<PositionRow> &rows,
                                                    const std::optional<PlanDrawingFile> &plan,
                                                    PositionSummary summary)
{
    if (!m_project)
        return noProject().failure();
    auto placed = ::placePoints(*m_project, rows, plan, std::move(summary));
    if (!placed)
        return placed;
    if (auto read = reload(); !read)
        return read.failure();
    return placed;
}

Result<std::pair<Epoch, bool>> ProjectSession::addEpochByDate(const QString &date, const QString &name,
                                                              const QString &layers)
{
    if (!m_project)
        return noProject().failure();
    auto added = m_project->addEpochByDate(date, name, layers);
    if (!added)
        return added;
    if (auto read = reload(); !read)
        return read.failure();
    return added;
}

Result<void> ProjectSession::addPoints(const std::vector<Point> &points)
{
    if (!m_project)
        return noProject();
    const auto written = m_project->inTransaction([&]() -> Result<void> {
        for (const Point &point : points)
            if (auto one = m_project->addPoint(point); !one)
                return one;
        return success();
    });
    if (written)
        replace(m_snapshot.withPoints(points));
    return written;
}

Result<void> ProjectSession::setHeaderFields(const std::map<QString, QString> &fields)
{
    if (!m_project)
        return noProject();
    auto saved = m_project->setHeaderFields(fields);
    if (saved)
        refreshDeformationSettings();
    return saved;
}

Result<ImportPlan> ProjectSession::planImport(int epoch, const std::vector<ImportRow> &rows, const QString &unit,
                                              const PlausibilityLimits &limits, const ImportProvenance &from)
{
    if (!m_project)
        return noProject().failure();
    return ::planImport(*m_project, epoch, rows, unit, limits, from);
}

Result<ImportResult> ProjectSession::writeImport(const ImportPlan &plan)
{
    if (!m_project)
        return noProject().failure();
    auto written = ::writeImport(*m_project, plan);
    if (written)
        if (auto read = reload(); !read)
            return fail(QStringLiteral("观测已写入，但工程未能重新读取：%1").arg(read.error()));
    return written;
}

Result<void> ProjectSession::writeTogether(const std::function<Result<void>(ProjectDatabase &)> &work)
{
    if (!m_project)
        return noProject();
    auto done = m_project->inTransaction([&] { return work(*m_project); });
    if (done)
        if (auto read = reload(); !read)
            return fail(QStringLiteral("已写入，但工程未能重新读取：%1").arg(read.error()));
    return done;
}

Result<ImportResult> ProjectSession::importObservations(int epoch, const std::vector<ImportRow> &rows,
                                                        const QString &unit, const PlausibilityLimits &limits,
                                                        const ImportProvenance &from)
{
    if (!m_project)
        return noProject().failure();
    auto imported = ::importObservations(*m_project, epoch, rows, unit, limits, from);
    if (imported)
        if (auto read = reload(); !read)
            return fail(QStringLiteral("观测已写入，但工程未能重新读取：%1").arg(read.error()));
    return imported;
}

QString ProjectSession::epochLabel(int cjNo) const
{
    if (const Epoch *epoch = m_snapshot.epochByNumber(cjNo))
        return QStringLiteral("观测“%1”（%2）").arg(epoch->name, epoch->date);
    return QStringLiteral("第 %1 次观测").arg(cjNo);
}

int ProjectSession::placeByDate(const QString &date) const
{
    const auto day = calendarDate(date);
    for (const Epoch &epoch : m_snapshot.epochs())
        if (const auto other = calendarDate(epoch.date); day && other && *other > *day)
            return epoch.cjNo;
    return m_snapshot.epochCount() > 0 ? m_snapshot.epochs().back().cjNo + 1 : 0;
}
