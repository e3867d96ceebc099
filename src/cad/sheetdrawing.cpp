#include "cad/sheetdrawing.h"

#include "base/textnumber.h"
#include "cad/dxffile.h"
#include "domain/settlementrules.h"

#include <QRegularExpression>

#include <cmath>


namespace {

const QString rulerLayer = QStringLiteral("标尺");
constexpr int white = 7;
constexpr double tick = 0.5;
constexpr double labelGap = 1.2;
constexpr double labelHeight = 2;
constexpr double labelWidthFactor = 0.8;

// The labels of an axis from 0 to `range` (a little allowance for a range
// typed as a multiple of a decimal step): each multiple of the step.
template <typename Label>
void forEachLabel(double range, double step, Label label)
{
    for (long long k = 0;; ++k) {
        const double value = double(k) * step;
        if (value > range + step * 1e-6)
            break;
        label(value);
    }
}

void line(CadInterface &cad, CadPoint a, CadPoint b)
{
    cad.addLightWeightPolyline({a, b});
}

// Builds one open polyline vertex by vertex: the first vertex is only
// remembered, the second creates the polyline, later ones are appended.
class PolylineBuilder
{
public:
    explicit PolylineBuilder(CadInterface &cad)
        : m_cad(cad)
    {}
    void add(CadPoint vertex)
    {
        if (m_count == 0)
            m_first = vertex;
        else if (m_count == 1)
            m_id = m_cad.addLightWeightPolyline({m_first, vertex});
        else
            m_cad.addVertex(m_id, m_count, vertex);
        ++m_count;
    }
    void update()
    {
        if (m_id != 0)
            m_cad.update(m_id);
    }

private:
    CadInterface &m_cad;
    CadPoint m_first;
    int m_id = 0;
    int m_count = 0;
};

void insertMark(CadInterface &cad, const MarkFiles &marks, const QString &mark, CadPoint at)
{
    cad.insertBlock(at, marks.file(mark));
}

void drawTimeAxis(CadInterface &cad, CadPoint o, double range, double scale, CurveKind kind)
{
    line(cad, o, {o.x + range * scale, o.y});
    forEachLabel(range, axisLabelStep(AxisKind::Time, range, scale), [&](double t) {
        const double x = o.x + t * scale;
        if (t != 0)
            line(cad, {x, o.y + tick}, {x, o.y - tick});
        const QString label = QString::number(qRound64(t));
        if (kind == CurveKind::Settlement)
            AddLabel(cad, label, {x, o.y + labelGap}, CadAlign::Bottom, CadAlign::Centre);
        else if (kind == CurveKind::Load || t != 0)
            AddLabel(cad, label, {x, o.y - labelGap}, CadAlign::Top, CadAlign::Centre);
    });
}

void verticalTick(CadInterface &cad, CadPoint o, double y)
{
    line(cad, {o.x - tick, y}, {o.x + tick, y});
}

void sideLabel(CadInterface &cad, const QString &text, CadPoint o, double y)
{
    AddLabel(cad, text, {o.x - labelGap, y}, CadAlign::Middle, CadAlign::Right);
}

// An axis's title with its unit: the time axis's beyond its right end, a
// value axis's beyond its far end (below for settlement, above otherwise).
void timeTitle(CadInterface &cad, CadPoint o, double length)
{
    AddLabel(cad, QStringLiteral("时间 (d)"), {o.x + length + 2 * labelGap, o.y}, CadAlign::Middle, CadAlign::Left);
}

void valueTitle(CadInterface &cad, const QString &title, CadPoint o, double signedLength)
{
    if (signedLength < 0)
        AddLabel(cad, title, {o.x, o.y + signedLength - 2 * labelGap}, CadAlign::Top, CadAlign::Centre);
    else
        AddLabel(cad, title, {o.x, o.y + signedLength + 2 * labelGap}, CadAlign::Bottom, CadAlign::Centre);
}

} // namespace

QString MarkFiles::file(const QString &mark) const
{
    if (mark.isEmpty() || mark.contains(QLatin1Char('/')) || mark.contains(QLatin1Char('\\'))
        || mark.contains(QLatin1String("..")) || mark.contains(QChar(0)))
        return QString();
    return supportDir + mark + QStringLiteral(".dxf");
}

QString frameFileName(CurveKind kind)
{
    switch (kind) {
    case CurveKind::Rate:
        return QStringLiteral("速率图框.dxf");
    case CurveKind::Load:
        return QStringLiteral("荷载图框.dxf");
    case CurveKind::Settlement:
        break;
    }
    return QStringLiteral("曲线图框.dxf");
}

