#include "app/recorder_mqtt.h"

#include "link/board_session.h"
#include "mqtt/mqtt_options.h"

#include <QRegularExpression>

namespace kelvaro {

Outcome<std::optional<mqtt::BridgeSettings>>
recorderMqttSettings(const QCommandLineParser& parser, const RecorderMqttOptions& options)
{
    if (!parser.isSet(options.url)) {
        for (const QCommandLineOption* option :
             {&options.passwordFile, &options.caFile, &options.boardId, &options.discoveryPrefix,
              &options.control}) {
            if (parser.isSet(*option))
                return failure(
                    QStringLiteral("--%1 needs --mqtt").arg(option->names().constFirst()));
        }
        return std::optional<mqtt::BridgeSettings>();
    }
    mqtt::BridgeSettings settings;
    const Outcome<mqtt::BrokerAddress> address = mqtt::parseBrokerUrl(parser.value(options.url));
    if (!address)
        return failure(QStringLiteral("--mqtt ") + address.reason());
    settings.client.address = *address;
    if (parser.isSet(options.passwordFile)) {
        if (address->user.isEmpty())
            return failure(QStringLiteral("--mqtt-password-file needs a user in the URL "
                                          "(mqtt://user@host)"));
        const Outcome<QString> password =
            mqtt::readPasswordFile(parser.value(options.passwordFile));
        if (!password)
            return failure(password.reason());
        settings.client.password = *password;
    }
    if (parser.isSet(options.caFile)) {
        if (!address->tls)
            return failure(QStringLiteral("--mqtt-ca needs an mqtts:// URL"));
        settings.client.caFile = parser.value(options.caFile);
    }
    if (parser.isSet(options.boardId)) {
        const Outcome<QString> id = mqtt::checkBoardId(parser.value(options.boardId));
        if (!id)
            return failure(id.reason());
        settings.boardId = *id;
    }
    if (parser.isSet(options.discoveryPrefix)) {
        static const QRegularExpression plainTopic(QStringLiteral("^[^+#\\x00]+$"));
        const QString prefix = parser.value(options.discoveryPrefix);
        if (!plainTopic.match(prefix).hasMatch() || prefix.startsWith(u'/') ||
            prefix.endsWith(u'/'))
            return failure(QStringLiteral("the discovery prefix \"%1\" must be a topic without "
                                          "+, # and a leading or trailing /")
                               .arg(prefix));
        settings.discoveryPrefix = prefix;
    }
    settings.control = parser.isSet(options.control);
    return std::optional(settings);
}

std::unique_ptr<mqtt::MqttBridge> startRecorderMqtt(BoardSession& session,
                                                    mqtt::BridgeSettings settings,
                                                    const std::function<void(const QString&)>& tell)
{
    if (settings.boardId.isEmpty()) {
        const PortSettings port = session.portSettings();
        const QString device = !port.device.isEmpty() ? port.device
                               : !session.link().deviceName().isEmpty()
                                   ? session.link().deviceName()
                                   : QStringLiteral("com%1").arg(port.port);
        settings.boardId = mqtt::boardIdFromDevice(device);
    }
    auto bridge = std::make_unique<mqtt::MqttBridge>(session, std::move(settings), tell);
    if (const Outcome<void> started = bridge->start(); !started) {
        tell(QStringLiteral("not started: ") + started.reason());
        return nullptr;
    }
    return bridge;
}

} // namespace kelvaro
