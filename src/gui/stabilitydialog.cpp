#include "gui/stabilitydialog.h"

#include "base/outputguard.h"
#include "base/programfiles.h"
#include "base/savefile.h"
#include "base/settings.h"
#include "base/textnumber.h"
#include "gui/messages.h"
#include "gui/session.h"
#include "project/projectdb.h"

#include <QChart>
#include <QChartView>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <cmath>
#include <functional>

namespace {

const QString title = QStringLiteral("稳定性分析");
// How far past the last epoch the predictions are drawn, in days.
constexpr double predictionDays = 365;
constexpr int curveSamples = 200;

const QColor observedColour(0, 0, 0);
const QColor hyperbolicColour(0, 90, 200);
const QColor asaokaColour(210, 110, 0);

QLineSeries *dashedLevel(const QString &name, double level, double until, const QColor &colour)
{
    auto *series = new QLineSeries;
    series->setName(name);
    series->append(0, level);
    series->append(until, level);
    QPen pen(colour, 1.5, Qt::DashLine);
    series->setPen(pen);
    return series;
}

} // namespace

QColor verdictColour(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Stable:
        return QColor(0, 140, 0);
    case Verdict::Unstable:
        return QColor(200, 0, 0);
    case Verdict::Insufficient:
        break;
    }
    return QColor(110, 110, 110);
}

StabilityDialog::StabilityDialog(Session &session, QWidget *parent)
    : QDialog(parent)
    , m_session(session)
{
    setWindowTitle(title);
    setObjectName(QStringLiteral("StabilityDialog"));
    const StabilitySettings stored = session.stabilitySettings();

    m_building = new QLabel;
    m_building->setObjectName(QStringLiteral("Building"));
    QFont big = m_building->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    m_building->setFont(big);

    QHBoxLayout *settingsRow = makeSettingsRow(stored);

    m_table = new QTableWidget;
    m_table->setObjectName(QStringLiteral("Points"));
    m_table->setColumnCount(int(stabilityHeadings().size()));
    m_table->setHorizontalHeaderLabels(stabilityHeadings());
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chartView = new QChartView(m_chart);
    m_chartView->setObjectName(QStringLiteral("Chart"));
    m_chartView->setRenderHint(QPainter::Antialiasing);
    m_chartView->setMinimumSize(480, 360);

    auto *splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(m_table);
    splitter->addWidget(m_chartView);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);

    auto *buttons = new QDialogButtonBox;
    QPushButton *exportButton =
        buttons->addButton(QStringLiteral("导出图片…"), QDialogButtonBox::ActionRole);
    exportButton->setObjectName(QStringLiteral("Export"));
    QPushButton *closeButton = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    // Enter in a setting box takes the value; it neither exports nor closes.
    for (QPushButton *button : {exportButton, closeButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_building);
    layout->addLayout(settingsRow);
    layout->addWidget(splitter, 1);
    layout->addWidget(buttons);
    // As large as the table and the chart need, within the screen, in its middle.
    const QRect screen = screenRect(parent);
    resize(std::min(1320, screen.width() - 40), std::min(660, screen.height() - 60));
    move(screen.center() - rect().center());
    splitter->setSizes({width() * 11 / 20, width() * 9 / 20});

    connect(m_window, &QSpinBox::valueChanged, this, &StabilityDialog::settingChanged);
    connect(m_step, &QSpinBox::valueChanged, this, &StabilityDialog::settingChanged);
    connect(m_limit, &QDoubleSpinBox::valueChanged, this, &StabilityDialog::settingChanged);
    connect(m_maxInterval, &QDoubleSpinBox::valueChanged, this, &StabilityDialog::settingChanged);
    connect(m_table, &QTableWidget::currentCellChanged, this,
            [this](int row) { showPoint(row); });
    connect(exportButton, &QPushButton::clicked, this, &StabilityDialog::exportChartAsked);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    analyse();
}

