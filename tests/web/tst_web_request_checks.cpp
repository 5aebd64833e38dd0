// Which Host and Origin headers a request may carry, for a server on loopback, on all
// addresses, on a LAN address, on IPv6, and on the scheme's own port.

#include "web/request_checks.h"

#include <QTest>

using namespace kelvaro::web;

class TestWebRequestChecks : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void host_data();
    void host();
    void origin_data();
    void origin();
};

namespace {

// The servers of the tables, by name.
RequestChecks server(const QString& name)
{
    const QStringList piLocal{QStringLiteral("pi.local")};
    if (name == u"loopback")
        return RequestChecks(QStringLiteral("127.0.0.1"), 8080, false);
    if (name == u"loopback6")
        return RequestChecks(QStringLiteral("::1"), 8080, false);
    if (name == u"any")
        return RequestChecks(QStringLiteral("0.0.0.0"), 8080, false, piLocal);
    if (name == u"lan")
        return RequestChecks(QStringLiteral("192.168.1.20"), 8080, false, piLocal);
    if (name == u"lan6")
        return RequestChecks(QStringLiteral("FD00::5"), 8443, true);
    if (name == u"https on 443")
        return RequestChecks(QStringLiteral("192.168.1.20"), 443, true, piLocal);
    if (name == u"behind a proxy") {
        RequestChecks checks(QStringLiteral("127.0.0.1"), 8640, false);
        if (!checks.addPublicOrigin(QStringLiteral("https://Heating.example.org")))
            qFatal("public origin refused");
        return checks;
    }
    qFatal("no such server");
}

} // namespace

void TestWebRequestChecks::host_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<bool>("allowed");
    const auto row = [](const char* name, const char* on, const char* host, bool allowed) {
        QTest::newRow(name) << QString::fromLatin1(on) << QByteArray(host) << allowed;
    };
    row("localhost", "loopback", "localhost:8080", true);
    row("127.0.0.1", "loopback", "127.0.0.1:8080", true);
    row("[::1] on IPv4 loopback", "loopback", "[::1]:8080", true);
    row("[::1]", "loopback6", "[::1]:8080", true);
    row("capitals", "loopback", "LocalHost:8080", true);
    row("spaces around", "loopback", " localhost:8080 ", true);
    row("no port", "loopback", "localhost", false);
    row("wrong port", "loopback", "localhost:8081", false);
    row("trailing dot", "loopback", "localhost.:8080", false);
    row("subdomain of an attacker", "loopback", "localhost.evil.com:8080", false);
    row("address under a wildcard DNS", "loopback", "127.0.0.1.nip.io:8080", false);
    row("userinfo", "loopback", "a@localhost:8080", false);
    row("::1 without brackets", "loopback6", "::1:8080", false);
    row("other loopback address", "loopback", "127.0.0.2:8080", false);
    row("empty", "loopback", "", false);
    row("host name on all addresses", "any", "pi.local:8080", true);
    row("localhost on all addresses", "any", "localhost:8080", true);
    row("LAN address", "lan", "192.168.1.20:8080", true);
    row("host name on LAN", "lan", "pi.local:8080", true);
    row("localhost on LAN", "lan", "localhost:8080", false);
    row("other name on LAN", "lan", "evil.example:8080", false);
    row("IPv6 LAN address", "lan6", "[fd00::5]:8443", true);
    row("IPv6 without brackets", "lan6", "fd00::5:8443", false);
    row("default port omitted", "https on 443", "pi.local", true);
    row("default port given", "https on 443", "pi.local:443", true);
    row("http's default port", "https on 443", "pi.local:80", false);
    row("proxy's name", "behind a proxy", "heating.example.org", true);
    row("proxy's name and port", "behind a proxy", "heating.example.org:443", true);
    row("proxy's name, another port", "behind a proxy", "heating.example.org:8640", false);
    row("loopback behind a proxy", "behind a proxy", "127.0.0.1:8640", true);
}

void TestWebRequestChecks::host()
{
    QFETCH(QString, server);
    QFETCH(QByteArray, host);
    QFETCH(bool, allowed);
    const auto checked = ::server(server).checkHost(host);
    QVERIFY2(bool(checked) == allowed, qPrintable(checked.reason()));
    if (!allowed && !host.trimmed().isEmpty())
        QVERIFY2(checked.reason().startsWith(u"the request is for host \""),
                 qPrintable(checked.reason()));
}

void TestWebRequestChecks::origin_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QByteArray>("origin"); // "-": no Origin header
    QTest::addColumn<bool>("write");
    QTest::addColumn<bool>("allowed");
    const auto row = [](const char* name, const char* on, const char* origin, bool write,
                        bool allowed) {
        QTest::newRow(name) << QString::fromLatin1(on) << QByteArray(origin) << write << allowed;
    };
    row("own page", "loopback", "http://localhost:8080", true, true);
    row("capitals", "loopback", "HTTP://LOCALHOST:8080", true, true);
    row("no origin on a write", "loopback", "-", true, false);
    row("no origin on a read", "loopback", "-", false, true);
    row("other site", "loopback", "http://evil.example", true, false);
    row("null", "loopback", "null", true, false);
    row("https for an http server", "loopback", "https://localhost:8080", true, false);
    row("wrong port", "loopback", "http://localhost:8081", true, false);
    row("attacker subdomain", "loopback", "http://localhost.evil.com:8080", true, false);
    row("trailing slash", "loopback", "http://localhost:8080/", true, false);
    row("userinfo", "loopback", "http://a@localhost:8080", true, false);
    row("IPv6", "lan6", "https://[fd00::5]:8443", true, true);
    row("default port omitted", "https on 443", "https://pi.local", true, true);
    row("http on 443", "https on 443", "http://pi.local", true, false);
    row("proxy's page", "behind a proxy", "https://heating.example.org", true, true);
    row("proxy's page over http", "behind a proxy", "http://heating.example.org", true, false);
}

void TestWebRequestChecks::origin()
{
    QFETCH(QString, server);
    QFETCH(QByteArray, origin);
    QFETCH(bool, write);
    QFETCH(bool, allowed);
    const auto checked = ::server(server).checkOrigin(
        origin == "-" ? std::nullopt : std::optional(origin),
        write ? RequestChecks::Kind::Write : RequestChecks::Kind::Read);
    QVERIFY2(bool(checked) == allowed, qPrintable(checked.reason()));
}

QTEST_GUILESS_MAIN(TestWebRequestChecks)
#include "tst_web_request_checks.moc"
