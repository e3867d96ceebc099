#include "report/resultstable.h"
#include "xlsx/workbook.h"
#include "testsupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <map>

using namespace testsupport;

namespace {

// A sheet that records what is written to it.
class RecordingSheet : public ResultsSheet
{
public:
    std::map<QString, QString> cells;
    std::map<QString, QString> formats; // of the numbers written as shown
    std::vector<std::tuple<int, int, int>> copies;

    void setText(const QString &cell, const QString &text) override { cells[cell] = text; }
    void setNumber(const QString &cell, double value) override
    {
        cells[cell] = QStringLiteral("#") + QString::number(value);
    }
    void setShownNumber(const QString &cell, const QString &shown, const QString &format) override
    {
        cells[cell] = shown;
        formats[cell] = format;
    }
    void copyRows(int first, int last, int destination) override
    {
        copies.emplace_back(first, last, destination);
    }
    QString at(const QString &cell) const
    {
        const auto found = cells.find(cell);
        return found == cells.end() ? QStringLiteral("<none>") : found->second;
    }
};

// A project's records with the settings of a results table.
struct ResultsInputs : Records
{
    int pointCount = 15;
    QString unit = QStringLiteral("m");
    std::vector<std::optional<QString>> header;
};

void WriteResultsTable(ResultsSheet &sheet, const ResultsInputs &in)
{
    ::WriteResultsTable(sheet, snapshotOf(in), ResultsSettings{in.pointCount, in.unit, in.header, {}, {}, {}});
}

ResultsInputs twoEpochs()
{
    ResultsInputs in;
    in.epochs = {{0, "2018-01-01", "A", "1"}, {1, "2018-01-11", "B", "2"}};
    in.points = {{1, "J1", 5, "m"}, {2, "J2", 6, "m"}};
    in.pointCount = 30;
    return in;
}

} // namespace

class ResultsTableTest : public QObject
{
    Q_OBJECT
private slots:
    void roundedCount_data();
    void roundedCount();
    void headerOnlyWithTheFirstEpoch();
    void twoGroups();
    void pointsOfOneEpoch();
    void unitMillimetres();
    void zeroDayCount();
    void averagesOnEveryPageOfTheGroup();
    void workbookLayer();
    void workbookRefusals();
};

void ResultsTableTest::roundedCount_data()
{
    QTest::addColumn<int>("highest");
    QTest::addColumn<int>("pointCount");
    QTest::addColumn<int>("n");
    QTest::addRow("7 of 30") << 7 << 30 << 15;
    QTest::addRow("40 of 30") << 40 << 30 << 30;
    QTest::addRow("15 of 15") << 15 << 15 << 15;
    QTest::addRow("16 of 150") << 16 << 150 << 30;
    QTest::addRow("37 of 37") << 37 << 37 << 45;
}

void ResultsTableTest::roundedCount()
{
    QFETCH(int, highest);
    QFETCH(int, pointCount);
    QFETCH(int, n);
    const ProjectSnapshot snapshot =
        snapshotOf({{{0, "2018-01-01", "A", "1"}}, {{0, 1, 1.0}, {0, highest, 1.0}}, {}, {}});
    QCOMPARE(roundedPointCount(snapshot, pointCount), n);
}

void ResultsTableTest::headerOnlyWithTheFirstEpoch()
{
    ResultsInputs in;
    in.epochs = {{0, "2018-01-01", "A", "1"}};
    in.elevations = {{0, 1, 100.0}};
    in.header = {
        QStringLiteral("某楼"), std::nullopt, QStringLiteral("测量'院"), QString(), std::nullopt,
        QStringLiteral("DS05"), std::nullopt, QStringLiteral("12.5m")};
    RecordingSheet sheet;
    WriteResultsTable(sheet, in);
    QCOMPARE(sheet.cells.size(), size_t(5));
    QCOMPARE(sheet.at("B1"), QStringLiteral("某楼"));
    QCOMPARE(sheet.at("H1"), "<none>"); // no row for the key
    QCOMPARE(sheet.at("B2"), QStringLiteral("测量'院"));
    QCOMPARE(sheet.at("H2"), QString());
    QCOMPARE(sheet.at("B3"), "DS05");
    QCOMPARE(sheet.at("M3"), "12.5m");
    QVERIFY(sheet.copies.empty());
}

