#include "gui/curveoutput.h"

#include "gui/mainwindow.h"
#include "gui/messages.h"
#include "base/programfiles.h"
#include "gui/twips.h"
#include "cad/curvesrun.h"
#include "cad/dxfdrawing.h"
#include "gui/pointpickdialog.h"
#include "cad/sheetdrawing.h"
#include "project/projectdb.h"
#include "ui_mainwindow.h"

#include <QDir>

CurveOutput::CurveOutput(MainWindow &window, Ui::Form1 &ui)
    : m_window(window)
    , ui(ui)
{}

CurveOutput::~CurveOutput() = default;

void CurveOutput::drawCurveSheets()
{
    ProjectDatabase *project = m_window.project();
    if (!project) {
        showMessage(&m_window, QStringLiteral("请先新建或打开沉降工程文件！"));
        ui.Text1->setFocus();
        return;
    }
    // The font boxes are trimmed in place.
    ui.Text15->setText(ui.Text15->text().trimmed());
    ui.Text14->setText(ui.Text14->text().trimmed());

    if (!m_drawing) {
        m_drawing = std::make_unique<DxfDrawing>([this](const QString &, CadPoint suggested) {
            // The window is moved aside while the point is picked, and put
            // back when the pick is cancelled.
            const QRect screen = screenRect(&m_window);
            m_window.move(screen.right() + 1 - twips(300), m_window.pos().y());
            const auto point = PointPickDialog::pick(suggested, &m_window);
            if (!point)
                m_window.move(screen.right() + 1 - outerSize(&m_window).width() - twips(300),
                              m_window.pos().y());
            return point;
        });
    }
    const QString output = drawingPathOf(project->path());
    m_drawing->setOutputPath(output);
    QString error;
    switch (ConnectCad(*m_drawing, ui.Text15->text(), ui.Text14->text(), &error)) {
    case ConnectResult::AttachFailed:
        showMessage(&m_window, error);
        return;
    case ConnectResult::FontMissing:
        showMessage(&m_window, m_drawing->lastAlert());
        return;
    case ConnectResult::Ready:
        break;
    }

    CurveRunInputs in;
    in.kind = m_window.selectedCurveKind();
    in.layout = m_window.curveLayout();
    const QString templateName = ui.Combo1->currentText();
    if (!templateName.isEmpty()) {
        const QString folder =
            findIgnoringCase(frameTemplatesDir(m_window.programDir()), templateName);
        in.frameDir =
            folder.isEmpty() ? frameTemplatesDir(m_window.programDir()) + templateName : folder;
    }
    in.marks.supportDir = m_window.programDir() + QStringLiteral("Support/");
    in.pointCount = m_window.pointCount();
    in.timeText = ui.Text6->text();
    in.curveText = ui.Text7->text();
    in.auxText = ui.Text8->text();
    in.split = ui.Check1->isChecked();
    in.linesText = ui.Text10->text();
    in.perRowText = ui.Text11->text();

    const SheetData data = readSheetData(*project);
    if (DrawCurveSheets(*m_drawing, data, in) != RunResult::Drawn)
        return;
    if (!m_drawing->write(output, &error)) {
        showMessage(&m_window, QStringLiteral("曲线图未能保存：%1").arg(error));
        return;
    }
    ui.Command13->setToolTip(QStringLiteral("曲线图已保存：") + QDir::toNativeSeparators(output));
    m_window.makeCompact();
}
