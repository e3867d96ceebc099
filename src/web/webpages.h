#pragma once

// web/: the read-only web view of server projects for the firm's clients.
// Its pages, in Chinese, for a screen and a phone: made from a project's
// snapshot and its one model, the same the report and the workbook read;
// nothing here computes a figure. No script, nothing loaded from elsewhere.

#include "domain/monitoringmodel.h"
#include "domain/projectsnapshot.h"
#include "session/firmoverview.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <vector>

// Text made safe in HTML, in an element or an attribute.
QString htmlEscaped(const QString &text);

// The login form, with a message above it (a failed login, a session gone).
QByteArray loginPage(const QString &message = QString());
// 概览: every building the login may read, alarms first.
QByteArray overviewPage(const QString &user, const std::vector<FirmBuilding> &buildings, const QDate &today);

// A building: its last epoch, the alarms with their reasons, the plan, the
// stability verdict with the forecasts, the last epochs' results, every
// point's curve and the downloads.
struct BuildingPage
{
    QString user, name; // the login's, the server project's
    const ProjectSnapshot *snapshot = nullptr; // with usable dates, as the model was made of it
    const MonitoringModel *model = nullptr;
    PlanBackground background;
};
// The epochs the results table shows, the last ones.
constexpr int resultsEpochsShown = 6;
QByteArray buildingPage(const BuildingPage &page);

// A page that only says something (no such building, too many sessions).
QByteArray messagePage(const QString &title, const QString &text, bool loggedIn);

// The pages' one style sheet, served as /style.css.
QByteArray webStyle();

// Where a building's page is: /projects/ and its name, percent-encoded.
QString buildingPath(const QString &name);