// The settings' boxes in a row, with the button that makes them the default.
QHBoxLayout *StabilityDialog::makeSettingsRow(const StabilitySettings &stored)
{
    m_window = new QSpinBox;
    m_window->setObjectName(QStringLiteral("Window"));
    m_window->setRange(1, 36500);
    m_window->setValue(stored.window);
    m_window->setSuffix(QStringLiteral(" d"));
    m_limit = new QDoubleSpinBox;
    m_limit->setObjectName(QStringLiteral("Limit"));
    m_limit->setDecimals(3);
    m_limit->setRange(0.001, 10);
    m_limit->setSingleStep(0.005);
    m_limit->setValue(stored.limit);
    m_limit->setSuffix(QStringLiteral(" mm/d"));
    m_step = new QSpinBox;
    m_step->setObjectName(QStringLiteral("Step"));
    m_step->setRange(1, 3650);
    m_step->setValue(stored.step);
    m_step->setSuffix(QStringLiteral(" d"));
    m_maxInterval = new QDoubleSpinBox;
    m_maxInterval->setObjectName(QStringLiteral("MaxInterval"));
    m_maxInterval->setDecimals(0);
    m_maxInterval->setRange(1, 1000);
    m_maxInterval->setSingleStep(5);
    m_maxInterval->setValue(stored.maxIntervalPercent);
    m_maxInterval->setSuffix(QStringLiteral(" %"));
    m_maxInterval->setToolTip(QStringLiteral("预测终值 95 % 区间的半宽，不超过预测沉降量的这一比例时才采用预测"));
    auto *settingsRow = new QHBoxLayout;
    for (const auto &[label, box] : std::initializer_list<std::pair<QString, QWidget *>>{
             {QStringLiteral("稳定天数："), m_window},
             {QStringLiteral("稳定速率："), m_limit},
             {QStringLiteral("预测步长："), m_step},
             {QStringLiteral("预测区间上限："), m_maxInterval}}) {
        settingsRow->addWidget(new QLabel(label));
        settingsRow->addWidget(box);
        settingsRow->addSpacing(12);
    }
    settingsRow->addStretch();
    // The settings are this building's; the button makes them what a
    // building without its own starts from.
    auto *asDefault = new QPushButton(QStringLiteral("设为默认值"));
    asDefault->setObjectName(QStringLiteral("AsDefault"));
    asDefault->setAutoDefault(false);
    asDefault->setToolTip(QStringLiteral("没有自己设置的工程按这些值分析"));
    settingsRow->addWidget(asDefault);
    connect(asDefault, &QPushButton::clicked, this, &StabilityDialog::storeAsDefault);
    return settingsRow;
}


std::map<QString, QString> StabilityDialog::shownSettings() const
{
    return {{SettingKey::StableDays, QString::number(m_window->value())},
            {SettingKey::StableRate, limitText(m_limit->value())},
            {SettingKey::PredictionStep, QString::number(m_step->value())},
            {SettingKey::MaxIntervalPercent, limitText(m_maxInterval->value())}};
}

void StabilityDialog::settingChanged()
{
    // Each setting is stored with the project as it changes: the next dialog,
    // the grid's alarms, the workbook, the report and the batch work with it,
    // for this building only. A project that cannot be written (a reader's
    // server project) is told once; the analysis follows the boxes all the same.
    ProjectDatabase *project = m_session.project();
    if (project && !m_toldUnstored) {
        if (auto saved = project->setHeaderFields(shownSettings()); !saved) {
            m_toldUnstored = true;
            reportWriteFailure(this, m_session.projectPath(), saved.error());
        } else {
            m_session.refreshDeformationSettings();
        }
    }
    analyse();
}

void StabilityDialog::storeAsDefault()
{
    for (const auto &[key, value] : shownSettings())
        if (!storeSettingOrTell(this, m_session, key, value))
            return;
}

