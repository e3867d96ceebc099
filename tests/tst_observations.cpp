#include "gui/mainwindow.h"
#include "gui/session.h"
#include "gui/startup.h"
#include "project/projectdb.h"
#include "gui/observationgrid.h"
#include "windowsupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QContextMenuEvent>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <cmath>

using namespace testsupport;

namespace {

QTableWidget *grid(QWidget *window)
{
    return control<QTableWidget>(window, "Flex1");
}

QString cell(QWidget *window, int row, int column)
{
    const QTableWidgetItem *item = grid(window)->item(row - 1, column);
    return item ? item->text() : QString();
}

// Clicks the cell of data row `row`, scrolling it into view first.
void clickCell(QWidget *window, int row, int column)
{
    QTableWidget *table = grid(window);
    const QModelIndex index = table->model()->index(row - 1, column);
    table->scrollTo(index);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(index).center());
}

void replaceText(QLineEdit *box, const QString &text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    typeText(box, text);
}

void enter(QWidget *box)
{
    QTest::keyClick(box, Qt::Key_Return);
}

// What an elevation record holds, read by Python's sqlite3.
QString storedElevation(const QString &project, int cjNo, int cjdNo)
{
    return QString::fromUtf8(runPython(
        QStringLiteral("import sqlite3, sys\n"
                       "r = sqlite3.connect(sys.argv[1]).execute('SELECT PointH FROM Sur2 "
                       "WHERE CjNo=? AND CjdNo=?', (int(sys.argv[2]), int(sys.argv[3])))"
                       ".fetchall()\n"
                       "print('none' if not r else repr(r[0][0]) if len(r) == 1 else 'many')"),
        {project, QString::number(cjNo), QString::number(cjdNo)}));
}

// Runs the action `text` of the menu of cell (row, column), telling
// whether it was enabled; `inDialog` is run in a dialog the action opens.
void cellMenu(QWidget *window, int row, int column, const QString &text, bool *enabled,
              const std::function<void(QDialog *)> &inDialog = {})
{
    QTableWidget *table = grid(window);
    *enabled = false;
    bool found = false;
    QTimer::singleShot(0, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction *action : menu->actions())
            if (action->text() == text) {
                found = true;
                *enabled = action->isEnabled();
                if (inDialog)
                    QTimer::singleShot(0, [&] {
                        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                        QVERIFY(dialog);
                        inDialog(dialog);
                    });
                menu->close();
                if (*enabled)
                    action->trigger();
                return;
            }
        menu->close();
    });
    const QModelIndex index = table->model()->index(row - 1, column);
    emit table->customContextMenuRequested(table->visualRect(index).center());
    QVERIFY2(found, qPrintable(text));
}

// The history table of the 高程来历 dialog: "how old→new" a row.
QStringList historyShown(QDialog *dialog)
{
    auto *table = dialog->findChild<QTableWidget *>(QStringLiteral("HistoryTable"));
    QStringList rows;
    for (int r = 0; r < table->rowCount(); ++r)
        rows << table->item(r, 2)->text() + QLatin1Char(' ') + table->item(r, 4)->text() + QStringLiteral("→")
                    + table->item(r, 5)->text();
    return rows;
}

// The shown forms, computed here the plain way: round half away from zero
// at the given decimals of the value in the shown unit.
QString fixed(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(value * scale) / scale;
    QString text = QString::number(rounded == 0 ? 0.0 : rounded, 'f', decimals);
    return text;
}

// Whether the elevation cell of data row `row` is marked as questionable.
bool markedQuestionable(QWidget *window, int row, int column)
{
    const QTableWidgetItem *item = grid(window)->item(row - 1, column);
    return item && item->toolTip().contains(QStringLiteral("可疑，未核对"))
           && item->data(Qt::BackgroundRole).isValid();
}

// The history rows of one epoch, "kind point value", read by Python.
QStringList historyOfEpoch(const QString &project, int cjNo)
{
    return QString::fromUtf8(runPython(QStringLiteral("import sqlite3, sys\n"
                                                      "for k, n, v in sqlite3.connect(sys.argv[1]).execute("
                                                      "'SELECT Kind, CjdNo, NewValue FROM History WHERE CjNo=? "
                                                      "ORDER BY Id', (int(sys.argv[2]),)):\n"
                                                      "    print(k, n, repr(v))"),
                                       {project, QString::number(cjNo)}))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}


struct TestSession : WindowSession
{
    // Starts the program and makes a new project through the window.
    bool start(const QList<std::pair<QString, QString>> &settings = {})
    {
        if (!program.make(settings))
            return false;
        window = startup(program.programDir());
        if (!window || !QTest::qWaitForWindowExposed(window.get()))
            return false;
        project = program.projects() + QStringLiteral("楼.mdb");
        DialogWatcher watcher(window.get());
        watcher.queueFile(project);
        click(window.get(), "Command6");
        // What the window does once the project is shown (its record checked).
        QCoreApplication::processEvents();
        return window->session().projectPath() == project;
    }

    void addEpoch(const QString &date, const QString &name, const QString &layers)
    {
        replaceText(control<QLineEdit>(window.get(), "Text1"), date);
        replaceText(control<QLineEdit>(window.get(), "Text2"), name);
        replaceText(control<QLineEdit>(window.get(), "Text3"), layers);
        click(window.get(), "Command1");
    }

    void setPointCount(int count)
    {
        auto *combo = control<QComboBox>(window.get(), "Combo3");
        combo->setCurrentIndex(combo->findText(QString::number(count)));
    }
};

} // namespace

class ObservationsTest : public QObject
{
    Q_OBJECT
private slots:
    void elevationHistoryAndUndo();
    void anElevationWithoutHistory();
    void dateTypedKeyByKey_data();
    void dateTypedKeyByKey();
    void epochsAddedAndRefused();
    void pastedEpochFieldsChecked();
    void modifyEpoch();
    void noProjectMessage();
    void elevationsTypedDownTheColumn();
    void quantitiesMatchAnIndependentComputation_data();
    void quantitiesMatchAnIndependentComputation();
    void clearingACellDeletesTheRecord();
    void editableColumnFollowsTheEpoch();
    void elevationKeysAndPastedText();
    void pointNames();
    void nameRowScrolling();
    void openRowStaysInView();
    void malformedStoredDateShowsNoRate();
    void failedWriteShowsWhatIsStored();
    void openBoxGoesToItsOwnEpoch();
    void everyWayOutOfABoxKeepsWhatWasTyped();
    void aMissedEpochGoesInItsPlace();
    void datesAsPeopleWriteThem_data();
    void datesAsPeopleWriteThem();
    void typingReplacesTheSelection();
    void impossibleAndOutOfOrderDates();
    void wideFiguresElidedWithTheirTooltip();
    void aSecondPointOfOneNameIsAsked();
    void oddValuesAreMarkedNotAsked();
    void aBurstWithASlipLandsOnItsPoints_data();
    void aBurstWithASlipLandsOnItsPoints();
    void removingAnEpochAndAPoint();
};

