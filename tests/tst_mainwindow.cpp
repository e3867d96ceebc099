#include "gui/mainwindow.h"
#include "gui/session.h"
#include "gui/startup.h"
#include "gui/twips.h"
#include "windowsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace testsupport;

namespace {

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void controls_data();
    void controls();
    void gridHeadingsAndRows();
    void growsWithTheWindow();
    void startupRefusesWithoutSystemDatabase_data();
    void startupRefusesWithoutSystemDatabase();
    void pointCountAtStartup_data();
    void pointCountAtStartup();
    void settingsLoadedAtStartup();
    void digitsOnlyTyped_data();
    void digitsOnlyTyped();
    void linesPerSheetStoredWhenNumeric();
    void splitOutputTick();
    void unitAndPointCountHandlers();
    void frameTemplateList_data();
    void frameTemplateList();
    void tableTemplateList_data();
    void tableTemplateList();
    void selectAllOnFocus_data();
    void selectAllOnFocus();
    void exitStoresFourSettings();
    void closeBoxStoresFourSettings();
    void failedSettingWriteIsReported();
    void messageMovesWindowAside();
    void placementAndCompactWindow();
    void headerEditor();
};

void MainWindowTest::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("parentName");
    struct Row
    {
        const char *name;
        const char *className;
        const char16_t *text;
        QRect geometry;
        const char *parent;
    };
    // The captions and texts as the load step leaves them: it runs the
    // settlement-curve handler, which retitles the output button, sets the
    // auxiliary unit and fills the axis boxes from the layout (none here).
    const Row rows[] = {
        {"Label4", "QLabel", u"观测次序：", twipsRect(0, 30, 900, 180), "Form1"},
        {"List1", "QListWidget", u"", twipsRect(0, 255, 1095, 5070), "Form1"},
        {"Flex1", "QTableWidget", u"", twipsRect(1200, 0, 4815, 4845), "Form1"},
        {"Option1", "QRadioButton", u"沉降曲线图", twipsRect(6120, 0, 1455, 495), "Form1"},
        {"Option2", "QRadioButton", u"沉降速率图", twipsRect(7560, 0, 1455, 495), "Form1"},
        {"Option3", "QRadioButton", u"荷载曲线图", twipsRect(9000, 0, 1455, 495), "Form1"},
        {"Option4", "QRadioButton", u"沉降平面图", twipsRect(10440, 0, 1455, 495), "Form1"},
        {"Pic1", "PreviewWidget", u"", twipsRect(6120, 480, 5775, 3855), "Form1"},
        {"Command8", "QPushButton", u"放大", twipsRect(5160, 0, 615, 375), "Pic1"},
        {"Command9", "QPushButton", u"缩小", twipsRect(5160, 360, 615, 375), "Pic1"},
        {"Frame1", "QGroupBox", u"←观测参数", twipsRect(1200, 4920, 2295, 1815), "Form1"},
        {"Label1", "QLabel", u"观测日期：", twipsRect(120, 300, 960, 180), "Frame1"},
        {"Label2", "QLabel", u"观测名称：", twipsRect(120, 660, 960, 180), "Frame1"},
        {"Label3", "QLabel", u"荷载层数：", twipsRect(120, 1020, 960, 180), "Frame1"},
        {"Text2", "QLineEdit", u"", twipsRect(1080, 600, 1080, 270), "Frame1"},
        {"Text3", "QLineEdit", u"", twipsRect(1080, 960, 1080, 270), "Frame1"},
        {"Command1", "QPushButton", u"新观测", twipsRect(120, 1300, 950, 495), "Frame1"},
        {"Command2", "QPushButton", u"修  改", twipsRect(1200, 1300, 950, 495), "Frame1"},
        {"Command6", "QPushButton", u"新建工程", twipsRect(0, 5400, 1095, 615), "Form1"},
        {"Command7", "QPushButton", u"打开工程", twipsRect(0, 6120, 1095, 615), "Form1"},
        {"Command10", "QPushButton", u"↑调入数据", twipsRect(3600, 4950, 1215, 615), "Form1"},
        {"Frame8", "QGroupBox", u"成图字体", twipsRect(3600, 5640, 1215, 1095), "Form1"},
        {"Text15", "QLineEdit", u"Romans", twipsRect(120, 360, 1000, 270), "Frame8"},
        {"Text14", "QLineEdit", u"Htj_S", twipsRect(120, 720, 1000, 270), "Frame8"},
        {"Frame6", "QGroupBox", u"高程单位", twipsRect(4920, 4920, 1095, 855), "Form1"},
        {"Option5", "QRadioButton", u"米", twipsRect(120, 240, 855, 180), "Frame6"},
        {"Option6", "QRadioButton", u"毫米", twipsRect(120, 600, 855, 180), "Frame6"},
        {"Frame7", "QGroupBox", u"支持点数", twipsRect(4920, 5880, 1095, 860), "Form1"},
        {"Frame3", "QGroupBox", u"输出模板", twipsRect(6120, 4440, 1815, 1335), "Form1"},
        {"Label7", "QLabel", u"图形：", twipsRect(120, 285, 510, 180), "Frame3"},
        {"Label11", "QLabel", u"表格：", twipsRect(120, 645, 510, 180), "Frame3"},
        {"Label19", "ClickableLabel", u"设置：成果表表头", twipsRect(120, 1020, 1560, 180),
         "Frame3"},
        {"Frame2", "QGroupBox", u"输出参数", twipsRect(8040, 4440, 1935, 1335), "Form1"},
        {"Label5", "QLabel", u"时间轴：", twipsRect(120, 300, 780, 180), "Frame2"},
        {"Label6", "QLabel", u"沉降轴：", twipsRect(120, 645, 780, 180), "Frame2"},
        {"Label14", "QLabel", u"辅助轴：", twipsRect(120, 1005, 780, 180), "Frame2"},
        {"Label12", "QLabel", u"d", twipsRect(1560, 300, 360, 180), "Frame2"},
        {"Label8", "QLabel", u"mm", twipsRect(1560, 645, 360, 180), "Frame2"},
        {"Label18", "QLabel", u"T/m", twipsRect(1560, 1005, 360, 180), "Frame2"},
        {"Text6", "QLineEdit", u"0", twipsRect(900, 260, 550, 270), "Frame2"},
        {"Text7", "QLineEdit", u"0.0", twipsRect(900, 600, 550, 270), "Frame2"},
        {"Text8", "QLineEdit", u"0", twipsRect(900, 960, 550, 270), "Frame2"},
        {"Frame4", "QGroupBox", u"分幅输出", twipsRect(10080, 4440, 1815, 1335), "Form1"},
        {"Check1", "QCheckBox", u"分幅输出", twipsRect(120, 250, 1095, 255), "Frame4"},
        {"Label9", "HalfBlankLabel", u"每幅         条线", twipsRect(120, 645, 1530, 180),
         "Frame4"},
        {"Label10", "HalfBlankLabel", u"每行         幅图", twipsRect(120, 1005, 1530, 180),
         "Frame4"},
        {"Text10", "QLineEdit", u"5", twipsRect(600, 600, 615, 270), "Frame4"},
        {"Text11", "QLineEdit", u"1", twipsRect(600, 960, 615, 270), "Frame4"},
        {"Command3", "QPushButton", u"输出曲线图", twipsRect(8280, 5880, 1095, 855), "Form1"},
        {"Command4", "QPushButton", u"生成成果表", twipsRect(9550, 5880, 1095, 855), "Form1"},
        {"Command5", "QPushButton", u"退出程序", twipsRect(10800, 5880, 1095, 855), "Form1"},
        {"Label15", "QLabel", u"2018年07月10日", twipsRect(6360, 6450, 1470, 210), "Form1"},
        {"Frame9", "QGroupBox", u"设计表头内容", twipsRect(6120, 2880, 5805, 2895), "Form1"},
        {"Label20", "QLabel", u"工程名称：", twipsRect(120, 300, 900, 180), "Frame9"},
        {"Text9", "QLineEdit", u"", twipsRect(1080, 240, 4620, 270), "Frame9"},
        {"Label21", "QLabel", u"委托单位：", twipsRect(120, 660, 900, 180), "Frame9"},
        {"Text16", "QLineEdit", u"", twipsRect(1080, 600, 4620, 270), "Frame9"},
        {"Label22", "QLabel", u"测量单位：", twipsRect(120, 1020, 900, 180), "Frame9"},
        {"Text17", "QLineEdit", u"", twipsRect(1080, 960, 4620, 270), "Frame9"},
        {"Label23", "QLabel", u"结构形式：", twipsRect(120, 1380, 900, 180), "Frame9"},
        {"Text18", "QLineEdit", u"", twipsRect(1080, 1320, 1440, 270), "Frame9"},
        {"Label24", "QLabel", u"建筑层次：", twipsRect(3240, 1380, 900, 180), "Frame9"},
        {"Text19", "QLineEdit", u"", twipsRect(4260, 1320, 1440, 270), "Frame9"},
        {"Label25", "QLabel", u"仪器型号：", twipsRect(120, 1740, 900, 180), "Frame9"},
        {"Text20", "QLineEdit", u"", twipsRect(1080, 1680, 4620, 270), "Frame9"},
        {"Label26", "QLabel", u"起算点号：", twipsRect(120, 2100, 900, 180), "Frame9"},
        {"Text21", "QLineEdit", u"", twipsRect(1080, 2040, 1440, 270), "Frame9"},
        {"Label27", "QLabel", u"起算高程：", twipsRect(3240, 2100, 900, 180), "Frame9"},
        {"Text22", "QLineEdit", u"", twipsRect(4260, 2040, 1440, 270), "Frame9"},
        {"Command11", "QPushButton", u"确定", twipsRect(3240, 2400, 975, 375), "Frame9"},
        {"Command12", "QPushButton", u"取消", twipsRect(4680, 2400, 975, 375), "Frame9"},
        {"Command13", "QPushButton", u"沉降软件，最大化", twipsRect(0, 0, 1815, 615), "Form1"},
    };
    for (const Row &row : rows)
        QTest::addRow("%s", row.name)
            << QString::fromLatin1(row.name) << QString::fromLatin1(row.className)
            << QString::fromUtf16(row.text) << row.geometry << QString::fromLatin1(row.parent);
}

