#include "domain/stability.h"

#include "base/textnumber.h"
#include "domain/deformation.h"
#include "domain/projectsnapshot.h"
#include "domain/settlement.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <limits>

// The day the hyperbolic fit slows to the stable rate.
static std::optional<QDate> stableDate(const PointStability &point, const ProjectSnapshot &snapshot,
                                       const StabilitySettings &settings);

namespace {

// What a least-squares coefficient can differ from its exact value by
// through rounding alone, relative to the data.
constexpr double negligible = 1e-9;

// Loaded floors compared as numbers when both are numbers ("6" and "6.0"),
// else as the texts typed.
bool sameFloors(const QString &a, const QString &b)
{
    const QString x = a.trimmed(), y = b.trimmed();
    if (isNumeric(x) && isNumeric(y))
        return leadingNumber(x) == leadingNumber(y);
    return x == y;
}

// Least squares of y = slope·x + intercept.
struct LineFit
{
    double slope = 0, intercept = 0, r2 = 0;
    // The covariance of slope and intercept from the residuals (n − 2
    // degrees of freedom); none with two points.
    double varSlope = 0, varIntercept = 0, covariance = 0;
    int dof = 0;
};
std::optional<LineFit> fitLine(const std::vector<double> &x, const std::vector<double> &y)
{
    const double n = double(x.size());
    if (x.size() < 2)
        return std::nullopt;
    double mx = 0, my = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= n;
    my /= n;
    // Sums about the means, so that large day counts lose no precision.
    double sxx = 0, sxy = 0, syy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sxx += (x[i] - mx) * (x[i] - mx);
        sxy += (x[i] - mx) * (y[i] - my);
        syy += (y[i] - my) * (y[i] - my);
    }
    if (!(sxx > 0))
        return std::nullopt;
    LineFit fit;
    fit.slope = sxy / sxx;
    fit.intercept = my - fit.slope * mx;
    double residual = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double e = y[i] - (fit.slope * x[i] + fit.intercept);
        residual += e * e;
    }
    fit.r2 = syy > 0 ? 1 - residual / syy : 1;
    fit.dof = int(x.size()) - 2;
    if (fit.dof > 0) {
        const double variance = residual / fit.dof;
        fit.varSlope = variance / sxx;
        fit.varIntercept = variance * (1 / n + mx * mx / sxx);
        fit.covariance = -mx * variance / sxx;
    }
    return fit;
}

} // namespace

double studentT975(int dof)
{
    // Student's t at 97.5 % (two-sided 95 %): the table to 30 degrees of
    // freedom, Cornish-Fisher's expansion beyond (within 1e-7 there).
    static const double table[] = {12.706205, 4.302653, 3.182446, 2.776445, 2.570582, 2.446912, 2.364624,
                                   2.306004,  2.262157, 2.228139, 2.200985, 2.178813, 2.160369, 2.144787,
                                   2.131450,  2.119905, 2.109816, 2.100922, 2.093024, 2.085963, 2.079614,
                                   2.073873,  2.068658, 2.063899, 2.059539, 2.055529, 2.051831, 2.048407,
                                   2.045230,  2.042272};
    if (dof < 1)
        return std::numeric_limits<double>::infinity();
    if (dof <= 30)
        return table[dof - 1];
    const double z = 1.959963984540054, v = dof;
    const double z2 = z * z, z3 = z2 * z, z5 = z3 * z2, z7 = z5 * z2, z9 = z7 * z2;
    return z + (z3 + z) / 4 / v + (5 * z5 + 16 * z3 + 3 * z) / 96 / (v * v)
           + (3 * z7 + 19 * z5 + 17 * z3 - 15 * z) / 384 / (v * v * v)
           + (79 * z9 + 776 * z7 + 1482 * z5 - 1920 * z3 - 945 * z) / 92160 / (v * v * v * v);
}

QString limitText(double limit)
{
    return QString::number(limit, 'g', 12);
}

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Stable:
        return QStringLiteral("稳定");
    case Verdict::Unstable:
        return QStringLiteral("未稳定");
    case Verdict::Insufficient:
        break;
    }
    return QStringLiteral("观测期不足");
}

