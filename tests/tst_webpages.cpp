// The web view at its seam: a snapshot and its one model in, pages out.
// The building's page shows the model's figures as the workbook formats
// them, the alarms in the report's words, a plan and a chart per point
// drawn as SVG, and nothing a browser would run or fetch from elsewhere,
// whatever the names hold. The sessions and the count of failed logins
// with the clock moved by hand.
#include "web/webpages.h"
#include "web/websessions.h"

#include "domain/settlement.h"
#include "testsupport.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

using namespace testsupport;
using namespace std::chrono_literals;

class WebPagesTest : public QObject
{
    Q_OBJECT
private slots:
    void buildingPageShowsTheModel();
    void namesNeverBecomeMarkup_data();
    void namesNeverBecomeMarkup();
    void overviewAlarmsFirst();
    void sessionsExpire_data();
    void sessionsExpire();
    void sessionsAreBounded();
    void failedLoginsAreCounted();
};

namespace {

// Six placed points over eight epochs under constant load after the
// third; point k sinks k × 0.8 mm an epoch, slowing.
ProjectSnapshot building(const QString &pointName = QStringLiteral("J"))
{
    Records records;
    for (int p = 1; p <= 6; ++p)
        records.points.push_back({p, pointName + QString::number(p), p, QStringLiteral("圆形"),
                                  Position{double(p % 3) * 9.0, double(p / 3) * 7.0}});
    for (int k = 0; k < 8; ++k) {
        records.epochs.push_back({k, QDate(2026, 1, 1).addDays(20 * k).toString(Qt::ISODate),
                                  QStringLiteral("第%1次").arg(k + 1), QString::number(std::min(3 + k, 6))});
        for (int p = 1; p <= 6; ++p)
            records.elevations.push_back({k, p, 50 - 0.0008 * p * k * (1 - k / 20.0)});
    }
    return snapshotOf(records);
}

MonitoringModel modelOf(const ProjectSnapshot &snapshot)
{
    DeformationSettings deformation;
    deformation.thresholds.cumulativeMm = 20;
    MonitoringRequest request;
    request.lastPoint = 6;
    return monitoringModel(snapshot, deformation, request);
}

QString pageOf(const ProjectSnapshot &snapshot, const MonitoringModel &model, const QString &name)
{
    BuildingPage page;
    page.user = QStringLiteral("client");
    page.name = name;
    page.snapshot = &snapshot;
    page.model = &model;
    return QString::fromUtf8(buildingPage(page));
}

// What a browser would run, or fetch from elsewhere: no element but the
// page's own, no handler or script address in any tag.
void checkInert(const QString &html)
{
    static const QSet<QString> elements{
        QStringLiteral("!DOCTYPE"), QStringLiteral("html"), QStringLiteral("head"), QStringLiteral("meta"),
        QStringLiteral("title"), QStringLiteral("link"), QStringLiteral("body"), QStringLiteral("header"),
        QStringLiteral("a"), QStringLiteral("span"), QStringLiteral("form"), QStringLiteral("button"),
        QStringLiteral("main"), QStringLiteral("h1"), QStringLiteral("h2"), QStringLiteral("p"),
        QStringLiteral("section"), QStringLiteral("ul"), QStringLiteral("li"), QStringLiteral("div"),
        QStringLiteral("table"), QStringLiteral("tr"), QStringLiteral("th"), QStringLiteral("td"),
        QStringLiteral("br"), QStringLiteral("figure"), QStringLiteral("label"), QStringLiteral("input"),
        QStringLiteral("svg"), QStringLiteral("desc"), QStringLiteral("defs"), QStringLiteral("g"),
        QStringLiteral("path"), QStringLiteral("text"), QStringLiteral("polyline"), QStringLiteral("rect"),
        QStringLiteral("circle"), QStringLiteral("ellipse"), QStringLiteral("line"), QStringLiteral("polygon"),
        QStringLiteral("clipPath"), QStringLiteral("image")};
    const QRegularExpression tag(QStringLiteral("<(/?)([!A-Za-z][A-Za-z0-9]*)([^>]*)>"));
    for (auto it = tag.globalMatch(html); it.hasNext();) {
        const auto match = it.next();
        QVERIFY2(elements.contains(match.captured(2)), qPrintable(match.captured(0)));
        const QString attributes = match.captured(3);
        QVERIFY2(!QRegularExpression(QStringLiteral("\\son[a-z]+\\s*="), QRegularExpression::CaseInsensitiveOption)
                      .match(attributes)
                      .hasMatch(),
                 qPrintable(match.captured(0)));
        QVERIFY2(!attributes.contains(QLatin1String("javascript:"), Qt::CaseInsensitive), qPrintable(match.captured(0)));
    }
    // Only the SVG namespace names another site, and nothing is loaded from one.
    QString rest = html;
    rest.remove(QStringLiteral("http://www.w3.org/2000/svg"));
    rest.remove(QStringLiteral("http://www.w3.org/1999/xlink"));
    QVERIFY2(!rest.contains(QLatin1String("http://")) && !rest.contains(QLatin1String("https://")),
             qPrintable(rest.mid(rest.indexOf(QLatin1String("http")) - 40, 120)));
    QVERIFY(!rest.contains(QLatin1String("src=")));
}

} // namespace

