// sedimetra-batch serve: the read-only web view of a server's projects, on
// a loopback address, for nginx to pass to.
#include "batch/commandline.h"

#include "project/serverstore.h"
#include "web/webserver.h"

#include <cstdio>

namespace {

// 127.0.0.0/8 and ::1, written as numbers.
bool isLoopback(const QString &host)
{
    if (host == QLatin1String("::1"))
        return true;
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4 || parts[0] != QLatin1String("127"))
        return false;
    for (const QString &part : parts) {
        bool ok = false;
        const int byte = part.toInt(&ok);
        if (!ok || byte < 0 || byte > 255)
            return false;
    }
    return true;
}

} // namespace

int serveCommand(const QStringList &args)
{
    CommandLine line(QStringLiteral("serve postgresql://HOST:PORT/DATABASE [--listen 127.0.0.1:8470] [--sessions N] [--idle S] [--lifetime S]"));
    line.option(QStringLiteral("listen"), QStringLiteral("ADDRESS:PORT"),
                QStringLiteral("where to listen, a loopback address (default 127.0.0.1:8470; port 0: any free one)"));
    line.option(QStringLiteral("sessions"), QStringLiteral("N"),
                QStringLiteral("logins at once, each with a connection to the server (default 32)"));
    line.option(QStringLiteral("idle"), QStringLiteral("SECONDS"),
                QStringLiteral("a session unused this long ends (default and at most 1800)"));
    line.option(QStringLiteral("lifetime"), QStringLiteral("SECONDS"),
                QStringLiteral("a session ends this long after its login (default and at most 43200)"));
    if (const auto done = line.parse(args, 1, 1))
        return *done;
    auto server = parseServerUrl(line.positional().front());
    if (!server)
        return line.wrong(server.error());
    if (!server->user.isEmpty() || !server->password.isEmpty() || !server->project.isEmpty())
        return line.wrong(QStringLiteral("the address names the server and database only: each user logs in with "
                                         "their own name and password"));
    WebServerOptions options;
    options.server = *server;
    options.programDir = programDir();
    const QString listen = line.value(QStringLiteral("listen"), QStringLiteral("127.0.0.1:8470"));
    const int colon = listen.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    options.listenHost = listen.left(colon);
    if (options.listenHost.startsWith(QLatin1Char('[')) && options.listenHost.endsWith(QLatin1Char(']')))
        options.listenHost = options.listenHost.mid(1, options.listenHost.size() - 2);
    options.listenPort = listen.mid(colon + 1).toInt(&portOk);
    // Never on an address others reach: nginx in front gives TLS and limits.
    if (colon < 0 || !portOk || options.listenPort < 0 || options.listenPort > 65535
        || !isLoopback(options.listenHost))
        return line.wrong(QStringLiteral("--listen takes a loopback address and a port, as 127.0.0.1:8470"));
    // A firm may shorten a session's life, never lengthen it.
    const auto seconds = [&](const char *option, std::chrono::seconds *limit) {
        if (!line.isSet(QLatin1String(option)))
            return true;
        bool ok = false;
        const int given = line.value(QLatin1String(option)).toInt(&ok);
        if (!ok || given < 1 || given > limit->count())
            return false;
        *limit = std::chrono::seconds(given);
        return true;
    };
    if (!seconds("idle", &options.limits.idle))
        return line.wrong(QStringLiteral("--idle takes a number of seconds from 1 to 1800"));
    if (!seconds("lifetime", &options.limits.lifetime))
        return line.wrong(QStringLiteral("--lifetime takes a number of seconds from 1 to 43200"));
    if (line.isSet(QStringLiteral("sessions"))) {
        bool ok = false;
        const int sessions = line.value(QStringLiteral("sessions")).toInt(&ok);
        if (!ok || sessions < 1 || sessions > 1000)
            return line.wrong(QStringLiteral("--sessions takes a number from 1 to 1000"));
        options.limits.maxSessions = std::size_t(sessions);
    }
    const auto served = runWebServer(options, [&](int port) {
        std::printf("%s\n", qPrintable(QStringLiteral("网页服务已在 http://%1:%2/ 上运行（只读；服务器 %3）")
                                           .arg(options.listenHost)
                                           .arg(port)
                                           .arg(displayUrl(options.server))));
        std::fflush(stdout);
    });
    if (!served)
        return failure(served.error());
    return 0;
}
