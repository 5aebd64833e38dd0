#pragma once
// Whether a request was meant for this server, before anything else is read from it.
// The Host header must name this server, or a page on another site could reach it through
// a name that its owner points at this address (DNS rebinding); a write and the WebSocket
// must come from this server's own page, which the browser says in the Origin header.
//
// Names this server answers to, each with the port (and without it when the port is the
// scheme's own, 80 for http and 443 for https):
//   - the address it listens on ("192.168.1.20:8080", "[fd00::5]:8080");
//   - localhost, 127.0.0.1 and [::1] when it listens on a loopback address or on all
//     addresses (0.0.0.0 or ::);
//   - each name given with --host-name ("pi.local", "heating.example.org").
// Case does not matter (browsers send names in lower case); nothing else is allowed: no
// trailing dot, no user before an @, no other port.

#include "core/outcome.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace kelvaro::web {

class RequestChecks
{
public:
    // `listenAddress` as an address in text ("127.0.0.1", "::1", "0.0.0.0", "::",
    // "192.168.1.20"); `hostNames` as given with --host-name, without a port.
    RequestChecks(const QString& listenAddress, quint16 port, bool tls,
                  const QStringList& hostNames = {});

    // The Host header of a request.
    Outcome<void> checkHost(const QByteArray& host) const;

    enum class Kind
    {
        Read,  // a page or data: an Origin, when sent, must be ours
        Write, // a change or the WebSocket: the Origin must be sent and be ours
    };
    // The Origin header of a request, nothing when it has none.
    Outcome<void> checkOrigin(const std::optional<QByteArray>& origin, Kind kind) const;

    // The address browsers use when a reverse proxy serves the page ("https://heating.example.org",
    // "https://example.org:8443"): its host is accepted as Host, with and without its port,
    // and it as Origin. False for anything but http(s)://HOST[:PORT].
    bool addPublicOrigin(const QString& origin);

    // Every Host value accepted, in lower case.
    const QStringList& allowedHosts() const { return m_hosts; }

private:
    QStringList m_hosts;
    QStringList m_origins; // every Origin accepted, in lower case
    QString m_scheme;
};

} // namespace kelvaro::web
