#pragma once
// The recorder's bridge between its session and an MQTT broker: publishes what changed
// (retained, so a hub that starts later sees the present state), the Home Assistant
// discovery configs, and "online"/"offline" on the availability topic ("offline" also as
// the will the broker sends when the recorder dies). On every (re)connection it publishes
// all of it again, so a broker restarted without persistence is whole at once. With
// control on, payloads on the parameters' command topics become writes through the
// session's entry-box check and its one write queue, at most MostMqttWrites of them under
// way at once; refusals go to the error topic. Commands count only from now: a retained
// one is not applied but cleared on the broker (see CommandGate).
// Each change of the connection's state is one journal line, not each retry.

#include "link/write_queue.h"
#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_topics.h"

#include <QHash>
#include <QObject>
#include <functional>
#include <memory>

namespace kelvaro {
class BoardSession;
}

namespace kelvaro::mqtt {

struct BridgeSettings
{
    ClientConfig client; // its will is set by the bridge
    QString boardId;
    QString discoveryPrefix = QStringLiteral("homeassistant");
    bool control = false;
};

class MqttBridge : public QObject
{
    Q_OBJECT
public:
    using Writer = std::function<void(const QString& line)>;
    MqttBridge(BoardSession& session, BridgeSettings settings, Writer tell,
               QObject* parent = nullptr);
    ~MqttBridge() override;

    // Starts connecting; a TLS set-up that cannot work is refused with the reason.
    Outcome<void> start();
    // "offline" and a normal disconnect, at the recorder's stop.
    void stop();

private:
    BridgeView view() const;
    void publishStates();
    void publishDiscovery();
    void publishDiff(const Messages& messages);
    void onConnected();
    void onConnectionFailed(const QString& reason);
    void onMessage(const QString& topic, const QByteArray& payload, bool retained);
    void onWriteChanged(quint64 id, kelvaro::WriteState state);
    void refuse(const QString& reason);
    QString brokerText() const;

    BoardSession& m_session;
    BridgeSettings m_settings;
    Writer m_tell;
    std::unique_ptr<MqttClient> m_client;
    Messages m_published; // what the broker holds from us, by topic
    QString m_connection; // "connected" or the last failure told, for one line per change
    bool m_haveBlock = false;
    QHash<quint64, QString> m_writes; // our writes under way, for their journal lines
    CommandGate m_commands;
};

} // namespace kelvaro::mqtt
