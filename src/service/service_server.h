#pragma once
// The recorder's local socket: a Unix domain socket (never TCP) that serves the session to
// local clients with the JSON-lines protocol. It publishes every complete block to the
// clients that subscribed, takes writes into the session's one write queue and settings
// changes into its one settings owner, and answers each. A client can disturb nothing but
// its own connection: lines are bounded, the clients are capped, a client that does not
// read is dropped, and nothing here blocks the event loop once listening.

#include "core/outcome.h"
#include "link/write_queue.h"
#include "service/service_protocol.h"

#include <QHash>
#include <QJsonObject>
#include <QLocale>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace kelvaro {
class BoardSession;
}

namespace kelvaro::service {

class ServiceServer : public QObject
{
    Q_OBJECT
public:
    using Journal = std::function<void(const QString& line)>;
    static constexpr int MaxClients = 16;
    // A client that lets more than this wait unread is dropped.
    static constexpr qint64 MaxUnread = 1024 * 1024;
    // Writes a client may have under way (waiting or sent, not yet confirmed) at once.
    static constexpr int MaxWritesPerClient = 8;
    // A connection that sends no request within this time is closed, so that idle
    // connections cannot hold every slot.
    static constexpr std::chrono::seconds DefaultIdleLimit{30};

    ServiceServer(BoardSession& session, QString programName, Journal journal,
                  QObject* parent = nullptr);
    ~ServiceServer() override;

    // Listens on `path`, owner and group read-write (0660). The path is never followed when
    // it is a link; a socket file there is replaced only when nobody answers on it; any
    // other file there is left alone. A refusal says why and leaves the path untouched.
    Outcome<void> listen(const QString& path);
    // Stops listening, ends every connection and removes the socket file.
    void close();
    int clientCount() const { return int(m_clients.size()); }
    void setIdleLimit(std::chrono::milliseconds limit) { m_idleLimit = limit; }
    QString path() const { return m_path; }

private:
    struct Client;

    void onNewConnection();
    void onReadable(Client& client);
    void handle(Client& client, const Request& request);
    // "days", "history", "detail", "report": answered by the client's HistoryAnswer.
    void startHistory(Client& client, const Request& request);
    void onBlock();
    void onWriteChanged(quint64 id, WriteState state);
    void onSettingsChanged();
    void send(Client& client, const QJsonObject& message);
    void drop(QLocalSocket* socket);
    QJsonObject statusMessage() const;
    QJsonObject settingsAnswer(Client& client, const Request& request);
    QString who(const Client& client) const;

    BoardSession& m_session;
    QString m_programName;
    Journal m_journal;
    std::unique_ptr<QLocalServer> m_server;
    QString m_path;
    QHash<QLocalSocket*, std::shared_ptr<Client>> m_clients;
    // Which client asked for each write still followed, and its request id.
    struct WriteOwner
    {
        QLocalSocket* socket = nullptr;
        QJsonValue requestId;
        QString what;
    };
    QHash<quint64, WriteOwner> m_writeOwners;
    quint64 m_blocks = 0;
    int m_nextClientNumber = 1;
    std::chrono::milliseconds m_idleLimit = DefaultIdleLimit;
};

} // namespace kelvaro::service
