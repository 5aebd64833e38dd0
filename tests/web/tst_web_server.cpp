// kelvaro-web's doors over real HTTP on a loopback port: every route as nobody, a viewer,
// an operator and a script's token; the Host and Origin checks; the log-in limit; the page's
// WebSocket refused across sites and a viewer's forged write over it. No recorder is
// needed: a change that passes every check reaches the board hub, which answers that the
// board is unknown.

#include "web/api_tokens.h"
#include "web/board_hub.h"
#include "web/users_file.h"
#include "web/web_server.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslKey>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

using namespace kelvaro::web;
using namespace Qt::StringLiterals;

namespace {

struct Answer
{
    int status = 0;
    QByteArray body;
    QNetworkReply* reply = nullptr; // for headers; owned by the test's manager
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// Each request carries only the cookie the test gives it.
class NoCookies : public QNetworkCookieJar
{
public:
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
};

} // namespace

class TestWebServer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void routes_data();
    void routes();
    void everyReply_carriesThePagePolicy();
    void foreignHostOrOrigin_isRefused_data();
    void foreignHostOrOrigin_isRefused();
    void logIn_isLimitedPerAddress();
    void logOut_endsTheSession();
    void webSocket_data();
    void webSocket();
    void webSocket_hostilePageIsClosed_data();
    void webSocket_hostilePageIsClosed();
    void usersFileOthersMayRead_refusesToStart();
    void tls_servesHttpsAndMarksTheCookieSecure();

private:
    Answer ask(const QByteArray& method, const QString& path, const QByteArray& who,
               const QByteArray& body = {}, QList<std::pair<QByteArray, QByteArray>> headers = {});
    QByteArray logIn(const QString& user, const QString& password);
    QString origin() const { return u"http://127.0.0.1:%1"_s.arg(m_server->port()); }

    QTemporaryDir m_dir;
    QNetworkAccessManager m_net;
    std::unique_ptr<BoardHub> m_hub;
    std::unique_ptr<WebServer> m_server;
    QByteArray m_viewerCookie;
    QByteArray m_operatorCookie;
    QByteArray m_token;
    qint64 m_now = 1'700'000'000'000;
};

void TestWebServer::initTestCase()
{
    m_net.setCookieJar(new NoCookies);
    const QString users = m_dir.filePath(u"users"_s);
    UsersFile file(users, 1);
    QVERIFY(file.setUser(u"desk"_s, Role::Viewer, u"viewer pass 1"_s));
    QVERIFY(file.setUser(u"anna"_s, Role::Operator, u"operator pass 1"_s));
    ApiTokens tokens(users + u".tokens"_s);
    const auto made = tokens.create(u"anna"_s);
    QVERIFY(made);
    m_token = made->token;

    m_hub = std::make_unique<BoardHub>(QStringList{m_dir.filePath(u"none/kelvaro.sock"_s)},
                                       m_dir.filePath(u"run"_s));
    WebServerConfig config;
    config.usersPath = users;
    config.tokensPath = users + u".tokens"_s;
    config.hashCost = 1;
    config.clock = [this] { return m_now; };
    m_server = std::make_unique<WebServer>(config, *m_hub);
    m_hub->start();
    const auto started = m_server->start();
    QVERIFY2(started, qPrintable(started.reason()));
    m_viewerCookie = logIn(u"desk"_s, u"viewer pass 1"_s);
    m_operatorCookie = logIn(u"anna"_s, u"operator pass 1"_s);
    QVERIFY(!m_viewerCookie.isEmpty() && !m_operatorCookie.isEmpty());
}

