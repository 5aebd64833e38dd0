#include "web/web_server.h"

#include "core/printable_text.h"
#include "core/version.h"
#include "values/parameter_entry.h"
#include "web/api_tokens.h"
#include "web/browser_channel.h"
#include "web/history_job.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QPointer>
#include <QThreadPool>
#include <QUrlQuery>
#include <cstdio>

// The page's files live in a static library's resources, which must be named once to be
// linked in.
static void initPageResources()
{
    Q_INIT_RESOURCE(page);
}

namespace kelvaro::web {

namespace {

// The longest body a route reads (a log-in, a write); the page sends far less.
constexpr qsizetype MaxBodyBytes = 16 * 1024;

HttpReply json(int status, const QJsonObject& object)
{
    return HttpReply{
        status, "application/json", QJsonDocument(object).toJson(QJsonDocument::Compact), {}};
}

HttpReply failure(int status, const QString& reason)
{
    return json(status, QJsonObject{{QStringLiteral("error"), reason}});
}

struct PageFile
{
    const char* path;
    const char* resource;
    const char* type;
};

constexpr std::array<PageFile, 5> PageFiles{{
    {"/", ":/kelvaro-web/index.html", "text/html; charset=utf-8"},
    {"/index.html", ":/kelvaro-web/index.html", "text/html; charset=utf-8"},
    {"/app.js", ":/kelvaro-web/app.js", "text/javascript; charset=utf-8"},
    {"/style.css", ":/kelvaro-web/style.css", "text/css; charset=utf-8"},
    {"/icon.svg", ":/kelvaro-web/icon.svg", "image/svg+xml"},
}};

std::optional<HttpReply> pageFile(const QString& path)
{
    for (const PageFile& file : PageFiles) {
        if (path != QLatin1String(file.path))
            continue;
        QFile resource(QString::fromLatin1(file.resource));
        if (!resource.open(QIODevice::ReadOnly))
            return std::nullopt;
        return HttpReply{200,
                         file.type,
                         resource.readAll(),
                         {{QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-cache")}}};
    }
    return std::nullopt;
}

// The address the log-in limit counts: IPv6 clients by their /64, which one client holds.
QString limitAddress(const QHostAddress& address)
{
    bool isV4 = false;
    address.toIPv4Address(&isV4);
    if (isV4 || address.protocol() != QAbstractSocket::IPv6Protocol)
        return address.toString();
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

QString addressText(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

std::optional<QByteArray> originOf(const QHttpServerRequest& request)
{
    return headerOf(request, QByteArrayLiteral("origin"));
}

std::optional<QJsonObject> jsonBody(const QHttpServerRequest& request)
{
    if (request.body().size() > MaxBodyBytes)
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(request.body(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

const QString ViewerRefusal =
    QStringLiteral("A viewer cannot change the board: log in as an operator.");

std::optional<QDate> queryDay(const QUrlQuery& query, const QString& key, bool* bad)
{
    if (!query.hasQueryItem(key))
        return std::nullopt;
    const QDate day = QDate::fromString(query.queryItemValue(key), Qt::ISODate);
    if (!day.isValid())
        *bad = true;
    return day;
}

// Listening on every address, this server is reached by each of the machine's own: the
// page on a phone is opened as http://192.168.1.20:8640/. Link-local IPv6 addresses are
// left out (a browser cannot name them in a URL with their zone).
QStringList machineAddresses(const QHostAddress& listen)
{
    if (listen != QHostAddress::Any && listen != QHostAddress::AnyIPv4 &&
        listen != QHostAddress::AnyIPv6 && listen.toString() != u"0.0.0.0" &&
        listen.toString() != u"::")
        return {};
    QStringList names;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.isLoopback() || address.isLinkLocal())
            continue;
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            names << address.toString();
        else if (address.protocol() == QAbstractSocket::IPv6Protocol)
            names << u'[' + address.toString() + u']';
    }
    return names;
}

} // namespace

void journal(const QString& line)
{
    const QByteArray text = (printableText(line) + u'\n').toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

WebServer::WebServer(WebServerConfig config, BoardHub& hub, QObject* parent)
    : QObject(parent), m_config(std::move(config)), m_hub(hub), m_sessions(m_config.clock),
      m_limiter(m_config.clock)
{
    initPageResources();
    m_reload.setInterval(ReloadMs);
    connect(&m_reload, &QTimer::timeout, this, &WebServer::reloadUsers);
}

WebServer::~WebServer() = default;

Outcome<void> WebServer::start()
{
    if (usersRequired()) {
        auto users = std::make_shared<UsersFile>(m_config.usersPath, m_config.hashCost);
        if (const auto loaded = users->load(); !loaded)
            return loaded;
        if (users->userNames().isEmpty())
            return Failure{QStringLiteral("%1 holds no users: add one with kelvaro-web --users %1 "
                                          "--add-user NAME --role operator")
                               .arg(m_config.usersPath)};
        m_users = std::move(users);
        m_usersChanged = QFileInfo(m_config.usersPath).lastModified();
        m_tokens = std::make_unique<ApiTokens>(m_config.tokensPath);
        if (const auto loaded = m_tokens->load(); !loaded)
            return loaded;
        m_tokensChanged = QFileInfo(m_config.tokensPath).lastModified();
        m_reload.start();
    }
    m_front = std::make_unique<HttpFront>(static_cast<HttpHandler&>(*this));
    QString error;
    const auto port = m_front->start(m_config.listenAddress, m_config.port,
                                     m_config.tls ? &*m_config.tls : nullptr, &error);
    if (!port)
        return Failure{QStringLiteral("cannot listen on %1 port %2: %3")
                           .arg(m_config.listenAddress.toString())
                           .arg(m_config.port)
                           .arg(error)};
    m_port = *port;
    m_checks.emplace(m_config.listenAddress.toString(), m_port, m_config.tls.has_value(),
                     m_config.hostNames + machineAddresses(m_config.listenAddress));
    if (!m_config.publicUrl.isEmpty())
        m_checks->addPublicOrigin(m_config.publicUrl);
    return {};
}

void WebServer::reloadUsers()
{
    const QDateTime usersChanged = QFileInfo(m_config.usersPath).lastModified();
    if (usersChanged != m_usersChanged) {
        m_usersChanged = usersChanged;
        auto users = std::make_shared<UsersFile>(m_config.usersPath, m_config.hashCost);
        if (const auto loaded = users->load(); !loaded) {
            journal(QStringLiteral("web: the users file was not read again, the users stay as "
                                   "they were: %1")
                        .arg(loaded.reason()));
        } else {
            // Whoever was removed or has another role now logs in again.
            for (const QString& name : m_users->userNames()) {
                if (users->role(name) != m_users->role(name) && m_sessions.endUser(name) > 0)
                    journal(
                        QStringLiteral("web: %1's sessions ended: the user was changed or removed")
                            .arg(name));
            }
            m_users = std::move(users);
        }
    }
    const QDateTime tokensChanged = QFileInfo(m_config.tokensPath).lastModified();
    if (tokensChanged != m_tokensChanged) {
        m_tokensChanged = tokensChanged;
        if (const auto loaded = m_tokens->load(); !loaded)
            journal(
                QStringLiteral("web: the tokens file was not read again: %1").arg(loaded.reason()));
    }
}

std::optional<Caller> WebServer::callerOfCookie(const QByteArray& cookies, const QString& address)
{
    if (!usersRequired())
        return Caller{QStringLiteral("local"), Role::Operator, address};
    const auto token = sessionTokenFromCookies(cookies);
    if (!token)
        return std::nullopt;
    const auto session = m_sessions.find(*token);
    if (!session)
        return std::nullopt;
    return Caller{session->user, session->role, address};
}

std::optional<Caller> WebServer::caller(const QHttpServerRequest& request)
{
    const QString address = addressText(request.remoteAddress());
    const QByteArray authorization = request.value(QByteArrayLiteral("authorization"));
    if (!authorization.isEmpty()) {
        if (!usersRequired())
            return Caller{QStringLiteral("local"), Role::Operator, address};
        if (!authorization.startsWith("Bearer "))
            return std::nullopt;
        const auto user = m_tokens->userOf(authorization.mid(7).trimmed());
        if (!user)
            return std::nullopt;
        const auto role = m_users->role(*user); // a removed user's tokens no longer work
        if (!role)
            return std::nullopt;
        return Caller{*user, *role, address};
    }
    return callerOfCookie(request.value(QByteArrayLiteral("cookie")), address);
}

void WebServer::handle(const QHttpServerRequest& request, PendingReply reply)
{
    if (const auto host = m_checks->checkHost(request.value(QByteArrayLiteral("host"))); !host)
        return reply.send(
            HttpReply{421, "text/plain; charset=utf-8", (host.reason() + u'\n').toUtf8(), {}});
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    if (!post && request.method() != QHttpServerRequest::Method::Get &&
        request.method() != QHttpServerRequest::Method::Head)
        return reply.send(failure(405, QStringLiteral("only GET and POST are answered here")));
    // A script with a token sends no Origin; a browser's POST always does.
    const bool bearer = !request.value(QByteArrayLiteral("authorization")).isEmpty();
    const auto kind = post && !bearer ? RequestChecks::Kind::Write : RequestChecks::Kind::Read;
    if (const auto origin = m_checks->checkOrigin(originOf(request), kind); !origin)
        return reply.send(failure(403, origin.reason()));
    route(request, request.url().path(), std::move(reply));
}

std::optional<HttpReply> WebServer::checkUpgrade(const QHttpServerRequest& request)
{
    auto refusal = upgradeRefusal(request);
    if (refusal) {
        journal(QStringLiteral("web: a page's connection from %1 refused: %2")
                    .arg(addressText(request.remoteAddress()),
                         QString::fromUtf8(refusal->body).trimmed()));
    }
    return refusal;
}

std::optional<HttpReply> WebServer::upgradeRefusal(const QHttpServerRequest& request)
{
    if (!m_checks)
        return HttpReply{503, "text/plain", "starting\n", {}};
    if (const auto host = m_checks->checkHost(request.value(QByteArrayLiteral("host"))); !host)
        return HttpReply{421, "text/plain; charset=utf-8", (host.reason() + u'\n').toUtf8(), {}};
    if (request.url().path() != u"/ws")
        return HttpReply{404, "text/plain", "Not found\n", {}};
    if (const auto origin = m_checks->checkOrigin(originOf(request), RequestChecks::Kind::Write);
        !origin)
        return HttpReply{403, "text/plain; charset=utf-8", (origin.reason() + u'\n').toUtf8(), {}};
    if (!caller(request))
        return HttpReply{401, "text/plain", "Log in first.\n", {}};
    const QString address = addressText(request.remoteAddress());
    if (m_sockets >= MaxWebSockets || m_socketsPerAddress.value(address) >= MaxWebSocketsPerAddress)
        return HttpReply{503, "text/plain", "Too many open pages.\n", {}};
    return std::nullopt;
}

void WebServer::takeWebSocket(std::unique_ptr<QWebSocket> socket)
{
    const QString address = addressText(socket->peerAddress());
    const auto who = callerOfCookie(socket->request().rawHeader("Cookie"), address);
    if (!who || m_sockets >= MaxWebSockets ||
        m_socketsPerAddress.value(address) >= MaxWebSocketsPerAddress) {
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("refused"));
        socket.release()->deleteLater();
        return;
    }
    ++m_sockets;
    ++m_socketsPerAddress[address];
    auto* channel = new BrowserChannel(std::move(socket), *who, *this);
    connect(channel, &QObject::destroyed, this, [this, address] {
        --m_sockets;
        if (--m_socketsPerAddress[address] <= 0)
            m_socketsPerAddress.remove(address);
    });
}

void WebServer::route(const QHttpServerRequest& request, const QString& path, PendingReply reply)
{
    const bool post = request.method() == QHttpServerRequest::Method::Post;
    if (!post) {
        if (auto file = pageFile(path))
            return reply.send(*file);
    }
    if (path == u"/login" && post)
        return logIn(request, std::move(reply));
    if (path == u"/ws")
        return reply.send(
            HttpReply{426,
                      "text/plain",
                      "WebSocket only\n",
                      {{QByteArrayLiteral("Upgrade"), QByteArrayLiteral("websocket")}}});
    const auto who = caller(request);
    if (path == u"/session" && !post) {
        if (!who)
            return reply.send(json(401, QJsonObject{{QStringLiteral("login"), true}}));
        return reply.send(json(200, QJsonObject{{QStringLiteral("user"), who->user},
                                                {QStringLiteral("role"), roleName(who->role)},
                                                {QStringLiteral("login"), usersRequired()},
                                                {QStringLiteral("version"), versionText()}}));
    }
    if (path == u"/logout" && post) {
        if (const auto token =
                sessionTokenFromCookies(request.value(QByteArrayLiteral("cookie")))) {
            if (m_sessions.end(*token) && who)
                journal(QStringLiteral("web: %1 from %2 logged out").arg(who->user, who->address));
        }
        return reply.send(
            HttpReply{200,
                      "application/json",
                      "{}",
                      {{QByteArrayLiteral("Set-Cookie"), Sessions::clearCookie(secureCookies())}}});
    }
    const bool known = path == u"/report.csv" || path == u"/api/boards" || path == u"/api/values" ||
                       path == u"/api/set" || path == u"/api/report";
    if (!known)
        return reply.send(HttpReply{404, "text/plain", "Not found\n", {}});
    if (!who)
        return reply.send(failure(401, QStringLiteral("Log in first, or send a token: "
                                                      "Authorization: Bearer kw_...")));
    if ((path == u"/api/set") != post)
        return reply.send(
            failure(405, QStringLiteral("%1 is answered to %2 only")
                             .arg(path, post ? QStringLiteral("GET") : QStringLiteral("POST"))));
    if (path == u"/api/boards")
        return reply.send(json(200, QJsonObject{{QStringLiteral("boards"), m_hub.boardsJson()}}));
    if (path == u"/api/values") {
        const QString board = QUrlQuery(request.url()).queryItemValue(QStringLiteral("board"));
        if (!m_hub.socketOf(board))
            return reply.send(failure(404, QStringLiteral("there is no board \"%1\"").arg(board)));
        const auto state = m_hub.lastState(board);
        if (!state)
            return reply.send(failure(503, QStringLiteral("no block from the board yet")));
        return reply.send(json(200, *state));
    }
    if (path == u"/api/set") {
        if (who->role != Role::Operator)
            return reply.send(failure(403, ViewerRefusal));
        return setFromApi(*who, request, std::move(reply));
    }
    report(request, std::move(reply));
}

void WebServer::logIn(const QHttpServerRequest& request, PendingReply reply)
{
    if (!usersRequired())
        return reply.send(
            json(200, QJsonObject{{QStringLiteral("user"), QStringLiteral("local")},
                                  {QStringLiteral("role"), QStringLiteral("operator")}}));
    const auto body = jsonBody(request);
    if (!body || !body->value(u"user").isString() || !body->value(u"password").isString())
        return reply.send(failure(400, QStringLiteral("send {\"user\": ..., \"password\": ...}")));
    const QString limited = limitAddress(request.remoteAddress());
    const QString address = addressText(request.remoteAddress());
    if (const auto wait = m_limiter.waitSeconds(limited)) {
        HttpReply refusal = json(
            429, QJsonObject{{QStringLiteral("error"),
                              QStringLiteral("Too many failed log-ins: wait %1 s.").arg(*wait)},
                             {QStringLiteral("wait"), *wait}});
        refusal.headers.append({QByteArrayLiteral("Retry-After"), QByteArray::number(*wait)});
        return reply.send(refusal);
    }
    const QString user = body->value(u"user").toString();
    const QString password = body->value(u"password").toString();
    // The hash takes tens of milliseconds: it runs on a worker thread, against the users
    // as they are now (a reload makes a new object, this one stays whole).
    auto pending = std::make_shared<PendingReply>(std::move(reply));
    std::shared_ptr<const UsersFile> users = m_users;
    QPointer<WebServer> self(this);
    QThreadPool::globalInstance()->start([=, this] {
        const auto role = users->checkPassword(user, password);
        QMetaObject::invokeMethod(
            self.data(),
            [=, this] {
                if (!self)
                    return;
                if (!role) {
                    m_limiter.recordFailure(limited);
                    journal(QStringLiteral("web: failed log-in as \"%1\" from %2")
                                .arg(user.left(64), address));
                    return pending->send(failure(401, QStringLiteral("Wrong name or password.")));
                }
                const Session session = m_sessions.start(user, *role, address);
                journal(QStringLiteral("web: %1 (%2) logged in from %3")
                            .arg(user, roleName(*role), address));
                HttpReply ok = json(200, QJsonObject{{QStringLiteral("user"), user},
                                                     {QStringLiteral("role"), roleName(*role)}});
                ok.headers.append({QByteArrayLiteral("Set-Cookie"),
                                   m_sessions.setCookie(session, secureCookies())});
                pending->send(ok);
            },
            Qt::QueuedConnection);
    });
}

void WebServer::setFromApi(const Caller& who, const QHttpServerRequest& request, PendingReply reply)
{
    const auto body = jsonBody(request);
    if (!body)
        return reply.send(
            failure(400, QStringLiteral("send a JSON object: {\"board\", \"box\", \"text\"}")));
    const QString board = body->value(u"board").toString();
    QJsonObject set{{QStringLiteral("type"), QStringLiteral("set")}};
    for (const char* key : {"box", "text", "unit", "locale", "timeout"}) {
        const QString name = QLatin1String(key);
        if (body->contains(name))
            set.insert(name, body->value(name));
    }
    auto pending = std::make_shared<PendingReply>(std::move(reply));
    const QString what =
        QStringLiteral("set %1 \"%2\"")
            .arg(QString::fromUtf8(
                     QJsonDocument(QJsonArray{set.value(u"box")}).toJson(QJsonDocument::Compact)),
                 set.value(u"text").toString());
    journal(QStringLiteral("web: %1 (%2) from %3 through the API: %4 on %5")
                .arg(who.user, roleName(who.role), who.address, what, board));
    m_hub.request(board, set, [pending, who, what, board](const QJsonObject& message, bool final) {
        if (!final)
            return;
        journal(QStringLiteral("web: %1 from %2: %3 on %4: %5 %6")
                    .arg(who.user, who.address, what, board,
                         message.value(u"state").toString(message.value(u"type").toString()),
                         message.value(u"reason").toString()));
        const bool error = message.value(u"type").toString() == u"error";
        QJsonObject answer = message;
        answer.remove(QStringLiteral("id")); // the number this server gave the recorder
        pending->send(json(error                                              ? 502
                           : message.value(u"state").toString() == u"refused" ? 422
                                                                              : 200,
                           answer));
    });
}

void WebServer::report(const QHttpServerRequest& request, PendingReply reply)
{
    const QUrlQuery query(request.url());
    const QString board = query.queryItemValue(QStringLiteral("board"));
    const auto socket = m_hub.socketOf(board);
    if (!socket)
        return reply.send(failure(404, QStringLiteral("there is no board \"%1\"").arg(board)));
    bool bad = false;
    const auto from = queryDay(query, QStringLiteral("from"), &bad);
    const auto to = queryDay(query, QStringLiteral("to"), &bad);
    if (bad || (from && to && *from > *to))
        return reply.send(
            failure(400, QStringLiteral("from and to are days written YYYY-MM-DD, from "
                                        "not after to")));
    auto pending = std::make_shared<PendingReply>(std::move(reply));
    const QByteArray file = "kelvaro-report-" + QUrl::toPercentEncoding(board) + ".csv";
    HistoryJob::report(*socket, from, to, [pending, file](Outcome<QByteArray> csv) {
        if (!csv)
            return pending->send(failure(502, csv.reason()));
        pending->send(HttpReply{
            200,
            "text/csv; charset=utf-8",
            *csv,
            {{QByteArrayLiteral("Content-Disposition"), "attachment; filename=\"" + file + "\""}}});
    });
}

} // namespace kelvaro::web
