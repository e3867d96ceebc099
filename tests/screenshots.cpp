// The user guide's pictures, taken of the program itself: a program
// directory with the shipped files, the sample project opened in the main
// window, and the guide's tasks done as a surveyor does them, by clicking,
// typing and choosing from the context menus. Each window or dialog is
// pictured as it shows, then closed unchanged (the sample is a copy).
//
// usage: sedimetra-screenshots SAMPLE.mdb LEVEL.gsi OUT_DIR [TEXTS.txt]
// Run on the offscreen platform (scripts/screenshots.sh does). With
// TEXTS.txt it also writes every caption it saw shown (buttons, labels,
// frames, tabs, headings, menu entries, titles), a line each, for the
// documentation's test to hold the guide's quotations against.

#include "gui/mainwindow.h"
#include "gui/projectcommands.h"

#include "gui/startup.h"
#include "windowsupport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QSet>
#include <QTabWidget>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>

using namespace testsupport;

namespace {

QString outDir;
int failures = 0;
QSet<QString> shown;

// The captions `widget` and everything in it show.
void collectTexts(QWidget *widget)
{
    QList<QWidget *> all = widget->findChildren<QWidget *>();
    all.prepend(widget);
    for (QWidget *w : all) {
        if (!w->isVisibleTo(widget) && w != widget)
            continue;
        shown << w->windowTitle();
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            shown << b->text();
        if (auto *l = qobject_cast<QLabel *>(w))
            shown << l->text();
        if (auto *g = qobject_cast<QGroupBox *>(w))
            shown << g->title();
        if (auto *e = qobject_cast<QLineEdit *>(w))
            shown << e->placeholderText();
        if (auto *t = qobject_cast<QTabWidget *>(w))
            for (int i = 0; i < t->count(); ++i)
                shown << t->tabText(i);
        if (auto *c = qobject_cast<QComboBox *>(w))
            for (int i = 0; i < c->count(); ++i)
                shown << c->itemText(i);
        if (auto *t = qobject_cast<QTableWidget *>(w))
            for (int i = 0; i < t->columnCount(); ++i)
                if (t->horizontalHeaderItem(i))
                    shown << t->horizontalHeaderItem(i)->text();
    }
}

void complain(const QString &why)
{
    std::fprintf(stderr, "%s\n", qPrintable(why));
    ++failures;
}

// Lets the window finish what a click started (a redraw, a deferred
// analysis), then pictures `widget` as `name`.png.
void picture(QWidget *widget, const QString &name)
{
    QTest::qWait(400);
    QCoreApplication::processEvents();
    collectTexts(widget);
    const QString path = outDir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!widget->grab().save(path))
        complain(QStringLiteral("could not save %1").arg(path));
    else
        std::printf("%s\n", qPrintable(path));
}

// Runs `open`, which brings up a dialog of the program (not a file dialog
// or a message box); once it shows, `inside` works in it, and the dialog is
// pictured as `name` (unless empty) and closed with Esc's answer (or
// accepted, when `accept`).
void pictureDialog(const QString &name, const std::function<void()> &open,
                   const std::function<void(QDialog *)> &inside = {}, bool accept = false)
{
    // A dialog already up (the one a nested dialog is opened from) is not it.
    QWidget *before = QApplication::activeModalWidget();
    bool seen = false;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || dialog == before || qobject_cast<QFileDialog *>(dialog) || qobject_cast<QMessageBox *>(dialog))
            return;
        poll.stop();
        seen = true;
        if (inside)
            inside(dialog);
        collectTexts(dialog);
        if (!name.isEmpty())
            picture(dialog, name);
        if (accept)
            dialog->accept();
        else
            dialog->reject();
    });
    poll.start();
    open();
    poll.stop();
    if (!seen)
        complain(QStringLiteral("%1: no dialog came up").arg(name));
}