Answer TestWebServer::ask(const QByteArray& method, const QString& path, const QByteArray& who,
                          const QByteArray& body, QList<std::pair<QByteArray, QByteArray>> headers)
{
    QNetworkRequest request(QUrl(u"http://127.0.0.1:%1%2"_s.arg(m_server->port()).arg(path)));
    if (method == "POST") {
        request.setRawHeader("Origin", origin().toLatin1());
        request.setRawHeader("Content-Type", "application/json");
    }
    if (who == "viewer")
        request.setRawHeader("Cookie", m_viewerCookie);
    else if (who == "operator")
        request.setRawHeader("Cookie", m_operatorCookie);
    else if (who == "token")
        request.setRawHeader("Authorization", "Bearer " + m_token);
    else if (who == "bad token")
        request.setRawHeader("Authorization",
                             "Bearer kw_AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
    for (const auto& [name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply* reply = m_net.sendCustomRequest(request, method, body);
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        done.wait(10000);
    return Answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                  reply->readAll(), reply};
}

QByteArray TestWebServer::logIn(const QString& user, const QString& password)
{
    const Answer answer =
        ask("POST", u"/login"_s, {},
            QJsonDocument(QJsonObject{{u"user"_s, user}, {u"password"_s, password}}).toJson());
    const QByteArray cookie = answer.reply->rawHeader("Set-Cookie");
    return cookie.left(cookie.indexOf(';'));
}

void TestWebServer::routes_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("who");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says"); // a part of the body

    const QByteArray set = R"({"board":"east","box":2,"text":"21.5"})";
    QTest::newRow("page, nobody") << "GET"_ba << u"/"_s << ""_ba << QByteArray() << 200
                                  << u"<html"_s;
    QTest::newRow("script, nobody")
        << "GET"_ba << u"/app.js"_s << ""_ba << QByteArray() << 200 << u""_s;
    QTest::newRow("session, nobody")
        << "GET"_ba << u"/session"_s << ""_ba << QByteArray() << 401 << u"\"login\":true"_s;
    QTest::newRow("session, viewer") << "GET"_ba << u"/session"_s << "viewer"_ba << QByteArray()
                                     << 200 << u"\"role\":\"viewer\""_s;
    QTest::newRow("session, operator") << "GET"_ba << u"/session"_s << "operator"_ba << QByteArray()
                                       << 200 << u"\"role\":\"operator\""_s;
    QTest::newRow("boards, nobody")
        << "GET"_ba << u"/api/boards"_s << ""_ba << QByteArray() << 401 << u"Log in first"_s;
    QTest::newRow("boards, bad token")
        << "GET"_ba << u"/api/boards"_s << "bad token"_ba << QByteArray() << 401 << u""_s;
    QTest::newRow("boards, token") << "GET"_ba << u"/api/boards"_s << "token"_ba << QByteArray()
                                   << 200 << u"\"name\":\"none\""_s;
    QTest::newRow("values, nobody")
        << "GET"_ba << u"/api/values?board=none"_s << ""_ba << QByteArray() << 401 << u""_s;
    QTest::newRow("values, viewer, no block yet")
        << "GET"_ba << u"/api/values?board=none"_s << "viewer"_ba << QByteArray() << 503
        << u"no block"_s;
    QTest::newRow("values, unknown board") << "GET"_ba << u"/api/values?board=east"_s << "viewer"_ba
                                           << QByteArray() << 404 << u"no board"_s;
    QTest::newRow("set, nobody") << "POST"_ba << u"/api/set"_s << ""_ba << set << 401 << u""_s;
    QTest::newRow("set, viewer") << "POST"_ba << u"/api/set"_s << "viewer"_ba << set << 403
                                 << u"A viewer cannot change the board"_s;
    QTest::newRow("set, operator")
        << "POST"_ba << u"/api/set"_s << "operator"_ba << set << 502 << u"there is no board"_s;
    QTest::newRow("set, token") << "POST"_ba << u"/api/set"_s << "token"_ba << set << 502
                                << u"there is no board"_s;
    QTest::newRow("set by GET") << "GET"_ba << u"/api/set"_s << "operator"_ba << QByteArray() << 405
                                << u""_s;
    QTest::newRow("set, not JSON") << "POST"_ba << u"/api/set"_s << "operator"_ba
                                   << "box=2"_ba << 400 << u""_s;
    QTest::newRow("report, nobody")
        << "GET"_ba << u"/report.csv?board=none"_s << ""_ba << QByteArray() << 401 << u""_s;
    QTest::newRow("report, bad day") << "GET"_ba << u"/report.csv?board=none&from=2026-02-30"_s
                                     << "viewer"_ba << QByteArray() << 400 << u""_s;
    QTest::newRow("report, recorder gone")
        << "GET"_ba << u"/report.csv?board=none"_s << "viewer"_ba << QByteArray() << 502 << u""_s;
    QTest::newRow("no such route")
        << "GET"_ba << u"/etc/passwd"_s << "operator"_ba << QByteArray() << 404 << u""_s;
    QTest::newRow("WebSocket by plain GET")
        << "GET"_ba << u"/ws"_s << "operator"_ba << QByteArray() << 426 << u""_s;
    QTest::newRow("DELETE") << "DELETE"_ba << u"/session"_s << "operator"_ba << QByteArray() << 405
                            << u""_s;
    QTest::newRow("log-in, 1 MB body")
        << "POST"_ba << u"/login"_s << ""_ba << QByteArray(1 << 20, 'x') << 400 << u""_s;
}

void TestWebServer::routes()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, who);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, says);
    const Answer answer = ask(method, path, who, body);
    QCOMPARE(answer.status, status);
    QVERIFY2(QString::fromUtf8(answer.body).contains(says), answer.body.constData());
}

