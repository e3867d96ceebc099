#include "preview/previewcurves.h"
#include "testsupport.h"

#include <QImage>
#include <QPainter>
#include <QTest>

using namespace testsupport;

namespace {

// The drawing area of the preview: Pic1 (5775 × 3855 twips) inside its border.
const QSize areaSize(383, 255);

QImage render(const PreviewPicture &picture)
{
    QImage image(areaSize, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    drawPreview(painter, QRectF(QPointF(0, 0), QSizeF(areaSize)), picture);
    return image;
}

// Where the preview puts a point of user coordinates.
QPointF pixelOf(const CoordinateWindow &w, double x, double y)
{
    return {(x - w.left) / (w.right - w.left) * areaSize.width(),
            (y - w.top) / (w.bottom - w.top) * areaSize.height()};
}

// True when a pixel within one of `at` has the colour.
bool colourNear(const QImage &image, QPointF at, QColor colour)
{
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy) {
            const QPoint p(int(at.x()) + dx, int(at.y()) + dy);
            if (image.rect().contains(p) && image.pixelColor(p) == colour)
                return true;
        }
    return false;
}

int pixelsOf(const QImage &image, QColor colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == colour;
    return count;
}

Epoch epoch(int number, const char *date, const char *layers = "0")
{
    return Epoch{number, QString::fromLatin1(date), QStringLiteral("E%1").arg(number),
                 QString::fromLatin1(layers)};
}

const QColor blue(0, 0, 255);
const QColor red(255, 0, 0);

} // namespace

Q_DECLARE_METATYPE(CoordinateWindow)

class PreviewTest : public QObject
{
    Q_OBJECT
private slots:
    void windowFitsTheProject_data();
    void windowFitsTheProject();
    void windows();
    void oneEpochDrawsTheUnitSegment();
    void clippedAtZoomLevelFour();
    void settlementCurves();
    void rateLine();
    void rateSkipsUndefinedEpochs();
    void loadLine();
    void farVerticesAreClipped();
};

void PreviewTest::windows()
{
    QCOMPARE(settlementWindow(1), (CoordinateWindow{-5, 0.5, 300, -10}));
    QCOMPARE(settlementWindow(2), (CoordinateWindow{-2.5, 0.25, 200, -5}));
    QCOMPARE(settlementWindow(3), (CoordinateWindow{-1.25, 0.125, 100, -2.5}));
    QCOMPARE(settlementWindow(4), (CoordinateWindow{-0.65, 0.05, 50, -1.25}));
    QCOMPARE(rateWindow(), (CoordinateWindow{-5, 0.2, 300, -0.02}));
    QCOMPARE(loadWindow(), (CoordinateWindow{-5, 40, 300, 0}));
}

void PreviewTest::oneEpochDrawsTheUnitSegment()
{
    Records data;
    data.epochs = {epoch(0, "2018-07-10")};
    data.elevations = {{0, 1, 100.0}};
    data.points = {{1, "J1", 5, QStringLiteral("菱形")}};
    data.colours = {{5, Rgb{0, 0, 255}}};
    const auto curves = ::settlementCurves(snapshotOf(data), 15);
    QCOMPARE(curves.size(), size_t(1));
    QCOMPARE(curves[0].points, (std::vector<QPointF>{{0, 0}, {1, 0}}));

    const PreviewPicture picture{settlementWindow(2), curves};
    const QImage image = render(picture);
    QVERIFY(colourNear(image, pixelOf(picture.window, 0, 0), blue));
    QVERIFY(colourNear(image, pixelOf(picture.window, 1, 0), blue));
    QVERIFY(!colourNear(image, pixelOf(picture.window, 10, 0), blue));
    QVERIFY(pixelsOf(image, blue) <= 4); // a one-pixel line two pixels long
}

