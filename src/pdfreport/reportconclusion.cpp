#include "pdfreport/reportconclusion.h"

#include "base/textnumber.h"
#include "domain/buildingdeformation.h"
#include "domain/deformation.h"
#include "domain/stability.h"

#include <cmath>

// The conclusion's sentences from the model's figures at the last epoch,
// each naming the points it is over; `named` gets every alarm in words.
QStringList conclusionSentences(const MonitoringModel &model, const ProjectSnapshot &snapshot, const Epoch &lastEpoch,
                                const ReportTexts &t, QStringList *named)
{
    const StabilityAnalysis &analysis = *model.stability;
    const DeformationSettings &deformation = model.deformation;
    const PlanFigures &figures = model.figures;
    const bool placed = model.placed;
    // The last epoch's figures as the plan and the deformation section
    // have them, each sentence naming the points it is over.
    QStringList sentences;
    const EpochDeformation &at = figures.deformation;
    if (at.settledLargest >= 0 && at.settledAverageMm) {
        const auto &largest = at.settled[size_t(at.settledLargest)];
        const Point *point = snapshot.point(largest.number);
        sentences << t.largest.arg(lastEpoch.name, lastEpoch.date,
                                   point ? point->name : QString::number(largest.number),
                                   formatFixed(largest.sMm, 2))
                         .arg(at.settled.size())
                         .arg(formatFixed(*at.settledAverageMm, 2));
    }
    if (placed && at.largest >= 0 && at.averageMm && at.points.size() < at.settled.size())
        sentences << t.largestPlaced.arg(at.points.size())
                         .arg(at.points[size_t(at.largest)].name, formatFixed(at.points[size_t(at.largest)].sMm, 2),
                              formatFixed(*at.averageMm, 2));
    if (const PointStability *fastest = fastestPoint(analysis))
        sentences << t.largestRate.arg(analysis.settings.window).arg(fastest->name, formatFixed(*fastest->maxRate, 4));
    sentences << t.verdict.arg(limitText(analysis.settings.limit), verdictText(analysis.building));
    if (placed && figures.deformation.tilt && !(figures.deformation.tilt->value > 0)) {
        sentences << t.noTilt.arg(figures.deformation.points.size());
    } else if (placed && figures.deformation.tilt) {
        const auto &limit = deformation.thresholds.tilt;
        sentences << t.tilt.arg(formatFixed(figures.deformation.tilt->value * 1000, 3),
                                azimuthText(figures.deformation.tilt->azimuthDeg),
                                limit ? t.tiltLimit.arg(formatFixed(*limit * 1000, 3),
                                                        deformation.thresholds.tiltLimit
                                                                && std::abs(deformation.thresholds.tiltLimit->value
                                                                            - *limit) <= 1e-12
                                                            ? deformation.thresholds.tiltLimit->source
                                                            : t.tiltAlarmValue)
                                      : (deformation.thresholds.tiltReason.isEmpty()
                                             ? t.tiltNoLimit
                                             : deformation.thresholds.tiltReason + QStringLiteral("。")))
                         .arg(figures.deformation.points.size());
    }
    // The alarms the plan shows: the one computation of them.
    const std::vector<Alarm> &alarms = figures.alarms;
    for (const Alarm &alarm : alarms)
        *named << alarmText(alarm, snapshot);
    // A sentence names a few; a large project's alarms fill a table
    // that runs over as many pages as they need.
    if (alarms.empty())
        sentences << t.noAlarms;
    else if (named->size() <= alarmsNamedInSentence)
        sentences << t.alarms.arg(alarms.size()).arg(named->join(QStringLiteral("；")));
    else
        sentences << t.manyAlarms.arg(alarms.size())
                         .arg(alarmsNamedInSentence)
                         .arg(named->mid(0, alarmsNamedInSentence).join(QStringLiteral("；")), t.alarmList);
    return sentences;
}

