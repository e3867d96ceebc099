#pragma once

// The building's deformation epoch by epoch, from the points' positions and
// their cumulative settlement: average and largest sinking, the overall tilt,
// the differential settlement of neighbouring points, checked against the
// limits of the foundation code and the project's alarm values (预警).

#include "base/result.h"
#include "domain/deformation.h"

#include <QJsonArray>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

class ProjectSnapshot;
struct Point;
struct StabilityAnalysis;

// The project's header fields this uses.
namespace DeformationKey {
inline const QString BuildingHeight = QStringLiteral("建筑高度");     // m
inline const QString Structure = QStringLiteral("结构形式");
inline const QString Soil = QStringLiteral("地基土");
inline const QString CumulativeAlarm = QStringLiteral("累计沉降预警值"); // mm
inline const QString RateAlarm = QStringLiteral("沉降速率预警值");       // mm/d
inline const QString DifferentialAlarm = QStringLiteral("差异沉降预警值"); // Δs/L
inline const QString TiltAlarm = QStringLiteral("倾斜预警值");           // dimensionless
// Pairs of points that are not neighbours (across a settlement joint):
// "A-B; C-D" by point name.
inline const QString NotNeighbours = QStringLiteral("非相邻测点对");
// The contour interval the user typed (mm); empty: a 1-2-5 step.
inline const QString ContourStep = QStringLiteral("等值线间距");
// The plan sheet's scale as typed ("200" or "1:200"); empty: one that fits.
inline const QString PlanScale = QStringLiteral("平面图比例");
} // namespace DeformationKey

// One row of the limits table: a quantity's allowed value for a kind of
// structure, soil and height.
struct DeformationLimit
{
    enum Quantity { Tilt, Differential, LocalTilt, Average };
    Quantity quantity = Tilt;
    QString structure; // the structure it is for; chosen when 结构形式 contains `match`
    QString match;     // empty: any structure
    QString soil;      // "中、低压缩性土", "高压缩性土", or empty: any soil
    std::optional<double> heightMin, heightMax; // m, H in (min, max]
    double value = 0;  // dimensionless (Δs/L, tilt), or mm for an average settlement
    QString source;
};
QString quantityText(DeformationLimit::Quantity quantity);

// The rows shipped: GB 50007-2011 Table 5.3.4 as secondary sources quote it.
std::vector<DeformationLimit> defaultDeformationLimits();
// What the limits dialog says of the table's origin (for the firm that
// checks its table; a client's report states the limits applied instead).
QString deformationLimitsNote();

// The thresholds an epoch is checked against: the project's alarm values;
// where it has none, the Δs/L and tilt limits of the rows its height,
// structure and soil choose. Nothing: no check.
struct AlarmThresholds
{
    std::optional<double> cumulativeMm, rateMmPerDay, differential, tilt;
    // The limit rows chosen (shown beside the figures), if any.
    std::optional<DeformationLimit> differentialLimit, tiltLimit;
    // Where a ratio has no threshold: why, in words ("结构形式「钢结构」在变形限值表中
    // 无差异沉降限值，未判差异沉降"); empty when it has one.
    QString tiltReason, differentialReason;
};
// The alarm values of a ratio (差异沉降预警值 Δs/L, 倾斜预警值) are typed and
// stored in ‰, as "2‰"; a plain number, as older projects hold, is taken as
// a ratio when it is a plausible one. A value outside 0.1–50‰ is no alarm
// value (it would credit a wrong limit and switch the alarm off): it is
// refused, in words, and the limits table's row applies instead.
constexpr double leastPerMilleAlarm = 0.1, largestPerMilleAlarm = 50;
// The text stored for a value typed in ‰ ("2" → "2‰"), or why it cannot be
// one; empty stays empty.
Result<QString> perMilleAlarmText(const QString &typed);
// A stored value as the user types it, in ‰ ("2‰" and "0.002" give "2").
QString perMilleAlarmShown(const QString &stored);
// `problems`, when given, gets a sentence for each value refused.
AlarmThresholds alarmThresholds(const std::map<QString, QString> &fields,
                                const std::vector<DeformationLimit> &limits, QStringList *problems = nullptr);
// The pairs of point numbers the field NotNeighbours names.
// `problems`, when given, gets a sentence for a pair not written as two
// names or naming a point the project lacks.
std::set<std::pair<int, int>> notNeighbours(const std::map<QString, QString> &fields,
                                            const ProjectSnapshot &snapshot, QStringList *problems = nullptr);

// The thresholds and the pairs that are no neighbours of a project, from
// its header fields and the limits table at `limitsPath` (its shipped rows
// when there is no file; none when it cannot be read: `problem` says why).
struct DeformationSettings
{
    AlarmThresholds thresholds;
    std::set<std::pair<int, int>> notNeighbours;
    std::optional<double> contourStep;
    std::optional<int> planScale;
    QString problem;
    bool limitsUnusable = false; // the table at limitsPath could not be read: no limit applies
};

// The settings of a project's deformation from its header fields and the
// limit table (or why the table could not be read: then no limit applies).
DeformationSettings deformationSettings(const Result<std::vector<DeformationLimit>> &limits,
                                        const std::map<QString, QString> &fields,
                                        const ProjectSnapshot &snapshot);

