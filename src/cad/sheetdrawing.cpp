#include "cad/sheetdrawing.h"

#include "survey/settlement.h"
#include "base/textnumber.h"

#include <map>
#include <set>
#include <unordered_map>

namespace {

const QString rulerLayer = QStringLiteral("标尺");
constexpr int white = 7;
constexpr double tick = 0.5;
constexpr double labelGap = 1.2;

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

QString dateOfEpoch(const SheetData &data, int cjNo)
{
    for (const Epoch &epoch : data.epochs)
        if (epoch.cjNo == cjNo)
            return epoch.date;
    return QString();
}

void drawTimeAxis(CadInterface &cad, CadPoint o, double range, double scale, CurveKind kind)
{
    line(cad, o, {o.x + range * scale, o.y});
    for (int t = 0; t <= range; t += 10) {
        const double x = o.x + t * scale;
        if (t != 0)
            line(cad, {x, o.y + tick}, {x, o.y - tick});
        const QString label = QString::number(t);
        if (kind == CurveKind::Settlement)
            AddLabel(cad, label, {x, o.y + labelGap}, CadAlign::Bottom, CadAlign::Centre);
        else if (kind == CurveKind::Load || t != 0)
            AddLabel(cad, label, {x, o.y - labelGap}, CadAlign::Top, CadAlign::Centre);
    }
}

void verticalTick(CadInterface &cad, CadPoint o, double y)
{
    line(cad, {o.x - tick, y}, {o.x + tick, y});
}

void sideLabel(CadInterface &cad, const QString &text, CadPoint o, double y)
{
    AddLabel(cad, text, {o.x - labelGap, y}, CadAlign::Middle, CadAlign::Right);
}

} // namespace

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

ConnectResult ConnectCad(CadInterface &cad, const QString &font, const QString &bigFont,
                         QString *error)
{
    if (!cad.attach(error))
        return ConnectResult::AttachFailed;
    cad.setVariable(QStringLiteral("OsMode"), QStringLiteral("0"));
    cad.setVariable(QStringLiteral("UcsIcon"), QStringLiteral("1"));
    cad.setVariable(QStringLiteral("CelType"), QStringLiteral("ByLayer"));
    cad.setVariable(QStringLiteral("CeColor"), QStringLiteral("ByLayer"));
    const QString style = QStringLiteral("沉降");
    cad.addTextStyle(style);
    if (font.size() >= 2 && font.startsWith(QLatin1Char('[')) && font.endsWith(QLatin1Char(']')))
        cad.setFont(style, font.mid(1, font.size() - 2));
    else
        cad.setFontFiles(style, font, bigFont, 0.8);
    if (cad.setActiveTextStyle(style) == CadError::FontMissing) {
        cad.sendCommand(QStringLiteral("(Alert \"对不起，字库没找到！\")\r"));
        return ConnectResult::FontMissing;
    }
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
    const int id = cad.addText(text, at, 2);
    cad.setAlignment(id, vertical, horizontal);
    cad.setAlignmentPoint(id, at);
    cad.setScaleFactor(id, 0.8);
}

void DrawSettlementAxes(CadInterface &cad, CadPoint o, double timeRange, double curveRange,
                        const SheetScales &scales, const CurveLayout &layout)
{
    UseLayer(cad, rulerLayer, white);
    drawTimeAxis(cad, o, timeRange, scales.time, CurveKind::Settlement);

    // Settlement grows downwards; the labels show the negated depth.
    line(cad, o, {o.x, o.y - curveRange * scales.curve});
    for (int s = 0; s <= curveRange; ++s) {
        const double y = o.y - s * scales.curve;
        if (s != 0)
            verticalTick(cad, o, y);
        if (s != 0 || layout.AuxRange == 0)
            sideLabel(cad, formatFixed(-s, 1), o, y);
    }

    if (layout.AuxRange != 0) {
        // The auxiliary (load) axis grows upwards; its ticks follow the
        // layout's range, its scale the box.
        line(cad, o, {o.x, o.y + layout.AuxLength});
        for (int a = 2; a <= layout.AuxRange; a += 2) {
            const double y = o.y + a * scales.aux;
            verticalTick(cad, o, y);
            sideLabel(cad, QString::number(a), o, y);
        }
    }
}

