#include "domain/projectsnapshot.h"


#include <algorithm>
#include <limits>

namespace {

constexpr double absent = std::numeric_limits<double>::quiet_NaN();
// A table past this many cells is no building's project (300 epochs of 150
// points are 45,000): refused rather than allowed to exhaust the memory.
constexpr size_t largestTable = 50'000'000;

template <typename Row, typename Key> auto findByKey(const std::vector<Row> &rows, int key, Key key_of)
{
    const auto found = std::lower_bound(rows.begin(), rows.end(), key,
                                        [&](const Row &row, int k) { return key_of(row) < k; });
    return found != rows.end() && key_of(*found) == key ? found : rows.end();
}

} // namespace

int ProjectSnapshot::epochIndex(int cjNo) const
{
    const auto found = findByKey(m_epochs, cjNo, [](const Epoch &e) { return e.cjNo; });
    return found == m_epochs.end() ? -1 : int(found - m_epochs.begin());
}

const Epoch *ProjectSnapshot::epochByNumber(int cjNo) const
{
    const int index = epochIndex(cjNo);
    return index < 0 ? nullptr : &m_epochs[size_t(index)];
}

const Point *ProjectSnapshot::point(int cjdNo) const
{
    const auto found = findByKey(m_points, cjdNo, [](const Point &p) { return p.cjdNo; });
    return found == m_points.end() ? nullptr : &*found;
}

int ProjectSnapshot::columnOf(int cjdNo) const
{
    const auto found = std::lower_bound(m_numbers.begin(), m_numbers.end(), cjdNo);
    return found != m_numbers.end() && *found == cjdNo ? int(found - m_numbers.begin()) : -1;
}

std::optional<double> ProjectSnapshot::elevation(int cjNo, int cjdNo) const
{
    const int e = epochIndex(cjNo);
    const int c = columnOf(cjdNo);
    if (e < 0 || c < 0)
        return std::nullopt;
    const double h = at(e, c);
    return present(h) ? std::optional<double>(h) : std::nullopt;
}

bool ProjectSnapshot::isObserved(int cjdNo) const
{
    const int c = columnOf(cjdNo);
    return c >= 0 && m_observations[size_t(c)] > 0;
}

int ProjectSnapshot::highestObservedPoint() const
{
    for (size_t c = m_numbers.size(); c-- > 0;)
        if (m_observations[c] > 0)
            return m_numbers[c];
    return 0;
}

std::optional<Rgb> ProjectSnapshot::colour(int aci) const
{
    const auto found = findByKey(m_colours, aci, [](const auto &entry) { return entry.first; });
    return found == m_colours.end() ? std::nullopt : std::optional<Rgb>(found->second);
}

void ProjectSnapshot::addColumn(int cjdNo)
{
    const auto place = std::lower_bound(m_numbers.begin(), m_numbers.end(), cjdNo);
    const size_t column = size_t(place - m_numbers.begin());
    const size_t oldColumns = m_numbers.size();
    m_numbers.insert(place, cjdNo);
    m_observations.insert(m_observations.begin() + qsizetype(column), 0);
    std::vector<double> heights(m_epochs.size() * m_numbers.size(), absent);
    for (size_t e = 0; e < m_epochs.size(); ++e)
        for (size_t c = 0; c < oldColumns; ++c)
            heights[e * m_numbers.size() + (c < column ? c : c + 1)] = m_heights[e * oldColumns + c];
    m_heights = std::move(heights);
}

ProjectSnapshot ProjectSnapshot::withElevation(int cjNo, int cjdNo, std::optional<double> metres) const
{
    ProjectSnapshot next = *this;
    next.setElevation(cjNo, cjdNo, metres);
    return next;
}

ProjectSnapshot ProjectSnapshot::withPoint(const Point &point) const
{
    ProjectSnapshot next = *this;
    next.setPoint(point);
    return next;
}

ProjectSnapshot ProjectSnapshot::withPoints(const std::vector<Point> &points) const
{
    ProjectSnapshot next = *this;
    for (const Point &point : points)
        next.setPoint(point);
    return next;
}

ProjectSnapshot ProjectSnapshot::withEpoch(const Epoch &epoch) const
{
    ProjectSnapshot next = *this;
    next.setEpoch(epoch);
    return next;
}

void ProjectSnapshot::setElevation(int cjNo, int cjdNo, std::optional<double> metres)
{
    const int e = epochIndex(cjNo);
    if (e < 0)
        return;
    int c = columnOf(cjdNo);
    if (c < 0) {
        if (!metres)
            return;
        addColumn(cjdNo);
        c = columnOf(cjdNo);
    }
    double &h = m_heights[size_t(e) * m_numbers.size() + size_t(c)];
    const bool had = present(h);
    h = metres ? *metres : absent;
    const int change = int(bool(metres)) - int(had);
    m_observations[size_t(c)] += change;
    m_elevationCount += change;
}

void ProjectSnapshot::setPoint(const Point &point)
{
    const auto place = std::lower_bound(m_points.begin(), m_points.end(), point.cjdNo,
                                        [](const Point &p, int n) { return p.cjdNo < n; });
    if (place != m_points.end() && place->cjdNo == point.cjdNo)
        *place = point;
    else
        m_points.insert(place, point);
    if (columnOf(point.cjdNo) < 0)
        addColumn(point.cjdNo);
}

