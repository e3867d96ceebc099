// The plan's figures of a large project as whole sedimetra-batch processes:
// 150 points × 300 epochs, every point placed, `plan --format json` of the
// last epoch; budget 200 ms median.
//
//   bench_plan [RUNS]
#include "largeproject.h"

#include "project/projectdb.h"

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
    {
        ProjectDatabase db;
        std::vector<std::pair<int, std::optional<Position>>> placed;
        for (int n = 1; n <= 150; ++n)
            placed.emplace_back(n, Position{(n - 1) % 15 * 6.0 + (n * 37 % 11) / 10.0,
                                            (n - 1) / 15 * 5.0 + (n * 53 % 7) / 10.0});
        if (!db.open(project) || !db.setPositions(placed)) {
            std::fprintf(stderr, "cannot place the points\n");
            return 1;
        }
    }
    const std::vector<double> times = timeBatchRuns(
        program, {QStringLiteral("plan"), project, QStringLiteral("--format"), QStringLiteral("json")},
        runs, &error);
    if (times.empty()) {
        std::fprintf(stderr, "sedimetra-batch failed: %s\n", qPrintable(error));
        return 1;
    }
    const double median = times[times.size() / 2];
    std::printf("plan figures, 150 points x 300 epochs, JSON (%d runs): median %.1f ms, "
                "min %.1f, max %.1f; budget 200 ms: %s\n",
                int(times.size()), median, times.front(), times.back(),
                median <= 200 ? "within" : "OVER");
    return 0;
}
