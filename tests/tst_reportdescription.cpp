// The report as a description of its pages, read without painting it, and
// written PDFs joined into one as the report's halves are: every page in
// order, with its size and its text, read back by poppler.
#include "pdfreport/monitoringreport.h"
#include "pdfreport/pdfjoin.h"

#include "project/settingsstore.h"
#include "testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>

using namespace testsupport;

class ReportDescriptionTest : public QObject
{
    Q_OBJECT
private slots:
    void describesEveryPageInOrder();
    void aLongReportTellsItsProgressOnTheCallingThread();
    void joinedPdfsKeepEveryPage();
    void joiningRefusesWhatItCannotRead_data();
    void joiningRefusesWhatItCannotRead();
};

namespace {

// Twelve points (or `points`) over 40 epochs (or `epochs`) a week apart,
// each sinking at its own pace; J7 the most.
ProjectSnapshot buildingSnapshot(int points = 12, int epochs = 40)
{
    Records records;
    for (int p = 1; p <= points; ++p)
        records.points.push_back({p, QStringLiteral("J%1").arg(p), 1, QStringLiteral("圆形")});
    for (int k = 0; k < epochs; ++k) {
        records.epochs.push_back({k, QDate(2024, 1, 1).addDays(7 * k).toString(Qt::ISODate),
                                  QStringLiteral("第%1次").arg(k + 1), QString::number(1 + k / 4)});
        for (int p = 1; p <= points; ++p) {
            const double pace = p == 7 ? 0.9 : 0.1 + 0.03 * p; // mm a week, slowing
            records.elevations.push_back({k, p, 100 + p * 0.1 - pace * 8 * (1 - std::exp(-k / 8.0)) / 1000});
        }
    }
    return snapshotOf(records);
}

// Copies the program's support files (the results template, the sheet
// frames and the point marks) as the build laid them out.
bool copySupport(const QString &programDir)
{
    const QString from = QStringLiteral(SEDIMETRA_BIN_DIR "/Support/");
    QDirIterator files(from, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        const QString to = programDir + QStringLiteral("Support/") + file.mid(from.size());
        QDir().mkpath(QFileInfo(to).absolutePath());
        if (!QFile::exists(to) && !QFile::copy(file, to))
            return false;
    }
    return true;
}

// A PDF of pages each holding one line of text, on the paper given.
QByteArray writtenPdf(const QStringList &texts, const QPageSize &paper, bool landscape)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(paper);
    writer.setPageOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    QPainter painter(&writer);
    painter.setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 14));
    for (int i = 0; i < texts.size(); ++i) {
        if (i > 0)
            writer.newPage();
        painter.drawText(QPointF(300, 600), texts[i]);
    }
    painter.end();
    return buffer.data();
}

