// Record access on a large project: the lookups every later part is built on.
//
//   bench_records [PROJECT]
//
// Without a project, a 150-point × 300-epoch one is made in a temporary folder.
#include "benchtimer.h"
#include "largeproject.h"
#include "project/projectdb.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (path.isEmpty()) {
        path = dir.filePath(QStringLiteral("large.mdb"));
        QString error;
        if (!makeLargeProject(QStringLiteral(SEDIMETRA_BIN_DIR "/Support/Db/数据库模板.mdb"), path,
                              150, 300, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    ProjectDatabase project;
    if (auto opened = project.open(path); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.error()));
        return 1;
    }
    const std::vector<Epoch> epochs = *project.epochs();
    std::printf("%s: %zu epochs, %zu elevations\n", qPrintable(path), epochs.size(),
                project.allElevations()->size());
    const int runs = 200;
    auto epochOf = [&](int i) {
        return (i * 37) % int(epochs.size());
    };

    measure("epochs() (all, CjNo order)", runs, [&](int) { return project.epochs().ok(); });
    measure("epochByNumber", runs, [&](int i) { return project.epochByNumber(epochOf(i)).ok(); });
    measure("epochByDate", runs,
            [&](int i) { return project.epochByDate(epochs[size_t(epochOf(i))].date).ok(); });
    measure("epochByName", runs,
            [&](int i) { return project.epochByName(epochs[size_t(epochOf(i))].name).ok(); });
    measure("nextEpochNumber", runs, [&](int) { return project.nextEpochNumber().ok(); });
    measure("elevation(CjNo, CjdNo)", runs,
            [&](int i) { return project.elevation(epochOf(i), 1 + i % 150).ok(); });
    measure("elevationsOfPoint (300 rows)", runs,
            [&](int i) { return project.elevationsOfPoint(1 + i % 150).ok(); });
    measure("elevationsOfEpoch (150 rows)", runs,
            [&](int i) { return project.elevationsOfEpoch(epochOf(i)).ok(); });
    measure("elevationsOfEpoch up to point 15", runs,
            [&](int i) { return project.elevationsOfEpoch(epochOf(i), 15).ok(); });
    measure("allElevations (45,000 rows)", 20, [&](int) { return project.allElevations().ok(); });
    measure("points() (150 rows)", runs, [&](int) { return project.points().ok(); });
    measure("pointByNumber", runs, [&](int i) { return project.pointByNumber(1 + i % 150).ok(); });
    measure("pointByName", runs,
            [&](int i) { return project.pointByName(QStringLiteral("J%1").arg(1 + i % 150)).ok(); });
    measure("colour", runs, [&](int i) { return project.colour(1 + i % 255).ok(); });
    measure("setElevation (one committed, synced write)", 100,
            [&](int i) { return project.setElevation(epochOf(i), 1 + i % 150, 99.5 + i / 100000.0).ok(); });
    return 0;
}
