#include "gui/mainwindow.h"
#include "gui/session.h"
#include "gui/startup.h"
#include "gui/projectcommands.h"
#include "gui/leveldialog.h"
#include "project/projectdb.h"
#include "survey/observationimport.h"
#include "xlsx/workbook.h"
#include "windowsupport.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <functional>

using namespace testsupport;

namespace {

QString fixture(const char *name)
{
    return QStringLiteral(SEDIMETRA_SOURCE_DIR "/tests/fixtures/") + QString::fromLatin1(name);
}

// The levelling dialog comes up once the file dialog has been answered: a
// timer of the test's own looks for it and hands it to `act`.
void whenLevelDialogShows(QTimer &poll, const std::function<void(QDialog *)> &act)
{
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&poll, act] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != QLatin1String("LevelDialog"))
            return;
        poll.stop();
        act(dialog);
    });
    poll.start();
}

struct TestSession : WindowSession
{
    // `changeLimit` (mm) and `firstDeviation` (m): the odd-change question
    // is for the tests about it.
    bool start(const QString &unit = QStringLiteral("m"), const QString &changeLimit = QStringLiteral("1000000"),
               const QString &firstDeviation = QStringLiteral("1000000"))
    {
        return makeProgram({{QStringLiteral("高程单位"), unit},
                            {QStringLiteral("高程突变限值"), changeLimit},
                            {QStringLiteral("首次高程偏差限值"), firstDeviation}})
               && makeProjectFile(QStringLiteral("楼.mdb"),
                                  [](ProjectDatabase &db) -> Result<void> {
                                      const char *names[] = {"J1", "J2", "沉'3", "J4",
                                                             "J5", "J6", "7",    "J2"};
                                      for (int n = 1; n <= 8; ++n)
                                          if (auto added = db.addPoint(
                                                  {n, QString::fromUtf8(names[n - 1]), 5, "菱形"});
                                              !added)
                                              return added;
                                      if (auto first = db.setElevation(0, 1, 100.0); !first)
                                          return first;
                                      return db.setElevation(1, 8, 77.0);
                                  })
               && openWindow();
    }

    QList<SeenMessage> import(const QString &file,
                              QMessageBox::StandardButton answer = QMessageBox::Ok)
    {
        DialogWatcher watcher(window.get());
        watcher.setMessageAnswer(answer);
        watcher.queueFile(file);
        QTest::mouseClick(window->findChild<QPushButton *>("Command10"), Qt::LeftButton);
        return watcher.seen();
    }

    std::optional<double> stored(int epoch, int point)
    {
        ProjectDatabase db;
        return db.open(project) ? must(db.elevation(epoch, point)) : std::nullopt;
    }

    QString cell(int row, int column)
    {
        const QTableWidgetItem *item =
            window->findChild<QTableWidget *>("Flex1")->item(row - 1, column);
        return item ? item->text() : QString();
    }
};

} // namespace

class ImportTest : public QObject
{
    Q_OBJECT
private slots:
    void importsIntoTheCurrentEpoch_data();
    void importsIntoTheCurrentEpoch();
    void millimetres_data();
    void millimetres();
    void oneDataRow_data();
    void oneDataRow();
    void refusedSources_data();
    void refusedSources();
    void nothingWithoutAnEpochOrOnCancel();
    void largeSheet();
    void failureLeavesTheProjectAsItWas();
    void askedBeforeReplacing();
    void oddRowsAskedBeforeWriting_data();
    void oddRowsAskedBeforeWriting();
    void levelLoopIntoAnEpoch();
    void levelWithoutAKnownHeight();
};

void ImportTest::importsIntoTheCurrentEpoch_data()
{
    QTest::addColumn<QString>("file");
    QTest::addRow("xls") << fixture("obs_m.xls");
    QTest::addRow("xlsx") << fixture("obs_m.xlsx");
}