void TestWebServer::everyReply_carriesThePagePolicy()
{
    for (const QString& path : {u"/"_s, u"/session"_s, u"/nothing"_s}) {
        const Answer answer = ask("GET", path, {});
        QCOMPARE(answer.reply->rawHeader("Content-Security-Policy").left(19),
                 "default-src 'self';"_ba);
        QCOMPARE(answer.reply->rawHeader("X-Content-Type-Options"), "nosniff"_ba);
    }
    // The page stays within its budget.
    qsizetype total = 0;
    for (const QString& path : {u"/"_s, u"/app.js"_s, u"/style.css"_s, u"/icon.svg"_s})
        total += ask("GET", path, {}).body.size();
    QVERIFY2(total <= 200 * 1024, qPrintable(QString::number(total)));
}

void TestWebServer::foreignHostOrOrigin_isRefused_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("status");
    QTest::newRow("rebinding name") << "GET"_ba
                                    << "Host"_ba
                                    << "attacker.example:80"_ba << 421;
    QTest::newRow("other port") << "GET"_ba
                                << "Host"_ba
                                << "127.0.0.1:1"_ba << 421;
    QTest::newRow("write from another site") << "POST"_ba
                                             << "Origin"_ba
                                             << "http://attacker.example"_ba << 403;
    QTest::newRow("write without Origin") << "POST"_ba
                                          << "Origin"_ba
                                          << ""_ba << 403;
    QTest::newRow("read from another site") << "GET"_ba
                                            << "Origin"_ba
                                            << "http://attacker.example"_ba << 403;
}

void TestWebServer::foreignHostOrOrigin_isRefused()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, value);
    QFETCH(int, status);
    const Answer answer =
        ask(method, method == "POST" ? u"/api/set"_s : u"/api/boards"_s, "operator",
            R"({"board":"none","box":2,"text":"21"})", {{header, value}});
    QCOMPARE(answer.status, status);
}

void TestWebServer::logIn_isLimitedPerAddress()
{
    const QByteArray wrong = R"({"user":"anna","password":"guess"})";
    for (int i = 0; i < 5; ++i)
        QCOMPARE(ask("POST", u"/login"_s, {}, wrong).status, 401);
    // The sixth try, even with the right password, waits: the password is not checked.
    const Answer limited =
        ask("POST", u"/login"_s, {}, R"({"user":"anna","password":"operator pass 1"})");
    QCOMPARE(limited.status, 429);
    QVERIFY(limited.reply->rawHeader("Retry-After").toInt() >= 1);
    QVERIFY(
        limited.json().value(u"error").toString().startsWith(u"Too many failed log-ins: wait "_s));
    m_now += 61'000;
    QVERIFY(!logIn(u"anna"_s, u"operator pass 1"_s).isEmpty());
}

