#include "report/resultstable.h"

#include "base/settings.h"
#include "domain/settlementrules.h"
#include "base/textnumber.h"


namespace {

constexpr int pageRows = resultsPageRows;
constexpr int firstPageRow = resultsFirstPageRow;
constexpr int pointsPerPage = 15;

const char *const headerCells[] = {"B1", "H1", "B2", "H2", "M2", "B3", "H3", "M3"};

struct Slot
{
    const char *elevation, *thisTime, *cumulative, *rate;
    int elevationColumn, thisTimeColumn, cumulativeColumn, rateColumn; // 1 = A
};
// Epoch k goes to the slot of k mod 3: 1 the first, 2 the second, 0 the third.
const Slot epochSlots[] = {{"K", "L", "M", "N", 11, 12, 13, 14},
                           {"C", "D", "E", "F", 3, 4, 5, 6},
                           {"G", "H", "I", "J", 7, 8, 9, 10}};
constexpr int nameColumn = 1, previousColumn = 2; // A, B

QString cell(const char *column, int row)
{
    return QLatin1String(column) + QString::number(row);
}

// A change shown with its sign: "+" before a value that does not show as
// negative (a tiny sinking that rounds to zero shows "+0.00", as the cell's
// number format shows it).
QString signedText(double value, int decimals)
{
    const QString text = formatFixed(value, decimals);
    return text.startsWith(QLatin1Char('-')) ? text : QLatin1Char('+') + text;
}

// The number formats of the value cells: they show what the texts show.
const QString signed2 = QStringLiteral("+0.00;-0.00;+0.00");
const QString signed3 = QStringLiteral("+0.000;-0.000;+0.000");
const QString plain2 = QStringLiteral("0.00");
const QString plain3 = QStringLiteral("0.000");

QString elevationFormat(const QString &unit)
{
    return unit == QLatin1String("mm") ? plain2 : QStringLiteral("0.00000");
}

} // namespace

std::vector<QString> resultsHeaderKeys()
{
    return headerFieldKeys();
}

int roundedPointCount(const ProjectSnapshot &snapshot, int pointCount)
{
    const int highest = snapshot.highestObservedPoint();
    const int n = highest < pointCount ? highest : pointCount;
    return (n + pointsPerPage - 1) / pointsPerPage * pointsPerPage;
}

void WriteResultsTable(ResultsSheet &sheet, const ProjectSnapshot &snapshot,
                       const ResultsSettings &in)
{
    for (size_t i = 0; i < in.header.size() && i < std::size(headerCells); ++i)
        if (in.header[i])
            sheet.setText(QLatin1String(headerCells[i]), *in.header[i]);

    const int n = roundedPointCount(snapshot, in.pointCount);
    const int epochs = snapshot.epochCount() - 1;
    if (epochs < 1 || n < 1)
        return;
    const int groups = (epochs + 2) / 3;
    const int pagesPerGroup = n / pointsPerPage;
    const int pages = groups * pagesPerGroup;

    const QString heading = QStringLiteral("本次高程\r\n(") + in.unit + QLatin1Char(')');
    const QString shownElevation = elevationFormat(in.unit);
    for (int page = 0; page < pages; ++page) {
        const int top = firstPageRow + page * pageRows;
        if (page > 0)
            sheet.copyRows(firstPageRow, firstPageRow + pageRows - 1, top);
        for (const char *column : {"C", "G", "K"})
            sheet.setText(cell(column, top + 2), heading);
    }

    auto elevation = [&](int k, int j) { return snapshot.elevation(k, j); };
    const QString previousHeading = QStringLiteral("上次高程\r\n(") + in.unit + QLatin1Char(')');
    const QString firstHeading = QStringLiteral("初始高程\r\n(") + in.unit + QLatin1Char(')');

    for (int k = 1; k <= epochs; ++k) {
        const Slot &slot = epochSlots[k % 3];
        const bool firstSlot = k % 3 == 1;
        const int group = (k - 1) / 3;
        const Epoch *epoch = snapshot.epochByNumber(k);
        const Epoch *before = snapshot.epochByNumber(k - 1);
        // The day count from the dates the snapshot read once.
        const int interval =
            epoch && before ? snapshot.dayCount(snapshot.epochIndex(k), snapshot.epochIndex(k - 1)) : 0;

        // Pass 1: the averages over every point of the epoch.
        const EpochAverages averages = TableEpochAverages(snapshot, k, n, interval);

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
                if (averages.thisTime)
                    sheet.setShownNumber(cell(slot.thisTime, top + 18),
                                         formatFixed(*averages.thisTime, 2), plain2);
                if (averages.cumulative)
                    sheet.setShownNumber(cell(slot.cumulative, top + 18),
                                         formatFixed(*averages.cumulative, 2), plain2);
                if (averages.rate)
                    sheet.setShownNumber(cell(slot.rate, top + 18),
                                         formatFixed(*averages.rate, 3), plain3);
                sheet.setNumber(cell(slot.elevation, top + 19), interval);
            }
            const int row = top + 3 + (j - 1) % pointsPerPage;
            const auto hp = elevation(k - 1, j);
            if (firstSlot) {
                if (const Point *point = snapshot.point(j); point && snapshot.isObserved(j))
                    sheet.setTextAt(row, nameColumn, point->name);
                if (hp)
                    sheet.setShownNumberAt(row, previousColumn, FormatElevation(*hp, in.unit), shownElevation);
            }
            const PointValues v = TablePointValues(elevation(0, j), hp, elevation(k, j), interval);
            if (!v.current)
                continue;
            sheet.setShownNumberAt(row, slot.elevationColumn, FormatElevation(*v.current, in.unit), shownElevation);
            if (v.cumulative)
                sheet.setShownNumberAt(row, slot.cumulativeColumn, signedText(*v.cumulative * 1000, 2), signed2);
            if (v.thisSettlement)
                sheet.setShownNumberAt(row, slot.thisTimeColumn, signedText(*v.thisSettlement * 1000, 2), signed2);
            if (v.rate)
                sheet.setShownNumberAt(row, slot.rateColumn, signedText(*v.rate * 1000, 3), signed3);
        }
    }
}
