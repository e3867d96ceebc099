#include "gui/curveoutput.h"

#include "base/programfiles.h"
#include "cad/curvesrun.h"
#include "cad/drawing.h"
#include "cad/dxffile.h"
#include "gui/messages.h"
#include "gui/pointpickdialog.h"
#include "gui/session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>

CurveOutput::CurveOutput(Session &session, const Widgets &widgets)
    : m_session(session)
    , m_w(widgets)
{}

CurveOutput::~CurveOutput() = default;

void CurveOutput::drawCurveSheets()
{
    if (!m_session.project()) {
        showMessage(m_w.window, QStringLiteral("请先新建或打开沉降工程文件！"));
        m_w.firstBox->setFocus();
        return;
    }
    if (auto reloaded = m_session.reloadIfChanged(); !reloaded) {
        showMessage(m_w.window, reloaded.error());
        return;
    }
    // The font boxes are trimmed in place.
    m_w.font->setText(m_w.font->text().trimmed());
    m_w.bigFont->setText(m_w.bigFont->text().trimmed());

    if (!m_drawing) {
        m_drawing = std::make_unique<Drawing>([this](const QString &, CadPoint suggested) {
            // The window is moved aside while the point is picked, and put
            // back when the pick is cancelled.
            moveAside(m_w.window);
            const auto point = PointPickDialog::pick(suggested, m_w.window);
            if (!point)
                moveBack(m_w.window);
            return point;
        });
    }
    const QString output = drawingPathOf(m_session.projectPath());
    m_drawing->setOutputPath(output);

    CurveRunSettings in;
    in.kind = m_session.curveKind();
    in.layout = m_session.curveLayout();
    const QString programDir = m_session.programDir();
    const QString templateName = m_w.frameTemplates->currentText();
    if (!templateName.isEmpty()) {
        const QString folder = findIgnoringCase(frameTemplatesDir(programDir), templateName);
        in.frameDir = folder.isEmpty() ? frameTemplatesDir(programDir) + templateName : folder;
    }
    in.marks.supportDir = programDir + QStringLiteral("Support/");
    in.pointCount = m_session.pointCount();
    applyBoxTexts(in, {m_w.time->text(), m_w.curve->text(), m_w.aux->text(),
                       m_w.split->isChecked(), m_w.lines->text(), m_w.perRow->text()});
    in.font = m_w.font->text();
    in.bigFont = m_w.bigFont->text();

    const auto status = runCurveSheets(*m_drawing, m_session.snapshot(), in);
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
    if (auto saved = writeDxfFile(*m_drawing, output, &m_written); !saved) {
        showMessage(m_w.window, QStringLiteral("曲线图未能保存：%1").arg(saved.error()));
        return;
    }
    emit drawingWritten(output);
}