void ImportTest::importsIntoTheCurrentEpoch()
{
    QFETCH(QString, file);
    TestSession session;
    QVERIFY(session.start(QStringLiteral("m"), QStringLiteral("50")));
    QCOMPARE(session.window->session().currentEpoch(), 1);
    // J1 rises 1.5 m from epoch 0: asked about first, written at "仍然写入",
    // and listed for checking.
    const auto seen = session.import(file, QMessageBox::Yes);
    QCOMPARE(seen.size(), 2);
    QVERIFY2(seen[0].text.contains(QStringLiteral("行高程变化异常")), qPrintable(seen[0].text));
    QVERIFY(seen[0].text.contains(QStringLiteral("J1：100.00000 → 101.50000")));
    QCOMPARE(seen[1].title, QStringLiteral("调入数据"));
    // J1 twice (the later wins), J2 as text, 沉'3, and point "7".
    QVERIFY2(seen[1].text.contains(QStringLiteral("调入 5 个高程")), qPrintable(seen[1].text));
    QVERIFY(seen[1].text.contains(QStringLiteral("J9")));
    QVERIFY2(seen[1].text.contains(QStringLiteral("已调入，请核对")), qPrintable(seen[1].text));
    QCOMPARE(session.stored(1, 1), std::optional<double>(101.5));
    QCOMPARE(session.stored(1, 2), std::optional<double>(99.998));
    QCOMPARE(session.stored(1, 3), std::optional<double>(50.25));
    QCOMPARE(session.stored(1, 7), std::optional<double>(30.5));
    QVERIFY(!session.stored(1, 4));                              // "abc"
    QVERIFY(!session.stored(1, 5));                              // a date
    QVERIFY(!session.stored(1, 6));                              // a formula without a stored value
    QCOMPARE(session.stored(1, 8), std::optional<double>(77.0)); // the second J2 is untouched
    QVERIFY(!session.stored(0, 2));                              // epoch 0 untouched
    // The grid was filled again from the project.
    QCOMPARE(session.cell(1, 2), "101.50000");
    QCOMPARE(session.cell(1, 4), "1500.00");
    QCOMPARE(session.cell(3, 2), "50.25000");
    // "仍然写入" confirmed J1's rise: recorded, and not marked as questionable.
    const auto confirmed = session.window->session().project()->confirmedElevations(1);
    QVERIFY(confirmed);
    QCOMPARE(*confirmed, (std::map<int, double>{{1, 101.5}}));
    QVERIFY(session.window->session().questionable(1).empty());
}

void ImportTest::millimetres_data()
{
    QTest::addColumn<QString>("file");
    QTest::addRow("xls, sheet named sheet1") << fixture("obs_mm.xls");
    QTest::addRow("xlsx, sheet named SHEET1") << fixture("obs_mm.xlsx");
}

void ImportTest::millimetres()
{
    QFETCH(QString, file);
    TestSession session;
    QVERIFY(session.start(QStringLiteral("mm")));
    QCOMPARE(session.import(file).size(), 1);
    QCOMPARE(session.stored(1, 1), std::optional<double>(100.5));
    QCOMPARE(session.stored(1, 2), std::optional<double>(99.9985));
    QCOMPARE(session.cell(1, 2), "100500.00");
    QCOMPARE(session.cell(2, 2), "99998.50");
}

void ImportTest::oneDataRow_data()
{
    QTest::addColumn<QString>("file");
    QTest::addRow("xls") << fixture("one_row.xls");
    QTest::addRow("xlsx") << fixture("one_row.xlsx");
}

void ImportTest::oneDataRow()
{
    QFETCH(QString, file);
    TestSession session;
    QVERIFY(session.start());
    const auto seen = session.import(file);
    QCOMPARE(seen.size(), 1);
    QVERIFY(seen[0].text.contains(QStringLiteral("调入 1 个高程")));
    QCOMPARE(session.stored(1, 2), std::optional<double>(88.123));
}

void ImportTest::refusedSources_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");
    QTest::addRow("headings only, xls")
        << fixture("headings_only.xls") << QStringLiteral("数据源为空！");
    QTest::addRow("headings only, xlsx")
        << fixture("headings_only.xlsx") << QStringLiteral("数据源为空！");
    QTest::addRow("no Sheet1, xls") << fixture("no_sheet1.xls") << QStringLiteral("找不到数据源！");
    QTest::addRow("no Sheet1, xlsx")
        << fixture("no_sheet1.xlsx") << QStringLiteral("找不到数据源！");
    QTest::addRow("not a workbook") << "text" << QStringLiteral("找不到数据源！");
    QTest::addRow("truncated xlsx") << "truncated" << QStringLiteral("找不到数据源！");
    QTest::addRow("corrupt xls") << "corrupt" << QStringLiteral("找不到数据源！");
}