std::optional<double> maxRate(const std::vector<SeriesPoint> &series, int window)
{
    if (series.empty())
        return std::nullopt;
    const double from = series.back().t - window;
    std::optional<double> largest;
    for (size_t i = 1; i < series.size(); ++i) {
        const SeriesPoint &a = series[i - 1], &b = series[i];
        if (!(b.t > a.t) || !(b.t > from))
            continue;
        const double rate = (b.s - a.s) / (b.t - a.t);
        if (!largest || std::fabs(rate) > std::fabs(*largest))
            largest = rate;
    }
    return largest;
}

std::optional<double> meanRate(const std::vector<SeriesPoint> &series, int window)
{
    if (series.empty())
        return std::nullopt;
    const SeriesPoint &last = series.back();
    for (size_t i = series.size(); i-- > 0;) {
        const SeriesPoint &p = series[i];
        if (p.t <= last.t - window && last.t > p.t)
            return (last.s - p.s) / (last.t - p.t);
    }
    return std::nullopt;
}

Verdict pointVerdict(const std::vector<SeriesPoint> &series, const StabilitySettings &settings)
{
    if (series.empty() || series.back().t < settings.window)
        return Verdict::Insufficient;
    const auto rate = maxRate(series, settings.window);
    if (!rate)
        return Verdict::Insufficient;
    return std::fabs(*rate) < settings.limit ? Verdict::Stable : Verdict::Unstable;
}

std::optional<HyperbolicFit> fitHyperbolic(const std::vector<SeriesPoint> &period)
{
    if (period.empty())
        return std::nullopt;
    const SeriesPoint start = period.front();
    std::vector<double> x, y;
    for (const SeriesPoint &p : period) {
        if (!(p.t > start.t) || p.s == start.s)
            continue;
        x.push_back(p.t - start.t);
        y.push_back((p.t - start.t) / (p.s - start.s));
    }
    if (x.size() < 3)
        return std::nullopt;
    const auto line = fitLine(x, y);
    // A slope that changes y by no more than rounding over the whole series
    // is a = 0: a settlement at a constant rate, which has no end.
    const double span = *std::max_element(x.begin(), x.end());
    if (!line || !std::isfinite(line->slope)
        || std::fabs(line->slope) * span <= negligible * std::fabs(line->intercept))
        return std::nullopt;
    HyperbolicFit fit;
    fit.a = line->slope;
    fit.b = line->intercept;
    fit.sInf = start.s + 1 / fit.a;
    fit.r2 = line->r2;
    // s∞ = s0 + 1/a: σ(s∞) = σ(a) / a² (the delta method).
    fit.s0 = start.s;
    fit.sInfHalfWidth = studentT975(line->dof) * std::sqrt(line->varSlope) / (fit.a * fit.a);
    return fit;
}

namespace {

// More samples than the resampling may take (the period's days over the step).
bool tooManySamples(const std::vector<SeriesPoint> &period, int step)
{
    return !((period.back().t - period.front().t) / step < double(maxAsaokaSamples));
}

} // namespace

namespace {

// The regression of Asaoka's method on the samples every `step` days.
std::optional<LineFit> asaokaLine(const std::vector<SeriesPoint> &period, int step)
{
    if (period.empty() || step <= 0)
        return std::nullopt;
    const SeriesPoint start = period.front();
    const double tLast = period.back().t;
    // Bounded work whatever the dates and the step.
    if (tooManySamples(period, step))
        return std::nullopt;
    // The period's entries from t0 on, by day; interpolation runs between
    // neighbours of different days.
    std::vector<SeriesPoint> known;
    for (const SeriesPoint &p : period)
        if (p.t >= start.t)
            known.push_back(p);
    std::stable_sort(known.begin(), known.end(),
                     [](const SeriesPoint &a, const SeriesPoint &b) { return a.t < b.t; });
    std::vector<double> samples;
    size_t i = 0; // known[i].t <= t < known[i + 1].t
    for (long long n = 0;; ++n) {
        const double t = start.t + double(n) * step;
        if (t > tLast)
            break;
        while (i + 1 < known.size() && known[i + 1].t <= t)
            ++i;
        if (i + 1 == known.size() || known[i].t == t) {
            samples.push_back(known[i].s);
            continue;
        }
        const SeriesPoint &a = known[i], &b = known[i + 1];
        samples.push_back(a.s + (b.s - a.s) * (t - a.t) / (b.t - a.t));
    }
    if (samples.size() < 4)
        return std::nullopt;
    std::vector<double> previous(samples.begin(), samples.end() - 1);
    std::vector<double> next(samples.begin() + 1, samples.end());
    return fitLine(previous, next);
}

} // namespace

