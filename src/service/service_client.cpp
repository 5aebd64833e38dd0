#include "service/service_client.h"

#include <QJsonDocument>

namespace kelvaro::service {

namespace {

// The start of a line that is not this protocol, for the message that says so.
QString excerpt(const QByteArray& line)
{
    constexpr qsizetype Shown = 60;
    QString text = QString::fromUtf8(line.left(Shown));
    for (QChar& c : text) {
        if (!c.isPrint())
            c = u'?';
    }
    return QStringLiteral("\"%1\"%2")
        .arg(text, line.size() > Shown ? QStringLiteral("...") : QString());
}

} // namespace

ServiceClient::ServiceClient(QObject* parent) : QObject(parent)
{
    m_helloTimer.setSingleShot(true);
    connect(&m_helloTimer, &QTimer::timeout, this, &ServiceClient::onHelloTimeout);
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
    m_bytesSeen = false;
    m_reader = LineReader();
    if (m_helloTimeout.count() > 0)
        m_helloTimer.start(m_helloTimeout);
    m_socket.connectToServer(path);
}

void ServiceClient::send(const QJsonObject& request)
{
    m_socket.write(encodeMessage(request));
}

void ServiceClient::close()
{
    m_failed = true; // a close asked for is no failure
    m_helloTimer.stop();
    m_socket.disconnectFromServer();
}

void ServiceClient::fail(const QString& reason)
{
    m_helloTimer.stop();
    if (m_failed)
        return;
    m_failed = true;
    Q_EMIT failed(reason);
}

void ServiceClient::onHelloTimeout()
{
    if (m_helloSeen)
        return;
    const QString seconds = QString::number(double(m_helloTimeout.count()) / 1000);
    // A server that says nothing may be busy or stuck; one that sends something else than
    // a hello line is no recorder at all. Each is told as what it is.
    fail(m_bytesSeen ? QStringLiteral("the service on %1 does not speak the recorder's "
                                      "protocol: no hello line within %2 s")
                           .arg(m_path, seconds)
                     : QStringLiteral("nothing answered on %1 within %2 s (no hello from "
                                      "the recorder)")
                           .arg(m_path, seconds));
    m_socket.abort();
}

void ServiceClient::onReadable()
{
    const QByteArray bytes = m_socket.readAll();
    m_bytesSeen = m_bytesSeen || !bytes.isEmpty();
    m_reader.append(bytes);
    while (const auto line = m_reader.nextLine()) {
        if (m_failed)
            return;
        const QJsonDocument document = QJsonDocument::fromJson(*line);
        if (!document.isObject() || !document.object().value(u"type").isString()) {
            fail(QStringLiteral("the service on %1 does not speak the recorder's protocol: it "
                                "sent %2")
                     .arg(m_path, excerpt(*line)));
            m_socket.abort();
            return;
        }
        const QJsonObject object = document.object();
        if (!m_helloSeen) {
            const QString type = object.value(u"type").toString();
            // Older recorders are served with what they know; a newer one is not.
            const int protocol = object.value(u"protocol").toInt();
            if (type != u"hello" || protocol < 1 || protocol > ProtocolVersion) {
                fail(type == u"hello"
                         ? QStringLiteral("the service on %1 speaks protocol %2, not 1 to %3")
                               .arg(m_path)
                               .arg(protocol)
                               .arg(ProtocolVersion)
                     : type == u"error"
                         ? QStringLiteral("the service on %1 refused: %2")
                               .arg(m_path, object.value(u"reason").toString())
                         : QStringLiteral("the service on %1 does not speak the recorder's "
                                          "protocol: its first line is no hello but %2")
                               .arg(m_path, excerpt(*line)));
                m_socket.abort();
                return;
            }
            m_hello = object;
            m_helloSeen = true;
            m_helloTimer.stop();
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
