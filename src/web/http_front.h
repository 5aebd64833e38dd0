#pragma once
// The one place that knows Qt HTTP Server's own interface, which changed between Qt 6.4
// and 6.8: it takes each parsed request, hands it on with a reply that can be sent now or
// later (a password check runs off the event loop), and lets a WebSocket upgrade through
// only when the handler accepts it. Everything above it is plain requests and replies.

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QList>
#include <QWebSocket>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QTcpServer;
class QSslConfiguration;

namespace kelvaro::web {

struct HttpReply
{
    int status = 200;
    QByteArray contentType = QByteArrayLiteral("application/json");
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers; // beside the ones every reply carries
};

// A request's answer, sent at most once; dropping it unsent sends nothing (the connection
// then closes with the program or the client).
class PendingReply
{
public:
    PendingReply() = default;
    explicit PendingReply(QHttpServerResponder&& responder);
    PendingReply(PendingReply&&) noexcept;
    PendingReply& operator=(PendingReply&&) noexcept;
    ~PendingReply();
    void send(const HttpReply& reply);
    bool sent() const { return !m_responder; }

private:
    std::unique_ptr<QHttpServerResponder> m_responder;
    std::function<bool()> m_alive; // whether the client's connection is still there
};

class HttpHandler
{
public:
    virtual ~HttpHandler() = default;
    virtual void handle(const QHttpServerRequest& request, PendingReply reply) = 0;
    // A WebSocket upgrade: nothing lets it through, a reply refuses it.
    virtual std::optional<HttpReply> checkUpgrade(const QHttpServerRequest& request) = 0;
    virtual void takeWebSocket(std::unique_ptr<QWebSocket> socket) = 0;
};

class HttpFront : public QAbstractHttpServer
{
    Q_OBJECT
public:
    explicit HttpFront(HttpHandler& handler, QObject* parent = nullptr);
    ~HttpFront() override;

    // Listens on the address (with TLS when `tls` is given); the port actually taken, or
    // nothing with the reason in `error`.
    std::optional<quint16> start(const QHostAddress& address, quint16 port,
                                 const QSslConfiguration* tls, QString* error);

protected:
#if QT_VERSION < QT_VERSION_CHECK(6, 8, 0)
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;
#else
    bool handleRequest(const QHttpServerRequest& request, QHttpServerResponder& responder) override;
    void missingHandler(const QHttpServerRequest& request,
                        QHttpServerResponder& responder) override;
#endif

private:
    HttpHandler& m_handler;
    std::optional<HttpReply> m_upgradeRefusal; // for missingHandler, right after handleRequest
};

// Whether a request asks for a WebSocket.
bool isWebSocketUpgrade(const QHttpServerRequest& request);
// A request header's value, or nothing when the request has no such header (an empty
// value is still a value). `name` in lower case.
std::optional<QByteArray> headerOf(const QHttpServerRequest& request, const QByteArray& name);

} // namespace kelvaro::web