void MainWindowTest::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);
    QFETCH(QString, parentName);
    TestProgram dir;
    QVERIFY(dir.make());
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QCOMPARE(window->objectName(), QStringLiteral("Form1"));

    auto *widget = window->findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    // The axis units give "mm/d" the room it needs, taken from their boxes'
    // right side: the units keep their right edges, the boxes their left.
    static const QStringList units{QStringLiteral("Label12"), QStringLiteral("Label8"), QStringLiteral("Label18")};
    static const QStringList boxes{QStringLiteral("Text6"), QStringLiteral("Text7"), QStringLiteral("Text8")};
    if (units.contains(name)) {
        QCOMPARE(widget->geometry().right(), geometry.right());
        QCOMPARE(widget->geometry().top(), geometry.top());
        QVERIFY(widget->width() >= widget->fontMetrics().horizontalAdvance(QStringLiteral("mm/d")));
    } else if (boxes.contains(name)) {
        QCOMPARE(widget->geometry().topLeft(), geometry.topLeft());
        QVERIFY(widget->width() <= geometry.width());
    } else {
        QCOMPARE(widget->geometry(), geometry);
    }
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        QCOMPARE(button->text(), text);
    else if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), text);
    else if (auto *box = qobject_cast<QLineEdit *>(widget))
        QCOMPARE(box->text(), text);
    else if (auto *frame = qobject_cast<QGroupBox *>(widget))
        QCOMPARE(frame->title(), text);
}

