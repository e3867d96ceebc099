// Start-up to a shown window, as whole processes: the median of repeated
// launches of the start-up probe on a copy of the program directory.
//
//   bench_startup [RUNS]
//
// Without a display the offscreen platform is used; under xvfb-run the
// figures include the X server.
#include "largeproject.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    const QString bin = QStringLiteral(SEDIMETRA_BIN_DIR);
    const QString probe =
        QCoreApplication::applicationDirPath() + QStringLiteral("/sedimetra-startup-probe");

    QTemporaryDir programDir;
    if (!copyProgramDirectory(bin, programDir.path())) {
        std::fprintf(stderr, "cannot copy the program directory %s\n", qPrintable(bin));
        return 1;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("DISPLAY"))
        && !env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    std::vector<double> times;
    for (int i = 0; i < runs + 1; ++i) {
        QProcess process;
        process.setProcessEnvironment(env);
        QElapsedTimer timer;
        timer.start();
        process.start(probe, {programDir.path()});
        if (!process.waitForFinished(30000) || process.exitCode() != 0) {
            std::fprintf(stderr, "the probe failed: %s\n%s\n", qPrintable(process.errorString()),
                         process.readAllStandardError().constData());
            return 1;
        }
        if (i > 0) // the first run warms the file cache
            times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("start-up to window shown (%s, %d runs): median %.1f ms, min %.1f ms, max %.1f ms;"
                " budget 200 ms: %s\n",
                qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"))),
                int(times.size()), median, times.front(), times.back(),
                median <= 200 ? "within" : "OVER");
    return 0;
}
