#include "web/http_front.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>

#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
#include <QHttpHeaders>
#include <QHttpServerWebSocketUpgradeResponse>
#endif

namespace kelvaro::web {

namespace {

// What every reply carries: the page may load only its own files and may not be framed
// by another site; no reply is guessed at as another type, or cached when it is data.
const QList<std::pair<QByteArray, QByteArray>>& commonHeaders()
{
    static const QList<std::pair<QByteArray, QByteArray>> headers{
        {QByteArrayLiteral("Content-Security-Policy"),
         QByteArrayLiteral("default-src 'self'; frame-ancestors 'none'; base-uri 'none'; "
                           "form-action 'self'")},
        {QByteArrayLiteral("X-Content-Type-Options"), QByteArrayLiteral("nosniff")},
        {QByteArrayLiteral("Referrer-Policy"), QByteArrayLiteral("no-referrer")},
        {QByteArrayLiteral("X-Frame-Options"), QByteArrayLiteral("DENY")},
    };
    return headers;
}

bool hasHeader(const HttpReply& reply, const QByteArray& name)
{
    return std::any_of(reply.headers.begin(), reply.headers.end(), [&](const auto& header) {
        return header.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

} // namespace

std::optional<QByteArray> headerOf(const QHttpServerRequest& request, const QByteArray& name)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    for (const auto& [key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
#else
    const QHttpHeaders headers = request.headers();
    if (!headers.contains(QAnyStringView(name)))
        return std::nullopt;
    return headers.value(QAnyStringView(name)).toByteArray();
#endif
}

bool isWebSocketUpgrade(const QHttpServerRequest& request)
{
    return headerOf(request, QByteArrayLiteral("upgrade"))
               .value_or(QByteArray())
               .compare("websocket", Qt::CaseInsensitive) == 0;
}

PendingReply::PendingReply(QHttpServerResponder&& responder)
    : m_responder(std::make_unique<QHttpServerResponder>(std::move(responder)))
{
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    // Qt 6.4's responder holds the bare socket, which is gone once the client hangs up.
    QPointer<QTcpSocket> socket = m_responder->socket();
    m_alive = [socket] { return !socket.isNull(); };
#else
    m_alive = [] { return true; };
#endif
}

PendingReply::PendingReply(PendingReply&&) noexcept = default;
PendingReply& PendingReply::operator=(PendingReply&&) noexcept = default;

// Destroying an unanswered responder touches no socket (in Qt 6.4 it only frees itself).
PendingReply::~PendingReply() = default;

void PendingReply::send(const HttpReply& reply)
{
    if (!m_responder)
        return;
    std::unique_ptr<QHttpServerResponder> responder = std::move(m_responder);
    if (!m_alive())
        return; // the client hung up while the answer was being made
    QList<std::pair<QByteArray, QByteArray>> headers = commonHeaders();
    if (!reply.contentType.isEmpty())
        headers.append({QByteArrayLiteral("Content-Type"), reply.contentType});
    if (!hasHeader(reply, QByteArrayLiteral("Cache-Control")))
        headers.append({QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store")});
    headers.append(reply.headers);
    const auto status = QHttpServerResponder::StatusCode(reply.status);
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    responder->writeStatusLine(status);
    for (const auto& [name, value] : headers)
        responder->writeHeader(name, value);
    responder->writeHeader(QByteArrayLiteral("Content-Length"),
                           QByteArray::number(reply.body.size()));
    responder->writeBody(reply.body);
#else
    QHttpHeaders all;
    for (const auto& [name, value] : headers)
        all.append(name, value);
    responder->write(reply.body, all, status);
#endif
}

HttpFront::HttpFront(HttpHandler& handler, QObject* parent)
    : QAbstractHttpServer(parent), m_handler(handler)
{
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, [this] {
        while (hasPendingWebSocketConnections())
            m_handler.takeWebSocket(nextPendingWebSocketConnection());
    });
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    addWebSocketUpgradeVerifier(this, [this](const QHttpServerRequest& request) {
        const auto refusal = m_handler.checkUpgrade(request);
        if (!refusal)
            return QHttpServerWebSocketUpgradeResponse::accept();
        return QHttpServerWebSocketUpgradeResponse::deny(quint16(refusal->status), refusal->body);
    });
#endif
}

HttpFront::~HttpFront() = default;

std::optional<quint16> HttpFront::start(const QHostAddress& address, quint16 port,
                                        const QSslConfiguration* tls, QString* error)
{
    std::unique_ptr<QTcpServer> server;
    if (tls) {
        auto ssl = std::make_unique<QSslServer>();
        ssl->setSslConfiguration(*tls);
        server = std::move(ssl);
    } else {
        server = std::make_unique<QTcpServer>();
    }
    if (!server->listen(address, port)) {
        *error = server->errorString();
        return std::nullopt;
    }
    const quint16 taken = server->serverPort();
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    bind(server.release());
#else
    if (!bind(server.get())) {
        *error = QStringLiteral("the HTTP server did not take the listening socket");
        return std::nullopt;
    }
    (void)server.release(); // now the HTTP server's child
#endif
    return taken;
}

#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
bool HttpFront::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    if (isWebSocketUpgrade(request)) {
        // Returning true without an answer lets Qt hand the connection to its WebSocket
        // server; false sends it to missingHandler, which gives the refusal.
        m_upgradeRefusal = m_handler.checkUpgrade(request);
        return !m_upgradeRefusal;
    }
    m_handler.handle(request, PendingReply(makeResponder(request, socket)));
    return true;
}

void HttpFront::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    HttpReply reply = m_upgradeRefusal.value_or(HttpReply{404, "text/plain", "Not found\n", {}});
    m_upgradeRefusal.reset();
    PendingReply(makeResponder(request, socket)).send(reply);
}
#else
bool HttpFront::handleRequest(const QHttpServerRequest& request, QHttpServerResponder& responder)
{
    m_handler.handle(request, PendingReply(std::move(responder)));
    return true;
}

void HttpFront::missingHandler(const QHttpServerRequest& request, QHttpServerResponder& responder)
{
    Q_UNUSED(request);
    PendingReply(std::move(responder)).send(HttpReply{404, "text/plain", "Not found\n", {}});
}
#endif

} // namespace kelvaro::web