// Chooses `text` from the context menu `widget` shows at `at`.
void chooseFromMenu(QWidget *widget, QPoint at, const QString &text)
{
    bool found = false;
    QTimer::singleShot(0, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction *action : menu->actions()) {
            shown << action->text();
            if (action->menu())
                for (QAction *inner : action->menu()->actions())
                    shown << inner->text();
        }
        for (QAction *action : menu->actions())
            if (action->text() == text) {
                found = true;
                menu->close();
                action->trigger();
                return;
            }
        menu->close();
    });
    emit widget->customContextMenuRequested(at);
    if (!found)
        complain(QStringLiteral("no menu entry %1").arg(text));
}

QTableWidget *grid(QWidget *window)
{
    return control<QTableWidget>(window, "Flex1");
}

int columnHeaded(QWidget *window, const QString &heading)
{
    QTableWidget *table = grid(window);
    for (int c = 0; c < table->columnCount(); ++c)
        if (table->horizontalHeaderItem(c) && table->horizontalHeaderItem(c)->text() == heading)
            return c;
    complain(QStringLiteral("no grid column %1").arg(heading));
    return 0;
}

QPoint cellCentre(QWidget *window, int row, int column)
{
    QTableWidget *table = grid(window);
    const QModelIndex index = table->model()->index(row - 1, column);
    table->scrollTo(index);
    return table->visualRect(index).center();
}

void clickCell(QWidget *window, int row, int column)
{
    QTest::mouseClick(grid(window)->viewport(), Qt::LeftButton, {}, cellCentre(window, row, column));
}