Result<ConnectResult> ConnectCad(CadInterface &cad, const QString &font, const QString &bigFont)
{
    if (auto attached = cad.attach(); !attached)
        return attached.failure();
    cad.setVariable(QStringLiteral("OsMode"), QStringLiteral("0"));
    cad.setVariable(QStringLiteral("UcsIcon"), QStringLiteral("1"));
    cad.setVariable(QStringLiteral("CelType"), QStringLiteral("ByLayer"));
    cad.setVariable(QStringLiteral("CeColor"), QStringLiteral("ByLayer"));
    const QString style = QStringLiteral("沉降");
    cad.addTextStyle(style);
    // A TrueType font: "[name]", a font file (.ttf, .ttc, .otf) or a name
    // that is no SHX file's (宋体); else SHX files with the big font.
    static const QRegularExpression trueTypeFile(QStringLiteral("\\.(ttf|ttc|otf)$"),
                                                QRegularExpression::CaseInsensitiveOption);
    bool ascii = true;
    for (const QChar c : font)
        ascii &= c.unicode() < 128;
    if (font.size() >= 2 && font.startsWith(QLatin1Char('[')) && font.endsWith(QLatin1Char(']')))
        cad.setFont(style, font.mid(1, font.size() - 2));
    else if (trueTypeFile.match(font).hasMatch() || !ascii)
        cad.setFont(style, font);
    else
        cad.setFontFiles(style, font, bigFont, 0.8);
    if (cad.setActiveTextStyle(style) == CadError::FontMissing)
        return ConnectResult::FontMissing;
    return ConnectResult::Ready;
}

void UseLayer(CadInterface &cad, const QString &name, int colour)
{
    if (cad.setVariable(QStringLiteral("Clayer"), name) == CadError::LayerMissing) {
        cad.addLayer(name, colour);
        cad.setActiveLayer(name);
    }
}

void AddLabel(CadInterface &cad, const QString &text, CadPoint at, int vertical, int horizontal)
{
    const int id = cad.addText(text, at, labelHeight);
    cad.setAlignment(id, vertical, horizontal);
    cad.setAlignmentPoint(id, at);
    cad.setScaleFactor(id, labelWidthFactor);
}

void DrawSettlementAxes(CadInterface &cad, CadPoint o, double timeRange, double curveRange,
                        const SheetScales &scales, const CurveLayout &layout)
{
    UseLayer(cad, rulerLayer, white);
    drawTimeAxis(cad, o, timeRange, scales.time, CurveKind::Settlement);

    // Settlement grows downwards; the labels show the negated depth.
    line(cad, o, {o.x, o.y - curveRange * scales.curve});
    const double step = axisLabelStep(AxisKind::Settlement, curveRange, scales.curve);
    forEachLabel(curveRange, step, [&](double s) {
        const double y = o.y - s * scales.curve;
        if (s != 0)
            verticalTick(cad, o, y);
        if (s != 0 || layout.AuxRange == 0)
            sideLabel(cad, formatFixed(-s, 1), o, y);
    });

    if (layout.AuxRange != 0) {
        // The auxiliary (load) axis grows upwards; its ticks follow the
        // layout's range, its scale the box.
        line(cad, o, {o.x, o.y + layout.AuxLength});
        const double auxStep = axisLabelStep(AxisKind::Aux, layout.AuxRange, scales.aux);
        forEachLabel(layout.AuxRange, auxStep, [&](double a) {
            if (a == 0)
                return;
            const double y = o.y + a * scales.aux;
            verticalTick(cad, o, y);
            sideLabel(cad, QString::number(qRound64(a)), o, y);
        });
    }
    timeTitle(cad, o, timeRange * scales.time);
    valueTitle(cad, QStringLiteral("沉降量 (mm)"), o, -curveRange * scales.curve);
    if (layout.AuxRange != 0)
        valueTitle(cad, QStringLiteral("荷载 (层)"), o, layout.AuxLength);
}

void DrawRateAxes(CadInterface &cad, CadPoint o, double timeRange, double curveRange,
                  const SheetScales &scales)
{
    UseLayer(cad, rulerLayer, white);
    drawTimeAxis(cad, o, timeRange, scales.time, CurveKind::Rate);
    line(cad, o, {o.x, o.y + curveRange * scales.curve});
    const double step = axisLabelStep(AxisKind::Rate, curveRange, scales.curve);
    forEachLabel(curveRange, step, [&](double r) {
        const double y = o.y + r * scales.curve;
        if (r != 0)
            verticalTick(cad, o, y);
        sideLabel(cad, formatFixed(r, 2), o, y);
    });
    timeTitle(cad, o, timeRange * scales.time);
    valueTitle(cad, QStringLiteral("沉降速率 (mm/d)"), o, curveRange * scales.curve);
}

void DrawLoadAxes(CadInterface &cad, CadPoint o, double timeRange, double curveRange,
                  const SheetScales &scales)
{
    UseLayer(cad, rulerLayer, white);
    drawTimeAxis(cad, o, timeRange, scales.time, CurveKind::Load);
    line(cad, o, {o.x, o.y + curveRange * scales.curve});
    const double step = axisLabelStep(AxisKind::Load, curveRange, scales.curve);
    forEachLabel(curveRange, step, [&](double f) {
        const double y = o.y + f * scales.curve;
        if (f != 0)
            verticalTick(cad, o, y);
        sideLabel(cad, QString::number(qRound64(f)), o, y);
    });
    timeTitle(cad, o, timeRange * scales.time);
    valueTitle(cad, QStringLiteral("荷载 (层)"), o, curveRange * scales.curve);
}