void ObservationsTest::dateTypedKeyByKey_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addRow("whole date") << "2018-07-10"
                                << "2018-07-10";
    QTest::addRow("refused month tens, dashes and day tens") << "2018-2-07-4-10"
                                                             << "2018-07-10";
    QTest::addRow("fifth year digit") << "20181-07-10"
                                      << "2018-07-10";
    QTest::addRow("month 1 then 3 refused, day 3 then 2 refused") << "2018-13-0-32-1"
                                                                  << "2018-10-31";
    QTest::addRow("letters and blanks, a third dash") << "2o18 -07-10-"
                                                      << "2180-10-";
}

void ObservationsTest::dateTypedKeyByKey()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    TestSession session;
    QVERIFY(session.start());
    auto *date = control<QLineEdit>(session.window.get(), "Text1");
    QTest::mouseClick(date, Qt::LeftButton);
    QTest::keyClick(date, Qt::Key_End);
    for (int i = 0; i < 12; ++i)
        QTest::keyClick(date, Qt::Key_Backspace);
    QCOMPARE(date->text(), QString());
    typeText(date, typed);
    QCOMPARE(date->text(), shown);
}

void ObservationsTest::epochsAddedAndRefused()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    auto *list = control<QListWidget>(window, "List1");

    session.addEpoch("2018-07-10", QStringLiteral("首次"), "2");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), QStringLiteral("0.首次"));
    QCOMPARE(window->session().currentEpoch(), 0);
    session.addEpoch("2018-08-09", "b.2", "3");
    QCOMPARE(list->item(1)->text(), "1.b.2");
    QCOMPARE(list->currentRow(), 1);
    QCOMPARE(window->session().currentEpoch(), 1);
    QVERIFY(control<QPushButton>(window, "Command2")->isEnabled());

    {
        DialogWatcher watcher(window);
        session.addEpoch("2018-07-10", QStringLiteral("新"), "4");
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(watcher.seen()[0].text, QStringLiteral("“2018-07-10”日期已存在，请修改！"));
        QCOMPARE(watcher.seen()[0].title, QStringLiteral("Sedimetra"));
        QCOMPARE(window->focusWidget(), control<QLineEdit>(window, "Text1"));
    }
    {
        DialogWatcher watcher(window);
        session.addEpoch("2018-09-01", "B.2", "4"); // names compare without regard to case
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(watcher.seen()[0].text, QStringLiteral("“B.2”名称已存在，请修改！"));
        QCOMPARE(window->focusWidget(), control<QLineEdit>(window, "Text2"));
    }
    QCOMPARE(list->count(), 2);
    {
        // An empty box stops without a message.
        DialogWatcher watcher(window);
        replaceText(control<QLineEdit>(window, "Text3"), QString());
        click(window, "Command1");
        QVERIFY(watcher.seen().isEmpty());
    }
    ProjectDatabase reader;
    QVERIFY(reader.open(session.project));
    const auto epochs = must(reader.epochs());
    QCOMPARE(epochs.size(), size_t(2));
    QCOMPARE(epochs[1].date, QStringLiteral("2018-08-09"));
    QCOMPARE(epochs[1].name, QStringLiteral("b.2"));
    QCOMPARE(epochs[1].layers, QStringLiteral("3"));
}

void ObservationsTest::pastedEpochFieldsChecked()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    auto *date = control<QLineEdit>(window, "Text1");
    auto *name = control<QLineEdit>(window, "Text2");
    auto *layers = control<QLineEdit>(window, "Text3");

    // Pasted text is not filtered by the keys; it is checked before writing.
    date->setText("2018/07-10");
    name->setText("A");
    layers->setText("1");
    click(window, "Command1");
    QCOMPARE(window->focusWidget(), date);
    QCOMPARE(control<QListWidget>(window, "List1")->count(), 0);

    date->setText("2018-07-10");
    name->setText("A B");
    click(window, "Command1");
    QCOMPARE(window->focusWidget(), name);
    QCOMPARE(control<QListWidget>(window, "List1")->count(), 0);

    name->setText("it's");
    layers->setText("5a"); // stored as typed by a new observation
    click(window, "Command1");
    QCOMPARE(control<QListWidget>(window, "List1")->count(), 1);
    ProjectDatabase reader;
    QVERIFY(reader.open(session.project));
    QCOMPARE(must(reader.epochByName("IT'S"))->layers, QStringLiteral("5a"));
}

void ObservationsTest::modifyEpoch()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.addEpoch("2018-07-10", "A", "2");
    session.addEpoch("2018-08-09", "B.2", "3");
    auto *list = control<QListWidget>(window, "List1");
    auto *date = control<QLineEdit>(window, "Text1");
    auto *name = control<QLineEdit>(window, "Text2");
    auto *layers = control<QLineEdit>(window, "Text3");
    ProjectDatabase reader;
    QVERIFY(reader.open(session.project));

    replaceText(layers, "7");
    click(window, "Command2");
    QCOMPARE(must(reader.epochByNumber(1))->layers, QStringLiteral("7"));
    QCOMPARE(list->item(1)->text(), "1.B.2");

    replaceText(name, "C.3");
    replaceText(date, "2018-08-19");
    click(window, "Command2");
    QCOMPARE(list->item(1)->text(), "1.C.3");
    QCOMPARE(must(reader.epochByNumber(1))->name, QStringLiteral("C.3"));
    QCOMPARE(must(reader.epochByNumber(1))->date, QStringLiteral("2018-08-19"));
    QCOMPARE(window->session().currentEpoch(), 1);

    // Only the letter case changes: the epoch is no rival of itself.
    replaceText(name, "c.3");
    click(window, "Command2");
    QCOMPARE(list->item(1)->text(), "1.c.3");

    {
        DialogWatcher watcher(window);
        replaceText(name, "a");
        click(window, "Command2");
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(watcher.seen()[0].text, QStringLiteral("“a”名称已存在，请修改！"));
    }
    {
        DialogWatcher watcher(window);
        replaceText(name, "c.3");
        replaceText(date, "2018-07-10");
        click(window, "Command2");
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(watcher.seen()[0].text, QStringLiteral("“2018-07-10”日期已存在，请修改！"));
    }
    replaceText(date, "2018-08-19");
    layers->setText("x1"); // pasted: modify refuses it silently
    click(window, "Command2");
    QCOMPARE(window->focusWidget(), layers);
    QCOMPARE(must(reader.epochByNumber(1))->layers, QStringLiteral("7"));
    QCOMPARE(must(reader.epochs()).size(), size_t(2));
}

void ObservationsTest::noProjectMessage()
{
    TestProgram program;
    QVERIFY(program.make());
    const auto window = startup(program.programDir());
    QVERIFY(window);
    for (const char *button : {"Command1", "Command2"}) {
        DialogWatcher watcher(window.get());
        control<QPushButton>(window.get(), "Command2")->setEnabled(true);
        click(window.get(), button);
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(watcher.seen()[0].text, QStringLiteral("请先新建或打开沉降工程文件！"));
    }
}