void PreviewTest::clippedAtZoomLevelFour()
{
    Records data;
    data.epochs = {epoch(0, "2018-01-01"), epoch(1, "2018-04-11")}; // 100 days
    data.elevations = {{0, 1, 100.0}, {1, 1, 99.996}};
    data.points = {{1, "J1", 5, QStringLiteral("菱形")}};
    data.colours = {{5, Rgb{0, 0, 255}}};
    const auto curves = ::settlementCurves(snapshotOf(data), 15);
    QCOMPARE(curves[0].points.back(), QPointF(100, -4.000000000005457));

    const PreviewPicture picture{settlementWindow(4), curves};
    const QImage image = render(picture);
    // The line leaves the area at its bottom, where y = -1.25.
    const double exitX = 1 + 99 * (1.25 / 4);
    QVERIFY(colourNear(image, pixelOf(picture.window, exitX, -1.25) - QPointF(0, 1), blue));
    QVERIFY(colourNear(image, pixelOf(picture.window, 1, 0), blue));
    // Nothing is drawn right of the exit along the bottom row.
    for (int x = int(pixelOf(picture.window, exitX, -1.25).x()) + 3; x < areaSize.width(); ++x)
        QVERIFY(image.pixelColor(x, areaSize.height() - 1) != blue);
    // At zoom level 2 the whole line is in view, its end included.
    const QImage wide = render({settlementWindow(2), curves});
    QVERIFY(colourNear(wide, pixelOf(settlementWindow(2), 100, -4), blue));
}

void PreviewTest::settlementCurves()
{
    Records data;
    data.epochs = {epoch(0, "2018-01-01"), epoch(1, "2018-01-11"), epoch(2, "2018-01-31")};
    data.elevations = {{2, 1, 99.997}, {0, 1, 100.0},  {1, 1, 99.999}, // out of order
                       {1, 2, 50.0},   {2, 2, 49.998},                 // first seen in epoch 1
                       {0, 3, 10.0},   {7, 3, 9.0},                    // epoch 7 is not listed
                       {0, 20, 10.0}};                                 // above the point count
    data.points = {{1, "J1", 5, "m"}, {2, "J2", 999, "m"}};
    data.colours = {{5, Rgb{0, 0, 255}}};
    const auto curves = ::settlementCurves(snapshotOf(data), 15);
    QCOMPARE(curves.size(), size_t(3));
    QCOMPARE(curves[0].colour, blue);
    QCOMPARE(curves[0].points.size(), size_t(4));
    QCOMPARE(curves[0].points[1], QPointF(1, 0));
    QCOMPARE(curves[0].points[2].x(), 10.0);
    QVERIFY(qAbs(curves[0].points[3].y() + 3) < 1e-6);
    // Point 2: no colour, so black; its curve starts at its own first
    // observation (day 10), at 0, not at the origin.
    QCOMPARE(curves[1].colour, QColor(Qt::black));
    QCOMPARE(curves[1].points.size(), size_t(2));
    QCOMPARE(curves[1].points[0], QPointF(10, 0));
    QVERIFY(qAbs(curves[1].points[1].y() + 2) < 1e-6);
    QCOMPARE(curves[2].points.size(), size_t(2));
    QVERIFY(::settlementCurves(snapshotOf(Records{data.epochs, {}, {}, {}}), 15).empty());
}

void PreviewTest::rateLine()
{
    Records data;
    data.epochs = {epoch(0, "2018-01-01"), epoch(1, "2018-01-11")};
    data.elevations = {{0, 1, 100.0}, {1, 1, 99.999}, {0, 2, 50.0}, {1, 2, 49.9994}};
    const Polyline line = rateCurve(snapshotOf(data));
    QCOMPARE(line.colour, red);
    QCOMPARE(line.points.size(), size_t(2));
    QCOMPARE(line.points[1].x(), 10.0);
    QVERIFY(qAbs(line.points[1].y() - 0.08) < 1e-9); // (1 + 0.6) / 2 mm over 10 days, upward

    const PreviewPicture picture{rateWindow(), {line}};
    const QImage image = render(picture);
    QVERIFY(colourNear(image, pixelOf(picture.window, 0, 0), red));
    QVERIFY(colourNear(image, pixelOf(picture.window, 5, 0.04), red));
    QVERIFY(colourNear(image, pixelOf(picture.window, 10, 0.08), red));
}