std::optional<AsaokaFit> fitAsaoka(const std::vector<SeriesPoint> &period, int step)
{
    const auto line = asaokaLine(period, step);
    // β1 within rounding of 1 is 1: no end.
    if (!line || !(line->slope > 0 && line->slope < 1 - negligible))
        return std::nullopt;
    AsaokaFit fit;
    fit.beta1 = line->slope;
    fit.beta0 = line->intercept;
    fit.sInf = fit.beta0 / (1 - fit.beta1);
    fit.r2 = line->r2;
    // s∞ = β0 / (1 − β1): its gradient against the covariance of β0, β1.
    fit.s0 = period.front().s;
    const double g0 = 1 / (1 - fit.beta1), g1 = fit.beta0 / ((1 - fit.beta1) * (1 - fit.beta1));
    const double variance =
        g0 * g0 * line->varIntercept + g1 * g1 * line->varSlope + 2 * g0 * g1 * line->covariance;
    fit.sInfHalfWidth = studentT975(line->dof) * std::sqrt(std::max(variance, 0.0));
    return fit;
}

namespace {

// How many epochs of the period a fit could use: those after its start
// with a day and a settlement of their own.
int fitEpochs(const std::vector<SeriesPoint> &period)
{
    int count = period.empty() ? 0 : 1;
    for (size_t i = 1; i < period.size(); ++i)
        count += period[i].t > period.front().t ? 1 : 0;
    return count;
}

QString tooFewEpochs(const std::vector<SeriesPoint> &period)
{
    return QStringLiteral("拟合点数不足（%1 次观测，至少 %2 次）").arg(fitEpochs(period)).arg(minimumFitEpochs);
}

// A final settlement short of, or on the other side of, what the point has
// already done: its last settlement from the period's start, in the
// direction it has moved, by more than the hundredth of a millimetre the
// settlements are read to (a point at rest is predicted where it is).
constexpr double settlementResolution = 0.01; // mm
bool shortOfObserved(double sInf, const std::vector<SeriesPoint> &period)
{
    const double start = period.front().s, last = period.back().s;
    const double moved = last - start;
    if (moved == 0)
        return false;
    return (sInf - last) * (moved > 0 ? 1 : -1) < -settlementResolution;
}

// A final settlement whose 95 % interval is wider than the setting allows,
// as a share of the settlement it forecasts from the period's start.
QString uncertain(double sInf, double s0, double halfWidth, double maxPercent)
{
    const double share = std::fabs(sInf - s0) > 0 ? halfWidth / std::fabs(sInf - s0) * 100
                                                  : std::numeric_limits<double>::infinity();
    if (std::isfinite(halfWidth) && share <= maxPercent)
        return {};
    return std::isfinite(share) ? QStringLiteral("预测终值不确定：±%1 %（上限 %2 %）").arg(formatFixed(share, 0), formatFixed(maxPercent, 0))
                                : QStringLiteral("预测终值不确定：区间无法估计");
}

} // namespace

QString hyperbolicRejection(const std::optional<HyperbolicFit> &fitted, const std::vector<SeriesPoint> &period,
                            double maxIntervalPercent)
{
    if (fitEpochs(period) < minimumFitEpochs)
        return tooFewEpochs(period);
    if (!fitted || !std::isfinite(fitted->sInf))
        return QStringLiteral("沉降速率不减，曲线无终值");
    // y = a·x + b: the curve s − s0 = x ÷ (a·x + b) has a pole at x = −b/a,
    // in the fit period or the future unless a and b have one sign.
    if (!(fitted->a * fitted->b > 0))
        return QStringLiteral("曲线有奇点");
    if (shortOfObserved(fitted->sInf, period))
        return QStringLiteral("预测值小于已发生沉降");
    return uncertain(fitted->sInf, fitted->s0, fitted->sInfHalfWidth, maxIntervalPercent);
}

