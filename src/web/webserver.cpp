#include "web/webserver.h"

#include "web/serverworker.h"
#include "web/webpages.h"
#include "web/webrequests.h"

#include <httplib.h>

#include <QDate>
#include <QFileInfo>
#include <QUrl>

#include <csignal>
#include <atomic>

namespace {

const char *const cookieName = "__Host-sedimetra";

// What every answer carries: no script at all, nothing from elsewhere, not
// framed, no address passed on, types as sent, nothing kept in caches.
void secureHeaders(httplib::Response &res)
{
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; style-src 'self'; img-src 'self' data:; form-action 'self'; "
                   "frame-ancestors 'none'; base-uri 'none'");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-store");
}

void answer(httplib::Response &res, const WebAnswer &a)
{
    res.status = a.status;
    if (!a.fileName.isEmpty()) {
        // An ASCII name for old clients, the building's own in UTF-8.
        res.set_header("Content-Disposition",
                       ("attachment; filename=\"download." + QFileInfo(a.fileName).suffix()
                        + "\"; filename*=UTF-8''" + QString::fromLatin1(QUrl::toPercentEncoding(a.fileName)))
                           .toStdString());
    }
    res.set_content(a.body.constData(), std::size_t(a.body.size()), a.type.constData());
}

void redirect(httplib::Response &res, const char *to)
{
    res.status = 303;
    res.set_header("Location", to);
}

std::string cookieOf(const httplib::Request &req)
{
    const std::string header = req.get_header_value("Cookie");
    const std::string key = std::string(cookieName) + "=";
    std::size_t at = 0;
    while (at < header.size()) {
        while (at < header.size() && (header[at] == ' ' || header[at] == ';'))
            ++at;
        const std::size_t end = std::min(header.find(';', at), header.size());
        if (header.compare(at, key.size(), key) == 0)
            return header.substr(at + key.size(), end - at - key.size());
        at = end;
    }
    return {};
}

// The client's address: nginx's X-Real-IP (the site sets it, over any the
// client sent) when the request came through it on loopback.
std::string addressOf(const httplib::Request &req)
{
    const std::string real = req.get_header_value("X-Real-IP");
    if (!real.empty() && real.size() < 64 && (req.remote_addr == "127.0.0.1" || req.remote_addr == "::1"))
        return real;
    return req.remote_addr;
}

// A form sent from another site is refused: browsers say where a request
// comes from in Sec-Fetch-Site, and in Origin unless the no-referrer policy
// makes that "null".
bool sameOrigin(const httplib::Request &req)
{
    const std::string site = req.get_header_value("Sec-Fetch-Site");
    if (!site.empty() && site != "same-origin" && site != "none")
        return false;
    const std::string origin = req.get_header_value("Origin");
    if (origin.empty() || origin == "null")
        return true;
    const std::string host = req.get_header_value("Host");
    return origin == "https://" + host || origin == "http://" + host;
}

std::atomic<httplib::Server *> running{nullptr};

void stopOnSignal(int)
{
    if (httplib::Server *server = running.load())
        server->stop();
}

class WebView
{
public:
    explicit WebView(const WebServerOptions &options)
        : m_options(options)
        , m_sessions(options.limits)
        , m_throttle(options.limits)
    {
    }

    void routes(httplib::Server &server);

private:
    void login(const httplib::Request &req, httplib::Response &res);
    void logout(const httplib::Request &req, httplib::Response &res);
    // Runs `work` with the request's session; the login page for a
    // request without a live session.
    void withWorker(const httplib::Request &req, httplib::Response &res,
                    const std::function<WebAnswer(ServerWorker &, const WebContext &)> &work);
    // The same on the session's first connection.
    void withSession(const httplib::Request &req, httplib::Response &res,
                     const std::function<WebAnswer(const WebContext &)> &work);

    WebServerOptions m_options;
    SessionTable<ServerWorker> m_sessions;
    LoginThrottle m_throttle;
};

void WebView::routes(httplib::Server &server)
{
    server.Get("/health", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("ok\n", "text/plain; charset=utf-8");
    });
    server.Get("/style.css", [](const httplib::Request &, httplib::Response &res) {
        const QByteArray style = webStyle();
        res.set_content(style.constData(), std::size_t(style.size()), "text/css; charset=utf-8");
    });
    server.Get("/login", [](const httplib::Request &req, httplib::Response &res) {
        const QString message =
            req.has_param("ended") ? QStringLiteral("与数据库的连接已断开，请重新登录。") : QString();
        answer(res, {200, "text/html; charset=utf-8", loginPage(message), {}});
    });
    server.Post("/login", [this](const httplib::Request &req, httplib::Response &res) { login(req, res); });
    server.Post("/logout", [this](const httplib::Request &req, httplib::Response &res) { logout(req, res); });
    server.Get("/", [this](const httplib::Request &req, httplib::Response &res) {
        withWorker(req, res, [&](ServerWorker &worker, const WebContext &context) {
            return overviewAnswer(worker, context);
        });
    });
    server.Get(R"(/projects/([^/]+)(/report\.pdf|/results\.xlsx|/data\.json)?)",
               [this](const httplib::Request &req, httplib::Response &res) {
                   const QString name = QString::fromStdString(req.matches[1].str());
                   const std::string what = req.matches[2].str();
                   const BuildingPart part = what == "/report.pdf"     ? BuildingPart::Report
                                             : what == "/results.xlsx" ? BuildingPart::Results
                                             : what == "/data.json"    ? BuildingPart::Data
                                                                       : BuildingPart::Page;
                   withSession(req, res, [&](const WebContext &context) { return buildingAnswer(context, name, part); });
               });
}