QString run(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

void ReportDescriptionTest::describesEveryPageInOrder()
{
    TestProgram program;
    QVERIFY(program.make({{QStringLiteral("工程名称"), QStringLiteral("某楼")}}));
    QVERIFY(copySupport(program.programDir()));
    SettingsStore settings;
    QVERIFY(settings.open(program.sdmx()));
    const ProjectSnapshot snapshot = buildingSnapshot();
    ReportRequest request;
    request.settings = &settings;
    request.programDir = program.programDir();
    request.projectPath = program.projects() + QStringLiteral("某楼.mdb");
    request.reportDate = QStringLiteral("2024-10-10");
    request.headerFields = {{QStringLiteral("工程名称"), QStringLiteral("某楼")}};
    bool checkAsked = false;
    request.checkWhenNeeded = [&checkAsked]() -> Result<RecordCheck> {
        checkAsked = true;
        RecordCheck check;
        check.breaks = {QStringLiteral("修改记录第 3 条与记录链不符")};
        return check;
    };
    const auto described = describeMonitoringReport(snapshot, request);
    QVERIFY2(described, qPrintable(described ? QString() : described.error()));
    const std::vector<ReportPage> &pages = described->pages;
    QCOMPARE(described->frame.pages, int(pages.size()));
    QCOMPARE(described->outcome.pages, int(pages.size()));
    QVERIFY(checkAsked);

    // The cover first; the results, the sheets, the stability table, the
    // conclusion and the record in that order, each kind in one run.
    QVERIFY(std::holds_alternative<CoverPage>(pages.front().content));
    std::vector<size_t> kinds;
    for (const ReportPage &page : pages)
        if (kinds.empty() || kinds.back() != page.content.index())
            kinds.push_back(page.content.index());
    const auto position = [&](size_t kind) {
        return std::find(kinds.begin(), kinds.end(), kind) - kinds.begin();
    };
    const size_t results = ReportPage::Content(ResultsPage{}).index();
    const size_t sheets = ReportPage::Content(SheetPage{}).index();
    const size_t conclusion = ReportPage::Content(ConclusionPage{}).index();
    QCOMPARE(std::count(kinds.begin(), kinds.end(), results), 1);
    QVERIFY(position(results) < position(sheets));
    QVERIFY(position(sheets) < position(conclusion));

    // Every point's every epoch is on a results page: each point's name
    // in the first column of as many rows as the table has epoch groups,
    // under the header rows every page repeats.
    std::map<QString, int> rowsOfPoint;
    bool titled = false;
    for (const ReportPage &page : pages) {
        const auto *sheet = std::get_if<ResultsPage>(&page.content);
        if (!sheet)
            continue;
        titled = titled || !sheet->title.isEmpty();
        QVERIFY(page.landscape);
        QVERIFY(sheet->rows.size() > 3);
        QCOMPARE(sheet->rows[0], 1);
        for (size_t i = 3; i < sheet->rows.size(); ++i) {
            const QString first = sheet->cells->text(sheet->rows[i], 1).trimmed();
            if (first.startsWith(u'J'))
                ++rowsOfPoint[first];
        }
    }
    QVERIFY(titled);
    QCOMPARE(int(rowsOfPoint.size()), 12);
    for (const auto &[name, rows] : rowsOfPoint)
        QCOMPARE(rows, rowsOfPoint.begin()->second);

    // The conclusion names the point that sank the most, and the record's
    // break found by the check appears in a table of its own.
    const auto closing = std::find_if(pages.begin(), pages.end(), [](const ReportPage &page) {
        return std::holds_alternative<ConclusionPage>(page.content);
    });
    QVERIFY(closing != pages.end());
    QVERIFY(std::get<ConclusionPage>(closing->content).sentences.join(u'\n').contains(QStringLiteral("J7")));
    const bool breakListed = std::any_of(pages.begin(), pages.end(), [](const ReportPage &page) {
        const auto *table = std::get_if<TablePage>(&page.content);
        return table && !table->rows.empty() && table->rows.front().join(u' ').contains(QStringLiteral("第 3 条"));
    });
    QVERIFY(breakListed);

    // A check that fails fails the report, with its reason.
    request.checkWhenNeeded = []() -> Result<RecordCheck> { return fail(QStringLiteral("记录无法读取")); };
    const auto refused = describeMonitoringReport(snapshot, request);
    QVERIFY(!refused);
    QCOMPARE(refused.error(), QStringLiteral("记录无法读取"));
}

void ReportDescriptionTest::aLongReportTellsItsProgressOnTheCallingThread()
{
    // Long enough to be painted in two parts at once: the window's progress
    // is told on its own thread only, never going back, up to the last page.
    TestProgram program;
    QVERIFY(program.make());
    QVERIFY(copySupport(program.programDir()));
    SettingsStore settings;
    QVERIFY(settings.open(program.sdmx()));
    QTemporaryDir dir;
    ReportRequest request;
    request.settings = &settings;
    request.programDir = program.programDir();
    request.projectPath = program.projects() + QStringLiteral("长.mdb");
    request.output = dir.filePath(QStringLiteral("长.pdf"));
    request.reportDate = QStringLiteral("2024-10-10");
    std::vector<std::pair<int, int>> told;
    bool elsewhere = false;
    const Qt::HANDLE caller = QThread::currentThreadId();
    request.progress = [&](int page, int pages) {
        elsewhere = elsewhere || QThread::currentThreadId() != caller;
        told.emplace_back(page, pages);
    };
    const auto written = writeMonitoringReport(buildingSnapshot(20, 150), request);
    QVERIFY2(written, qPrintable(written ? QString() : written.error()));
    QVERIFY2(written->pages >= 60, qPrintable(QString::number(written->pages)));
    QVERIFY(!elsewhere);
    QVERIFY(!told.empty());
    for (size_t i = 0; i < told.size(); ++i) {
        QCOMPARE(told[i].second, written->pages);
        QVERIFY(told[i].first >= 0 && told[i].first < written->pages);
        if (i > 0)
            QVERIFY2(told[i].first >= told[i - 1].first, qPrintable(QStringLiteral("%1 after %2")
                                                                        .arg(told[i].first)
                                                                        .arg(told[i - 1].first)));
    }
    // Every page is there, numbered in order.
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        QSKIP("poppler's pdftotext is not installed: the pages were not read back");
    const QStringList pages = run(pdftotext, {request.output, QStringLiteral("-")}).split(u'\f', Qt::SkipEmptyParts);
    QCOMPARE(int(pages.size()), written->pages);
    for (int i = 0; i < pages.size(); ++i)
        QVERIFY(pages[i].contains(QStringLiteral("第 %1 页 共 %2 页").arg(i + 1).arg(written->pages)));
}

void ReportDescriptionTest::joinedPdfsKeepEveryPage()
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
    if (pdftotext.isEmpty() || pdfinfo.isEmpty())
        QSKIP("poppler's pdftotext and pdfinfo are not installed");
    // Three parts, each with its own font subset and paper.
    const QByteArray a = writtenPdf({QStringLiteral("甲一页"), QStringLiteral("甲二页")}, QPageSize(QPageSize::A4), false);
    const QByteArray b = writtenPdf({QStringLiteral("乙一页 12.345")}, QPageSize(QPageSize::A3), true);
    const QByteArray c = writtenPdf({QStringLiteral("丙一页"), QStringLiteral("丙二页"), QStringLiteral("丙三页")},
                                    QPageSize(QPageSize::A4), true);
    const auto joined = joinWrittenPdfs({a, b, c});
    QVERIFY2(joined, qPrintable(joined ? QString() : joined.error()));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("joined.pdf"));
    QVERIFY(writeFile(path, *joined));

    const QString info = run(pdfinfo, {QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                                       QStringLiteral("6"), path});
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+6\\n"))), qPrintable(info));
    const QStringList sizes{QStringLiteral("595 x 842"), QStringLiteral("595 x 842"), QStringLiteral("1191 x 842"),
                            QStringLiteral("842 x 595"), QStringLiteral("842 x 595"), QStringLiteral("842 x 595")};
    for (int page = 1; page <= 6; ++page)
        QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Page\\s+%1 size:\\s+%2")
                                                      .arg(page)
                                                      .arg(sizes[page - 1]))),
                 qPrintable(QStringLiteral("page %1: %2").arg(page).arg(info)));
    const QStringList texts{QStringLiteral("甲一页"), QStringLiteral("甲二页"), QStringLiteral("乙一页 12.345"),
                            QStringLiteral("丙一页"), QStringLiteral("丙二页"), QStringLiteral("丙三页")};
    for (int page = 1; page <= 6; ++page)
        QCOMPARE(run(pdftotext, {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                 QString::number(page), path, QStringLiteral("-")})
                     .trimmed(),
                 texts[page - 1]);
    // qpdf reads every object and stream of the joined file.
    const QString qpdf = QStandardPaths::findExecutable(QStringLiteral("qpdf"));
    if (qpdf.isEmpty())
        QSKIP("qpdf is not installed: the file's structure was not checked");
    int exitCode = -1;
    const QString checked = run(qpdf, {QStringLiteral("--check"), path}, &exitCode);
    QVERIFY2(exitCode == 0, qPrintable(checked));
}