bool copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + file.mid(from.size());
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile::remove(target);
        if (!QFile::copy(file, target))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: sedimetra-screenshots SAMPLE.mdb LEVEL.gsi OUT_DIR [TEXTS.txt]\n");
        return 2;
    }
    const QString sample = QString::fromLocal8Bit(argv[1]);
    // Typed into the file dialog, which reads a relative name from its own folder.
    const QString levelFile = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    outDir = QString::fromLocal8Bit(argv[3]);
    QDir().mkpath(outDir);

    // A program directory of its own, with every shipped file of the build.
    TestProgram program;
    // The program's own limits for a slip (the test programs widen them).
    if (!program.make({{QStringLiteral("高程突变限值"), QStringLiteral("50")},
                       {QStringLiteral("首次高程偏差限值"), QStringLiteral("5")}}) || !copyTree(QStringLiteral(SEDIMETRA_BIN_DIR "/Support"), program.programDir() + "Support")) {
        std::fprintf(stderr, "could not make a program directory\n");
        return 1;
    }
    QDir().mkpath(program.projects());
    const QString project = program.projects() + QStringLiteral("示例工程.mdb");
    if (!QFile::copy(sample, project)) {
        std::fprintf(stderr, "could not copy %s\n", qPrintable(sample));
        return 1;
    }
    const auto window = startup(program.programDir());
    if (!window || !QTest::qWaitForWindowExposed(window.get())
        || !window->projectCommands().openProjectFile(project)) {
        std::fprintf(stderr, "the window did not open the sample\n");
        return 1;
    }
    QWidget *w = window.get();
    // Dragged larger than its designed size, as on a desktop: the grid's
    // elevations read whole.
    w->resize(1180, 640);
    auto *epochs = control<QListWidget>(w, "List1");
    const int lastEpoch = epochs->count() - 1;

    // 新建与打开工程, and the README: the last epoch, its curves.
    QTest::mouseClick(control<QRadioButton>(w, "Option1"), Qt::LeftButton, {}, QPoint(8, 16));
    epochs->setCurrentRow(lastEpoch);
    picture(w, QStringLiteral("main-window"));

    // 测点与观测期次: an epoch's date, name and floors in the boxes.
    epochs->setCurrentRow(6);
    picture(w, QStringLiteral("epoch"));
    epochs->setCurrentRow(lastEpoch);

    // 高程来历与撤销修改: J3's history at the last epoch.
    const int thisColumn = columnHeaded(w, QStringLiteral("本次高程"));
    pictureDialog(QStringLiteral("provenance"),
                  [&] { chooseFromMenu(grid(w), cellCentre(w, 3, thisColumn), QStringLiteral("高程来历…")); });

    // 调入水准原始数据: the level's file into the selected epoch.
    {
        DialogWatcher watcher(w);
        watcher.queueFile(levelFile);
        pictureDialog(QStringLiteral("level"), [&] { click(w, "Command10"); });
    }

    // 测点坐标与平面图.
    pictureDialog(QStringLiteral("positions"),
                  [&] { chooseFromMenu(grid(w), cellCentre(w, 1, 0), QStringLiteral("测点坐标…")); });
    control<QRadioButton>(w, "Option4")->click();
    picture(w, QStringLiteral("plan"));
    auto *preview = w->findChild<QWidget *>(QStringLiteral("Pic1"));
    pictureDialog(QStringLiteral("plan-settings"),
                  [&] { chooseFromMenu(preview, preview->rect().center(), QStringLiteral("平面图设置…")); });
    pictureDialog(QString(), [&] {
        chooseFromMenu(preview, preview->rect().center(), QStringLiteral("平面图设置…"));
    }, [&](QDialog *settings) {
        // The limits table is a dialog of the settings dialog: pictured on
        // its own, then the settings dialog is closed.
        QPushButton *table = nullptr;
        for (auto *b : settings->findChildren<QPushButton *>())
            if (b->text() == QStringLiteral("变形限值表…"))
                table = b;
        if (!table)
            return complain(QStringLiteral("no 变形限值表… button"));
        pictureDialog(QStringLiteral("limits-table"), [&] { table->click(); });
    });

    // 输出曲线图: the base point asked for, the sheets written beside the
    // project, the window left as its restore button.
    control<QRadioButton>(w, "Option1")->click();
    {
        // The message that says where the drawing went is answered with OK.
        QTimer answer;
        answer.setInterval(50);
        QObject::connect(&answer, &QTimer::timeout, [] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                shown << box->text();
                box->accept();
            }
        });
        answer.start();
        pictureDialog(QStringLiteral("curve-output"), [&] { click(w, "Command3"); }, {}, true);
    }
    picture(w, QStringLiteral("compact"));
    click(w, "Command13");

    // 成果表表头.
    QTest::mouseClick(w->findChild<QWidget *>(QStringLiteral("Label19")), Qt::LeftButton);
    picture(w, QStringLiteral("header"));
    click(w, "Command12");

    // 稳定性分析与沉降预测.
    pictureDialog(QStringLiteral("stability"), [&] { click(w, "Command14"); });

    // 服务器工程: the dialog, before any server is named.
    pictureDialog(QStringLiteral("server"), [&] {
        chooseFromMenu(control<QPushButton>(w, "Command7"), QPoint(5, 5), QStringLiteral("打开服务器工程…"));
    });

    // 录入高程: a slip of the decimal point typed for J3 at the last epoch
    // is stored on J3 and marked; leaving the epoch lists it.
    epochs->setCurrentRow(lastEpoch);
    clickCell(w, 3, thisColumn);
    auto *box = control<QLineEdit>(w, "Text4");
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    typeText(box, QStringLiteral("1.02738"));
    QTest::keyClick(box, Qt::Key_Return);
    // Left for a figure of J1: the boxes close, the mark shows.
    clickCell(w, 1, columnHeaded(w, QStringLiteral("累计下沉")));
    picture(w, QStringLiteral("questionable-cell"));
    pictureDialog(QStringLiteral("questionable-list"), [&] { epochs->setCurrentRow(lastEpoch - 1); });
    epochs->setCurrentRow(lastEpoch);

    if (argc == 5) {
        QFile texts(QString::fromLocal8Bit(argv[4]));
        if (!texts.open(QIODevice::WriteOnly | QIODevice::Truncate))
            complain(QStringLiteral("could not write %1").arg(texts.fileName()));
        for (QString text : std::as_const(shown))
            if (!text.isEmpty())
                texts.write(text.replace(QLatin1Char('\n'), QStringLiteral("\\n")).toUtf8() + '\n');
    }
    return failures == 0 ? 0 : 1;
}
