// The monitoring report as whole sedimetra-batch processes: 150 points ×
// 300 epochs, every point in every table (budget 1.5 s and 200 MB), and
// 12 points × 20 epochs (300 ms), medians, with the largest resident size
// any run reached.
//
//   bench_report [RUNS]
#include "largeproject.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

namespace {

bool run(const QString &program, const QString &project, const QString &out, int runs, const char *what,
         double budgetMs)
{
    QString error;
    const std::vector<double> times = timeBatchRuns(
        program, {QStringLiteral("report"), project, QStringLiteral("--out"), out}, runs, &error);
    if (times.empty()) {
        std::fprintf(stderr, "sedimetra-batch failed: %s\n", qPrintable(error));
        return false;
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const double median = times[times.size() / 2];
    std::printf("report, %s (%d runs): median %.0f ms, min %.0f, max %.0f; budget %.0f ms: %s; "
                "largest resident size of any run so far %.0f MB\n",
                what, int(times.size()), median, times.front(), times.back(), budgetMs,
                median <= budgetMs ? "within" : "OVER", usage.ru_maxrss / 1024.0);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTemporaryDir dir;
    QString program, project, error;
    if (!prepareBatchBenchmark(dir.path(), &program, &project, &error)) {
        std::fprintf(stderr, "cannot prepare the benchmark: %s\n", qPrintable(error));
        return 1;
    }
    const QString small = dir.filePath(QStringLiteral("small.mdb"));
    if (!makeLargeProject(program + QStringLiteral("/Support/Db/数据库模板.mdb"), small, 12, 20, &error)) {
        std::fprintf(stderr, "cannot prepare the benchmark: %s\n", qPrintable(error));
        return 1;
    }
    if (!run(program, small, dir.filePath(QStringLiteral("small.pdf")), runs * 2, "12 points x 20 epochs", 300)
        || !run(program, project, dir.filePath(QStringLiteral("large.pdf")), runs, "150 points x 300 epochs", 1500))
        return 1;
    return 0;
}
