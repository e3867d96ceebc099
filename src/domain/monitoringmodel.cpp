#include "domain/monitoringmodel.h"

MonitoringModel monitoringModel(const ProjectSnapshot &snapshot, const DeformationSettings &deformation,
                                const MonitoringRequest &request)
{
    MonitoringModel model;
    model.deformation = deformation;
    model.stability = analyseStability(snapshot, request.stability, request.lastPoint);
    model.placed = placedPointCount(snapshot) >= 3;
    if (!deformation.problem.isEmpty())
        model.warnings << deformation.problem;
    model.warnings += model.stability.notes;
    if (snapshot.epochCount() == 0)
        return model;
    model.epochIndex = request.epochIndex.value_or(snapshot.epochCount() - 1);
    model.figures = planFigures(snapshot, model.epochIndex, deformation.thresholds, deformation.notNeighbours,
                                request.contourStep ? request.contourStep : deformation.contourStep,
                                &model.stability);
    if (request.history)
        model.history = analyseDeformation(snapshot, deformation.thresholds, deformation.notNeighbours,
                                           &model.stability);
    return model;
}
