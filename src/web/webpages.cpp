#include "web/webpages.h"

#include "domain/settlement.h"
#include "domain/stability.h"
#include "pdfreport/reporttexts.h"
#include "preview/planpicture.h"
#include "web/webdrawings.h"

#include <QUrl>

#include <algorithm>

namespace {

const QString programTitle = QStringLiteral("沉降观测");

QString frame(const QString &title, const QString &user, const QString &body)
{
    QString page = QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                                  "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                                  "<title>%1 · %2</title><link rel=\"stylesheet\" href=\"/style.css\"></head>\n<body>")
                       .arg(htmlEscaped(title), programTitle);
    if (!user.isEmpty())
        page += QStringLiteral("<header><a class=\"home\" href=\"/\">%1 · 概览</a><span class=\"who\">%2</span>"
                               "<form method=\"post\" action=\"/logout\"><button type=\"submit\">退出登录</button>"
                               "</form></header>\n")
                    .arg(programTitle, htmlEscaped(user));
    page += QStringLiteral("<main>") + body + QStringLiteral("</main></body></html>\n");
    return page;
}

// A table cell; `label`, when given, names it on a phone, where each
// building of 概览 is a card of labelled lines.
QString cell(const QString &text, const QString &cls = QString(), const QString &label = QString())
{
    QString attributes;
    if (!cls.isEmpty())
        attributes += QStringLiteral(" class=\"%1\"").arg(cls);
    if (!label.isEmpty())
        attributes += QStringLiteral(" data-label=\"%1\"").arg(label);
    return QStringLiteral("<td%1>%2</td>").arg(attributes, htmlEscaped(text));
}

const QStringList overviewHeadings{QStringLiteral("工程"),   QStringLiteral("末次观测"), QStringLiteral("观测日期"),
                                   QStringLiteral("距今（天）"), QStringLiteral("测点"), QStringLiteral("预警"),
                                   QStringLiteral("稳定性")};

QString headings(const QStringList &names)
{
    QString row = QStringLiteral("<tr>");
    for (const QString &name : names)
        row += QStringLiteral("<th>%1</th>").arg(htmlEscaped(name));
    return row + QStringLiteral("</tr>");
}

QString epochText(const Epoch &epoch)
{
    return QStringLiteral("%1（%2）").arg(epoch.name, epoch.date);
}

QString verdictClass(Verdict verdict)
{
    return verdict == Verdict::Stable ? QStringLiteral("stable") : QStringLiteral("unsettled");
}

QString overviewRow(const FirmBuilding &building)
{
    const BuildingOverview &b = building.overview;
    QString row = QStringLiteral("<tr%1>").arg(b.alarms > 0 ? QStringLiteral(" class=\"alarm\"") : QString());
    const QString link = QStringLiteral("<td class=\"name\"><a href=\"%1\">%2</a></td>")
                             .arg(htmlEscaped(buildingPath(b.name)), htmlEscaped(b.name));
    if (!building.problem.isEmpty())
        return row + link + QStringLiteral("<td colspan=\"6\">无法读取：%1</td></tr>").arg(htmlEscaped(building.problem));
    row += link;
    const QStringList &h = overviewHeadings;
    row += cell(b.last ? b.last->name : QStringLiteral("—"), QString(), h[1]);
    row += cell(b.last ? b.last->date : QStringLiteral("—"), QString(), h[2]);
    row += cell(b.daysSince ? QString::number(*b.daysSince) : QStringLiteral("—"), QStringLiteral("number"), h[3]);
    row += cell(QString::number(b.observed), QStringLiteral("number"), h[4]);
    if (b.worst)
        row += cell(QStringLiteral("%1（%2 个测点预警）").arg(b.worstText).arg(b.pointsInAlarm), QStringLiteral("warn"), h[5]);
    else
        row += cell(QStringLiteral("无"), QString(), h[5]);
    row += cell(verdictText(b.verdict), verdictClass(b.verdict), h[6]);
    return row + QStringLiteral("</tr>\n");
}

