#include "domain/stability.h"

#include "project/settingsstore.h"

#include "testsupport.h"
#include "survey/domaininputs.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace testsupport;

using Series = std::vector<SeriesPoint>;
using OptionalValue = std::optional<double>;
Q_DECLARE_METATYPE(Series)
Q_DECLARE_METATYPE(OptionalValue)
Q_DECLARE_METATYPE(Verdict)

namespace {

// (t, s) pairs as a series, epochs numbered in order.
Series seriesOf(std::initializer_list<std::pair<double, double>> entries)
{
    Series series;
    for (const auto &[t, s] : entries)
        series.push_back({t, s, int(series.size())});
    return series;
}

bool near(double a, double b, double tolerance = 1e-9)
{
    return std::fabs(a - b) <= tolerance * std::max(1.0, std::fabs(b));
}

} // namespace

class StabilityTest : public QObject
{
    Q_OBJECT
private slots:
    void rates_data();
    void rates();
    void verdictBoundaries_data();
    void verdictBoundaries();
    void hyperbolicGivesBackItsCurve();
    void asaokaGivesBackTheExponentialsEnd_data();
    void asaokaGivesBackTheExponentialsEnd();
    void intervalsOfKnownAnswers_data();
    void intervalsOfKnownAnswers();
    void tooLittleToPredict_data();
    void tooLittleToPredict();
    void forecastRule_data();
    void forecastRule();
    void overTheSnapshot();
    void buildingSettingsOverTheProgram_data();
    void buildingSettingsOverTheProgram();
    void pointsTheReportNames();
};

void StabilityTest::rates_data()
{
    QTest::addColumn<Series>("series");
    QTest::addColumn<OptionalValue>("maxRate");
    QTest::addColumn<OptionalValue>("meanRate");
    // W = 100 throughout.
    QTest::addRow("one epoch") << seriesOf({{0, 0}}) << OptionalValue() << OptionalValue();
    QTest::addRow("an interval ending at t_last - W is outside the window")
        << seriesOf({{0, 0}, {50, -10}, {150, -11}}) << OptionalValue(-0.01)
        << OptionalValue(-0.01);
    QTest::addRow("one day later it is inside")
        << seriesOf({{0, 0}, {52, -10}, {151, -11}}) << OptionalValue(-10.0 / 52)
        << OptionalValue(-11.0 / 151);
    QTest::addRow("largest magnitude keeps its sign")
        << seriesOf({{0, 0}, {100, -5}, {130, -5.3}, {160, -4.7}, {200, -4.9}})
        << OptionalValue(0.02) << OptionalValue(0.001);
    QTest::addRow("an interval of no days is skipped")
        << seriesOf({{0, 0}, {120, -3}, {120, -9}, {140, -9.2}}) << OptionalValue(-0.025)
        << OptionalValue(-9.2 / 140);
    QTest::addRow("nothing old enough for a mean rate")
        << seriesOf({{0, 0}, {50, -3}, {90, -4}}) << OptionalValue(-0.06) << OptionalValue();
    QTest::addRow("an epoch exactly W days back starts the mean")
        << seriesOf({{0, 0}, {120, -3}, {220, -4}}) << OptionalValue(-0.01)
        << OptionalValue(-0.01);
    QTest::addRow("the mean from the latest epoch old enough")
        << seriesOf({{0, 0}, {20, -3}, {60, -5}, {160, -6}}) << OptionalValue(-0.01)
        << OptionalValue(-0.01);
}

void StabilityTest::rates()
{
    QFETCH(Series, series);
    QFETCH(OptionalValue, maxRate);
    QFETCH(OptionalValue, meanRate);
    const auto gotMax = ::maxRate(series, 100);
    const auto gotMean = ::meanRate(series, 100);
    QCOMPARE(gotMax.has_value(), maxRate.has_value());
    if (maxRate)
        QVERIFY2(near(*gotMax, *maxRate), qPrintable(QString::number(*gotMax, 'g', 17)));
    QCOMPARE(gotMean.has_value(), meanRate.has_value());
    if (meanRate)
        QVERIFY2(near(*gotMean, *meanRate), qPrintable(QString::number(*gotMean, 'g', 17)));
}