void ResultsTableTest::twoGroups()
{
    ResultsInputs in;
    for (int k = 0; k <= 4; ++k)
        in.epochs.push_back({k,
                             QStringLiteral("2018-01-%1").arg(1 + 10 * k, 2, 10, QLatin1Char('0')),
                             QStringLiteral("E%1").arg(k), "1"});
    for (int k = 0; k <= 4; ++k)
        in.elevations.push_back({k, 1, 100.0 - 0.001 * k});
    in.points = {{1, "J1", 5, "m"}};
    in.pointCount = 30;
    RecordingSheet sheet;
    WriteResultsTable(sheet, in);
    QCOMPARE(sheet.copies, (std::vector<std::tuple<int, int, int>>{{4, 25, 26}}));
    // Group 0 on page 0: epochs 1, 2, 3 in C, G and K.
    QCOMPARE(sheet.at("C4"), "2018-01-11");
    QCOMPARE(sheet.at("G4"), "2018-01-21");
    QCOMPARE(sheet.at("K5"), "E3");
    QCOMPARE(sheet.at("B4"), "2018-01-01");
    QCOMPARE(sheet.at("B6"), QStringLiteral("初始高程\r\n(m)"));
    QCOMPARE(sheet.at("C6"), QStringLiteral("本次高程\r\n(m)"));
    QCOMPARE(sheet.at("A7"), "J1");
    QCOMPARE(sheet.at("B7"), "100.00000");
    QCOMPARE(sheet.at("K7"), "99.99700");
    QCOMPARE(sheet.at("L7"), "-1.00");
    QCOMPARE(sheet.at("M7"), "-3.00");
    QCOMPARE(sheet.at("N7"), "-0.100");
    QCOMPARE(sheet.at("C23"), "#10");
    // Group 1 on page 1 (rows 26 to 47): epoch 4 in C, epoch 3 as the previous one.
    QCOMPARE(sheet.at("C26"), "2018-01-41");
    QCOMPARE(sheet.at("B26"), "2018-01-31");
    QCOMPARE(sheet.at("B27"), "E3");
    QCOMPARE(sheet.at("B28"), QStringLiteral("上次高程\r\n(m)"));
    QCOMPARE(sheet.at("A29"), "J1");
    QCOMPARE(sheet.at("B29"), "99.99700");
    QCOMPARE(sheet.at("C29"), "99.99600");
    QCOMPARE(sheet.at("E29"), "-4.00");
    QCOMPARE(sheet.at("G26"), "<none>");
    QCOMPARE(sheet.at("G28"),
             QStringLiteral("本次高程\r\n(m)")); // every page gets the three headings
}

void ResultsTableTest::pointsOfOneEpoch()
{
    ResultsInputs in = twoEpochs();
    in.elevations = {{0, 1, 100.0}, {1, 1, 100.0},  // no change: signed zeros
                     {0, 2, 50.0},  {1, 2, 49.99},  // -10 mm
                     {0, 3, 20.0},  {1, 3, 19.998}, // no point record: values, no name
                     {0, 4, 30.0},  {1, 5, 7.0}};   // point 4 not in epoch 1; 5 only in epoch 1
    RecordingSheet sheet;
    WriteResultsTable(sheet, in);
    QCOMPARE(sheet.at("A7"), "J1");
    QCOMPARE(sheet.at("D7"), "+0.00");
    QCOMPARE(sheet.at("E7"), "+0.00");
    QCOMPARE(sheet.at("F7"), "+0.000");
    QCOMPARE(sheet.at("D8"), "-10.00");
    QCOMPARE(sheet.at("F8"), "-1.000");
    QCOMPARE(sheet.at("A9"), "<none>");
    QCOMPARE(sheet.at("C9"), "19.99800");
    QCOMPARE(sheet.at("E9"), "-2.00");
    QCOMPARE(sheet.at("B10"), "30.00000"); // previous elevation of point 4
    QCOMPARE(sheet.at("C10"), "<none>");
    // Point 5: an elevation in epoch 1 only: no change, no previous.
    QCOMPARE(sheet.at("C11"), "7.00000");
    QCOMPARE(sheet.at("D11"), "<none>");
    QCOMPARE(sheet.at("E11"), "<none>");
    QCOMPARE(sheet.at("F11"), "<none>");
    // Averages over the points that have what each needs: this-time of 1, 2, 3.
    QCOMPARE(sheet.at("D22"), "-4.00");
    QCOMPARE(sheet.at("E22"), "-4.00");
    QCOMPARE(sheet.at("F22"), "-0.400");
}

void ResultsTableTest::unitMillimetres()
{
    ResultsInputs in = twoEpochs();
    in.unit = QStringLiteral("mm");
    in.elevations = {{0, 1, 12.34567}, {1, 1, 12.34}};
    RecordingSheet sheet;
    WriteResultsTable(sheet, in);
    QCOMPARE(sheet.at("B7"), "12345.67");
    QCOMPARE(sheet.at("C7"), "12340.00");
    QCOMPARE(sheet.at("B6"), QStringLiteral("初始高程\r\n(mm)"));
    QCOMPARE(sheet.at("D7"), "-5.67");
}