QString alarmsSection(const BuildingPage &page)
{
    const std::vector<Alarm> &alarms = page.model->figures.alarms;
    QString html = QStringLiteral("<section id=\"alarms\"><h2>预警</h2>");
    if (alarms.empty())
        return html + QStringLiteral("<p>末次观测无预警。</p></section>\n");
    html += QStringLiteral("<ul class=\"alarms\">");
    for (const Alarm &alarm : alarms)
        html += QStringLiteral("<li>%1</li>").arg(htmlEscaped(alarmText(alarm, *page.snapshot)));
    html += QStringLiteral("</ul><p class=\"note\">%1</p></section>\n")
                .arg(htmlEscaped(thresholdsLine(page.model->deformation.thresholds)));
    return html;
}

QString planSection(const BuildingPage &page)
{
    QString html = QStringLiteral("<section id=\"plan\"><h2>测点平面布置</h2>");
    if (!page.model->placed)
        return html + QStringLiteral("<p>测点尚未在平面图上定位（至少三个测点有坐标才能绘制）。</p></section>\n");
    const PlanPicture picture = planPicture(*page.snapshot, page.model->figures, page.background);
    return html + QStringLiteral("<div class=\"drawing plan\">") + QString::fromUtf8(planSvg(picture, page.model->figures))
           + QStringLiteral("</div></section>\n");
}

QString stabilitySection(const BuildingPage &page)
{
    const StabilityAnalysis &analysis = *page.model->stability;
    QString html = QStringLiteral("<section id=\"stability\"><h2>稳定性与预测</h2><p class=\"verdict %1\">建筑物：%2</p>"
                                  "<p class=\"note\">%3</p><div class=\"scroll\"><table>")
                       .arg(verdictClass(analysis.building), htmlEscaped(verdictText(analysis.building)),
                            htmlEscaped(stabilitySettingsLine(analysis.settings)));
    QStringList names = stabilityHeadings();
    std::vector<QStringList> rows = stabilityRows(analysis);
    if (const QString note = sayForecastNoteOnce(names, rows); !note.isEmpty())
        html.replace(QStringLiteral("<div class=\"scroll\">"),
                     QStringLiteral("<p class=\"note\">%1</p><div class=\"scroll\">")
                         .arg(htmlEscaped(reportTexts().oneForecastNote.arg(note))));
    html += headings(names);
    for (const QStringList &row : rows) {
        html += QStringLiteral("<tr>");
        for (const QString &text : row)
            html += cell(text);
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table></div></section>\n");
}

QString resultsSection(const BuildingPage &page)
{
    QString html = QStringLiteral("<section id=\"results\"><h2>最近各期成果</h2>");
    const MonitoringModel &model = *page.model;
    if (!model.history || model.history->epochs.empty())
        return html + QStringLiteral("<p>没有成果。</p></section>\n");
    const std::vector<EpochDeformation> &epochs = model.history->epochs;
    const size_t first = epochs.size() > size_t(resultsEpochsShown) ? epochs.size() - resultsEpochsShown : 0;
    const EpochDeformation &last = epochs.back();
    html += QStringLiteral("<p class=\"note\">累计沉降（mm，负值为下沉），末次观测另列本次沉降与沉降速率。</p>"
                           "<div class=\"scroll\"><table><tr><th>点号</th>");
    for (size_t e = first; e < epochs.size(); ++e) {
        const Epoch &epoch = page.snapshot->epochs()[size_t(epochs[e].epochIndex)];
        html += QStringLiteral("<th>%1<br>%2</th>").arg(htmlEscaped(epoch.name), htmlEscaped(epoch.date));
    }
    html += QStringLiteral("<th>本次沉降（mm）</th><th>沉降速率（mm/d）</th></tr>");
    // Every point settled at some shown epoch, by number.
    std::vector<int> numbers;
    for (size_t e = first; e < epochs.size(); ++e)
        for (const EpochDeformation::Settled &s : epochs[e].settled)
            numbers.push_back(s.number);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    const auto settledAt = [](const EpochDeformation &d, int number) -> const EpochDeformation::Settled * {
        for (const EpochDeformation::Settled &s : d.settled)
            if (s.number == number)
                return &s;
        return nullptr;
    };
    for (const int number : numbers) {
        const Point *point = page.snapshot->point(number);
        html += QStringLiteral("<tr data-point=\"%1\">").arg(number);
        html += cell(point ? point->name : QString::number(number), QStringLiteral("name"));
        for (size_t e = first; e < epochs.size(); ++e) {
            const auto *s = settledAt(epochs[e], number);
            html += cell(s ? FormatSettlement(s->sMm / 1000) : QString(), QStringLiteral("number"));
        }
        // This time: the last cumulative less the one before it, where both are.
        const auto *now = settledAt(last, number);
        const auto *before = epochs.size() > 1 ? settledAt(epochs[epochs.size() - 2], number) : nullptr;
        html += cell(now && before ? FormatSettlement((now->sMm - before->sMm) / 1000) : QString(), QStringLiteral("number"));
        html += cell(now && now->rate ? FormatRate(*now->rate / 1000) : QString(), QStringLiteral("number"));
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table></div></section>\n");
}

QString curvesSection(const BuildingPage &page)
{
    const StabilityAnalysis &analysis = *page.model->stability;
    // The report's key to its charts: the same colours mean the same here.
    QString html = QStringLiteral("<section id=\"curves\"><h2>各点累计沉降曲线</h2><p class=\"note\">%1</p>"
                                  "<div class=\"charts\">")
                       .arg(htmlEscaped(reportTexts().chartsKey));
    for (const PointStability &point : analysis.points)
        html += QStringLiteral("<figure class=\"drawing chart\" data-point=\"%1\">").arg(point.number)
                + QString::fromUtf8(chartSvg(point, analysis.settings.step)) + QStringLiteral("</figure>");
    return html + QStringLiteral("</div></section>\n");
}

QString downloadsSection(const BuildingPage &page)
{
    const QString base = buildingPath(page.name);
    return QStringLiteral("<section id=\"downloads\"><h2>下载</h2><ul>"
                          "<li><a href=\"%1/report.pdf\">沉降观测报告（PDF）</a></li>"
                          "<li><a href=\"%1/results.xlsx\">沉降观测成果表（xlsx）</a></li>"
                          "<li><a href=\"%1/data.json\">本页数据（JSON）</a></li></ul></section>\n")
        .arg(htmlEscaped(base));
}

} // namespace

QString htmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QStringLiteral("&#39;"));
}