void ImportTest::refusedSources()
{
    QFETCH(QString, file);
    QFETCH(QString, message);
    TestSession session;
    QVERIFY(session.start());
    if (file == QLatin1String("text")) {
        file = session.program.projects() + QStringLiteral("观测.xlsx");
        QVERIFY(writeFile(file, "J1,100.5\n"));
    } else if (file == QLatin1String("truncated")) {
        QFile whole(fixture("obs_m.xlsx"));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        file = session.program.projects() + QStringLiteral("截断.xlsx");
        QVERIFY(writeFile(file, whole.read(1500)));
    } else if (file == QLatin1String("corrupt")) {
        QFile whole(fixture("obs_m.xls"));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        QByteArray bytes = whole.readAll();
        for (qsizetype i = 600; i < bytes.size(); i += 7)
            bytes[i] = char(0xFF);
        file = session.program.projects() + QStringLiteral("坏.xls");
        QVERIFY(writeFile(file, bytes));
    }
    const auto seen = session.import(file);
    QCOMPARE(seen.size(), 1);
    // A damaged .xls may also make its reader give up (or, under a memory
    // checker, end abnormally): either way a clear refusal.
    if (file.endsWith(QStringLiteral("坏.xls"))
        && seen[0].text.startsWith(QStringLiteral("无法读取工作簿：")))
        message = seen[0].text;
    QCOMPARE(seen[0].text, message);
    QCOMPARE(seen[0].title, QStringLiteral("调入数据"));
    QVERIFY(!session.stored(1, 1));
}

void ImportTest::nothingWithoutAnEpochOrOnCancel()
{
    TestSession session;
    QVERIFY(session.start());
    {
        DialogWatcher watcher(session.window.get());
        watcher.queueFile(QString()); // cancel
        QTest::mouseClick(session.window->findChild<QPushButton *>("Command10"), Qt::LeftButton);
        QCOMPARE(watcher.fileDialogTitles(), QStringList{QStringLiteral("调入观测数据")});
        QCOMPARE(watcher.fileDialogFilters(),
                 QStringList{QStringLiteral("观测数据 (*.xls *.xlsx);"
                                            "水准原始数据 (*.gsi *.gsi8 *.gsi16 *.dat *.raw *.txt)")});
        QVERIFY(watcher.seen().isEmpty());
    }
    session.window->session().setCurrentEpoch(-1);
    DialogWatcher watcher(session.window.get());
    QTest::mouseClick(session.window->findChild<QPushButton *>("Command10"), Qt::LeftButton);
    QVERIFY(watcher.fileDialogTitles().isEmpty());
}

void ImportTest::largeSheet()
{
    TestSession session;
    QVERIFY(session.start());
    // 50,000 rows, written by openpyxl; every one names point J2.
    const QString file = session.program.projects() + QStringLiteral("大.xlsx");
    runPython(QStringLiteral("import openpyxl, sys\n"
                             "wb = openpyxl.Workbook(write_only=True)\n"
                             "ws = wb.create_sheet('Sheet1')\n"
                             "ws.append(['点名', '高程'])\n"
                             "for i in range(50000): ws.append(['J2', 90 + i / 100000])\n"
                             "wb.save(sys.argv[1])\n"),
              {file}, 120000);
    QVERIFY(QFile::exists(file));
    const auto seen = session.import(file);
    QCOMPARE(seen.size(), 1);
    QVERIFY(seen[0].text.contains(QStringLiteral("调入 50000 个高程")));
    QCOMPARE(session.stored(1, 2), std::optional<double>(90 + 49999 / 100000.0));
}

