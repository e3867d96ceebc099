#include "gui/questionabledialog.h"

#include "gui/messages.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <set>

QuestionableDialog::QuestionableDialog(const QString &epochLabel, std::vector<QuestionableElevation> questionable,
                                       const QString &unit, std::function<QString(int)> names,
                                       std::function<Result<void>(int)> confirm, QWidget *parent)
    : QDialog(parent)
    , m_questionable(std::move(questionable))
    , m_confirm(std::move(confirm))
{
    setObjectName(QStringLiteral("QuestionableDialog"));
    setWindowTitle(QStringLiteral("核对可疑高程"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(
        QStringLiteral("%1有 %2 个高程与参照相差超过限值，可能是输入错误。它们已按输入保存并在表中标出。\n"
                       "核对记录手簿后：无误的选「确认无误」（记入修改记录），有误的选「返回修改」。")
            .arg(epochLabel)
            .arg(m_questionable.size()),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    m_table = new QTableWidget(int(m_questionable.size()), 3, this);
    m_table->setObjectName(QStringLiteral("QuestionableTable"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("测点"), QStringLiteral("高程"), QStringLiteral("说明")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < int(m_questionable.size()); ++row) {
        const QuestionableElevation &q = m_questionable[size_t(row)];
        m_table->setItem(row, 0, new QTableWidgetItem(names(q.cjdNo)));
        m_table->setItem(row, 1, new QTableWidgetItem(FormatElevation(q.metres, unit)));
        m_table->setItem(row, 2, new QTableWidgetItem(QuestionableReason(q, unit)));
    }
    m_table->resizeColumnsToContents();
    m_table->selectRow(0);
    layout->addWidget(m_table);
    auto *buttons = new QHBoxLayout;
    m_confirmButton = new QPushButton(QStringLiteral("确认无误"), this);
    m_correctButton = new QPushButton(QStringLiteral("返回修改"), this);
    auto *later = new QPushButton(QStringLiteral("稍后核对"), this);
    for (QPushButton *button : {m_confirmButton, m_correctButton, later}) {
        // No default button: Enter answers nothing here.
        button->setAutoDefault(false);
        button->setDefault(false);
        buttons->addWidget(button);
    }
    buttons->insertStretch(2);
    layout->addLayout(buttons);
    connect(m_confirmButton, &QPushButton::clicked, this, &QuestionableDialog::confirmSelected);
    connect(m_correctButton, &QPushButton::clicked, this, &QuestionableDialog::correctSelected);
    connect(later, &QPushButton::clicked, this, &QDialog::reject);
    resize(640, 320);
}

void QuestionableDialog::keyPressEvent(QKeyEvent *event)
{
    // Enter is swallowed: only a click, or Space on a button, answers.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

std::vector<int> QuestionableDialog::selectedPoints() const
{
    std::set<int> rows;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        rows.insert(index.row());
    std::vector<int> points;
    for (const int row : rows)
        if (row >= 0 && row < int(m_questionable.size()))
            points.push_back(m_questionable[size_t(row)].cjdNo);
    return points;
}

void QuestionableDialog::confirmSelected()
{
    for (const int cjdNo : selectedPoints()) {
        if (auto confirmed = m_confirm(cjdNo); !confirmed) {
            showMessage(this, QStringLiteral("未能记录核对：%1").arg(confirmed.error()));
            return;
        }
        for (int row = 0; row < int(m_questionable.size()); ++row)
            if (m_questionable[size_t(row)].cjdNo == cjdNo) {
                m_questionable.erase(m_questionable.begin() + row);
                m_table->removeRow(row);
                break;
            }
    }
    if (m_questionable.empty())
        accept();
    else
        m_table->selectRow(0);
}

void QuestionableDialog::correctSelected()
{
    const std::vector<int> points = selectedPoints();
    if (points.empty())
        return;
    m_correct = points.front();
    accept();
}
