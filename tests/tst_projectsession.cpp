// The one door to an open project: every write reaches the project, the
// snapshot and the model read after it; an undo puts back only what is an
// elevation; while typing, the model keeps the analysis from before.
#include "session/projectsession.h"

#include "testsupport.h"

#include <QDate>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace testsupport;

class ProjectSessionTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void writesReachTheModel();
    void undoPutsBackOnlyElevations_data();
    void undoPutsBackOnlyElevations();
    void typingKeepsTheAnalysisUntilThePause();

private:
    // A project of five epochs ten days apart and two points settling 1 mm
    // an epoch, open in `m_session`.
    QTemporaryDir m_dir;
    std::unique_ptr<ProjectSession> m_session;
};

void ProjectSessionTest::init()
{
    const QString path = m_dir.filePath(QStringLiteral("楼.mdb"));
    QFile::remove(path);
    QVERIFY(makeProject(path));
    auto project = std::make_unique<ProjectDatabase>();
    QVERIFY(project->open(path));
    for (int k = 0; k < 5; ++k)
        QVERIFY(project->addEpoch({k, QDate(2024, 1, 1).addDays(10 * k).toString(Qt::ISODate),
                                   QStringLiteral("第%1次").arg(k + 1), QString::number(k + 1)}));
    for (int j = 1; j <= 2; ++j) {
        QVERIFY(project->addPoint({j, QStringLiteral("J%1").arg(j), 1, QStringLiteral("圆形")}));
        for (int k = 0; k < 5; ++k)
            QVERIFY(project->setElevation(k, j, 100.0 - 0.001 * k));
    }
    m_session = std::make_unique<ProjectSession>(m_dir.path(), nullptr);
    m_session->setLastPoint(2);
    QVERIFY(m_session->open(std::move(project)));
}

namespace {

// The cumulative settlement at the last epoch, to 0.001 mm (the elevations
// are differences of metres, not exact in binary).
double lastCumulative(const MonitoringModel &model, int point)
{
    for (const PointStability &p : model.stability->points)
        if (p.number == point)
            return std::round(p.sLast * 1000) / 1000;
    return qQNaN();
}

} // namespace

void ProjectSessionTest::writesReachTheModel()
{
    QCOMPARE(lastCumulative(m_session->model(), 1), -4.0);
    const ProjectSnapshot before = m_session->snapshot();
    QVERIFY(m_session->storeElevation(4, 1, 99.990, WriteHow::Typed));
    // The model after the write reads the new value; a snapshot taken before
    // is a value of its own and keeps the old one.
    QCOMPARE(lastCumulative(m_session->model(), 1), -10.0);
    QCOMPARE(m_session->snapshot().elevation(4, 1), std::optional(99.990));
    QCOMPARE(before.elevation(4, 1), std::optional(99.996));
    // How it was written is the write's own, as the history records it.
    const auto history = must(m_session->store()->history(4, 1));
    QCOMPARE(history.back().entry.how, QStringLiteral("typed"));
    // A point named and an epoch added reach the model too.
    QVERIFY(m_session->namePoint(1, QStringLiteral("东北角")));
    QCOMPARE(m_session->snapshot().point(1)->name, QStringLiteral("东北角"));
    QVERIFY(m_session->addEpoch(QStringLiteral("2024-03-01"), QStringLiteral("第6次"), QStringLiteral("6")));
    QCOMPARE(m_session->model().epochIndex, 5);
    // Writes that belong together stay together, or none of them does.
    const auto together = [this](bool failing) {
        return m_session->writeTogether([failing](ProjectDatabase &project) -> Result<void> {
            if (auto added = project.addEpoch({6, QStringLiteral("2024-03-11"), QStringLiteral("第7次"), QStringLiteral("7")});
                !added)
                return added;
            if (auto set = project.setElevation(6, 1, 99.980); !set)
                return set;
            return failing ? fail(QStringLiteral("报告未能写入")) : success();
        });
    };
    QVERIFY(!together(true));
    QCOMPARE(m_session->snapshot().epochCount(), 6);
    QCOMPARE(must(m_session->store()->epochs()).size(), size_t(6));
    QVERIFY(together(false));
    QCOMPARE(m_session->snapshot().epochCount(), 7);
    QCOMPARE(m_session->snapshot().elevation(6, 1), std::optional(99.980));
    QCOMPARE(lastCumulative(m_session->model(), 1), -20.0);
}

void ProjectSessionTest::undoPutsBackOnlyElevations_data()
{
    QTest::addColumn<QVariant>("recordedOld");
    QTest::addColumn<std::optional<double>>("after");
    QTest::addColumn<bool>("done");
    QTest::newRow("a recorded elevation") << QVariant(99.5) << std::optional(99.5) << true;
    QTest::newRow("none: the elevation is deleted") << QVariant() << std::optional<double>() << true;
    // A history value changed outside the program into text: never 0.000 m.
    QTest::newRow("text in the history") << QVariant(QStringLiteral("九十九")) << std::optional(99.996) << false;
}

void ProjectSessionTest::undoPutsBackOnlyElevations()
{
    QFETCH(QVariant, recordedOld);
    QFETCH(std::optional<double>, after);
    QFETCH(bool, done);
    HistoryRow row;
    row.kind = HistoryRow::Elevation;
    row.cjNo = 4;
    row.cjdNo = 2;
    row.oldValue = recordedOld;
    row.newValue = 99.996;
    const auto undone = m_session->undo(row);
    QCOMPARE(bool(undone), done);
    if (!done)
        QVERIFY2(undone.error().contains(QStringLiteral("不是高程")), qPrintable(undone.error()));
    QCOMPARE(m_session->snapshot().elevation(4, 2), after);
    QCOMPARE(must(m_session->store()->elevation(4, 2)), after);
    const auto history = must(m_session->store()->history(4, 2));
    QCOMPARE(history.back().entry.how, done ? QStringLiteral("undo") : QStringLiteral("typed"));
}

void ProjectSessionTest::typingKeepsTheAnalysisUntilThePause()
{
    QCOMPARE(lastCumulative(m_session->model(), 2), -4.0);
    m_session->setTyping(true);
    QVERIFY(m_session->storeElevation(4, 2, 99.980, WriteHow::Typed));
    // The measured figures are the new ones at once; the analysis waits.
    QCOMPARE(lastCumulative(m_session->model(), 2), -4.0);
    m_session->setTyping(false);
    QCOMPARE(lastCumulative(m_session->model(), 2), -20.0);
}

QTEST_GUILESS_MAIN(ProjectSessionTest)
#include "tst_projectsession.moc"
