#pragma once
// A client's end of the service socket: connects, checks the server's "hello", sends
// requests and hands over every message the server sends, one JSON object each. A line
// that is not a JSON object with a "type" is not this protocol and ends the connection.
// The socket is local, or on another machine through ssh (see service_address.h): then
// ssh's standard input and output carry the same lines, and its own words say why a
// connection could not be made.

#include "service/service_address.h"
#include "service/service_protocol.h"

#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>
#include <chrono>
#include <memory>

namespace kelvaro::service {

class ServiceClient : public QObject
{
    Q_OBJECT
public:
    explicit ServiceClient(QObject* parent = nullptr);
    ~ServiceClient() override;

    // Connects to the service at `address`, a socket's path or an ssh address; connected()
    // follows the server's hello, failed() says why when there is no service (or not one
    // that speaks this protocol).
    void connectTo(const QString& address);
    // ssh without questions: no password or host-key prompt (scripts). Off by default.
    void setBatchMode(bool on) { m_batchMode = on; }
    // How long connectTo() waits for the hello before it fails; zero (the default) waits
    // as long as the socket stays open.
    void setHelloTimeout(std::chrono::milliseconds timeout) { m_helloTimeout = timeout; }
    void send(const QJsonObject& request);
    void close();
    bool isConnected() const { return m_helloSeen; }
    // The address connected to, as given (a local path made absolute).
    QString path() const { return m_path; }
    // The address read, once connectTo() has been called.
    const ServiceAddress& address() const { return m_address; }
    // The server's hello message.
    const QJsonObject& hello() const { return m_hello; }
    // The protocol version the server's hello says (1 to ProtocolVersion).
    int serverProtocol() const { return m_hello.value(u"protocol").toInt(); }

Q_SIGNALS:
    void connected();
    void message(const QJsonObject& message);
    // No connection could be made, or it was lost; `reason` names the socket.
    void failed(const QString& reason);

private:
    void onReadable();
    void fail(const QString& reason);
    void onHelloTimeout();
    void startSsh();
    void onSshFinished(int exitCode, QProcess::ExitStatus status);
    // Ends the connection at once, whichever way it goes.
    void abort();

    QLocalSocket m_socket;
    std::unique_ptr<QProcess> m_ssh;
    QByteArray m_sshErrors; // the end of what ssh (and the far side) wrote to standard error
    QIODevice* m_device = &m_socket;
    ServiceAddress m_address;
    bool m_batchMode = false;
    QTimer m_helloTimer;
    std::chrono::milliseconds m_helloTimeout{0};
    LineReader m_reader;
    QString m_path;
    QJsonObject m_hello;
    bool m_helloSeen = false;
    bool m_failed = false;
    bool m_bytesSeen = false; // anything at all came from the server
};

} // namespace kelvaro::service
