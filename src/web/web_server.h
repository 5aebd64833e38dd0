#pragma once
// kelvaro-web's routes: the page's files, log-in and log-out, the page's WebSocket, the
// report download and the scripts' JSON API. Every request is first held to the Host and
// Origin checks, then to who is asking (a session cookie, a script's token, or nobody),
// then to what that user's role allows; writes and settings changes go on to the
// recorder, which checks them as it checks every other client's.

#include "web/board_hub.h"
#include "web/http_front.h"
#include "web/login_limiter.h"
#include "web/request_checks.h"
#include "web/sessions.h"
#include "web/users_file.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSslConfiguration>
#include <QTimer>
#include <memory>
#include <optional>

namespace kelvaro::web {

class ApiTokens;
class BrowserChannel;

// Who a request comes from.
struct Caller
{
    QString user;
    Role role = Role::Viewer;
    QString address;
};

struct WebServerConfig
{
    QHostAddress listenAddress{QHostAddress::LocalHost};
    quint16 port = 0; // 0: any free port
    QStringList hostNames;
    QString publicUrl; // checked by readWebOptions
    std::optional<QSslConfiguration> tls;
    QString usersPath; // empty: no users; every client is the local operator
    QString tokensPath;
    unsigned long hashCost = DefaultHashCost;
    Clock clock = systemClock();
};

// One line on standard error for the journal.
void journal(const QString& line);

class WebServer : public QObject, private HttpHandler
{
    Q_OBJECT
public:
    WebServer(WebServerConfig config, BoardHub& hub, QObject* parent = nullptr);
    ~WebServer() override;

    // Reads the users and tokens files and listens. A refusal says why (exit 78 for the
    // files, 1 for the port).
    Outcome<void> start();
    quint16 port() const { return m_port; }

    // At most this many WebSockets at once, and this many from one address.
    static constexpr int MaxWebSockets = 200;
    static constexpr int MaxWebSocketsPerAddress = 20;
    // How often the users and tokens files are read again when changed.
    static constexpr int ReloadMs = 5000;

    BoardHub& hub() { return m_hub; }
    // Who a WebSocket's upgrade request came from (its cookie), checked again.
    std::optional<Caller> callerOfCookie(const QByteArray& cookies, const QString& address);

private:
    void handle(const QHttpServerRequest& request, PendingReply reply) override;
    std::optional<HttpReply> checkUpgrade(const QHttpServerRequest& request) override;
    std::optional<HttpReply> upgradeRefusal(const QHttpServerRequest& request);
    void takeWebSocket(std::unique_ptr<QWebSocket> socket) override;

    void route(const QHttpServerRequest& request, const QString& path, PendingReply reply);
    void logIn(const QHttpServerRequest& request, PendingReply reply);
    void setFromApi(const Caller& caller, const QHttpServerRequest& request, PendingReply reply);
    void report(const QHttpServerRequest& request, PendingReply reply);
    std::optional<Caller> caller(const QHttpServerRequest& request);
    void reloadUsers();
    bool usersRequired() const { return !m_config.usersPath.isEmpty(); }
    // Over TLS, here or at the reverse proxy in front: the cookie only travels encrypted.
    bool secureCookies() const
    {
        return m_config.tls.has_value() ||
               m_config.publicUrl.startsWith(u"https:", Qt::CaseInsensitive);
    }

    WebServerConfig m_config;
    BoardHub& m_hub;
    std::optional<RequestChecks> m_checks; // made once the port is known
    std::unique_ptr<HttpFront> m_front;
    std::shared_ptr<const UsersFile> m_users;
    QDateTime m_usersChanged;
    std::unique_ptr<ApiTokens> m_tokens;
    QDateTime m_tokensChanged;
    Sessions m_sessions;
    LoginLimiter m_limiter;
    QTimer m_reload;
    quint16 m_port = 0;
    QHash<QString, int> m_socketsPerAddress;
    int m_sockets = 0;
};

} // namespace kelvaro::web