void WebPagesTest::buildingPageShowsTheModel()
{
    const ProjectSnapshot snapshot = building();
    const MonitoringModel model = modelOf(snapshot);
    QVERIFY(model.history);
    QVERIFY(!model.figures.alarms.empty());
    const QString html = pageOf(snapshot, model, QStringLiteral("一号楼"));
    checkInert(html);
    // Every point's cumulative settlement at the last epoch, as the
    // workbook writes it, in its row.
    for (const EpochDeformation::Settled &s : model.history->epochs.back().settled) {
        const QRegularExpression row(QStringLiteral("<tr data-point=\"%1\">(.*?)</tr>").arg(s.number));
        const QString cells = row.match(html).captured(1);
        QVERIFY2(cells.contains(QStringLiteral(">%1</td>").arg(FormatSettlement(s.sMm / 1000))), qPrintable(cells));
    }
    for (const Alarm &alarm : model.figures.alarms)
        QVERIFY(html.contains(htmlEscaped(alarmText(alarm, snapshot))));
    // A plan, and a chart for each point analysed.
    QCOMPARE(html.count(QLatin1String("<div class=\"drawing plan\"><svg")), 1);
    QCOMPARE(html.count(QLatin1String("<figure class=\"drawing chart\"")), int(model.stability->points.size()));
    QCOMPARE(int(model.stability->points.size()), 6);
    // Sized by the page, not in millimetres.
    QVERIFY(!html.contains(QLatin1String("mm\" height=")));
    // The downloads under the building's own address.
    QVERIFY(html.contains(QStringLiteral("href=\"%1/report.pdf\"").arg(buildingPath(QStringLiteral("一号楼")))));
}

void WebPagesTest::namesNeverBecomeMarkup_data()
{
    QTest::addColumn<QString>("project");
    QTest::addColumn<QString>("point");
    QTest::newRow("script") << QStringLiteral("<script>alert(1)</script>") << QStringLiteral("<script>");
    QTest::newRow("attribute") << QStringLiteral("\" onmouseover=\"x") << QStringLiteral("' onload='y");
    QTest::newRow("address") << QStringLiteral("楼/../../etc?x=1#y") << QStringLiteral("javascript:alert(1)");
    QTest::newRow("entities") << QStringLiteral("A&amp;B") << QStringLiteral("&lt;b&gt;");
}

void WebPagesTest::namesNeverBecomeMarkup()
{
    QFETCH(QString, project);
    QFETCH(QString, point);
    const ProjectSnapshot snapshot = building(point);
    const MonitoringModel model = modelOf(snapshot);
    const QString html = pageOf(snapshot, model, project);
    checkInert(html);
    QVERIFY(html.contains(htmlEscaped(project)));
    // The building's own address keeps its name whole, percent-encoded.
    QVERIFY(buildingPath(project).startsWith(QLatin1String("/projects/")));
    QVERIFY(!buildingPath(project).mid(10).contains(QLatin1Char('/')));

    FirmBuilding listed;
    listed.overview = buildingOverview(project, snapshot, model, QDate(2026, 12, 9));
    const QString overview = QString::fromUtf8(overviewPage(point, {listed}, QDate(2026, 12, 9)));
    checkInert(overview);
    QVERIFY(overview.contains(htmlEscaped(project)));
}

void WebPagesTest::overviewAlarmsFirst()
{
    const ProjectSnapshot snapshot = building();
    const MonitoringModel model = modelOf(snapshot);
    MonitoringModel quiet = model;
    quiet.figures.alarms.clear();
    std::vector<BuildingOverview> read{buildingOverview(QStringLiteral("甲"), snapshot, quiet, QDate(2026, 12, 9)),
                                       buildingOverview(QStringLiteral("乙"), snapshot, model, QDate(2026, 12, 9))};
    sortOverview(read);
    std::vector<FirmBuilding> firm;
    for (const BuildingOverview &b : read)
        firm.push_back({b, QString()});
    BuildingOverview unread;
    unread.name = QStringLiteral("丙");
    firm.push_back({unread, QStringLiteral("工程无法读取")});
    const QString html = QString::fromUtf8(overviewPage(QStringLiteral("client"), firm, QDate(2026, 12, 9)));
    const int alarmed = html.indexOf(QStringLiteral(">乙</a>")), calm = html.indexOf(QStringLiteral(">甲</a>"));
    QVERIFY2(alarmed > 0 && calm > alarmed, qPrintable(html.mid(html.indexOf(QLatin1String("<table")))));
    QVERIFY(html.indexOf(QLatin1String("<tr class=\"alarm\">")) < alarmed);
    QVERIFY(html.contains(QStringLiteral("个测点预警")));
    QVERIFY(html.contains(QStringLiteral("无法读取：工程无法读取")));
}

