#include "cad/plansheet.h"

#include "base/textnumber.h"
#include "cad/curvesrun.h"
#include "cad/drawing.h"
#include "domain/projectsnapshot.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>

namespace {

constexpr int grey = 8, green = 3, red = 1, white = 7;

void text(CadInterface &cad, const QString &value, CadPoint at, double height, int vertical,
          int horizontal)
{
    const int id = cad.addText(value, at, height);
    cad.setAlignment(id, vertical, horizontal);
    cad.setAlignmentPoint(id, at);
    cad.setScaleFactor(id, 0.8);
}

void polyline(CadInterface &cad, const std::vector<CadPoint> &vertices)
{
    if (vertices.size() >= 2)
        cad.addLightWeightPolyline(vertices);
}

// A length on the scale bar: 1, 2 or 5 × 10^n metres near a quarter of the
// room it has.
double barLength(double metresAvailable)
{
    const double target = metresAvailable / 2;
    const double power = std::pow(10.0, std::floor(std::log10(target)));
    for (const double f : {5.0, 2.0, 1.0})
        if (f * power <= target)
            return f * power;
    return power;
}

} // namespace

PlanSheetSettings planSheetSettings(const CurveRunSettings &run)
{
    PlanSheetSettings settings;
    if (!run.frameDir.isEmpty()) {
        const QString frame = run.frameDir + QLatin1Char('/') + planFrameFileName();
        if (QFileInfo(frame).isFile())
            settings.frameFile = frame;
    }
    if (run.layout.SheetWidth > 0 && run.layout.SheetHeight > 0) {
        settings.sheetWidth = run.layout.SheetWidth;
        settings.sheetHeight = run.layout.SheetHeight;
    }
    settings.marks = run.marks;
    settings.font = run.font;
    settings.bigFont = run.bigFont;
    settings.titleValues = run.titleValues;
    return settings;
}

std::vector<int> planScales()
{
    // The drawing standard's ratios (GB/T 50001: 1:100, 1:150, 1:200, 1:250,
    // 1:300, 1:400, 1:500, 1:600 …), so that a building fills its sheet: a
    // 1-2-5 series leaves most of an A3 empty between 1:200 and 1:500.
    std::vector<int> scales;
    for (int power = 100; power <= 100000; power *= 10)
        for (const int tenths : {10, 15, 20, 25, 30, 40, 50, 60})
            scales.push_back(tenths * power / 10);
    return scales;
}

int fittingScale(double widthM, double heightM, double widthMm, double heightMm)
{
    for (const int scale : planScales())
        if (widthM * 1000 / scale <= widthMm && heightM * 1000 / scale <= heightMm)
            return scale;
    return planScales().back();
}

