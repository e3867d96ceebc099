// The results table of a large project as whole sedimetra-batch processes:
// 150 points × 300 epochs (100 groups × 10 pages, 22,000 rows), budget
// 250 ms median and 200 MB of memory.
//
//   bench_table [RUNS]
#include "largeproject.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    QTemporaryDir dir;
    QString program, project, error;
    if (!prepareBatchBenchmark(dir.path(), &program, &project, &error)) {
        std::fprintf(stderr, "cannot prepare the benchmark: %s\n", qPrintable(error));
        return 1;
    }
    const std::vector<double> times =
        timeBatchRuns(program, {QStringLiteral("table"), project}, runs, &error);
    if (times.empty()) {
        std::fprintf(stderr, "sedimetra-batch failed: %s\n", qPrintable(error));
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const double median = times[times.size() / 2];
    const double megabytes = double(usage.ru_maxrss) / 1024;
    std::printf(
        "results table, 150 points x 300 epochs, 1000 pages (%d runs): median %.1f ms, min "
        "%.1f, max %.1f; workbook %.1f MB; peak memory %.0f MB; budget 250 ms, 200 MB: %s\n",
        int(times.size()), median, times.front(), times.back(),
        double(QFileInfo(dir.filePath(QStringLiteral("large.xlsx"))).size()) / 1e6, megabytes,
        median <= 250 && megabytes <= 200 ? "within" : "OVER");
    return 0;
}
