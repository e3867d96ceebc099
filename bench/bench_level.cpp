// The digital level's raw file of a long campaign through sedimetra-batch:
// a GSI-8 loop of 2,000 stations (200 named points, turning points between
// them), checked and adjusted, JSON on stdout; budget 200 ms median.
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
    return 0;
}
