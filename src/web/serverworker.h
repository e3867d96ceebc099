#pragma once

// A logged-in user's own connection to the server, with the thread it
// lives on: a database connection belongs to the thread that opened it, so
// every query of the session runs there, one request after another, under
// the user's own login and rights.

#include "base/result.h"
#include "project/serverstore.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

class QSqlDatabase;
class SettingsStore;

// Whether the login may use the schema at all: a login given no rights is
// let in, and sees no building.
bool mayUseSchema(QSqlDatabase &db);

class ServerWorker
{
public:
    // Starts the thread; the program's settings (beside the program, for
    // the analysis and the header fields) are read on it.
    explicit ServerWorker(const QString &programDir);
    // Closes the connection on its thread and ends it, after the jobs queued.
    ~ServerWorker();
    ServerWorker(const ServerWorker &) = delete;
    ServerWorker &operator=(const ServerWorker &) = delete;

    // Connects as `address` says (its user and password), read-only: the
    // view never writes, whatever the login may. Refused when the login
    // fails, with `refused` telling whether it was the name or password.
    Result<void> connect(const ServerAddress &address, bool *refused);

    // Runs `job` on the thread with the connection's name and the
    // settings, and waits for it to end.
    void run(const std::function<void(const QString &connection, const SettingsStore *settings)> &job);

private:
    void loop(const QString &programDir);
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::packaged_task<void()>> m_jobs;
    bool m_stopping = false;
    QString m_connection;
    std::unique_ptr<SettingsStore> m_settings;
    std::thread m_thread;
};
