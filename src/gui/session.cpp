#include "gui/session.h"

#include "base/programfiles.h"
#include "cad/planpositions.h"
#include "domain/settlementrules.h"
#include "survey/domaininputs.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

Session::Session(const QString &programDir, std::unique_ptr<SettingsStore> settings)
    : m_programDir(programDir)
    , m_settings(std::move(settings))
    , m_project(programDir, m_settings.get())
{
    m_project.setLastPoint(m_pointCount);
    m_forecastPause = new QTimer(this);
    m_forecastPause->setSingleShot(true);
    m_forecastPause->setInterval(300);
    connect(m_forecastPause, &QTimer::timeout, this, [this] {
        m_project.setTyping(false);
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
    if (!project() || !project()->isServer())
        return runPath;
    const QString folder = m_lastProjectDir.isEmpty() ? QDir::homePath() : m_lastProjectDir;
    return folder + QLatin1Char('/') + QFileInfo(runPath).fileName();
}

void Session::readPlanBackground()
{
    // The plan drawing is read again only when it changed; a drawing that
    // cannot be read leaves the plan without background.
    std::optional<PlanDrawingFile> drawing;
    if (project())
        if (auto read = project()->planDrawing())
            drawing = std::move(*read);
    const QByteArray digest =
        drawing ? QCryptographicHash::hash(drawing->data, QCryptographicHash::Sha1) : QByteArray();
    if (digest == m_planDigest)
        return;
    m_planBackground = {};
    m_planDigest = digest;
    if (drawing)
        if (auto background = ::planBackground(*drawing))
            m_planBackground = std::move(*background);
}

void Session::refreshDeformationSettings()
{
    m_project.refreshDeformationSettings();
}

const MonitoringModel &Session::model() const
{
    const int index = snapshot().epochIndex(m_currentEpoch);
    return m_project.model(index >= 0 ? std::optional(index) : std::nullopt);
}

const PlanFigures *Session::planFiguresAtCurrentEpoch() const
{
    if (!project() || snapshot().epochIndex(m_currentEpoch) < 0 || !model().placed)
        return nullptr;
    return &model().figures;
}

StabilitySettings Session::stabilitySettings() const
{
    return m_project.stabilitySettings();
}

const StabilityAnalysis &Session::stability() const
{
    return m_project.stability();
}

std::vector<Alarm> Session::alarmsAtCurrentEpoch() const
{
    if (!project() || snapshot().epochIndex(m_currentEpoch) < 0)
        return {};
    return model().figures.alarms;
}

Result<void> Session::setPositions(const std::vector<std::pair<int, std::optional<Position>>> &positions)
{
    return m_project.setPositions(positions);
}

Result<PositionSummary> Session::placePoints(const std::vector<PositionRow> &rows,
                                             const std::optional<PlanDrawingFile> &plan,
                                             PositionSummary summary)
{
    auto placed = m_project.placePoints(rows, plan, std::move(summary));
    readPlanBackground();
    return placed;
}

Result<void> Session::openProject(std::unique_ptr<ProjectDatabase> project)
{
    m_forecastPause->stop();
    m_project.setTyping(false);
    auto opened = m_project.open(std::move(project));
    readPlanBackground();
    return opened;
}

void Session::closeProject()
{
    m_project.close();
    m_planBackground = {};
    m_planDigest.clear();
}

Result<bool> Session::reloadIfChanged()
{
    auto read = m_project.reloadIfChanged();
    if (read && *read)
        readPlanBackground();
    return read;
}

QStringList Session::takeOverwritten()
{
    return m_project.takeOverwrittenIn(m_unit);
}

Result<void> Session::reload()
{
    auto read = m_project.reload();
    readPlanBackground();
    return read;
}

void Session::typed()
{
    m_project.setTyping(true);
    m_forecastPause->start();
}

Result<void> Session::storeElevation(int cjNo, int cjdNo, std::optional<double> metres, WriteHow how)
{
    auto stored = m_project.storeElevation(cjNo, cjdNo, metres, how);
    if (stored)
        typed();
    return stored;
}

Result<void> Session::undo(const HistoryRow &row)
{
    auto restored = m_project.undo(row);
    if (restored)
        typed();
    return restored;
}

std::vector<QuestionableElevation> Session::questionable(int cjNo) const
{
    return m_project.questionable(cjNo, m_limits);
}

Result<void> Session::confirmElevation(int cjNo, int cjdNo)
{
    return m_project.confirmElevation(cjNo, cjdNo);
}

Result<void> Session::stylePoint(int cjdNo, int aci, const QString &mark)
{
    return m_project.stylePoint(cjdNo, aci, mark);
}

Result<void> Session::namePoint(int cjdNo, const QString &name)
{
    return m_project.namePoint(cjdNo, name);
}

Result<int> Session::addEpoch(const QString &date, const QString &name, const QString &layers)
{
    return m_project.addEpoch(date, name, layers);
}

QString Session::epochLabel(int cjNo) const
{
    return m_project.epochLabel(cjNo);
}

int Session::placeByDate(const QString &date) const
{
    return m_project.placeByDate(date);
}

Result<void> Session::insertEpoch(int cjNo, const QString &date, const QString &name, const QString &layers)
{
    auto inserted = m_project.insertEpoch(cjNo, date, name, layers);
    readPlanBackground();
    return inserted;
}

Result<void> Session::updateEpoch(const Epoch &epoch)
{
    return m_project.updateEpoch(epoch);
}

Result<void> Session::removeEpoch(int cjNo)
{
    auto removed = m_project.removeEpoch(cjNo);
    readPlanBackground();
    return removed;
}

Result<void> Session::removePoint(int cjdNo)
{
    auto removed = m_project.removePoint(cjdNo);
    readPlanBackground();
    return removed;
}

Result<void> Session::storeSetting(const QString &key, const QString &value)
{
    return m_settings->writeSetting(key, value);
}
