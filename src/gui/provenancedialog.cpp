#include "gui/provenancedialog.h"

#include "base/savefile.h"
#include "gui/messages.h"
#include "gui/session.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

ProvenanceDialog::ProvenanceDialog(Session &session, int cjNo, int cjdNo,
                                   std::function<bool(const HistoryRow &)> undo, QWidget *parent)
    : QDialog(parent)
    , m_session(session)
    , m_cjNo(cjNo)
    , m_cjdNo(cjdNo)
    , m_undo(std::move(undo))
{
    const Point *point = session.snapshot().point(cjdNo);
    setWindowTitle(QStringLiteral("高程来历：%1，%2").arg(point ? point->name : QString::number(cjdNo),
                                                        session.epochLabel(cjNo)));
    auto *layout = new QVBoxLayout(this);
    m_originText = new QLabel(this);
    m_originText->setObjectName(QStringLiteral("OriginText"));
    m_originText->setWordWrap(true);
    m_originText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_originText);
    m_table = new QTableWidget(0, 7, this);
    m_table->setObjectName(QStringLiteral("HistoryTable"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("用户"), QStringLiteral("方式"),
                                        QStringLiteral("内容"), QStringLiteral("原值"), QStringLiteral("新值"),
                                        QStringLiteral("文件")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    m_save = buttons->addButton(QStringLiteral("保存原始文件…"), QDialogButtonBox::ActionRole);
    m_save->setObjectName(QStringLiteral("SaveSource"));
    m_undoButton = buttons->addButton(QStringLiteral("撤销所选修改"), QDialogButtonBox::ActionRole);
    m_undoButton->setObjectName(QStringLiteral("UndoSelected"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, &ProvenanceDialog::saveSource);
    connect(m_undoButton, &QPushButton::clicked, this, &ProvenanceDialog::undoSelected);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] {
        const int row = m_table->currentRow();
        m_undoButton->setEnabled(row >= 0 && row < int(m_lines.size())
                                 && m_lines[size_t(row)].row.kind == HistoryRow::Elevation);
    });
    layout->addWidget(buttons);
    resize(820, 360);
    load();
}

void ProvenanceDialog::load()
{
    ProjectDatabase *project = m_session.project();
    if (!project)
        return;
    const auto words = originText(*project, m_cjNo, m_cjdNo);
    const auto origin = project->origin(m_cjNo, m_cjdNo);
    const auto lines = historyLines(*project, m_cjNo, m_cjdNo);
    if (!words || !origin || !lines) {
        m_originText->setText(QStringLiteral("无法读取来历：%1")
                                  .arg(!words ? words.error() : !origin ? origin.error() : lines.error()));
        m_save->setEnabled(false);
        m_undoButton->setEnabled(false);
        return;
    }
    m_origin = *origin;
    m_lines = *lines;
    m_originText->setText(QStringLiteral("来历：%1")
                              .arg(*words ? **words : QStringLiteral("未记录（这个高程在记录来历之前存入）")));
    m_table->setRowCount(int(m_lines.size()));
    for (int r = 0; r < int(m_lines.size()); ++r) {
        const HistoryLine &l = m_lines[size_t(r)];
        const QString cells[] = {l.at, l.who, l.how, l.what, l.oldText, l.newText, l.source};
        for (int c = 0; c < 7; ++c)
            m_table->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    m_table->resizeColumnsToContents();
    if (!m_lines.empty())
        m_table->selectRow(int(m_lines.size()) - 1);
    m_undoButton->setEnabled(!m_lines.empty() && !project->isReadOnly());
    m_save->setEnabled(m_origin && m_origin->entry.sourceId);
}

void ProvenanceDialog::saveSource()
{
    ProjectDatabase *project = m_session.project();
    if (!project || !m_origin || !m_origin->entry.sourceId)
        return;
    const auto sources = project->sources();
    const auto data = project->sourceData(*m_origin->entry.sourceId);
    if (!sources || !data) {
        showMessage(this, !sources ? sources.error() : data.error());
        return;
    }
    if (!*data) {
        showMessage(this, QStringLiteral("这个文件超过 %1 MB，工程中只记下了它的名称、大小和 SHA-256，没有存它的内容。")
                              .arg(maxSourceBytes / (1024 * 1024)));
        return;
    }
    QString name;
    for (const StoredSource &s : *sources)
        if (s.id == *m_origin->entry.sourceId)
            name = s.name;
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存原始文件"),
                                                      QDir::home().filePath(name));
    if (path.isEmpty())
        return;
    if (auto saved = saveFileContents(path, **data); !saved)
        showMessage(this, QStringLiteral("无法保存 %1：%2").arg(QDir::toNativeSeparators(path), saved.error()));
}

void ProvenanceDialog::undoSelected()
{
    const int row = m_table->currentRow();
    if (row < 0 || row >= int(m_lines.size()))
        return;
    if (m_undo(m_lines[size_t(row)].row))
        load();
}