void WebPagesTest::sessionsExpire_data()
{
    QTest::addColumn<int>("usedEverySeconds");
    QTest::addColumn<int>("lastUseSeconds");
    QTest::addColumn<bool>("alive");
    QTest::newRow("used within the idle time") << 60 << 1700 << true;
    QTest::newRow("idle past it") << 1900 << 1900 << false;
    QTest::newRow("used often, past its lifetime") << 1500 << 12 * 3600 << false;
    QTest::newRow("used often, just within it") << 1500 << 12 * 3600 - 1 << true;
}

void WebPagesTest::sessionsExpire()
{
    QFETCH(int, usedEverySeconds);
    QFETCH(int, lastUseSeconds);
    QFETCH(bool, alive);
    const WebLimits limits;
    SessionTable<int> sessions(limits);
    const auto start = WebClock::time_point() + 1000h;
    const std::string token = sessions.add("client", std::make_shared<int>(7), start);
    QCOMPARE(token.size(), size_t(64));
    int at = 0;
    for (at = usedEverySeconds; at < lastUseSeconds; at += usedEverySeconds)
        QVERIFY(sessions.find(token, start + std::chrono::seconds(at)));
    std::string user;
    const auto found = sessions.find(token, start + std::chrono::seconds(lastUseSeconds), &user);
    QCOMPARE(bool(found), alive);
    if (alive) {
        QCOMPARE(*found, 7);
        QCOMPARE(user, std::string("client"));
    } else {
        QCOMPARE(sessions.size(), size_t(0));
    }
}

void WebPagesTest::sessionsAreBounded()
{
    WebLimits limits;
    limits.maxSessions = 2;
    SessionTable<int> sessions(limits);
    const auto now = WebClock::time_point() + 1000h;
    const std::string a = sessions.add("a", std::make_shared<int>(1), now);
    const std::string b = sessions.add("b", std::make_shared<int>(2), now);
    QVERIFY(a != b);
    QVERIFY(sessions.add("c", std::make_shared<int>(3), now).empty());
    // Neither a token's hash nor a changed token opens it.
    QVERIFY(!sessions.find(tokenKey(a), now));
    std::string changed = a;
    changed[0] = changed[0] == 'a' ? 'b' : 'a';
    QVERIFY(!sessions.find(changed, now));
    sessions.remove(a);
    QVERIFY(!sessions.find(a, now));
    QVERIFY(!sessions.add("c", std::make_shared<int>(3), now).empty());
    // Expired sessions make room.
    QVERIFY(!sessions.add("d", std::make_shared<int>(4), now + 31min).empty());

    // One login's fifth session ends its least recently used one.
    SessionTable<int> own(WebLimits{});
    std::vector<std::string> tokens;
    for (int i = 0; i < 4; ++i)
        tokens.push_back(own.add("client", std::make_shared<int>(i), now + std::chrono::seconds(i)));
    QVERIFY(own.find(tokens[0], now + 10s));
    const std::string fifth = own.add("client", std::make_shared<int>(5), now + 20s);
    QVERIFY(!fifth.empty());
    QVERIFY(own.find(tokens[0], now + 21s));
    QVERIFY(!own.find(tokens[1], now + 21s));
    QCOMPARE(own.size(), size_t(4));
}

void WebPagesTest::failedLoginsAreCounted()
{
    const WebLimits limits;
    LoginThrottle throttle(limits);
    const auto now = WebClock::time_point() + 1000h;
    for (int i = 0; i < limits.failuresPerLogin; ++i) {
        QVERIFY(throttle.allowed("client", "10.0.0.1", now));
        throttle.failed("client", "10.0.0.1", now);
    }
    QVERIFY(!throttle.allowed("client", "10.0.0.2", now + 14min));
    QVERIFY(throttle.allowed("other", "10.0.0.1", now));
    QVERIFY(throttle.allowed("client", "10.0.0.1", now + 15min));
    // Many names from one address: the address is refused.
    for (int i = 0; i < limits.failuresPerAddress - limits.failuresPerLogin; ++i)
        throttle.failed("name" + std::to_string(i), "10.0.0.1", now);
    QVERIFY(!throttle.allowed("other", "10.0.0.1", now));
    QVERIFY(throttle.allowed("other", "10.0.0.3", now));
    // A success forgets the name's failures, not the address's.
    throttle.succeeded("client");
    QVERIFY(throttle.allowed("client", "10.0.0.2", now));
    QVERIFY(!throttle.allowed("client", "10.0.0.1", now));
}

QTEST_MAIN(WebPagesTest)
#include "tst_webpages.moc"
