#pragma once

// The digital level's raw files (Leica GSI-8/GSI-16, Trimble DiNi M5), the
// station checks, the lines and loops between named points with their
// misclosure, and the adjustment of the heights. Uses base/.

#include "base/result.h"
#include "domain/projectvalues.h"
#include "survey/observationimport.h"

#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <set>
#include <vector>

class QIODevice;

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

// One levelling line as the file records it: its readings in order (a line
// the level continued later in the file gathers the readings of every part)
// and what the level computed for it itself.
struct RecordedLine
{
    int number = 0;        // the level's line number (DiNi), else its place in the file
    QString method;        // as the level names it: BF, aBF, BFFB, aBFFB …
    int perSight = 0;      // readings of each sight by the method: 1 or 2; 0 not stated
    std::vector<LevelReading> readings;
    std::optional<int> levelStations;  // the level's own station count at the line's end
    std::optional<double> levelSumDh;  // the level's own sum of height differences, m
    int fileLine = 0;                  // where the line starts, for messages
};

// A height the surveyor entered on the level for a point (GSI word 83..58,
// the first Z of a DiNi line): a start value, often a dummy 0.
struct EnteredHeight
{
    QString point;
    double height = 0; // m
    int line = 0;      // line of the file
};

struct LevelFile
{
    QString path;
    SourceFile source; // the file as read, kept with the heights written from it
    std::vector<RecordedLine> lines;
    std::vector<EnteredHeight> enteredHeights; // in file order
    QStringList warnings;
};

// Reads a GSI-8, GSI-16 or DiNi M5 file, told apart by their content. Only
// regular files of at most 256 MB are read, line by line. Errors name the
// file, the line and the word. At most `maxReadings` readings are taken.
constexpr size_t maxReadings = 1'000'000;
Result<LevelFile> readLevelFile(const QString &path);
Result<LevelFile> parseGsi(const QByteArray &content, const QString &path);
Result<LevelFile> parseDini(const QByteArray &content, const QString &path);

// What the readers accept of a value: staff readings within ±10 m, sight
// lengths from 0 to 200 m.
constexpr double maxStaffReading = 10;
constexpr double maxSightLength = 200;

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
    // Where it was read: the file (its place among the files adjusted) and
    // the lines of its first back and fore readings.
    int fileIndex = 0;
    int backLine = 0, foreLine = 0;
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
    int number = 0; // the level's number of the line
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

// A connected part of the network and where its heights come from: the
// fixed points given, else the first height entered on the level for one of
// its points, else none (its heights are relative to its first point, 0).
struct LevelPart
{
    enum Datum { Fixed, Entered, Relative };
    Datum datum = Relative;
    QStringList datumPoints;
    QStringList points; // its network points
};

struct LevelSettings
{
    LevelGrade grade;
    bool byDistance = false;                  // weights 1/L, else 1/n
    std::map<QString, double> fixed;          // benchmark heights given by the user, m
    std::set<QString> knownPoints;            // the project's point names: network points
};

struct LevelResult
{
    std::vector<Station> stations;
    std::vector<Section> sections;
    std::vector<LevelLine> lines;
    std::vector<LevelLoop> loops;             // as many as the network has redundant sections
    std::vector<LevelPart> parts;             // the connected parts of the network
    std::map<QString, double> heights;        // network points, m (turning points are none)
    std::map<QString, double> sigmaMm;        // standard deviation of each adjusted height
    std::map<QString, double> intermediates;  // unchecked heights of intermediate sights
    std::optional<double> sigma0Mm;           // per station (or per km by distance)
    int dof = 0;
    // What the program and the level disagree on, entered heights that do
    // not fit the adjustment, and the like: shown, never silently dropped.
    QStringList warnings;
    std::map<QString, int> partIndex;         // network point → its part
    // The part a network point belongs to, or null.
    const LevelPart *partOf(const QString &id) const;
    bool heightsRelative() const;
    // The network points in natural order (J2 before J10), for listings.
    QStringList pointsInOrder() const;
    // A loop that is one closed line already listed (a single loop round):
    // listed once.
    bool repeatsALine(const LevelLoop &loop) const;
};

// A point id as the matching compares it: without case and leading zeros.
QString pointKey(const QString &id);

// The fixed point the project names in its header fields (起算点号 and
// 起算高程), if both are there and the height is a number; the window and
// sedimetra-batch start from it.
std::map<QString, double> projectBenchmark(const std::map<QString, QString> &headerFields);

// Stations, sections, lines, loops and the least-squares heights of the
// files. The heights of each connected part rest on the fixed points of
// `settings` in it; a part without one rests on the first height entered on
// the level for one of its points (the others are compared with the result
// and listed as warnings); a part without either is adjusted all the same,
// its heights relative to its first point. Each line the level summed itself
// is compared with the program's stations and sum. Refused, with the reason,
// for a fixed height that is no usable elevation.
Result<LevelResult> adjustLevelling(const std::vector<LevelFile> &files,
                                    const LevelSettings &settings);

// The project's point each network point of the result names, matched
// without case and leading zeros (the first point by number of a name);
// ids no point has are left out.
std::map<QString, const Point *> projectPointsOf(const LevelResult &result,
                                                 const std::vector<Point> &points);
// Those points' heights as rows for the observation import, in metres,
// each with where it was read: the file, its line and station (the first
// station that sighted the point), the adjusted height and its σ.
// Refused, naming the part, when a point's height is only relative, or not
// a usable elevation.
Result<std::vector<ImportRow>> levelImportRows(const LevelResult &result,
                                               const std::map<QString, const Point *> &matched);

// The result as JSON, numbers unrounded.
QByteArray levelJson(const LevelResult &result);
// The result as the text sedimetra-batch prints.
QString levelText(const LevelResult &result);