void ReportDescriptionTest::joiningRefusesWhatItCannotRead_data()
{
    QTest::addColumn<QByteArray>("damaged");
    const QByteArray good = writtenPdf({QStringLiteral("一页")}, QPageSize(QPageSize::A4), false);
    QTest::newRow("not a PDF") << QByteArray("PK\x03\x04 a workbook");
    QByteArray cut = good;
    cut.chop(200);
    QTest::newRow("cut short") << cut;
    QByteArray moved = good;
    const qsizetype at = moved.lastIndexOf("startxref\n") + 10;
    moved.replace(at, 1, "1");
    QTest::newRow("table in the wrong place") << moved;
    QByteArray miscounted = good;
    miscounted.replace("/Count 1", "/Count 2");
    QTest::newRow("page tree miscounted") << miscounted;
}

void ReportDescriptionTest::joiningRefusesWhatItCannotRead()
{
    QFETCH(QByteArray, damaged);
    const QByteArray good = writtenPdf({QStringLiteral("一页")}, QPageSize(QPageSize::A4), false);
    QVERIFY(joinWrittenPdfs({good, good}));
    const auto joined = joinWrittenPdfs({good, damaged});
    QVERIFY(!joined);
    QVERIFY2(joined.error().startsWith(QStringLiteral("第 2 部分无法合并")), qPrintable(joined.error()));
}

QTEST_MAIN(ReportDescriptionTest)
#include "tst_reportdescription.moc"
