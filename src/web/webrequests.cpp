#include "web/webrequests.h"

#include "base/settings.h"
#include "cad/planpositions.h"
#include "pdfreport/monitoringreport.h"
#include "project/projectdb.h"
#include "project/settingsstore.h"
#include "report/resultsrun.h"
#include "session/firmoverview.h"
#include "session/projectsession.h"
#include "survey/provenanceview.h"
#include "web/serverworker.h"
#include "web/webpages.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>

namespace {

WebAnswer failed(const QString &what)
{
    WebAnswer answer;
    answer.status = 503;
    answer.body = messagePage(QStringLiteral("暂时无法读取"), what, true);
    return answer;
}

// A download made by `make` into a folder of its own (given the file's
// path), read back, and the folder gone with it.
WebAnswer download(const QByteArray &type, const QString &fileName,
                   const std::function<Result<void>(const QString &path)> &make)
{
    QTemporaryDir folder;
    if (!folder.isValid())
        return failed(QStringLiteral("无法建立临时文件夹"));
    const QString path = folder.filePath(QStringLiteral("download.") + QFileInfo(fileName).suffix());
    if (auto made = make(path); !made)
        return failed(made.error());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failed(file.errorString());
    return {200, type, file.readAll(), fileName};
}

QString downloadName(const QString &name, const QString &what, const QDate &today, const QString &suffix)
{
    // The building's name as the user knows it, without what a file name
    // cannot hold.
    QString safe = name;
    for (QChar &c : safe)
        if (c.unicode() < 32 || QStringLiteral("/\\:*?\"<>|").contains(c))
            c = QLatin1Char('_');
    return QStringLiteral("%1-%2-%3.%4").arg(safe, what, today.toString(Qt::ISODate), suffix);
}

// The points the report analyses: as many as the setting says, and every
// point observed beyond it.
int pointsAnalysed(const ProjectSnapshot &snapshot, const SettingsStore *settings)
{
    const int setting = pointCountFromSetting(settings ? settings->readSetting(SettingKey::PointCount) : std::nullopt);
    return std::max(setting, snapshot.highestObservedPoint());
}

// What a report and a results table are both made from: the building as
// the session holds it, written to `path`.
template <typename Request>
Request downloadRequest(const WebContext &context, const ProjectSession &session, const QString &path)
{
    Request request;
    request.settings = context.settings;
    request.headerFields = session.fields();
    request.programDir = context.programDir;
    request.projectPath = session.path();
    request.output = path;
    request.pointCount = pointsAnalysed(session.snapshot(), context.settings);
    return request;
}

WebAnswer reportAnswer(const WebContext &context, ProjectSession &session, const QString &name,
                       const PlanBackground &background)
{
    const QString fileName = downloadName(name, QStringLiteral("沉降观测报告"), context.today, QStringLiteral("pdf"));
    return download("application/pdf", fileName, [&](const QString &path) -> Result<void> {
        ProjectDatabase &store = *session.store();
        auto request = downloadRequest<ReportRequest>(context, session, path);
        request.reportDate = context.today.toString(Qt::ISODate);
        request.planBackground = background;
        auto records = epochRecords(store);
        if (!records)
            return records.failure();
        request.records = std::move(*records);
        auto check = store.checkRecord(1);
        if (!check)
            return check.failure();
        request.check = std::move(*check);
        if (const auto written = writeMonitoringReport(session.snapshot(), request); !written)
            return fail(QStringLiteral("报告未能生成：%1").arg(written.error()));
        return success();
    });
}

WebAnswer resultsAnswer(const WebContext &context, ProjectSession &session, const QString &name)
{
    const QString fileName = downloadName(name, QStringLiteral("沉降观测成果表"), context.today, QStringLiteral("xlsx"));
    return download("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", fileName,
                    [&](const QString &path) -> Result<void> {
                        const auto run =
                            prepareResultsRun(downloadRequest<ResultsRequest>(context, session, path));
                        if (!run)
                            return run.failure();
                        const auto status =
                            runResultsTable(session.snapshot(), run->settings, run->templatePath, run->output);
                        if (!status)
                            return status.failure();
                        if (*status == ResultsRunStatus::NothingToWrite)
                            return fail(QStringLiteral("工程中还没有观测数据"));
                        if (*status == ResultsRunStatus::TemplateMissing)
                            return fail(QStringLiteral("找不到成果表模板“%1”").arg(run->templateName));
                        return success();
                    });
}

WebAnswer dataAnswer(const ProjectSession &session, const MonitoringModel &model, const QString &name)
{
    QJsonObject root;
    root.insert(QStringLiteral("project"), name);
    root.insert(QStringLiteral("analyse"), analysisJson(model, session.snapshot()));
    if (model.placed)
        root.insert(QStringLiteral("plan"),
                    QJsonDocument::fromJson(planJson(model.figures, session.snapshot(), model.deformation.thresholds))
                        .object());
    else
        root.insert(QStringLiteral("plan"), QJsonValue::Null);
    return {200, "application/json", QJsonDocument(root).toJson(QJsonDocument::Indented), QString()};
}

} // namespace

