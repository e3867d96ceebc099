#include "web/websessions.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>

#include <array>

namespace {

// The failures of names and addresses kept at most: past this, the oldest
// go first, so that a flood of made-up names cannot fill the memory.
constexpr std::size_t keptKeys = 10000;

} // namespace

std::string newSessionToken()
{
    std::array<quint32, 8> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char *>(words.data()), int(sizeof(words)));
    return bytes.toHex().toStdString();
}

std::string tokenKey(const std::string &token)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(token), QCryptographicHash::Sha256).toHex().toStdString();
}

LoginThrottle::LoginThrottle(const WebLimits &limits)
    : m_limits(limits)
{
}

void LoginThrottle::forgetOld(Failures &failures, WebClock::time_point now)
{
    for (auto it = failures.begin(); it != failures.end();) {
        auto &times = it->second;
        while (!times.empty() && now - times.front() >= m_limits.failureWindow)
            times.pop_front();
        it = times.empty() ? failures.erase(it) : std::next(it);
    }
    while (failures.size() > keptKeys) {
        auto oldest = failures.begin();
        for (auto it = failures.begin(); it != failures.end(); ++it)
            if (it->second.back() < oldest->second.back())
                oldest = it;
        failures.erase(oldest);
    }
}

int LoginThrottle::recent(Failures &failures, const std::string &key, WebClock::time_point now)
{
    const auto found = failures.find(key);
    if (found == failures.end())
        return 0;
    int count = 0;
    for (const auto &time : found->second)
        if (now - time < m_limits.failureWindow)
            ++count;
    return count;
}

bool LoginThrottle::allowed(const std::string &user, const std::string &address, WebClock::time_point now)
{
    std::lock_guard lock(m_mutex);
    return recent(m_byUser, user, now) < m_limits.failuresPerLogin
           && recent(m_byAddress, address, now) < m_limits.failuresPerAddress;
}

void LoginThrottle::failed(const std::string &user, const std::string &address, WebClock::time_point now)
{
    std::lock_guard lock(m_mutex);
    m_byUser[user].push_back(now);
    m_byAddress[address].push_back(now);
    if (m_byUser.size() > keptKeys / 2 || m_byAddress.size() > keptKeys / 2) {
        forgetOld(m_byUser, now);
        forgetOld(m_byAddress, now);
    }
}

void LoginThrottle::succeeded(const std::string &user)
{
    std::lock_guard lock(m_mutex);
    m_byUser.erase(user);
}