void ResultsTableTest::zeroDayCount()
{
    ResultsInputs in = twoEpochs();
    in.epochs[1].date = QStringLiteral("20180111"); // malformed, from elsewhere
    in.elevations = {{0, 1, 100.0}, {1, 1, 99.99}};
    RecordingSheet sheet;
    WriteResultsTable(sheet, in);
    QCOMPARE(sheet.at("D7"), "-10.00");
    QCOMPARE(sheet.at("F7"), "<none>");
    QCOMPARE(sheet.at("F22"), "<none>");
    QCOMPARE(sheet.at("D22"), "-10.00");
    QCOMPARE(sheet.at("C23"), "#0");
}

void ResultsTableTest::averagesOnEveryPageOfTheGroup()
{
    ResultsInputs in = twoEpochs();
    in.elevations = {{0, 1, 10.0}, {1, 1, 9.999}, {0, 20, 10.0}, {1, 20, 9.997}};
    RecordingSheet sheet;
    WriteResultsTable(sheet, in);
    QCOMPARE(sheet.copies.size(), size_t(1));
    QCOMPARE(sheet.at("D22"), "-2.00");
    QCOMPARE(sheet.at("D44"), "-2.00");
    QCOMPARE(sheet.at("C26"), "2018-01-11");
    QCOMPARE(sheet.at("A29"), "<none>"); // point 16 has no record
    QCOMPARE(sheet.at("D33"), "-3.00");  // point 20 is the fifth of the second page
}

void ResultsTableTest::workbookLayer()
{
    QTemporaryDir dir;
    XlsxWorkbook workbook;
    const auto opened = workbook.open(QStringLiteral(SEDIMETRA_SOURCE_DIR "/Support/Tab/沉降观测成果表.xlsx"));
    QVERIFY2(opened, qPrintable(opened.error()));
    const auto found = workbook.sheet(QStringLiteral("沉降观测成果表"));
    QVERIFY2(found, qPrintable(found.error()));
    XlsxSheet *sheet = *found;
    QCOMPARE(sheet->text("A4"), QStringLiteral("观测日期"));
    QCOMPARE(sheet->text("A22"), QStringLiteral("平均"));
    sheet->setText("B1", QStringLiteral("工程 <&\"'>"));
    sheet->setNumber("C23", 12);
    sheet->copyRows(4, 25, 26);
    QCOMPARE(sheet->text("A44"), QStringLiteral("平均"));
    QCOMPARE(sheet->text("C45"), "12");
    const QString out = dir.filePath(QStringLiteral("结果.xlsx"));
    const auto saved = workbook.save(out);
    QVERIFY2(saved, qPrintable(saved.error()));

    XlsxWorkbook again;
    QVERIFY(again.open(out));
    const auto reread = again.sheet(QStringLiteral("沉降观测成果表"));
    QVERIFY(reread);
    QCOMPARE((*reread)->text("B1"), QStringLiteral("工程 <&\"'>"));
    QCOMPARE((*reread)->text("A26"), QStringLiteral("观测日期"));
    QCOMPARE(columnNumber("N"), 14);
    QCOMPARE(columnNumber("AB"), 28);
    QCOMPARE(columnLetters(28), "AB");
}

void ResultsTableTest::workbookRefusals()
{
    QTemporaryDir dir;
    XlsxWorkbook text;
    QVERIFY(writeFile(dir.filePath("text.xlsx"), "not a workbook"));
    const auto notWorkbook = text.open(dir.filePath("text.xlsx"));
    QVERIFY(!notWorkbook);
    QVERIFY(notWorkbook.error().contains(QStringLiteral("text.xlsx")));
    XlsxWorkbook missing;
    QVERIFY(!missing.open(dir.filePath("none.xlsx")));
    XlsxWorkbook workbook;
    QVERIFY(workbook.open(QStringLiteral(SEDIMETRA_SOURCE_DIR "/Support/Tab/沉降观测成果表.xlsx")));
    const auto noSheet = workbook.sheet(QStringLiteral("Sheet1"));
    QVERIFY(!noSheet);
    QVERIFY(noSheet.error().contains(QStringLiteral("Sheet1")));
    // The workbook cannot be written where a folder stands.
    QVERIFY(QDir().mkpath(dir.filePath("folder.xlsx")));
    QVERIFY(!workbook.save(dir.filePath("folder.xlsx")));
    QVERIFY(QFileInfo(dir.filePath("folder.xlsx")).isDir());
}

QTEST_GUILESS_MAIN(ResultsTableTest)
#include "tst_resultstable.moc"
