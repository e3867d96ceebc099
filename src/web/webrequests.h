#pragma once

// What each address of the web view answers, over the logged-in user's own
// connection (on its thread): the pages, the data and the downloads of the
// buildings that login may read. A building it may not read answers as one
// that does not exist. No HTTP here: the server wraps these answers.

#include <QByteArray>
#include <QDate>
#include <QString>

class SettingsStore;

struct WebAnswer
{
    int status = 200;
    QByteArray type = "text/html; charset=utf-8";
    QByteArray body;
    QString fileName; // a download's name (the building's and the date)
};

// Where the requests are read: the connection of the user's session (on
// its thread), the program's settings and folder, the user and the day.
struct WebContext
{
    QString connection;
    const SettingsStore *settings = nullptr;
    QString programDir;
    QString user;
    QDate today;
};

class ServerWorker;
// 概览: the buildings read on every lane of the session's at once.
WebAnswer overviewAnswer(ServerWorker &worker, const WebContext &context);

enum class BuildingPart { Page, Report, Results, Data };
WebAnswer buildingAnswer(const WebContext &context, const QString &name, BuildingPart part);

// The page for a building that does not exist or may not be read: the same
// for both.
WebAnswer noSuchBuilding();
