#include "gui/curvekindcontrols.h"

#include "gui/mainwindow.h"
#include "base/programfiles.h"
#include "base/settings.h"
#include "preview/previewcurves.h"
#include "gui/previewwidget.h"
#include "base/textnumber.h"
#include "ui_mainwindow.h"

CurveKindControls::CurveKindControls(MainWindow &window, Ui::Form1 &ui)
    : m_window(window)
    , ui(ui)
{}

void showInBox(QLineEdit *box, const QString &text)
{
    if (text.size() > box->maxLength())
        box->setMaxLength(int(text.size()));
    box->setText(text);
}

CurveKind CurveKindControls::selectedKind() const
{
    if (ui.Option2->isChecked())
        return CurveKind::Rate;
    if (ui.Option3->isChecked())
        return CurveKind::Load;
    return CurveKind::Settlement;
}

QString CurveKindControls::layoutFile() const
{
    return frameLayoutFile(m_window.programDir(), ui.Combo1->currentText());
}

void CurveKindControls::chooseFrameTemplate()
{
    m_window.storeSetting(SettingKey::FrameTemplate, ui.Combo1->currentText());
    m_layout = CurveLayout();
    ui.Command3->setEnabled(true);
    const QString file = layoutFile();
    if (file.isEmpty()) {
        ui.Command3->setEnabled(false);
        return;
    }
    m_layout = LoadCurveLayout(file, selectedKind());
    showInBox(ui.Text6, formatFixed(m_layout.TimeRange, 0));
    showInBox(ui.Text7, formatFixed(m_layout.CurveRange, 2));
    showInBox(ui.Text8, formatFixed(m_layout.AuxRange, 0));
}

void CurveKindControls::selectCurveKind(CurveKind kind)
{
    // The settlement handler reads nothing while the template list is empty.
    m_layout = kind == CurveKind::Settlement && ui.Combo1->currentText().isEmpty()
                   ? CurveLayout()
                   : LoadCurveLayout(layoutFile(), kind);

    struct Axis
    {
        const char16_t *caption;
        int decimals;
        const char16_t *unit;
        const char16_t *button;
    };
    const Axis axis = kind == CurveKind::Rate ? Axis{u"速率轴：", 2, u"mm/d", u"输出速率图"}
                      : kind == CurveKind::Load ? Axis{u"荷载轴：", 0, u"T/m", u"输出荷载图"}
                                                : Axis{u"沉降轴：", 1, u"mm", u"输出曲线图"};
    ui.Label5->setText(QStringLiteral("时间轴："));
    showInBox(ui.Text6, formatFixed(m_layout.TimeRange, 0));
    ui.Label12->setText(QStringLiteral("d"));
    ui.Label6->setText(QString::fromUtf16(axis.caption));
    showInBox(ui.Text7, formatFixed(m_layout.CurveRange, axis.decimals));
    ui.Label8->setText(QString::fromUtf16(axis.unit));
    ui.Label14->setText(QStringLiteral("辅助轴："));
    showInBox(ui.Text8, formatFixed(m_layout.AuxRange, 0));
    ui.Label18->setText(QStringLiteral("T/m"));
    ui.Command3->setText(QString::fromUtf16(axis.button));

    // The auxiliary axis and the sheet tiling are for settlement sheets only.
    const bool settlement = kind == CurveKind::Settlement;
    for (QWidget *control :
         std::initializer_list<QWidget *>{ui.Label14, ui.Text8, ui.Label18, ui.Frame4, ui.Check1,
                                          ui.Label9, ui.Label10, ui.Text10, ui.Text11})
        control->setEnabled(settlement);
    if (!settlement) {
        ui.Command8->setEnabled(false);
        ui.Command9->setEnabled(false);
    }

    if (!m_window.project())
        return;
    if (settlement) {
        if (m_window.zoomLevel() <= 3)
            ui.Command8->setEnabled(true);
        if (m_window.zoomLevel() > 1)
            ui.Command9->setEnabled(true);
    }
    draw(kind);
}

void CurveKindControls::draw(CurveKind kind)
{
    ProjectDatabase *project = m_window.project();
    PreviewWidget *area = ui.Pic1;
    const PreviewData data = readPreviewData(*project);
    switch (kind) {
    case CurveKind::Settlement:
        area->setPicture({settlementWindow(m_window.zoomLevel()),
                          settlementCurves(data, m_window.pointCount())});
        break;
    case CurveKind::Rate:
        // Without epochs or elevations the old picture stays.
        if (data.epochs.empty() || data.elevations.empty())
            return;
        area->setPicture({rateWindow(), {rateCurve(data)}});
        break;
    case CurveKind::Load:
        area->setPicture({loadWindow(), {loadCurve(data)}});
        break;
    }
}

void CurveKindControls::zoomIn()
{
    int level = m_window.zoomLevel();
    if (level < 4)
        m_window.setZoomLevel(++level);
    if (level > 1)
        ui.Command9->setEnabled(true);
    if (level == 4)
        ui.Command8->setEnabled(false);
    if (m_window.project())
        selectCurveKind(CurveKind::Settlement);
}

void CurveKindControls::zoomOut()
{
    int level = m_window.zoomLevel();
    if (level > 1)
        m_window.setZoomLevel(--level);
    if (level == 1)
        ui.Command9->setEnabled(false);
    if (level < 4)
        ui.Command8->setEnabled(true);
    if (m_window.project())
        selectCurveKind(CurveKind::Settlement);
}
