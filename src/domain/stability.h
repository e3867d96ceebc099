#pragma once

#include "domain/projectsnapshot.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <utility>

#include <map>
#include <optional>
#include <vector>


// Is the building settling down, and where will it stop: the stability
// verdict from the settlement–time curve (the largest rate of the last W
// days against a limit) and the final settlement predicted from the
// constant-load period by the hyperbolic method and by Asaoka's method.
//
// For a point j the series runs over the epochs where H(k, j) and the first
// epoch's H(0, j) are both present (the grid's rule: a record holding 0 is
// missing): t_k days after the first epoch's date (DayCount; 0 for the first
// epoch), s_k = (H(k, j) − H(0, j)) × 1000 mm, negative when sinking.

struct StabilitySettings
{
    int window = 100;    // W, days: the stretch the largest rate is taken over
    double limit = 0.04; // L, mm/d: below it a point is stable
    int step = 30;       // Δ, days: the resampling step of Asaoka's method
    // The widest 95 % interval of a final settlement that is trusted, as a
    // share (%) of the settlement it forecasts from the load period's start.
    double maxIntervalPercent = 20;
    bool operator==(const StabilitySettings &) const = default;
};

// A setting's text as it is stored and shown.
QString limitText(double limit);

enum class Verdict { Insufficient, Stable, Unstable };
// "观测期不足", "稳定", "未稳定".
QString verdictText(Verdict verdict);

// y = a·x + b fitted to x = t − t0, y = (t − t0) ÷ (s − s0); s_inf = s0 + 1 ÷ a.
// Its 95 % interval from the fit's own covariance by the delta method:
// σ(s_inf) = σ(a) ÷ a², times Student's t of n − 2 degrees of freedom.
struct HyperbolicFit
{
    double a = 0, b = 0, sInf = 0, r2 = 0;
    double s0 = 0;             // the load period's start
    double sInfHalfWidth = 0;  // mm, of the 95 % interval (infinite without one)
    double sInfLow() const { return sInf - sInfHalfWidth; }
    double sInfHigh() const { return sInf + sInfHalfWidth; }
};
// s_n = β0 + β1·s_(n−1) fitted to the series resampled every Δ days from t0;
// s_inf = β0 ÷ (1 − β1), its interval from the covariance of β0 and β1.
struct AsaokaFit
{
    double beta0 = 0, beta1 = 0, sInf = 0, r2 = 0;
    double s0 = 0;
    double sInfHalfWidth = 0;
    double sInfLow() const { return sInf - sInfHalfWidth; }
    double sInfHigh() const { return sInf + sInfHalfWidth; }
};
// Student's t at 97.5 % for `dof` degrees of freedom (infinite for none).
double studentT975(int dof);

// A forecast is trusted (accepted) only when its curve has no pole over the
// fit period and the future, its final settlement lies beyond the last
// observed one in the direction the point moves, it is fitted to at least
// minimumFitEpochs epochs of the constant-load period, and the half-width
// of its final settlement's 95 % interval is within the setting's share of
// the settlement it forecasts. Otherwise its figures are kept apart as
// refused, with the reason. R² is shown, as information: the R² of the
// transformed line is not the quality of the forecast.
constexpr int minimumFitEpochs = 5;

struct SeriesPoint
{
    double t = 0;  // days after the first epoch
    double s = 0;  // mm, negative when sinking
    int epoch = 0; // the epoch's place in the epoch list
};

struct PointStability
{
    int number = 0;
    QString name;
    std::vector<SeriesPoint> series; // in epoch order
    double tLast = 0, sLast = 0;
    std::optional<double> maxRate, meanRate; // mm/d, with their sign
    Verdict verdict = Verdict::Insufficient;
    // The start of the constant-load period for this point: its first
    // present epoch there (none when the period holds none).
    std::optional<SeriesPoint> loadStart;
    // The accepted forecasts only; where there is none, why, in words
    // ("拟合点数不足（3 次观测，至少 5 次）", "曲线有奇点" ...).
    std::optional<HyperbolicFit> hyperbolic;
    std::optional<AsaokaFit> asaoka;
    QString hyperbolicReason, asaokaReason;
    // A fit made but not trusted, for a reader to see what was refused.
    std::optional<HyperbolicFit> hyperbolicRefused;
    std::optional<AsaokaFit> asaokaRefused;
    // When the accepted hyperbolic fit says the rate falls to the stable
    // limit, never before the last epoch; none without an accepted fit, or
    // for a point already stable.
    std::optional<QDate> stableDate;
    std::optional<double> stableDay; // the same, in days after the first epoch
};

