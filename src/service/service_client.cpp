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

ServiceClient::~ServiceClient()
{
    // The socket is destroyed after the timer and would report its own close to fail(),
    // which stops the timer: this client hears nothing more from it.
    m_socket.disconnect(this);
    if (m_ssh) {
        m_ssh->disconnect(this);
        m_ssh->kill();
        m_ssh->waitForFinished(1000);
    }
}

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

void ServiceClient::connectTo(const QString& address)
{
    m_path = address;
    m_failed = false;
    m_helloSeen = false;
    m_bytesSeen = false;
    m_reader = LineReader();
    m_sshErrors.clear();
    const Outcome<ServiceAddress> parsed = parseServiceAddress(address);
    if (!parsed) {
        // From the event loop, as a socket's failure would come.
        QTimer::singleShot(0, this, [this, reason = parsed.reason()] { fail(reason); });
        return;
    }
    m_address = *parsed;
    if (!m_address.overSsh())
        m_path = m_address.socketPath;
    if (m_helloTimeout.count() > 0)
        m_helloTimer.start(m_helloTimeout);
    if (m_address.overSsh()) {
        startSsh();
    } else {
        m_ssh.reset();
        m_device = &m_socket;
        m_socket.connectToServer(m_path);
    }
}

void ServiceClient::startSsh()
{
    const SshCommand command = sshCommand(m_address, m_batchMode, !m_batchMode);
    m_ssh = std::make_unique<QProcess>();
    m_device = m_ssh.get();
    m_ssh->setProcessChannelMode(QProcess::SeparateChannels);
    connect(m_ssh.get(), &QProcess::readyReadStandardOutput, this, &ServiceClient::onReadable);
    connect(m_ssh.get(), &QProcess::readyReadStandardError, this, [this] {
        // Only the end is kept: the last lines say why a connection failed.
        constexpr qsizetype Kept = 4096;
        m_sshErrors += m_ssh->readAllStandardError();
        if (m_sshErrors.size() > Kept)
            m_sshErrors = m_sshErrors.right(Kept);
    });
    connect(m_ssh.get(), &QProcess::finished, this, &ServiceClient::onSshFinished);
    connect(m_ssh.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            fail(QStringLiteral("cannot reach %1: %2 could not be started (%3)")
                     .arg(m_path, m_ssh->program(), m_ssh->errorString()));
    });
    m_ssh->start(command.program, command.arguments, QIODevice::ReadWrite);
}

void ServiceClient::onSshFinished(int exitCode, QProcess::ExitStatus status)
{
    m_sshErrors += m_ssh->readAllStandardError();
    fail(sshFailure(m_address, exitCode, status == QProcess::CrashExit, m_sshErrors, m_helloSeen));
}

void ServiceClient::send(const QJsonObject& request)
{
    m_device->write(encodeMessage(request));
}

void ServiceClient::close()
{
    m_failed = true; // a close asked for is no failure
    m_helloTimer.stop();
    if (m_ssh) {
        // The far side's bridge ends when its input does, and ssh with it; the process
        // is killed when this client goes.
        m_ssh->closeWriteChannel();
        return;
    }
    m_socket.disconnectFromServer();
}

void ServiceClient::abort()
{
    if (m_ssh)
        m_ssh->kill();
    else
        m_socket.abort();
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
    abort();
}

void ServiceClient::onReadable()
{
    const QByteArray bytes = m_ssh ? m_ssh->readAllStandardOutput() : m_socket.readAll();
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
            abort();
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
                abort();
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
        abort();
    }
}

} // namespace kelvaro::service
