#include "gui/mainwindow.h"

#include "survey/fieldrules.h"

#include "base/programfiles.h"
#include "base/textnumber.h"
#include "gui/curvekindcontrols.h"
#include "gui/curveoutput.h"
#include "gui/epochcommands.h"
#include "gui/importcommand.h"
#include "gui/inputrules.h"
#include "gui/messages.h"
#include "gui/observationgrid.h"
#include "gui/plandialogs.h"
#include "gui/projectcommands.h"
#include "gui/resultscommand.h"
#include "gui/session.h"
#include "gui/stabilitydialog.h"
#include "gui/twips.h"
#include "ui_mainwindow.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QHeaderView>
#include <QMenu>
#include <QTimer>

namespace {

constexpr int fullClientWidth = 11925;
constexpr int fullClientHeight = 6795;
constexpr int rowHeight = 300;

struct GridColumn
{
    const char16_t *heading;
    int width; // twips
};

// Row 0 of the grid. Column 4 is the cumulative settlement (累计下沉).
constexpr GridColumn gridColumns[] = {
    {u"观测点名", 700}, {u"首次高程", 840}, {u"本次高程", 840},
    {u"本次下沉", 700}, {u"累计下沉", 700}, {u"下沉速率", 750},
};

} // namespace

MainWindow::MainWindow(const QString &programDir, std::unique_ptr<SettingsStore> settings,
                       QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint
                          | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , ui(std::make_unique<Ui::Form1>())
    , m_session(std::make_unique<Session>(programDir, std::move(settings)))
{
    ui->setupUi(this);
    useFullSize();
    setUpGrid();

    for (QLineEdit *box : {ui->Text6, ui->Text10, ui->Text11})
        applyDigitsOnly(box);
    applyDecimalDigits(ui->Text7);
    for (QLineEdit *box :
         {ui->Text1, ui->Text2, ui->Text3, ui->Text4, ui->Text5, ui->Text6, ui->Text7, ui->Text8,
          ui->Text9, ui->Text10, ui->Text11, ui->Text14, ui->Text15})
        applySelectAllOnFocus(box);

    ui->Frame9->hide();
    ui->Command13->hide();
    // "设置：成果表表头" opens the header editor: it looks and acts as a link.
    ui->Label19->setCursor(Qt::PointingHandCursor);
    QFont link = ui->Label19->font();
    link.setUnderline(true);
    ui->Label19->setFont(link);
    ui->Label19->setStyleSheet(QStringLiteral("color: #0000ee;"));
    Session &session = *m_session;
    m_projectCommands = std::make_unique<ProjectCommands>(session, this);
    m_grid = std::make_unique<ObservationGrid>(
        session, ObservationGrid::Widgets{this, ui->Flex1, ui->Text4, ui->Text5});
    m_epochs = std::make_unique<EpochCommands>(
        session,
        EpochCommands::Widgets{this, ui->List1, ui->Text1, ui->Text2, ui->Text3, ui->Command2});
    m_curveKinds = std::make_unique<CurveKindControls>(
        session,
        CurveKindControls::Widgets{this,
                                   ui->Combo1,
                                   ui->Option1,
                                   ui->Option2,
                                   ui->Option3,
                                   ui->Option4,
                                   ui->Text6,
                                   ui->Text7,
                                   ui->Text8,
                                   ui->Label5,
                                   ui->Label12,
                                   ui->Label6,
                                   ui->Label8,
                                   ui->Label14,
                                   ui->Label18,
                                   ui->Command3,
                                   ui->Command8,
                                   ui->Command9,
                                   ui->Pic1,
                                   {ui->Label14, ui->Text8, ui->Label18, ui->Frame4, ui->Check1,
                                    ui->Label9, ui->Label10, ui->Text10, ui->Text11}});
    m_curveOutput = std::make_unique<CurveOutput>(
        session, CurveOutput::Widgets{this, ui->Text15, ui->Text14, ui->Combo1, ui->Text6,
                                      ui->Text7, ui->Text8, ui->Check1, ui->Text10, ui->Text11,
                                      ui->Text1});
    m_results = std::make_unique<ResultsCommand>(
        session, ResultsCommand::Widgets{this, ui->Combo2, ui->Text1});
    m_import = std::make_unique<ImportCommand>(session, this);
    connectControls();
}

MainWindow::~MainWindow() = default;

void MainWindow::setUpGrid()
{
    QTableWidget *grid = ui->Flex1;
    grid->setColumnCount(int(std::size(gridColumns)));
    QStringList headings;
    for (const GridColumn &column : gridColumns)
        headings << QString::fromUtf16(column.heading);
    grid->setHorizontalHeaderLabels(headings);
    for (int c = 0; c < int(std::size(gridColumns)); ++c)
        grid->setColumnWidth(c, twips(gridColumns[c].width));
    grid->horizontalHeader()->setFixedHeight(twips(rowHeight));
    // Columns widen by dragging their edges, so a long figure can be read whole.
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid->horizontalHeader()->setHighlightSections(false);
    // Four Chinese characters must fit a 700-twip heading.
    grid->horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView::section { padding: 0px; margin: 0px; font-size: 11px;"
                       " background: #f0f0f0; border: none;"
                       " border-right: 1px solid #a0a0a0; border-bottom: 1px solid #a0a0a0; }"));
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setDefaultSectionSize(twips(rowHeight));
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setWordWrap(false);
    // An elevation such as 100.80123 or 100801.23 must show whole in an
    // 840-twip column: digits of a small face. A wider figure is elided at
    // its end ("…"), never cut at its front; the cell's tooltip has it whole.
    QFont cellFont = grid->font();
    cellFont.setPixelSize(11);
    grid->setFont(cellFont);
    grid->setTextElideMode(Qt::ElideRight);
}

