#include "gui/curvekindcontrols.h"

#include <algorithm>

#include "base/programfiles.h"
#include "base/settings.h"
#include "base/textnumber.h"
#include "cad/curvesrun.h"
#include "gui/messages.h"
#include "gui/previewwidget.h"
#include "gui/session.h"
#include "preview/planpicture.h"
#include "preview/previewcurves.h"
#include "domain/buildingdeformation.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

CurveKindControls::CurveKindControls(Session &session, const Widgets &widgets)
    : m_session(session)
    , m_w(widgets)
{
    // The widest unit, "mm/d", must show whole inside its group: the units
    // move left as far as they need and their boxes give up that width.
    QLabel *unit = m_w.curveUnit;
    const int needed = unit->fontMetrics().horizontalAdvance(QStringLiteral("mm/d")) + 2;
    const QWidget *group = unit->parentWidget();
    const int room = (group ? group->contentsRect().right() : unit->geometry().right()) - unit->x();
    const int short_ = std::max(0, needed - std::max(room, unit->width()));
    if (needed > unit->width()) {
        for (const auto &[label, box] : {std::pair{m_w.timeUnit, m_w.time}, {m_w.curveUnit, m_w.curve},
                                         {m_w.auxUnit, m_w.aux}}) {
            // First the gap between box and unit, then the box's own width.
            const int gap = label->x() - box->geometry().right() - 1;
            const int shift = std::min(short_, std::max(0, gap - 3));
            label->setGeometry(label->x() - short_, label->y(), needed, label->height());
            box->resize(box->width() - (short_ - shift), box->height());
        }
    }
}

void showInBox(QLineEdit *box, const QString &text)
{
    if (text.size() > box->maxLength())
        box->setMaxLength(int(text.size()));
    box->setText(text);
}

CurveKind CurveKindControls::selectedKind() const
{
    if (m_w.rate->isChecked())
        return CurveKind::Rate;
    if (m_w.load->isChecked())
        return CurveKind::Load;
    return CurveKind::Settlement;
}

QString CurveKindControls::layoutFile() const
{
    return frameLayoutFile(m_session.programDir(), m_w.frameTemplates->currentText());
}

void CurveKindControls::chooseFrameTemplate()
{
    storeSettingOrTell(m_w.window, m_session, SettingKey::FrameTemplate,
                       m_w.frameTemplates->currentText());
    const CurveKind kind = selectedKind();
    m_session.setCurve(kind, CurveLayout());
    m_layoutRead = false;
    m_w.output->setEnabled(true);
    const QString file = layoutFile();
    if (file.isEmpty()) {
        m_w.output->setEnabled(false);
        return;
    }
    m_session.setCurve(kind, LoadCurveLayout(file, kind));
    m_layoutRead = true;
    fitAxisBoxes();
}

void CurveKindControls::fitAxisBoxes()
{
    const CurveKind kind = m_session.curveKind();
    const AxisRanges ranges =
        m_session.project()
            ? fittedAxisRanges(m_session.curveLayout(), kind, m_session.snapshot().withUsableDates(),
                               m_session.pointCount())
            : defaultAxisRanges(m_session.curveLayout(), kind);
    showInBox(m_w.time, formatFixed(ranges.time, 0));
    showInBox(m_w.curve, formatFixed(ranges.curve, curveAxisDecimals(kind)));
    showInBox(m_w.aux, formatFixed(ranges.aux, 0));
}

void CurveKindControls::selectCurveKind(CurveKind kind)
{
    showKind(kind);
    fitAxisBoxes();
}

void CurveKindControls::showKind(CurveKind kind)
{
    // The settlement handler reads nothing while the template list is empty.
    // The layout file is read once per template and kind, not again for each
    // redraw after an elevation is typed.
    if (!m_layoutRead || kind != m_session.curveKind()) {
        const bool none =
            kind == CurveKind::Settlement && m_w.frameTemplates->currentText().isEmpty();
        m_session.setCurve(kind, none ? CurveLayout() : LoadCurveLayout(layoutFile(), kind));
        m_layoutRead = !none;
    }
    struct Axis
    {
        const char16_t *caption;
        const char16_t *unit;
        const char16_t *button;
    };
    const Axis axis = kind == CurveKind::Rate ? Axis{u"速率轴：", u"mm/d", u"输出速率图"}
                      : kind == CurveKind::Load ? Axis{u"荷载轴：", u"T/m", u"输出荷载图"}
                                                : Axis{u"沉降轴：", u"mm", u"输出曲线图"};
    m_w.timeCaption->setText(QStringLiteral("时间轴："));
    m_w.timeUnit->setText(QStringLiteral("d"));
    m_w.curveCaption->setText(QString::fromUtf16(axis.caption));
    m_w.curveUnit->setText(QString::fromUtf16(axis.unit));
    m_w.auxCaption->setText(QStringLiteral("辅助轴："));
    m_w.auxUnit->setText(QStringLiteral("T/m"));
    m_w.output->setText(QString::fromUtf16(axis.button));
    m_w.time->setEnabled(true);
    m_w.curve->setEnabled(true);

    // The auxiliary axis and the sheet tiling are for settlement sheets only.
    const bool settlement = kind == CurveKind::Settlement;
    for (QWidget *control : m_w.settlementOnly)
        control->setEnabled(settlement);
    if (!settlement) {
        m_w.zoomIn->setEnabled(false);
        m_w.zoomOut->setEnabled(false);
    }

    if (!m_session.project())
        return;
    if (settlement) {
        if (m_session.zoomLevel() <= 3)
            m_w.zoomIn->setEnabled(true);
        if (m_session.zoomLevel() > 1)
            m_w.zoomOut->setEnabled(true);
    }
    draw(kind);
}

