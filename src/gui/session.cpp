#include "gui/session.h"

#include "base/programfiles.h"
#include "cad/planpositions.h"
#include "domain/pointstyle.h"
#include "domain/settlement.h"
#include "domain/settlementrules.h"
#include "survey/domaininputs.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

Session::Session(const QString &programDir, std::unique_ptr<SettingsStore> settings)
    : m_programDir(programDir)
    , m_settings(std::move(settings))
{
    m_forecastPause = new QTimer(this);
    m_forecastPause->setSingleShot(true);
    m_forecastPause->setInterval(300);
    connect(m_forecastPause, &QTimer::timeout, this, [this] {
        forecastAlarms();
        emit forecastsChanged();
    });
    if (m_settings && m_settings->isOpen()) {
        m_lastProjectDir = m_settings->readSettingOr(SettingKey::ProjectFolder);
        m_limits = plausibilityLimits(*m_settings);
    }
}

void Session::setLastProjectDir(const QString &dir)
{
    m_lastProjectDir = dir;
    // Kept for the next program run; a store that fails only costs the folder.
    if (m_settings && m_settings->isOpen())
        (void)storeSetting(SettingKey::ProjectFolder, dir);
}

Session::~Session() = default;

void Session::setCurve(CurveKind kind, const CurveLayout &layout)
{
    m_curveKind = kind;
    m_curveLayout = layout;
}

QString Session::outputPath(const QString &runPath) const
{
    if (!m_project || !m_project->isServer())
        return runPath;
    const QString folder = m_lastProjectDir.isEmpty() ? QDir::homePath() : m_lastProjectDir;
    return folder + QLatin1Char('/') + QFileInfo(runPath).fileName();
}

Result<void> Session::readSnapshot()
{
    // The version first: a commit between the two reads is seen next time.
    auto version = m_project->dataVersion();
    if (!version)
        return version.failure();
    auto snapshot = loadSnapshot(*m_project);
    if (!snapshot)
        return snapshot.failure();
    m_snapshot = std::move(*snapshot);
    m_stability.reset();
    m_confirmed.clear();
    m_dataVersion = *version;
    // The plan drawing is read again only when it changed.
    const auto drawing = m_project->planDrawing();
    if (!drawing)
        return drawing.failure();
    const QByteArray digest =
        *drawing ? QCryptographicHash::hash((*drawing)->data, QCryptographicHash::Sha1) : QByteArray();
    if (digest != m_planDigest) {
        m_planBackground = {};
        m_planDigest = digest;
        if (*drawing) {
            // A drawing that cannot be read leaves the plan without background.
            if (auto background = ::planBackground(**drawing))
                m_planBackground = std::move(*background);
        }
    }
    refreshDeformationSettings();
    return success();
}

void Session::refreshDeformationSettings()
{
    m_fields.clear();
    if (m_project)
        m_fields = effectiveHeaderFields(*m_settings, m_project.get());
    m_deformation = deformationSettings(deformationLimitsPath(m_programDir), m_fields, m_snapshot);
}

std::optional<PlanFigures> Session::planFiguresAtCurrentEpoch(std::optional<double> contourStep) const
{
    const int index = m_snapshot.epochIndex(m_currentEpoch);
    if (!m_project || index < 0 || placedPointCount(m_snapshot) < 3)
        return std::nullopt;
    PlanFigures figures = planFigures(m_snapshot, index, m_deformation.thresholds, m_deformation.notNeighbours,
                                      contourStep ? contourStep : m_deformation.contourStep, nullptr);
    if (index == m_snapshot.epochCount() - 1)
        for (const Alarm &alarm : forecastAlarms())
            if (alarm.epochIndex == index)
                figures.alarms.push_back(alarm);
    return figures;
}

StabilitySettings Session::stabilitySettings() const
{
    return m_settings && m_settings->isOpen() ? stabilitySettingsFrom(*m_settings, m_fields) : StabilitySettings();
}

const StabilityAnalysis &Session::stability() const
{
    const StabilitySettings settings = stabilitySettings();
    if (!m_stability || !(m_stability->first == settings))
        m_stability.emplace(settings, analyseStability(m_snapshot, settings, m_pointCount));
    return m_stability->second;
}

std::vector<Alarm> Session::forecastAlarms() const
{
    if (!m_stability && m_forecastPause->isActive())
        return m_lastPredicted; // typing: worked out again once it pauses
    m_lastPredicted = predictedAlarms(m_snapshot, stability(), m_deformation.thresholds);
    return m_lastPredicted;
}

