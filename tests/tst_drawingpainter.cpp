// The drawing rendered on a painter: a line, a text and a block reference
// land where the drawing puts them, at one scale, Y up.
#include "cad/drawing.h"
#include "cad/drawingpainter.h"
#include "cad/dxffile.h"

#include <QImage>
#include <QPainter>
#include <QTest>

class DrawingPainterTest : public QObject
{
    Q_OBJECT
private slots:
    void entitiesLandWhereTheDrawingPutsThem();
    void aRotatedTextKeepsItsRotation();
};

namespace {

int darkPixels(const QImage &image, const QRect &area)
{
    int dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
    return dark;
}

} // namespace

void DrawingPainterTest::entitiesLandWhereTheDrawingPutsThem()
{
    // A 200 × 100 drawing: a horizontal line at y = 80 from x = 10 to 190,
    // a text of height 10 at (20, 20), nothing else.
    Drawing drawing([](const QString &) -> Result<Drawing::BlockFile> { return fail(QString()); });
    drawing.addLayer(QStringLiteral("线"), 1);
    drawing.setActiveLayer(QStringLiteral("线"));
    drawing.addLightWeightPolyline({{10, 80}, {190, 80}});
    drawing.setActiveLayer(QStringLiteral("0"));
    drawing.addText(QStringLiteral("H1"), {20, 20}, 10);
    QImage image(400, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        // Two pixels a drawing unit; colour 1 red, the rest black.
        paintDrawing(painter, drawing, QRectF(0, 0, 200, 100), QRectF(0, 0, 400, 200),
                     [](int aci) { return aci == 1 ? QColor(Qt::red) : QColor(Qt::black); },
                     QStringLiteral("WenQuanYi Micro Hei"));
    }
    // The line: y = 80 is 40 pixels from the top; red, from x 20 to 380.
    // (Antialiased, a line on a pixel edge shares two rows.)
    int reddest = 255;
    for (int y = 38; y <= 42; ++y)
        if (image.pixelColor(200, y).red() > 200)
            reddest = std::min(reddest, image.pixelColor(200, y).green());
    QVERIFY2(reddest < 170, qPrintable(QString::number(reddest)));
    QCOMPARE(image.pixelColor(200, 60), QColor(Qt::white));
    QCOMPARE(image.pixelColor(390, 40), QColor(Qt::white));
    // The text: its baseline at y = 20 (160 pixels down), capitals 20 pixels
    // high, starting at x = 40; ink above the baseline, none below the
    // capitals' foot or left of the start.
    QVERIFY(darkPixels(image, QRect(40, 142, 40, 17)) > 30);
    QCOMPARE(darkPixels(image, QRect(40, 163, 60, 30)), 0);
    QCOMPARE(darkPixels(image, QRect(0, 130, 36, 40)), 0);
    QCOMPARE(darkPixels(image, QRect(40, 100, 60, 30)), 0);
}

void DrawingPainterTest::aRotatedTextKeepsItsRotation()
{
    // A frame whose text "HHHH" (height 10 at (20, 20)) is turned 90°: it
    // reads upward from its insertion point, nothing of it to the right.
    Drawing::BlockFile frame;
    Drawing::Entity text;
    text.kind = Drawing::Entity::Text;
    text.points = {{20, 20}};
    text.alignment = {20, 20};
    text.height = 10;
    text.rotation = 90;
    text.text = QStringLiteral("HHHH");
    frame.entities.push_back(text);
    Drawing drawing([&](const QString &) -> Result<Drawing::BlockFile> { return frame; });
    drawing.explode(drawing.insertBlock({0, 0}, QStringLiteral("frame.dxf")), {});
    QImage image(400, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        paintDrawing(painter, drawing, QRectF(0, 0, 200, 100), QRectF(0, 0, 400, 200),
                     [](int) { return QColor(Qt::black); }, QStringLiteral("WenQuanYi Micro Hei"));
    }
    // The insertion point is at pixel (40, 160); the text runs up from it,
    // its capitals left of it.
    QVERIFY(darkPixels(image, QRect(18, 70, 24, 88)) > 60);
    QCOMPARE(darkPixels(image, QRect(46, 120, 150, 60)), 0);
}

QTEST_MAIN(DrawingPainterTest)
#include "tst_drawingpainter.moc"