void MainWindow::connectControls()
{
    // The areas of the window, through the session.
    Session *session = m_session.get();
    session->setBoxLeaver([this] { return m_grid->leaveBoxes(); });
    session->setLeavingReview([this] { return m_grid->reviewQuestionable(true); });
    connect(session, &Session::projectChanged, this, [this] {
        ui->Pic1->clearPicture();
        m_grid->clear();
        if (m_session->project()) {
            m_grid->loadPointRows(false);
            ui->Flex1->setCurrentCell(0, 4);
        }
        m_epochs->showProject();
        m_curveKinds->fitAxisBoxes();
        m_curveKinds->updatePlanOption();
    });
    connect(session, &Session::refreshRequested, this, [this] { m_epochs->selectEpoch(); });
    connect(session, &Session::epochShown, this, [this] {
        m_grid->fill();
        m_curveKinds->showSettlementPreview();
    });
    connect(session, &Session::elevationStored, this,
            [this] { m_curveKinds->showSettlementPreview(); });
    // Once typing pauses the forecasts are worked out again: the grid's
    // alarms and the plan follow.
    connect(session, &Session::forecastsChanged, this, [this] {
        m_grid->refreshAlarms();
        m_curveKinds->showSettlementPreview();
    });
    connect(session, &Session::pointCountChanged, this, [this] {
        ui->Flex1->setRowCount(m_session->pointCount());
        m_grid->loadPointRows(true);
    });
    connect(m_curveOutput.get(), &CurveOutput::drawingWritten, this, [this](const QString &path) {
        ui->Command13->setToolTip(QStringLiteral("曲线图已保存：") + QDir::toNativeSeparators(path));
        makeCompact();
    });

    connect(ui->Command5, &QPushButton::clicked, this, &MainWindow::exitProgram);
    connect(ui->Command6, &QPushButton::clicked, this, [this] { m_projectCommands->newProject(); });
    connect(ui->Command7, &QPushButton::clicked, this,
            [this] { m_projectCommands->openProject(); });
    // A project on a PostgreSQL server is opened from the button's menu.
    ui->Command7->setContextMenuPolicy(Qt::CustomContextMenu);
    ui->Command7->setToolTip(QStringLiteral("单击：打开工程文件；右键：打开服务器工程"));
    connect(ui->Command7, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        QMenu menu(ui->Command7);
        connect(menu.addAction(QStringLiteral("打开工程文件…")), &QAction::triggered, this,
                [this] { m_projectCommands->openProject(); });
        connect(menu.addAction(QStringLiteral("打开服务器工程…")), &QAction::triggered, this,
                [this] { m_projectCommands->openServerProject(); });
        menu.exec(ui->Command7->mapToGlobal(at));
    });
    connect(ui->Command1, &QPushButton::clicked, this, [this] { m_epochs->newObservation(); });
    connect(ui->Command2, &QPushButton::clicked, this, [this] { m_epochs->modify(); });
    connect(ui->List1, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            m_epochs->selectEpoch();
    });
    connect(ui->Command13, &QPushButton::clicked, this, &MainWindow::restoreWindow);

    connectSettings();
    connectOutputs();
    connectMenus();
}

