#pragma once

// The project as one value, read once (loadSnapshot, in survey/, reads it
// from a store).

#include "base/result.h"
#include "domain/projectvalues.h"
#include "domain/settlement.h"

#include <QString>
#include <QtGlobal>
#include <QStringList>

#include <cmath>
#include <functional>
#include <optional>
#include <vector>

// The whole project read once: what the grid, the preview, the curve sheets
// and the results table are made from. Epochs in CjNo order with their dates
// read once, points with name, colour and mark, every elevation H(k, j) in a
// dense table (epochs × point numbers), and the colour table.
//
// Elevations of an epoch that Sur1 does not list belong to no observation
// and are left out. The window keeps one snapshot and changes it with each
// write it makes, so that it never reads the project again for its own
// changes.
// Epochs whose date gives no bounded day count (DayNumber::bounded) are
// left out of the analysis and the sheets' time axes (and told when the
// project is loaded): a day count from such a date is no campaign's, and
// would stretch a time axis or the resampling of the prediction without
// end. The results table lists every epoch, with its day counts as the rule
// reads them, whatever the calendar says.

class ProjectSnapshot
{
public:
    // Epochs (Sur1) in CjNo order.
    const std::vector<Epoch> &epochs() const { return m_epochs; }
    int epochCount() const { return int(m_epochs.size()); }
    // The place of epoch `cjNo` in epochs(), or -1.
    int epochIndex(int cjNo) const;
    const Epoch *epochByNumber(int cjNo) const;
    // DayCount from the first epoch to epoch `index` (1 for the first itself,
    // as DayCount counts equal dates).
    int daysSinceFirst(int index) const { return DayCount(m_dayNumbers.front(), m_dayNumbers[size_t(index)]); }
    // DayCount between two epochs given by their places.
    int dayCount(int indexA, int indexB) const
    {
        return DayCount(m_dayNumbers[size_t(indexA)], m_dayNumbers[size_t(indexB)]);
    }

    // Points (Sur3) in CjdNo order.
    const std::vector<Point> &points() const { return m_points; }
    // The point record of a number, or null.
    const Point *point(int cjdNo) const;

    // Every point number that has a record or an elevation, ascending: the
    // columns of the elevation table.
    const std::vector<int> &pointNumbers() const { return m_numbers; }
    // The column of a point number, or -1.
    int columnOf(int cjdNo) const;

    // H(k, j) in metres by epoch and point number; nothing without a record.
    std::optional<double> elevation(int cjNo, int cjdNo) const;
    // H by place: NaN where there is no record.
    double at(int epochIndex, int column) const
    {
        Q_ASSERT(epochIndex >= 0 && epochIndex < epochCount());
        Q_ASSERT(column >= 0 && size_t(column) < m_numbers.size());
        return m_heights[size_t(epochIndex) * m_numbers.size() + size_t(column)];
    }
    static bool present(double h) { return !std::isnan(h); }
    bool hasElevations() const { return m_elevationCount > 0; }
    // Does the point have an elevation in any epoch?
    bool isObserved(int cjdNo) const;
    // The highest point number with an elevation; 0 when there is none.
    int highestObservedPoint() const;

    // What the loader left out, for the user: elevations stored as no finite
    // number, each naming its point and epoch.
    const QStringList &warnings() const { return m_warnings; }

    // The colour of a colour index, from AciRgb; nothing when it has none.
    std::optional<Rgb> colour(int aci) const;

    // The snapshot after a committed write, as a new value: a snapshot is
    // never changed in place, so that whoever holds one reads it whole. An
    // elevation of an epoch the snapshot does not hold is ignored, as on
    // loading.
    [[nodiscard]] ProjectSnapshot withElevation(int cjNo, int cjdNo, std::optional<double> metres) const;
    // With the point record added, or replacing the one of its number.
    [[nodiscard]] ProjectSnapshot withPoint(const Point &point) const;
    // With each point record added, or replacing the one of its number.
    [[nodiscard]] ProjectSnapshot withPoints(const std::vector<Point> &points) const;
    // With the epoch added, or replacing the one of its number.
    [[nodiscard]] ProjectSnapshot withEpoch(const Epoch &epoch) const;

    // Whether the epoch at `index` has a bounded day count.
    bool hasUsableDate(int index) const { return m_dayNumbers[size_t(index)].bounded; }
    // This snapshot without the epochs of no bounded day count: what the
    // curve sheets and the fitted axes are made of.
    ProjectSnapshot withUsableDates() const;
    // This snapshot with the epochs up to the one at `index` only: the
    // project as it stood then (a report up to that epoch).
    ProjectSnapshot upToEpoch(int index) const;

    // Builds a snapshot from records already read (any order); the loader
    // and tests use it. Refused when the table would be absurdly large.
    static Result<ProjectSnapshot> fromRecords(std::vector<Epoch> epochs, std::vector<Point> points,
                                       const std::vector<Elevation> &elevations,
                                       std::vector<std::pair<int, Rgb>> colours);

private:
    void setElevation(int cjNo, int cjdNo, std::optional<double> metres);
    void setPoint(const Point &point);
    void setEpoch(const Epoch &epoch);
    void addColumn(int cjdNo);
    ProjectSnapshot keepingEpochs(const std::function<bool(int)> &keep) const;

    std::vector<Epoch> m_epochs;
    std::vector<DayNumber> m_dayNumbers;
    std::vector<Point> m_points;
    std::vector<int> m_numbers;
    std::vector<double> m_heights;   // epoch-major: [epoch index × columns + column]
    std::vector<int> m_observations; // elevations per column
    int m_elevationCount = 0;
    std::vector<std::pair<int, Rgb>> m_colours; // by Aci_Color
    QStringList m_warnings;
};

