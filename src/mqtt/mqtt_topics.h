#pragma once
// What the recorder publishes to an MQTT broker, as plain topic and payload pairs: the
// board's values under kelvaro/<board id>/ and the Home Assistant discovery configs that
// describe them, and the check of a payload that asks for a parameter write. Nothing here
// talks to a broker, so all of it is tested without one.

#include "core/outcome.h"
#include "values/display_texts.h"
#include "values/duration.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <optional>

namespace kelvaro::mqtt {

// One moment of the session as the bridge sees it.
struct BridgeView
{
    QString boardId;
    QString discoveryPrefix = QStringLiteral("homeassistant");
    QString version;
    bool control = false;   // parameters are number entities with command topics
    bool haveBlock = false; // a complete block came; the values below mean something
    Words words{};
    bool fahrenheit = false; // the unit of the settings
    qint32 calibration = NominalCalibration;
    QString lineStatus;
    QString lineProblem;
    std::optional<QDateTime> lastLogWrite;
};

// The retained messages: topic and payload.
using Messages = QMap<QString, QByteArray>;

QString baseTopic(const QString& boardId);
QString availabilityTopic(const QString& boardId);
QString errorTopic(const QString& boardId);
// The topic a parameter's writes arrive on, and the filter that takes all of them.
QString commandTopic(const QString& boardId, int box);
QString commandFilter(const QString& boardId);
// The parameter (0..9) a command topic names, when it names one.
std::optional<int> boxOfCommandTopic(const QString& boardId, const QString& topic);

// The states: temperatures and set-points in the unit of the settings, the relay "ON" or
// "OFF", times in seconds ("None", unknown, when the timer calibration gives none), the
// line's state and problem, the last log write (ISO 8601 with its offset). Without a
// block yet only the line and the log.
Messages stateMessages(const BridgeView& view);
// One discovery config per entity, under <prefix>/<component>/kelvaro_<id>/<object>/config,
// and an empty payload where a parameter's config of the other kind (sensor or number) is.
Messages discoveryMessages(const BridgeView& view);

// The text the entry box is given for a payload on parameter `box`'s command topic: the
// number as sent, relay times (seconds) as minutes:seconds. Refused with the reason: an
// empty or over-long payload, one that is no number, NaN, infinite, a relay time that is
// no whole number of seconds or outside what the box takes.
Outcome<QString> entryTextOfPayload(int box, const QByteArray& payload);

// The longest payload taken on a command topic.
inline constexpr qsizetype LongestCommand = 32;

// At most this many writes from MQTT wait in the queue or wait for the board's
// confirmation at once, as for a socket client: a flood of commands cannot fill the one
// queue the window and the service share.
inline constexpr int MostMqttWrites = 8;

// What the bridge does with a message on its command topics. Commands count only from
// now: a retained one (delivered at a subscription, so after every start, reconnection or
// broker restart) is never applied but cleared on the broker, told once per topic in a
// run; the empty retained message that clears it comes back to us and is not a command.
class CommandGate
{
public:
    enum class Action
    {
        Ignore,        // not a command to us, or the echo of our own clearing
        ClearRetained, // publish an empty retained message on the topic
        RefuseBusy,    // MostMqttWrites writes are already under way
        Write          // check the payload and queue the write
    };
    struct Decision
    {
        Action action = Action::Ignore;
        int box = -1;      // the parameter the topic names
        bool tell = false; // ClearRetained: the first time for this topic in this run
    };

    explicit CommandGate(QString boardId) : m_boardId(std::move(boardId)) {}

    // `writesUnderWay`: MQTT's writes waiting or not yet confirmed.
    Decision take(const QString& topic, const QByteArray& payload, bool retained,
                  int writesUnderWay);
    // A new connection: echoes of clearings sent on the old one do not come any more.
    void reconnected() { m_echoes.clear(); }

    static QString busyReason();

private:
    QString m_boardId;
    QSet<QString> m_told;
    QHash<QString, int> m_echoes; // clearings sent whose empty message has not come back
};

} // namespace kelvaro::mqtt