void ProjectSnapshot::setEpoch(const Epoch &epoch)
{
    const auto place = std::lower_bound(m_epochs.begin(), m_epochs.end(), epoch.cjNo,
                                        [](const Epoch &e, int n) { return e.cjNo < n; });
    const size_t index = size_t(place - m_epochs.begin());
    if (place != m_epochs.end() && place->cjNo == epoch.cjNo) {
        *place = epoch;
        m_dayNumbers[index] = dayNumber(epoch.date);
        return;
    }
    m_epochs.insert(place, epoch);
    m_dayNumbers.insert(m_dayNumbers.begin() + qsizetype(index), dayNumber(epoch.date));
    m_heights.insert(m_heights.begin() + qsizetype(index * m_numbers.size()), m_numbers.size(),
                     absent);
}

Result<ProjectSnapshot> ProjectSnapshot::fromRecords(std::vector<Epoch> epochs, std::vector<Point> points,
                                             const std::vector<Elevation> &elevations,
                                             std::vector<std::pair<int, Rgb>> colours)
{
    ProjectSnapshot s;
    const auto byEpoch = [](const Epoch &a, const Epoch &b) { return a.cjNo < b.cjNo; };
    std::stable_sort(epochs.begin(), epochs.end(), byEpoch);
    // One record a key, as the primary keys of the tables have it; of two,
    // the first read counts.
    epochs.erase(std::unique(epochs.begin(), epochs.end(),
                             [](const Epoch &a, const Epoch &b) { return a.cjNo == b.cjNo; }),
                 epochs.end());
    std::stable_sort(points.begin(), points.end(),
                     [](const Point &a, const Point &b) { return a.cjdNo < b.cjdNo; });
    points.erase(std::unique(points.begin(), points.end(),
                             [](const Point &a, const Point &b) { return a.cjdNo == b.cjdNo; }),
                 points.end());
    std::stable_sort(colours.begin(), colours.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    s.m_epochs = std::move(epochs);
    s.m_points = std::move(points);
    s.m_colours = std::move(colours);
    s.m_dayNumbers.reserve(s.m_epochs.size());
    for (const Epoch &epoch : s.m_epochs)
        s.m_dayNumbers.push_back(dayNumber(epoch.date));
    for (int e = 0; e < s.epochCount(); ++e)
        if (!s.hasUsableDate(e))
            s.m_warnings << QStringLiteral("观测“%1”的日期“%2”不是 %3–%4 年间的年-月-日，不列入分析和曲线图（成果表照列）")
                                .arg(s.m_epochs[size_t(e)].name, s.m_epochs[size_t(e)].date)
                                .arg(firstUsableYear)
                                .arg(lastUsableYear);

    for (const Point &point : s.m_points)
        s.m_numbers.push_back(point.cjdNo);
    for (const Elevation &e : elevations)
        if (s.epochIndex(e.cjNo) >= 0)
            s.m_numbers.push_back(e.cjdNo);
    std::sort(s.m_numbers.begin(), s.m_numbers.end());
    s.m_numbers.erase(std::unique(s.m_numbers.begin(), s.m_numbers.end()), s.m_numbers.end());
    if (!s.m_epochs.empty() && s.m_numbers.size() > largestTable / s.m_epochs.size())
        return fail(QStringLiteral("观测次数和测点数过多（%1 次观测，%2 个测点）")
                        .arg(s.m_epochs.size())
                        .arg(s.m_numbers.size()));
    s.m_observations.assign(s.m_numbers.size(), 0);
    s.m_heights.assign(s.m_epochs.size() * s.m_numbers.size(), absent);

    // Elevations come in CjNo, CjdNo order from the loader: the epoch place
    // is found once per run of an epoch.
    int lastEpoch = std::numeric_limits<int>::min(), e = -1;
    for (const Elevation &elevation : elevations) {
        if (elevation.cjNo != lastEpoch) {
            lastEpoch = elevation.cjNo;
            e = s.epochIndex(elevation.cjNo);
        }
        if (e < 0)
            continue;
        const int c = s.columnOf(elevation.cjdNo);
        double &h = s.m_heights[size_t(e) * s.m_numbers.size() + size_t(c)];
        if (present(h))
            continue;
        if (!usableElevation(elevation.pointH)) {
            // Shown and treated as missing; the user is told which one.
            s.m_warnings << QStringLiteral("测点 %1 第 %2 次观测的高程无效（%3），按缺测处理")
                                .arg(elevation.cjdNo)
                                .arg(elevation.cjNo)
                                .arg(QString::number(elevation.pointH));
            continue;
        }
        h = elevation.pointH;
        ++s.m_observations[size_t(c)];
        ++s.m_elevationCount;
    }
    return s;
}

ProjectSnapshot ProjectSnapshot::withUsableDates() const
{
    return keepingEpochs([this](int e) { return hasUsableDate(e); });
}

ProjectSnapshot ProjectSnapshot::upToEpoch(int index) const
{
    return keepingEpochs([index](int e) { return e <= index; });
}

ProjectSnapshot ProjectSnapshot::keepingEpochs(const std::function<bool(int)> &keep) const
{
    ProjectSnapshot usable = *this;
    const size_t columns = m_numbers.size();
    usable.m_epochs.clear();
    usable.m_dayNumbers.clear();
    usable.m_heights.clear();
    std::fill(usable.m_observations.begin(), usable.m_observations.end(), 0);
    usable.m_elevationCount = 0;
    for (int e = 0; e < epochCount(); ++e) {
        if (!keep(e))
            continue;
        usable.m_epochs.push_back(m_epochs[size_t(e)]);
        usable.m_dayNumbers.push_back(m_dayNumbers[size_t(e)]);
        for (size_t c = 0; c < columns; ++c) {
            const double h = m_heights[size_t(e) * columns + c];
            usable.m_heights.push_back(h);
            if (present(h)) {
                ++usable.m_observations[c];
                ++usable.m_elevationCount;
            }
        }
    }
    return usable;
}