WebAnswer noSuchBuilding()
{
    WebAnswer answer;
    answer.status = 404;
    answer.body = messagePage(QStringLiteral("没有这个工程"), QStringLiteral("没有这个工程，或你的账号不能查看它。"), true);
    return answer;
}

WebAnswer overviewAnswer(ServerWorker &worker, const WebContext &context)
{
    Result<QStringList> names = fail(QString());
    bool noRights = false;
    worker.run([&](const QString &connection, const SettingsStore *) {
        QSqlDatabase db = QSqlDatabase::database(connection, false);
        const auto usable = mayUseSchema(db);
        if (!usable) {
            names = usable.failure();
            return;
        }
        noRights = !*usable;
        if (!noRights)
            names = listServerProjects(db);
    });
    if (noRights)
        return {200, "text/html; charset=utf-8", overviewPage(context.user, {}, context.today), QString()};
    if (!names)
        return failed(QStringLiteral("无法读取工程列表"));
    // The buildings in as many parts as there are lanes, read at once.
    const int lanes = worker.lanes();
    std::vector<std::vector<FirmBuilding>> parts(static_cast<size_t>(lanes));
    std::vector<ServerWorker::Job> jobs;
    for (int lane = 0; lane < lanes; ++lane)
        jobs.push_back([&, lane](const QString &connection, const SettingsStore *settings) {
            QStringList mine;
            for (int i = lane; i < names->size(); i += lanes)
                mine << names->at(i);
            parts[size_t(lane)] = readFirmBuildings(mine, connection, context.programDir, settings, context.today);
        });
    worker.runTogether(jobs);
    std::vector<FirmBuilding> buildings;
    for (std::vector<FirmBuilding> &part : parts)
        for (FirmBuilding &building : part)
            buildings.push_back(std::move(building));
    sortFirm(buildings);
    return {200, "text/html; charset=utf-8", overviewPage(context.user, buildings, context.today), QString()};
}

WebAnswer buildingAnswer(const WebContext &context, const QString &name, BuildingPart part)
{
    auto store = std::make_unique<ProjectDatabase>();
    if (!store->openOnServerConnection(context.connection, name))
        // Not there, or not this login's; unless the server no longer answers.
        return answers(context.connection) ? noSuchBuilding() : failed(QStringLiteral("与数据库的连接已断开"));
    const auto background = storedPlanBackground(*store);
    if (!background)
        return failed(QStringLiteral("工程中的平面图无法读取"));
    ProjectSession session(context.programDir, context.settings);
    if (auto opened = session.open(std::move(store)); !opened)
        return failed(QStringLiteral("工程无法读取"));
    if (session.snapshot().epochCount() == 0 || !session.snapshot().hasElevations()) {
        WebAnswer empty;
        empty.body = messagePage(name, QStringLiteral("这个工程还没有观测数据。"), true);
        return empty;
    }
    switch (part) {
    case BuildingPart::Report:
        return reportAnswer(context, session, name, *background);
    case BuildingPart::Results:
        return resultsAnswer(context, session, name);
    case BuildingPart::Page:
    case BuildingPart::Data:
        break;
    }
    session.setLastPoint(pointsAnalysed(session.snapshot(), context.settings));
    const MonitoringModel &model = session.model(std::nullopt, true);
    if (part == BuildingPart::Data)
        return dataAnswer(session, model, name);
    BuildingPage page;
    page.user = context.user;
    page.name = name;
    page.snapshot = &session.snapshot();
    page.model = &model;
    page.background = *background;
    return {200, "text/html; charset=utf-8", buildingPage(page), QString()};
}