void PreviewTest::rateSkipsUndefinedEpochs()
{
    Records data;
    data.epochs = {epoch(0, "2018-01-01"), epoch(1, "2018-01-11"), epoch(2, "2018-01-21"),
                   epoch(3, "2018-01-26"), epoch(4, "2018-01-26"), epoch(5, "2018-02-05")};
    data.elevations = {{0, 1, 100.0},
                       // epoch 1: none at all; epoch 2: no counterpart in epoch 1
                       {2, 1, 99.99},
                       {3, 1, 99.985}, // 5 mm over the 5 days since epoch 2
                       {4, 1, 99.984}, // same date: a day count of 1
                       {5, 2, 10.0}};  // no counterpart in epoch 4
    const Polyline line = rateCurve(snapshotOf(data));
    QCOMPARE(line.points.size(), size_t(3));
    QCOMPARE(line.points[0], QPointF(0, 0));
    QCOMPARE(line.points[1].x(), 25.0);
    QVERIFY(qAbs(line.points[1].y() - 1.0) < 1e-6);
    QCOMPARE(line.points[2].x(), 25.0);
    QVERIFY(qAbs(line.points[2].y() - 1.0) < 1e-6);
    QVERIFY(rateCurve(snapshotOf(Records{data.epochs, {}, {}, {}})).points.empty());
}

void PreviewTest::loadLine()
{
    Records data;
    data.epochs = {epoch(0, "2018-01-01", "2"), epoch(1, "2018-01-01", "5"),
                   epoch(2, "2018-01-31", "10")};
    const Polyline line = loadCurve(snapshotOf(data));
    QCOMPARE(line.colour, blue);
    QCOMPARE(line.points, (std::vector<QPointF>{{0, 2}, {30, 10}}));

    const PreviewPicture picture{loadWindow(), {line}};
    const QImage image = render(picture);
    QVERIFY(colourNear(image, pixelOf(picture.window, 0, 2), blue));
    QVERIFY(colourNear(image, pixelOf(picture.window, 15, 6), blue));
    QVERIFY(colourNear(image, pixelOf(picture.window, 30, 10), blue));
    QCOMPARE(pixelsOf(image, red), 0);
}

void PreviewTest::farVerticesAreClipped()
{
    // An elevation typed as 0 puts a vertex 100 m below the origin.
    const Polyline line{blue, {{0, 0}, {1, 0}, {10, -100000}, {20, -1}}};
    const PreviewPicture picture{settlementWindow(2), {line}};
    const QImage image = render(picture);
    QVERIFY(colourNear(image, pixelOf(picture.window, 0.5, 0), blue));
    QVERIFY(colourNear(image, pixelOf(picture.window, 20, -1), blue));
}

void PreviewTest::windowFitsTheProject_data()
{
    // The Part's window unless the data need more; the widest level then
    // holds every point, and the others keep their proportion to it.
    QTest::addColumn<QList<QPointF>>("points");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<CoordinateWindow>("expected");
    QTest::addRow("a small project keeps the window") << QList<QPointF>{{100, -4}} << 2 << settlementWindow(2);
    QTest::addRow("590 days, 30 mm, the level a project opens with")
        << QList<QPointF>{{590, -30}} << 2 << CoordinateWindow{-2.5 * 3.0975, 0.25 * 6.3, 200 * 3.0975, -5 * 6.3};
    QTest::addRow("590 days, 30 mm, the widest level")
        << QList<QPointF>{{590, -30}} << 1 << CoordinateWindow{-5 * 3.0975, 0.5 * 6.3, 300 * 3.0975, -10 * 6.3};
    QTest::addRow("a rise of 2 mm") << QList<QPointF>{{100, 2}} << 2 << CoordinateWindow{-2.5, 2.1, 200, -5};
}

void PreviewTest::windowFitsTheProject()
{
    QFETCH(QList<QPointF>, points);
    QFETCH(int, zoom);
    QFETCH(CoordinateWindow, expected);
    const CoordinateWindow got = fittedWindow(settlementWindow(zoom), settlementWindow(2),
                                              {Polyline{Qt::black, std::vector<QPointF>(points.begin(), points.end())}});
    for (const auto &[a, b] : {std::pair{got.left, expected.left}, {got.top, expected.top},
                               {got.right, expected.right}, {got.bottom, expected.bottom}})
        QVERIFY2(std::fabs(a - b) < 1e-9, qPrintable(QStringLiteral("%1 %2 %3 %4").arg(got.left).arg(got.top).arg(got.right).arg(got.bottom)));
}

QTEST_MAIN(PreviewTest)
#include "tst_preview.moc"
