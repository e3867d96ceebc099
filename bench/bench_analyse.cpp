// The stability analysis of a large project as whole sedimetra-batch
// processes: 150 points × 300 epochs, JSON on stdout; budget 200 ms median.
//
//   bench_analyse [RUNS]
#include "largeproject.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

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
    const std::vector<double> times = timeBatchRuns(
        program, {QStringLiteral("analyse"), project, QStringLiteral("--format"), QStringLiteral("json")},
        runs, &error);
    if (times.empty()) {
        std::fprintf(stderr, "sedimetra-batch failed: %s\n", qPrintable(error));
        return 1;
    }
    const double median = times[times.size() / 2];
    std::printf("stability analysis, 150 points x 300 epochs, JSON (%d runs): median %.1f ms, "
                "min %.1f, max %.1f; budget 200 ms: %s\n",
                int(times.size()), median, times.front(), times.back(),
                median <= 200 ? "within" : "OVER");
    return 0;
}