void MainWindowTest::gridHeadingsAndRows()
{
    TestProgram dir;
    QVERIFY(dir.make());
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("Sedimetra 2018"));
    QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(window->size(), QSize(twips(11925), twips(6795)));

    auto *grid = control<QTableWidget>(window.get(), "Flex1");
    const QStringList headings{"观测点名", "首次高程", "本次高程",
                               "本次下沉", "累计下沉", "下沉速率"};
    const int widths[] = {700, 840, 840, 700, 700, 750};
    QCOMPARE(grid->columnCount(), 6);
    for (int c = 0; c < 6; ++c) {
        QCOMPARE(grid->horizontalHeaderItem(c)->text(), headings[c]);
        QCOMPARE(grid->columnWidth(c), twips(widths[c]));
    }
    QCOMPARE(grid->horizontalHeader()->height(), twips(300));
    QCOMPARE(grid->rowCount(), 15);
    for (int r = 0; r < grid->rowCount(); ++r) {
        QCOMPARE(grid->rowHeight(r), twips(300));
        QVERIFY(!grid->item(r, 0) || grid->item(r, 0)->text().isEmpty());
    }
    // Fifteen data rows in view below the headings.
    QVERIFY(grid->viewport()->height() >= 15 * twips(300));

    auto *text4 = control<QLineEdit>(window.get(), "Text4");
    auto *text5 = control<QLineEdit>(window.get(), "Text5");
    QVERIFY(text4->isHidden() && text5->isHidden());
    QCOMPARE(text4->x(), grid->x() + twips(700) + twips(750));
    QCOMPARE(text4->size(), QSize(twips(840), twips(300)));
    QCOMPARE(text5->x(), grid->x());
    QCOMPARE(text5->size(), QSize(twips(700), twips(300)));

    QCOMPARE(control<QLineEdit>(window.get(), "Text1")->text(),
             QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    QVERIFY(!control<QPushButton>(window.get(), "Command2")->isEnabled());
    QVERIFY(!control<QRadioButton>(window.get(), "Option4")->isEnabled());
    QVERIFY(control<QRadioButton>(window.get(), "Option1")->isChecked());
    QVERIFY(control<QCheckBox>(window.get(), "Check1")->isChecked());
    QVERIFY(control<QWidget>(window.get(), "Frame9")->isHidden());
    QVERIFY(control<QWidget>(window.get(), "Command13")->isHidden());
    QCOMPARE(window->session().currentEpoch(), -1);
    QCOMPARE(window->session().zoomLevel(), 2);
    QVERIFY(window->session().projectPath().isEmpty());

    const std::pair<const char *, int> lengths[] = {
        {"Text6", 3},   {"Text7", 4},   {"Text8", 4},   {"Text10", 2},  {"Text11", 2},
        {"Text9", 40},  {"Text16", 40}, {"Text17", 40}, {"Text18", 10}, {"Text19", 4},
        {"Text20", 40}, {"Text21", 10}, {"Text22", 16},
    };
    for (const auto &[name, length] : lengths)
        QCOMPARE(control<QLineEdit>(window.get(), name)->maxLength(), length);

    auto *combo3 = control<QComboBox>(window.get(), "Combo3");
    QCOMPARE(combo3->count(), 10);
    QCOMPARE(combo3->itemText(0), QStringLiteral("15"));
    QCOMPARE(combo3->itemText(9), QStringLiteral("150"));
    QCOMPARE(combo3->currentText(), QStringLiteral("15"));
}

