#include "gui/plandialogs.h"
#include "domain/headerfields.h"

#include "survey/fieldrules.h"

#include "base/programfiles.h"
#include "base/textnumber.h"
#include "cad/planpositions.h"
#include "gui/messages.h"
#include "gui/session.h"
#include "domain/buildingdeformation.h"
#include "survey/pointpositions.h"
#include "survey/domaininputs.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

QString coordinateText(const std::optional<Position> &position, bool x)
{
    if (!position)
        return QString();
    return QString::number(x ? position->x : position->y, 'f', 4);
}

std::optional<double> cellNumber(const QTableWidget *table, int row, int column, bool *blank)
{
    const QTableWidgetItem *item = table->item(row, column);
    const QString text = item ? item->text().trimmed() : QString();
    *blank = text.isEmpty();
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional(value) : std::nullopt;
}

} // namespace

PositionsDialog::PositionsDialog(Session &session, QWidget *parent)
    : QDialog(parent)
    , m_session(session)
    , m_table(new QTableWidget(this))
{
    setWindowTitle(QStringLiteral("测点坐标"));
    setObjectName(QStringLiteral("PositionsDialog"));
    resize(520, 560);
    m_table->setObjectName(QStringLiteral("Positions"));
    m_table->setColumnCount(4);
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("点号"), QStringLiteral("点名"), QStringLiteral("东坐标 (m)"), QStringLiteral("北坐标 (m)")});
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    fillRows();

    auto *note = new QLabel(QStringLiteral("单位 m，东坐标向右（东），北坐标向上（北）。可从电子表格复制“点名、X、Y”三列后按 Ctrl+V 粘贴："
                                           "X、Y 按测量坐标读入（X 北、Y 东），表头写明“东、北”（E、N）时按表头；"
                                           "也可读入 CSV、xlsx、CASS 坐标文件（.dat）或建筑平面图（DXF，按点名文字定位，"
                                           "换算为米）。读反了可按“交换东、北”。"),
                            this);
    note->setWordWrap(true);
    auto *read = new QPushButton(QStringLiteral("读入文件…"), this);
    read->setObjectName(QStringLiteral("ReadPositions"));
    auto *paste = new QPushButton(QStringLiteral("粘贴"), this);
    auto *swap = new QPushButton(QStringLiteral("交换东、北"), this);
    swap->setObjectName(QStringLiteral("SwapAxes"));
    connect(swap, &QPushButton::clicked, this, &PositionsDialog::swapAxes);
    connect(read, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(
            this, QStringLiteral("读入测点坐标"), m_session.lastProjectDir(),
            QStringLiteral("坐标或平面图 (*.csv *.txt *.xlsx *.dat *.dxf);;所有文件 (*)"));
        if (!path.isEmpty())
            readFile(path);
    });
    connect(paste, &QPushButton::clicked, this,
            [this] { this->paste(QApplication::clipboard()->text()); });
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (save())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *tools = new QHBoxLayout;
    tools->addWidget(read);
    tools->addWidget(paste);
    tools->addWidget(swap);
    tools->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(note);
    layout->addWidget(m_table);
    layout->addLayout(tools);
    layout->addWidget(buttons);
}

void PositionsDialog::fillRows()
{
    const auto &points = m_session.snapshot().points();
    m_table->setRowCount(int(points.size()));
    for (int row = 0; row < int(points.size()); ++row) {
        const Point &p = points[size_t(row)];
        const QString cells[] = {QString::number(p.cjdNo), p.name, coordinateText(p.position, true),
                                 coordinateText(p.position, false)};
        for (int column = 0; column < 4; ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            if (column < 2)
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            item->setTextAlignment((column == 1 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
            m_table->setItem(row, column, item);
        }
    }
}

void PositionsDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Paste)) {
        paste(QApplication::clipboard()->text());
        return;
    }
    QDialog::keyPressEvent(event);
}

bool PositionsDialog::showPosition(const PositionRow &row)
{
    bool found = false;
    for (int r = 0; r < m_table->rowCount(); ++r)
        if (positionKey(m_table->item(r, 1)->text()) == positionKey(row.name)) {
            m_table->item(r, 2)->setText(QString::number(row.at.x, 'f', 4));
            m_table->item(r, 3)->setText(QString::number(row.at.y, 'f', 4));
            found = true;
        }
    return found;
}

void PositionsDialog::swapAxes()
{
    for (int r = 0; r < m_table->rowCount(); ++r) {
        const QString east = m_table->item(r, 2)->text();
        m_table->item(r, 2)->setText(m_table->item(r, 3)->text());
        m_table->item(r, 3)->setText(east);
    }
}

