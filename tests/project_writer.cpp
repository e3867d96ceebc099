// A second program using a project at the same time as a test.
//
//   project_writer PATH hold CJNO CJDNO METRES
//       writes one elevation, prints "committed" and waits to be killed.
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
    if (!project.open(args[1])) {
        std::fprintf(stderr, "open: %s\n", qPrintable(project.errorString()));
        return 1;
    }
    if (args[2] == QLatin1String("hold") && args.size() == 6) {
        if (!project.setElevation(args[3].toInt(), args[4].toInt(), args[5].toDouble())) {
            std::fprintf(stderr, "write: %s\n", qPrintable(project.errorString()));
            return 1;
        }
        std::printf("committed\n");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(1);
    }
    if (args[2] == QLatin1String("many")) {
        const int cjNo = args[3].toInt();
        for (int point = 1; point <= args[4].toInt(); ++point) {
            if (!project.setElevation(cjNo, point, 100.0 + point / 1000.0)) {
                std::fprintf(stderr, "write %d: %s\n", point, qPrintable(project.errorString()));
                return 1;
            }
        }
        std::printf("done\n");
        return 0;
    }
    return 2;
}
