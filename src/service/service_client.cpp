#include "service/service_client.h"

#include <QJsonDocument>

namespace kelvaro::service {

ServiceClient::ServiceClient(QObject* parent) : QObject(parent)
{
    connect(&m_socket, &QLocalSocket::readyRead, this, &ServiceClient::onReadable);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, [this] {
        fail(m_helloSeen ? QStringLiteral("the service on %1 went away: %2")
                               .arg(m_path, m_socket.errorString())
                         : QStringLiteral("no service answers on %1: %2")
                               .arg(m_path, m_socket.errorString()));
    });
    connect(&m_socket, &QLocalSocket::disconnected, this, [this] {
        fail(QStringLiteral("the service on %1 closed the connection").arg(m_path));
    });
}

void ServiceClient::connectTo(const QString& path)
{
    m_path = path;
    m_failed = false;
    m_helloSeen = false;
    m_reader = LineReader();
    m_socket.connectToServer(path);
}

void ServiceClient::send(const QJsonObject& request)
{
    m_socket.write(encodeMessage(request));
}

void ServiceClient::close()
{
    m_failed = true; // a close asked for is no failure
    m_socket.disconnectFromServer();
}

void ServiceClient::fail(const QString& reason)
{
    if (m_failed)
        return;
    m_failed = true;
    Q_EMIT failed(reason);
}

void ServiceClient::onReadable()
{
    m_reader.append(m_socket.readAll());
    while (const auto line = m_reader.nextLine()) {
        const QJsonDocument document = QJsonDocument::fromJson(*line);
        if (!document.isObject())
            continue;
        const QJsonObject object = document.object();
        if (!m_helloSeen) {
            const bool hello = object.value(u"type").toString() == u"hello";
            if (!hello || object.value(u"protocol").toInt() != ProtocolVersion) {
                fail(hello ? QStringLiteral("the service on %1 speaks protocol %2, not %3")
                                 .arg(m_path)
                                 .arg(object.value(u"protocol").toInt())
                                 .arg(ProtocolVersion)
                           : QStringLiteral("the service on %1 refused: %2")
                                 .arg(m_path, object.value(u"reason").toString()));
                m_socket.abort();
                return;
            }
            m_hello = object;
            m_helloSeen = true;
            Q_EMIT connected();
            continue;
        }
        Q_EMIT message(object);
    }
    if (m_reader.overLong()) {
        fail(QStringLiteral("the service on %1 sent a line longer than %2 bytes")
                 .arg(m_path)
                 .arg(MaxLineLength));
        m_socket.abort();
    }
}

} // namespace kelvaro::service
