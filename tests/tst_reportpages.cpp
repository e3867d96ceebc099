// The report's pages painted into images as they are into the PDF: what a
// page draws stays inside its body, a forecast not trusted is never drawn,
// and a table's pages hold every row.
#include "pdfreport/reportpages.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

class ReportPagesTest : public QObject
{
    Q_OBJECT
private slots:
    void chartsDrawOnlyTrustedForecastsInsideTheirFrames_data();
    void chartsDrawOnlyTrustedForecastsInsideTheirFrames();
    void tablePagesHoldEveryRowInsideTheBody();
};

namespace {

// An A4 landscape page at the report's resolution, white.
QImage page()
{
    QImage image(int(mm(297)), int(mm(210)), QImage::Format_RGB32);
    image.setDotsPerMeterX(int(reportDpi / 0.0254));
    image.setDotsPerMeterY(int(reportDpi / 0.0254));
    image.fill(Qt::white);
    return image;
}

bool near(QRgb pixel, const QColor &colour)
{
    return std::abs(qRed(pixel) - colour.red()) < 40 && std::abs(qGreen(pixel) - colour.green()) < 40
           && std::abs(qBlue(pixel) - colour.blue()) < 40;
}

int pixelsNear(const QImage &image, const QColor &colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            count += near(line[x], colour) ? 1 : 0;
    }
    return count;
}

int inkOutside(const QImage &image, const QRect &inside)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            count += !inside.contains(x, y) && qGray(line[x]) < 250 ? 1 : 0;
    }
    return count;
}

// A point sinking fast and then slower, under a constant load from day 0.
PointStability sinkingPoint()
{
    PointStability point;
    point.number = 1;
    point.name = QStringLiteral("J1");
    for (int k = 0; k <= 8; ++k) {
        const double t = 30.0 * k;
        point.series.push_back({t, -t / (0.02 * t + 3), k});
    }
    point.tLast = point.series.back().t;
    point.sLast = point.series.back().s;
    point.verdict = Verdict::Unstable;
    point.loadStart = point.series.front();
    return point;
}

} // namespace

Q_DECLARE_METATYPE(PointStability)

void ReportPagesTest::chartsDrawOnlyTrustedForecastsInsideTheirFrames_data()
{
    // The hyperbolic curve is drawn in (0, 90, 200).
    QTest::addColumn<PointStability>("point");
    QTest::addColumn<bool>("drawn");
    PointStability trusted = sinkingPoint();
    trusted.hyperbolic = HyperbolicFit{-0.02, -3, -50, 0.999};
    QTest::newRow("a trusted fit") << trusted << true;
    // A trusted fit whose end lies far below the observed: its curve and
    // line stay inside the chart's frame.
    PointStability deep = sinkingPoint();
    deep.hyperbolic = HyperbolicFit{-0.0001, -3, -10000, 0.95};
    QTest::newRow("a trusted fit far beyond the observed") << deep << true;
    PointStability rejected = sinkingPoint();
    rejected.hyperbolicReason = QStringLiteral("曲线有奇点");
    QTest::newRow("a fit with a pole") << rejected << false;
}

void ReportPagesTest::chartsDrawOnlyTrustedForecastsInsideTheirFrames()
{
    QFETCH(PointStability, point);
    QFETCH(bool, drawn);
    QImage image = page();
    const QRectF body(mm(15), mm(22), mm(270), mm(166));
    {
        QPainter p(&image);
        paintStabilityCharts(p, body, QStringLiteral("未稳定测点"), QStringLiteral("图例"), {&point}, 30);
    }
    QCOMPARE(inkOutside(image, body.toAlignedRect()), 0);
    // The first chart takes a third of the width and half the height below
    // the title; its plot leaves room for the scale below and at the left.
    // No curve is drawn below the plot's frame.
    const double chartBottom = body.top() + mm(14) + (body.height() - mm(14)) / 2 - mm(4);
    const QImage below = image.copy(QRect(0, int(chartBottom - mm(8)) + 3, image.width(), image.height()));
    QCOMPARE(pixelsNear(below, QColor(0, 90, 200)), 0);
    QCOMPARE(pixelsNear(image, QColor(0, 90, 200)) > 0, drawn);
}

void ReportPagesTest::tablePagesHoldEveryRowInsideTheBody()
{
    // 300 rows, every seventh with a text that wraps over several lines.
    std::vector<QStringList> rows;
    for (int i = 1; i <= 300; ++i)
        rows.push_back({QString::number(i), i % 7 ? QStringLiteral("测点 J%1 累计沉降超过预警值").arg(i)
                                                  : QStringLiteral("测点 J%1 的说明：").arg(i).repeated(12)});
    const std::vector<TablePage> pages = tablePages(QStringLiteral("附表"), {QStringLiteral("说明一行")},
                                                    {QStringLiteral("序号"), QStringLiteral("内容")}, rows, {1, 9},
                                                    true);
    QVERIFY(pages.size() > 1);
    QCOMPARE(pages.front().title, QStringLiteral("附表"));
    size_t listed = 0;
    for (const TablePage &table : pages) {
        QVERIFY(!table.rows.empty());
        QCOMPARE(table.rows.front().front(), QString::number(listed + 1));
        listed += table.rows.size();
        QVERIFY(table.title.isEmpty() == (&table != &pages.front()));
        QImage image = page();
        // The body of a landscape A4 page between the header and the footer.
        const QRectF body(mm(15), mm(22), mm(270), mm(166));
        {
            QPainter p(&image);
            paintTablePage(p, body, table);
        }
        QCOMPARE(inkOutside(image, body.toAlignedRect().adjusted(-2, -2, 2, 2)), 0);
    }
    QCOMPARE(listed, rows.size());
}

QTEST_MAIN(ReportPagesTest)
#include "tst_reportpages.moc"