namespace {

using Paper = std::function<CadPoint(double, double)>;

// The contour lines, each with its level at the middle of its longest line.
void drawContours(CadInterface &cad, const PlanFigures &figures, const Paper &paper)
{
    UseLayer(cad, QStringLiteral("等值线"), green);
    for (const ContourLine &contour : figures.contours) {
        const std::vector<std::pair<double, double>> *longest = nullptr;
        for (const auto &line : contour.polylines) {
            std::vector<CadPoint> vertices;
            for (const auto &[x, y] : line)
                vertices.push_back(paper(x, y));
            polyline(cad, vertices);
            if (!longest || line.size() > longest->size())
                longest = &line;
        }
        if (longest && !longest->empty()) {
            const auto &[x, y] = (*longest)[longest->size() / 2];
            text(cad, formatFixed(contour.levelMm, 1), paper(x, y), 1.8, CadAlign::Bottom, CadAlign::Centre);
        }
    }
}

// The points with their marks, names and settlement; a ring round a point in alarm.
void drawPoints(CadInterface &cad, const ProjectSnapshot &snapshot, const PlanFigures &figures,
                const PlanSheetSettings &in, const Paper &paper)
{
    const EpochDeformation &d = figures.deformation;
    std::set<int> inAlarm;
    for (const Alarm &alarm : figures.alarms) {
        if (alarm.point)
            inAlarm.insert(*alarm.point);
        if (alarm.pair) {
            inAlarm.insert(alarm.pair->first);
            inAlarm.insert(alarm.pair->second);
        }
    }
    for (const PlanPoint &p : d.points) {
        const Point *record = snapshot.point(p.number);
        const int aci = record ? record->aci : white;
        UseLayer(cad, validSymbolName(QStringLiteral("沉_") + p.name), aci);
        const CadPoint at = paper(p.x, p.y);
        cad.insertBlock(at, in.marks.file(record ? record->mark : QStringLiteral("圆形")));
        text(cad, p.name, {at.x + 2, at.y + 1}, 2, CadAlign::Bottom, CadAlign::Left);
        text(cad, formatFixed(p.sMm, 2), {at.x + 2, at.y - 1}, 2, CadAlign::Top, CadAlign::Left);
        if (inAlarm.count(p.number)) {
            UseLayer(cad, QStringLiteral("预警"), red);
            std::vector<CadPoint> ring;
            for (int i = 0; i <= 72; ++i)
                ring.push_back({at.x + 3 * std::cos(i * M_PI / 36), at.y + 3 * std::sin(i * M_PI / 36)});
            polyline(cad, ring);
        }
    }
}

// Where the frame puts the sheet's parts (mm on paper from its base point).
struct SheetFrame
{
    CadPoint o;
    double binding, margin, titleHeight, titleWidth;
};

void drawLegend(CadInterface &cad, const ProjectSnapshot &snapshot, const PlanFigures &figures,
                const PlanSheetSettings &in, const SheetFrame &frame, int scale)
{
    const EpochDeformation &d = figures.deformation;
    const CadPoint o = frame.o;
    const double binding = frame.binding, margin = frame.margin, titleHeight = frame.titleHeight,
                 titleWidth = frame.titleWidth;
    const double k = 1000.0 / scale; // paper mm per metre
    // The legend: what is shown, the scale with its bar, the tilt.
    UseLayer(cad, QStringLiteral("图例"), white);
    const Epoch &epoch = snapshot.epochs()[size_t(d.epochIndex)];
    const double lx = o.x + binding + 8;
    double ly = o.y + margin + titleHeight - 3;
    const double legendRight = o.x + in.sheetWidth - margin - titleWidth - 8;
    text(cad, QStringLiteral("沉降平面图  %1（%2）累计沉降 (mm)").arg(epoch.name, epoch.date), {lx, ly}, 3,
         CadAlign::Top, CadAlign::Left);
    // North: the plan's +y, an arrow with its word right of the title.
    {
        const CadPoint foot{legendRight - 4, ly - 10}, tip{legendRight - 4, ly};
        polyline(cad, {foot, tip});
        polyline(cad, {{tip.x - 1.5, tip.y - 4}, tip, {tip.x + 1.5, tip.y - 4}});
        text(cad, QStringLiteral("北"), {tip.x + 2, tip.y}, 3, CadAlign::Top, CadAlign::Left);
    }
    ly -= 6;
    text(cad, QStringLiteral("比例 1:%1").arg(scale), {lx, ly}, 2.5, CadAlign::Top, CadAlign::Left);
    const double bar = barLength((legendRight - lx - 60) / k);
    const CadPoint b0{lx + 30, ly - 1.5};
    polyline(cad, {{b0.x, b0.y + 1}, b0, {b0.x + bar * k, b0.y}, {b0.x + bar * k, b0.y + 1}});
    text(cad, QStringLiteral("0"), {b0.x, b0.y - 1}, 2, CadAlign::Top, CadAlign::Centre);
    text(cad, formatFixed(bar, bar < 1 ? 1 : 0) + QStringLiteral(" m"), {b0.x + bar * k, b0.y - 1}, 2,
         CadAlign::Top, CadAlign::Centre);
    ly -= 8;
    if (figures.levels.size() >= 2)
        text(cad, QStringLiteral("等值线间距 %1 mm").arg(formatFixed(figures.levels[1] - figures.levels[0], 1)),
             {lx, ly}, 2.5, CadAlign::Top, CadAlign::Left);
    if (d.tilt) {
        const QString tilt = d.tilt->value > 0
                                 ? QStringLiteral("倾斜 %1‰  倾向方位角 %2  平面拟合中误差 %3 mm")
                                       .arg(formatFixed(d.tilt->value * 1000, 3), azimuthText(d.tilt->azimuthDeg),
                                            formatFixed(d.tilt->rmsMm, 2))
                                 : QStringLiteral("无倾斜（各点沉降一致）  平面拟合中误差 %1 mm")
                                       .arg(formatFixed(d.tilt->rmsMm, 2));
        text(cad, tilt, {lx + 60, ly}, 2.5, CadAlign::Top, CadAlign::Left);
        // The arrow toward which the building sinks most.
        if (d.tilt->value > 0) {
            const double a = (90 - d.tilt->azimuthDeg) * M_PI / 180; // from the +x axis
            const CadPoint from{legendRight - 12, ly - 1}, to{from.x + 10 * std::cos(a), from.y + 10 * std::sin(a)};
            polyline(cad, {from, to});
            for (const double side : {2.6, -2.6}) {
                const double h = a + M_PI + side * 0.2;
                polyline(cad, {to, {to.x + 2.5 * std::cos(h), to.y + 2.5 * std::sin(h)}});
            }
        }
    }
    ly -= 6;
    if (!figures.alarms.empty()) {
        UseLayer(cad, QStringLiteral("预警"), red);
        QStringList lines;
        for (const Alarm &alarm : figures.alarms)
            lines << alarmText(alarm, snapshot);
        const QString shown = lines.size() > 3
                                  ? lines.mid(0, 3).join(QStringLiteral("；")) + QStringLiteral(" 等 %1 项").arg(lines.size())
                                  : lines.join(QStringLiteral("；"));
        text(cad, QStringLiteral("预警：") + shown, {lx, ly}, 2, CadAlign::Top, CadAlign::Left);
    }
}

} // namespace

