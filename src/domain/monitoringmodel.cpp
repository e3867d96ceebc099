#include "domain/monitoringmodel.h"

MonitoringModel monitoringModel(const ProjectSnapshot &snapshot, const DeformationSettings &deformation,
                                const MonitoringRequest &request)
{
    return monitoringModel(
        snapshot, deformation, request,
        std::make_shared<const StabilityAnalysis>(analyseStability(snapshot, request.stability, request.lastPoint)));
}

MonitoringModel monitoringModel(const ProjectSnapshot &snapshot, const DeformationSettings &deformation,
                                const MonitoringRequest &request,
                                std::shared_ptr<const StabilityAnalysis> stability)
{
    MonitoringModel model;
    model.deformation = deformation;
    model.stability = std::move(stability);
    model.placed = placedPointCount(snapshot) >= 3;
    if (!deformation.problem.isEmpty())
        model.warnings << deformation.problem;
    model.warnings += model.stability->notes;
    if (snapshot.epochCount() == 0)
        return model;
    model.epochIndex = request.epochIndex.value_or(snapshot.epochCount() - 1);
    model.figures = planFigures(snapshot, model.epochIndex, deformation.thresholds, deformation.notNeighbours,
                                request.contourStep ? request.contourStep : deformation.contourStep,
                                model.stability.get());
    if (request.history)
        model.history = analyseDeformation(snapshot, deformation.thresholds, deformation.notNeighbours,
                                           model.stability.get());
    return model;
}