void ObservationsTest::elevationsTypedDownTheColumn()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.setPointCount(30);
    session.addEpoch("2018-07-10", "A", "1");
    auto *box = control<QLineEdit>(window, "Text4");

    clickCell(window, 1, 1);
    QVERIFY(box->isVisible());
    QCOMPARE(window->grid().editRow(), 1);
    for (int row = 1; row <= 14; ++row) {
        typeText(box, QString::number(100 + row) + ".5");
        enter(box);
    }
    QCOMPARE(cell(window, 1, 1), "101.50000");
    QCOMPARE(storedElevation(session.project, 0, 1), "101.5");
    QCOMPARE(window->grid().editRow(), 15);
    QCOMPARE(window->grid().topRow(), 10); // row 15 brings row 10 to the top
    const QRect row15 = grid(window)->visualRect(grid(window)->model()->index(14, 1));
    QCOMPARE(box->pos(), grid(window)->viewport()->mapTo(window, row15.topLeft()));
    for (int row = 15; row <= 30; ++row) {
        typeText(box, QString::number(200 + row));
        enter(box);
    }
    QCOMPARE(window->grid().editRow(), 1); // after the last row, the first
    QCOMPARE(window->grid().topRow(), 1);
    QCOMPARE(box->text(), "101.50000");
    QCOMPARE(box->selectedText(), box->text());
    QCOMPARE(storedElevation(session.project, 0, 30), "230.0");

    // Millimetres: the same metres shown times 1000, typed in millimetres.
    QTest::mouseClick(control<QRadioButton>(window, "Option6"), Qt::LeftButton);
    QCOMPARE(cell(window, 1, 1), "101500.00");
    clickCell(window, 2, 1);
    typeText(box, "100500");
    enter(box);
    QCOMPARE(cell(window, 2, 1), "100500.00");
    QCOMPARE(storedElevation(session.project, 0, 2), "100.5");
}

void ObservationsTest::quantitiesMatchAnIndependentComputation_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addRow("metres") << "m";
    QTest::addRow("millimetres") << "mm";
}

void ObservationsTest::quantitiesMatchAnIndependentComputation()
{
    QFETCH(QString, unit);
    TestSession session;
    QVERIFY(session.start({{QStringLiteral("高程单位"), unit}}));
    MainWindow *window = session.window.get();
    session.addEpoch("2018-07-10", "A", "1");
    session.addEpoch("2018-07-20", "B", "2");
    session.addEpoch("2018-08-09", "C", "3");
    const double scale = unit == QLatin1String("mm") ? 1000 : 1;
    const int decimals = unit == QLatin1String("mm") ? 2 : 5;
    // first, second and third epoch of points 1 to 5; 0 marks no value.
    const double h[5][3] = {{100.0, 99.998, 99.9965},
                            {50.12345, 50.12001, 50.11871},
                            {0, 80.0, 79.9991},
                            {120.5, 0, 120.4973},
                            {10.0, 9.99, 0}};
    auto *box = control<QLineEdit>(window, "Text4");
    const int days[] = {0, 10, 20};
    for (int epoch = 0; epoch < 3; ++epoch) {
        control<QListWidget>(window, "List1")->setCurrentRow(epoch);
        clickCell(window, 1, epoch == 0 ? 1 : 2);
        for (int n = 0; n < 5; ++n) {
            if (h[n][epoch] != 0)
                typeText(box, QString::number(h[n][epoch] * scale, 'f', decimals));
            enter(box);
        }
    }
    // The grid as the third epoch is selected afresh, and as it stood after
    // typing, must both agree with the plain computation.
    control<QListWidget>(window, "List1")->setCurrentRow(0);
    control<QListWidget>(window, "List1")->setCurrentRow(2);
    for (int n = 0; n < 5; ++n) {
        const double h0 = h[n][0], hp = h[n][1], hc = h[n][2];
        const int row = n + 1;
        QCOMPARE(cell(window, row, 1), h0 ? fixed(h0 * scale, decimals) : QString());
        QCOMPARE(cell(window, row, 2), hc ? fixed(hc * scale, decimals) : QString());
        QCOMPARE(cell(window, row, 3), hc && hp ? fixed((hc - hp) * 1000, 2) : QString());
        QCOMPARE(cell(window, row, 4), hc && h0 ? fixed((hc - h0) * 1000, 2) : QString());
        QCOMPARE(cell(window, row, 5), hc && hp ? fixed((hc - hp) / days[2] * 1000, 3) : QString());
    }
    QCOMPARE(cell(window, 1, 3), "-1.50");
    QCOMPARE(cell(window, 1, 4), "-3.50");
    QCOMPARE(cell(window, 1, 5), "-0.075");
}

void ObservationsTest::elevationHistoryAndUndo()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.addEpoch("2018-07-10", "A", "1");
    auto *box = control<QLineEdit>(window, "Text4");
    for (const char *typed : {"100", "100.004"}) {
        clickCell(window, 1, 1);
        replaceText(box, QString::fromLatin1(typed));
        enter(box);
    }
    QCOMPARE(storedElevation(session.project, 0, 1), "100.004");
    bool enabled = false;
    {
        DialogWatcher watcher(window);
        watcher.setMessageAnswer(QMessageBox::Yes);
        cellMenu(window, 1, 1, QStringLiteral("撤销修改"), &enabled);
        QVERIFY(enabled);
        QCOMPARE(watcher.seen().size(), 1);
    }
    QCOMPARE(storedElevation(session.project, 0, 1), "100.0");
    QCOMPARE(cell(window, 1, 1), "100.00000");
    QStringList rows;
    QString origin;
    cellMenu(window, 1, 1, QStringLiteral("高程来历…"), &enabled, [&](QDialog *dialog) {
        rows = historyShown(dialog);
        origin = dialog->findChild<QLabel *>(QStringLiteral("OriginText"))->text();
        dialog->reject();
    });
    QCOMPARE(rows, QStringList({"键入 —→100.00000 m", "键入 100.00000 m→100.00400 m",
                                "撤销修改 100.00400 m→100.00000 m"}));
    QVERIFY2(origin.startsWith(QStringLiteral("来历：撤销修改")), qPrintable(origin));
}

void ObservationsTest::anElevationWithoutHistory()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.addEpoch("2018-07-10", "A", "1");
    bool enabled = true;
    cellMenu(window, 1, 1, QStringLiteral("撤销修改"), &enabled);
    QVERIFY(!enabled);
    QStringList rows{QStringLiteral("unread")};
    QString origin;
    cellMenu(window, 1, 1, QStringLiteral("高程来历…"), &enabled, [&](QDialog *dialog) {
        rows = historyShown(dialog);
        origin = dialog->findChild<QLabel *>(QStringLiteral("OriginText"))->text();
        QVERIFY(!dialog->findChild<QPushButton *>(QStringLiteral("SaveSource"))->isEnabled());
        dialog->reject();
    });
    QVERIFY(rows.isEmpty());
    QVERIFY2(origin.contains(QStringLiteral("未记录")), qPrintable(origin));
}