void MainWindowTest::startupRefusesWithoutSystemDatabase_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::addRow("missing") << false << QByteArray();
    QTest::addRow("not a database") << true << QByteArray("this is no database\n");
    QTest::addRow("empty file") << true << QByteArray();
}

void MainWindowTest::startupRefusesWithoutSystemDatabase()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    TestProgram dir;
    if (exists)
        QVERIFY(dir.addFile(QStringLiteral("Sdmx.mdb"), content));

    DialogWatcher watcher;
    const auto window = startup(dir.programDir());
    QVERIFY(!window);
    QCOMPARE(watcher.seen().size(), 1);
    QCOMPARE(watcher.seen()[0].text, QStringLiteral("系统文件不全！"));
    QCOMPARE(watcher.seen()[0].title, QStringLiteral("Sedimetra"));
    QCOMPARE(watcher.seen()[0].icon, QMessageBox::Critical);

    // The file is neither made nor changed.
    QCOMPARE(QFile::exists(dir.sdmx()), exists);
    if (exists) {
        QFile file(dir.sdmx());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }
}

void MainWindowTest::pointCountAtStartup_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("listed");
    QTest::addRow("list entry") << "60" << 60 << "60";
    QTest::addRow("largest entry survives a restart") << "150" << 150 << "150";
    QTest::addRow("120 survives a restart") << "120" << 120 << "120";
    QTest::addRow("above the list") << "300" << 150 << "150";
    QTest::addRow("not a multiple of 15") << "37" << 37 << "";
    QTest::addRow("zero gives headings only") << "0" << 0 << "";
    QTest::addRow("not a number gives headings only") << "many" << 0 << "";
}

void MainWindowTest::pointCountAtStartup()
{
    QFETCH(QString, stored);
    QFETCH(int, rows);
    QFETCH(QString, listed);
    TestProgram dir;
    QVERIFY(dir.make({{QStringLiteral("支持点数"), stored}}));
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QCOMPARE(window->session().pointCount(), rows);
    QCOMPARE(control<QTableWidget>(window.get(), "Flex1")->rowCount(), rows);
    auto *combo3 = control<QComboBox>(window.get(), "Combo3");
    QCOMPARE(combo3->currentText(), listed);
    QCOMPARE(combo3->currentIndex() < 0, listed.isEmpty());
}

void MainWindowTest::settingsLoadedAtStartup()
{
    TestProgram dir;
    QVERIFY(dir.make({{QStringLiteral("高程单位"), QStringLiteral("mm")},
                      {QStringLiteral("每幅线数"), QStringLiteral("8")},
                      {QStringLiteral("每行幅数"), QStringLiteral("3")},
                      {QStringLiteral("字体1"), QStringLiteral("txt")},
                      {QStringLiteral("字体2"), QStringLiteral("gbcbig")}}));
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QCOMPARE(window->session().unit(), QStringLiteral("mm"));
    QVERIFY(control<QRadioButton>(window.get(), "Option6")->isChecked());
    QVERIFY(!control<QRadioButton>(window.get(), "Option5")->isChecked());
    QCOMPARE(control<QLineEdit>(window.get(), "Text10")->text(), QStringLiteral("8"));
    QCOMPARE(control<QLineEdit>(window.get(), "Text11")->text(), QStringLiteral("3"));
    QCOMPARE(control<QLineEdit>(window.get(), "Text15")->text(), QStringLiteral("txt"));
    QCOMPARE(control<QLineEdit>(window.get(), "Text14")->text(), QStringLiteral("gbcbig"));
    // Nothing stored by loading changed a value.
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("每幅线数")), std::optional<QString>("8"));
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("高程单位")), std::optional<QString>("mm"));
}

