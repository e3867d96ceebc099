#include "report/resultstable.h"

#include "base/settings.h"
#include "survey/settlement.h"
#include "base/textnumber.h"

#include <unordered_map>

namespace {

constexpr int pageRows = 22;
constexpr int firstPageRow = 4;
constexpr int pointsPerPage = 15;

const char *const headerCells[] = {"B1", "H1", "B2", "H2", "M2", "B3", "H3", "M3"};

struct Slot
{
    const char *elevation, *thisTime, *cumulative, *rate;
};
// Epoch k goes to the slot of k mod 3: 1 the first, 2 the second, 0 the third.
const Slot epochSlots[] = {{"K", "L", "M", "N"}, {"C", "D", "E", "F"}, {"G", "H", "I", "J"}};

QString cell(const char *column, int row)
{
    return QLatin1String(column) + QString::number(row);
}

// A change shown with its sign: "+" before a value that is not negative.
QString signedText(double value, int decimals)
{
    return (value >= 0 ? QStringLiteral("+") : QString()) + formatFixed(value, decimals);
}

} // namespace

std::vector<QString> resultsHeaderKeys()
{
    return {SettingKey::ProjectName, SettingKey::Client,
            SettingKey::Surveyor,    SettingKey::Structure,
            SettingKey::Storeys,     SettingKey::Instrument,
            SettingKey::Benchmark,   SettingKey::BenchmarkElevation};
}

int roundedPointCount(const std::vector<Elevation> &elevations, int pointCount)
{
    int highest = 0;
    for (const Elevation &e : elevations)
        highest = std::max(highest, e.cjdNo);
    const int n = highest < pointCount ? highest : pointCount;
    return (n + pointsPerPage - 1) / pointsPerPage * pointsPerPage;
}

void WriteResultsTable(ResultsSheet &sheet, const ResultsInputs &in)
{
    for (size_t i = 0; i < in.header.size() && i < std::size(headerCells); ++i)
        if (in.header[i])
            sheet.setText(QLatin1String(headerCells[i]), *in.header[i]);

    const int n = roundedPointCount(in.elevations, in.pointCount);
    const int epochs = int(in.epochs.size()) - 1;
    if (epochs < 1 || n < 1)
        return;
    const int groups = (epochs + 2) / 3;
    const int pagesPerGroup = n / pointsPerPage;
    const int pages = groups * pagesPerGroup;

    const QString heading = QStringLiteral("本次高程\r\n(") + in.unit + QLatin1Char(')');
    for (int page = 0; page < pages; ++page) {
        const int top = firstPageRow + page * pageRows;
        if (page > 0)
            sheet.copyRows(firstPageRow, firstPageRow + pageRows - 1, top);
        for (const char *column : {"C", "G", "K"})
            sheet.setText(cell(column, top + 2), heading);
    }

    std::unordered_map<int, std::unordered_map<int, double>> h; // epoch -> point -> metres
    std::unordered_map<int, bool> observed;
    for (const Elevation &e : in.elevations) {
        h[e.cjNo].try_emplace(e.cjdNo, e.pointH);
        observed[e.cjdNo] = true;
    }
    auto elevation = [&](int k, int j) -> std::optional<double> {
        const auto epoch = h.find(k);
        if (epoch == h.end())
            return std::nullopt;
        const auto point = epoch->second.find(j);
        return point == epoch->second.end() ? std::nullopt : std::optional<double>(point->second);
    };
    std::unordered_map<int, const Epoch *> epochByNumber;
    for (const Epoch &e : in.epochs)
        epochByNumber.emplace(e.cjNo, &e);
    std::unordered_map<int, QString> names;
    for (const Point &p : in.points)
        names.try_emplace(p.cjdNo, p.name);
    const QString previousHeading = QStringLiteral("上次高程\r\n(") + in.unit + QLatin1Char(')');
    const QString firstHeading = QStringLiteral("初始高程\r\n(") + in.unit + QLatin1Char(')');

    for (int k = 1; k <= epochs; ++k) {
        const Slot &slot = epochSlots[k % 3];
        const bool firstSlot = k % 3 == 1;
        const int group = (k - 1) / 3;
        const Epoch *epoch = epochByNumber.count(k) ? epochByNumber[k] : nullptr;
        const Epoch *before = epochByNumber.count(k - 1) ? epochByNumber[k - 1] : nullptr;
        const int interval = epoch && before ? DayCount(epoch->date, before->date) : 0;

        // Pass 1: the averages over every point of the epoch.
        double thisSum = 0, cumulativeSum = 0, rateSum = 0;
        int thisCount = 0, cumulativeCount = 0;
        for (int j = 1; j <= n; ++j) {
            const auto hc = elevation(k, j);
            if (!hc)
                continue;
            if (const auto h0 = elevation(0, j)) {
                cumulativeSum += *hc - *h0;
                ++cumulativeCount;
            }
            if (const auto hp = elevation(k - 1, j)) {
                thisSum += *hc - *hp;
                ++thisCount;
                if (interval > 0)
                    rateSum += (*hc - *hp) / interval;
            }
        }

        // Pass 2: the cells, page by page.
        for (int j = 1; j <= n; ++j) {
            const int page = group * pagesPerGroup + (j - 1) / pointsPerPage;
            const int top = firstPageRow + page * pageRows;
            if ((j - 1) % pointsPerPage == 0) {
                if (epoch) {
                    sheet.setText(cell(slot.elevation, top), epoch->date);
                    sheet.setText(cell(slot.elevation, top + 1), epoch->name);
                }
                sheet.setText(cell(slot.elevation, top + 2), heading);
                if (firstSlot) {
                    if (before) {
                        sheet.setText(cell("B", top), before->date);
                        sheet.setText(cell("B", top + 1), before->name);
                    }
                    sheet.setText(cell("B", top + 2), k == 1 ? firstHeading : previousHeading);
                }
                // An average over no point is not written.
                if (thisCount > 0)
                    sheet.setText(cell(slot.thisTime, top + 18),
                                  formatFixed(thisSum / thisCount * 1000, 2));
                if (cumulativeCount > 0)
                    sheet.setText(cell(slot.cumulative, top + 18),
                                  formatFixed(cumulativeSum / cumulativeCount * 1000, 2));
                if (thisCount > 0 && interval > 0)
                    sheet.setText(cell(slot.rate, top + 18),
                                  formatFixed(rateSum / thisCount * 1000, 3));
                sheet.setNumber(cell(slot.elevation, top + 19), interval);
            }
            const int row = top + 3 + (j - 1) % pointsPerPage;
            const auto hp = elevation(k - 1, j);
            if (firstSlot) {
                if (names.count(j) && observed.count(j))
                    sheet.setText(cell("A", row), names[j]);
                if (hp)
                    sheet.setText(cell("B", row), FormatElevation(*hp, in.unit));
            }
            const auto hc = elevation(k, j);
            if (!hc)
                continue;
            sheet.setText(cell(slot.elevation, row), FormatElevation(*hc, in.unit));
            if (const auto h0 = elevation(0, j))
                sheet.setText(cell(slot.cumulative, row), signedText((*hc - *h0) * 1000, 2));
            if (hp) {
                sheet.setText(cell(slot.thisTime, row), signedText((*hc - *hp) * 1000, 2));
                if (interval > 0)
                    sheet.setText(cell(slot.rate, row),
                                  signedText((*hc - *hp) / interval * 1000, 3));
            }
        }
    }
}