void ObservationsTest::clearingACellDeletesTheRecord()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.addEpoch("2018-07-10", "A", "1");
    auto *box = control<QLineEdit>(window, "Text4");
    clickCell(window, 1, 1);
    typeText(box, "100");
    enter(box);
    session.addEpoch("2018-07-20", "B", "1");
    clickCell(window, 1, 2);
    typeText(box, "99.99");
    enter(box);
    QCOMPARE(cell(window, 1, 4), "-10.00");
    QCOMPARE(storedElevation(session.project, 1, 1), "99.99");

    clickCell(window, 1, 2);
    QCOMPARE(box->selectedText(), "99.99000");
    QTest::keyClick(box, Qt::Key_Backspace);
    enter(box);
    QCOMPARE(storedElevation(session.project, 1, 1), "none");
    for (int column = 2; column <= 5; ++column)
        QCOMPARE(cell(window, 1, column), QString());
    QCOMPARE(cell(window, 1, 1), "100.00000");

    // Typing 0 stores 0, and the row shows right after Enter what a fresh
    // fill of the epoch shows: one value, one answer.
    clickCell(window, 1, 2);
    typeText(box, "0");
    {
        // 100 m to 0 is stored and marked, not asked about.
        DialogWatcher watcher(window);
        enter(box);
        QCOMPARE(watcher.seen().size(), 0);
    }
    QCOMPARE(storedElevation(session.project, 1, 1), "0.0");
    QVERIFY(markedQuestionable(window, 1, 2));
    QCOMPARE(cell(window, 1, 2), "0.00000");
    QCOMPARE(cell(window, 1, 4), QString());
    {
        // Leaving the epoch lists it; left for later.
        DialogWatcher watcher(window);
        control<QListWidget>(window, "List1")->setCurrentRow(0);
        QCOMPARE(watcher.seen().size(), 1);
    }
    control<QListWidget>(window, "List1")->setCurrentRow(1);
    QCOMPARE(cell(window, 1, 2), "0.00000");
    QCOMPARE(cell(window, 1, 4), QString());
}

void ObservationsTest::editableColumnFollowsTheEpoch()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    auto *box = control<QLineEdit>(window, "Text4");
    clickCell(window, 3, 1); // no epoch yet: nothing opens
    QVERIFY(!box->isVisible());
    session.addEpoch("2018-07-10", "A", "1");
    clickCell(window, 3, 1);
    QVERIFY(box->isVisible());
    clickCell(window, 3, 2);
    QVERIFY(!box->isVisible());
    session.addEpoch("2018-07-20", "B", "1");
    clickCell(window, 3, 2);
    QVERIFY(box->isVisible());
    QCOMPARE(window->grid().editColumn(), 2);
    clickCell(window, 3, 1);
    QVERIFY(!box->isVisible());
    QCOMPARE(window->grid().editRow(), 0);
}

void ObservationsTest::elevationKeysAndPastedText()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.addEpoch("2018-07-10", "A", "1");
    auto *box = control<QLineEdit>(window, "Text4");
    clickCell(window, 1, 1);
    typeText(box, "1a2.3.4-5 ");
    QCOMPARE(box->text(), "12.345");

    for (const char *pasted : {".", "abc", "1.2.3"}) {
        DialogWatcher watcher(window);
        box->setText(QString::fromLatin1(pasted));
        enter(box);
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY(watcher.seen()[0].text.contains(QString::fromLatin1(pasted)));
        QCOMPARE(storedElevation(session.project, 0, 1), "none");
        QCOMPARE(window->grid().editRow(), 1);
    }
    box->setText("12.");
    enter(box);
    QCOMPARE(storedElevation(session.project, 0, 1), "12.0");
    QCOMPARE(cell(window, 1, 1), "12.00000");
}

void ObservationsTest::pointNames()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    auto *box = control<QLineEdit>(window, "Text5");
    clickCell(window, 1, 0);
    QVERIFY(box->isVisible());
    QCOMPARE(box->width(), grid(window)->columnWidth(0));
    QCOMPARE(box->x(), grid(window)->x());
    typeText(box, "ja1 :b'\"");
    QCOMPARE(box->text(), "jA1B"); // the first character of an empty box is not filtered
    enter(box);
    QCOMPARE(cell(window, 1, 0), "jA1B");
    QCOMPARE(window->grid().nameRow(), 2);

    const int expectedAci[] = {5, 6, 3, 4, 1, 11, 5};
    const QColor expectedColour[] = {
        QColor(0, 0, 255), QColor(255, 0, 255),   QColor(0, 255, 0), QColor(0, 255, 255),
        QColor(255, 0, 0), QColor(255, 127, 127), QColor(0, 0, 255)};
    const char *expectedMark[] = {"菱形", "正方形", "叉叉", "圆形", "三角形", "长方形", "菱形"};
    for (int row = 2; row <= 7; ++row) {
        typeText(box, QStringLiteral("P") + QString::number(row) + QStringLiteral("沉"));
        enter(box);
    }
    ProjectDatabase reader;
    QVERIFY(reader.open(session.project));
    for (int row = 1; row <= 7; ++row) {
        const auto point = must(reader.pointByNumber(row));
        QVERIFY(point);
        QCOMPARE(point->aci, expectedAci[row - 1]);
        QCOMPARE(point->mark, QString::fromUtf8(expectedMark[row - 1]));
        QCOMPARE(grid(window)->item(row - 1, 0)->foreground().color(), expectedColour[row - 1]);
    }
    QCOMPARE(must(reader.pointByNumber(7))->name, QStringLiteral("P7沉"));

    // Naming a named point again only renames it.
    clickCell(window, 6, 0);
    QCOMPARE(box->selectedText(), QStringLiteral("P6沉"));
    typeText(box, "x"); // replaces the selected name: the box was not empty
    QCOMPARE(box->text(), "X");
    typeText(box, "y");
    enter(box);
    QCOMPARE(must(reader.pointByNumber(6))->name, "XY");
    QCOMPARE(must(reader.pointByNumber(6))->aci, 11);
    QCOMPARE(grid(window)->item(5, 0)->foreground().color(), QColor(255, 127, 127));

    // Pasted characters the keys refuse are refused on Enter.
    {
        DialogWatcher watcher(window);
        box->setText("A B");
        enter(box);
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY(!must(reader.pointByNumber(7))->name.contains(' '));
        QCOMPARE(window->grid().nameRow(), 7);
    }
    // Enter in an empty box does nothing.
    box->clear();
    enter(box);
    QCOMPARE(window->grid().nameRow(), 7);
}

