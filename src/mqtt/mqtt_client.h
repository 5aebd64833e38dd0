#pragma once
// One connection to an MQTT broker through libmosquitto, kept up by a thread of its own so
// that name look-ups, TCP and TLS handshakes and a broker that does not answer never hold
// the event loop (and with it the line and the log). The thread connects, runs the
// connection (waiting in select, woken by the broker or by a publish) and, when the
// connection fails or drops, waits and tries again: after 2 s, then twice as long each
// time up to 60 s, back to 2 s once a connection was accepted. A server that takes the
// TCP connection but has not accepted the MQTT one within ConnectTimeout (no broker
// there, or one that hangs) is left and reported as such, instead of when the keep-alive
// runs out a minute later. Everything it reports arrives as signals on the thread that
// owns the object.

#include "core/outcome.h"
#include "mqtt/mqtt_options.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct mosquitto;
struct mosquitto_message;

namespace kelvaro::mqtt {

struct ClientConfig
{
    BrokerAddress address;
    QString password; // empty: none sent
    QString caFile;   // mqtts: the authority that signs the broker's certificate; empty:
                      // the system's authorities
    QString clientId;
    QString willTopic;      // the broker publishes `willPayload` there, retained, when the
    QByteArray willPayload; // connection ends without a goodbye
};

class MqttClient : public QObject
{
    Q_OBJECT
public:
    explicit MqttClient(ClientConfig config, QObject* parent = nullptr);
    ~MqttClient() override;
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Sets the client up (a CA file that cannot be read is refused here) and starts the
    // thread; the first attempt follows at once.
    Outcome<void> start();
    // Publishes while connected (QoS 1 when retained, otherwise 0); false, nothing kept,
    // while not connected: whoever publishes sends everything again on connected().
    bool publish(const QString& topic, const QByteArray& payload, bool retain);
    bool subscribe(const QString& filter);
    // Publishes `payload` on `topic` (retained) as the last message, disconnects and ends
    // the thread, waiting for it at most `wait` (a connect still under way is waited for
    // by the destructor).
    void stop(const QString& topic, const QByteArray& payload,
              std::chrono::milliseconds wait = std::chrono::milliseconds(2000));
    bool isConnected() const { return m_up; }

    // The seconds waited before attempt n (1: the first retry) after failures.
    static std::chrono::seconds retryDelay(int attempt);
    // How long a connection may take from its start to the broker's acceptance.
    static constexpr std::chrono::seconds ConnectTimeout{10};

Q_SIGNALS:
    // The broker accepted the connection.
    void connected();
    // An attempt failed or the connection dropped; why, for the journal.
    void connectionFailed(const QString& reason);
    // `retained`: the broker kept the message from before (it comes at a subscription),
    // as against one published while we were subscribed.
    void messageReceived(const QString& topic, const QByteArray& payload, bool retained);

private:
    void run();
    QString failureReason(int rc, int error, bool accepted, bool timedOut);
    static void onConnect(mosquitto*, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    ClientConfig m_config;
    mosquitto* m_mosq = nullptr;
    std::thread m_thread;
    std::mutex m_mutex; // guards the two texts below and the wait between attempts
    std::condition_variable m_wake;
    QString m_lastError; // libmosquitto's last error line (TLS names its reason there)
    QString m_refusal;   // the broker's reason for refusing a CONNECT
    std::atomic<bool> m_up{false};
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_finished{false};
};

} // namespace kelvaro::mqtt