void MainWindowTest::digitsOnlyTyped_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    // Text7, the settlement axis, keeps one point of what is typed.
    const std::pair<const char *, const char *> boxes[] = {
        {"Text6", "12"}, {"Text7", "1.2"}, {"Text10", "12"}, {"Text11", "12"}};
    for (const auto &[box, signsKept] : boxes) {
        QTest::addRow("%s digits", box) << box << "12"
                                        << "12";
        QTest::addRow("%s letters and signs", box) << box << "a1-.b2+ " << signsKept;
        QTest::addRow("%s chinese", box) << box << QStringLiteral("三3") << "3";
    }
    // The settlement axis takes a rate such as 0.2 mm/d, with one point.
    QTest::newRow("Text7 one point") << "Text7" << "0.2.5" << "0.25";
}

void MainWindowTest::digitsOnlyTyped()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    TestProgram dir;
    QVERIFY(dir.make());
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *edit = window->findChild<QLineEdit *>(box);
    QTest::mouseClick(edit, Qt::LeftButton);
    edit->clear();
    typeText(edit, typed);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(edit->text(), expected);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), expected.chopped(1));
}

void MainWindowTest::linesPerSheetStoredWhenNumeric()
{
    TestProgram dir;
    QVERIFY(dir.make());
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *text10 = control<QLineEdit>(window.get(), "Text10");
    auto *text11 = control<QLineEdit>(window.get(), "Text11");

    text10->setFocus();
    text10->selectAll();
    QTest::keyClicks(text10, "12");
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("每幅线数")), std::optional<QString>("12"));
    QTest::keyClicks(text11, "4");
    QCOMPARE(text11->text(), QStringLiteral("14"));
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("每行幅数")), std::optional<QString>("14"));

    // An emptied box is not stored: the last number stays.
    text10->selectAll();
    QTest::keyClick(text10, Qt::Key_Backspace);
    QCOMPARE(text10->text(), QString());
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("每幅线数")), std::optional<QString>("12"));

    // Pasted letters get into the box, but are not stored.
    text10->insert(QStringLiteral("ab"));
    QCOMPARE(text10->text(), QStringLiteral("ab"));
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("每幅线数")), std::optional<QString>("12"));
}

void MainWindowTest::splitOutputTick()
{
    TestProgram dir;
    QVERIFY(dir.make());
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *check1 = control<QCheckBox>(window.get(), "Check1");
    const QList<QWidget *> tiling{
        control<QWidget>(window.get(), "Label9"), control<QWidget>(window.get(), "Label10"),
        control<QWidget>(window.get(), "Text10"), control<QWidget>(window.get(), "Text11")};
    for (QWidget *w : tiling)
        QVERIFY(w->isEnabled());
    QTest::mouseClick(check1, Qt::LeftButton);
    QVERIFY(!check1->isChecked());
    for (QWidget *w : tiling)
        QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
    QTest::mouseClick(check1, Qt::LeftButton);
    for (QWidget *w : tiling)
        QVERIFY(w->isEnabled());
}

void MainWindowTest::unitAndPointCountHandlers()
{
    TestProgram dir;
    QVERIFY(dir.make());
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *text4 = control<QLineEdit>(window.get(), "Text4");
    auto *text5 = control<QLineEdit>(window.get(), "Text5");
    text4->setText(QStringLiteral("100.5"));
    text4->show();
    text5->setText(QStringLiteral("P1"));
    text5->show();

    QTest::mouseClick(control<QRadioButton>(window.get(), "Option6"), Qt::LeftButton);
    QCOMPARE(window->session().unit(), QStringLiteral("mm"));
    QVERIFY(text4->isHidden() && text4->text().isEmpty());
    QVERIFY(text5->isHidden() && text5->text().isEmpty());
    QTest::mouseClick(control<QRadioButton>(window.get(), "Option5"), Qt::LeftButton);
    QCOMPARE(window->session().unit(), QStringLiteral("m"));
    // The unit is stored only when the program ends.
    QVERIFY(!storedSetting(dir.sdmx(), QStringLiteral("高程单位")).has_value());

    auto *combo3 = control<QComboBox>(window.get(), "Combo3");
    auto *grid = control<QTableWidget>(window.get(), "Flex1");
    text4->show();
    combo3->setFocus();
    QTest::keyClick(combo3, Qt::Key_End); // the last entry, 150
    QCOMPARE(combo3->currentText(), QStringLiteral("150"));
    QCOMPARE(window->session().pointCount(), 150);
    QCOMPARE(grid->rowCount(), 150);
    QCOMPARE(grid->rowHeight(149), twips(300));
    QVERIFY(text4->isHidden());
    QTest::keyClick(combo3, Qt::Key_Home);
    QCOMPARE(window->session().pointCount(), 15);
    QCOMPARE(grid->rowCount(), 15);
    QVERIFY(!storedSetting(dir.sdmx(), QStringLiteral("支持点数")).has_value());
}