void PositionsDialog::paste(const QString &text)
{
    const PositionTable pasted = parsePositionText(text);
    QStringList unknown;
    for (const PositionRow &row : pasted.rows)
        if (!showPosition(row))
            unknown << row.name;
    if (!unknown.isEmpty() || !pasted.rejected.isEmpty())
        showMessage(this, QStringLiteral("已粘贴 %1 行。%2%3")
                              .arg(pasted.rows.size() - unknown.size())
                              .arg(unknown.isEmpty() ? QString()
                                                     : QStringLiteral("工程中没有的点名：%1。").arg(unknown.join(QStringLiteral("、"))))
                              .arg(pasted.rejected.isEmpty() ? QString()
                                                             : QStringLiteral("不是“点名、X、Y”的行：%1。")
                                                                   .arg(pasted.rejected.join(QStringLiteral("、")))));
}

bool PositionsDialog::save()
{
    std::vector<std::pair<int, std::optional<Position>>> changes;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        const int number = m_table->item(r, 0)->text().toInt();
        bool xBlank = false, yBlank = false;
        const auto x = cellNumber(m_table, r, 2, &xBlank);
        const auto y = cellNumber(m_table, r, 3, &yBlank);
        std::optional<Position> position;
        if (x && y) {
            position = Position{*x, *y};
        } else if (!(xBlank && yBlank)) {
            m_table->setCurrentCell(r, x ? 3 : 2);
            showMessage(this, QStringLiteral("测点“%1”的坐标不完整或不是数字：X、Y 都填数字，或都空着。")
                                  .arg(m_table->item(r, 1)->text()));
            return false;
        }
        const Point *point = m_session.snapshot().point(number);
        if (point && point->position != position)
            changes.emplace_back(number, position);
    }
    if (m_plan) {
        // The positions set and the drawing read, in one transaction; a
        // position cleared goes after.
        std::vector<PositionRow> rows;
        std::vector<std::pair<int, std::optional<Position>>> cleared;
        for (const auto &[number, position] : changes)
            if (position)
                rows.push_back({0, m_session.snapshot().point(number)->name, *position});
            else
                cleared.emplace_back(number, position);
        const auto placed = m_session.placePoints(rows, m_plan, {});
        if (!placed) {
            reportWriteFailure(this, m_session.projectPath(), placed.error());
            return false;
        }
        if (!placed->planRefused.isEmpty())
            showMessage(this, placed->planRefused);
        changes = std::move(cleared);
    }
    if (changes.empty())
        return true;
    if (auto saved = m_session.setPositions(changes); !saved) {
        reportWriteFailure(this, m_session.projectPath(), saved.error());
        return false;
    }
    return true;
}

std::optional<PlanUnit> PositionsDialog::askPlanUnit(const PlanUnit &likely, const QString &doubt)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("测点坐标"),
                    doubt.isEmpty()
                        ? QStringLiteral("平面图没有注明图形单位。按点位的范围看，像是以%1绘制。图中的一个单位是：").arg(likely.name)
                        : doubt + QStringLiteral("。图中的一个单位是："),
                    QMessageBox::NoButton, this);
    std::vector<std::pair<QAbstractButton *, PlanUnit>> choices;
    for (const char *word : {"mm", "cm", "m"}) {
        const PlanUnit unit = *planUnitNamed(QString::fromLatin1(word));
        QPushButton *button = box.addButton(unit.name, QMessageBox::AcceptRole);
        choices.emplace_back(button, unit);
        if (doubt.isEmpty() && unit == likely)
            box.setDefaultButton(button);
    }
    // The unit it was read in, kept as the user's choice.
    if (!doubt.isEmpty())
        choices.emplace_back(box.addButton(QStringLiteral("按图形单位"), QMessageBox::RejectRole), likely);
    box.exec();
    for (const auto &[button, unit] : choices)
        if (box.clickedButton() == button)
            return unit;
    return std::nullopt; // closed: the likely one stands, as the summary says
}