void ObservationsTest::nameRowScrolling()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.setPointCount(30);
    auto *box = control<QLineEdit>(window, "Text5");

    clickCell(window, 14, 0);
    QCOMPARE(window->grid().topRow(), 1);
    typeText(box, "A14");
    enter(box);
    QCOMPARE(window->grid().nameRow(), 15);
    QCOMPARE(window->grid().topRow(), 10);

    window->grid().setTopRow(1);
    clickCell(window, 15, 0);
    QCOMPARE(window->grid().topRow(), 1);
    typeText(box, "A15");
    enter(box);
    QCOMPARE(window->grid().nameRow(), 16);
    QCOMPARE(window->grid().topRow(), 10);

    clickCell(window, 30, 0);
    typeText(box, "A30");
    enter(box);
    QCOMPARE(window->grid().nameRow(), 1);
    QCOMPARE(window->grid().topRow(), 1);

    // Row 5 leaves the view where it is.
    clickCell(window, 4, 0);
    typeText(box, "A4");
    enter(box);
    QCOMPARE(window->grid().nameRow(), 5);
    QCOMPARE(window->grid().topRow(), 1);
}

void ObservationsTest::openRowStaysInView()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.setPointCount(60);
    session.addEpoch("2018-07-10", "A", "1");
    auto *box = control<QLineEdit>(window, "Text4");
    clickCell(window, 3, 1);
    grid(window)->verticalScrollBar()->setValue(30); // the user scrolls far down
    QVERIFY(window->grid().topRow() <= 3);
    QVERIFY(window->grid().topRow() + 14 >= 3);
    const QRect row3 = grid(window)->visualRect(grid(window)->model()->index(2, 1));
    QCOMPARE(box->pos(), grid(window)->viewport()->mapTo(window, row3.topLeft()));
}

void ObservationsTest::malformedStoredDateShowsNoRate()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.addEpoch("2018-07-10", "A", "1");
    session.addEpoch("2018-07-20", "B", "1");
    {
        // A project edited elsewhere: a date without its dashes.
        ProjectDatabase other;
        QVERIFY(other.open(session.project));
        QVERIFY(other.updateEpoch({1, "20180720", "B", "1"}));
        QVERIFY(other.setElevation(0, 1, 100.0));
        QVERIFY(other.setElevation(1, 1, 99.99));
    }
    control<QListWidget>(window, "List1")->setCurrentRow(0);
    control<QListWidget>(window, "List1")->setCurrentRow(1);
    QCOMPARE(cell(window, 1, 3), "-10.00");
    QCOMPARE(cell(window, 1, 4), "-10.00");
    QCOMPARE(cell(window, 1, 5), QString());
}

void ObservationsTest::failedWriteShowsWhatIsStored()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.addEpoch("2018-07-10", "A", "1");
    auto *box = control<QLineEdit>(window, "Text4");
    clickCell(window, 1, 1);
    typeText(box, "100");
    enter(box);
    clickCell(window, 1, 1);
    typeText(box, "101");
    {
        ExclusiveLock lock(session.project);
        QVERIFY(lock.locked());
        DialogWatcher watcher(window);
        enter(box);
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY(watcher.seen()[0].text.startsWith(QStringLiteral("无法保存到沉降工程：")));
    }
    QCOMPARE(cell(window, 1, 1), "100.00000"); // what the project holds
    QCOMPARE(box->text(), "101");              // what was typed, still there
    QCOMPARE(window->grid().editRow(), 1);
    enter(box);
    QCOMPARE(storedElevation(session.project, 0, 1), "101.0");
}

void ObservationsTest::openBoxGoesToItsOwnEpoch()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.addEpoch("2018-07-10", "A", "1");
    session.addEpoch("2018-07-20", "B", "2");
    auto *list = control<QListWidget>(window, "List1");
    auto *box = control<QLineEdit>(window, "Text4");
    list->setCurrentRow(0);
    clickCell(window, 1, 1);
    typeText(box, "100.5");
    enter(box);
    QCOMPARE(storedElevation(session.project, 0, 1), "100.5");

    // Epoch 1's box, typed into and left by selecting epoch 0: the value is
    // epoch 1's, and epoch 0's first elevation stays.
    list->setCurrentRow(1);
    clickCell(window, 1, 2);
    QVERIFY(box->isVisible());
    typeText(box, "100.49");
    list->setCurrentRow(0);
    QVERIFY(!box->isVisible());
    QCOMPARE(storedElevation(session.project, 0, 1), "100.5");
    QCOMPARE(storedElevation(session.project, 1, 1), "100.49");
    QCOMPARE(cell(window, 1, 1), "100.50000");
    // Enter after the change of epoch writes nothing anywhere.
    enter(box);
    QCOMPARE(storedElevation(session.project, 0, 1), "100.5");

    // What no key could type is asked about: "否" goes back to the box, its
    // text and its epoch; "是" drops it. Nothing is written either way.
    list->setCurrentRow(1);
    clickCell(window, 2, 2);
    box->setText(QStringLiteral("1-2"));
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        DialogWatcher watcher(window);
        watcher.setMessageAnswer(answer);
        list->setCurrentRow(0);
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY2(watcher.seen()[0].text.contains(QStringLiteral("不是高程")), qPrintable(watcher.seen()[0].text));
        QCOMPARE(box->isVisible(), answer == QMessageBox::No);
        QCOMPARE(list->currentRow(), answer == QMessageBox::No ? 1 : 0);
        QCOMPARE(storedElevation(session.project, 1, 2), "none");
    }
}

void ObservationsTest::everyWayOutOfABoxKeepsWhatWasTyped()
{
    // Typed, then left by a click on another cell of the column, on another
    // column, by a command, and by closing the window: each value is in the
    // project, read by another program.
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    auto *box = control<QLineEdit>(window, "Text4");
    auto *names = control<QLineEdit>(window, "Text5");
    session.addEpoch("2018-07-10", "A", "1");
    clickCell(window, 1, 1);
    typeText(box, "10.5");
    clickCell(window, 2, 1);
    QCOMPARE(storedElevation(session.project, 0, 1), "10.5");
    QCOMPARE(cell(window, 1, 1), "10.50000");
    typeText(box, "10.52");
    clickCell(window, 3, 4);
    QCOMPARE(storedElevation(session.project, 0, 2), "10.52");
    clickCell(window, 1, 0);
    typeText(names, "J1");
    clickCell(window, 2, 3);
    QCOMPARE(cell(window, 1, 0), "J1");
    clickCell(window, 3, 1);
    typeText(box, "10.54");
    session.addEpoch("2018-07-20", "B", "2");
    QCOMPARE(storedElevation(session.project, 0, 3), "10.54");
    clickCell(window, 4, 2);
    typeText(box, "10.56");
    window->close();
    QCOMPARE(storedElevation(session.project, 1, 4), "10.56");
    const QString name = QString::fromUtf8(runPython(
        QStringLiteral("import sqlite3, sys\n"
                       "print(sqlite3.connect(sys.argv[1]).execute('SELECT PointName FROM Sur3 WHERE CjdNo=1')"
                       ".fetchone()[0])"),
        {session.project}));
    QCOMPARE(name, "J1");
}