void MainWindowTest::frameTemplateList_data()
{
    QTest::addColumn<std::optional<QString>>("stored");
    QTest::addColumn<QString>("selected");
    QTest::addRow("no setting: first entry") << std::optional<QString>() << "A3";
    QTest::addRow("stored entry") << std::optional<QString>("B4") << "B4";
    QTest::addRow("stored in other case") << std::optional<QString>("b4") << "B4";
    QTest::addRow("stored template gone: first entry") << std::optional<QString>("A0") << "A3";
}

void MainWindowTest::frameTemplateList()
{
    QFETCH(std::optional<QString>, stored);
    QFETCH(QString, selected);
    TestProgram dir;
    QList<std::pair<QString, QString>> settings;
    if (stored)
        settings << std::pair{QStringLiteral("图框模板"), *stored};
    QVERIFY(dir.make(settings));
    QVERIFY(dir.addFile(QStringLiteral("Support/TK/a3/a3.ini"), "[沉降曲线]\r\n"));
    QVERIFY(dir.addFile(QStringLiteral("Support/TK/B4/readme.txt")));
    QVERIFY(dir.addFile(QStringLiteral("Support/TK/曲线图框.dwg")));
    QVERIFY(dir.addFile(QStringLiteral("Support/TK/速率图框.DXF")));

    const auto window = startup(dir.programDir());
    QVERIFY(window);
    auto *combo1 = control<QComboBox>(window.get(), "Combo1");
    QCOMPARE(combo1->count(), 2);
    QCOMPARE(combo1->itemText(0), QStringLiteral("A3"));
    QCOMPARE(combo1->itemText(1), QStringLiteral("B4"));
    QCOMPARE(combo1->currentText(), selected);
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("图框模板")), std::optional(selected));
    // The output button needs the template's layout file (a3/a3.ini for "A3").
    auto *command3 = control<QPushButton>(window.get(), "Command3");
    QCOMPARE(command3->isEnabled(), selected == QLatin1String("A3"));

    combo1->setCurrentIndex(combo1->findText(QStringLiteral("A3")));
    QVERIFY(command3->isEnabled());
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("图框模板")), std::optional<QString>("A3"));
    combo1->setCurrentIndex(combo1->findText(QStringLiteral("B4")));
    QVERIFY(!command3->isEnabled());
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("图框模板")), std::optional<QString>("B4"));
}

void MainWindowTest::tableTemplateList_data()
{
    QTest::addColumn<std::optional<QString>>("stored");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<std::optional<QString>>("storedAfter");
    QTest::addRow("no setting: first entry")
        << std::optional<QString>() << "Other" << std::optional<QString>("Other");
    QTest::addRow("stored entry") << std::optional<QString>("标准") << QStringLiteral("标准")
                                  << std::optional<QString>("标准");
    QTest::addRow("stored in other case")
        << std::optional<QString>("OTHER") << "Other" << std::optional<QString>("Other");
    QTest::addRow("stored template gone: no selection")
        << std::optional<QString>("旧表") << "" << std::optional<QString>("旧表");
}

void MainWindowTest::tableTemplateList()
{
    QFETCH(std::optional<QString>, stored);
    QFETCH(QString, selected);
    QFETCH(std::optional<QString>, storedAfter);
    TestProgram dir;
    QList<std::pair<QString, QString>> settings;
    if (stored)
        settings << std::pair{QStringLiteral("表格模板"), *stored};
    QVERIFY(dir.make(settings));
    QVERIFY(dir.addFile(QStringLiteral("Support/Tab/标准.xlsx")));
    QVERIFY(dir.addFile(QStringLiteral("Support/Tab/Other.XLSX")));
    QVERIFY(dir.addFile(QStringLiteral("Support/Tab/old.xls")));

    const auto window = startup(dir.programDir());
    QVERIFY(window);
    auto *combo2 = control<QComboBox>(window.get(), "Combo2");
    QCOMPARE(combo2->count(), 2);
    QCOMPARE(combo2->currentText(), selected);
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("表格模板")), storedAfter);

    combo2->setCurrentIndex(combo2->findText(QStringLiteral("标准")));
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("表格模板")),
             std::optional<QString>(QStringLiteral("标准")));
}

void MainWindowTest::selectAllOnFocus_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("selectsAll");
    for (const char *box : {"Text1", "Text2", "Text3", "Text6", "Text7", "Text8", "Text10",
                            "Text11", "Text14", "Text15", "Text9"})
        QTest::addRow("%s", box) << box << true;
    for (const char *box : {"Text16", "Text17", "Text22"})
        QTest::addRow("%s", box) << box << false;
}

