// sedimetra-mkdrawings: makes the frame and mark drawings at build time.
//
//   sedimetra-mkdrawings marks OUTDIR
//       the six mark drawings 长方形.dxf ... 三角形.dxf, about one drawing
//       unit across and centred on their insertion point
//   sedimetra-mkdrawings frames LAYOUT.ini OUTDIR
//       曲线图框.dxf, 速率图框.dxf and 荷载图框.dxf for the template whose
//       layout file is given: a bordered sheet with a title block, drawn
//       around the sheet origin where the frame is inserted
#include "cad/drawing.h"
#include "cad/dxffile.h"

#include <QFileInfo>
#include <set>
#include "cad/sheetdrawing.h"
#include "layout/curvelayout.h"

#include <QCoreApplication>
#include <QDir>

#include <cmath>
#include <cstdio>

namespace {

void closedShape(Drawing &d, std::vector<CadPoint> points)
{
    points.push_back(points.front());
    d.addLightWeightPolyline(points);
}

void rectangle(Drawing &d, double left, double bottom, double right, double top)
{
    closedShape(d, {{left, bottom}, {right, bottom}, {right, top}, {left, top}});
}

bool save(Drawing &d, const QString &path)
{
    // Each drawing is made anew by the build: nothing earlier to keep.
    std::set<QString> written{QFileInfo(path).absoluteFilePath()};
    if (auto saved = writeDxfFile(d, path, &written); !saved) {
        std::fprintf(stderr, "sedimetra-mkdrawings: %s\n", qPrintable(saved.error()));
        return false;
    }
    return true;
}

bool makeMarks(const QString &dir)
{
    const std::pair<const char16_t *, std::function<void(Drawing &)>> marks[] = {
        {u"长方形",
         [](Drawing &d) {
             rectangle(d, -0.5, -0.3, 0.5, 0.3);
         }},
        {u"菱形",
         [](Drawing &d) {
             closedShape(d, {{0, 0.5}, {0.5, 0}, {0, -0.5}, {-0.5, 0}});
         }},
        {u"正方形",
         [](Drawing &d) {
             rectangle(d, -0.4, -0.4, 0.4, 0.4);
         }},
        {u"叉叉",
         [](Drawing &d) {
             d.addLightWeightPolyline({{-0.5, -0.5}, {0.5, 0.5}});
             d.addLightWeightPolyline({{-0.5, 0.5}, {0.5, -0.5}});
         }},
        {u"圆形",
         [](Drawing &d) {
             d.addCircle({0, 0}, 0.5);
         }},
        {u"三角形",
         [](Drawing &d) {
             closedShape(d, {{0, 0.55}, {0.5, -0.3}, {-0.5, -0.3}});
         }},
    };
    for (const auto &[name, draw] : marks) {
        Drawing drawing(readDxfFile);
        draw(drawing);
        if (!save(drawing,
                  dir + QLatin1Char('/') + QString::fromUtf16(name) + QStringLiteral(".dxf")))
            return false;
    }
    return true;
}

// A text or attribute definition centred vertically on `at`, narrowed as
// the sheets' texts are.
void placeText(Drawing &d, int id, CadPoint at, int horizontal)
{
    d.setAlignment(id, CadAlign::Middle, horizontal);
    d.setAlignmentPoint(id, at);
    d.setScaleFactor(id, 0.8);
}

void label(Drawing &d, const QString &text, CadPoint at, double height, int horizontal)
{
    placeText(d, d.addText(text, at, height), at, horizontal);
}

bool makeFrame(const CurveLayout &l, const QString &title, const QString &path)
{
    Drawing d(readDxfFile);
    // Captions in a shape font with the Chinese big font CAD programs ship.
    const QString style = QStringLiteral("图框");
    d.addTextStyle(style);
    d.setFontFiles(style, QStringLiteral("gbenor"), QStringLiteral("gbcbig"), 1);
    d.setActiveTextStyle(style);
    // The sheet's corners relative to the origin the frame is inserted at.
    const double left = -l.BaseOffsetX, bottom = -l.BaseOffsetY;
    const double right = left + l.SheetWidth, top = bottom + l.SheetHeight;
    const bool large = l.SheetWidth >= 400;
    const double binding = large ? 25 : 20, margin = 5;
    rectangle(d, left, bottom, right, top); // trimming line
    rectangle(d, left + binding, bottom + margin, right - margin, top - margin);

    // Title block in the lower right corner.
    const double width = large ? 140 : 120, row = large ? 8 : 7;
    const double bx = right - margin - width, by = bottom + margin;
    rectangle(d, bx, by, right - margin, by + 4 * row);
    for (int r = 1; r < 4; ++r)
        d.addLightWeightPolyline({{bx, by + r * row}, {right - margin, by + r * row}});
    const double split = bx + width * 0.3;
    d.addLightWeightPolyline({{split, by}, {split, by + 3 * row}});
    const double height = large ? 3.5 : 3;
    label(d, title, {bx + width / 2, by + 3.5 * row}, height + 1, CadAlign::Centre);
    // Each caption with the attribute its value cell is filled from; the
    // tags are the names of the header fields (and 日期, the last epoch's date).
    const char16_t *captions[] = {u"日期", u"测量单位", u"工程名称"};
    for (int r = 0; r < 3; ++r) {
        const QString caption = QString::fromUtf16(captions[r]);
        const double y = by + (r + 0.5) * row;
        label(d, caption, {bx + width * 0.15, y}, height, CadAlign::Centre);
        const CadPoint cell{(split + right - margin) / 2, y};
        placeText(d, d.addAttributeDefinition(caption, QString(), cell, height), cell,
                  CadAlign::Centre);
    }
    return save(d, path);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("marks"))
        return makeMarks(args[1]) ? 0 : 1;
    if (args.size() == 3 && args[0] == QLatin1String("frames")) {
        const std::tuple<CurveKind, const char16_t *> frames[] = {
            {CurveKind::Settlement, u"沉降观测曲线图"},
            {CurveKind::Rate, u"沉降速率曲线图"},
            {CurveKind::Load, u"荷载曲线图"}};
        for (const auto &[kind, title] : frames) {
            const CurveLayout layout = LoadCurveLayout(args[1], kind);
            if (layout.SheetWidth <= 0 || layout.SheetHeight <= 0) {
                std::fprintf(stderr, "sedimetra-mkdrawings: %s has no sheet size\n",
                             qPrintable(args[1]));
                return 1;
            }
            if (!makeFrame(layout, QString::fromUtf16(title),
                           args[2] + QLatin1Char('/') + frameFileName(kind)))
                return 1;
        }
        // The plan sheet's frame: the settlement sheet's size, inserted at
        // its lower left corner.
        CurveLayout plan = LoadCurveLayout(args[1], CurveKind::Settlement);
        plan.BaseOffsetX = plan.BaseOffsetY = 0;
        if (!makeFrame(plan, QStringLiteral("沉降平面图"), args[2] + QLatin1Char('/') + planFrameFileName()))
            return 1;
        return 0;
    }
    std::fprintf(stderr, "usage: sedimetra-mkdrawings marks OUTDIR | frames LAYOUT.ini OUTDIR\n");
    return 2;
}