void ObservationsTest::aMissedEpochGoesInItsPlace()
{
    // Epochs of 07-10 and 07-30, then the forgotten one of 07-20: in date
    // order, the later epoch compared with it, its own elevations kept.
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    auto *list = control<QListWidget>(window, "List1");
    auto *box = control<QLineEdit>(window, "Text4");
    session.addEpoch("2018-07-10", "A", "1");
    clickCell(window, 1, 1);
    typeText(box, "10");
    enter(box);
    session.addEpoch("2018-07-30", "C", "3");
    clickCell(window, 1, 2);
    typeText(box, "9.998");
    enter(box);
    {
        DialogWatcher watcher(window);
        watcher.setMessageAnswer(QMessageBox::No);
        session.addEpoch("2018-07-20", "B", "2");
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY2(watcher.seen()[0].text.contains(QStringLiteral("排在“A”（2018-07-10）之后、“C”（2018-07-30）之前")),
                 qPrintable(watcher.seen()[0].text));
        QCOMPARE(list->count(), 2); // "返回修改": nothing added
    }
    {
        DialogWatcher watcher(window);
        watcher.setMessageAnswer(QMessageBox::Yes);
        click(window, "Command1");
        QCOMPARE(watcher.seen().size(), 1);
    }
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(1)->text(), "1.B");
    QCOMPARE(list->item(2)->text(), "2.C");
    QCOMPARE(list->currentRow(), 1);
    QCOMPARE(storedElevation(session.project, 2, 1), "9.998");
    QCOMPARE(storedElevation(session.project, 1, 1), "none");
    clickCell(window, 1, 2);
    typeText(box, "9.999");
    enter(box);
    // C shows its settlement since B, over 10 days.
    list->setCurrentRow(2);
    QCOMPARE(cell(window, 1, 3), "-1.00");
    QCOMPARE(cell(window, 1, 5), "-0.100");
}

void ObservationsTest::datesAsPeopleWriteThem_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<bool>("typed"); // key by key, else pasted
    QTest::addColumn<QString>("stored");
    QTest::addRow("slashes, pasted") << "2025/03/10" << false << "2025-03-10";
    QTest::addRow("dots and one-digit month, pasted") << "2025.3.10" << false << "2025-03-10";
    QTest::addRow("eight digits, pasted") << "20250310" << false << "2025-03-10";
    QTest::addRow("slashes, typed") << "2025/03/10" << true << "2025-03-10";
    QTest::addRow("dots, typed") << "2025.03.10" << true << "2025-03-10";
    QTest::addRow("no month 13") << "2025/13/10" << false << "";
}

void ObservationsTest::datesAsPeopleWriteThem()
{
    QFETCH(QString, written);
    QFETCH(bool, typed);
    QFETCH(QString, stored);
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    auto *date = control<QLineEdit>(window, "Text1");
    if (typed)
        replaceText(date, written);
    else
        date->setText(written);
    replaceText(control<QLineEdit>(window, "Text2"), "A");
    replaceText(control<QLineEdit>(window, "Text3"), "1");
    click(window, "Command1");
    const QString seen = QString::fromUtf8(runPython(
        QStringLiteral("import sqlite3, sys\n"
                       "print(' '.join(r[0] for r in sqlite3.connect(sys.argv[1]).execute('SELECT MyDate FROM Sur1')))"),
        {session.project})).trimmed();
    QCOMPARE(seen, stored);
    if (!stored.isEmpty())
        QCOMPARE(date->text(), stored);
}

void ObservationsTest::typingReplacesTheSelection()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    // A click into the date box selects its text; the date typed replaces it.
    auto *date = control<QLineEdit>(window, "Text1");
    date->setText(QStringLiteral("2018-01-01"));
    window->activateWindow();
    control<QLineEdit>(window, "Text2")->setFocus();
    QTest::mouseClick(date, Qt::LeftButton);
    date->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(date->hasSelectedText());
    typeText(date, "2019-03-05");
    QCOMPARE(date->text(), "2019-03-05");

    session.addEpoch("2019-03-05", "A", "1");
    auto *box = control<QLineEdit>(window, "Text4");
    clickCell(window, 1, 1);
    typeText(box, "100.25");
    enter(box);
    clickCell(window, 1, 1);
    QCOMPARE(box->text(), "100.25000");
    QVERIFY(box->hasSelectedText());
    typeText(box, ".5");
    QCOMPARE(box->text(), ".5");
}

void ObservationsTest::impossibleAndOutOfOrderDates()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.addEpoch("2018-07-10", "A", "1");
    auto *list = control<QListWidget>(window, "List1");
    {
        // A pasted date that names no day is refused.
        DialogWatcher watcher(window);
        control<QLineEdit>(window, "Text1")->setText(QStringLiteral("2018-02-31"));
        replaceText(control<QLineEdit>(window, "Text2"), "B");
        click(window, "Command1");
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY(watcher.seen()[0].text.startsWith(QStringLiteral("观测日期不正确！")));
        QCOMPARE(list->count(), 1);
    }
    {
        // Before the last epoch: asked, and "返回修改" keeps it out.
        DialogWatcher watcher(window);
        watcher.setMessageAnswer(QMessageBox::No);
        session.addEpoch("2018-07-01", "B", "2");
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY2(watcher.seen()[0].text.contains(QStringLiteral("早于最后一次观测“A”（2018-07-10）")),
                 qPrintable(watcher.seen()[0].text));
        QVERIFY(watcher.seen()[0].text.contains(QStringLiteral("成为首次观测")));
        QCOMPARE(list->count(), 1);
    }
    {
        // "按日期插入": the first epoch now.
        DialogWatcher watcher(window);
        watcher.setMessageAnswer(QMessageBox::Yes);
        session.addEpoch("2018-07-01", "B", "2");
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), "0.B");
    }
}

void ObservationsTest::wideFiguresElidedWithTheirTooltip()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    session.addEpoch("2018-07-10", "A", "1");
    auto *box = control<QLineEdit>(window, "Text4");
    clickCell(window, 1, 1);
    typeText(box, "3650.12345");
    enter(box);
    QTableWidget *table = grid(window);
    QCOMPARE(table->textElideMode(), Qt::ElideRight); // cut at the end, never the front
    const QTableWidgetItem *item = table->item(0, 1);
    QCOMPARE(item->text(), "3650.12345");
    QCOMPARE(item->toolTip(), "3650.12345");
    QCOMPARE(control<QListWidget>(window, "List1")->item(0)->toolTip(), "0.A");
}

void ObservationsTest::aSecondPointOfOneNameIsAsked()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    auto *box = control<QLineEdit>(window, "Text5");
    clickCell(window, 1, 0);
    typeText(box, "J1");
    enter(box);
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        DialogWatcher watcher(window);
        watcher.setMessageAnswer(answer);
        clickCell(window, 2, 0);
        typeText(box, "J1");
        enter(box);
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY(watcher.seen()[0].text.contains(QStringLiteral("已被第 1 号测点使用")));
        QCOMPARE(cell(window, 2, 0), answer == QMessageBox::Yes ? "J1" : "");
    }
}