void PositionsDialog::readFile(const QString &path)
{
    std::vector<PositionRow> rows;
    PositionSummary summary;
    std::optional<PlanDrawingFile> plan;
    if (path.endsWith(QLatin1String(".dxf"), Qt::CaseInsensitive)) {
        auto reading = readPlanPositions(path, m_session.snapshot().points());
        if (!reading) {
            showMessage(this, reading.error());
            return;
        }
        // A drawing that does not say its unit: asked, the likely one first.
        if (!reading->unitStated)
            if (const auto chosen = askPlanUnit(reading->unit))
                reading = inPlanUnit(std::move(*reading), *chosen, true);
        // One whose unit makes no building: said, and asked again.
        if (const QString doubt = planUnitDoubt(*reading); !doubt.isEmpty())
            if (const auto chosen = askPlanUnit(reading->unit, doubt))
                reading = inPlanUnit(std::move(*reading), *chosen, true);
        rows = std::move(reading->rows);
        summary = reading->summary;
        plan = std::move(reading->file);
    } else {
        auto table = readPositionTable(path);
        if (!table) {
            showMessage(this, table.error());
            return;
        }
        rows = std::move(table->rows);
        summary.rejected = table->rejected;
        summary.axes = table->axesNote;
    }
    // Into the table beside what was typed or pasted; a name given twice is
    // set from neither row, as the core would have it.
    std::map<QString, int> given;
    for (const PositionRow &row : rows)
        ++given[positionKey(row.name)];
    int filled = 0;
    for (const PositionRow &row : rows) {
        if (given[positionKey(row.name)] > 1) {
            if (!summary.twice.contains(row.name.trimmed()))
                summary.twice << row.name.trimmed();
            continue;
        }
        if (showPosition(row))
            ++filled;
        else if (!summary.unknown.contains(row.name.trimmed()))
            summary.unknown << row.name.trimmed();
    }
    if (plan)
        m_plan = std::move(plan);
    // The file's summary, its first line saying what happened here.
    QStringList lines = positionSummaryText(QFileInfo(path).fileName(), summary).split(QLatin1Char('\n'));
    lines[0] = QStringLiteral("从 %1 读入了 %2 个测点的坐标，按“确定”后写入工程。").arg(QFileInfo(path).fileName()).arg(filled);
    if (m_plan)
        lines << QStringLiteral("平面图 %1 在按“确定”后存入工程。").arg(m_plan->name);
    showMessage(this, lines.join(QLatin1Char('\n')), QStringLiteral("测点坐标"), QMessageBox::Information);
}

PlanSettingsDialog::PlanSettingsDialog(Session &session, QWidget *parent)
    : QDialog(parent)
    , m_session(session)
{
    setWindowTitle(QStringLiteral("平面图设置"));
    setObjectName(QStringLiteral("PlanSettingsDialog"));
    std::map<QString, QString> fields;
    if (session.project())
        if (auto stored = session.project()->headerFields())
            fields = *stored;
    const auto value = [&](const QString &key) {
        const auto found = fields.find(key);
        return found == fields.end() ? QString() : found->second;
    };
    auto *form = new QFormLayout;
    const auto line = [&](const QString &key, const QString &caption, const QString &hint) {
        auto *edit = new QLineEdit(value(key), this);
        edit->setObjectName(key);
        edit->setPlaceholderText(hint);
        form->addRow(caption, edit);
        m_fields.emplace_back(key, edit);
    };
    line(DeformationKey::BuildingHeight, QStringLiteral("建筑高度 (m)："), QStringLiteral("选择倾斜限值"));
    line(DeformationKey::Structure, QStringLiteral("结构形式："), QStringLiteral("如：框架结构、砌体承重结构"));
    // The table's two classes to choose from; other words for them (as a
    // script or an older project stores them) shown as stored.
    auto *soil = new QComboBox(this);
    soil->setObjectName(DeformationKey::Soil);
    soil->setEditable(true);
    soil->addItems({QString(), LowSoil, HighSoil});
    soil->setCurrentText(value(DeformationKey::Soil));
    form->addRow(QStringLiteral("地基土："), soil);
    m_fields.emplace_back(DeformationKey::Soil, soil);
    line(DeformationKey::CumulativeAlarm, QStringLiteral("累计沉降预警值 (mm)："), QStringLiteral("空：不预警"));
    line(DeformationKey::RateAlarm, QStringLiteral("沉降速率预警值 (mm/d)："), QStringLiteral("空：不预警"));
    // The ratios are typed and shown in ‰, as the limits are.
    line(DeformationKey::DifferentialAlarm, QStringLiteral("差异沉降预警值 (‰)："),
         QStringLiteral("空：按限值表；如 2 表示 Δs/L = 2‰"));
    line(DeformationKey::TiltAlarm, QStringLiteral("倾斜预警值 (‰)："), QStringLiteral("空：按限值表；如 3 表示 3‰"));
    for (const QString &key : {DeformationKey::DifferentialAlarm, DeformationKey::TiltAlarm})
        for (const auto &[name, editor] : m_fields)
            if (name == key)
                qobject_cast<QLineEdit *>(editor)->setText(perMilleAlarmShown(value(key)));
    line(DeformationKey::NotNeighbours, QStringLiteral("非相邻测点对："), QStringLiteral("如：J3-J4; J7-J8（沉降缝两侧）"));
    line(DeformationKey::ContourStep, QStringLiteral("等值线间距 (mm)："), QStringLiteral("空：自动"));
    line(DeformationKey::PlanScale, QStringLiteral("平面图比例 1:"), QStringLiteral("空：取能放下的最大标准比例（1:100、1:150、1:200、1:250、1:300…）"));
    m_limits = new QLabel(this);
    m_limits->setObjectName(QStringLiteral("ChosenLimits"));
    m_limits->setWordWrap(true);
    auto *limits = m_limits;
    showChosenLimits();
    // The line follows the fields as they are typed.
    for (const auto &[key, editor] : m_fields) {
        if (auto *edit = qobject_cast<QLineEdit *>(editor))
            connect(edit, &QLineEdit::textChanged, this, &PlanSettingsDialog::showChosenLimits);
        else if (auto *combo = qobject_cast<QComboBox *>(editor))
            connect(combo, &QComboBox::currentTextChanged, this, &PlanSettingsDialog::showChosenLimits);
    }
    auto *table = new QPushButton(QStringLiteral("变形限值表…"), this);
    connect(table, &QPushButton::clicked, this, [this] {
        LimitsDialog dialog(m_session, this);
        dialog.exec();
    });
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (save())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(limits);
    layout->addWidget(table, 0, Qt::AlignLeft);
    layout->addWidget(buttons);
}

