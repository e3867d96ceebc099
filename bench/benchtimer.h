#pragma once

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

// Runs `work` `runs` times (after one warm-up run) and prints the median,
// minimum and maximum in milliseconds with the budget, when there is one.
template <typename Work> double measure(const char *name, int runs, Work work, double budgetMs = 0)
{
    work(0);
    std::vector<double> times;
    times.reserve(size_t(runs));
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work(i);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("%-44s median %8.4f ms  min %8.4f  max %8.4f", name, median, times.front(),
                times.back());
    if (budgetMs > 0)
        std::printf("  budget %g ms: %s", budgetMs, median <= budgetMs ? "within" : "OVER");
    std::printf("\n");
    return median;
}