void DrawRateAxes(CadInterface &cad, CadPoint o, double timeRange, double curveRange,
                  const SheetScales &scales)
{
    UseLayer(cad, rulerLayer, white);
    drawTimeAxis(cad, o, timeRange, scales.time, CurveKind::Rate);
    line(cad, o, {o.x, o.y + curveRange * scales.curve});
    // Steps of 0.01 by repeated addition; the allowance keeps the last step
    // that the additions carry slightly past the range.
    for (double r = 0; r <= curveRange + 0.001; r += 0.01) {
        const double y = o.y + r * scales.curve;
        if (r != 0)
            verticalTick(cad, o, y);
        sideLabel(cad, formatFixed(r, 2), o, y);
    }
}

void DrawLoadAxes(CadInterface &cad, CadPoint o, double timeRange, double curveRange,
                  const SheetScales &scales)
{
    UseLayer(cad, rulerLayer, white);
    drawTimeAxis(cad, o, timeRange, scales.time, CurveKind::Load);
    line(cad, o, {o.x, o.y + curveRange * scales.curve});
    for (int f = 0; f <= curveRange; f += 3) {
        const double y = o.y + f * scales.curve;
        if (f != 0)
            verticalTick(cad, o, y);
        sideLabel(cad, QString::number(f), o, y);
    }
}

void DrawPointCurve(CadInterface &cad, const SheetData &data, int point, int legendRow, CadPoint o,
                    const SheetScales &scales, const CurveLayout &layout, const MarkFiles &marks)
{
    // A point with elevations but no point record is drawn under its number,
    // in colour 7 with the circle mark.
    Point record{point, QString::number(point), white, QStringLiteral("圆形")};
    for (const Point &p : data.points)
        if (p.cjdNo == point) {
            record = p;
            break;
        }
    UseLayer(cad, QStringLiteral("沉_") + record.name, record.aci);

    const double x0 = o.x + layout.LegendX + 2;
    const double y0 = o.y + layout.LegendY - 5.0 * legendRow;
    line(cad, {x0, y0}, {x0 + 14, y0});
    insertMark(cad, marks, record.mark, {x0 + 7, y0});
    AddLabel(cad, record.name, {x0 + 17, y0}, CadAlign::Middle, CadAlign::Left);

    // Days from the first epoch of every epoch, worked out once.
    const QString baseDate = dateOfEpoch(data, 0);
    std::unordered_map<int, int> days;
    days.reserve(data.epochs.size());
    for (const Epoch &epoch : data.epochs)
        days.emplace(epoch.cjNo, DayCount(baseDate, epoch.date));
    PolylineBuilder curve(cad);
    std::optional<double> h0;
    int l = 0;
    for (const Elevation &e : data.elevations) { // CjNo order
        if (e.cjdNo != point)
            continue;
        ++l;
        if (!h0)
            h0 = e.pointH;
        CadPoint vertex = o;
        if (l >= 2) {
            const auto day = days.find(e.cjNo);
            // An elevation of an epoch the project does not list has no date.
            const int d = day == days.end() ? DayCount(baseDate, QString()) : day->second;
            const double mm = (e.pointH - *h0) * 1000;
            vertex = {o.x + d * scales.time, o.y + mm * scales.curve};
        }
        curve.add(vertex);
        curve.update();
        if (l >= 2)
            insertMark(cad, marks, record.mark, vertex);
    }
}

void DrawLoadCurve(CadInterface &cad, const SheetData &data, CadPoint o, double timeScale,
                   double floorScale, const MarkFiles &marks)
{
    UseLayer(cad, QStringLiteral("荷_"), white);
    if (data.epochs.empty())
        return;
    const QString firstDate = data.epochs.front().date;
    PolylineBuilder curve(cad);
    int m = 0;
    for (const Epoch &epoch : data.epochs) {
        ++m;
        const double y = o.y + leadingNumber(epoch.layers) * floorScale;
        const CadPoint vertex{m == 1 ? o.x : o.x + DayCount(firstDate, epoch.date) * timeScale, y};
        curve.add(vertex);
        insertMark(cad, marks, QStringLiteral("叉叉"), vertex);
    }
}

