#pragma once

#include <QString>

// Makes a project of `points` points and `epochs` epochs from the project
// template at `templatePath`: a building sinking like a real one, fast while
// it is loaded and slower later, every point a little differently, with the
// levelling noise of a good level (±0.3 mm). Dates run from 2018-03-01 every
// 5 to 15 days. Returns false and says why on failure.
bool makeLargeProject(const QString &templatePath, const QString &path, int points, int epochs,
                      QString *error);

// Copies the program directory `from` (Sdmx.mdb and Support/) to `to`, so that
// a benchmark never touches the build's own settings.
bool copyProgramDirectory(const QString &from, const QString &to);

// Stores the point count in the system database at `sdmx`.
bool setPointCount(const QString &sdmx, int count, QString *error);

// A program directory of its own with sedimetra-batch, a point count of 150
// in its settings, and a 150 × 300 project: what the batch benchmarks run.
bool prepareBatchBenchmark(const QString &dir, QString *program, QString *project, QString *error);

// Runs sedimetra-batch of `program` with `arguments` once to warm up and then
// `runs` times; the wall times of the timed runs in milliseconds, sorted.
// Empty, with `error` set, when a run fails.
#include <QStringList>
#include <vector>
std::vector<double> timeBatchRuns(const QString &program, const QStringList &arguments, int runs,
                                  QString *error);
