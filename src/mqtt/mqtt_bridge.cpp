#include "mqtt/mqtt_bridge.h"

#include "core/version.h"
#include "link/board_session.h"
#include "values/parameter_entry.h"
#include "values/parameter_values.h"

namespace kelvaro::mqtt {

namespace {

const QByteArray Online = QByteArrayLiteral("online");
const QByteArray Offline = QByteArrayLiteral("offline");

} // namespace

MqttBridge::MqttBridge(BoardSession& session, BridgeSettings settings, Writer tell, QObject* parent)
    : QObject(parent), m_session(session), m_settings(std::move(settings)), m_tell(std::move(tell)),
      m_commands(m_settings.boardId)
{
    m_settings.client.willTopic = availabilityTopic(m_settings.boardId);
    m_settings.client.willPayload = Offline;
    if (m_settings.client.clientId.isEmpty())
        m_settings.client.clientId = QStringLiteral("kelvaro-") + m_settings.boardId;
    m_client = std::make_unique<MqttClient>(m_settings.client);
    connect(m_client.get(), &MqttClient::connected, this, &MqttBridge::onConnected);
    connect(m_client.get(), &MqttClient::connectionFailed, this, &MqttBridge::onConnectionFailed);
    connect(m_client.get(), &MqttClient::messageReceived, this, &MqttBridge::onMessage);

    BoardLink& link = session.link();
    connect(&link, &BoardLink::blockReceived, this, [this] {
        m_haveBlock = true;
        publishStates();
    });
    connect(&link, &BoardLink::problemChanged, this, &MqttBridge::publishStates);
    connect(&link, &BoardLink::statusChanged, this, &MqttBridge::publishStates);
    // The last log write and the unit of the settings change at the refresh at most.
    connect(&session, &BoardSession::refresh, this, [this] {
        publishDiscovery();
        publishStates();
    });
    connect(&session.writes(), &WriteQueue::writeChanged, this, &MqttBridge::onWriteChanged);
}

MqttBridge::~MqttBridge() = default;

Outcome<void> MqttBridge::start()
{
    m_tell(QStringLiteral("MQTT: connecting to %1 as board %2%3")
               .arg(brokerText(), m_settings.boardId,
                    m_settings.control ? QStringLiteral(", writes allowed")
                                       : QStringLiteral(", read only")));
    return m_client->start();
}

void MqttBridge::stop()
{
    m_client->stop(availabilityTopic(m_settings.boardId), Offline);
}

QString MqttBridge::brokerText() const
{
    const BrokerAddress& address = m_settings.client.address;
    const QString host = address.host.contains(u':') ? u'[' + address.host + u']' : address.host;
    return (address.tls ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://")) + host + u':' +
           QString::number(address.port);
}

BridgeView MqttBridge::view() const
{
    const Kelv_Main& state = m_session.state();
    const BoardLink& link = m_session.link();
    BridgeView view;
    view.boardId = m_settings.boardId;
    view.discoveryPrefix = m_settings.discoveryPrefix;
    view.version = versionText();
    view.control = m_settings.control;
    view.haveBlock = m_haveBlock;
    view.words = state.registers.Reg_Words;
    view.fahrenheit = m_session.displayUnits().Use_Fahrenheit;
    view.calibration = calibrationValue(state.settings.Timer_CalValue);
    view.lineStatus = link.status();
    view.lineProblem = link.problem();
    view.lastLogWrite = m_session.lastLogWrite();
    return view;
}

void MqttBridge::publishStates()
{
    publishDiff(stateMessages(view()));
}

void MqttBridge::publishDiscovery()
{
    publishDiff(discoveryMessages(view()));
}

void MqttBridge::publishDiff(const Messages& messages)
{
    if (!m_client->isConnected())
        return;
    for (auto it = messages.begin(); it != messages.end(); ++it) {
        const auto held = m_published.constFind(it.key());
        if (held != m_published.cend() && *held == it.value())
            continue;
        if (m_client->publish(it.key(), it.value(), true))
            m_published.insert(it.key(), it.value());
    }
}

void MqttBridge::onConnected()
{
    if (m_connection != QLatin1String("connected"))
        m_tell(QStringLiteral("MQTT: connected to %1").arg(brokerText()));
    m_connection = QStringLiteral("connected");
    // The broker may have lost everything (a restart without persistence): all again.
    m_published.clear();
    m_client->publish(availabilityTopic(m_settings.boardId), Online, true);
    publishDiscovery();
    publishStates();
    if (m_settings.control) {
        m_commands.reconnected();
        m_client->subscribe(commandFilter(m_settings.boardId));
    }
}

void MqttBridge::onConnectionFailed(const QString& reason)
{
    if (m_connection == reason)
        return;
    m_tell(QStringLiteral("MQTT: %1: %2; trying again").arg(brokerText(), reason));
    m_connection = reason;
}

void MqttBridge::refuse(const QString& reason)
{
    QString flat = reason;
    flat.replace(u'\n', u' ');
    m_client->publish(errorTopic(m_settings.boardId), flat.toUtf8(), false);
}

void MqttBridge::onMessage(const QString& topic, const QByteArray& payload, bool retained)
{
    if (!m_settings.control)
        return;
    const CommandGate::Decision decision =
        m_commands.take(topic, payload, retained, int(m_writes.size()));
    switch (decision.action) {
    case CommandGate::Action::Ignore:
        return;
    case CommandGate::Action::ClearRetained:
        m_client->publish(topic, QByteArray(), true);
        if (decision.tell)
            m_tell(QStringLiteral("MQTT: ignored the retained command on %1 (\"%2\"); cleared it")
                       .arg(topic, QString::fromUtf8(payload.left(LongestCommand))));
        return;
    case CommandGate::Action::RefuseBusy:
        refuse(QString::fromUtf8(entryBox(decision.box).caption) + u' ' +
               CommandGate::busyReason());
        return;
    case CommandGate::Action::Write:
        break;
    }
    const int box = decision.box;
    const Outcome<QString> text = entryTextOfPayload(box, payload);
    if (!text) {
        refuse(text.reason());
        return;
    }
    DisplayUnits units = m_session.displayUnits();
    units.locale = QLocale::c();
    units.locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    const Outcome<QueuedEntry> queued = m_session.writeEntry(box, *text, units);
    if (!queued) {
        refuse(queued.reason());
        return;
    }
    const QString what = QStringLiteral("%1 \"%2\" (word %3 = %4)")
                             .arg(QString::fromUtf8(entryBox(box).caption), *text)
                             .arg(queued->word)
                             .arg(queued->value);
    m_writes.insert(queued->id, what);
    m_tell(QStringLiteral("MQTT write %1 queued").arg(what));
}

void MqttBridge::onWriteChanged(quint64 id, WriteState state)
{
    const auto it = m_writes.constFind(id);
    if (it == m_writes.cend() || state == WriteState::Sent)
        return;
    if (state == WriteState::NotConfirmed) {
        m_tell(QStringLiteral("MQTT write %1 not confirmed by the board").arg(*it));
        refuse(QStringLiteral("%1 not confirmed by the board").arg(*it));
    } else if (state == WriteState::SentLate) {
        // The board already waited for the frame when the time-out passed: it went, late,
        // and whether the board took it is not followed.
        m_tell(QStringLiteral("MQTT write %1 sent after its time-out").arg(*it));
        refuse(QStringLiteral("%1 sent after its time-out; not confirmed").arg(*it));
    }
    m_writes.erase(it);
}

} // namespace kelvaro::mqtt
