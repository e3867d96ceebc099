#pragma once

// Who is logged in to the web view, and who may try: sessions named by a
// random token the browser keeps in a cookie (only its hash is kept here),
// idle at most 30 minutes and alive at most 12 hours; and the failed logins
// counted per login name and per address, past which a login is refused
// without trying the password. Times are given, so that tests can move them.

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

using WebClock = std::chrono::steady_clock;

struct WebLimits
{
    std::size_t maxSessions = 32; // each holds one connection to the server
    // One login's sessions (a browser at the office, a phone, ...): a
    // further login ends its least recently used one, so that nobody
    // fills the table by logging in again and again.
    std::size_t sessionsPerLogin = 4;
    std::chrono::seconds idle{30 * 60};
    std::chrono::seconds lifetime{12 * 60 * 60};
    int failuresPerLogin = 5;
    int failuresPerAddress = 20;
    std::chrono::seconds failureWindow{15 * 60};
};

class LoginThrottle
{
public:
    explicit LoginThrottle(const WebLimits &limits);
    // Whether `user` from `address` may try a password now: fewer failures
    // than the limits within the window, for the name and for the address.
    bool allowed(const std::string &user, const std::string &address, WebClock::time_point now);
    void failed(const std::string &user, const std::string &address, WebClock::time_point now);
    // A login that succeeded forgets the name's failures.
    void succeeded(const std::string &user);

private:
    using Failures = std::map<std::string, std::deque<WebClock::time_point>>;
    void forgetOld(Failures &failures, WebClock::time_point now);
    int recent(Failures &failures, const std::string &key, WebClock::time_point now);
    WebLimits m_limits;
    std::mutex m_mutex;
    Failures m_byUser, m_byAddress;
};

// A logged-in user's session: what the web view keeps of it. `Held` is
// the connection's keeper (shared, so that a request under way keeps it
// while a logout removes the session).
template <typename Held>
class SessionTable
{
public:
    struct Session
    {
        std::string user;
        WebClock::time_point created, lastUsed;
        std::shared_ptr<Held> held;
    };
    explicit SessionTable(const WebLimits &limits)
        : m_limits(limits)
    {
    }
    // A new session under a new token (the login's least recently used
    // one ended when it has as many as allowed); empty when the table is
    // full of live sessions.
    std::string add(const std::string &user, std::shared_ptr<Held> held, WebClock::time_point now);
    // The session of `token`, its idle time restarted; none for a token
    // unknown, logged out or expired (an expired one is removed).
    std::shared_ptr<Held> find(const std::string &token, WebClock::time_point now, std::string *user = nullptr);
    void remove(const std::string &token);
    std::size_t size();

private:
    void sweep(WebClock::time_point now);
    bool expired(const Session &session, WebClock::time_point now) const;
    WebLimits m_limits;
    std::mutex m_mutex;
    std::map<std::string, Session> m_sessions; // by the token's hash
};

// 32 random bytes from the system's generator, in hexadecimal.
std::string newSessionToken();
// The key a token is kept under: its SHA-256, in hexadecimal.
std::string tokenKey(const std::string &token);

template <typename Held>
std::string SessionTable<Held>::add(const std::string &user, std::shared_ptr<Held> held, WebClock::time_point now)
{
    std::lock_guard lock(m_mutex);
    sweep(now);
    auto oldest = m_sessions.end();
    std::size_t own = 0;
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it)
        if (it->second.user == user) {
            ++own;
            if (oldest == m_sessions.end() || it->second.lastUsed < oldest->second.lastUsed)
                oldest = it;
        }
    if (own >= m_limits.sessionsPerLogin && oldest != m_sessions.end())
        m_sessions.erase(oldest);
    if (m_sessions.size() >= m_limits.maxSessions)
        return {};
    const std::string token = newSessionToken();
    m_sessions[tokenKey(token)] = Session{user, now, now, std::move(held)};
    return token;
}

template <typename Held>
std::shared_ptr<Held> SessionTable<Held>::find(const std::string &token, WebClock::time_point now, std::string *user)
{
    if (token.size() != 64)
        return nullptr;
    std::lock_guard lock(m_mutex);
    const auto found = m_sessions.find(tokenKey(token));
    if (found == m_sessions.end())
        return nullptr;
    if (expired(found->second, now)) {
        m_sessions.erase(found);
        return nullptr;
    }
    found->second.lastUsed = now;
    if (user)
        *user = found->second.user;
    return found->second.held;
}

template <typename Held>
void SessionTable<Held>::remove(const std::string &token)
{
    std::lock_guard lock(m_mutex);
    m_sessions.erase(tokenKey(token));
}

template <typename Held>
std::size_t SessionTable<Held>::size()
{
    std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

template <typename Held>
void SessionTable<Held>::sweep(WebClock::time_point now)
{
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = expired(it->second, now) ? m_sessions.erase(it) : std::next(it);
}

template <typename Held>
bool SessionTable<Held>::expired(const Session &session, WebClock::time_point now) const
{
    return now - session.lastUsed >= m_limits.idle || now - session.created >= m_limits.lifetime;
}
