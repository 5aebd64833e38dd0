#include "mqtt/mqtt_client.h"

#include <QMetaObject>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mutex>

namespace kelvaro::mqtt {

namespace {

constexpr int KeepAliveSeconds = 60;
constexpr int LoopTimeoutMs = 1000;

void initialiseLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

std::chrono::seconds MqttClient::retryDelay(int attempt)
{
    // 2, 4, 8, 16, 32, then 60 s.
    if (attempt >= 6)
        return std::chrono::seconds(60);
    return std::chrono::seconds(2 << std::max(0, attempt - 1));
}

MqttClient::MqttClient(ClientConfig config, QObject* parent)
    : QObject(parent), m_config(std::move(config))
{
}

MqttClient::~MqttClient()
{
    if (m_thread.joinable()) {
        m_stopping = true;
        m_wake.notify_all();
        mosquitto_disconnect(m_mosq);
        m_thread.join();
    }
    if (m_mosq)
        mosquitto_destroy(m_mosq);
}

Outcome<void> MqttClient::start()
{
    initialiseLibrary();
    const QByteArray clientId = m_config.clientId.toUtf8();
    m_mosq = mosquitto_new(clientId.constData(), true, this);
    if (!m_mosq)
        return failure(QStringLiteral("cannot make an MQTT client: %1")
                           .arg(QString::fromLocal8Bit(std::strerror(errno))));
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Publishes come from the event loop's thread while this object's thread waits in
    // select: libmosquitto then wakes it instead of writing from the caller's thread.
    mosquitto_threaded_set(m_mosq, true);
    mosquitto_connect_callback_set(m_mosq, &MqttClient::onConnect);
    mosquitto_message_callback_set(m_mosq, &MqttClient::onMessage);
    mosquitto_log_callback_set(m_mosq, &MqttClient::onLog);

    const BrokerAddress& address = m_config.address;
    if (!address.user.isEmpty() || !m_config.password.isEmpty()) {
        const QByteArray user = address.user.toUtf8();
        const QByteArray password = m_config.password.toUtf8();
        mosquitto_username_pw_set(m_mosq, user.constData(),
                                  m_config.password.isEmpty() ? nullptr : password.constData());
    }
    if (!m_config.willTopic.isEmpty()) {
        const QByteArray topic = m_config.willTopic.toUtf8();
        mosquitto_will_set(m_mosq, topic.constData(), int(m_config.willPayload.size()),
                           m_config.willPayload.constData(), 1, true);
    }
    if (address.tls) {
        const QByteArray caFile = m_config.caFile.toLocal8Bit();
        const int rc =
            m_config.caFile.isEmpty()
                ? mosquitto_tls_set(m_mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                : mosquitto_tls_set(m_mosq, caFile.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return failure(
                m_config.caFile.isEmpty()
                    ? QStringLiteral("TLS cannot be set up: %1")
                          .arg(QString::fromUtf8(mosquitto_strerror(rc)))
                    : QStringLiteral("the CA file %1 cannot be read").arg(m_config.caFile));
    }
    m_thread = std::thread([this] { run(); });
    return {};
}

bool MqttClient::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    if (!m_up)
        return false;
    const QByteArray name = topic.toUtf8();
    return mosquitto_publish(m_mosq, nullptr, name.constData(), int(payload.size()),
                             payload.constData(), retain ? 1 : 0, retain) == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const QString& filter)
{
    if (!m_up)
        return false;
    const QByteArray name = filter.toUtf8();
    return mosquitto_subscribe(m_mosq, nullptr, name.constData(), 1) == MOSQ_ERR_SUCCESS;
}

void MqttClient::stop(const QString& topic, const QByteArray& payload,
                      std::chrono::milliseconds wait)
{
    if (!m_thread.joinable())
        return;
    if (!topic.isEmpty())
        publish(topic, payload, true);
    m_stopping = true;
    // A normal DISCONNECT after the goodbye, so the broker keeps the will to itself.
    mosquitto_disconnect(m_mosq);
    m_wake.notify_all();
    std::unique_lock lock(m_mutex);
    m_wake.wait_for(lock, wait, [this] { return m_finished.load(); });
    lock.unlock();
    // Still inside a connect to a broker that does not answer: the destructor waits for it.
    if (m_finished)
        m_thread.join();
}

void MqttClient::run()
{
    const QByteArray host = m_config.address.host.toUtf8();
    int failures = 0;
    while (!m_stopping) {
        {
            std::lock_guard lock(m_mutex);
            m_lastError.clear();
            m_refusal.clear();
        }
        const auto began = std::chrono::steady_clock::now();
        int rc =
            mosquitto_connect(m_mosq, host.constData(), m_config.address.port, KeepAliveSeconds);
        int error = errno; // what MOSQ_ERR_ERRNO means, before anything else can change it
        bool accepted = false;
        bool timedOut = false;
        while (rc == MOSQ_ERR_SUCCESS && !m_stopping) {
            rc = mosquitto_loop(m_mosq, LoopTimeoutMs, 1);
            error = errno;
            accepted = accepted || m_up;
            if (rc == MOSQ_ERR_SUCCESS && !accepted &&
                std::chrono::steady_clock::now() - began >= ConnectTimeout) {
                // No CONNACK: whatever listens there is no broker that answers. The
                // DISCONNECT written out closes the socket now rather than at the next
                // attempt, which may be a minute away.
                timedOut = true;
                mosquitto_disconnect(m_mosq);
                mosquitto_loop(m_mosq, 0, 1);
                rc = MOSQ_ERR_NO_CONN;
            }
        }
        // Write out what is still queued (the goodbye and the DISCONNECT) before leaving.
        if (m_stopping && m_up) {
            for (int k = 0; k < 10 && rc == MOSQ_ERR_SUCCESS; ++k)
                rc = mosquitto_loop(m_mosq, 100, 1);
        }
        m_up = false;
        if (m_stopping)
            break;
        const QString reason = failureReason(rc, error, accepted, timedOut);
        QMetaObject::invokeMethod(
            this, [this, reason] { Q_EMIT connectionFailed(reason); }, Qt::QueuedConnection);
        failures = accepted ? 1 : failures + 1;
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, retryDelay(failures), [this] { return m_stopping.load(); });
    }
    std::lock_guard lock(m_mutex);
    m_finished = true;
    m_wake.notify_all();
}

QString MqttClient::failureReason(int rc, int error, bool accepted, bool timedOut)
{
    std::lock_guard lock(m_mutex);
    if (!m_refusal.isEmpty())
        return m_refusal;
    if (timedOut)
        return QStringLiteral("the server accepted the connection but did not answer as an MQTT "
                              "broker within %1 s")
            .arg(ConnectTimeout.count());
    const QString library = rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(error))
                                                 : QString::fromUtf8(mosquitto_strerror(rc));
    // Some libmosquitto versions tell a failed TLS handshake only as a protocol error
    // (Debian 13's: MOSQ_ERR_ERRNO with EPROTO), without OpenSSL's reason: say what it
    // most likely is.
    const bool handshake = rc == MOSQ_ERR_PROTOCOL || rc == MOSQ_ERR_TLS ||
                           rc == MOSQ_ERR_CONN_LOST || (rc == MOSQ_ERR_ERRNO && error == EPROTO);
    if (m_config.address.tls && !accepted && handshake && m_lastError.isEmpty())
        return QStringLiteral("the TLS connection failed (%1): the broker's certificate may not "
                              "be signed by %2")
            .arg(library, m_config.caFile.isEmpty()
                              ? QStringLiteral("an authority in /etc/ssl/certs")
                              : QStringLiteral("the authority in ") + m_config.caFile);
    if (!m_config.address.tls && !accepted && rc == MOSQ_ERR_CONN_LOST)
        return QStringLiteral("the server closed the connection without answering as an MQTT "
                              "broker");
    if (rc == MOSQ_ERR_ERRNO || m_lastError.isEmpty())
        return library;
    return m_lastError;
}

void MqttClient::onConnect(mosquitto*, void* self, int rc)
{
    auto* client = static_cast<MqttClient*>(self);
    if (rc != 0) {
        std::lock_guard lock(client->m_mutex);
        client->m_refusal = QStringLiteral("the broker refused the connection: %1")
                                .arg(QString::fromUtf8(mosquitto_connack_string(rc)));
        return;
    }
    client->m_up = true;
    QMetaObject::invokeMethod(
        client, [client] { Q_EMIT client->connected(); }, Qt::QueuedConnection);
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* client = static_cast<MqttClient*>(self);
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    const bool retained = message->retain;
    QMetaObject::invokeMethod(
        client,
        [client, topic, payload, retained] {
            Q_EMIT client->messageReceived(topic, payload, retained);
        },
        Qt::QueuedConnection);
}

void MqttClient::onLog(mosquitto*, void* self, int level, const char* text)
{
    if (level != MOSQ_LOG_ERR)
        return;
    auto* client = static_cast<MqttClient*>(self);
    std::lock_guard lock(client->m_mutex);
    client->m_lastError = QString::fromUtf8(text);
}

} // namespace kelvaro::mqtt
