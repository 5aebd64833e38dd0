#include "web/request_checks.h"

#include <QUrl>

namespace kelvaro::web {

namespace {

bool isLoopbackOrAny(const QString& address)
{
    return address.startsWith(u"127.") || address == u"::1" || address == u"0.0.0.0" ||
           address == u"::" || address == u"localhost";
}

// A header value as the person reading a refusal sees it: printable, not too long.
QString shown(const QByteArray& value)
{
    QString text;
    for (const char c : value.left(100))
        text += (c >= 0x20 && c < 0x7f) ? QChar::fromLatin1(c) : QChar(u'?');
    return value.size() > 100 ? text + u"..." : text;
}

} // namespace

RequestChecks::RequestChecks(const QString& listenAddress, quint16 port, bool tls,
                             const QStringList& hostNames)
    : m_scheme(tls ? QStringLiteral("https") : QStringLiteral("http"))
{
    const QString address = listenAddress.toLower();
    QStringList names;
    const bool any = address == u"0.0.0.0" || address == u"::";
    if (!any)
        names.append(address.contains(u':') ? u'[' + address + u']' : address);
    if (isLoopbackOrAny(address))
        names << QStringLiteral("localhost") << QStringLiteral("127.0.0.1")
              << QStringLiteral("[::1]");
    for (const QString& name : hostNames)
        names.append(name.toLower());
    const bool defaultPort = port == (tls ? 443 : 80);
    for (const QString& name : std::as_const(names)) {
        const QString withPort = name + u':' + QString::number(port);
        if (!m_hosts.contains(withPort))
            m_hosts.append(withPort);
        if (defaultPort && !m_hosts.contains(name))
            m_hosts.append(name);
    }
    for (const QString& host : std::as_const(m_hosts))
        m_origins.append(m_scheme + u"://" + host);
}

bool RequestChecks::addPublicOrigin(const QString& origin)
{
    const QUrl url(origin.toLower(), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty() ||
        !url.userInfo().isEmpty() || (!url.path().isEmpty() && url.path() != u"/") ||
        url.hasQuery() || url.hasFragment())
        return false;
    const int defaultPort = scheme == u"https" ? 443 : 80;
    const int port = url.port(defaultPort);
    const QString host =
        url.host(QUrl::FullyEncoded).contains(u':') ? u'[' + url.host() + u']' : url.host();
    const QString withPort = host + u':' + QString::number(port);
    for (const QString& name : {host, withPort}) {
        if (!m_hosts.contains(name))
            m_hosts.append(name);
    }
    m_origins.append(scheme + u"://" + withPort);
    if (port == defaultPort)
        m_origins.append(scheme + u"://" + host);
    return true;
}

Outcome<void> RequestChecks::checkHost(const QByteArray& host) const
{
    const QByteArray value = host.trimmed();
    if (value.isEmpty())
        return failure(QStringLiteral("the request names no host (no Host header)"));
    if (!m_hosts.contains(QString::fromLatin1(value).toLower()))
        return failure(QStringLiteral("the request is for host \"%1\", which is not this server "
                                      "(it answers to %2; add a name with --host-name)")
                           .arg(shown(value), m_hosts.join(QStringLiteral(", "))));
    return {};
}

Outcome<void> RequestChecks::checkOrigin(const std::optional<QByteArray>& origin, Kind kind) const
{
    if (!origin) {
        if (kind == Kind::Write)
            return failure(QStringLiteral("a change must come from this server's page, and the "
                                          "request says no origin (no Origin header)"));
        return {};
    }
    const QString value = QString::fromLatin1(origin->trimmed()).toLower();
    if (m_origins.contains(value))
        return {};
    return failure(QStringLiteral("the request comes from the page of \"%1\", not from this "
                                  "server's page")
                       .arg(shown(*origin)));
}

} // namespace kelvaro::web