void MainWindowTest::selectAllOnFocus()
{
    QFETCH(QString, box);
    QFETCH(bool, selectsAll);
    TestProgram dir;
    QVERIFY(dir.make());
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    control<QWidget>(window.get(), "Frame9")->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *edit = window->findChild<QLineEdit *>(box);
    edit->setText(QStringLiteral("12"));
    control<QWidget>(window.get(), "List1")->setFocus();
    QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(4, edit->height() / 2));
    QTRY_VERIFY(edit->hasFocus());
    QTest::qWait(20);
    QCOMPARE(edit->selectedText(), selectsAll ? QStringLiteral("12") : QString());
}

void MainWindowTest::exitStoresFourSettings()
{
    TestProgram dir;
    QVERIFY(dir.make());
    auto window = startup(dir.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTest::mouseClick(control<QRadioButton>(window.get(), "Option6"), Qt::LeftButton);
    auto *combo3 = control<QComboBox>(window.get(), "Combo3");
    combo3->setCurrentIndex(combo3->findText(QStringLiteral("120")));
    auto *text15 = control<QLineEdit>(window.get(), "Text15");
    auto *text14 = control<QLineEdit>(window.get(), "Text14");
    text15->clear();
    QTest::keyClicks(text15, "txt");
    text14->clear();
    typeText(text14, QStringLiteral("宋体's"));

    QTest::mouseClick(control<QPushButton>(window.get(), "Command5"), Qt::LeftButton);
    QVERIFY(!window->isVisible());
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("高程单位")), std::optional<QString>("mm"));
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("支持点数")), std::optional<QString>("120"));
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("字体1")), std::optional<QString>("txt"));
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("字体2")),
             std::optional<QString>(QStringLiteral("宋体's")));

    // The next start comes back with them: 120 points, not 90.
    window.reset();
    const auto again = startup(dir.programDir());
    QVERIFY(again);
    QCOMPARE(again->session().pointCount(), 120);
    QCOMPARE(again->session().unit(), QStringLiteral("mm"));
    QCOMPARE(control<QLineEdit>(again.get(), "Text14")->text(), QStringLiteral("宋体's"));
}

void MainWindowTest::closeBoxStoresFourSettings()
{
    TestProgram dir;
    QVERIFY(dir.make());
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *combo3 = control<QComboBox>(window.get(), "Combo3");
    combo3->setCurrentIndex(combo3->findText(QStringLiteral("45")));
    QVERIFY(window->close());
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("支持点数")), std::optional<QString>("45"));
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("高程单位")), std::optional<QString>("m"));
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("字体1")), std::optional<QString>("Romans"));
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("字体2")), std::optional<QString>("Htj_S"));
}

void MainWindowTest::failedSettingWriteIsReported()
{
    TestProgram dir;
    QVERIFY(dir.make());
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    {
        ExclusiveLock lock(dir.sdmx());
        QVERIFY(lock.locked());
        DialogWatcher watcher(window.get());
        auto *text11 = control<QLineEdit>(window.get(), "Text11");
        text11->setFocus();
        QTest::keyClicks(text11, "7");
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY(watcher.seen()[0].text.contains(QStringLiteral("每行幅数")));
        QVERIFY(watcher.seen()[0].text.contains(QStringLiteral("locked"), Qt::CaseInsensitive));
        QCOMPARE(watcher.seen()[0].icon, QMessageBox::Warning);
    }
    QVERIFY(!storedSetting(dir.sdmx(), QStringLiteral("每行幅数")).has_value());
}

void MainWindowTest::messageMovesWindowAside()
{
    TestProgram dir;
    QVERIFY(dir.make());
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QRect screen = window->screen()->geometry();
    QTRY_COMPARE(window->pos().x(),
                 screen.right() + 1 - window->frameGeometry().width() - twips(300));
    const QPoint home = window->pos();

    // A failed write of a setting is reported through the message helper.
    {
        ExclusiveLock lock(dir.sdmx());
        QVERIFY(lock.locked());
        DialogWatcher watcher(window.get());
        auto *text10 = control<QLineEdit>(window.get(), "Text10");
        text10->setFocus();
        QTest::keyClicks(text10, "3");
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(watcher.seen()[0].title, QStringLiteral("Sedimetra"));
        QCOMPARE(watcher.seen()[0].windowPos, home); // a message box does not move the window
    }
    QCOMPARE(window->pos(), home);
}