void StabilityDialog::analyse()
{
    // The session's analysis, the one the grid, the plan and the outputs
    // read, while the settings shown are those in effect; settings changed
    // here and not yet stored are tried on the same snapshot.
    const StabilitySettings settings{m_window->value(), m_limit->value(), m_step->value(), m_maxInterval->value()};
    m_analysis = m_session.projectSession().stabilityWith(settings);
    m_building->setText(QStringLiteral("建筑物稳定性：%1").arg(verdictText(m_analysis.building)));
    m_building->setStyleSheet(
        QStringLiteral("color: %1;").arg(verdictColour(m_analysis.building).name()));

    const int selected = std::max(m_table->currentRow(), 0);
    const std::vector<QStringList> rows = stabilityRows(m_analysis);
    const QSignalBlocker blocker(m_table);
    m_table->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        for (int c = 0; c < int(rows[size_t(r)].size()); ++c) {
            auto *item = new QTableWidgetItem(rows[size_t(r)][c]);
            item->setTextAlignment((c == 1 || c == 6 ? Qt::AlignLeft : Qt::AlignRight)
                                   | Qt::AlignVCenter);
            if (c == 6)
                item->setForeground(verdictColour(m_analysis.points[size_t(r)].verdict));
            m_table->setItem(r, c, item);
        }
    }
    if (!rows.empty()) {
        m_table->setCurrentCell(std::min(selected, int(rows.size()) - 1), 0);
        showPoint(m_table->currentRow());
    } else {
        showPoint(-1);
    }
}

void StabilityDialog::showPoint(int row)
{
    m_chart->removeAllSeries();
    for (QAbstractAxis *axis : m_chart->axes())
        m_chart->removeAxis(axis);
    if (row < 0 || row >= int(m_analysis.points.size())) {
        m_chart->setTitle(m_analysis.points.empty() ? QStringLiteral("没有可分析的测点")
                                                    : QString());
        return;
    }
    const PointStability &p = m_analysis.points[size_t(row)];
    m_chart->setTitle(QStringLiteral("%1 沉降—时间曲线").arg(p.name));
    const double until = p.tLast + predictionDays;
    double low = 0, high = 0;
    const auto cover = [&](double s) {
        if (std::isfinite(s)) {
            low = std::min(low, s);
            high = std::max(high, s);
        }
    };

    auto *observed = new QLineSeries;
    observed->setName(QStringLiteral("实测沉降"));
    observed->setPen(QPen(observedColour, 2));
    observed->setPointsVisible(true);
    observed->setMarkerSize(5);
    for (const SeriesPoint &point : p.series) {
        observed->append(point.t, point.s);
        cover(point.s);
    }
    const double observedLow = low, observedHigh = high;
    std::vector<QAbstractSeries *> all{observed};

    const auto curve = [&](const QString &name, const QColor &colour, double sInf, double low, double high,
                           const std::function<double(double)> &at) {
        auto *series = new QLineSeries;
        series->setName(name);
        series->setPen(QPen(colour, 2));
        const double from = p.loadStart->t;
        for (int i = 0; i <= curveSamples; ++i) {
            const double t = from + (until - from) * i / curveSamples;
            const double s = at(t);
            if (!std::isfinite(s))
                break; // past the hyperbola's pole: nothing more to draw
            series->append(t, s);
        }
        all.push_back(series);
        all.push_back(dashedLevel(QStringLiteral("s∞ %1 mm（95%：%2）").arg(formatFixed(sInf, 2), intervalText(low, high)),
                                  sInf, until, colour));
        // The interval's ends, dotted.
        for (const double end : {low, high}) {
            auto *bound = dashedLevel(QString(), end, until, colour);
            bound->setPen(QPen(colour, 1, Qt::DotLine));
            all.push_back(bound);
        }
        cover(low);
        cover(high);
    };
    if (p.hyperbolic)
        curve(QStringLiteral("双曲线法"), hyperbolicColour, p.hyperbolic->sInf, p.hyperbolic->sInfLow(),
              p.hyperbolic->sInfHigh(), [&](double t) {
            const double s = hyperbolicAt(*p.hyperbolic, *p.loadStart, t);
            // The hyperbola turns at its pole; beyond it it means nothing.
            return p.hyperbolic->a * (t - p.loadStart->t) + p.hyperbolic->b == 0
                           || (s - p.loadStart->s) * (p.hyperbolic->sInf - p.loadStart->s) < 0
                       ? std::nan("")
                       : s;
        });
    if (p.asaoka)
        curve(QStringLiteral("Asaoka法"), asaokaColour, p.asaoka->sInf, p.asaoka->sInfLow(), p.asaoka->sInfHigh(),
              [&](double t) { return asaokaAt(*p.asaoka, *p.loadStart, m_analysis.settings.step, t); });

    auto *days = new QValueAxis;
    days->setTitleText(QStringLiteral("时间（d）"));
    days->setRange(0, until);
    days->setLabelFormat(QStringLiteral("%.0f"));
    auto *settlement = new QValueAxis;
    settlement->setTitleText(QStringLiteral("沉降（mm）"));
    settlement->setLabelFormat(QStringLiteral("%.1f"));
    // A prediction far outside what was observed would squash the curve:
    // the axis shows at most three times the observed span.
    const double span = std::max(observedHigh - observedLow, 1.0);
    low = std::max(low, observedLow - 2 * span);
    high = std::min(high, observedHigh + 2 * span);
    const double margin = std::max((high - low) * 0.08, 0.5);
    settlement->setRange(low - margin, high + margin);
    settlement->applyNiceNumbers();
    days->applyNiceNumbers();
    m_chart->addAxis(days, Qt::AlignBottom);
    m_chart->addAxis(settlement, Qt::AlignLeft);
    for (QAbstractSeries *series : all) {
        m_chart->addSeries(series);
        series->attachAxis(days);
        series->attachAxis(settlement);
        // An interval's dotted ends are named by their s∞'s entry.
        if (series->name().isEmpty())
            for (QLegendMarker *marker : m_chart->legend()->markers(series))
                marker->setVisible(false);
    }
}

