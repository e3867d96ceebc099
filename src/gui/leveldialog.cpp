#include "gui/leveldialog.h"

#include "base/outputguard.h"
#include "base/programfiles.h"
#include "base/settings.h"
#include "base/textnumber.h"
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
    for (const LevelGrade &grade : defaultGrades())
        m_grade->addItem(grade.name);
    m_distribute = new QComboBox;
    m_distribute->setObjectName(QStringLiteral("Distribute"));
    m_distribute->addItems({QStringLiteral("按测站数"), QStringLiteral("按距离")});
    // The project's reference point is the fixed one to begin with.
    const auto fields = effectiveHeaderFields(session.settings(), session.project());
    const auto field = [&](const QString &key) {
        const auto found = fields.find(key);
        return found == fields.end() ? QString() : found->second.trimmed();
    };
    m_fixedId = new QLineEdit(field(SettingKey::Benchmark));
    m_fixedId->setObjectName(QStringLiteral("FixedId"));
    m_fixedHeight = new QLineEdit(field(SettingKey::BenchmarkElevation));
    m_fixedHeight->setObjectName(QStringLiteral("FixedHeight"));
    if (m_fixedId->text().isEmpty())
        for (const LevelFile &file : m_files)
            if (!file.startHeights.empty()) {
                m_fixedId->setText(file.startHeights.begin()->first);
                m_fixedHeight->setText(QString::number(file.startHeights.begin()->second, 'f', 5));
                break;
            }

    auto *settingsRow = new QHBoxLayout;
    settingsRow->addWidget(new QLabel(QStringLiteral("等级：")));
    settingsRow->addWidget(m_grade);
    settingsRow->addWidget(new QLabel(QStringLiteral("闭合差分配：")));
    settingsRow->addWidget(m_distribute);
    settingsRow->addWidget(new QLabel(QStringLiteral("起算点：")));
    settingsRow->addWidget(m_fixedId);
    settingsRow->addWidget(new QLabel(QStringLiteral("高程(m)：")));
    settingsRow->addWidget(m_fixedHeight);
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
    connect(m_grade, &QComboBox::currentIndexChanged, this, &LevelDialog::recompute);
    connect(m_distribute, &QComboBox::currentIndexChanged, this, &LevelDialog::recompute);
    connect(m_write, &QPushButton::clicked, this, [this] {
        if (writeIntoEpoch())
            accept();
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    recompute();
}

void LevelDialog::recompute()
{
    LevelSettings settings;
    settings.grade = defaultGrades()[size_t(std::max(m_grade->currentIndex(), 0))];
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
    m_matched.clear();
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
    m_lines->setRowCount(int(r.lines.size()));
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
    // The level's ids matched to the project's points, without case and
    // leading zeros.
    std::map<QString, const Point *> byKey;
    for (const Point &point : m_session.snapshot().points())
        byKey.emplace(pointKey(point.name), &point);
    QStringList unmatched;
    m_heights->setRowCount(int(r.heights.size()));
    int row = 0;
    for (const auto &[id, h] : r.heights) {
        const auto found = byKey.find(pointKey(id));
        const Point *point = found == byKey.end() ? nullptr : found->second;
        bool fixed = false;
        for (const auto &[fixedId, height] : settings.fixed)
            fixed |= pointKey(fixedId) == pointKey(id);
        if (point)
            m_matched[point->cjdNo] = h;
        else if (!fixed)
            unmatched << id;
        const auto sigma = r.sigmaMm.find(id);
        setRow(m_heights, row++,
               {id, formatFixed(h, 5),
                sigma == r.sigmaMm.end() ? QStringLiteral("—") : formatFixed(sigma->second, 2),
                point                       ? point->name
                : fixed                    ? QStringLiteral("（起算点）")
                                           : QStringLiteral("（工程中没有）")});
    }
    QString status = QStringLiteral("%1 个测站，%2 个不合格；%3 条水准路线，%4 条闭合差超限；"
                                    "%5 个高程可写入工程测点。")
                         .arg(r.stations.size())
                         .arg(failingStations)
                         .arg(r.lines.size())
                         .arg(failingLines)
                         .arg(m_matched.size());
    if (r.sigma0Mm)
        status += QStringLiteral(" 单位权中误差 %1 mm（多余观测 %2）。")
                      .arg(formatFixed(*r.sigma0Mm, 3))
                      .arg(r.dof);
    if (!unmatched.isEmpty())
        status += QStringLiteral("\n工程中找不到的点号：%1").arg(unmatched.join(QStringLiteral("、")));
    m_status->setText(status);
    m_status->setStyleSheet(failingStations + failingLines > 0 ? QStringLiteral("color: #c80000;")
                                                               : QString());
    m_write->setEnabled(!m_matched.empty() && m_session.currentEpoch() >= 0);
}

bool LevelDialog::writeIntoEpoch()
{
    ProjectDatabase *project = m_session.project();
    const int epoch = m_session.currentEpoch();
    if (!project || epoch < 0 || !m_result || m_matched.empty())
        return false;
    int beyond = 0;
    for (const LevelLine &line : m_result->lines)
        beyond += line.within ? 0 : 1;
    if (beyond > 0
        && !askYesNo(this, QStringLiteral("有 %1 条水准路线的闭合差超限，是否仍写入第 %2 次观测？")
                               .arg(beyond)
                               .arg(epoch),
                     title))
        return false;
    std::vector<ImportRow> rows;
    for (const auto &[cjdNo, h] : m_matched)
        if (const Point *point = m_session.snapshot().point(cjdNo))
            rows.push_back({int(rows.size()) + 1, point->name, QString::number(h, 'g', 17), true, true});
    const auto plan = planImport(*project, epoch, rows, QStringLiteral("m"));
    if (!plan) {
        showMessage(this, QStringLiteral("写入失败，工程未作任何修改：%1").arg(plan.error()), title);
        return false;
    }
    if (plan->result.overwritten > 0
        && !askYesNo(this,
                     QStringLiteral("第 %1 次观测已有 %2 个测点的高程，写入将覆盖其中 %3 个。"
                                    "是否继续？")
                         .arg(epoch)
                         .arg(plan->held)
                         .arg(plan->result.overwritten),
                     title))
        return false;
    const ImportResult written = writeImport(*project, *plan);
    if (!written.written) {
        showMessage(this, QStringLiteral("写入失败，工程未作任何修改：%1").arg(written.error), title);
        return false;
    }
    if (auto reloaded = m_session.reload(); !reloaded)
        showMessage(this, reloaded.error(), title);
    m_session.requestRefresh();
    QStringList names;
    for (const LevelFile &file : m_files)
        names << QFileInfo(file.path).fileName();
    QString summary = importSummary(names.join(QStringLiteral("、")), written);
    // The adjustment report beside the project, named after the epoch.
    const Epoch *shown = m_session.snapshot().epochByNumber(epoch);
    const QString report = m_session.outputPath(levelReportPath(
        outputPathOf(m_session.projectPath(), QString()), shown ? shown->name : QString::number(epoch)));
    ProtectedFiles keep = programFiles(m_session.programDir(), m_session.projectPath());
    for (const LevelFile &file : m_files)
        keep.add(QStringLiteral("水准原始数据"), file.path);
    Result<void> reported = keep.checkOutput(report);
    if (reported)
        reported = writeLevelReport(*m_result, defaultGrades()[size_t(std::max(m_grade->currentIndex(), 0))],
                                    report);
    summary += reported ? QStringLiteral("\n平差报告：%1").arg(QDir::toNativeSeparators(report))
                        : QStringLiteral("\n平差报告未能保存：%1").arg(reported.error());
    showMessage(this, summary, title, QMessageBox::Information);
    return true;
}
