#pragma once

// A logged-in user's own connections to the server, each with the thread
// it lives on: a database connection belongs to the thread that opened it,
// so every query of the session runs there, under the user's own login and
// rights. A session has a few such lanes: one answers its requests one
// after another; the overview of many buildings reads on all of them at
// once.

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
#include <vector>

class QSqlDatabase;
class SettingsStore;

// Whether the login may use the schema at all: a login given no rights is
// let in, and sees no building. A failure when the server cannot be asked.
Result<bool> mayUseSchema(QSqlDatabase &db);
// Whether the connection named still answers.
bool answers(const QString &connection);

class ServerWorker
{
public:
    using Job = std::function<void(const QString &connection, const SettingsStore *settings)>;

    // Starts the lanes' threads; the program's settings (beside the
    // program, for the analysis and the header fields) are read on each.
    ServerWorker(const QString &programDir, int lanes);
    // Closes the connections on their threads and ends them, after the
    // jobs queued.
    ~ServerWorker();
    ServerWorker(const ServerWorker &) = delete;
    ServerWorker &operator=(const ServerWorker &) = delete;

    // Connects every lane as `address` says (its user and password),
    // read-only: the view never writes, whatever the login may. Refused
    // when the login fails, with `refused` telling whether it was the name
    // or password.
    Result<void> connect(const ServerAddress &address, bool *refused);

    // Runs `job` on the first lane with its connection's name and the
    // settings, and waits for it to end.
    void run(const Job &job);
    // Runs each job on a lane of its own at once (at most lanes() of
    // them), and waits for all.
    void runTogether(const std::vector<Job> &jobs);
    int lanes() const { return int(m_lanes.size()); }
    // Whether every lane's connection still answers.
    bool connected();

private:
    class Lane;
    std::vector<std::unique_ptr<Lane>> m_lanes;
};
