#include "web/serverworker.h"

#include "base/programfiles.h"
#include "project/settingsstore.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

ServerWorker::ServerWorker(const QString &programDir)
    : m_connection(QStringLiteral("web-") + QUuid::createUuid().toString(QUuid::Id128))
    , m_thread([this, programDir] { loop(programDir); })
{
}

ServerWorker::~ServerWorker()
{
    run([](const QString &connection, const SettingsStore *) {
        if (QSqlDatabase::contains(connection)) {
            QSqlDatabase::database(connection, false).close();
            QSqlDatabase::removeDatabase(connection);
        }
    });
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void ServerWorker::loop(const QString &programDir)
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

void ServerWorker::run(const std::function<void(const QString &, const SettingsStore *)> &job)
{
    std::packaged_task<void()> task([&] { job(m_connection, m_settings.get()); });
    std::future<void> done = task.get_future();
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(task));
    }
    m_wake.notify_one();
    done.get();
}

bool mayUseSchema(QSqlDatabase &db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("SELECT coalesce((SELECT pg_catalog.has_schema_privilege(n.oid, 'USAGE') "
                                     "FROM pg_catalog.pg_namespace n WHERE n.nspname = 'sedimetra'), false)"))
           && query.next() && query.value(0).toBool();
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
        if (mayUseSchema(*db))
            if (auto schema = checkServerSchema(*db, address); !schema) {
                outcome = schema;
                return;
            }
        QSqlQuery query(*db);
        if (!query.exec(QStringLiteral("SET default_transaction_read_only = on")))
            outcome = fail(query.lastError().text());
    });
    return outcome;
}