// The elevation unit, the point count, the templates and the sheet layout.
void MainWindow::connectSettings()
{
    connect(ui->Option5, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            changeElevationUnit(QStringLiteral("m"));
    });
    connect(ui->Option6, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            changeElevationUnit(QStringLiteral("mm"));
    });
    connect(ui->Combo3, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            changePointCount();
    });
    connect(ui->Combo1, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_curveKinds->chooseFrameTemplate();
    });
    connect(ui->Combo2, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            chooseTableTemplate();
    });
    connect(ui->Text10, &QLineEdit::textChanged, this,
            [this](const QString &text) { storeNumericBox(SettingKey::LinesPerSheet, text); });
    connect(ui->Text11, &QLineEdit::textChanged, this,
            [this](const QString &text) { storeNumericBox(SettingKey::SheetsPerRow, text); });
    connect(ui->Check1, &QCheckBox::toggled, this, &MainWindow::setTilingEnabled);
}

// The curve kinds and what the window writes or shows.
void MainWindow::connectOutputs()
{
    // The four kinds are one choice of their own. Left to the options'
    // automatic exclusiveness, which counts every option below the window,
    // the chosen kind could be clicked off while the unit's option is on.
    auto *kinds = new QButtonGroup(this);
    for (QRadioButton *kind : {ui->Option1, ui->Option2, ui->Option3, ui->Option4})
        kinds->addButton(kind);
    connect(ui->Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_curveKinds->selectCurveKind(CurveKind::Settlement);
    });
    connect(ui->Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_curveKinds->selectCurveKind(CurveKind::Rate);
    });
    connect(ui->Option3, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_curveKinds->selectCurveKind(CurveKind::Load);
    });
    connect(ui->Option4, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_curveKinds->showPlan();
    });
    connect(ui->Command10, &QPushButton::clicked, this, [this] { m_import->importObservations(); });
    connect(ui->Command4, &QPushButton::clicked, this, [this] { m_results->writeResultsTable(); });
    connect(ui->Command15, &QPushButton::clicked, this, [this] { m_results->writeReport(); });
    connect(ui->Command3, &QPushButton::clicked, this, [this] {
        if (m_curveKinds->planSelected())
            m_curveOutput->drawPlanSheet();
        else
            m_curveOutput->drawCurveSheets();
    });
    connect(ui->Command8, &QPushButton::clicked, this, [this] { m_curveKinds->zoomIn(); });
    connect(ui->Command9, &QPushButton::clicked, this, [this] { m_curveKinds->zoomOut(); });
    connect(ui->Label19, &ClickableLabel::clicked, this, &MainWindow::openHeaderEditor);
    connect(ui->Command14, &QPushButton::clicked, this, &MainWindow::openStabilityDialog);
    m_grid->setPositionsOpener([this] { openPositionsDialog(); });
}

// The menus of the date label and of the plan view.
void MainWindow::connectMenus()
{
    // The program's version: the date label's menu.
    ui->Label15->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->Label15, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        QMenu menu(ui->Label15);
        connect(menu.addAction(QStringLiteral("关于 Sedimetra…")), &QAction::triggered, this, [this] {
            showMessage(this,
                        QStringLiteral("Sedimetra 建筑物沉降观测\n版本 %1\n程序文件：%2")
                            .arg(QStringLiteral(SEDIMETRA_VERSION),
                                 QDir::toNativeSeparators(m_session->programDir())),
                        QStringLiteral("关于 Sedimetra"), QMessageBox::Information);
        });
        menu.exec(ui->Label15->mapToGlobal(at));
    });
    // The plan view's own menu.
    ui->Pic1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->Pic1, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        if (!m_session->project())
            return;
        QMenu menu(ui->Pic1);
        connect(menu.addAction(QStringLiteral("测点坐标…")), &QAction::triggered, this,
                &MainWindow::openPositionsDialog);
        connect(menu.addAction(QStringLiteral("平面图设置…")), &QAction::triggered, this,
                &MainWindow::openPlanSettings);
        menu.exec(ui->Pic1->mapToGlobal(at));
    });
    connect(ui->Command11, &QPushButton::clicked, this, &MainWindow::saveHeaderEditor);
    connect(ui->Command12, &QPushButton::clicked, this, &MainWindow::cancelHeaderEditor);
}