QString asaokaRejection(const std::vector<SeriesPoint> &period, int step, double maxIntervalPercent)
{
    if (fitEpochs(period) < minimumFitEpochs)
        return tooFewEpochs(period);
    if (period.empty() || tooManySamples(period, step))
        return QStringLiteral("取样过多，未计算");
    const auto line = asaokaLine(period, step);
    if (!line)
        return QStringLiteral("按预测步长 %1 d 取样不足 4 个").arg(step);
    if (!(line->slope > 0 && line->slope < 1 - negligible))
        return QStringLiteral("β₁ = %1 不在 0 与 1 之间，曲线无终值").arg(formatFixed(line->slope, 4));
    const double sInf = line->intercept / (1 - line->slope);
    if (!std::isfinite(sInf) || shortOfObserved(sInf, period))
        return QStringLiteral("预测值小于已发生沉降");
    const auto fit = fitAsaoka(period, step);
    if (!fit)
        return QStringLiteral("β₁ 不在 0 与 1 之间，曲线无终值");
    return uncertain(fit->sInf, fit->s0, fit->sInfHalfWidth, maxIntervalPercent);
}

double hyperbolicAt(const HyperbolicFit &fit, SeriesPoint start, double t)
{
    const double x = t - start.t;
    return start.s + x / (fit.a * x + fit.b);
}

double asaokaAt(const AsaokaFit &fit, SeriesPoint start, int step, double t)
{
    return fit.sInf - (fit.sInf - start.s) * std::pow(fit.beta1, (t - start.t) / step);
}

namespace {

// The point's forecasts from its epochs of the constant-load period, each
// kept only where it can be trusted, with the reason where not; and the
// date it becomes stable.
void forecast(PointStability &point, const std::vector<SeriesPoint> &period, const ProjectSnapshot &snapshot,
              const StabilitySettings &settings, QStringList *notes)
{
    if (period.empty()) {
        point.hyperbolicReason = point.asaokaReason = tooFewEpochs(period);
    } else {
        point.loadStart = period.front();
        point.hyperbolic = fitHyperbolic(period);
        point.hyperbolicReason = hyperbolicRejection(point.hyperbolic, period, settings.maxIntervalPercent);
        if (!point.hyperbolicReason.isEmpty()) {
            point.hyperbolicRefused = point.hyperbolic;
            point.hyperbolic.reset();
        }
        point.asaokaReason = asaokaRejection(period, settings.step, settings.maxIntervalPercent);
        if (point.asaokaReason.isEmpty())
            point.asaoka = fitAsaoka(period, settings.step);
        else if (fitEpochs(period) >= minimumFitEpochs && !tooManySamples(period, settings.step))
            point.asaokaRefused = fitAsaoka(period, settings.step);
        if (point.hyperbolic && point.verdict == Verdict::Unstable && point.hyperbolic->a < 0) {
            // A sinking point's fit that says its rate fell below the
            // limit before the last epoch, which the observed rate
            // denies, is not trusted.
            const auto days = daysToStability(-point.hyperbolic->a, -point.hyperbolic->b, settings.limit);
            if (!days || point.loadStart->t + *days < point.tLast) {
                point.hyperbolicRefused = point.hyperbolic;
                point.hyperbolic.reset();
                point.hyperbolicReason = QStringLiteral("拟合所示稳定日期早于末次观测，与实测速率不符");
            }
        }
        point.stableDate = stableDate(point, snapshot, settings);
        if (point.stableDate)
            if (const auto first = calendarDate(snapshot.epochs().front().date))
                point.stableDay = double(first->daysTo(*point.stableDate));
        if (!point.asaoka && tooManySamples(period, settings.step))
            *notes << QStringLiteral("测点 %1：阿萨奥卡法需取样超过 %2 个（预测步长 %3 d），未计算")
                                  .arg(point.name)
                                  .arg(maxAsaokaSamples)
                                  .arg(settings.step);
    }
}

} // namespace