void StabilityTest::verdictBoundaries_data()
{
    // L = 0.05 (0.5 mm over 10 days is exactly 0.05 in binary as well).
    QTest::addColumn<Series>("series");
    QTest::addColumn<Verdict>("verdict");
    QTest::addRow("t_last one day short of W") << seriesOf({{0, 0}, {99, -0.1}})
                                               << Verdict::Insufficient;
    QTest::addRow("t_last equal to W, slow") << seriesOf({{0, 0}, {90, -3}, {100, -3.4}})
                                             << Verdict::Stable;
    QTest::addRow("rate equal to the limit") << seriesOf({{0, 0}, {90, -3}, {100, -3.5}})
                                             << Verdict::Unstable;
    QTest::addRow("rising at the limit") << seriesOf({{0, 0}, {90, -3}, {100, -2.5}})
                                         << Verdict::Unstable;
    QTest::addRow("fast settling long ago") << seriesOf({{0, 0}, {30, -30}, {200, -31}})
                                            << Verdict::Stable;
}

void StabilityTest::verdictBoundaries()
{
    QFETCH(Series, series);
    QFETCH(Verdict, verdict);
    StabilitySettings settings;
    settings.limit = 0.05;
    QCOMPARE(verdictText(pointVerdict(series, settings)), verdictText(verdict));
}

void StabilityTest::hyperbolicGivesBackItsCurve()
{
    // s − s0 = x ÷ (a·x + b) from t0 = 60, s0 = −12.
    const double a = -0.025, b = -2.5, t0 = 60, s0 = -12;
    Series period{{t0, s0, 0}};
    for (const double x : {17.0, 45.0, 80.0, 121.0, 190.0, 260.0})
        period.push_back({t0 + x, s0 + x / (a * x + b), int(period.size())});
    const auto fit = fitHyperbolic(period);
    QVERIFY(fit);
    QVERIFY(near(fit->a, a));
    QVERIFY(near(fit->b, b));
    QVERIFY(near(fit->sInf, s0 + 1 / a));
    QVERIFY(near(fit->r2, 1));
    QVERIFY(near(hyperbolicAt(*fit, period.front(), t0 + 80), period[3].s));
}

void StabilityTest::asaokaGivesBackTheExponentialsEnd_data()
{
    QTest::addColumn<double>("total");
    QTest::addColumn<double>("tau");
    QTest::addColumn<int>("step");
    QTest::addRow("40 mm, tau 90 d, every 30 d") << -40.0 << 90.0 << 30;
    QTest::addRow("25 mm, tau 200 d, every 15 d") << -25.0 << 200.0 << 15;
}

void StabilityTest::asaokaGivesBackTheExponentialsEnd()
{
    QFETCH(double, total);
    QFETCH(double, tau);
    QFETCH(int, step);
    // From t0 = 20 with s0 = −3: s = s0 + S·(1 − e^(−(t − t0)/τ)), sampled
    // every Δ days, so that the resampling hits the samples themselves.
    const double t0 = 20, s0 = -3;
    Series period;
    for (int n = 0; n <= 12; ++n) {
        const double x = double(n) * step;
        period.push_back({t0 + x, s0 + total * (1 - std::exp(-x / tau)), n});
    }
    const auto fit = fitAsaoka(period, step);
    QVERIFY(fit);
    QVERIFY2(near(fit->sInf, s0 + total, 1e-9), qPrintable(QString::number(fit->sInf, 'g', 17)));
    QVERIFY(near(fit->beta1, std::exp(-step / tau)));
    QVERIFY(near(asaokaAt(*fit, period.front(), step, period[5].t), period[5].s, 1e-9));
}

