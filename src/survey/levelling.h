#pragma once

// The digital level's raw files (Leica GSI-8/GSI-16, Trimble DiNi M5), the
// station checks, the lines and loops between named points with their
// misclosure, and the adjustment of the heights. Uses base/.

#include "base/result.h"
#include "project/projectdb.h"
#include "survey/observationimport.h"

#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <set>
#include <vector>

// One reading as the level recorded it, in metres.
struct LevelReading
{
    enum Kind { Back1, Fore1, Back2, Fore2, Intermediate };
    Kind kind = Back1;
    QString point;
    double reading = 0;              // staff reading, m
    std::optional<double> distance;  // sight length, m
    int line = 0;                    // line of the file, for messages
};

// A file's readings in order; a new levelling line starts at each index of
// `lineStarts` (the first reading always starts one). `startHeights`:
// heights the surveyor entered on the level (GSI word 83..58).
struct LevelFile
{
    QString path;
    std::vector<LevelReading> readings;
    std::vector<size_t> lineStarts;
    std::map<QString, double> startHeights;
};

// Reads a GSI-8, GSI-16 or DiNi M5 file, told apart by their content.
// Errors name the file, the line and the word. At most `maxReadings`
// readings are taken from a file.
constexpr size_t maxReadings = 1'000'000;
Result<LevelFile> readLevelFile(const QString &path);
Result<LevelFile> parseGsi(const QByteArray &content, const QString &path);
Result<LevelFile> parseDini(const QByteArray &content, const QString &path);

// The limits of a levelling grade; a limit not set is not checked.
struct LevelGrade
{
    QString name;
    std::optional<double> sightMin, sightMax;          // m
    std::optional<double> sightDiffMax, cumDiffMax;    // m
    std::optional<double> lineOfSightMin, lineOfSightMax; // m
    std::optional<double> stationDiffMax;              // mm
    double closureK = 4;                               // mm
    bool closureByStations = false;                    // k·√n, else k·√L (km)
    double tolerance(int stations, double lengthM) const;
};
// The grades shipped with the program (from secondary sources: check them
// against the standard in use).
std::vector<LevelGrade> defaultGrades();
// The program-wide table of grades, a JSON file the user edits through the
// levelling dialog; the shipped grades while there is no file.
Result<std::vector<LevelGrade>> readGrades(const QString &path);
Result<void> writeGrades(const QString &path, const std::vector<LevelGrade> &grades);

struct Station
{
    int no = 0; // from 1, over all files
    QString back, fore;
    std::optional<double> b1, f1, b2, f2; // readings, m
    std::optional<double> backDistance, foreDistance; // m
    std::vector<LevelReading> intermediates;
    double dh = 0;                        // m
    std::optional<double> stationDiffMm;  // (B1 − F1) − (B2 − F2), mm
    std::optional<double> sightDiff;      // back − fore, m
    double cumSightDiff = 0;              // m, over the line
    QStringList violations;
    int lineIndex = 0;
    double length() const { return backDistance.value_or(0) + foreDistance.value_or(0); }
};

// A run of stations between two network points.
struct Section
{
    QString from, to;
    double dh = 0;   // m
    int stations = 0;
    double length = 0; // m
    std::vector<int> stationIndices;
    double correction = 0; // m, from the adjustment
    std::optional<double> standardised; // the correction over its own standard deviation
};

struct LevelLine
{
    QString from, to;
    int stations = 0;
    double length = 0;
    std::optional<double> misclosureMm; // attached between fixed points, or a closed loop
    std::optional<double> toleranceMm;
    bool within = true;
};

// An independent loop of the network (a fundamental cycle of its sections,
// the fixed points joined through their known heights): its misclosure
// against the grade's tolerance. `points` names the loop's way round.
struct LevelLoop
{
    QStringList points;
    int stations = 0;
    double length = 0;
    double misclosureMm = 0;
    double toleranceMm = 0;
    bool within = true;
};

struct LevelSettings
{
    LevelGrade grade;
    bool byDistance = false;                  // weights 1/L, else 1/n
    std::map<QString, double> fixed;          // benchmark heights, m
    std::set<QString> knownPoints;            // the project's point names: network points
};

struct LevelResult
{
    std::vector<Station> stations;
    std::vector<Section> sections;
    std::vector<LevelLine> lines;
    std::vector<LevelLoop> loops;             // as many as the network has redundant sections
    std::map<QString, double> heights;        // network points, m (turning points are none)
    std::map<QString, double> sigmaMm;        // standard deviation of each adjusted height
    std::map<QString, double> intermediates;  // unchecked heights of intermediate sights
    std::optional<double> sigma0Mm;           // per station (or per km by distance)
    int dof = 0;
};

// A point id as the matching compares it: without case and leading zeros.
QString pointKey(const QString &id);
// A turning point of the instrument (1, 2 …, TP3) that is no network point.
bool isTurningPoint(const QString &id, const LevelSettings &settings);

// Stations, sections, lines and the least-squares heights of the files.
// Refused, with the reason, without a fixed point or with a network point
// not connected to one.
Result<LevelResult> adjustLevelling(const std::vector<LevelFile> &files,
                                    const LevelSettings &settings);

// The project's point each network point of the result names, matched
// without case and leading zeros (the first point by number of a name);
// ids no point has are left out.
std::map<QString, const Point *> projectPointsOf(const LevelResult &result,
                                                 const std::vector<Point> &points);
// Those points' heights as rows for the observation import, in metres.
std::vector<ImportRow> levelImportRows(const LevelResult &result,
                                       const std::map<QString, const Point *> &matched);

// The result as JSON, numbers unrounded.
QByteArray levelJson(const LevelResult &result);