void WebView::withWorker(const httplib::Request &req, httplib::Response &res,
                         const std::function<WebAnswer(ServerWorker &, const WebContext &)> &work)
{
    std::string user;
    const std::shared_ptr<ServerWorker> worker = m_sessions.find(cookieOf(req), WebClock::now(), &user);
    if (!worker) {
        redirect(res, "/login");
        return;
    }
    const WebContext context{QString(), nullptr, m_options.programDir, QString::fromStdString(user),
                             QDate::currentDate()};
    const WebAnswer result = work(*worker, context);
    // A session whose connection the server has closed (restarted, or the
    // login's sessions ended) cannot be mended without the password,
    // which is not kept: it ends, and the user is asked to log in again.
    if (result.status == 503 && !worker->connected()) {
        m_sessions.remove(cookieOf(req));
        redirect(res, "/login?ended");
        return;
    }
    answer(res, result);
}

void WebView::withSession(const httplib::Request &req, httplib::Response &res,
                          const std::function<WebAnswer(const WebContext &)> &work)
{
    withWorker(req, res, [&](ServerWorker &worker, const WebContext &base) {
        WebAnswer result;
        worker.run([&](const QString &connection, const SettingsStore *settings) {
            WebContext context = base;
            context.connection = connection;
            context.settings = settings;
            result = work(context);
        });
        return result;
    });
}

void WebView::login(const httplib::Request &req, httplib::Response &res)
{
    const auto page = [&](int status, const QString &message) {
        answer(res, {status, "text/html; charset=utf-8", loginPage(message), {}});
    };
    if (!sameOrigin(req)) {
        page(403, QStringLiteral("请从本站的登录页登录。"));
        return;
    }
    const std::string user = req.get_param_value("user");
    const std::string password = req.get_param_value("password");
    if (user.empty() || password.empty() || user.size() > 63 || password.size() > 1000
        || user.find('\0') != std::string::npos || password.find('\0') != std::string::npos) {
        page(400, QStringLiteral("请填写用户名和密码。"));
        return;
    }
    const std::string address = addressOf(req);
    if (!m_throttle.allowed(user, address, WebClock::now())) {
        page(429, QStringLiteral("登录失败的次数过多，请 15 分钟后再试。"));
        return;
    }
    ServerAddress server = m_options.server;
    server.user = QString::fromStdString(user);
    server.password = QString::fromStdString(password);
    auto worker = std::make_shared<ServerWorker>(m_options.programDir, m_options.lanes);
    bool refused = false;
    if (auto connected = worker->connect(server, &refused); !connected) {
        if (refused) {
            m_throttle.failed(user, address, WebClock::now());
            page(401, QStringLiteral("用户名或密码不对。"));
        } else {
            page(503, QStringLiteral("暂时无法连接数据库服务器，请稍后再试。"));
        }
        return;
    }
    m_throttle.succeeded(user);
    const std::string token = m_sessions.add(user, std::move(worker), WebClock::now());
    if (token.empty()) {
        page(503, QStringLiteral("同时登录的人数已满，请稍后再试。"));
        return;
    }
    res.set_header("Set-Cookie", std::string(cookieName) + "=" + token
                                     + "; Path=/; Secure; HttpOnly; SameSite=Strict; Max-Age="
                                     + std::to_string(m_options.limits.lifetime.count()));
    redirect(res, "/");
}

void WebView::logout(const httplib::Request &req, httplib::Response &res)
{
    if (sameOrigin(req))
        m_sessions.remove(cookieOf(req));
    res.set_header("Set-Cookie", std::string(cookieName) + "=; Path=/; Secure; HttpOnly; SameSite=Strict; Max-Age=0");
    redirect(res, "/login");
}

} // namespace

Result<void> runWebServer(const WebServerOptions &options, const std::function<void(int port)> &ready)
{
    httplib::Server server;
    const int threads = options.threads;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(std::size_t(threads)); };
    server.set_payload_max_length(16 * 1024);
    server.set_read_timeout(10, 0);
    server.set_write_timeout(60, 0);
    server.set_keep_alive_max_count(100);
    server.set_keep_alive_timeout(5);
    server.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        // No compression here: the library would choose Brotli at its
        // slowest setting (a second and more for a large building's page),
        // and on loopback it gains nothing. nginx in front compresses what
        // leaves the machine. The request is the server's own, not const.
        const_cast<httplib::Request &>(req).headers.erase("Accept-Encoding");
        secureHeaders(res);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_error_handler([](const httplib::Request &, httplib::Response &res) {
        // The server's own refusals (no such address, too long) as pages.
        secureHeaders(res);
        if (res.body.empty()) {
            const QByteArray page = res.status == 404
                                        ? messagePage(QStringLiteral("没有这个页面"), QStringLiteral("地址不对。"), false)
                                        : messagePage(QStringLiteral("请求无法处理"),
                                                      QStringLiteral("请求不合规定（%1）。").arg(res.status), false);
            res.set_content(page.constData(), std::size_t(page.size()), "text/html; charset=utf-8");
        }
    });
    WebView view(options);
    view.routes(server);
    int port = options.listenPort;
    if (port == 0)
        port = server.bind_to_any_port(options.listenHost.toStdString());
    else if (!server.bind_to_port(options.listenHost.toStdString(), port))
        port = -1;
    if (port <= 0)
        return fail(QStringLiteral("无法在 %1:%2 上监听（地址被占用，或不是本机地址）").arg(options.listenHost).arg(port));
    running = &server;
    std::signal(SIGTERM, stopOnSignal);
    std::signal(SIGINT, stopOnSignal);
    ready(port);
    const bool listened = server.listen_after_bind();
    running = nullptr;
    if (!listened)
        return fail(QStringLiteral("网页服务意外停止"));
    return success();
}