void CurveKindControls::draw(CurveKind kind)
{
    PreviewWidget *area = m_w.preview;
    const ProjectSnapshot &snapshot = m_session.snapshot();
    switch (kind) {
    case CurveKind::Settlement: {
        // The Part's window, or larger when the project needs it: a long
        // project fits at the zoom level a project opens with.
        auto curves = settlementCurves(snapshot, m_session.pointCount());
        const CoordinateWindow window =
            fittedWindow(settlementWindow(m_session.zoomLevel()), settlementWindow(2), curves);
        area->setPicture({window, std::move(curves)});
        break;
    }
    case CurveKind::Rate: {
        // Without epochs or elevations the old picture stays.
        if (snapshot.epochs().empty() || !snapshot.hasElevations())
            return;
        std::vector<Polyline> lines{rateCurve(snapshot)};
        area->setPicture({fittedWindow(rateWindow(), rateWindow(), lines), lines});
        break;
    }
    case CurveKind::Load: {
        std::vector<Polyline> lines{loadCurve(snapshot)};
        area->setPicture({fittedWindow(loadWindow(), loadWindow(), lines), lines});
        break;
    }
    }
}

void CurveKindControls::zoomIn()
{
    int level = m_session.zoomLevel();
    if (planSelected()) {
        if (m_planZoom < 4)
            ++m_planZoom;
        showPlan();
        return;
    }
    if (level < 4)
        m_session.setZoomLevel(++level);
    if (level > 1)
        m_w.zoomOut->setEnabled(true);
    if (level == 4)
        m_w.zoomIn->setEnabled(false);
    if (planSelected())
        showPlan();
    else if (m_session.project())
        showKind(CurveKind::Settlement);
}

void CurveKindControls::updatePlanOption()
{
    const bool placed = m_session.project() && placedPointCount(m_session.snapshot()) >= 3;
    m_w.plan->setEnabled(placed);
    m_w.plan->setToolTip(placed ? QString()
                                : QStringLiteral("至少 3 个测点有坐标时可用（测点表右键菜单“测点坐标…”）"));
    if (!placed && m_w.plan->isChecked())
        showSettlementPreview();
}

bool CurveKindControls::planSelected() const
{
    return m_w.plan->isChecked() && m_w.plan->isEnabled();
}

void CurveKindControls::showPlan()
{
    // The axes and the tiling are for curves; the zoom buttons act on the plan.
    for (QWidget *control : m_w.settlementOnly)
        control->setEnabled(false);
    for (QWidget *box : {static_cast<QWidget *>(m_w.time), static_cast<QWidget *>(m_w.curve)})
        box->setEnabled(false);
    m_w.output->setText(QStringLiteral("输出平面图"));
    m_w.zoomIn->setEnabled(m_planZoom < 4);
    m_w.zoomOut->setEnabled(m_planZoom > 1);
    const auto figures = m_session.planFiguresAtCurrentEpoch();
    if (!figures) {
        m_w.preview->clearPicture();
        return;
    }
    m_w.preview->setPlan(planPicture(m_session.snapshot(), *figures, m_session.planBackground()), m_planZoom);
}

void CurveKindControls::zoomOut()
{
    int level = m_session.zoomLevel();
    if (planSelected()) {
        if (m_planZoom > 1)
            --m_planZoom;
        showPlan();
        return;
    }
    if (level > 1)
        m_session.setZoomLevel(--level);
    if (level == 1)
        m_w.zoomOut->setEnabled(false);
    if (level < 4)
        m_w.zoomIn->setEnabled(true);
    if (planSelected())
        showPlan();
    else if (m_session.project())
        showKind(CurveKind::Settlement);
}

void CurveKindControls::showSettlementPreview()
{
    // The plan, when chosen, follows the shown epoch and every change.
    if (planSelected()) {
        showPlan();
        return;
    }
    {
        const QSignalBlocker blocker(m_w.settlement);
        m_w.settlement->setChecked(true);
    }
    // The axis boxes keep what the user typed; only a change of kind gives
    // them the settlement axes.
    if (m_session.curveKind() != CurveKind::Settlement || !m_layoutRead)
        selectCurveKind(CurveKind::Settlement);
    else
        showKind(CurveKind::Settlement);
}