void ObservationsTest::oddValuesAreMarkedNotAsked()
{
    // The limits are the settings 高程突变限值 (60 mm here) and
    // 首次高程偏差限值 (5 m, its default).
    TestSession session;
    QVERIFY(session.start({{QStringLiteral("高程突变限值"), QStringLiteral("60")},
                           {QStringLiteral("首次高程偏差限值"), QStringLiteral("5")}}));
    MainWindow *window = session.window.get();
    session.addEpoch("2018-07-10", "A", "1");
    auto *box = control<QLineEdit>(window, "Text4");
    clickCell(window, 1, 1);
    {
        // The first epoch of a building whose points differ by decimetres,
        // typed value, Enter, value, Enter: nothing asked or marked, each
        // on its point.
        DialogWatcher watcher(window);
        for (int point = 1; point <= 14; ++point) {
            typeText(box, QString::number(10 + ((point - 1) * 7 % 15) * 0.02, 'f', 2));
            enter(box);
        }
        QVERIFY(watcher.seen().isEmpty());
        for (int point = 1; point <= 14; ++point) {
            QCOMPARE(storedElevation(session.project, 0, point).toDouble(), 10 + ((point - 1) * 7 % 15) * 0.02);
            QVERIFY(!markedQuestionable(window, point, 1));
        }
    }
    {
        // Millimetres typed into the metre grid, on the column's last point:
        // stored on it as typed and marked against the median of the others,
        // never asked about; nothing lands elsewhere.
        DialogWatcher watcher(window);
        typeText(box, "10010");
        enter(box);
        QVERIFY(watcher.seen().isEmpty());
        QCOMPARE(storedElevation(session.project, 0, 15), "10010.0");
        QVERIFY(markedQuestionable(window, 15, 1));
        const QString tip = grid(window)->item(14, 1)->toolTip();
        QVERIFY2(tip.contains(QStringLiteral("本次其他测点高程的中数为 10.13000")), qPrintable(tip));
        QCOMPARE(window->focusWidget(), box);
        QCOMPARE(box->text(), cell(window, 1, 1)); // on to the first point, whose value is selected
        for (int point = 1; point <= 14; ++point)
            QVERIFY(storedElevation(session.project, 0, point) != "10010.0");
        // Corrected, the mark goes.
        clickCell(window, 15, 1);
        replaceText(box, "10.05");
        enter(box);
        QCOMPARE(storedElevation(session.project, 0, 15), "10.05");
        QVERIFY(!markedQuestionable(window, 15, 1));
    }
    session.addEpoch("2018-07-20", "B", "2");
    clickCell(window, 1, 2);
    {
        // 55 mm: within the limit, nothing marked; 10010 marked.
        DialogWatcher watcher(window);
        typeText(box, "10.055");
        enter(box);
        typeText(box, "10010");
        enter(box);
        QVERIFY(watcher.seen().isEmpty());
        QCOMPARE(storedElevation(session.project, 1, 1), "10.055");
        QVERIFY(!markedQuestionable(window, 1, 2));
        QCOMPARE(storedElevation(session.project, 1, 2), "10010.0");
        QVERIFY(markedQuestionable(window, 2, 2));
        // The window as it looks, for a person to see.
        if (const QByteArray keep = qgetenv("SEDIMETRA_KEEP_PICTURES"); !keep.isEmpty())
            window->grab().save(QString::fromLocal8Bit(keep) + QStringLiteral("/questionable.png"));
    }
    auto *list = control<QListWidget>(window, "List1");
    {
        // Leaving the epoch lists it. Enter typed on, and Esc, answer
        // nothing: still questioned.
        DialogWatcher watcher(window);
        watcher.typeIntoMessages(QStringLiteral("10.1"));
        watcher.answerWithKey(Qt::Key_Return);
        list->setCurrentRow(0);
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(watcher.seen()[0].title, QStringLiteral("核对可疑高程"));
        QVERIFY2(watcher.seen()[0].text.contains(QStringLiteral("上次为 10.14000")), qPrintable(watcher.seen()[0].text));
        QCOMPARE(session.window->session().currentEpoch(), 0);
        QVERIFY(!historyOfEpoch(session.project, 1).join(QLatin1Char('\n')).contains(QStringLiteral("C ")));
    }
    list->setCurrentRow(1);
    QVERIFY(markedQuestionable(window, 2, 2));
    {
        // Confirmed: a history row with the value, the mark gone, and
        // leaving the epoch asks nothing more.
        DialogWatcher watcher(window);
        watcher.answerQuestionableWith(QStringLiteral("确认无误"));
        list->setCurrentRow(0);
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY(historyOfEpoch(session.project, 1).contains(QStringLiteral("C 2 10010.0")));
        list->setCurrentRow(1);
        QVERIFY(!markedQuestionable(window, 2, 2));
        list->setCurrentRow(0);
        QCOMPARE(watcher.seen().size(), 1);
    }
    list->setCurrentRow(1);
    {
        // "返回修改" keeps the epoch, with the value's box open.
        clickCell(window, 3, 2);
        replaceText(box, "10.5");
        enter(box);
        QVERIFY(markedQuestionable(window, 3, 2));
        DialogWatcher watcher(window);
        watcher.answerQuestionableWith(QStringLiteral("返回修改"));
        list->setCurrentRow(0);
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(session.window->session().currentEpoch(), 1);
        QCOMPARE(list->currentRow(), 1);
        QCOMPARE(window->focusWidget(), box);
        QCOMPARE(box->text(), QStringLiteral("10.50000"));
    }
}

void ObservationsTest::aBurstWithASlipLandsOnItsPoints_data()
{
    QTest::addColumn<int>("slip");
    QTest::newRow("slip second") << 2;
    QTest::newRow("slip on the column's last point") << 15;
}