void DrawRateCurve(CadInterface &cad, const SheetData &data, int pointCount, CadPoint o,
                   const SheetScales &scales, const MarkFiles &marks)
{
    UseLayer(cad, QStringLiteral("速_"), white);
    if (data.epochs.empty())
        return;
    std::map<int, std::map<int, double>> byEpoch;
    for (const Elevation &e : data.elevations)
        if (e.cjdNo <= pointCount)
            byEpoch[e.cjNo].try_emplace(e.cjdNo, e.pointH);

    const QString firstDate = data.epochs.front().date;
    QString previousDate = firstDate;
    // The curve starts at the sheet origin; each epoch with a mean rate adds
    // a vertex, an epoch without one (no pair of elevations, or no days
    // between the dates) adds none.
    PolylineBuilder curve(cad);
    curve.add(o);
    int i = 0;
    for (const Epoch &epoch : data.epochs) {
        ++i;
        if (epoch.cjNo != 0) {
            double sum = 0;
            int l = 0;
            const auto current = byEpoch.find(epoch.cjNo);
            const auto previous = byEpoch.find(epoch.cjNo - 1);
            if (current != byEpoch.end() && previous != byEpoch.end())
                for (const auto &[point, h] : current->second)
                    if (const auto before = previous->second.find(point);
                        before != previous->second.end()) {
                        sum += (before->second - h) * 1000;
                        ++l;
                    }
            const int e = DayCount(previousDate, epoch.date);
            if (l != 0 && e > 0 && i >= 2) {
                const CadPoint vertex{o.x + DayCount(firstDate, epoch.date) * scales.time,
                                      o.y + sum / l / e * scales.curve};
                curve.add(vertex);
                insertMark(cad, marks, QStringLiteral("圆形"), vertex);
            }
        }
        previousDate = epoch.date;
    }
}

double axisScale(double length, double layoutRange, double boxValue)
{
    const double divisor = boxValue > layoutRange ? boxValue : layoutRange;
    return divisor == 0 ? 0 : length / divisor;
}

RunResult DrawCurveSheets(CadInterface &cad, const SheetData &data, const CurveRunInputs &in)
{
    if (data.elevations.empty())
        return RunResult::NoElevations;
    const CurveLayout &layout = in.layout;
    const double timeRange = leadingNumber(in.timeText);
    const double curveRange = leadingNumber(in.curveText);
    const SheetScales scales{
        axisScale(layout.TimeLength, layout.TimeRange, timeRange),
        axisScale(layout.CurveLength, layout.CurveRange, curveRange),
        axisScale(layout.AuxLength, layout.AuxRange, leadingNumber(in.auxText))};

    cad.setVariable(QStringLiteral("OsMode"), QStringLiteral("32"));
    const auto picked = cad.getPoint(QStringLiteral("\r\n请指定插入基点："));
    if (!picked)
        return RunResult::Cancelled;
    cad.setVariable(QStringLiteral("OsMode"), QStringLiteral("0"));
    const CadPoint base{picked->x + layout.BaseOffsetX, picked->y + layout.BaseOffsetY};

    auto drawFrame = [&](CadPoint origin) {
        if (in.frameDir.isEmpty())
            return;
        const int reference =
            cad.insertBlock(origin, in.frameDir + QLatin1Char('/') + frameFileName(in.kind));
        if (reference != 0) {
            cad.explode(reference);
            cad.erase(reference);
        }
    };

    if (in.kind == CurveKind::Rate) {
        drawFrame(base);
        DrawRateAxes(cad, base, timeRange, curveRange, scales);
        DrawRateCurve(cad, data, in.pointCount, base, scales, in.marks);
        return RunResult::Drawn;
    }
    if (in.kind == CurveKind::Load) {
        drawFrame(base);
        DrawLoadAxes(cad, base, timeRange, curveRange, scales);
        DrawLoadCurve(cad, data, base, scales.time, scales.curve, in.marks);
        return RunResult::Drawn;
    }

    // Settlement sheets: N lines a sheet, R sheets a row, rows downwards.
    const int lines =
        std::max(1, in.split ? roundHalfEven(leadingNumber(in.linesText)) : in.pointCount);
    const int perRow = roundHalfEven(leadingNumber(in.perRowText));
    std::set<int> observed;
    for (const Elevation &e : data.elevations)
        observed.insert(e.cjdNo);
    int row = 1, column = 0, i = 0, legendRow = 0;
    CadPoint origin = base;
    for (int n = 1; n <= in.pointCount; ++n) {
        if (!observed.count(n))
            continue;
        ++i;
        ++legendRow;
        if ((i - 1) % lines == 0) {
            legendRow = 1;
            if (++column > perRow) {
                ++row;
                column = 1;
            }
            origin = {base.x + (column - 1) * layout.SheetWidth,
                      base.y - (row - 1) * layout.SheetHeight};
            drawFrame(origin);
            DrawSettlementAxes(cad, origin, timeRange, curveRange, scales, layout);
            if (layout.AuxRange != 0)
                DrawLoadCurve(cad, data, origin, scales.time, scales.aux, in.marks);
        }
        DrawPointCurve(cad, data, n, legendRow, origin, scales, layout, in.marks);
    }
    return RunResult::Drawn;
}