std::vector<Alarm> Session::alarmsAtCurrentEpoch() const
{
    const int index = m_snapshot.epochIndex(m_currentEpoch);
    if (!m_project || index < 0)
        return {};
    const EpochDeformation d = deformationAt(m_snapshot, index, m_deformation.notNeighbours);
    std::vector<Alarm> alarms = epochAlarms(m_snapshot, index, d, m_deformation.thresholds, nullptr);
    // The forecasts count only at the last epoch.
    if (index == m_snapshot.epochCount() - 1)
        for (const Alarm &alarm : forecastAlarms())
            if (alarm.epochIndex == index)
                alarms.push_back(alarm);
    return alarms;
}

Result<void> Session::setPositions(const std::vector<std::pair<int, std::optional<Position>>> &positions)
{
    if (!m_project)
        return fail(QStringLiteral("没有打开的沉降工程"));
    if (auto set = m_project->setPositions(positions); !set)
        return set;
    for (const auto &[number, position] : positions)
        if (const Point *point = m_snapshot.point(number)) {
            Point changed = *point;
            changed.position = position;
            m_snapshot.setPoint(changed);
            m_stability.reset();
        }
    return success();
}

Result<PositionSummary> Session::placePoints(const std::vector<PositionRow> &rows,
                                             const std::optional<PlanDrawingFile> &plan,
                                             PositionSummary summary)
{
    if (!m_project)
        return fail(QStringLiteral("没有打开的沉降工程"));
    auto placed = ::placePoints(*m_project, rows, plan, std::move(summary));
    if (!placed)
        return placed;
    if (auto read = reload(); !read)
        return read.failure();
    return placed;
}

Result<void> Session::openProject(std::unique_ptr<ProjectDatabase> project)
{
    m_project = std::move(project);
    if (auto read = readSnapshot(); !read) {
        closeProject();
        return read;
    }
    return success();
}

void Session::closeProject()
{
    m_project.reset();
    m_snapshot = ProjectSnapshot();
    m_stability.reset();
    m_planBackground = {};
    m_planDigest.clear();
    m_dataVersion = 0;
    m_typed.clear();
    m_overwritten.clear();
    m_confirmed.clear();
}

Result<bool> Session::reloadIfChanged()
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
    // Another program committed: an elevation typed here since the last
    // read that now holds another value was written again after ours.
    for (const auto &[key, typed] : m_typed) {
        const auto now = m_snapshot.elevation(key.first, key.second);
        if (now == typed)
            continue;
        const Point *point = m_snapshot.point(key.second);
        const auto shown = [this](const std::optional<double> &h) {
            return h ? FormatElevation(*h, m_unit) : QStringLiteral("（无）");
        };
        m_overwritten << QStringLiteral("%1 测点“%2”：您输入 %3，现为 %4")
                             .arg(epochLabel(key.first), point ? point->name : QString::number(key.second),
                                  shown(typed), shown(now));
    }
    m_typed.clear();
    return true;
}

QStringList Session::takeOverwritten()
{
    return std::exchange(m_overwritten, {});
}

Result<void> Session::reload()
{
    if (!m_project)
        return success();
    m_typed.clear(); // the window's own change (an import) is no one else's
    return readSnapshot();
}

Result<void> Session::storeElevation(int cjNo, int cjdNo, std::optional<double> metres)
{
    const Result<void> stored = metres ? m_project->setElevation(cjNo, cjdNo, *metres)
                                       : m_project->deleteElevation(cjNo, cjdNo);
    if (stored) {
        m_snapshot.setElevation(cjNo, cjdNo, metres);
        m_stability.reset();
        m_forecastPause->start();
        m_typed[{cjNo, cjdNo}] = metres;
    }
    return stored;
}

std::vector<QuestionableElevation> Session::questionable(int cjNo) const
{
    if (!m_project || cjNo < 0)
        return {};
    auto confirmed = m_confirmed.find(cjNo);
    if (confirmed == m_confirmed.end()) {
        // A confirmation that cannot be read leaves the value questioned.
        auto read = m_project->confirmedElevations(cjNo);
        confirmed = m_confirmed.emplace(cjNo, read ? std::move(*read) : std::map<int, double>()).first;
    }
    return QuestionableElevations(m_snapshot, cjNo, m_pointCount, m_limits, confirmed->second);
}

