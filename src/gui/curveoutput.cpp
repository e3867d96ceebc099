#include "gui/curveoutput.h"

#include "base/programfiles.h"
#include "cad/curvesrun.h"
#include "cad/plansheet.h"
#include "cad/drawing.h"
#include "cad/dxffile.h"
#include "base/textnumber.h"
#include "gui/curvekindcontrols.h"
#include "gui/messages.h"
#include "gui/pointpickdialog.h"
#include "gui/session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

CurveOutput::CurveOutput(Session &session, const Widgets &widgets)
    : m_session(session)
    , m_w(widgets)
{
    // A drawing belongs to its project: another project starts a new one,
    // and the file of the previous one stays as it was last written.
    connect(&session, &Session::projectChanged, this, [this] { m_drawing.reset(); });
}

CurveOutput::~CurveOutput() = default;

QMessageBox::StandardButton
CurveOutput::askAboutShortfalls(const std::vector<AxisShortfall> &shortfalls, CurveKind kind)
{
    QStringList lines{QStringLiteral("数据超出了坐标轴的范围，曲线会画到图框之外：")};
    for (const AxisShortfall &s : shortfalls) {
        QString axis, unit;
        int decimals = 0;
        switch (s.axis) {
        case AxisShortfall::Time:
            axis = QStringLiteral("时间轴");
            unit = QStringLiteral("d");
            break;
        case AxisShortfall::Curve:
            decimals = curveAxisDecimals(kind);
            axis = kind == CurveKind::Rate   ? QStringLiteral("速率轴")
                   : kind == CurveKind::Load ? QStringLiteral("荷载轴")
                                             : QStringLiteral("沉降轴");
            unit = kind == CurveKind::Rate   ? QStringLiteral("mm/d")
                   : kind == CurveKind::Load ? QStringLiteral("层")
                                             : QStringLiteral("mm");
            break;
        case AxisShortfall::Aux:
            axis = QStringLiteral("辅助轴");
            unit = QStringLiteral("层");
            break;
        }
        // Days and floors are whole; a settlement or rate one decimal finer
        // than the range, so that it never reads as equal to it.
        const int extentDecimals = s.axis == AxisShortfall::Curve ? decimals + 1 : 0;
        lines << QStringLiteral("%1：数据达 %2 %4，所设范围 %3 %4，加大后为 %5 %4")
                     .arg(axis, formatFixed(s.extent, extentDecimals),
                          formatFixed(s.range, decimals), unit, formatFixed(s.fitted, decimals));
    }
    lines << QString() << QStringLiteral("是否加大坐标轴？");
    QMessageBox box(QMessageBox::Question, QStringLiteral("Sedimetra"), lines.join(u'\n'),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, m_w.window);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("加大坐标轴"));
    box.button(QMessageBox::No)->setText(QStringLiteral("按所设范围绘制"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
    box.setDefaultButton(QMessageBox::Yes);
    return QMessageBox::StandardButton(box.exec());
}

std::optional<QString> CurveOutput::begin()
{
    if (!m_session.project()) {
        showMessage(m_w.window, QStringLiteral("请先新建或打开沉降工程文件！"));
        m_w.firstBox->setFocus();
        return std::nullopt;
    }
    if (!m_session.leaveBoxes())
        return std::nullopt;
    if (auto reloaded = m_session.reloadIfChanged(); !reloaded) {
        showMessage(m_w.window, reloaded.error());
        return std::nullopt;
    }
    // The font boxes are trimmed in place.
    m_w.font->setText(m_w.font->text().trimmed());
    m_w.bigFont->setText(m_w.bigFont->text().trimmed());

    if (!m_drawing) {
        m_drawing = std::make_unique<Drawing>(readDxfFile, [this](const QString &, CadPoint suggested) {
            // The window is moved aside while the point is picked, and put
            // back after it: the drawing is made at once, and the compact
            // window that follows remembers where the full one stood.
            const QPoint place = moveAside(m_w.window);
            const auto point = PointPickDialog::pick(suggested, m_w.window);
            moveBack(m_w.window, place);
            return point;
        });
    }
    // The window's runs of every kind go into one drawing, beside the
    // project and named by it (a script's run names its kind).
    const QString output = m_session.outputPath(outputPathOf(m_session.projectPath(), QStringLiteral(".dxf")));
    m_drawing->setOutputPath(output);
    return output;
}

CurveRequest CurveOutput::request(const QString &output) const
{
    CurveRequest request;
    request.settings = &m_session.settings();
    request.headerFields = effectiveHeaderFields(m_session.settings(), m_session.project());
    request.programDir = m_session.programDir();
    request.projectPath = m_session.projectPath();
    request.output = output;
    request.kind = m_session.curveKind();
    request.frameName = m_w.frameTemplates->currentText();
    request.layout = m_session.curveLayout();
    request.pointCount = m_session.pointCount();
    request.time = m_w.time->text();
    request.curve = m_w.curve->text();
    request.aux = m_w.aux->text();
    request.lines = m_w.lines->text();
    request.perRow = m_w.perRow->text();
    request.split = m_w.split->isChecked();
    request.font = m_w.font->text();
    request.bigFont = m_w.bigFont->text();
    return request;
}

void CurveOutput::drawPlanSheet()
{
    const auto output = begin();
    if (!output)
        return;
    const auto figures = m_session.planFiguresAtCurrentEpoch();
    if (!figures || figures->deformation.points.size() < 3) {
        showMessage(m_w.window, QStringLiteral("本次观测中有坐标且有高程的测点不足 3 个，无法输出沉降平面图。"));
        return;
    }
    CurveRequest asked = request(*output);
    asked.kind = CurveKind::Settlement;
    asked.layout.reset();
    const auto run = prepareCurveRun(asked, m_session.snapshot());
    if (!run) {
        showMessage(m_w.window, QStringLiteral("平面图未能保存：%1").arg(run.error()));
        return;
    }
    int scale = 0;
    PlanSheetSettings sheet = planSheetSettings(run->settings);
    sheet.scale = m_session.deformation().planScale;
    const auto status = runPlanSheet(*m_drawing, m_session.snapshot(), *figures, m_session.planBackground(),
                                     sheet, &scale);
    if (!status) {
        showMessage(m_w.window, status.error());
        return;
    }
    if (*status == PlanSheetStatus::FontMissing) {
        showMessage(m_w.window, QStringLiteral("对不起，字库没找到！"));
        return;
    }
    if (*status != PlanSheetStatus::Drawn)
        return;
    if (auto saved = writeDxfFile(*m_drawing, *output, &m_written); !saved) {
        showMessage(m_w.window, QStringLiteral("平面图未能保存：%1").arg(saved.error()));
        return;
    }
    const QString unread = m_drawing->unreadBlocksText();
    showMessage(m_w.window,
                QStringLiteral("沉降平面图（比例 1:%1）已保存：%2").arg(scale).arg(QDir::toNativeSeparators(*output))
                    + (unread.isEmpty() ? QString() : u'\n' + unread),
                QStringLiteral("Sedimetra"), unread.isEmpty() ? QMessageBox::Information : QMessageBox::Warning);
    emit drawingWritten(*output);
}

void CurveOutput::drawCurveSheets()
{
    const auto output = begin();
    if (!output)
        return;
    // Epochs of an unusable date stay off the sheets (told when loaded).
    const ProjectSnapshot sheets = m_session.snapshot().withUsableDates();
    const CurveRequest request = this->request(*output);
    auto run = prepareCurveRun(request, sheets);
    if (!run) {
        showMessage(m_w.window, QStringLiteral("曲线图未能保存：%1").arg(run.error()));
        return;
    }
    CurveRunSettings &in = run->settings;
    if (sheets.hasElevations()) {
        if (const auto shortfalls = axisShortfalls(in, run->fit); !shortfalls.empty()) {
            switch (askAboutShortfalls(shortfalls, in.kind)) {
            case QMessageBox::Yes:
                widenAxes(in, shortfalls);
                showInBox(m_w.time, formatFixed(in.ranges.time, 0));
                showInBox(m_w.curve, formatFixed(in.ranges.curve, curveAxisDecimals(in.kind)));
                showInBox(m_w.aux, formatFixed(in.ranges.aux, 0));
                break;
            case QMessageBox::No:
                break;
            default:
                return;
            }
        }
    }

    const auto status = runCurveSheets(*m_drawing, sheets, in);
    if (!status) {
        showMessage(m_w.window, status.error());
        return;
    }
    if (*status == CurveRunStatus::FontMissing) {
        showMessage(m_w.window, QStringLiteral("对不起，字库没找到！"));
        return;
    }
    if (*status != CurveRunStatus::Drawn)
        return;
    if (auto saved = writeDxfFile(*m_drawing, *output, &m_written); !saved) {
        showMessage(m_w.window, QStringLiteral("曲线图未能保存：%1").arg(saved.error()));
        return;
    }
    const QString unread = m_drawing->unreadBlocksText();
    showMessage(m_w.window,
                QStringLiteral("曲线图已保存：%1").arg(QDir::toNativeSeparators(*output))
                    + (unread.isEmpty() ? QString() : u'\n' + unread),
                QStringLiteral("Sedimetra"), unread.isEmpty() ? QMessageBox::Information : QMessageBox::Warning);
    emit drawingWritten(*output);
}
