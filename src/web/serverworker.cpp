#include "web/serverworker.h"

#include "base/programfiles.h"
#include "project/settingsstore.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <algorithm>

// One connection and its thread, running the jobs given to it in order.
class ServerWorker::Lane
{
public:
    explicit Lane(const QString &programDir)
        : m_connection(QStringLiteral("web-") + QUuid::createUuid().toString(QUuid::Id128))
        , m_thread([this, programDir] { loop(programDir); })
    {
    }
    ~Lane()
    {
        start([](const QString &connection, const SettingsStore *) {
            if (QSqlDatabase::contains(connection)) {
                QSqlDatabase::database(connection, false).close();
                QSqlDatabase::removeDatabase(connection);
            }
        }).get();
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    // Queues `job`; the future is ready once it has run.
    std::future<void> start(const Job &job)
    {
        std::packaged_task<void()> task([this, job] { job(m_connection, m_settings.get()); });
        std::future<void> done = task.get_future();
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(task));
        }
        m_wake.notify_one();
        return done;
    }

private:
    void loop(const QString &programDir)
    {
        m_settings = std::make_unique<SettingsStore>();
        // Without the settings file the defaults apply, as in the window.
        (void)m_settings->open(systemDatabasePath(programDir));
        for (;;) {
            std::packaged_task<void()> job;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
                if (m_jobs.empty())
                    break;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
        m_settings.reset();
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::packaged_task<void()>> m_jobs;
    bool m_stopping = false;
    const QString m_connection;
    std::unique_ptr<SettingsStore> m_settings;
    std::thread m_thread;
};

ServerWorker::ServerWorker(const QString &programDir, int lanes)
{
    for (int i = 0; i < std::max(1, lanes); ++i)
        m_lanes.push_back(std::make_unique<Lane>(programDir));
}

ServerWorker::~ServerWorker() = default;

void ServerWorker::run(const Job &job)
{
    m_lanes.front()->start(job).get();
}

void ServerWorker::runTogether(const std::vector<Job> &jobs)
{
    std::vector<std::future<void>> running;
    for (size_t i = 0; i < jobs.size() && i < m_lanes.size(); ++i)
        running.push_back(m_lanes[i]->start(jobs[i]));
    for (std::future<void> &done : running)
        done.get();
}

bool ServerWorker::connected()
{
    std::vector<char> answers(m_lanes.size(), 0);
    std::vector<Job> asks;
    for (size_t i = 0; i < m_lanes.size(); ++i)
        asks.push_back([&answers, i](const QString &connection, const SettingsStore *) {
            answers[i] = ::answers(connection);
        });
    runTogether(asks);
    return std::all_of(answers.begin(), answers.end(), [](char answered) { return answered != 0; });
}

bool answers(const QString &connection)
{
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    QSqlQuery query(db);
    return db.isOpen() && query.exec(QStringLiteral("SELECT 1")) && query.next();
}

Result<bool> mayUseSchema(QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT coalesce((SELECT pg_catalog.has_schema_privilege(n.oid, 'USAGE') "
                                   "FROM pg_catalog.pg_namespace n WHERE n.nspname = 'sedimetra'), false)"))
        || !query.next())
        return fail(query.lastError().text());
    return query.value(0).toBool();
}

Result<void> ServerWorker::connect(const ServerAddress &address, bool *refused)
{
    Result<void> outcome = success();
    *refused = false;
    run([&](const QString &connection, const SettingsStore *) {
        auto db = connectToServer(address, connection);
        if (!db) {
            // A wrong password, an unknown login and a login the server
            // does not let in read alike to the user: nobody learns which.
            const QString why = db.error();
            *refused = why.contains(QStringLiteral("的密码不对")) || why.contains(QStringLiteral("服务器要求密码"))
                       || why.contains(QStringLiteral("没有这个数据库或用户"))
                       || why.contains(QStringLiteral("不允许这台计算机或这个用户连接"));
            outcome = db.failure();
            return;
        }
        const auto usable = mayUseSchema(*db);
        if (!usable) {
            outcome = usable.failure();
            return;
        }
        if (*usable)
            if (auto schema = checkServerSchema(*db, address); !schema) {
                outcome = schema;
                return;
            }
        QSqlQuery query(*db);
        if (!query.exec(QStringLiteral("SET default_transaction_read_only = on")))
            outcome = fail(query.lastError().text());
    });
    if (!outcome)
        return outcome;
    // The other lanes log in the same way, once the first has.
    std::vector<Job> others(m_lanes.size());
    std::vector<Result<void>> connected(m_lanes.size(), success());
    for (size_t i = 1; i < m_lanes.size(); ++i)
        others[i] = [&, i](const QString &connection, const SettingsStore *) {
            auto db = connectToServer(address, connection);
            if (!db) {
                connected[i] = db.failure();
                return;
            }
            QSqlQuery query(*db);
            if (!query.exec(QStringLiteral("SET default_transaction_read_only = on")))
                connected[i] = fail(query.lastError().text());
        };
    others[0] = [](const QString &, const SettingsStore *) {};
    runTogether(others);
    for (const Result<void> &lane : connected)
        if (!lane)
            return lane;
    return success();
}