void TestWebServer::logOut_endsTheSession()
{
    const QByteArray cookie = logIn(u"desk"_s, u"viewer pass 1"_s);
    const auto asThem = [&] { return ask("GET", u"/session"_s, {}, {}, {{"Cookie", cookie}}); };
    QCOMPARE(asThem().status, 200);
    const Answer out = ask("POST", u"/logout"_s, {}, {}, {{"Cookie", cookie}});
    QCOMPARE(out.status, 200);
    QVERIFY(out.reply->rawHeader("Set-Cookie").contains("Max-Age=0"));
    QCOMPARE(asThem().status, 401);
}

void TestWebServer::webSocket_data()
{
    QTest::addColumn<QByteArray>("who");
    QTest::addColumn<QString>("origin");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("setAnswer"); // what a write is answered, when it opens
    QTest::newRow("nobody") << ""_ba << u"ours"_s << false << u""_s;
    QTest::newRow("another site") << "operator"_ba << u"http://attacker.example"_s << false
                                  << u""_s;
    QTest::newRow("no Origin") << "operator"_ba << u""_s << false << u""_s;
    QTest::newRow("viewer's forged write")
        << "viewer"_ba << u"ours"_s << true
        << u"A viewer cannot change the board: log in as an operator."_s;
    QTest::newRow("operator") << "operator"_ba << u"ours"_s << true
                              << u"there is no board \"east\""_s;
}

void TestWebServer::webSocket()
{
    QFETCH(QByteArray, who);
    QFETCH(QString, origin);
    QFETCH(bool, opens);
    QFETCH(QString, setAnswer);
    QNetworkRequest request(QUrl(u"ws://127.0.0.1:%1/ws"_s.arg(m_server->port())));
    if (!who.isEmpty())
        request.setRawHeader("Cookie", who == "viewer" ? m_viewerCookie : m_operatorCookie);
    QWebSocket socket(origin == u"ours" ? this->origin() : origin);
    QSignalSpy connected(&socket, &QWebSocket::connected);
    QSignalSpy closed(&socket, &QWebSocket::disconnected);
    QSignalSpy messages(&socket, &QWebSocket::textMessageReceived);
    socket.open(request);
    QTRY_VERIFY_WITH_TIMEOUT(!connected.isEmpty() || !closed.isEmpty(), 10000);
    QCOMPARE(!connected.isEmpty(), opens);
    if (!opens)
        return;
    QTRY_VERIFY(!messages.isEmpty());
    const QJsonObject welcome =
        QJsonDocument::fromJson(messages.takeFirst().at(0).toString().toUtf8()).object();
    QCOMPARE(welcome.value(u"type").toString(), u"welcome"_s);
    QCOMPARE(welcome.value(u"role").toString(), who == "viewer" ? u"viewer"_s : u"operator"_s);
    // The set names a board that is not there: an operator's passes every check and is
    // answered by the hub; a viewer's is refused first, with the message's id.
    socket.sendTextMessage(uR"({"type":"board","board":"none"})"_s);
    socket.sendTextMessage(uR"({"type":"set","id":7,"box":2,"text":"21.5"})"_s);
    QJsonObject answer;
    QTRY_VERIFY(std::any_of(messages.begin(), messages.end(), [&](const QList<QVariant>& message) {
        answer = QJsonDocument::fromJson(message.at(0).toString().toUtf8()).object();
        return answer.value(u"id").toInt() == 7;
    }));
    const QString said = answer.value(u"reason").toString();
    QVERIFY2(said.startsWith(setAnswer.left(20)) || said.contains(u"not connected"_s),
             qPrintable(said));
}

