#pragma once
// The recorder's MQTT options: checked before the line is touched (a wrong URL, board id
// or password file ends the start with status 2), then the bridge started beside the
// session.

#include "core/outcome.h"
#include "mqtt/mqtt_bridge.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <optional>

namespace kelvaro {

class BoardSession;

struct RecorderMqttOptions
{
    QCommandLineOption url{QStringLiteral("mqtt"),
                           QStringLiteral("Publish the board to this MQTT broker, "
                                          "mqtt://[user@]host[:port] or mqtts://... (TLS)."),
                           QStringLiteral("url")};
    QCommandLineOption passwordFile{
        QStringLiteral("mqtt-password-file"),
        QStringLiteral("The broker password: the first line of this file, which others must "
                       "not be able to read."),
        QStringLiteral("file")};
    QCommandLineOption caFile{QStringLiteral("mqtt-ca"),
                              QStringLiteral("With mqtts://: the certificate authority (PEM) "
                                             "that signs the broker's certificate."),
                              QStringLiteral("file")};
    QCommandLineOption boardId{QStringLiteral("board-id"),
                               QStringLiteral("The board's name in the MQTT topics "
                                              "kelvaro/<id>/... (letters, digits, _ and -; "
                                              "default: the device's name)."),
                               QStringLiteral("id")};
    QCommandLineOption discoveryPrefix{
        QStringLiteral("mqtt-discovery-prefix"),
        QStringLiteral("The Home Assistant discovery prefix (default: homeassistant)."),
        QStringLiteral("prefix")};
    QCommandLineOption control{QStringLiteral("mqtt-control"),
                               QStringLiteral("Take parameter writes from the MQTT command "
                                              "topics (without it none are subscribed).")};

    void addTo(QCommandLineParser& parser) const
    {
        parser.addOptions({url, passwordFile, caFile, boardId, discoveryPrefix, control});
    }
};

// The bridge's settings from the command line, the board id still empty when none was
// given; nothing when --mqtt is not given; the reason when the options cannot work.
Outcome<std::optional<mqtt::BridgeSettings>>
recorderMqttSettings(const QCommandLineParser& parser, const RecorderMqttOptions& options);

// The bridge for `settings`, its board id (when none was given) from the session's device;
// tells the journal; nothing, with the reason told, when TLS cannot be set up.
std::unique_ptr<mqtt::MqttBridge>
startRecorderMqtt(BoardSession& session, mqtt::BridgeSettings settings,
                  const std::function<void(const QString&)>& tell);

} // namespace kelvaro
