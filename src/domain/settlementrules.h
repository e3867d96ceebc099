#pragma once

#include "domain/projectsnapshot.h"
#include "domain/settlement.h"

#include <map>
#include <optional>
#include <vector>

// The rules that differ from one output to another, each in one place. The
// grid's rule for a point's values is PointEpochValues (settlement.h): there a
// record holding exactly 0 counts as missing. The results table and the
// curves count every record, 0 included.

// A point's values in the results table for epoch k: a value needs only its
// records. The cumulative settlement needs H0 and Hc, the this-time
// settlement Hp and Hc, the rate also an interval of at least one day.
// Values in metres and metres per day, later minus earlier.
PointValues TablePointValues(std::optional<double> first, std::optional<double> previous,
                             std::optional<double> current, int interval);

// The averages of an epoch in the results table, over the points 1 to
// `lastPoint` that have an elevation in epoch `cjNo`: the mean this-time and
// cumulative settlement (mm) of the points that have the earlier record, and
// the mean rate (mm/d) of the this-time settlements divided by `interval`.
// An average over no point, or a rate over a zero interval, is absent.
struct EpochAverages
{
    std::optional<double> thisTime, cumulative, rate;
};
EpochAverages TableEpochAverages(const ProjectSnapshot &snapshot, int cjNo, int lastPoint,
                                 int interval);

// The mean sinking rate of the epoch at `index` (mm/d, positive when
// sinking), drawn by the preview and the rate sheet: over the points 1 to
// `lastPoint` with a record in this epoch and in the epoch numbered one
// less, Σ(Hp − Hc) × 1000 ÷ count ÷ D, where D is the day count from the
// epoch before it in the list. Absent for the epoch numbered 0, when no point
// has both records, or when D is 0 (a malformed date).
std::optional<double> MeanSinkingRate(const ProjectSnapshot &snapshot, int index, int lastPoint);

// The elevation point `cjdNo` had before epoch `cjNo`: that of the latest
// earlier epoch where it has one (a record of exactly 0 counts as none, as
// in the grid); nothing when no earlier epoch has it.
std::optional<double> PreviousElevation(const ProjectSnapshot &snapshot, int cjNo, int cjdNo);

// What passes without a question, in metres. A point's change from one
// epoch to the next: the setting "高程突变限值" (mm), plausibleChange when it
// is absent or no positive number. A point's first elevation, against the
// median of the other points of its epoch: the setting "首次高程偏差限值" (m),
// plausibleFirstDeviation likewise. Points of one building differ by
// decimetres (a slab step, a column base below a floor), so the first
// epoch is checked only for slips of unit or digits.
constexpr double plausibleChange = 0.05;
constexpr double plausibleFirstDeviation = 5;
struct PlausibilityLimits
{
    double change = plausibleChange;
    double firstDeviation = plausibleFirstDeviation;
};
// An elevation that is likely a slip rather than a settlement: it differs
// from `reference` by more than `limit` (m), or is more than 100 times or
// less than a hundredth of it (millimetres typed for metres, or the
// reverse). Never without a reference.
bool ImplausibleElevation(std::optional<double> reference, double metres, double limit = plausibleChange);

// A point's settlement curve: for each epoch where the point (the
// snapshot's column) has an elevation, the days since the first epoch and
// its change in mm from its own first elevation. It starts at the point's
// first observation, at 0, as the results table does: a point first
// observed late is not drawn flat from the first epoch.
struct CurvePoint
{
    int epoch = 0; // index in the snapshot
    int day = 0;
    double mm = 0;
};
std::vector<CurvePoint> SettlementCurve(const ProjectSnapshot &snapshot, int column);

// What a new elevation of a point is compared with: its previous elevation;
// for a point with none (the first epoch), the median of the elevations the
// other points have in the same epoch (`median` then says so).
struct PlausibilityReference
{
    double elevation = 0;
    bool median = false;
};
std::optional<PlausibilityReference> ReferenceElevation(const ProjectSnapshot &snapshot, int cjNo, int cjdNo);
// ImplausibleElevation against that reference with the limit that fits it.
bool ImplausibleElevation(const PlausibilityReference &reference, double metres, const PlausibilityLimits &limits);
// An elevation of an epoch that looks like a slip rather than a settlement
// (ImplausibleElevation against its reference). It is stored as typed and
// marked until the surveyor confirms or corrects it: typing never waits on
// a question.
struct QuestionableElevation
{
    int cjdNo = 0;
    double metres = 0;
    PlausibilityReference reference;
};
// Those of epoch `cjNo` among points 1 to `lastPoint`, in point order, but
// for the ones the surveyor confirmed at the value they hold (`confirmed`:
// point number → value confirmed).
std::vector<QuestionableElevation> QuestionableElevations(const ProjectSnapshot &snapshot, int cjNo, int lastPoint,
                                                          const PlausibilityLimits &limits,
                                                          const std::map<int, double> &confirmed);
// Why it is questioned, in words, with elevations in `unit`:
// "本次 10010.000 mm，上次为 10.05500 m，相差 …".
QString QuestionableReason(const QuestionableElevation &questionable, const QString &unit);
// The median of `values` without one element equal to `except`, or none
// when nothing is left.
std::optional<double> MedianOfOthers(std::vector<double> values, double except);