// Placed points far from the others (more than `farFromOthers` from the
// median of all positions, east and north apart): a second file in another
// coordinate system, positions in millimetres among ones in metres. Named
// by users, left out of the tilt and the pairs until mended; none when they
// are not a minority (no side can be told the right one then).
constexpr double farFromOthers = 10'000; // m
struct FarPoint
{
    int cjdNo = 0;
    QString name;
    double distance = 0; // m, from the median
};
std::vector<FarPoint> farPlacedPoints(const std::vector<Point> &points);
// "J3 与其他测点相距 4900 km，坐标系可能不同" for each, and what is left out.
QString farPointsText(const std::vector<FarPoint> &far);

// The deformation at one epoch, over the points with a position and a
// cumulative settlement there (those far from the others left out).
struct EpochDeformation
{
    int epochIndex = 0, cjNo = 0;
    // Every point with a cumulative settlement here (placed or not), with
    // its rate in mm/d over the interval ending here: what the cumulative
    // and rate alarms look at.
    struct Settled
    {
        int number = 0;
        double sMm = 0;
        std::optional<double> rate;
    };
    std::vector<Settled> settled;
    // Their average and the place in `settled` of the largest sinking.
    std::optional<double> settledAverageMm;
    int settledLargest = -1;
    // The points with a position among them: the plan's, and the population
    // of the figures below (tilt, differential settlement) and of these two.
    std::vector<PlanPoint> points;
    std::optional<double> averageMm;
    int largest = -1; // place in points of the largest sinking (most negative s)
    std::optional<Tilt> tilt;
    PlanTriangulation triangulation;
    std::vector<NeighbourPair> pairs;
    int largestPair = -1; // place in pairs of the largest |Δs| / L
};
EpochDeformation deformationAt(const ProjectSnapshot &snapshot, int epochIndex,
                               const std::set<std::pair<int, int>> &notNeighbours = {});
// Points with a position: the plan can be drawn from three.
int placedPointCount(const ProjectSnapshot &snapshot);

struct Alarm
{
    enum Kind { Cumulative, Rate, Differential, TiltKind, Predicted };
    int epochIndex = 0, cjNo = 0;
    Kind kind = Cumulative;
    std::optional<int> point;              // number
    std::optional<std::pair<int, int>> pair; // numbers
    double value = 0, threshold = 0;
};
QString alarmKindKey(Alarm::Kind kind);  // "cumulative", …
QString alarmKindText(Alarm::Kind kind); // "累计沉降", …
// The alarms of one epoch: values whose magnitude exceeds the threshold.
std::vector<Alarm> alarmsAt(const EpochDeformation &deformation, const AlarmThresholds &thresholds);
// Points whose predicted final settlement (the hyperbolic fit) passes the
// cumulative threshold while the observed one is under it, at the last epoch.
std::vector<Alarm> predictedAlarms(const ProjectSnapshot &snapshot, const StabilityAnalysis &analysis,
                                   const AlarmThresholds &thresholds);
// The alarm values and limits applied, with the source of each limit as
// the firm's table names it: "预警值：累计沉降 10.00 mm，…".
QString thresholdsLine(const AlarmThresholds &thresholds);
// An alarm in one sentence for the user, names from the snapshot.
QString alarmText(const Alarm &alarm, const ProjectSnapshot &snapshot);

// Every epoch's deformation and every alarm: what the workbook and the
// analysis give.
struct DeformationReport
{
    AlarmThresholds thresholds;
    std::vector<EpochDeformation> epochs;
    std::vector<Alarm> alarms;
};
DeformationReport analyseDeformation(const ProjectSnapshot &snapshot, const AlarmThresholds &thresholds,
                                     const std::set<std::pair<int, int>> &notNeighbours,
                                     const StabilityAnalysis *stability);

// The deformation table for people: headings and a row per epoch (the
// workbook's sheet "差异沉降与倾斜").
QStringList deformationHeadings();
std::vector<QStringList> deformationRows(const DeformationReport &report, const ProjectSnapshot &snapshot);

// What the plan view, the plan sheet and `plan --format json` draw for one
// epoch: the deformation, the contour lines of cumulative settlement, and
// the epoch's alarms (with the predicted ones at the last epoch).
struct PlanFigures
{
    EpochDeformation deformation;
    std::vector<double> levels;
    std::vector<ContourLine> contours;
    std::vector<Alarm> alarms;
    // Why there are no contours though the settlements differ: a step that
    // gives more than maxContourLevels, or none within the range.
    QString contourNote;
};
// The alarms of one epoch, of the deformation `d` computed for it: those
// measured, and at the last epoch the predicted ones of the accepted
// forecasts of `stability`. What every view of an epoch's alarms shows.
std::vector<Alarm> epochAlarms(const ProjectSnapshot &snapshot, int epochIndex, const EpochDeformation &d,
                               const AlarmThresholds &thresholds, const StabilityAnalysis *stability);
PlanFigures planFigures(const ProjectSnapshot &snapshot, int epochIndex,
                        const AlarmThresholds &thresholds,
                        const std::set<std::pair<int, int>> &notNeighbours,
                        std::optional<double> contourStep, const StabilityAnalysis *stability);
QByteArray planJson(const PlanFigures &figures, const ProjectSnapshot &snapshot, const AlarmThresholds &thresholds);
// Alarms as JSON objects {"epoch", "kind", "point", "pair", "value", "threshold"}.
QJsonArray alarmsJson(const std::vector<Alarm> &alarms, const ProjectSnapshot &snapshot);
// The deformation of every epoch as JSON, numbers unrounded.
QJsonArray deformationJson(const DeformationReport &report, const ProjectSnapshot &snapshot);