void MainWindowTest::placementAndCompactWindow()
{
    TestProgram dir;
    QVERIFY(dir.make());
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QRect screen = window->screen()->geometry();
    auto placed = [&] {
        const QRect frame = window->frameGeometry();
        return frame.left() == screen.right() + 1 - frame.width() - twips(300)
               && frame.top() == screen.bottom() + 1 - frame.height() - twips(800);
    };
    QTRY_VERIFY(placed());

    window->makeCompact();
    auto *command13 = control<QPushButton>(window.get(), "Command13");
    QVERIFY(command13->isVisible());
    QCOMPARE(window->size(), QSize(twips(1815), twips(615)));
    QVERIFY(placed());

    QTest::mouseClick(command13, Qt::LeftButton);
    QVERIFY(command13->isHidden());
    QCOMPARE(window->size(), QSize(twips(11925), twips(6795)));
    QVERIFY(placed());

    // Enlarged and moved by the user, then compact after an output: the
    // button gives back that size and place, with the controls laid out
    // for it (the preview's right edge at the window's).
    auto *preview = window->findChild<QWidget *>("Pic1");
    const QRect enlargedPreview = preview->geometry().adjusted(120, 0, 240, 120);
    const QSize larger = window->size() + QSize(240, 120);
    window->resize(larger);
    window->move(screen.left() + 20, screen.top() + 30);
    QTRY_COMPARE(window->pos(), QPoint(screen.left() + 20, screen.top() + 30));
    QTRY_COMPARE(preview->geometry(), enlargedPreview);
    window->makeCompact();
    QCOMPARE(window->size(), QSize(twips(1815), twips(615)));
    QTest::mouseClick(command13, Qt::LeftButton);
    QCOMPARE(window->size(), larger);
    QTRY_COMPARE(window->pos(), QPoint(screen.left() + 20, screen.top() + 30));
    QCOMPARE(preview->geometry(), enlargedPreview);
    QVERIFY(window->rect().contains(preview->geometry()));
}

void MainWindowTest::headerEditor()
{
    TestProgram dir;
    QVERIFY(dir.make({{QStringLiteral("工程名称"), QStringLiteral("旧名称")}}));
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *frame9 = control<QWidget>(window.get(), "Frame9");
    auto *text9 = control<QLineEdit>(window.get(), "Text9");
    auto *text22 = control<QLineEdit>(window.get(), "Text22");

    QTest::mouseClick(control<QLabel>(window.get(), "Label19"), Qt::LeftButton);
    QVERIFY(frame9->isVisible());
    QCOMPARE(frame9->pos(), QPoint(twips(6120), twips(2880)));
    QCOMPARE(text9->text(), QStringLiteral("旧名称"));
    QCOMPARE(text22->text(), QString());

    text9->selectAll();
    typeText(text9, QStringLiteral("某'楼"));
    QTest::keyClicks(text22, "12.5m abc 1234567890");
    QCOMPARE(text22->text().size(), 16);
    QTest::mouseClick(control<QPushButton>(window.get(), "Command12"), Qt::LeftButton);
    QVERIFY(frame9->isHidden());
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("工程名称")),
             std::optional<QString>(QStringLiteral("旧名称")));

    QTest::mouseClick(control<QLabel>(window.get(), "Label19"), Qt::LeftButton);
    QCOMPARE(text9->text(), QStringLiteral("旧名称"));
    text9->selectAll();
    typeText(text9, QStringLiteral("某'楼"));
    QTest::keyClicks(text22, "abc");
    QTest::mouseClick(control<QPushButton>(window.get(), "Command11"), Qt::LeftButton);
    QVERIFY(frame9->isHidden());
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("工程名称")),
             std::optional<QString>(QStringLiteral("某'楼")));
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("起算高程")), std::optional<QString>("abc"));
    QCOMPARE(storedSetting(dir.sdmx(), QStringLiteral("结构形式")), std::optional<QString>(""));
}

void MainWindowTest::growsWithTheWindow()
{
    // The designed size is the smallest; made larger, the grid and the
    // preview share the width and both take the height.
    TestProgram dir;
    QVERIFY(dir.make());
    const auto window = startup(dir.programDir());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QSize designed = window->size();
    QCOMPARE(window->minimumSize(), designed);
    const auto geometryOf = [&](const char *name) { return window->findChild<QWidget *>(name)->geometry(); };
    const QRect grid = geometryOf("Flex1"), preview = geometryOf("Pic1"), output = geometryOf("Command3");
    const QRect zoom = geometryOf("Command8");
    const int elevationColumn = window->findChild<QTableWidget *>("Flex1")->columnWidth(2);
    window->resize(designed + QSize(300, 150));
    QTRY_COMPARE(geometryOf("Flex1"), grid.adjusted(0, 0, 150, 150));
    QCOMPARE(geometryOf("Pic1"), preview.adjusted(150, 0, 300, 150));
    QCOMPARE(geometryOf("Command3"), output.translated(150, 150));
    QCOMPARE(geometryOf("Command8"), zoom.translated(150, 0));
    QCOMPARE(window->findChild<QTableWidget *>("Flex1")->columnWidth(2), elevationColumn + 75);
    QCOMPARE(window->findChild<QTableWidget *>("Flex1")->horizontalHeader()->sectionResizeMode(2),
             QHeaderView::Interactive);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