void ObservationsTest::aBurstWithASlipLandsOnItsPoints()
{
    // Fifteen points (the grid's column) within 25 mm of each other; the
    // second epoch typed from the field book, value, Enter, value, Enter,
    // without looking at the screen. A question that came up would get the
    // next value's keys and its Enter.
    QFETCH(int, slip);
    TestSession session;
    QVERIFY(session.start({{QStringLiteral("高程突变限值"), QStringLiteral("50")}}));
    MainWindow *window = session.window.get();
    auto *box = control<QLineEdit>(window, "Text4");
    constexpr int points = 15;
    QStringList first, second;
    for (int point = 1; point <= points; ++point) {
        first << QString::number(10 + (point * 7 % 26) * 0.001, 'f', 3);
        second << QString::number(first.last().toDouble() - 0.0005 * (point % 4), 'f', 4);
    }
    second[slip - 1] = QStringLiteral("100.0150");
    session.addEpoch("2018-07-10", "A", "1");
    clickCell(window, 1, 1);
    for (const QString &h : first) {
        typeText(box, h);
        enter(box);
    }
    session.addEpoch("2018-07-20", "B", "2");
    clickCell(window, 1, 2);
    DialogWatcher watcher(window);
    watcher.answerWithKey(Qt::Key_Return);
    for (int point = 1; point <= points; ++point) {
        watcher.typeIntoMessages(point < points ? second[point] : QString());
        typeText(box, second[point - 1]);
        enter(box);
    }
    QVERIFY(watcher.seen().isEmpty());
    for (int point = 1; point <= points; ++point) {
        QCOMPARE(storedElevation(session.project, 1, point).toDouble(), second[point - 1].toDouble());
        QVERIFY2(markedQuestionable(window, point, 2) == (point == slip),
                 qPrintable(QStringLiteral("%1: %2").arg(point).arg(grid(window)->item(point - 1, 2)->toolTip())));
    }
    // One value each, nothing written twice or elsewhere.
    QStringList expected;
    for (int point = 1; point <= points; ++point)
        expected << QStringLiteral("H %1 %2").arg(point).arg(second[point - 1].toDouble());
    QStringList written = historyOfEpoch(session.project, 1).filter(QRegularExpression(QStringLiteral("^H ")));
    for (QString &row : written)
        row = row.section(QLatin1Char(' '), 0, 1) + QLatin1Char(' ')
              + QString::number(row.section(QLatin1Char(' '), 2).toDouble());
    QCOMPARE(written, expected);
}

void ObservationsTest::removingAnEpochAndAPoint()
{
    TestSession session;
    QVERIFY(session.start());
    MainWindow *window = session.window.get();
    auto *list = control<QListWidget>(window, "List1");
    auto *box = control<QLineEdit>(window, "Text4");
    auto *names = control<QLineEdit>(window, "Text5");
    clickCell(window, 1, 0);
    typeText(names, "J1");
    enter(names);
    typeText(names, "J2");
    enter(names);
    const char *dates[] = {"2018-07-10", "2018-07-20", "2018-07-30"};
    const char *heights[] = {"10", "9.99", "9.98"};
    for (int k = 0; k < 3; ++k) {
        session.addEpoch(dates[k], QString(QChar('A' + k)), "1");
        clickCell(window, 1, k == 0 ? 1 : 2);
        typeText(box, heights[k]);
        enter(box);
        typeText(box, heights[k]);
        enter(box);
    }
    // A context menu's command chosen by keys: `keys` Down presses, then
    // Right presses into a submenu, then Return.
    const auto chooseFromMenu = [](QWidget *widget, QPoint at, int downs = 1, int rights = 0) {
        QTimer::singleShot(100, [downs, rights] {
            QWidget *menu = QApplication::activePopupWidget();
            for (int i = 0; menu && i < downs; ++i)
                QTest::keyClick(menu, Qt::Key_Down);
            for (int i = 0; menu && i < rights; ++i) {
                QTest::keyClick(menu, Qt::Key_Right);
                menu = QApplication::activePopupWidget();
            }
            if (menu)
                QTest::keyClick(menu, Qt::Key_Return);
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &event);
    };
    list->setCurrentRow(2);
    {
        DialogWatcher watcher(window);
        watcher.setMessageAnswer(QMessageBox::No);
        chooseFromMenu(list->viewport(), list->visualItemRect(list->item(1)).center());
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(list->count(), 3);
    }
    {
        DialogWatcher watcher(window);
        watcher.setMessageAnswer(QMessageBox::Yes);
        chooseFromMenu(list->viewport(), list->visualItemRect(list->item(1)).center());
        QCOMPARE(watcher.seen().size(), 1);
        QVERIFY2(watcher.seen()[0].text.startsWith(QStringLiteral("删除观测“B”（2018-07-20）及其 2 个高程？")),
                 qPrintable(watcher.seen()[0].text));
    }
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(1)->text(), "1.C");
    // The epoch shown stays shown under its new number: C, now following A.
    QCOMPARE(window->session().currentEpoch(), 1);
    QCOMPARE(cell(window, 1, 3), "-20.00");
    QCOMPARE(cell(window, 1, 4), "-20.00");
    // The file as another program reads it.
    QCOMPARE(QString::fromUtf8(runPython(
                 QStringLiteral("import sqlite3, sys\n"
                                "c = sqlite3.connect(sys.argv[1])\n"
                                "print(' '.join('%d.%s' % r for r in c.execute("
                                "'SELECT CjNo, Name FROM Sur1 ORDER BY CjNo')), "
                                "' '.join('%d:%d=%r' % r for r in c.execute("
                                "'SELECT CjNo, CjdNo, PointH FROM Sur2 ORDER BY CjNo, CjdNo')))"),
                 {session.project})),
             "0.A 1.C 0:1=10.0 0:2=10.0 1:1=9.98 1:2=9.98");

    // J2's colour and mark from its name cell's menu: the first of each.
    QTableWidget *table = grid(window);
    const QPoint j2 = table->visualRect(table->model()->index(1, 0)).center();
    chooseFromMenu(table->viewport(), j2, 1, 1);
    chooseFromMenu(table->viewport(), j2, 2, 1);
    QCOMPARE(QString::fromUtf8(runPython(QStringLiteral("import sqlite3, sys\n"
                                                        "print(sqlite3.connect(sys.argv[1]).execute("
                                                        "'SELECT Aci, Mark FROM Sur3 WHERE CjdNo = 2').fetchone())"),
                                         {session.project}))
                 .trimmed(),
             QStringLiteral("(1, '菱形')"));
    QCOMPARE(table->item(1, 0)->foreground().color(), QColor(255, 0, 0));

    // Point J1 from its name cell's menu.
    {
        DialogWatcher watcher(window);
        watcher.setMessageAnswer(QMessageBox::Yes);
        chooseFromMenu(table->viewport(),
                       table->visualRect(table->model()->index(0, 0)).center(), 4);
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(watcher.seen()[0].text, QStringLiteral("删除第 1 号测点“J1”及其全部 2 个高程？"));
    }
    QCOMPARE(cell(window, 1, 0), "");
    QCOMPARE(cell(window, 1, 4), "");
    QCOMPARE(cell(window, 2, 4), "-20.00");
    QCOMPARE(storedElevation(session.project, 0, 1), "none");
    QCOMPARE(storedElevation(session.project, 1, 2), "9.98");

    // Another program commits, the project is read again: nothing typed
    // here for the removed or renumbered records is told as its change.
    runPython(QStringLiteral("import sqlite3, sys\n"
                             "c = sqlite3.connect(sys.argv[1])\n"
                             "c.execute(\"INSERT INTO Sur3 VALUES (9, 'J9', 1, 'A')\")\n"
                             "c.commit()"),
              {session.project});
    DialogWatcher watcher(window);
    list->setCurrentRow(0);
    QVERIFY2(watcher.seen().isEmpty(), qPrintable(watcher.seen().isEmpty() ? QString() : watcher.seen()[0].text));
}

QTEST_MAIN(ObservationsTest)
#include "tst_observations.moc"