void MainWindow::loadMainWindow()
{
    // Topmost is a window flag set at construction.
    placeWindow();
    setWindowTitle(QStringLiteral("Sedimetra 2018"));
    ui->Frame9->hide();

    const int pointCount = m_session->pointCount();
    ui->Flex1->setRowCount(pointCount);
    for (int row = 0; row < pointCount; ++row) {
        ui->Flex1->setRowHeight(row, twips(rowHeight));
        ui->Flex1->setItem(row, 0, nullptr);
    }

    ui->Text1->setText(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    ui->Text2->clear();
    ui->Text3->clear();

    const int gridLeft = ui->Flex1->x();
    ui->Text4->clear();
    ui->Text4->setGeometry(gridLeft + ui->Flex1->columnWidth(0) + twips(750), ui->Text4->y(),
                           twips(840), twips(rowHeight));
    ui->Text4->hide();
    ui->Text5->clear();
    ui->Text5->setGeometry(gridLeft, ui->Text5->y(), twips(700), twips(rowHeight));
    ui->Text5->hide();

    m_session->setCurrentEpoch(-1);
    m_session->setZoomLevel(2);
    m_grid->closeBoxes();

    if (const auto lines = m_session->settings().readSetting(SettingKey::LinesPerSheet))
        ui->Text10->setText(*lines);
    if (const auto sheets = m_session->settings().readSetting(SettingKey::SheetsPerRow))
        ui->Text11->setText(*sheets);

    if (m_session->unit() == QLatin1String("m"))
        ui->Option5->setChecked(true);
    else
        ui->Option6->setChecked(true);

    {
        const QSignalBlocker blocker(ui->Combo3);
        ui->Combo3->clear();
        for (int count = 15; count <= 150; count += 15)
            ui->Combo3->addItem(QString::number(count));
        ui->Combo3->setCurrentIndex(-1);
    }
    ui->Combo3->setCurrentIndex(ui->Combo3->findText(QString::number(pointCount)));

    ui->Text15->setText(m_session->settings().readSettingOr(SettingKey::Font1));
    ui->Text14->setText(m_session->settings().readSettingOr(SettingKey::Font2));

    fillFrameTemplates();
    fillTableTemplates();

    m_curveKinds->selectCurveKind(CurveKind::Settlement);
    ui->Command13->hide();
}

void MainWindow::fillFrameTemplates()
{
    const QStringList entries = allFrameTemplateEntries(m_session->programDir());
    {
        const QSignalBlocker blocker(ui->Combo1);
        ui->Combo1->clear();
        ui->Combo1->addItems(entries);
        ui->Combo1->setCurrentIndex(-1);
    }
    if (entries.isEmpty())
        return;
    int index = 0;
    if (const auto stored = m_session->settings().readSetting(SettingKey::FrameTemplate))
        index = std::max(0, indexIgnoringCase(entries, *stored));
    ui->Combo1->setCurrentIndex(index);
}

void MainWindow::fillTableTemplates()
{
    const QStringList entries = tableTemplateEntries(tableTemplatesDir(m_session->programDir()));
    {
        const QSignalBlocker blocker(ui->Combo2);
        ui->Combo2->clear();
        ui->Combo2->addItems(entries);
        ui->Combo2->setCurrentIndex(-1);
    }
    if (entries.isEmpty())
        return;
    // A stored template that is gone leaves the list without a selection.
    const auto stored = m_session->settings().readSetting(SettingKey::TableTemplate);
    ui->Combo2->setCurrentIndex(stored ? indexIgnoringCase(entries, *stored) : 0);
}

void MainWindow::chooseTableTemplate()
{
    storeSetting(SettingKey::TableTemplate, ui->Combo2->currentText());
}

void MainWindow::storeNumericBox(const QString &key, const QString &text)
{
    if (isNumeric(text))
        storeSetting(key, text);
}

void MainWindow::setTilingEnabled(bool enabled)
{
    for (QWidget *control :
         std::initializer_list<QWidget *>{ui->Label9, ui->Label10, ui->Text10, ui->Text11})
        control->setEnabled(enabled);
}

bool MainWindow::storeSetting(const QString &key, const QString &value)
{
    return storeSettingOrTell(this, *m_session, key, value);
}

void MainWindow::changeElevationUnit(const QString &unit)
{
    // A figure typed in the old unit is committed in it, or the unit stays.
    if (!m_session->leaveBoxes()) {
        const QSignalBlocker m(ui->Option5), mm(ui->Option6);
        (m_session->unit() == QLatin1String("m") ? ui->Option5 : ui->Option6)->setChecked(true);
        return;
    }
    m_session->setUnit(unit);
    m_session->requestRefresh();
}

void MainWindow::changePointCount()
{
    if (!m_session->leaveBoxes()) {
        const QSignalBlocker blocker(ui->Combo3);
        ui->Combo3->setCurrentText(QString::number(m_session->pointCount()));
        return;
    }
    m_session->setPointCount(
        std::max(0, roundHalfEven(leadingNumber(ui->Combo3->currentText()))));
    m_session->announcePointCount();
    m_session->requestRefresh();
}

void MainWindow::storeExitSettings()
{
    QStringList failures;
    const std::pair<QString, QString> values[] = {
        {SettingKey::ElevationUnit, m_session->unit()},
        {SettingKey::PointCount, formatFixed(m_session->pointCount(), 0)},
        {SettingKey::Font1, ui->Text15->text()},
        {SettingKey::Font2, ui->Text14->text()},
    };
    for (const auto &[key, value] : values) {
        if (auto written = m_session->storeSetting(key, value); !written)
            failures << QStringLiteral("%1：%2").arg(key, written.error());
    }
    m_exitStored = true;
    if (!failures.isEmpty())
        showMessage(this, QStringLiteral("退出时无法保存以下设置（系统数据库：%1）：\n%2")
                              .arg(QDir::toNativeSeparators(m_session->settings().path()),
                                   failures.join(QLatin1Char('\n'))));
}

void MainWindow::exitProgram()
{
    if (!m_session->leaveBoxes())
        return;
    storeExitSettings();
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The close box ends the program like "退出程序", settings included,
    // and what is typed in an open box is kept first.
    if (!m_exitStored && !m_session->leaveBoxes()) {
        event->ignore();
        return;
    }
    if (!m_exitStored)
        storeExitSettings();
    event->accept();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The load step placed the window before it had a frame; place it again
    // once the window system has given it one.
    if (!m_placedWithFrame) {
        m_placedWithFrame = true;
        QTimer::singleShot(0, this, &MainWindow::placeWindow);
    }
}

void MainWindow::placeWindow()
{
    const QRect screen = screenRect(this);
    const QSize outer = outerSize(this);
    move(screen.right() + 1 - outer.width() - twips(300),
         screen.bottom() + 1 - outer.height() - twips(800));
}

void MainWindow::useFullSize()
{
    // The designed size is the smallest; the window may be made larger.
    setMinimumSize(twips(fullClientWidth), twips(fullClientHeight));
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(twips(fullClientWidth), twips(fullClientHeight));
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (ui->Command13->isVisible())
        return; // the compact window: its one button
    if (m_designed.empty()) {
        for (QObject *child : children())
            if (auto *widget = qobject_cast<QWidget *>(child); widget && !widget->isWindow())
                m_designed.emplace_back(widget, widget->geometry());
        // The zoom buttons inside the preview, at its right edge.
        for (QWidget *zoom : {static_cast<QWidget *>(ui->Command8), static_cast<QWidget *>(ui->Command9)})
            m_designed.emplace_back(zoom, zoom->geometry());
    }
    const int dx = std::max(0, width() - twips(fullClientWidth));
    const int dy = std::max(0, height() - twips(fullClientHeight));
    QRect grid, preview;
    for (const auto &[widget, designed] : m_designed) {
        if (widget == ui->Flex1)
            grid = designed;
        else if (widget == ui->Pic1)
            preview = designed;
    }
    const int gridShare = dx / 2;
    for (const auto &[widget, designed] : m_designed) {
        if (widget == ui->Frame9 || widget == ui->Command13)
            continue;
        QRect r = designed;
        if (widget == ui->Flex1) {
            r.setSize(r.size() + QSize(gridShare, dy));
        } else if (widget == ui->Pic1) {
            r.translate(gridShare, 0);
            r.setSize(r.size() + QSize(dx - gridShare, dy));
        } else if (widget == ui->List1) {
            r.setHeight(r.height() + dy);
        } else if (widget == ui->Command8 || widget == ui->Command9) {
            r.translate(dx - gridShare, 0); // inside the preview, at its right edge
        } else {
            const bool below = r.top() >= std::min(grid.bottom(), preview.bottom());
            r.translate(r.left() >= grid.right() ? gridShare : 0, below ? dy : 0);
        }
        widget->setGeometry(r);
    }
    // The grid's extra width goes to its two elevation columns.
    for (const int c : {1, 2})
        ui->Flex1->setColumnWidth(c, twips(gridColumns[c].width) + gridShare / 2);
}

void MainWindow::restoreWindow()
{
    // The button goes first, so that the resize lays the controls out for
    // the size the window takes again.
    ui->Command13->hide();
    useFullSize();
    if (!m_beforeCompact) {
        placeWindow();
        return;
    }
    const auto [place, size] = *m_beforeCompact;
    m_beforeCompact.reset();
    resize(size.expandedTo(minimumSize()));
    move(place);
}
