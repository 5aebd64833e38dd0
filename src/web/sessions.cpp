#include "web/sessions.h"

#include "web/random_token.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <algorithm>

namespace kelvaro::web {

namespace {

// Sessions are looked up by the SHA-256 of their token: the time a look-up takes then tells
// nothing about how much of a guessed token is right.
QByteArray key(const QByteArray& token)
{
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256);
}

} // namespace

Clock systemClock()
{
    return [] { return QDateTime::currentMSecsSinceEpoch(); };
}

Sessions::Sessions(Clock clock, qint64 lifetimeSeconds, qsizetype maxSessions)
    : m_clock(std::move(clock)), m_lifetimeSeconds(lifetimeSeconds),
      m_maxSessions(std::max<qsizetype>(1, maxSessions))
{
}

void Sessions::dropExpired(qint64 now)
{
    std::erase_if(m_sessions, [now](const auto& entry) { return entry.second.expiresMs <= now; });
}

Session Sessions::start(const QString& user, Role role, const QString& address)
{
    const qint64 now = m_clock();
    dropExpired(now);
    while (qsizetype(m_sessions.size()) >= m_maxSessions) {
        const auto oldest = std::min_element(
            m_sessions.begin(), m_sessions.end(),
            [](const auto& a, const auto& b) { return a.second.startMs < b.second.startMs; });
        m_sessions.erase(oldest);
    }
    Session session{randomToken(), user, role, address, now, now + m_lifetimeSeconds * 1000};
    m_sessions[key(session.token)] = session;
    return session;
}

std::optional<Session> Sessions::find(const QByteArray& token)
{
    const auto it = m_sessions.find(key(token));
    if (it == m_sessions.end())
        return std::nullopt;
    if (it->second.expiresMs <= m_clock()) {
        m_sessions.erase(it);
        return std::nullopt;
    }
    return it->second;
}

bool Sessions::end(const QByteArray& token)
{
    return m_sessions.erase(key(token)) > 0;
}

qsizetype Sessions::endUser(const QString& user)
{
    return qsizetype(
        std::erase_if(m_sessions, [&](const auto& entry) { return entry.second.user == user; }));
}

QByteArray Sessions::setCookie(const Session& session, bool tls) const
{
    // Rounded up, so that a session with any time left is never sent as already gone.
    const qint64 leftMs = std::max<qint64>(0, session.expiresMs - m_clock());
    const qint64 maxAge = (leftMs + 999) / 1000;
    QByteArray value = SessionCookieName + '=' + session.token +
                       "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" + QByteArray::number(maxAge);
    if (tls)
        value += "; Secure";
    return value;
}

QByteArray Sessions::clearCookie(bool tls)
{
    QByteArray value = SessionCookieName + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0";
    if (tls)
        value += "; Secure";
    return value;
}

std::optional<QByteArray> sessionTokenFromCookies(const QByteArray& cookieHeader)
{
    for (const QByteArray& pair : cookieHeader.split(';')) {
        const qsizetype equals = pair.indexOf('=');
        if (equals < 0 || pair.left(equals).trimmed() != SessionCookieName)
            continue;
        QByteArray value = pair.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        if (!looksLikeRandomToken(value))
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

} // namespace kelvaro::web