StabilityAnalysis analyseStability(const ProjectSnapshot &snapshot,
                                   const StabilitySettings &settings, int lastPoint)
{
    StabilityAnalysis analysis;
    analysis.settings = settings;
    const int epochs = snapshot.epochCount();
    if (epochs == 0)
        return analysis;
    // Days after the first epoch, once per epoch.
    std::vector<double> days(size_t(epochs), 0.0);
    for (int k = 1; k < epochs; ++k)
        days[size_t(k)] = snapshot.dayCount(0, k);
    // The constant-load period: from the first epoch loaded as the last one.
    const QString &lastFloors = snapshot.epochs().back().layers;
    int periodStart = epochs - 1;
    for (int k = 0; k < epochs; ++k)
        if (sameFloors(snapshot.epochs()[size_t(k)].layers, lastFloors)) {
            periodStart = k;
            break;
        }

    // Epochs of an unusable date are left out, and told.
    std::vector<bool> usable(size_t(epochs), true);
    for (int k = 0; k < epochs; ++k) {
        if (snapshot.hasUsableDate(k))
            continue;
        const Epoch &epoch = snapshot.epochs()[size_t(k)];
        usable[size_t(k)] = false;
        analysis.notes << QStringLiteral("观测“%1”的日期“%2”不是 %3–%4 年间的年-月-日，未列入分析")
                              .arg(epoch.name, epoch.date)
                              .arg(firstUsableYear)
                              .arg(lastUsableYear);
    }
    if (!usable[0])
        return analysis; // every day counts from the first epoch
    bool anyStable = false, anyUnstable = false;
    for (const int number : snapshot.pointNumbers()) {
        if (number < 1 || number > lastPoint)
            continue;
        const int column = snapshot.columnOf(number);
        const double first = snapshot.at(0, column);
        if (!isMeasured(first)) {
            // Settlement counts from the first epoch: a point first observed
            // later has none to judge, and is told as such.
            bool observed = false;
            for (int k = 1; k < epochs && !observed; ++k)
                observed = isMeasured(snapshot.at(k, column));
            if (observed)
                analysis.leftOut.emplace_back(snapshot.point(number) ? snapshot.point(number)->name
                                                                   : QString::number(number),
                                            QStringLiteral("首次观测没有高程"));
            continue;
        }
        PointStability point;
        point.number = number;
        if (const Point *record = snapshot.point(number))
            point.name = record->name;
        for (int k = 0; k < epochs; ++k) {
            const double h = snapshot.at(k, column);
            if (usable[size_t(k)] && isMeasured(h))
                point.series.push_back({days[size_t(k)], (h - first) * 1000, k});
        }
        point.tLast = point.series.back().t;
        point.sLast = point.series.back().s;
        point.maxRate = maxRate(point.series, settings.window);
        point.meanRate = meanRate(point.series, settings.window);
        point.verdict = pointVerdict(point.series, settings);
        anyStable |= point.verdict == Verdict::Stable;
        anyUnstable |= point.verdict == Verdict::Unstable;

        std::vector<SeriesPoint> period;
        for (const SeriesPoint &p : point.series)
            if (p.epoch >= periodStart)
                period.push_back(p);
        forecast(point, period, snapshot, settings, &analysis.notes);
        analysis.points.push_back(std::move(point));
    }
    analysis.building =
        anyUnstable ? Verdict::Unstable : (anyStable ? Verdict::Stable : Verdict::Insufficient);
    return analysis;
}

namespace {

const QString none = QStringLiteral("—");

QString fixedOrNone(const std::optional<double> &value, int decimals)
{
    return value && std::isfinite(*value) ? formatFixed(*value, decimals) : none;
}

QJsonValue numberOrNull(const std::optional<double> &value)
{
    return value && std::isfinite(*value) ? QJsonValue(*value) : QJsonValue();
}

} // namespace

static std::optional<QDate> stableDate(const PointStability &point, const ProjectSnapshot &snapshot,
                                       const StabilitySettings &settings)
{
    if (!point.hyperbolic || !point.loadStart || point.verdict == Verdict::Stable)
        return std::nullopt;
    // The fit y = a·τ + b on y = τ / (s − s0) with s negative when sinking
    // is, on sinking magnitudes, τ / (−a·τ − b).
    const auto days = daysToStability(-point.hyperbolic->a, -point.hyperbolic->b, settings.limit);
    const auto first = calendarDate(snapshot.epochs().front().date);
    if (!days || !first || !(*days < 1e6))
        return std::nullopt;
    // A date before the last epoch is never shown: the observed rate says
    // the point has not come to rest.
    const double t = point.loadStart->t + *days;
    if (t < point.tLast)
        return std::nullopt;
    return first->addDays(std::llround(t));
}