Result<void> StabilityDialog::exportChart(const QString &path)
{
    // Never over the project or a file of the program.
    if (auto allowed = programFiles(m_session.programDir(), m_session.projectPath()).checkOutput(path);
        !allowed)
        return allowed;
    const QPixmap picture = m_chartView->grab();
    SaveFile file(path);
    if (auto opened = file.open(); !opened)
        return opened;
    if (!picture.save(&file.device(), "PNG"))
        return fail(QStringLiteral("无法写入 %1").arg(QDir::toNativeSeparators(path)));
    return file.commit();
}

void StabilityDialog::exportChartAsked()
{
    const int row = m_table->currentRow();
    if (row < 0 || row >= int(m_analysis.points.size()))
        return;
    // Beside the project, or for a server project in the session's output
    // folder: never a path made of the address.
    const QString pointName = safeFileName(m_analysis.points[size_t(row)].name);
    const QFileInfo proposed(m_session.outputPath(
        outputPathOf(m_session.projectPath(), QLatin1Char('_') + pointName + QStringLiteral(".png"))));
    QFileDialog dialog(this, QStringLiteral("导出沉降曲线图片"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("PNG 图片 (*.png)"));
    dialog.setDefaultSuffix(QStringLiteral("png"));
    dialog.setDirectory(proposed.absolutePath());
    dialog.selectFile(proposed.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().value(0).isEmpty())
        return;
    const QString path = dialog.selectedFiles().value(0);
    if (auto saved = exportChart(path); !saved)
        showMessage(this, QStringLiteral("图片未能保存：%1").arg(saved.error()), title);
}
