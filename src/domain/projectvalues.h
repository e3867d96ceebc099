#pragma once

// domain/: the project's values (epochs, points, elevations, positions) and
// the pure computations over them: settlement quantities, the rules of each
// output, stability and forecasts, deformation and alarms, the monitoring
// model. No SQL, no files, no widgets: the stores and the readers of files
// above this floor speak these types.

#include <QString>

#include <optional>

// One observation epoch, a row of Sur1.
// Elevations beyond a billion metres are no measurement (and would overflow
// the settlements worked out from them).
constexpr double maxElevation = 1e9;
// A finite elevation within that bound: what may be stored, shown and
// drawn; the one bound of every writer and of the loader.
bool usableElevation(double metres);

struct Epoch
{
    int cjNo = 0;
    QString date;   // MyDate, yyyy-mm-dd as typed
    QString name;   // Name
    QString layers; // Layers: the load floors as typed (a number as written)
};

// One elevation, a row of Sur2; PointH in metres.
struct Elevation
{
    int cjNo = 0;
    int cjdNo = 0;
    double pointH = 0;
};

// Where a point stands in the building's own grid: metres, X to the right,
// Y up (any local system).
struct Position
{
    double x = 0;
    double y = 0;
    bool operator==(const Position &) const = default;
};

// One settlement point, a row of Sur3; its position from the nullable X and
// Y (none in a project file written before positions were kept).
struct Point
{
    int cjdNo = 0;
    QString name;
    int aci = 0;
    QString mark;
    std::optional<Position> position = std::nullopt;
};

struct Rgb
{
    int r = 0;
    int g = 0;
    int b = 0;
    bool operator==(const Rgb &) const = default;
};