void ImportTest::failureLeavesTheProjectAsItWas()
{
    TestProgram program;
    QVERIFY(program.make());
    const QString path = program.projects() + QStringLiteral("p.mdb");
    QVERIFY(makeProject(path));
    ProjectDatabase project;
    QVERIFY(project.open(path));
    QVERIFY(project.addPoint({1, "J1", 5, "m"}));
    QVERIFY(project.addPoint({2, "J2", 6, "m"}));
    const std::vector<ImportRow> rows{{2, "J1", "100", true}, {3, "J2", "50", true}};
    // The file vanishes under the program: the first write is refused, nothing stays.
    QVERIFY(QFile::rename(path, path + QStringLiteral(".moved")));
    const auto failed = importObservations(project, 0, rows, QStringLiteral("m"));
    QVERIFY(!failed);
    QVERIFY(!failed.error().isEmpty());
    QVERIFY(QFile::rename(path + QStringLiteral(".moved"), path));
    // A write that fails part-way: the transaction holds nothing of it.
    ExclusiveLock lock(path);
    QVERIFY(lock.locked());
    const auto locked = importObservations(project, 0, rows, QStringLiteral("m"));
    QVERIFY(!locked);
}

void ImportTest::askedBeforeReplacing()
{
    TestSession session;
    QVERIFY(session.start());
    QVERIFY(session.window->session().storeElevation(1, 1, 100.001, WriteHow::Typed));
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        DialogWatcher watcher(session.window.get());
        watcher.setMessageAnswer(answer);
        watcher.queueFile(fixture("obs_m.xlsx"));
        QTest::mouseClick(session.window->findChild<QPushButton *>("Command10"), Qt::LeftButton);
        const auto seen = watcher.seen();
        QVERIFY(!seen.isEmpty());
        // Epoch 1 holds J1 and the second J2; the workbook replaces J1 only.
        QVERIFY2(seen[0].text.contains(QStringLiteral("已有 2 个测点的高程，调入将覆盖其中 1 个")),
                 qPrintable(seen[0].text));
        if (answer == QMessageBox::No) {
            QCOMPARE(seen.size(), 1);
            QCOMPARE(session.stored(1, 1), std::optional<double>(100.001));
            QVERIFY(!session.stored(1, 2));
        } else {
            QCOMPARE(seen.size(), 2);
            QVERIFY(seen[1].text.contains(QStringLiteral("1 个替换了本次观测原有的高程")));
            QCOMPARE(session.stored(1, 1), std::optional<double>(101.5));
        }
    }
}

void ImportTest::oddRowsAskedBeforeWriting_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("written");
    QTest::addRow("仍然写入") << int(QMessageBox::Yes) << 5;
    QTest::addRow("跳过这些行") << int(QMessageBox::No) << 0;
    QTest::addRow("取消") << int(QMessageBox::Cancel) << -1;
}

void ImportTest::oddRowsAskedBeforeWriting()
{
    // Every row is odd at limits of 1 mm: J1 against its previous
    // elevation, the points without one against the median of the epoch's
    // others.
    QFETCH(int, answer);
    QFETCH(int, written);
    TestSession session;
    QVERIFY(session.start(QStringLiteral("m"), QStringLiteral("1"), QStringLiteral("0.001")));
    const auto seen = session.import(fixture("obs_m.xlsx"), QMessageBox::StandardButton(answer));
    QVERIFY(!seen.isEmpty());
    QVERIFY2(seen[0].text.startsWith(QStringLiteral("5 行高程变化异常")), qPrintable(seen[0].text));
    QVERIFY2(seen[0].text.contains(QStringLiteral("J2：本次中数")), qPrintable(seen[0].text));
    QCOMPARE(seen.size(), written < 0 ? 1 : 2);
    if (written >= 0)
        QVERIFY2(seen[1].text.contains(QStringLiteral("调入 %1 个高程").arg(written)), qPrintable(seen[1].text));
    if (written == 0)
        QVERIFY(seen[1].text.contains(QStringLiteral("已跳过")));
    QCOMPARE(session.stored(1, 2).has_value(), written > 0);
    QCOMPARE(session.stored(1, 1).has_value(), written > 0);
}

