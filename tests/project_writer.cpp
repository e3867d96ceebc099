// A second program using a project at the same time as a test.
//
//   project_writer PATH hold CJNO CJDNO METRES
//       writes one elevation, prints "committed journal=<mode>
//       synchronous=<level>" as its connection reports them, and waits to be
//       killed.
//   project_writer PATH many CJNO COUNT
//       writes COUNT elevations of epoch CJNO one commit at a time, then
//       prints "done".
#include "project/projectdb.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5)
        return 2;
    ProjectDatabase project;
    if (auto opened = project.open(args[1]); !opened) {
        std::fprintf(stderr, "open: %s\n", qPrintable(opened.error()));
        return 1;
    }
    if (args[2] == QLatin1String("hold") && args.size() == 6) {
        if (auto stored = project.setElevation(args[3].toInt(), args[4].toInt(), args[5].toDouble());
            !stored) {
            std::fprintf(stderr, "write: %s\n", qPrintable(stored.error()));
            return 1;
        }
        const auto durability = project.durability();
        if (!durability) {
            std::fprintf(stderr, "durability: %s\n", qPrintable(durability.error()));
            return 1;
        }
        std::printf("committed journal=%s synchronous=%d\n",
                    qPrintable(durability->journalMode), durability->synchronous);
        std::fflush(stdout);
        for (;;)
            QThread::sleep(1);
    }
    if (args[2] == QLatin1String("many")) {
        const int cjNo = args[3].toInt();
        for (int point = 1; point <= args[4].toInt(); ++point) {
            if (auto stored = project.setElevation(cjNo, point, 100.0 + point / 1000.0); !stored) {
                std::fprintf(stderr, "write %d: %s\n", point, qPrintable(stored.error()));
                return 1;
            }
        }
        std::printf("done\n");
        return 0;
    }
    return 2;
}