Result<void> Session::confirmElevation(int cjNo, int cjdNo)
{
    const auto metres = m_snapshot.elevation(cjNo, cjdNo);
    if (!metres)
        return fail(QStringLiteral("该测点在%1没有高程，无从核对").arg(epochLabel(cjNo)));
    if (auto confirmed = m_project->confirmElevation(cjNo, cjdNo); !confirmed)
        return confirmed;
    m_confirmed[cjNo][cjdNo] = *metres;
    return success();
}

Result<void> Session::stylePoint(int cjdNo, int aci, const QString &mark)
{
    const Point *point = m_snapshot.point(cjdNo);
    if (!point)
        return fail(QStringLiteral("找不到第 %1 号观测点").arg(cjdNo));
    if (auto styled = m_project->setPointStyle(cjdNo, aci, mark); !styled)
        return styled;
    Point changed = *point;
    changed.aci = aci;
    changed.mark = mark;
    m_snapshot.setPoint(changed);
    m_stability.reset();
    return success();
}

Result<void> Session::namePoint(int cjdNo, const QString &name)
{
    const auto existing = m_project->pointByNumber(cjdNo);
    if (!existing)
        return existing.failure();
    if (*existing) {
        if (auto renamed = m_project->renamePoint(cjdNo, name); !renamed)
            return renamed;
        Point point = **existing;
        point.name = name;
        m_snapshot.setPoint(point);
        m_stability.reset();
        return success();
    }
    const PointStyle style = defaultPointStyle(cjdNo);
    const Point point{cjdNo, name, style.aci, style.mark};
    if (auto added = m_project->addPoint(point); !added)
        return added;
    m_snapshot.setPoint(point);
    m_stability.reset();
    return success();
}

Result<int> Session::addEpoch(const QString &date, const QString &name, const QString &layers)
{
    const auto number = m_project->nextEpochNumber();
    if (!number)
        return number;
    const Epoch epoch{*number, date, name, layers};
    if (auto added = m_project->addEpoch(epoch); !added)
        return added.failure();
    m_snapshot.setEpoch(epoch);
    m_stability.reset();
    return *number;
}

QString Session::epochLabel(int cjNo) const
{
    if (const Epoch *epoch = m_snapshot.epochByNumber(cjNo))
        return QStringLiteral("观测“%1”（%2）").arg(epoch->name, epoch->date);
    return QStringLiteral("第 %1 次观测").arg(cjNo);
}

int Session::placeByDate(const QString &date) const
{
    const auto day = calendarDate(date);
    for (const Epoch &epoch : m_snapshot.epochs())
        if (const auto other = calendarDate(epoch.date); day && other && *other > *day)
            return epoch.cjNo;
    return m_snapshot.epochCount() > 0 ? m_snapshot.epochs().back().cjNo + 1 : 0;
}

Result<void> Session::insertEpoch(int cjNo, const QString &date, const QString &name, const QString &layers)
{
    if (auto inserted = m_project->insertEpoch({cjNo, date, name, layers}); !inserted)
        return inserted;
    // What was typed here follows its epoch to its new number.
    std::map<std::pair<int, int>, std::optional<double>> moved;
    for (const auto &[key, typed] : m_typed)
        moved[{key.first >= cjNo ? key.first + 1 : key.first, key.second}] = typed;
    m_typed = std::move(moved);
    return readSnapshot();
}

Result<void> Session::updateEpoch(const Epoch &epoch)
{
    if (auto updated = m_project->updateEpoch(epoch); !updated)
        return updated;
    m_snapshot.setEpoch(epoch);
    m_stability.reset();
    return success();
}

Result<void> Session::removeEpoch(int cjNo)
{
    if (auto removed = m_project->deleteEpoch(cjNo); !removed)
        return removed;
    // What was typed for the removed epoch goes with it; for the later ones
    // it follows them to their new numbers.
    std::map<std::pair<int, int>, std::optional<double>> kept;
    for (const auto &[key, typed] : m_typed)
        if (key.first != cjNo)
            kept[{key.first > cjNo ? key.first - 1 : key.first, key.second}] = typed;
    m_typed = std::move(kept);
    return readSnapshot();
}

Result<void> Session::removePoint(int cjdNo)
{
    if (auto removed = m_project->deletePoint(cjdNo); !removed)
        return removed;
    std::erase_if(m_typed, [cjdNo](const auto &entry) { return entry.first.second == cjdNo; });
    return readSnapshot();
}

Result<void> Session::storeSetting(const QString &key, const QString &value)
{
    return m_settings->writeSetting(key, value);
}
