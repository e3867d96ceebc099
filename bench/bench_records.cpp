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

    measure("epochs() (all, CjNo order)", runs, [&](int) { project.epochs(); });
    measure("epochByNumber", runs, [&](int i) { project.epochByNumber(epochOf(i)); });
    measure("epochByDate", runs,
            [&](int i) { project.epochByDate(epochs[size_t(epochOf(i))].date); });
    measure("epochByName", runs,
            [&](int i) { project.epochByName(epochs[size_t(epochOf(i))].name); });
    measure("nextEpochNumber", runs, [&](int) { project.nextEpochNumber(); });
    measure("elevation(CjNo, CjdNo)", runs,
            [&](int i) { project.elevation(epochOf(i), 1 + i % 150); });
    measure("elevationsOfPoint (300 rows)", runs,
            [&](int i) { project.elevationsOfPoint(1 + i % 150); });
    measure("elevationsOfEpoch (150 rows)", runs,
            [&](int i) { project.elevationsOfEpoch(epochOf(i)); });
    measure("elevationsOfEpoch up to point 15", runs,
            [&](int i) { project.elevationsOfEpoch(epochOf(i), 15); });
    measure("allElevations (45,000 rows)", 20, [&](int) { project.allElevations(); });
    measure("maxPointNumber", runs, [&](int) { project.maxPointNumber(); });
    measure("points() (150 rows)", runs, [&](int) { project.points(); });
    measure("pointByNumber", runs, [&](int i) { project.pointByNumber(1 + i % 150); });
    measure("pointByName", runs,
            [&](int i) { project.pointByName(QStringLiteral("J%1").arg(1 + i % 150)); });
    measure("colour", runs, [&](int i) { project.colour(1 + i % 255); });
    measure("setElevation (one committed, synced write)", 100,
            [&](int i) { project.setElevation(epochOf(i), 1 + i % 150, 99.5 + i / 100000.0); });
    return 0;
}
