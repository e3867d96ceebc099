#include "gui/leveldialog.h"

#include "base/outputguard.h"
#include "base/programfiles.h"
#include "base/settings.h"
#include "base/textnumber.h"
#include "gui/importcommand.h"
#include "gui/messages.h"
#include "gui/session.h"
#include "report/levelreport.h"
#include "survey/observationimport.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QString title = QStringLiteral("水准测量平差");
const QColor failing(200, 0, 0);

QTableWidget *table(const QString &name, const QStringList &headings)
{
    auto *t = new QTableWidget;
    t->setObjectName(name);
    t->setColumnCount(int(headings.size()));
    t->setHorizontalHeaderLabels(headings);
    t->verticalHeader()->hide();
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

void setRow(QTableWidget *t, int row, const QStringList &cells, bool bad = false)
{
    for (int c = 0; c < int(cells.size()); ++c) {
        auto *item = new QTableWidgetItem(cells[c]);
        if (bad)
            item->setForeground(failing);
        t->setItem(row, c, item);
    }
}

QString fixedOr(const std::optional<double> &v, int decimals)
{
    return v ? formatFixed(*v, decimals) : QStringLiteral("—");
}

} // namespace

LevelDialog::LevelDialog(Session &session, std::vector<LevelFile> files, QWidget *parent)
    : QDialog(parent)
    , m_session(session)
    , m_files(std::move(files))
{
    setWindowTitle(title);
    setObjectName(QStringLiteral("LevelDialog"));
    m_grade = new QComboBox;
    m_grade->setObjectName(QStringLiteral("Grade"));
    fillGrades(QString());
    m_distribute = new QComboBox;
    m_distribute->setObjectName(QStringLiteral("Distribute"));
    m_distribute->addItems({QStringLiteral("按测站数"), QStringLiteral("按距离")});
    // The project's reference point is the fixed one to begin with; without
    // it each part of the network rests on a height entered on the level.
    const auto benchmark = projectBenchmark(effectiveHeaderFields(session.settings(), session.project()));
    m_fixedId = new QLineEdit(benchmark.empty() ? QString() : benchmark.begin()->first);
    m_fixedId->setObjectName(QStringLiteral("FixedId"));
    m_fixedId->setPlaceholderText(QStringLiteral("水准仪上输入的起始高程"));
    m_fixedHeight = new QLineEdit(benchmark.empty() ? QString()
                                                    : QString::number(benchmark.begin()->second, 'f', 5));
    m_fixedHeight->setObjectName(QStringLiteral("FixedHeight"));

    auto *settingsRow = new QHBoxLayout;
    settingsRow->addWidget(new QLabel(QStringLiteral("等级：")));
    settingsRow->addWidget(m_grade);
    settingsRow->addWidget(new QLabel(QStringLiteral("闭合差分配：")));
    settingsRow->addWidget(m_distribute);
    settingsRow->addWidget(new QLabel(QStringLiteral("起算点：")));
    settingsRow->addWidget(m_fixedId);
    settingsRow->addWidget(new QLabel(QStringLiteral("高程(m)：")));
    settingsRow->addWidget(m_fixedHeight);
    auto *editGradesButton = new QPushButton(QStringLiteral("等级表…"));
    editGradesButton->setObjectName(QStringLiteral("EditGrades"));
    editGradesButton->setAutoDefault(false);
    settingsRow->addWidget(editGradesButton);
    auto *compute = new QPushButton(QStringLiteral("重新平差"));
    compute->setAutoDefault(false);
    settingsRow->addWidget(compute);
    settingsRow->addStretch();

    auto *caution = new QLabel(
        QStringLiteral("等级的限差取自二手资料，请按所用规范核对。"));
    caution->setStyleSheet(QStringLiteral("color: #666666;"));
    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("Status"));
    m_status->setWordWrap(true);

    m_stations = table(QStringLiteral("Stations"),
                       {QStringLiteral("测站"), QStringLiteral("后视点"), QStringLiteral("前视点"),
                        QStringLiteral("高差(m)"), QStringLiteral("两次高差之差(mm)"),
                        QStringLiteral("视距差(m)"), QStringLiteral("累积差(m)"),
                        QStringLiteral("检核")});
    m_lines = table(QStringLiteral("Lines"),
                    {QStringLiteral("起点"), QStringLiteral("终点"), QStringLiteral("测站数"),
                     QStringLiteral("长度(m)"), QStringLiteral("闭合差(mm)"),
                     QStringLiteral("限差(mm)"), QStringLiteral("结论")});
    m_heights = table(QStringLiteral("Heights"),
                      {QStringLiteral("点号"), QStringLiteral("平差高程(m)"),
                       QStringLiteral("中误差(mm)"), QStringLiteral("工程测点")});
    auto *tabs = new QTabWidget;
    tabs->addTab(m_stations, QStringLiteral("测站检核"));
    tabs->addTab(m_lines, QStringLiteral("闭合差"));
    tabs->addTab(m_heights, QStringLiteral("平差结果"));

    auto *buttons = new QDialogButtonBox;
    m_write = buttons->addButton(QStringLiteral("写入本次观测"), QDialogButtonBox::AcceptRole);
    m_write->setObjectName(QStringLiteral("Write"));
    QPushButton *close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    for (QPushButton *button : {m_write, close})
        button->setAutoDefault(false);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(settingsRow);
    layout->addWidget(caution);
    layout->addWidget(m_status);
    layout->addWidget(tabs, 1);
    layout->addWidget(buttons);
    const QRect screen = screenRect(parent);
    resize(std::min(980, screen.width() - 40), std::min(600, screen.height() - 60));
    move(screen.center() - rect().center());

    connect(compute, &QPushButton::clicked, this, &LevelDialog::recompute);
    connect(editGradesButton, &QPushButton::clicked, this, [this] { editGrades(); });
    connect(m_grade, &QComboBox::currentIndexChanged, this, &LevelDialog::recompute);
    connect(m_distribute, &QComboBox::currentIndexChanged, this, &LevelDialog::recompute);
    connect(m_write, &QPushButton::clicked, this, [this] {
        if (writeIntoEpoch())
            accept();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    recompute();
}

void LevelDialog::fillGrades(const QString &select)
{
    auto grades = readGrades(levelGradesPath(m_session.programDir()));
    if (!grades) {
        showMessage(this, grades.error(), title);
        grades = defaultGrades();
    }
    m_grades = std::move(*grades);
    const QSignalBlocker blocker(m_grade);
    m_grade->clear();
    for (const LevelGrade &grade : m_grades)
        m_grade->addItem(grade.name);
    m_grade->setCurrentIndex(std::max(0, m_grade->findText(select)));
}

LevelGrade LevelDialog::currentGrade() const
{
    const int index = m_grade->currentIndex();
    return index >= 0 && index < int(m_grades.size()) ? m_grades[size_t(index)]
                                                      : defaultGrades().front();
}

namespace {

// The grades as the table holds them, each row a grade (a row without a
// name left out); refused, with the reason, where a cell is no limit.
Result<std::vector<LevelGrade>> gradesIn(const QTableWidget &grid, const QStringList &headings)
{
    std::vector<LevelGrade> edited;
    const auto text = [&grid](int r, int c) {
        const QTableWidgetItem *item = grid.item(r, c);
        return item ? item->text().trimmed() : QString();
    };
    for (int r = 0; r < grid.rowCount(); ++r) {
        LevelGrade g;
        g.name = text(r, 0);
        if (g.name.isEmpty())
            continue;
        std::optional<double> *fields[] = {&g.sightMin,       &g.sightMax,       &g.sightDiffMax,
                                           &g.cumDiffMax,     &g.lineOfSightMin, &g.lineOfSightMax,
                                           &g.stationDiffMax};
        for (int c = 1; c <= 7; ++c) {
            if (text(r, c).isEmpty())
                continue;
            bool ok = false;
            const double v = text(r, c).toDouble(&ok);
            if (!ok || !std::isfinite(v) || v < 0)
                return fail(QStringLiteral("“%1”第 %2 列“%3”不是数！").arg(g.name, headings[c], text(r, c)));
            *fields[c - 1] = v;
        }
        bool ok = false;
        g.closureK = text(r, 8).toDouble(&ok);
        if (!ok || !(g.closureK > 0))
            return fail(QStringLiteral("“%1”的闭合差系数不正确！").arg(g.name));
        g.closureByStations = text(r, 9) == QStringLiteral("是");
        edited.push_back(g);
    }
    if (edited.empty())
        return fail(QStringLiteral("等级表至少要有一行！"));
    return edited;
}

} // namespace

bool LevelDialog::editGrades()
{
    // Each row a grade; an empty cell is a limit not checked.
    const QStringList headings{QStringLiteral("名称"),          QStringLiteral("视距最小(m)"),
                               QStringLiteral("视距最大(m)"),   QStringLiteral("视距差(m)"),
                               QStringLiteral("累积差(m)"),     QStringLiteral("视线高最小(m)"),
                               QStringLiteral("视线高最大(m)"), QStringLiteral("高差之差(mm)"),
                               QStringLiteral("闭合差 k(mm)"),  QStringLiteral("按测站数(是/否)")};
    QDialog editor(this);
    editor.setWindowTitle(QStringLiteral("水准等级表"));
    editor.setObjectName(QStringLiteral("GradeEditor"));
    auto *grid = new QTableWidget(int(m_grades.size()), int(headings.size()));
    grid->setObjectName(QStringLiteral("Grades"));
    grid->setHorizontalHeaderLabels(headings);
    const auto limit = [](const std::optional<double> &v) {
        return v ? QString::number(*v) : QString();
    };
    for (int r = 0; r < int(m_grades.size()); ++r) {
        const LevelGrade &g = m_grades[size_t(r)];
        const QStringList cells{g.name,
                                limit(g.sightMin),
                                limit(g.sightMax),
                                limit(g.sightDiffMax),
                                limit(g.cumDiffMax),
                                limit(g.lineOfSightMin),
                                limit(g.lineOfSightMax),
                                limit(g.stationDiffMax),
                                QString::number(g.closureK),
                                g.closureByStations ? QStringLiteral("是") : QStringLiteral("否")};
        for (int c = 0; c < int(cells.size()); ++c)
            grid->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    auto *add = new QPushButton(QStringLiteral("添加一行"));
    auto *remove = new QPushButton(QStringLiteral("删除所选行"));
    for (QPushButton *button : {add, remove})
        button->setAutoDefault(false);
    connect(add, &QPushButton::clicked, grid, [grid] { grid->insertRow(grid->rowCount()); });
    connect(remove, &QPushButton::clicked, grid, [grid] {
        if (grid->currentRow() >= 0)
            grid->removeRow(grid->currentRow());
    });
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Save)->setText(QStringLiteral("保存"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    auto *note = new QLabel(QStringLiteral("随程序提供的两行限差取自二手资料，请按所用规范核对；"
                                           "可为所用规范的等级添加一行。空格表示不检核。"));
    note->setWordWrap(true);
    auto *rowButtons = new QHBoxLayout;
    rowButtons->addWidget(add);
    rowButtons->addWidget(remove);
    rowButtons->addStretch();
    auto *layout = new QVBoxLayout(&editor);
    layout->addWidget(note);
    layout->addWidget(grid, 1);
    layout->addLayout(rowButtons);
    layout->addWidget(buttons);
    editor.resize(900, 320);
    std::vector<LevelGrade> edited;
    connect(buttons, &QDialogButtonBox::rejected, &editor, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, &editor, [&] {
        auto read = gradesIn(*grid, headings);
        if (!read) {
            showMessage(&editor, read.error(), windowTitle());
            return;
        }
        edited = std::move(*read);
        if (auto saved = writeGrades(levelGradesPath(m_session.programDir()), edited); !saved) {
            showMessage(&editor, QStringLiteral("等级表未能保存：%1").arg(saved.error()), windowTitle());
            return;
        }
        editor.accept();
    });
    if (editor.exec() != QDialog::Accepted)
        return false;
    fillGrades(m_grade->currentText());
    recompute();
    return true;
}

std::map<int, double> LevelDialog::matched() const
{
    std::map<int, double> heights;
    if (m_result)
        for (const auto &[id, point] : m_points)
            heights[point->cjdNo] = m_result->heights.at(id);
    return heights;
}

namespace {

// What the adjustment found, in words under the tables.
QString levelStatusText(const LevelResult &r, int failingStations, int linesShown, int failingLines, size_t points,
                        const QStringList &unmatched)
{
    QString status = QStringLiteral("%1 个测站，%2 个不合格；%3 条水准路线和闭合环，%4 条闭合差超限；"
                                    "%5 个高程可写入工程测点。")
                         .arg(r.stations.size())
                         .arg(failingStations)
                         .arg(linesShown)
                         .arg(failingLines)
                         .arg(points);
    if (r.sigma0Mm)
        status += QStringLiteral(" 单位权中误差 %1 mm（多余观测 %2）。")
                      .arg(formatFixed(*r.sigma0Mm, 3))
                      .arg(r.dof);
    if (!unmatched.isEmpty())
        status += QStringLiteral("\n工程中找不到的点号：%1").arg(unmatched.join(QStringLiteral("、")));
    for (const LevelPart &part : r.parts)
        if (part.datum == LevelPart::Entered)
            status += QStringLiteral("\n含 %1 的部分以水准仪上输入的 %2 高程 %3 m 起算。")
                          .arg(part.points.front(), part.datumPoints.front(),
                               formatFixed(r.heights.at(part.datumPoints.front()), 5));
        else if (part.datum == LevelPart::Relative)
            status += QStringLiteral("\n含 %1 的部分没有已知高程：高程相对于 %1（0），不能写入观测。")
                          .arg(part.points.front());
    constexpr int listedWarnings = 8;
    for (const QString &warning : r.warnings.mid(0, listedWarnings))
        status += QStringLiteral("\n注意：%1").arg(warning);
    if (r.warnings.size() > listedWarnings)
        status += QStringLiteral("\n等，共 %1 条注意事项").arg(r.warnings.size());
    return status;
}

} // namespace

void LevelDialog::recompute()
{
    LevelSettings settings;
    settings.grade = currentGrade();
    settings.byDistance = m_distribute->currentIndex() == 1;
    for (const Point &point : m_session.snapshot().points())
        settings.knownPoints.insert(point.name);
    bool heightOk = false;
    const double height = m_fixedHeight->text().trimmed().toDouble(&heightOk);
    if (!m_fixedId->text().trimmed().isEmpty() && heightOk)
        settings.fixed[m_fixedId->text().trimmed()] = height;
    auto result = adjustLevelling(m_files, settings);
    m_stations->setRowCount(0);
    m_lines->setRowCount(0);
    m_heights->setRowCount(0);
    m_points.clear();
    if (!result) {
        m_result.reset();
        m_status->setText(QStringLiteral("无法平差：%1").arg(result.error()));
        m_status->setStyleSheet(QStringLiteral("color: #c80000;"));
        m_write->setEnabled(false);
        return;
    }
    m_result = std::move(*result);
    const LevelResult &r = *m_result;

    m_stations->setRowCount(int(r.stations.size()));
    int failingStations = 0;
    for (int i = 0; i < int(r.stations.size()); ++i) {
        const Station &s = r.stations[size_t(i)];
        failingStations += s.violations.isEmpty() ? 0 : 1;
        setRow(m_stations, i,
               {QString::number(s.no), s.back, s.fore, formatFixed(s.dh, 5),
                fixedOr(s.stationDiffMm, 2), fixedOr(s.sightDiff, 2), formatFixed(s.cumSightDiff, 2),
                s.violations.isEmpty() ? QStringLiteral("合格") : s.violations.join(QStringLiteral("；"))},
               !s.violations.isEmpty());
    }
    m_lines->setRowCount(int(r.lines.size() + r.loops.size()));
    int failingLines = 0;
    for (int i = 0; i < int(r.lines.size()); ++i) {
        const LevelLine &l = r.lines[size_t(i)];
        failingLines += l.within ? 0 : 1;
        setRow(m_lines, i,
               {l.from, l.to, QString::number(l.stations), formatFixed(l.length, 1),
                fixedOr(l.misclosureMm, 2), fixedOr(l.toleranceMm, 2),
                !l.misclosureMm ? QStringLiteral("无检核") : l.within ? QStringLiteral("合格") : QStringLiteral("超限")},
               !l.within);
    }
    // Then each independent loop of the network against its own tolerance.
    int loopRow = 0;
    for (int i = 0; i < int(r.loops.size()); ++i) {
        const LevelLoop &l = r.loops[size_t(i)];
        if (r.repeatsALine(l)) {
            m_lines->setRowCount(m_lines->rowCount() - 1); // a single loop round: its line says it
            continue;
        }
        failingLines += l.within ? 0 : 1;
        const int shown = loopRow++;
        setRow(m_lines, int(r.lines.size()) + shown,
               {QStringLiteral("闭合环 %1").arg(shown + 1), l.points.join(QStringLiteral("→")),
                QString::number(l.stations), formatFixed(l.length, 1), formatFixed(l.misclosureMm, 2),
                formatFixed(l.toleranceMm, 2), l.within ? QStringLiteral("合格") : QStringLiteral("超限")},
               !l.within);
    }
    m_points = projectPointsOf(r, m_session.snapshot().points());
    QStringList unmatched;
    m_heights->setRowCount(int(r.heights.size()));
    int row = 0;
    for (const QString &id : r.pointsInOrder()) {
        const double h = r.heights.at(id);
        const auto found = m_points.find(id);
        const Point *point = found == m_points.end() ? nullptr : found->second;
        const LevelPart *part = r.partOf(id);
        const bool relative = part && part->datum == LevelPart::Relative;
        const bool datum = part && part->datum != LevelPart::Relative && part->datumPoints.contains(id);
        if (!point && !datum)
            unmatched << id;
        const auto sigma = r.sigmaMm.find(id);
        setRow(m_heights, row++,
               {id, formatFixed(h, 5) + (relative ? QStringLiteral("（相对）") : QString()),
                sigma == r.sigmaMm.end() ? QStringLiteral("—") : formatFixed(sigma->second, 2),
                (point ? point->name : datum ? QString() : QStringLiteral("（工程中没有）"))
                    + (!datum ? QString()
                       : part->datum == LevelPart::Fixed ? QStringLiteral("（起算点）")
                                                        : QStringLiteral("（起算点，水准仪上输入的高程）"))},
               relative);
    }
    const QString status = levelStatusText(r, failingStations, m_lines->rowCount(), failingLines, m_points.size(), unmatched);
    m_status->setText(status);
    m_status->setStyleSheet(failingStations + failingLines > 0 || !r.warnings.isEmpty()
                                ? QStringLiteral("color: #c80000;")
                                : QString());
    m_write->setEnabled(!m_points.empty() && m_session.currentEpoch() >= 0);
}

bool LevelDialog::writeIntoEpoch()
{
    ProjectDatabase *project = m_session.project();
    const int epoch = m_session.currentEpoch();
    if (!project || epoch < 0 || !m_result || m_points.empty())
        return false;
    int beyond = 0;
    for (const LevelLine &line : m_result->lines)
        beyond += line.within ? 0 : 1;
    for (const LevelLoop &loop : m_result->loops)
        beyond += loop.within ? 0 : 1;
    // A misclosure beyond tolerance, or what the level recorded and the
    // program reads disagreeing, is asked about first.
    QStringList doubts;
    if (beyond > 0)
        doubts << QStringLiteral("有 %1 条水准路线或闭合环的闭合差超限").arg(beyond);
    if (!m_result->warnings.isEmpty())
        doubts << QStringLiteral("有 %1 条注意事项（见对话框）").arg(m_result->warnings.size());
    if (!doubts.isEmpty()
        && !askYesNo(this, QStringLiteral("%1，是否仍写入%2？")
                               .arg(doubts.join(QStringLiteral("，")), m_session.epochLabel(epoch)),
                     title))
        return false;
    auto prepared = prepareLevelWrite(*project, epoch, *m_result, m_files, m_session.plausibility());
    if (!prepared) {
        showMessage(this, QStringLiteral("写入失败，工程未作任何修改：%1").arg(prepared.error()), title);
        return false;
    }
    LevelWrite &write = *prepared;
    if (!replacingAnswered(this, write.plan, m_session.epochLabel(epoch), QStringLiteral("写入"), title))
        return false;
    // The adjustment report beside the project, named after the epoch,
    // made before the heights are written.
    const Epoch *shown = m_session.snapshot().epochByNumber(epoch);
    const QString report = m_session.outputPath(levelReportPath(
        outputPathOf(m_session.projectPath(), QString()), shown ? shown->name : QString::number(epoch)));
    ProtectedFiles keep = programFiles(m_session.programDir(), m_session.projectPath());
    for (const LevelFile &file : m_files)
        keep.add(QStringLiteral("水准原始数据"), file.path);
    const Result<void> reportReady = prepareLevelReport(
        write, *m_result, currentGrade(), QFileInfo(outputPathOf(m_session.projectPath(), QString())).fileName(),
        report, keep);
    if (!reportReady
        && !askYesNo(this, QStringLiteral("平差报告无法保存：%1\n是否仍写入高程（不保存报告）？").arg(reportReady.error()),
                     title))
        return false;
    const auto written = commitLevelWrite(
        write, [this](const ImportPlan &plan) { return m_session.projectSession().writeImport(plan); });
    m_points.clear(); // they point into the snapshot the reload replaces
    if (!written) {
        showMessage(this, written.error(), title);
        recompute();
        return false;
    }
    // The session read the project again after the write.
    m_session.requestRefresh();
    QStringList names;
    for (const LevelFile &file : m_files)
        names << QFileInfo(file.path).fileName();
    QString summary = importSummary(names.join(QStringLiteral("、")), *written);
    if (!reportReady || !write.reportError.isEmpty())
        summary += QStringLiteral("\n平差报告未保存：%1")
                       .arg(reportReady ? write.reportError : reportReady.error());
    else
        summary += QStringLiteral("\n平差报告：%1").arg(QDir::toNativeSeparators(report));
    showMessage(this, summary, title, QMessageBox::Information);
    return true;
}
