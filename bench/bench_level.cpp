// The digital level's raw file of a long campaign through sedimetra-batch:
// a GSI-8 loop of 2,000 stations (200 named points, turning points between
// them), checked and adjusted, JSON on stdout; budget 200 ms median. Then a
// network of 10,000 points (a 100 × 100 mesh of lines along its rows and
// columns, 39,600 stations, 9,801 independent loops), adjusted in under
// 2 s.
//
//   bench_level [RUNS]
#include "largeproject.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>

namespace {

QByteArray word(const char *header, long long value)
{
    return QByteArray(header) + (value < 0 ? '-' : '+')
           + QByteArray::number(std::llabs(value)).rightJustified(8, '0') + ' ';
}

QByteArray id(int block, const QByteArray &point)
{
    return "11" + QByteArray::number(block).rightJustified(4, '0') + '+'
           + point.rightJustified(8, '0') + ' ';
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
    // 2,000 stations: up and down by a few centimetres, named every tenth.
    constexpr int stations = 2000;
    QByteArray gsi = id(1, "BM") + word("410000", 2) + "\r\n";
    int block = 1;
    double height = 10.0;
    QByteArray back = "BM";
    for (int i = 0; i < stations; ++i) {
        const QByteArray fore = i + 1 == stations ? QByteArray("BM")
                                : (i + 1) % 10 == 0 ? "P" + QByteArray::number((i + 1) / 10)
                                                    : QByteArray::number(i % 10 + 1);
        const double next = i + 1 == stations ? 10.0 : height + 0.03 * std::sin(i * 0.7);
        const double b = 1.3, f = 1.3 + height - next + ((i % 7) - 3) * 1e-5;
        const struct { const char *w; QByteArray p; double r; } readings[] = {
            {"331.08", back, b}, {"332.08", fore, f}, {"336.08", fore, f}, {"335.08", back, b}};
        for (const auto &r : readings)
            gsi += id(++block, r.p) + word("32...0", 20000) + word(r.w, std::llround(r.r * 1e5))
                   + "\r\n";
        back = fore;
        height = next;
    }
    const QString path = dir.filePath(QStringLiteral("campaign.gsi"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(gsi) != gsi.size())
        return 1;
    file.close();
    const std::vector<double> times = timeBatchRuns(
        program,
        {QStringLiteral("level"), path, QStringLiteral("--fixed"), QStringLiteral("BM=10"),
         QStringLiteral("--format"), QStringLiteral("json")},
        runs, &error);
    if (times.empty()) {
        std::fprintf(stderr, "sedimetra-batch failed: %s\n", qPrintable(error));
        return 1;
    }
    const double median = times[times.size() / 2];
    std::printf("level, GSI-8 loop of %d stations, JSON (%d runs): median %.1f ms, min %.1f, "
                "max %.1f; budget 200 ms: %s\n",
                stations, int(times.size()), median, times.front(), times.back(),
                median <= 200 ? "within" : "OVER");

    // The mesh: point (r, c) named M<r>_<c>, its height a gentle surface;
    // each row and each column one line, a turning point between two points.
    constexpr int side = 100;
    const auto name = [](int r, int c) { return "M" + QByteArray::number(r) + "_" + QByteArray::number(c); };
    const auto heightAt = [](int r, int c) { return 10.0 + 0.2 * std::sin(r * 0.1) + 0.15 * std::cos(c * 0.13); };
    QByteArray mesh;
    block = 0;
    int meshStations = 0;
    for (int line = 0; line < 2 * side; ++line) {
        const bool row = line < side;
        const int fixedIndex = line % side;
        const auto at = [&](int k) { return row ? std::pair(fixedIndex, k) : std::pair(k, fixedIndex); };
        mesh += id(++block % 10000, name(at(0).first, at(0).second)) + word("410000", 2) + "\r\n";
        for (int k = 0; k + 1 < side; ++k) {
            const auto [r0, c0] = at(k);
            const auto [r1, c1] = at(k + 1);
            const double h0 = heightAt(r0, c0), h1 = heightAt(r1, c1), tp = (h0 + h1) / 2 + 0.05;
            const QByteArray turning = QByteArray::number(k % 9 + 1);
            const struct { QByteArray back, fore; double b, f; } legs[] = {
                {name(r0, c0), turning, 1.4, 1.4 + h0 - tp + ((k + line) % 5 - 2) * 1e-5},
                {turning, name(r1, c1), 1.3, 1.3 + tp - h1 + ((k * line) % 3 - 1) * 1e-5}};
            for (const auto &leg : legs) {
                const struct { const char *w; QByteArray p; double r; } readings[] = {
                    {"331.08", leg.back, leg.b}, {"332.08", leg.fore, leg.f},
                    {"336.08", leg.fore, leg.f}, {"335.08", leg.back, leg.b}};
                for (const auto &r : readings)
                    mesh += id(++block % 10000, r.p) + word("32...0", 15000) + word(r.w, std::llround(r.r * 1e5))
                            + "\r\n";
                ++meshStations;
            }
        }
    }
    const QString meshPath = dir.filePath(QStringLiteral("mesh.gsi"));
    QFile meshFile(meshPath);
    if (!meshFile.open(QIODevice::WriteOnly) || meshFile.write(mesh) != mesh.size())
        return 1;
    meshFile.close();
    const std::vector<double> meshTimes = timeBatchRuns(
        program,
        {QStringLiteral("level"), meshPath, QStringLiteral("--fixed"), QStringLiteral("M0_0=10"),
         QStringLiteral("--format"), QStringLiteral("json")},
        std::max(1, runs / 3), &error);
    if (meshTimes.empty()) {
        std::fprintf(stderr, "sedimetra-batch failed: %s\n", qPrintable(error));
        return 1;
    }
    const double meshMedian = meshTimes[meshTimes.size() / 2];
    std::printf("level, GSI-8 mesh of %d points and %d stations, JSON (%d runs): median %.1f ms, "
                "min %.1f, max %.1f; budget 2000 ms: %s\n",
                side * side, meshStations, int(meshTimes.size()), meshMedian, meshTimes.front(),
                meshTimes.back(), meshMedian <= 2000 ? "within" : "OVER");
    return 0;
}