QString buildingPath(const QString &name)
{
    return QStringLiteral("/projects/") + QString::fromLatin1(QUrl::toPercentEncoding(name));
}

QByteArray loginPage(const QString &message)
{
    QString body = QStringLiteral("<section class=\"login\"><h1>%1</h1>").arg(programTitle);
    if (!message.isEmpty())
        body += QStringLiteral("<p class=\"message\">%1</p>").arg(htmlEscaped(message));
    body += QStringLiteral("<form method=\"post\" action=\"/login\">"
                           "<label>用户名<input name=\"user\" autocomplete=\"username\" required maxlength=\"63\"></label>"
                           "<label>密码<input name=\"password\" type=\"password\" autocomplete=\"current-password\" "
                           "required maxlength=\"200\"></label><button type=\"submit\">登录</button></form>"
                           "<p class=\"note\">用测量单位给你的数据库账号登录；本页只供查看。</p></section>");
    return frame(QStringLiteral("登录"), QString(), body).toUtf8();
}

QByteArray overviewPage(const QString &user, const std::vector<FirmBuilding> &buildings, const QDate &today)
{
    QString body = QStringLiteral("<h1>概览</h1><p class=\"note\">%1，共 %2 个工程；有预警的排在前面。</p>")
                       .arg(today.toString(Qt::ISODate))
                       .arg(buildings.size());
    if (buildings.empty())
        return frame(QStringLiteral("概览"), user, body + QStringLiteral("<p>你的账号还不能查看任何工程。</p>")).toUtf8();
    body += QStringLiteral("<div class=\"scroll\"><table class=\"overview\">");
    body += headings(overviewHeadings);
    for (const FirmBuilding &building : buildings)
        body += overviewRow(building);
    body += QStringLiteral("</table></div>");
    return frame(QStringLiteral("概览"), user, body).toUtf8();
}

