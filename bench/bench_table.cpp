// The results table of a large project as whole sedimetra-batch processes:
// 150 points × 300 epochs with the point count at 15 (one page a group)
// and at 150 (every point: 100 groups × 10 pages, 22,000 rows). The goal
// for 150: at least 25 times as fast as an openpyxl script doing the same
// work, measured in the same run when Debian's Python has openpyxl (about
// 230 ms on a 2-core machine), and at most 40 MB of memory.
//
//   bench_table [RUNS]
#include "largeproject.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <optional>
#include <cstdio>
#include <vector>

namespace {

// The peak memory of the children so far, MB.
double childrenPeak()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_maxrss) / 1024;
}

// The median of the openpyxl script's runs, ms; none without openpyxl.
std::optional<double> openpyxlMedian(const QString &program, const QString &project, const QString &out, int runs)
{
    const QString script = QStringLiteral(SEDIMETRA_SOURCE_DIR "/bench/results_table_openpyxl.py");
    const QString templatePath =
        QDir(program + QStringLiteral("/Support/Tab")).entryInfoList({QStringLiteral("*.xlsx")}).value(0).filePath();
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess python;
        QElapsedTimer timer;
        timer.start();
        python.start(QStringLiteral("/usr/bin/python3"), {script, project, templatePath, QStringLiteral("150"), out});
        if (!python.waitForFinished(120000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
            return std::nullopt;
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

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
    double median150 = 0, peak150 = 0;
    for (const int points : {15, 150}) {
        if (!setPointCount(program + QStringLiteral("/Sdmx.mdb"), points, &error)) {
            std::fprintf(stderr, "cannot set the point count: %s\n", qPrintable(error));
            return 1;
        }
        const std::vector<double> times =
            timeBatchRuns(program, {QStringLiteral("table"), project}, runs, &error);
        if (times.empty()) {
            std::fprintf(stderr, "sedimetra-batch failed: %s\n", qPrintable(error));
            return 1;
        }
        const double median = times[times.size() / 2];
        const double megabytes = childrenPeak();
        std::printf("results table, 150 points x 300 epochs, point count %d (%d runs): median %.1f ms, min %.1f, "
                    "max %.1f; workbook %.1f MB; peak memory of any run so far %.0f MB\n",
                    points, int(times.size()), median, times.front(), times.back(),
                    double(QFileInfo(dir.filePath(QStringLiteral("large.xlsx"))).size()) / 1e6, megabytes);
        median150 = median;
        peak150 = megabytes;
    }
    const auto anchor = openpyxlMedian(program, project, dir.filePath(QStringLiteral("openpyxl.xlsx")), 3);
    if (!anchor) {
        std::printf("openpyxl anchor: not run (needs /usr/bin/python3 with openpyxl); goal 40 MB: %s\n",
                    peak150 <= 40 ? "within" : "OVER");
        return 0;
    }
    const double ratio = *anchor / median150;
    std::printf("openpyxl script doing the same, point count 150 (3 runs): median %.0f ms; ratio %.1fx; "
                "goal 25x and 40 MB: %s\n",
                *anchor, ratio, ratio >= 25 && peak150 <= 40 ? "within" : "OVER");
    return 0;
}