Result<PlanSheetStatus> runPlanSheet(CadInterface &cad, const ProjectSnapshot &snapshot,
                                     const PlanFigures &figures, const PlanBackground &background,
                                     const PlanSheetSettings &in, int *usedScale)
{
    const EpochDeformation &d = figures.deformation;
    if (d.points.size() < 3)
        return PlanSheetStatus::NoPlan;
    const auto connected = ConnectCad(cad, in.font, in.bigFont);
    if (!connected)
        return connected.failure();
    if (*connected == ConnectResult::FontMissing)
        return PlanSheetStatus::FontMissing;
    cad.setVariable(QStringLiteral("OsMode"), QStringLiteral("32"));
    const auto picked = cad.getPoint(QStringLiteral("\r\n请指定插入基点："));
    if (!picked || !std::isfinite(picked->x) || !std::isfinite(picked->y)
        || std::fabs(picked->x) > 1e9 || std::fabs(picked->y) > 1e9)
        return PlanSheetStatus::Cancelled;
    cad.setVariable(QStringLiteral("OsMode"), QStringLiteral("0"));
    const CadPoint o = *picked;
    if (!in.frameFile.isEmpty()) {
        const int reference = cad.insertBlock(o, in.frameFile);
        if (reference != 0) {
            cad.explode(reference, in.titleValues);
            cad.erase(reference);
        }
    }

    // The sheet as the frame lays it out: the binding on the left, the title
    // block in the lower right corner, the legend left of it.
    const bool large = in.sheetWidth >= 400;
    const double binding = large ? 25 : 20, margin = 5;
    const double titleHeight = 4 * (large ? 8 : 7), titleWidth = large ? 140 : 120;
    const double left = o.x + binding + 8, right = o.x + in.sheetWidth - margin - 8;
    const double bottom = o.y + margin + titleHeight + 8, top = o.y + in.sheetHeight - margin - 8;

    // The extents of the plan: points, and the background where it is.
    double minX = d.points.front().x, maxX = minX, minY = d.points.front().y, maxY = minY;
    const auto extend = [&](double x, double y) {
        minX = std::min(minX, x), maxX = std::max(maxX, x);
        minY = std::min(minY, y), maxY = std::max(maxY, y);
    };
    for (const PlanPoint &p : d.points)
        extend(p.x, p.y);
    for (const auto &line : background.lines)
        for (const auto &[x, y] : line)
            extend(x, y);
    // Room for the names and figures beside the points.
    const double labelRoom = 24;
    const int scale = in.scale.value_or(
        fittingScale(maxX - minX, maxY - minY, right - left - labelRoom, top - bottom - labelRoom));
    if (usedScale)
        *usedScale = scale;
    const double k = 1000.0 / scale; // paper mm per metre
    const CadPoint centre{(left + right) / 2, (bottom + top) / 2};
    const double cx = (minX + maxX) / 2, cy = (minY + maxY) / 2;
    const auto paper = [&](double x, double y) {
        return CadPoint{centre.x + (x - cx) * k, centre.y + (y - cy) * k};
    };

    if (!background.empty()) {
        UseLayer(cad, QStringLiteral("平面图"), grey);
        for (const auto &line : background.lines) {
            std::vector<CadPoint> vertices;
            vertices.reserve(line.size());
            for (const auto &[x, y] : line)
                vertices.push_back(paper(x, y));
            polyline(cad, vertices);
        }
    }

    drawContours(cad, figures, paper);
    drawPoints(cad, snapshot, figures, in, paper);
    drawLegend(cad, snapshot, figures, in, {o, binding, margin, titleHeight, titleWidth}, scale);
    return PlanSheetStatus::Drawn;
}
