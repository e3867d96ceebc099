// Curve sheets of a large project, as whole sedimetra-batch processes:
// settlement sheets for all 150 points of a 150 × 300 project, 5 lines a
// sheet, 3 sheets a row, the DXF written (budget 250 ms median).
//
//   bench_curves [RUNS]
#include "largeproject.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

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
    const QStringList arguments{QStringLiteral("curves"),    project,
                                QStringLiteral("--kind"),    QStringLiteral("settlement"),
                                QStringLiteral("--frame"),   QStringLiteral("A3"),
                                QStringLiteral("--lines"),   QStringLiteral("5"),
                                QStringLiteral("--per-row"), QStringLiteral("3")};
    const std::vector<double> times = timeBatchRuns(program, arguments, runs, &error);
    if (times.empty()) {
        std::fprintf(stderr, "sedimetra-batch failed: %s\n", qPrintable(error));
        return 1;
    }
    const double median = times[times.size() / 2];
    const qint64 size = QFileInfo(dir.filePath(QStringLiteral("large.dxf"))).size();
    std::printf("curve sheets, settlement, 150 points x 300 epochs, 30 sheets (%d runs): median "
                "%.1f ms, min %.1f, max %.1f; DXF %.1f MB; budget 250 ms: %s\n",
                int(times.size()), median, times.front(), times.back(), double(size) / 1e6,
                median <= 250 ? "within" : "OVER");
    return 0;
}
