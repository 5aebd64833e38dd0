#pragma once
// Who is logged in: one random token per log-in, carried by the browser in a cookie, with
// the user, the role, the address logged in from and a fixed expiry (12 hours from the
// log-in by default; a session is not extended by use, so a stolen cookie is worth at most
// that long). Log-out ends it at once. The number of sessions is bounded: a new log-in
// beyond the bound ends the oldest session.

#include "web/users_file.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <map>
#include <optional>

namespace kelvaro::web {

inline const QByteArray SessionCookieName = QByteArrayLiteral("kelvaro_session");

// The time now, in milliseconds since the epoch; tests give their own clock.
using Clock = std::function<qint64()>;
Clock systemClock();

struct Session
{
    QByteArray token; // 43 characters of base64url
    QString user;
    Role role = Role::Viewer;
    QString address; // the client's address at log-in
    qint64 startMs = 0;
    qint64 expiresMs = 0;
};

class Sessions
{
public:
    static constexpr qint64 DefaultLifetimeSeconds = 12 * 60 * 60;
    static constexpr qsizetype DefaultMaxSessions = 256;

    explicit Sessions(Clock clock = systemClock(), qint64 lifetimeSeconds = DefaultLifetimeSeconds,
                      qsizetype maxSessions = DefaultMaxSessions);

    // A new session after a successful log-in.
    Session start(const QString& user, Role role, const QString& address);

    // The live session of a token, or nothing for an unknown or expired one (which is
    // forgotten).
    std::optional<Session> find(const QByteArray& token);

    // Log-out; false when there was no such session.
    bool end(const QByteArray& token);

    // Ends every session of a user (their password was changed or they were removed);
    // returns how many.
    qsizetype endUser(const QString& user);

    qsizetype count() const { return qsizetype(m_sessions.size()); }
    qint64 lifetimeSeconds() const { return m_lifetimeSeconds; }

    // The value of the Set-Cookie header that hands the session to the browser:
    // "kelvaro_session=TOKEN; Path=/; HttpOnly; SameSite=Strict; Max-Age=N", and "; Secure"
    // when the page is served over TLS. Max-Age is what is left of the session.
    QByteArray setCookie(const Session& session, bool tls) const;
    // The Set-Cookie value that makes the browser forget the cookie (at log-out).
    static QByteArray clearCookie(bool tls);

private:
    void dropExpired(qint64 now);

    Clock m_clock;
    qint64 m_lifetimeSeconds = DefaultLifetimeSeconds;
    qsizetype m_maxSessions = DefaultMaxSessions;
    std::map<QByteArray, Session> m_sessions; // by the SHA-256 of the token
};

// The session token in a Cookie request header ("a=1; kelvaro_session=TOKEN; b=2"), or
// nothing when there is none or it is not shaped as a token. Of two, the first is taken
// (the browser sends the most specific path first).
std::optional<QByteArray> sessionTokenFromCookies(const QByteArray& cookieHeader);

} // namespace kelvaro::web