void ImportTest::levelLoopIntoAnEpoch()
{
    // A GSI-8 loop from BM1 (its height entered on the level) through J1,
    // J2 and J4, one station with a blunder in one reading.
    TestSession session;
    QVERIFY(session.start());
    QStringList shown;
    std::map<int, double> matched;
    QTimer poll;
    whenLevelDialogShows(poll, [&](QDialog *dialog) {
        shown << dialog->findChild<QLabel *>(QStringLiteral("Status"))->text();
        auto *stations = dialog->findChild<QTableWidget *>(QStringLiteral("Stations"));
        shown << stations->item(3, 7)->text();
        matched = static_cast<LevelDialog *>(dialog)->matched();
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("Write")), Qt::LeftButton);
    });
    DialogWatcher watcher(session.window.get());
    watcher.queueFile(fixture("loop_bm1.gsi"));
    QTest::mouseClick(session.window->findChild<QPushButton *>("Command10"), Qt::LeftButton);
    QCOMPARE(shown.size(), 2);
    QVERIFY2(shown[0].contains(QStringLiteral("8 个测站，1 个不合格；1 条水准路线和闭合环")), qPrintable(shown[0]));
    QVERIFY(shown[1].contains(QStringLiteral("两次读数所测高差之差")));
    // J1, J2 and J4 of the project (the second J2 is not the first's).
    QCOMPARE(matched.size(), size_t(3));
    QVERIFY(!watcher.seen().isEmpty());
    QVERIFY2(watcher.seen().back().text.contains(QStringLiteral("调入 3 个高程")),
             qPrintable(watcher.seen().back().text));
    // The report beside the project, named after epoch 1 ("B").
    const QString report = session.besideProject(QStringLiteral("-B-水准.xlsx"));
    QVERIFY2(watcher.seen().back().text.contains(QStringLiteral("平差报告")), qPrintable(report));
    XlsxWorkbook book;
    const auto opened = book.open(report);
    QVERIFY2(opened, qPrintable(opened.error()));
    QCOMPARE(book.sheetNames(), QStringList({QStringLiteral("测站检核"), QStringLiteral("平差结果")}));
    // The next import starts where this one chose its file, and with its type.
    QCOMPARE(storedSetting(session.program.sdmx(), QStringLiteral("调入目录")),
             std::optional(QFileInfo(fixture("loop_bm1.gsi")).absolutePath()));
    QVERIFY(storedSetting(session.program.sdmx(), QStringLiteral("调入文件类型")).has_value());
    // Read by another connection, and near the heights the loop was made from.
    const std::pair<int, double> truth[] = {{1, 10.25}, {2, 9.8}, {4, 10.12}};
    for (const auto &[point, h] : truth) {
        const auto stored = session.stored(1, point);
        QVERIFY(stored);
        QCOMPARE(*stored, matched.at(point));
        QVERIFY(std::fabs(*stored - h) < 0.002); // the blunder moves them by about a millimetre
    }
}

void ImportTest::levelWithoutAKnownHeight()
{
    // The same loop with no height entered on the level and no reference
    // point: checked and shown, its heights relative, never written.
    TestSession session;
    QVERIFY(session.start());
    QFile in(fixture("loop_bm1.gsi"));
    QVERIFY(in.open(QIODevice::ReadOnly));
    QByteArray gsi;
    for (const QByteArray &line : in.readAll().split('\n'))
        if (!line.contains(" 83..58"))
            gsi += line + '\n';
    const QString path = session.besideProject(QStringLiteral("-relative.gsi"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(gsi);
    out.close();
    const std::optional<double> before = session.stored(1, 1);
    QString status;
    QTimer poll;
    whenLevelDialogShows(poll, [&](QDialog *dialog) {
        status = dialog->findChild<QLabel *>(QStringLiteral("Status"))->text();
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("Write")), Qt::LeftButton);
        if (dialog->isVisible())
            dialog->reject();
    });
    DialogWatcher watcher(session.window.get());
    watcher.queueFile(path);
    QTest::mouseClick(session.window->findChild<QPushButton *>("Command10"), Qt::LeftButton);
    QVERIFY2(status.contains(QStringLiteral("8 个测站")), qPrintable(status));
    QVERIFY2(status.contains(QStringLiteral("没有已知高程")), qPrintable(status));
    QVERIFY(!watcher.seen().isEmpty());
    QVERIFY2(watcher.seen().back().text.contains(QStringLiteral("只有相对高程")),
             qPrintable(watcher.seen().back().text));
    QCOMPARE(session.stored(1, 1), before);
}

QTEST_MAIN(ImportTest)
#include "tst_import.moc"