QStringList stabilityHeadings()
{
    return {QStringLiteral("点号"),
            QStringLiteral("点名"),
            QStringLiteral("观测天数(d)"),
            QStringLiteral("累计沉降(mm)"),
            QStringLiteral("最大速率(mm/d)"),
            QStringLiteral("平均速率(mm/d)"),
            QStringLiteral("稳定性"),
            QStringLiteral("双曲线法预测(mm)"),
            QStringLiteral("R²"),
            QStringLiteral("Asaoka法预测(mm)"),
            QStringLiteral("预计稳定日期"),
            QStringLiteral("双曲线法95%区间(mm)"),
            QStringLiteral("Asaoka法95%区间(mm)"),
            QStringLiteral("预测说明")};
}

QString forecastNote(const PointStability &point)
{
    QStringList reasons;
    if (!point.hyperbolicReason.isEmpty())
        reasons << QStringLiteral("双曲线法：") + point.hyperbolicReason;
    if (!point.asaokaReason.isEmpty())
        reasons << QStringLiteral("Asaoka法：") + point.asaokaReason;
    return reasons.join(QStringLiteral("；"));
}

QString intervalText(double low, double high)
{
    return formatFixed(low, 2) + QStringLiteral("～") + formatFixed(high, 2);
}

std::vector<QStringList> stabilityRows(const StabilityAnalysis &analysis)
{
    std::vector<QStringList> rows;
    rows.reserve(analysis.points.size());
    for (const PointStability &p : analysis.points) {
        rows.push_back({QString::number(p.number), p.name, formatFixed(p.tLast, 0),
                        formatFixed(p.sLast, 2), fixedOrNone(p.maxRate, 4),
                        fixedOrNone(p.meanRate, 4), verdictText(p.verdict),
                        fixedOrNone(p.hyperbolic ? std::optional(p.hyperbolic->sInf) : std::nullopt, 2),
                        fixedOrNone(p.hyperbolic ? std::optional(p.hyperbolic->r2) : std::nullopt, 4),
                        fixedOrNone(p.asaoka ? std::optional(p.asaoka->sInf) : std::nullopt, 2),
                        p.stableDate ? p.stableDate->toString(Qt::ISODate) : none,
                        p.hyperbolic ? intervalText(p.hyperbolic->sInfLow(), p.hyperbolic->sInfHigh()) : none,
                        p.asaoka ? intervalText(p.asaoka->sInfLow(), p.asaoka->sInfHigh()) : none,
                        forecastNote(p)});
    }
    return rows;
}

QString stabilitySettingsLine(const StabilitySettings &settings)
{
    return QStringLiteral("稳定天数 %1 d，稳定速率 %2 mm/d，预测步长 %3 d，预测区间上限 %4 %")
        .arg(settings.window)
        .arg(limitText(settings.limit))
        .arg(settings.step)
        .arg(limitText(settings.maxIntervalPercent));
}

