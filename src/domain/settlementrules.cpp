#include "domain/settlementrules.h"

#include <algorithm>
#include <cmath>

PointValues TablePointValues(std::optional<double> first, std::optional<double> previous,
                             std::optional<double> current, int interval)
{
    PointValues values;
    values.first = first;
    values.previous = previous;
    values.current = current;
    if (!current)
        return values;
    if (first)
        values.cumulative = *current - *first;
    if (previous) {
        values.thisSettlement = *current - *previous;
        if (interval > 0)
            values.rate = (*current - *previous) / interval;
    }
    return values;
}

EpochAverages TableEpochAverages(const ProjectSnapshot &snapshot, int cjNo, int lastPoint,
                                 int interval)
{
    double thisSum = 0, cumulativeSum = 0, rateSum = 0;
    int thisCount = 0, cumulativeCount = 0;
    for (int j = 1; j <= lastPoint; ++j) {
        const auto hc = snapshot.elevation(cjNo, j);
        if (!hc)
            continue;
        if (const auto h0 = snapshot.elevation(0, j)) {
            cumulativeSum += *hc - *h0;
            ++cumulativeCount;
        }
        if (const auto hp = snapshot.elevation(cjNo - 1, j)) {
            thisSum += *hc - *hp;
            ++thisCount;
            if (interval > 0)
                rateSum += (*hc - *hp) / interval;
        }
    }
    EpochAverages averages;
    if (thisCount > 0)
        averages.thisTime = thisSum / thisCount * 1000;
    if (cumulativeCount > 0)
        averages.cumulative = cumulativeSum / cumulativeCount * 1000;
    if (thisCount > 0 && interval > 0)
        averages.rate = rateSum / thisCount * 1000;
    return averages;
}

std::optional<double> MeanSinkingRate(const ProjectSnapshot &snapshot, int index, int lastPoint)
{
    const Epoch &epoch = snapshot.epochs()[size_t(index)];
    if (epoch.cjNo == 0)
        return std::nullopt;
    const int previous = snapshot.epochIndex(epoch.cjNo - 1);
    if (previous < 0)
        return std::nullopt;
    double sum = 0;
    int count = 0;
    const std::vector<int> &numbers = snapshot.pointNumbers();
    for (size_t c = 0; c < numbers.size() && numbers[c] <= lastPoint; ++c) {
        const double h = snapshot.at(index, int(c));
        const double before = snapshot.at(previous, int(c));
        if (ProjectSnapshot::present(h) && ProjectSnapshot::present(before)) {
            sum += (before - h) * 1000;
            ++count;
        }
    }
    const int days = snapshot.dayCount(index > 0 ? index - 1 : 0, index);
    if (count == 0 || days <= 0)
        return std::nullopt;
    return sum / count / days;
}

std::optional<double> PreviousElevation(const ProjectSnapshot &snapshot, int cjNo, int cjdNo)
{
    const int column = snapshot.columnOf(cjdNo);
    if (column < 0)
        return std::nullopt;
    const std::vector<Epoch> &epochs = snapshot.epochs();
    for (int index = snapshot.epochCount() - 1; index >= 0; --index) {
        if (epochs[size_t(index)].cjNo >= cjNo)
            continue;
        const double h = snapshot.at(index, column);
        if (isMeasured(h))
            return h;
    }
    return std::nullopt;
}

std::vector<CurvePoint> SettlementCurve(const ProjectSnapshot &snapshot, int column)
{
    std::vector<CurvePoint> curve;
    std::optional<double> first;
    for (int e = 0; e < snapshot.epochCount(); ++e) {
        const double h = snapshot.at(e, column);
        if (!ProjectSnapshot::present(h))
            continue;
        if (!first)
            first = h;
        curve.push_back({e, snapshot.daysSinceFirst(e), (h - *first) * 1000});
    }
    return curve;
}

bool ImplausibleElevation(const PlausibilityReference &reference, double metres, const PlausibilityLimits &limits)
{
    return ImplausibleElevation(reference.elevation, metres,
                                reference.median ? limits.firstDeviation : limits.change);
}

bool ImplausibleElevation(std::optional<double> reference, double metres, double limit)
{
    if (!isMeasured(reference))
        return false;
    // In whole hundredths of a millimetre, so that a change of exactly the
    // limit is not made more by the binary fractions of the metres.
    if (std::round(std::fabs(metres - *reference) * 1e5) > std::round(limit * 1e5))
        return true;
    const double ratio = metres / *reference;
    return ratio > 100 || ratio < 0.01;
}

std::optional<double> MedianOfOthers(std::vector<double> values, double except)
{
    if (const auto self = std::find(values.begin(), values.end(), except); self != values.end())
        values.erase(self);
    if (values.empty())
        return std::nullopt;
    const size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + qsizetype(half), values.end());
    if (values.size() % 2 == 1)
        return values[half];
    const double upper = values[half];
    return (*std::max_element(values.begin(), values.begin() + qsizetype(half)) + upper) / 2;
}

std::optional<PlausibilityReference> ReferenceElevation(const ProjectSnapshot &snapshot, int cjNo, int cjdNo)
{
    if (const auto previous = PreviousElevation(snapshot, cjNo, cjdNo))
        return PlausibilityReference{*previous, false};
    const int index = snapshot.epochIndex(cjNo);
    const int own = snapshot.columnOf(cjdNo);
    if (index < 0)
        return std::nullopt;
    std::vector<double> others;
    for (int column = 0; column < int(snapshot.pointNumbers().size()); ++column) {
        const double h = snapshot.at(index, column);
        if (column != own && isMeasured(h))
            others.push_back(h);
    }
    if (others.empty())
        return std::nullopt;
    return PlausibilityReference{*MedianOfOthers(others, std::nan("")), true};
}

std::vector<QuestionableElevation> QuestionableElevations(const ProjectSnapshot &snapshot, int cjNo, int lastPoint,
                                                          const PlausibilityLimits &limits,
                                                          const std::map<int, double> &confirmed)
{
    std::vector<QuestionableElevation> questionable;
    const int index = snapshot.epochIndex(cjNo);
    if (index < 0)
        return questionable;
    for (const int cjdNo : snapshot.pointNumbers()) {
        if (cjdNo < 1 || cjdNo > lastPoint)
            continue;
        const double metres = snapshot.at(index, snapshot.columnOf(cjdNo));
        // A record of 0 counts as none in the figures, but was typed: a
        // slip like any other.
        if (std::isnan(metres))
            continue;
        if (const auto same = confirmed.find(cjdNo); same != confirmed.end() && same->second == metres)
            continue;
        const auto reference = ReferenceElevation(snapshot, cjNo, cjdNo);
        if (reference && ImplausibleElevation(*reference, metres, limits))
            questionable.push_back({cjdNo, metres, *reference});
    }
    return questionable;
}

QString QuestionableReason(const QuestionableElevation &questionable, const QString &unit)
{
    const QString unitText = unit == QLatin1String("mm") ? QStringLiteral(" mm") : QStringLiteral(" m");
    return QStringLiteral("高程变化异常：本次 %1%2，%3 %4%2，相差 %5 mm")
        .arg(FormatElevation(questionable.metres, unit), unitText,
             questionable.reference.median ? QStringLiteral("本次其他测点高程的中数为") : QStringLiteral("上次为"),
             FormatElevation(questionable.reference.elevation, unit),
             FormatSettlement(questionable.metres - questionable.reference.elevation));
}