void StabilityTest::forecastRule_data()
{
    // A constant-load period and what the rule says of its hyperbolic fit:
    // nothing when it is trusted, else the start of the reason.
    QTest::addColumn<Series>("period");
    QTest::addColumn<QString>("reason");
    QTest::addRow("a good fit")
        << seriesOf({{0, 0}, {30, -5.4545}, {60, -8.5714}, {90, -10.5882}, {120, -12}, {150, -13.0435}, {180, -13.8462}})
        << QString();
    // s = x ÷ (0.01·x − 4): faster and faster, a pole at x = 400.
    QTest::addRow("accelerating point")
        << seriesOf({{0, 0}, {50, -14.2857}, {100, -33.3333}, {150, -60}, {200, -100}, {250, -166.667}, {300, -300}})
        << QStringLiteral("曲线有奇点");
    // Came to rest at −29 mm, then 5.6 mm more at the last epoch: the fit
    // ends at −34.1 mm, above the −35 mm already observed.
    QTest::addRow("short of the observed settlement")
        << seriesOf({{0, 0}, {30, -20}, {60, -25}, {90, -27}, {120, -28}, {150, -28.5}, {180, -29}, {210, -29.2},
                     {240, -29.3}, {270, -29.4}, {300, -35}})
        << QStringLiteral("预测值小于已发生沉降");
    QTest::addRow("4 epochs") << seriesOf({{0, 0}, {30, -5.4545}, {60, -8.5714}, {90, -10.5882}})
                              << QStringLiteral("拟合点数不足（4 次观测，至少 5 次）");
    // Scattered: a final settlement of −107 mm, ±559 mm at 95 %.
    QTest::addRow("an uncertain end")
        << seriesOf({{0, 0}, {30, -5}, {60, -20}, {90, -12}, {120, -30}, {150, -18}, {180, -33}})
        << QStringLiteral("预测终值不确定：±520 %（上限 20 %）");
}

void StabilityTest::forecastRule()
{
    QFETCH(Series, period);
    QFETCH(QString, reason);
    const auto fitted = fitHyperbolic(period);
    const QString said = hyperbolicRejection(fitted, period, 20);
    QCOMPARE(said, reason);
    if (reason.isEmpty()) {
        QVERIFY(fitted);
        QVERIFY(near(fitted->sInf, -20, 1e-3)); // s = x ÷ (0.05·x + 4) ends at −20 mm
    }
}

void StabilityTest::intervalsOfKnownAnswers_data()
{
    // Series with a known end, and whether each method trusts it. Noise of
    // ±0.3 mm, alternating, as levelling leaves it.
    QTest::addColumn<Series>("period");
    QTest::addColumn<double>("end");
    // 1: trusted, its interval holding the end; 0: refused; −1: either (the
    // method is not made for that curve).
    QTest::addColumn<int>("hyperbolic");
    QTest::addColumn<int>("asaoka");
    const auto made = [](auto curve, double noise) {
        Series series;
        for (int k = 0; k <= 12; ++k)
            series.push_back({30.0 * k, k == 0 ? 0 : curve(30.0 * k) + (k % 2 ? noise : -noise), k});
        return series;
    };
    // s = x ÷ (0.05·x + 4) − … ends at −20 mm.
    QTest::addRow("a hyperbola with noise") << made([](double t) { return -t / (0.05 * t + 4); }, 0.3) << -20.0
                                            << 1 << -1;
    // s = −30·(1 − e^(−t/60)): Asaoka's β1 = e^(−1/2), the end −30 mm.
    QTest::addRow("an exponential") << made([](double t) { return -30 * (1 - std::exp(-t / 60)); }, 0.0) << -30.0
                                    << -1 << 1;
    // 0.05 mm/d and slowing hardly at all: β1 near 1, an end nobody knows.
    QTest::addRow("a slow creep") << made([](double t) { return -0.05 * t - 1e-5 * t * t; }, 0.3) << 0.0 << 0
                                  << 0;
}

void StabilityTest::intervalsOfKnownAnswers()
{
    QFETCH(Series, period);
    QFETCH(double, end);
    QFETCH(int, hyperbolic);
    QFETCH(int, asaoka);
    const auto h = fitHyperbolic(period);
    const QString hReason = hyperbolicRejection(h, period, 20);
    if (hyperbolic >= 0)
        QVERIFY2(hReason.isEmpty() == (hyperbolic == 1), qPrintable(hReason));
    if (hyperbolic == 1) {
        // The interval holds the true end and is narrow.
        QVERIFY2(h->sInfLow() <= end && end <= h->sInfHigh(),
                 qPrintable(QStringLiteral("%1 .. %2").arg(h->sInfLow()).arg(h->sInfHigh())));
        QVERIFY(h->sInfHalfWidth < 0.2 * std::fabs(h->sInf));
    }
    const QString aReason = asaokaRejection(period, 30, 20);
    if (asaoka >= 0)
        QVERIFY2(aReason.isEmpty() == (asaoka == 1), qPrintable(aReason));
    if (asaoka == 1) {
        const auto a = fitAsaoka(period, 30);
        QVERIFY(a);
        QVERIFY2(a->sInfLow() - 1e-6 <= end && end <= a->sInfHigh() + 1e-6,
                 qPrintable(QStringLiteral("%1 .. %2").arg(a->sInfLow()).arg(a->sInfHigh())));
    }
}

