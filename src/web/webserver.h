#pragma once

// The web view's HTTP server on a loopback address, behind the firm's
// nginx (which terminates TLS): the logins, the sessions and their
// connections, the security headers, and each address's answer.

#include "project/serverstore.h"
#include "web/websessions.h"

#include <QString>

#include <functional>

struct WebServerOptions
{
    ServerAddress server; // host, port and database; the user logs in
    QString programDir;
    QString listenHost = QStringLiteral("127.0.0.1");
    int listenPort = 8470;
    WebLimits limits;
    int threads = 8; // requests served at once
    // Connections of a session (each with its thread): the overview of
    // many buildings reads on all of them at once, one to a core.
    int lanes = 2;
};

// Serves until stopped (SIGTERM, SIGINT); `ready` is told the port once it
// listens. A failure to listen is returned with the reason.
Result<void> runWebServer(const WebServerOptions &options, const std::function<void(int port)> &ready);
