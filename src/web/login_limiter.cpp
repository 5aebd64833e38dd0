#include "web/login_limiter.h"

#include <algorithm>

namespace kelvaro::web {

LoginLimiter::LoginLimiter(Clock clock, int maxFailures, qint64 windowSeconds,
                           qsizetype maxAddresses)
    : m_clock(std::move(clock)), m_maxFailures(std::max(1, maxFailures)),
      m_windowMs(windowSeconds * 1000), m_maxAddresses(std::max<qsizetype>(1, maxAddresses))
{
}

std::optional<qint64> LoginLimiter::waitSeconds(const QString& address)
{
    const auto it = m_failures.constFind(address);
    if (it == m_failures.cend() || it->size() < m_maxFailures)
        return std::nullopt;
    // The oldest of the last m_maxFailures failures leaves the window first.
    const qint64 leftMs = it->first() + m_windowMs - m_clock();
    if (leftMs <= 0)
        return std::nullopt;
    return (leftMs + 999) / 1000;
}

void LoginLimiter::forgetOld(qint64 now)
{
    for (auto it = m_failures.begin(); it != m_failures.end();) {
        if (it->last() + m_windowMs <= now)
            it = m_failures.erase(it);
        else
            ++it;
    }
}

void LoginLimiter::recordFailure(const QString& address)
{
    const qint64 now = m_clock();
    if (!m_failures.contains(address) && m_failures.size() >= m_maxAddresses) {
        forgetOld(now);
        while (m_failures.size() >= m_maxAddresses) {
            auto oldest = m_failures.begin();
            for (auto it = m_failures.begin(); it != m_failures.end(); ++it)
                if (it->last() < oldest->last())
                    oldest = it;
            m_failures.erase(oldest);
        }
    }
    QList<qint64>& times = m_failures[address];
    times.append(now);
    while (times.size() > m_maxFailures)
        times.removeFirst();
}

} // namespace kelvaro::web
