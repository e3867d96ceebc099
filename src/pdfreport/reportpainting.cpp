#include "pdfreport/reportpainting.h"

#include "pdfreport/pdfjoin.h"

#include <QBuffer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <variant>

namespace {

// Pages [first, last) painted with their header and footer (`frame`,
// numbered here as pages of the whole report) into a PDF of their own;
// `painted` is told after each page.
Result<QByteArray> paintPageRange(const std::vector<ReportPage> &pages, PageFrame frame, size_t first, size_t last,
                                  const std::function<void()> &painted)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(int(reportDpi));
    writer.setCreator(QStringLiteral("Sedimetra"));
    writer.setTitle(frame.title + QStringLiteral(" ") + frame.projectName);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    for (size_t i = first; i < last; ++i) {
        const ReportPage &page = pages[i];
        writer.setPageSize(QPageSize(page.a3 ? QPageSize::A3 : QPageSize::A4));
        writer.setPageOrientation(page.landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
        if (i == first) {
            if (!painter.begin(&writer))
                return fail(QStringLiteral("无法生成 PDF"));
        } else {
            writer.newPage();
        }
        const double shortSide = page.a3 ? 297 : 210, longSide = page.a3 ? 420 : 297;
        const QRectF paper(0, 0, mm(page.landscape ? longSide : shortSide), mm(page.landscape ? shortSide : longSide));
        frame.page = int(i) + 1;
        const QRectF body = paintPageFrame(painter, paper, frame);
        painter.save();
        paintReportPage(painter, body, page);
        painter.restore();
        if (painted)
            painted();
    }
    painter.end();
    return buffer.data();
}

} // namespace

// Every page painted into one PDF; its bytes. A long report is painted in
// two halves at once, the second on a thread of its own, and the halves
// joined: its pages are all text and lines, painted and compressed by the
// PDF writer one at a time, and a second processor halves the wait.
Result<QByteArray> paintPages(const std::vector<ReportPage> &pages, const PageFrame &frame,
                              const std::function<void(int, int)> &progress)
{
    constexpr size_t paintedAlone = 60; // fewer pages are not worth a thread
    const size_t count = pages.size();
    std::atomic<int> done{0};
    if (count < paintedAlone || std::thread::hardware_concurrency() < 2) {
        return paintPageRange(pages, frame, 0, count, [&] {
            if (progress)
                progress(done++, int(count));
        });
    }
    // The halves split where the work does, by what a page of each kind
    // takes to paint and compress, as measured: a page of results 1 ms, of
    // a table 2.5 ms, of a drawing's sheet or charts 16 ms.
    const auto weight = [](const ReportPage &page) {
        if (std::holds_alternative<ResultsPage>(page.content))
            return 2;
        if (std::holds_alternative<TablePage>(page.content))
            return 5;
        return 32;
    };
    long total = 0;
    for (const ReportPage &page : pages)
        total += weight(page);
    size_t half = 0;
    for (long sum = 0; half < count && 2 * sum < total; ++half)
        sum += weight(pages[half]);
    auto second = std::async(std::launch::async, [&] { return paintPageRange(pages, frame, half, count, [&] { ++done; }); });
    auto firstHalf = paintPageRange(pages, frame, 0, half, [&] {
        const int now = ++done;
        if (progress)
            progress(now - 1, int(count));
    });
    // The window's progress is told on its own thread only.
    while (second.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
        if (progress)
            progress(std::min(done.load(), int(count) - 1), int(count));
    auto secondHalf = second.get();
    if (!firstHalf)
        return firstHalf.failure();
    if (!secondHalf)
        return secondHalf.failure();
    return joinWrittenPdfs({*firstHalf, *secondHalf});
}