void StabilityTest::tooLittleToPredict_data()
{
    QTest::addColumn<Series>("period");
    QTest::addColumn<bool>("hyperbolic");
    QTest::addColumn<bool>("asaoka");
    QTest::addRow("two epochs after t0") << seriesOf({{0, 0}, {30, -5}, {60, -8}}) << false
                                         << false;
    QTest::addRow("three after t0, three Asaoka pairs")
        << seriesOf({{0, 0}, {30, -5}, {60, -8}, {90, -9.5}}) << true << true;
    QTest::addRow("unchanged epochs are skipped by the hyperbola")
        << seriesOf({{0, 0}, {30, 0}, {60, -8}, {90, -9.5}}) << false << true;
    QTest::addRow("settling at a constant rate has no end")
        << seriesOf({{0, 0}, {30, -3}, {60, -6}, {90, -9}, {120, -12}}) << false << false;
    QTest::addRow("accelerating has no end")
        << seriesOf({{0, 0}, {30, -1}, {60, -3}, {90, -7}, {120, -15}}) << true << false;
}

void StabilityTest::tooLittleToPredict()
{
    QFETCH(Series, period);
    QFETCH(bool, hyperbolic);
    QFETCH(bool, asaoka);
    QCOMPARE(fitHyperbolic(period).has_value(), hyperbolic);
    QCOMPARE(fitAsaoka(period, 30).has_value(), asaoka);
}

void StabilityTest::overTheSnapshot()
{
    // Floors 3, 6, 9, 9, 9: the constant-load period starts at epoch 2.
    // Point 1 settles and slows down; point 2 has 0 (no value) in epoch 3;
    // point 3 has no first elevation; point 4 is above the last point.
    const ProjectSnapshot snapshot = snapshotOf(
        {{{0, "2018-01-01", "A", "3"},
          {1, "2018-03-02", "B", "6"},
          {2, "2018-05-01", "C", "9"},
          {3, "2018-06-30", "D", "9.0"},
          {4, "2018-08-29", "E", "9"}},
         {{0, 1, 10.0}, {1, 1, 9.99}, {2, 1, 9.985}, {3, 1, 9.983}, {4, 1, 9.9825},
          {0, 2, 20.0}, {1, 2, 19.998}, {3, 2, 0.0}, {4, 2, 19.9975},
          {1, 3, 30.0}, {4, 3, 29.99},
          {0, 4, 5.0}, {4, 4, 4.0}},
         {{1, "J1", 1, "A"}, {2, "J2", 2, "A"}, {3, "J3", 3, "A"}},
         {}});
    const StabilityAnalysis analysis = analyseStability(snapshot, StabilitySettings{}, 3);
    QCOMPARE(analysis.points.size(), size_t(2));
    // Point 3 is left out, and told with its reason.
    QCOMPARE(analysis.leftOut.size(), size_t(1));
    QCOMPARE(analysis.leftOut.front().first, "J3");
    QCOMPARE(analysis.leftOut.front().second, QStringLiteral("首次观测没有高程"));
    const PointStability &j1 = analysis.points[0];
    QCOMPARE(j1.name, "J1");
    QCOMPARE(j1.series.size(), size_t(5));
    // 2018-01-01 to 2018-08-29 is 240 days.
    QCOMPARE(j1.tLast, 240.0);
    QVERIFY(near(j1.sLast, -17.5));
    // Within the last 100 days: (−17.0 − −15.0) ÷ 60 and (−17.5 − −17.0) ÷ 60.
    QVERIFY(near(*j1.maxRate, -2.0 / 60));
    QCOMPARE(verdictText(j1.verdict), QStringLiteral("稳定"));
    QVERIFY(j1.loadStart);
    QCOMPARE(j1.loadStart->t, 120.0);
    const PointStability &j2 = analysis.points[1];
    QCOMPARE(j2.series.size(), size_t(3)); // epochs 0, 1 and 4
    QVERIFY(near(*j2.maxRate, -0.5 / 180));
    QCOMPARE(j2.loadStart->epoch, 4);
    QVERIFY(!j2.hyperbolic);
    QCOMPARE(verdictText(analysis.building), QStringLiteral("稳定"));

    StabilitySettings strict;
    strict.limit = 0.03;
    QCOMPARE(verdictText(analyseStability(snapshot, strict, 3).building),
             QStringLiteral("未稳定"));
}