void DrawPointCurve(CadInterface &cad, const ProjectSnapshot &snapshot, int point, int legendRow,
                    CadPoint o, const SheetScales &scales, const CurveLayout &layout,
                    const MarkFiles &marks)
{
    // A point with elevations but no point record is drawn under its number,
    // in colour 7 with the circle mark.
    Point record{point, QString::number(point), white, QStringLiteral("圆形")};
    if (const Point *p = snapshot.point(point))
        record = *p;
    // The layer takes the name as CAD programs allow it; the legend shows it
    // as typed.
    UseLayer(cad, validSymbolName(QStringLiteral("沉_") + record.name), record.aci);

    const double x0 = o.x + layout.LegendX + 2;
    const double y0 = o.y + layout.LegendY - 5.0 * legendRow;
    line(cad, {x0, y0}, {x0 + 14, y0});
    insertMark(cad, marks, record.mark, {x0 + 7, y0});
    AddLabel(cad, record.name, {x0 + 17, y0}, CadAlign::Middle, CadAlign::Left);

    const int column = snapshot.columnOf(point);
    if (column < 0)
        return;
    PolylineBuilder curve(cad);
    int l = 0;
    for (const CurvePoint &p : SettlementCurve(snapshot, column)) {
        ++l;
        // The first epoch's elevation at the sheet's origin; a point first
        // observed later starts at its own first observation.
        const CadPoint vertex = p.epoch == 0 ? o : CadPoint{o.x + p.day * scales.time, o.y + p.mm * scales.curve};
        curve.add(vertex);
        curve.update();
        if (l >= 2)
            insertMark(cad, marks, record.mark, vertex);
    }
}

void DrawLoadCurve(CadInterface &cad, const ProjectSnapshot &snapshot, CadPoint o, double timeScale,
                   double floorScale, const MarkFiles &marks)
{
    UseLayer(cad, QStringLiteral("荷_"), white);
    PolylineBuilder curve(cad);
    for (int e = 0; e < snapshot.epochCount(); ++e) {
        const Epoch &epoch = snapshot.epochs()[size_t(e)];
        const double y = o.y + leadingNumber(epoch.layers) * floorScale;
        const CadPoint vertex{e == 0 ? o.x : o.x + snapshot.daysSinceFirst(e) * timeScale, y};
        curve.add(vertex);
        insertMark(cad, marks, QStringLiteral("叉叉"), vertex);
    }
}

void DrawRateCurve(CadInterface &cad, const ProjectSnapshot &snapshot, int pointCount, CadPoint o,
                   const SheetScales &scales, const MarkFiles &marks)
{
    UseLayer(cad, QStringLiteral("速_"), white);
    if (snapshot.epochs().empty())
        return;
    // The curve starts at the sheet origin; each epoch with a mean rate adds
    // a vertex, an epoch without one (no pair of elevations, or no days
    // between the dates) adds none.
    PolylineBuilder curve(cad);
    curve.add(o);
    for (int e = 1; e < snapshot.epochCount(); ++e) {
        const auto rate = MeanSinkingRate(snapshot, e, pointCount);
        if (!rate)
            continue;
        const CadPoint vertex{o.x + snapshot.daysSinceFirst(e) * scales.time,
                              o.y + *rate * scales.curve};
        curve.add(vertex);
        insertMark(cad, marks, QStringLiteral("圆形"), vertex);
    }
}

double baseLabelStep(AxisKind axis)
{
    switch (axis) {
    case AxisKind::Time: return 10;
    case AxisKind::Settlement: return 1;
    case AxisKind::Rate: return 0.01;
    case AxisKind::Load: return 3;
    case AxisKind::Aux: return 2;
    }
    return 1;
}

double axisLabelStep(AxisKind axis, double range, double scale)
{
    const double base = baseLabelStep(axis);
    if (!(scale > 0) || !std::isfinite(scale))
        return base;
    double gap = 1.5 * labelHeight;
    if (axis == AxisKind::Time) {
        // Digits of a shape font are about three quarters of the height wide.
        const int digits = int(QString::number(qRound64(std::max(range, 0.0))).size());
        gap = std::max(gap, digits * 0.75 * labelHeight * labelWidthFactor + labelHeight / 2);
    }
    for (double decade = 1; decade < 1e12; decade *= 10)
        for (const double m : {1.0, 2.0, 5.0})
            if (base * m * decade * scale >= gap)
                return base * m * decade;
    return base;
}

double axisScale(double length, double layoutRange, double boxValue)
{
    const double divisor = boxValue > layoutRange ? boxValue : layoutRange;
    return divisor == 0 ? 0 : length / divisor;
}