std::map<QString, QString> PlanSettingsDialog::typedFields() const
{
    std::map<QString, QString> fields;
    for (const auto &[key, editor] : m_fields) {
        QString text = qobject_cast<QLineEdit *>(editor) ? qobject_cast<QLineEdit *>(editor)->text().trimmed()
                                                         : qobject_cast<QComboBox *>(editor)->currentText().trimmed();
        // The ratios are typed in ‰ and read as stored.
        if (key == DeformationKey::DifferentialAlarm || key == DeformationKey::TiltAlarm)
            if (auto stored = perMilleAlarmText(text))
                text = *stored;
        fields[key] = text;
    }
    return fields;
}

void PlanSettingsDialog::showChosenLimits()
{
    auto limits = readDeformationLimits(deformationLimitsPath(m_session.programDir()));
    const AlarmThresholds t =
        alarmThresholds(typedFields(), limits ? *limits : std::vector<DeformationLimit>());
    const auto chosen = [](const std::optional<DeformationLimit> &row, const QString &reason) {
        return row ? QStringLiteral("%1 %2 %3").arg(row->structure, quantityText(row->quantity),
                                                   formatFixed(row->value * 1000, 2) + QStringLiteral("‰"))
                   : QStringLiteral("无（%1）").arg(reason.isEmpty() ? QStringLiteral("按本工程的预警值") : reason);
    };
    m_limits->setText(QStringLiteral("按限值表选用：倾斜 %1；差异沉降 %2。\n%3")
                          .arg(chosen(t.tiltLimit, t.tiltReason), chosen(t.differentialLimit, t.differentialReason),
                               limits ? deformationLimitsNote() : limits.error()));
}

