#pragma once
// Slows down password guessing: at most 5 failed log-ins a minute from one client address.
// A further attempt within that minute is refused before its password is checked, with the
// seconds to wait. A success resets nothing (neither this address's failures nor anyone
// else's), so a valid account cannot be used to clear the count between guesses. Memory is
// bounded: addresses whose failures are all older than a minute are forgotten, and beyond
// the bound on addresses the one with the oldest last failure goes first.

#include "web/sessions.h"

#include <QHash>
#include <QList>
#include <QString>
#include <optional>

namespace kelvaro::web {

class LoginLimiter
{
public:
    static constexpr int DefaultMaxFailures = 5;
    static constexpr qint64 DefaultWindowSeconds = 60;
    static constexpr qsizetype DefaultMaxAddresses = 4096;

    explicit LoginLimiter(Clock clock = systemClock(), int maxFailures = DefaultMaxFailures,
                          qint64 windowSeconds = DefaultWindowSeconds,
                          qsizetype maxAddresses = DefaultMaxAddresses);

    // Asked before a password is checked: the whole seconds to wait (at least 1) when the
    // address has used up its failures within the window, nothing when it may try.
    std::optional<qint64> waitSeconds(const QString& address);

    // A wrong name or password from `address`.
    void recordFailure(const QString& address);

    qsizetype addressCount() const { return m_failures.size(); }

private:
    void forgetOld(qint64 now);

    Clock m_clock;
    int m_maxFailures = DefaultMaxFailures;
    qint64 m_windowMs = DefaultWindowSeconds * 1000;
    qsizetype m_maxAddresses = DefaultMaxAddresses;
    // Per address, the times of its recent failures, oldest first; at most m_maxFailures.
    QHash<QString, QList<qint64>> m_failures;
};

} // namespace kelvaro::web