void StabilityTest::buildingSettingsOverTheProgram_data()
{
    // The program-wide settings say 0.03 mm/d, 30 % and 120 d; the project may hold its own.
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("own");
    QTest::addColumn<double>("limit");
    QTest::addColumn<double>("maxInterval");
    QTest::addColumn<int>("window");
    QTest::newRow("none of its own") << QString() << QString() << 0.03 << 30.0 << 120;
    QTest::newRow("its own rate") << QStringLiteral("稳定速率") << QStringLiteral("0.02") << 0.02 << 30.0 << 120;
    QTest::newRow("its own interval") << QStringLiteral("预测区间上限") << QStringLiteral("15") << 0.03 << 15.0 << 120;
    QTest::newRow("its own days") << QStringLiteral("稳定天数") << QStringLiteral("60") << 0.03 << 30.0 << 60;
    QTest::newRow("a word: the program's") << QStringLiteral("稳定速率") << QStringLiteral("快") << 0.03 << 30.0 << 120;
    QTest::newRow("negative: the program's") << QStringLiteral("稳定速率") << QStringLiteral("-0.02") << 0.03 << 30.0
                                             << 120;
    QTest::newRow("an interval above 1000 %: the default") << QStringLiteral("预测区间上限") << QStringLiteral("1500")
                                                           << 0.03 << 20.0 << 120;
    QTest::newRow("days beyond any count: bounded") << QStringLiteral("稳定天数") << QStringLiteral("1e300") << 0.03
                                                    << 30.0 << 1000000;
}

void StabilityTest::buildingSettingsOverTheProgram()
{
    QFETCH(QString, key);
    QFETCH(QString, own);
    QFETCH(double, limit);
    QFETCH(double, maxInterval);
    QFETCH(int, window);
    QTemporaryDir dir;
    QVERIFY(makeSystemDatabase(dir.path()));
    SettingsStore program;
    QVERIFY(program.open(dir.filePath(QStringLiteral("Sdmx.mdb"))));
    QVERIFY(program.writeSetting(QStringLiteral("稳定速率"), QStringLiteral("0.03")));
    QVERIFY(program.writeSetting(QStringLiteral("预测区间上限"), QStringLiteral("30")));
    QVERIFY(program.writeSetting(QStringLiteral("稳定天数"), QStringLiteral("120")));
    std::map<QString, QString> fields{{QStringLiteral("工程名称"), QStringLiteral("甲楼")}};
    if (!key.isEmpty())
        fields[key] = own;
    const StabilitySettings settings = stabilitySettingsFrom(program, fields);
    QCOMPARE(settings.limit, limit);
    QCOMPARE(settings.maxIntervalPercent, maxInterval);
    QCOMPARE(settings.window, window);
    QCOMPARE(settings.step, 30);
}

void StabilityTest::pointsTheReportNames()
{
    // The fastest point either way, and the unstable ones most settled
    // first (ties in point order), at most as many as asked.
    StabilityAnalysis analysis;
    const auto point = [](int number, Verdict verdict, double sLast, std::optional<double> rate) {
        PointStability p;
        p.number = number;
        p.verdict = verdict;
        p.sLast = sLast;
        p.maxRate = rate;
        return p;
    };
    analysis.points = {point(1, Verdict::Unstable, -12, -0.05), point(2, Verdict::Stable, -30, 0.02),
                       point(3, Verdict::Unstable, -20, std::nullopt), point(4, Verdict::Unstable, -12, 0.08),
                       point(5, Verdict::Insufficient, -40, -0.07)};
    QCOMPARE(fastestPoint(analysis)->number, 4);
    analysis.points[3].maxRate = 0.04;
    QCOMPARE(fastestPoint(analysis)->number, 5);
    std::vector<int> numbers;
    for (const PointStability *p : mostSettledUnstable(analysis, 2))
        numbers.push_back(p->number);
    QCOMPARE(numbers, std::vector<int>({3, 1}));
    QCOMPARE(mostSettledUnstable(analysis, 12).size(), size_t(3));
    QVERIFY(!fastestPoint(StabilityAnalysis()));
}

QTEST_GUILESS_MAIN(StabilityTest)
#include "tst_stability.moc"