void TestWebServer::webSocket_hostilePageIsClosed_data()
{
    QTest::addColumn<int>("messages");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QWebSocketProtocol::CloseCode>("code");
    QTest::newRow("1 MB message") << 1 << 1024 * 1024 << QWebSocketProtocol::CloseCodeTooMuchData;
    QTest::newRow("a flood") << 40 << 20 << QWebSocketProtocol::CloseCodePolicyViolated;
}

void TestWebServer::webSocket_hostilePageIsClosed()
{
    QFETCH(int, messages);
    QFETCH(int, bytes);
    QFETCH(QWebSocketProtocol::CloseCode, code);
    QNetworkRequest request(QUrl(u"ws://127.0.0.1:%1/ws"_s.arg(m_server->port())));
    request.setRawHeader("Cookie", m_operatorCookie);
    QWebSocket socket(origin());
    QSignalSpy closed(&socket, &QWebSocket::disconnected);
    socket.open(request);
    QTRY_COMPARE(socket.state(), QAbstractSocket::ConnectedState);
    for (int i = 0; i < messages; ++i)
        socket.sendTextMessage(QString(bytes, u' ') + uR"({"type":"days"})"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!closed.isEmpty(), 10000);
    QCOMPARE(socket.closeCode(), code);
}

void TestWebServer::usersFileOthersMayRead_refusesToStart()
{
    const QString users = m_dir.filePath(u"open-users"_s);
    UsersFile file(users, 1);
    QVERIFY(file.setUser(u"anna"_s, Role::Operator, u"operator pass 1"_s));
    QFile::setPermissions(users, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    WebServerConfig config;
    config.usersPath = users;
    config.tokensPath = users + u".tokens"_s;
    BoardHub hub({}, m_dir.filePath(u"run"_s));
    WebServer server(config, hub);
    const auto started = server.start();
    QVERIFY(!started);
    QVERIFY2(started.reason().contains(u"chmod 600"_s), qPrintable(started.reason()));
}

void TestWebServer::tls_servesHttpsAndMarksTheCookieSecure()
{
    // openssl makes the certificate; the arm64 root that runs these tests under qemu has none.
    if (QStandardPaths::findExecutable(u"openssl"_s).isEmpty())
        QSKIP("needs openssl to make a certificate");
    const QString key = m_dir.filePath(u"key.pem"_s);
    const QString cert = m_dir.filePath(u"cert.pem"_s);
    const int made = QProcess::execute(
        u"openssl"_s, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                       u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"2"_s,
                       u"-subj"_s, u"/CN=localhost"_s, u"-keyout"_s, key, u"-out"_s, cert});
    QCOMPARE(made, 0);
    QFile keyFile(key);
    QFile certFile(cert);
    QVERIFY(keyFile.open(QIODevice::ReadOnly) && certFile.open(QIODevice::ReadOnly));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(certFile.readAll(), QSsl::Pem));
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec, QSsl::Pem));

    WebServerConfig config;
    config.usersPath = m_dir.filePath(u"users"_s);
    config.tokensPath = config.usersPath + u".tokens"_s;
    config.hashCost = 1;
    config.tls = tls;
    BoardHub hub({}, m_dir.filePath(u"run"_s));
    WebServer server(config, hub);
    QVERIFY(server.start());

    // 127.0.0.1, not localhost: a minimal system may have no /etc/hosts to name it.
    const QString origin = u"https://127.0.0.1:%1"_s.arg(server.port());
    QNetworkRequest request(QUrl(origin + u"/login"_s));
    request.setRawHeader("Origin", origin.toLatin1());
    request.setRawHeader("Content-Type", "application/json");
    QNetworkReply* reply = m_net.post(request, R"({"user":"desk","password":"viewer pass 1"})");
    reply->ignoreSslErrors();
    QSignalSpy done(reply, &QNetworkReply::finished);
    QVERIFY(done.wait(10000));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QVERIFY2(reply->rawHeader("Set-Cookie").endsWith("; Secure"),
             reply->rawHeader("Set-Cookie").constData());
}

QTEST_GUILESS_MAIN(TestWebServer)
#include "tst_web_server.moc"