QByteArray buildingPage(const BuildingPage &page)
{
    const ProjectSnapshot &snapshot = *page.snapshot;
    QString body = QStringLiteral("<h1>%1</h1>").arg(htmlEscaped(page.name));
    if (page.model->epochIndex >= 0 && page.model->epochIndex < snapshot.epochCount()) {
        const Epoch &last = snapshot.epochs()[size_t(page.model->epochIndex)];
        body += QStringLiteral("<p class=\"epoch\">末次观测：%1，共 %2 次观测</p>")
                    .arg(htmlEscaped(epochText(last)))
                    .arg(snapshot.epochCount());
    }
    for (const QString &warning : page.model->warnings)
        body += QStringLiteral("<p class=\"note\">%1</p>").arg(htmlEscaped(warning));
    body += alarmsSection(page) + planSection(page) + stabilitySection(page) + resultsSection(page)
            + curvesSection(page) + downloadsSection(page);
    return frame(page.name, page.user, body).toUtf8();
}

QByteArray messagePage(const QString &title, const QString &text, bool loggedIn)
{
    QString body = QStringLiteral("<h1>%1</h1><p>%2</p>").arg(htmlEscaped(title), htmlEscaped(text));
    body += loggedIn ? QStringLiteral("<p><a href=\"/\">回到概览</a></p>") : QStringLiteral("<p><a href=\"/login\">登录</a></p>");
    return frame(title, QString(), body).toUtf8();
}

QByteArray webStyle()
{
    return QByteArrayLiteral(
        "*{box-sizing:border-box}\n"
        "body{margin:0;font-family:\"WenQuanYi Micro Hei\",\"Noto Sans CJK SC\",\"Microsoft YaHei\",sans-serif;"
        "color:#1d2329;background:#f4f5f7;line-height:1.5}\n"
        "header{display:flex;gap:1em;align-items:center;padding:.6em 1em;background:#23445f;color:#fff}\n"
        "header a{color:#fff;text-decoration:none;font-weight:bold}\n"
        "header .who{margin-left:auto;opacity:.85}\n"
        "header form{margin:0}\n"
        "main{max-width:1200px;margin:0 auto;padding:1em}\n"
        "h1{font-size:1.5em;margin:.3em 0}\n"
        "h2{font-size:1.15em;margin:1.4em 0 .5em;border-bottom:2px solid #23445f}\n"
        "section{background:#fff;padding:.2em 1em 1em;margin:1em 0;border-radius:4px}\n"
        "table{border-collapse:collapse;width:100%;font-size:.9em;background:#fff}\n"
        "th,td{border:1px solid #c8ccd0;padding:.3em .5em;text-align:left;vertical-align:top}\n"
        "th{background:#e8ecf0;font-weight:normal}\n"
        "td.number{text-align:right;font-variant-numeric:tabular-nums}\n"
        "tr.alarm td{background:#fde8e8}\n"
        "td.warn,.alarms li{color:#a30000}\n"
        "td.unsettled,.verdict.unsettled{color:#8a5a00}\n"
        "td.stable,.verdict.stable{color:#1a6b2a}\n"
        ".scroll{overflow-x:auto}\n"
        ".note{color:#555;font-size:.9em}\n"
        ".drawing svg{width:100%;height:auto;display:block;background:#fff}\n"
        // On a phone the plan keeps a readable size and scrolls sideways.
        ".drawing.plan{overflow-x:auto}\n"
        ".drawing.plan svg{min-width:760px}\n"
        ".charts{display:grid;grid-template-columns:repeat(auto-fill,minmax(300px,1fr));gap:.8em}\n"
        "figure{margin:0}\n"
        "figcaption{text-align:center;font-size:.85em}\n"
        ".login{max-width:360px;margin:3em auto}\n"
        ".login label{display:block;margin:.6em 0}\n"
        ".login input{display:block;width:100%;padding:.5em;font-size:1em}\n"
        "button{padding:.45em 1.2em;font-size:1em;cursor:pointer}\n"
        ".message{color:#a30000}\n"
        "@media (max-width:600px){main{padding:.4em}section{padding:.1em .5em .6em}"
        "table{font-size:.8em}th,td{padding:.2em .3em}header{flex-wrap:wrap}"
        // 概览 on a phone: a card for each building, a line for each figure.
        "table.overview,table.overview tbody,table.overview tr,table.overview td{display:block;width:100%}"
        "table.overview tr:first-child{display:none}"
        "table.overview tr{margin-bottom:.6em;border:1px solid #c8ccd0;font-size:1.1em}"
        "table.overview td{border:none;text-align:left}"
        "table.overview td.name{font-weight:bold}"
        "table.overview td[data-label]::before{content:attr(data-label) \"：\";color:#555}}\n");
}