bool PlanSettingsDialog::save()
{
    std::map<QString, QString> fields;
    for (const auto &[key, editor] : m_fields) {
        const QString text = qobject_cast<QLineEdit *>(editor)
                                 ? qobject_cast<QLineEdit *>(editor)->text().trimmed()
                                 : qobject_cast<QComboBox *>(editor)->currentText();
        // Numbers must be numbers: an alarm value that is no number would
        // silently check nothing.
        const bool numeric = key != DeformationKey::Structure && key != DeformationKey::Soil
                             && key != DeformationKey::NotNeighbours;
        if (key == DeformationKey::PlanScale) {
            bool whole = false;
            const int scale = QString(text).remove(QStringLiteral("1:")).toInt(&whole);
            if (!text.isEmpty() && (!whole || scale < 1 || scale > 1'000'000)) {
                editor->setFocus();
                showMessage(this, QStringLiteral("平面图比例应为 1 到 1000000 的整数（如 200 表示 1:200），或空着。"));
                return false;
            }
            fields[key] = text;
            continue;
        }
        if (key == DeformationKey::ContourStep && !text.isEmpty()) {
            // A step of a hundredth of a millimetre is the finest a plan shows.
            bool ok = false;
            const double step = text.toDouble(&ok);
            if (!ok || !std::isfinite(step) || step < 0.01 || step > 10000) {
                editor->setFocus();
                showMessage(this, QStringLiteral("等值线间距应为 0.01 到 10000 mm 之间的数，或空着（自动）。"));
                return false;
            }
        }
        if (key == DeformationKey::DifferentialAlarm || key == DeformationKey::TiltAlarm) {
            const auto stored = perMilleAlarmText(text);
            if (!stored) {
                editor->setFocus();
                showMessage(this, QStringLiteral("%1：%2").arg(key, stored.error()));
                return false;
            }
            fields[key] = *stored;
            continue;
        }
        if (key == DeformationKey::BuildingHeight) {
            // "24m" as well as "24": one rule with `header`.
            if (auto allowed = headerFieldRule(key, text); !allowed) {
                editor->setFocus();
                showMessage(this, allowed.error());
                return false;
            }
            fields[key] = text;
            continue;
        }
        bool ok = true;
        if (numeric && !text.isEmpty() && !(text.toDouble(&ok) > 0 && ok)) {
            editor->setFocus();
            showMessage(this, QStringLiteral("“%1”应为正数，或空着。").arg(key));
            return false;
        }
        fields[key] = text;
    }
    if (!m_session.project())
        return true;
    if (auto allowed = headerFieldsRule(fields); !allowed) {
        showMessage(this, allowed.error());
        return false;
    }
    if (auto saved = m_session.project()->setHeaderFields(fields); !saved) {
        reportWriteFailure(this, m_session.projectPath(), saved.error());
        return false;
    }
    m_session.refreshDeformationSettings();
    return true;
}

LimitsDialog::LimitsDialog(Session &session, QWidget *parent)
    : QDialog(parent)
    , m_session(session)
    , m_table(new QTableWidget(this))
{
    setWindowTitle(QStringLiteral("变形限值"));
    resize(760, 380);
    m_table->setColumnCount(7);
    m_table->setHorizontalHeaderLabels({QStringLiteral("项目"), QStringLiteral("结构"), QStringLiteral("地基土"),
                                        QStringLiteral("高度下限 (m)"), QStringLiteral("高度上限 (m)"),
                                        QStringLiteral("限值"), QStringLiteral("来源")});
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    const auto limits = readDeformationLimits(deformationLimitsPath(session.programDir()));
    if (!limits)
        showMessage(this, limits.error() + QStringLiteral("\n显示随程序提供的限值。"));
    showRows(limits ? *limits : defaultDeformationLimits());
    auto *note = new QLabel(deformationLimitsNote() + QStringLiteral("\n只有“限值”一栏可改；差异沉降、倾斜为无量纲（Δs/L），平均沉降为 mm。"),
                            this);
    note->setWordWrap(true);
    auto *defaults = new QPushButton(QStringLiteral("恢复默认"), this);
    connect(defaults, &QPushButton::clicked, this, [this] { showRows(defaultDeformationLimits()); });
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (save())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(note);
    layout->addWidget(m_table);
    layout->addWidget(defaults, 0, Qt::AlignLeft);
    layout->addWidget(buttons);
}

void LimitsDialog::showRows(const std::vector<DeformationLimit> &limits)
{
    m_table->setRowCount(int(limits.size()));
    m_rows = limits;
    for (int r = 0; r < int(limits.size()); ++r) {
        const DeformationLimit &l = limits[size_t(r)];
        const auto bound = [](std::optional<double> v) { return v ? formatFixed(*v, 0) : QString(); };
        const QString cells[] = {quantityText(l.quantity), l.structure, l.soil.isEmpty() ? QStringLiteral("—") : l.soil,
                                 bound(l.heightMin), bound(l.heightMax), QString::number(l.value), l.source};
        for (int c = 0; c < 7; ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (c != 5)
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            m_table->setItem(r, c, item);
        }
    }
}

bool LimitsDialog::save()
{
    std::vector<DeformationLimit> limits = m_rows;
    for (int r = 0; r < int(limits.size()); ++r) {
        bool ok = false;
        const double value = m_table->item(r, 5)->text().trimmed().toDouble(&ok);
        if (!ok || !(value > 0) || !std::isfinite(value)) {
            m_table->setCurrentCell(r, 5);
            showMessage(this, QStringLiteral("第 %1 行的限值应为正数。").arg(r + 1));
            return false;
        }
        limits[size_t(r)].value = value;
    }
    if (auto saved = writeDeformationLimits(deformationLimitsPath(m_session.programDir()), limits); !saved) {
        showMessage(this, QStringLiteral("变形限值表未能保存：%1").arg(saved.error()));
        return false;
    }
    m_session.refreshDeformationSettings();
    return true;
}