struct StabilityAnalysis
{
    StabilitySettings settings;
    Verdict building = Verdict::Insufficient;
    std::vector<PointStability> points; // points with a first elevation, by number
    // Points observed but left out of the analysis, with the reason.
    std::vector<std::pair<QString, QString>> leftOut; // name, reason
    // Epochs and predictions left out, told as sentences.
    QStringList notes;
};

// The most samples the Asaoka resampling takes; a larger need is refused.
constexpr long long maxAsaokaSamples = 10'000;

// The analysis of every point numbered 1 to `lastPoint` that has a present
// elevation in the first epoch.
StabilityAnalysis analyseStability(const ProjectSnapshot &snapshot,
                                   const StabilitySettings &settings, int lastPoint);

// The parts, each over a point's series, for tests and the chart.
// Interval rates of consecutive entries with t_b > t_a; the largest in
// magnitude of those whose later entry lies after t_last − W.
std::optional<double> maxRate(const std::vector<SeriesPoint> &series, int window);
std::optional<double> meanRate(const std::vector<SeriesPoint> &series, int window);
Verdict pointVerdict(const std::vector<SeriesPoint> &series, const StabilitySettings &settings);
// `period`: the entries of the constant-load period, from its first one (t0, s0).
// A slope a whose effect over the series is within rounding (|a|·x_max ≤
// 1e-9·|b|), or a β1 within 1e-9 of 1, counts as a = 0 or β1 = 1: a steady
// settlement has no end, not one of −10¹³ mm.
std::optional<HyperbolicFit> fitHyperbolic(const std::vector<SeriesPoint> &period);
std::optional<AsaokaFit> fitAsaoka(const std::vector<SeriesPoint> &period, int step);
// The rule above over a point's constant-load period: the reason a
// forecast is not trusted, or empty when it is. `fitted` is the fit as
// made (none when none could be made).
QString hyperbolicRejection(const std::optional<HyperbolicFit> &fitted, const std::vector<SeriesPoint> &period,
                            double maxIntervalPercent);
QString asaokaRejection(const std::vector<SeriesPoint> &period, int step, double maxIntervalPercent);

// The fitted curves as the chart draws them, s at day t.
double hyperbolicAt(const HyperbolicFit &fit, SeriesPoint start, double t);
double asaokaAt(const AsaokaFit &fit, SeriesPoint start, int step, double t);

// The analysis as a table for people: the headings, and a row per point with
// its figures rounded for reading ("—" where a value is absent). The window,
// the workbook and the batch's text and CSV show this one table.
QStringList stabilityHeadings();
// A final settlement's 95 % interval as the table shows it: "-41.20～-38.80".
QString intervalText(double low, double high);
std::vector<QStringList> stabilityRows(const StabilityAnalysis &analysis);
// A forecast note the same on every row (of more than one) is said once,
// above the table: its column (the last) leaves the headings and the rows,
// and the note is returned; nothing changes, and nothing is returned, when
// the rows' notes differ.
QString sayForecastNoteOnce(QStringList &headings, std::vector<QStringList> &rows);
// Why a point's forecasts are not given, in words; empty when both are.
QString forecastNote(const PointStability &point);
// The settings as one line: "稳定天数 100 d，稳定速率 0.04 mm/d，预测步长 30 d".
QString stabilitySettingsLine(const StabilitySettings &settings);
// The point whose largest rate over the window is the fastest (either way), or none.
const PointStability *fastestPoint(const StabilityAnalysis &analysis);
// The points judged not stable, the most settled first, at most `atMost`:
// those whose charts a report shows.
std::vector<const PointStability *> mostSettledUnstable(const StabilityAnalysis &analysis, size_t atMost);
// The analysis as JSON, every number unrounded, null for an absent value.
QByteArray stabilityJson(const StabilityAnalysis &analysis);