QByteArray stabilityJson(const StabilityAnalysis &analysis)
{
    QJsonArray points;
    for (const PointStability &p : analysis.points) {
        QJsonObject point{{QStringLiteral("number"), p.number},
                          {QStringLiteral("name"), p.name},
                          {QStringLiteral("t_last"), p.tLast},
                          {QStringLiteral("s_last"), p.sLast},
                          {QStringLiteral("max_rate"), numberOrNull(p.maxRate)},
                          {QStringLiteral("mean_rate"), numberOrNull(p.meanRate)},
                          {QStringLiteral("verdict"), verdictText(p.verdict)}};
        point.insert(QStringLiteral("hyperbolic"),
                     p.hyperbolic ? QJsonValue(QJsonObject{{QStringLiteral("a"), p.hyperbolic->a},
                                                           {QStringLiteral("b"), p.hyperbolic->b},
                                                           {QStringLiteral("s_inf"), p.hyperbolic->sInf},
                                                           {QStringLiteral("s_inf_low"), p.hyperbolic->sInfLow()},
                                                           {QStringLiteral("s_inf_high"), p.hyperbolic->sInfHigh()},
                                                           {QStringLiteral("r2"), p.hyperbolic->r2},
                                                           {QStringLiteral("stable_date"),
                                                            p.stableDate ? QJsonValue(p.stableDate->toString(Qt::ISODate))
                                                                         : QJsonValue()}})
                                  : QJsonValue());
        point.insert(QStringLiteral("asaoka"),
                     p.asaoka ? QJsonValue(QJsonObject{{QStringLiteral("beta0"), p.asaoka->beta0},
                                                       {QStringLiteral("beta1"), p.asaoka->beta1},
                                                       {QStringLiteral("s_inf"), p.asaoka->sInf},
                                                       {QStringLiteral("s_inf_low"), p.asaoka->sInfLow()},
                                                       {QStringLiteral("s_inf_high"), p.asaoka->sInfHigh()},
                                                       {QStringLiteral("r2"), p.asaoka->r2}})
                              : QJsonValue());
        // A refused fit's figures, so that a reader sees what was refused.
        const auto finite = [](double v) { return std::isfinite(v) ? QJsonValue(v) : QJsonValue(); };
        point.insert(QStringLiteral("hyperbolic_refused"),
                     p.hyperbolicRefused
                         ? QJsonValue(QJsonObject{{QStringLiteral("a"), p.hyperbolicRefused->a},
                                                  {QStringLiteral("b"), p.hyperbolicRefused->b},
                                                  {QStringLiteral("s_inf"), finite(p.hyperbolicRefused->sInf)},
                                                  {QStringLiteral("s_inf_low"), finite(p.hyperbolicRefused->sInfLow())},
                                                  {QStringLiteral("s_inf_high"), finite(p.hyperbolicRefused->sInfHigh())},
                                                  {QStringLiteral("r2"), p.hyperbolicRefused->r2}})
                         : QJsonValue());
        point.insert(QStringLiteral("asaoka_refused"),
                     p.asaokaRefused
                         ? QJsonValue(QJsonObject{{QStringLiteral("beta0"), p.asaokaRefused->beta0},
                                                  {QStringLiteral("beta1"), p.asaokaRefused->beta1},
                                                  {QStringLiteral("s_inf"), finite(p.asaokaRefused->sInf)},
                                                  {QStringLiteral("s_inf_low"), finite(p.asaokaRefused->sInfLow())},
                                                  {QStringLiteral("s_inf_high"), finite(p.asaokaRefused->sInfHigh())},
                                                  {QStringLiteral("r2"), p.asaokaRefused->r2}})
                         : QJsonValue());
        // Why a forecast is not given: null when it is.
        const auto reason = [](const QString &text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); };
        point.insert(QStringLiteral("hyperbolic_reason"), reason(p.hyperbolicReason));
        point.insert(QStringLiteral("asaoka_reason"), reason(p.asaokaReason));
        points.append(point);
    }
    const QJsonObject root{
        {QStringLiteral("building"),
         QJsonObject{{QStringLiteral("verdict"), verdictText(analysis.building)}}},
        {QStringLiteral("settings"),
         QJsonObject{{QStringLiteral("window"), analysis.settings.window},
                     {QStringLiteral("limit"), analysis.settings.limit},
                     {QStringLiteral("step"), analysis.settings.step},
                     {QStringLiteral("max_interval_percent"), analysis.settings.maxIntervalPercent}}},
        {QStringLiteral("points"), points},
        {QStringLiteral("notes"), QJsonArray::fromStringList(analysis.notes)}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

const PointStability *fastestPoint(const StabilityAnalysis &analysis)
{
    const PointStability *fastest = nullptr;
    for (const PointStability &p : analysis.points)
        if (p.maxRate && (!fastest || std::abs(*p.maxRate) > std::abs(*fastest->maxRate)))
            fastest = &p;
    return fastest;
}

std::vector<const PointStability *> mostSettledUnstable(const StabilityAnalysis &analysis, size_t atMost)
{
    std::vector<const PointStability *> unstable;
    for (const PointStability &point : analysis.points)
        if (point.verdict == Verdict::Unstable)
            unstable.push_back(&point);
    std::stable_sort(unstable.begin(), unstable.end(),
                     [](const PointStability *a, const PointStability *b) { return a->sLast < b->sLast; });
    if (unstable.size() > atMost)
        unstable.resize(atMost);
    return unstable;
}

QString sayForecastNoteOnce(QStringList &headings, std::vector<QStringList> &rows)
{
    if (rows.size() < 2 || rows.front().isEmpty())
        return {};
    const QString note = rows.front().back();
    if (note.isEmpty())
        return {};
    for (const QStringList &row : rows)
        if (row.isEmpty() || row.back() != note)
            return {};
    headings.removeLast();
    for (QStringList &row : rows)
        row.removeLast();
    return note;
}
