#include "mqtt/mqtt_topics.h"

#include "core/register_words.h"
#include "values/parameter_entry.h"
#include "values/temperature.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <cmath>

namespace kelvaro::mqtt {

namespace {

// The parameters' topic names, in the order of the window's entry boxes.
constexpr std::array<const char*, InputBoxCount> ParameterKeys{
    "low_setpoint_rising", "lower_hysteresis", "lower_setpoint", "low_setpoint_falling",
    "low_time_off",        "low_time_on",      "lower_time_off", "lower_time_on",
    "operation_modes",     "time_delay"};

// Numbers on the wire always use "." and never group digits, whatever the machine's locale.
QLocale wireLocale()
{
    QLocale locale = QLocale::c();
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

DisplayUnits wireUnits(const BridgeView& view)
{
    return {view.fahrenheit, view.calibration, wireLocale()};
}

// Seconds of a time as the window shows it ("m:ss"); "None" where it shows "-:--".
QByteArray secondsOfShown(const QString& shown)
{
    const qsizetype colon = shown.indexOf(u':');
    bool minutesOk = false;
    bool secondsOk = false;
    const int minutes = shown.left(colon).toInt(&minutesOk);
    const int seconds = shown.mid(colon + 1).toInt(&secondsOk);
    if (colon < 0 || !minutesOk || !secondsOk)
        return "None";
    return QByteArray::number(minutes * 60 + seconds);
}

QString unitText(bool fahrenheit)
{
    return fahrenheit ? QStringLiteral("°F") : QStringLiteral("°C");
}

QString parameterName(int box)
{
    QString caption = QString::fromUtf8(entryBox(box).caption);
    if (caption.endsWith(u':'))
        caption.chop(1);
    return caption.trimmed();
}

QString parameterTopic(const QString& boardId, int box)
{
    return baseTopic(boardId) + QString::fromLatin1(ParameterKeys[std::size_t(box)]);
}

// The parts every discovery config shares: name, ids, the device and availability.
QJsonObject entityConfig(const BridgeView& view, const QString& object, const QString& name)
{
    const QString deviceId = QStringLiteral("kelvaro_") + view.boardId;
    return {
        {QStringLiteral("name"), name},
        {QStringLiteral("unique_id"), QString(deviceId + u'_' + object)},
        {QStringLiteral("availability_topic"), availabilityTopic(view.boardId)},
        {QStringLiteral("device"),
         QJsonObject{{QStringLiteral("identifiers"), QJsonArray{deviceId}},
                     {QStringLiteral("name"), QString(QStringLiteral("Kelvaro ") + view.boardId)},
                     {QStringLiteral("model"), QStringLiteral("Relay thermostat board")},
                     {QStringLiteral("sw_version"), view.version}}},
    };
}

class Discovery
{
public:
    explicit Discovery(const BridgeView& view) : m_view(view) {}

    void add(const char* component, const QString& object, QJsonObject config)
    {
        // The entity id Home Assistant gives it at first (it took "object_id" for this
        // until 2026.4): its domain, then a slug of lower-case letters, digits and "_".
        QString slug = QStringLiteral("kelvaro_") + m_view.boardId + u'_' + object;
        slug = slug.toLower();
        slug.replace(u'-', u'_');
        slug.replace(u'/', u'_');
        config.insert(QStringLiteral("default_entity_id"),
                      QString(QLatin1String(component) + u'.' + slug));
        m_messages.insert(topic(component, object),
                          QJsonDocument(config).toJson(QJsonDocument::Compact));
    }

    void clear(const char* component, const QString& object)
    {
        m_messages.insert(topic(component, object), QByteArray());
    }

    Messages messages() const { return m_messages; }

private:
    QString topic(const char* component, const QString& object) const
    {
        return m_view.discoveryPrefix + u'/' + QLatin1String(component) +
               QStringLiteral("/kelvaro_") + m_view.boardId + u'/' + object +
               QStringLiteral("/config");
    }

    const BridgeView& m_view;
    Messages m_messages;
};

void insertAll(QJsonObject& into, const QJsonObject& from)
{
    for (auto it = from.begin(); it != from.end(); ++it)
        into.insert(it.key(), it.value());
}

} // namespace

QString baseTopic(const QString& boardId)
{
    return QStringLiteral("kelvaro/") + boardId + u'/';
}

QString availabilityTopic(const QString& boardId)
{
    return baseTopic(boardId) + QStringLiteral("availability");
}

QString errorTopic(const QString& boardId)
{
    return baseTopic(boardId) + QStringLiteral("error");
}

QString commandTopic(const QString& boardId, int box)
{
    return parameterTopic(boardId, box) + QStringLiteral("/set");
}

QString commandFilter(const QString& boardId)
{
    return baseTopic(boardId) + QStringLiteral("+/set");
}

std::optional<int> boxOfCommandTopic(const QString& boardId, const QString& topic)
{
    for (int box = 0; box < InputBoxCount; ++box) {
        if (topic == commandTopic(boardId, box))
            return box;
    }
    return std::nullopt;
}

Messages stateMessages(const BridgeView& view)
{
    const QString base = baseTopic(view.boardId);
    Messages out;
    out.insert(base + QStringLiteral("line/state"), view.lineStatus.toUtf8());
    out.insert(base + QStringLiteral("line/problem"), view.lineProblem.toUtf8());
    if (view.lastLogWrite)
        out.insert(base + QStringLiteral("log/last_write"),
                   view.lastLogWrite->toOffsetFromUtc(view.lastLogWrite->offsetFromUtc())
                       .toString(Qt::ISODate)
                       .toUtf8());
    if (!view.haveBlock)
        return out;

    const DisplayUnits units = wireUnits(view);
    const Words& w = view.words;
    out.insert(base + QStringLiteral("actual_temperature"),
               temperatureWordText(w[reg::Actual], view.fahrenheit, units.locale).toUtf8());
    out.insert(base + QStringLiteral("average_temperature"),
               temperatureWordText(w[reg::Average], view.fahrenheit, units.locale).toUtf8());
    out.insert(base + QStringLiteral("relay"),
               relayStatusText(w) == QLatin1String("On") ? "ON" : "OFF");
    const auto outputs = outputTexts(w, units);
    out.insert(base + QStringLiteral("relay_on_time"), secondsOfShown(outputs[7]));
    out.insert(base + QStringLiteral("relay_off_time"), secondsOfShown(outputs[6]));
    const auto inputs = inputTexts(w, units);
    for (int box = 0; box < InputBoxCount; ++box) {
        const QString& text = inputs[std::size_t(box)];
        out.insert(parameterTopic(view.boardId, box), entryBox(box).kind == EntryKind::Duration
                                                          ? secondsOfShown(text)
                                                          : text.toUtf8());
    }
    return out;
}

Messages discoveryMessages(const BridgeView& view)
{
    const QString base = baseTopic(view.boardId);
    const QString unit = unitText(view.fahrenheit);
    Discovery discovery(view);

    // `state` is the topic below the base; the object id takes '_' for its '/'.
    const auto sensor = [&](const QString& state, const QString& name, QJsonObject extra) {
        const QString object = QString(state).replace(u'/', u'_');
        QJsonObject config = entityConfig(view, object, name);
        config.insert(QStringLiteral("state_topic"), QString(base + state));
        insertAll(config, extra);
        discovery.add("sensor", object, config);
    };
    const QJsonObject temperature{{QStringLiteral("device_class"), QStringLiteral("temperature")},
                                  {QStringLiteral("unit_of_measurement"), unit},
                                  {QStringLiteral("state_class"), QStringLiteral("measurement")}};
    const QJsonObject duration{{QStringLiteral("device_class"), QStringLiteral("duration")},
                               {QStringLiteral("unit_of_measurement"), QStringLiteral("s")},
                               {QStringLiteral("state_class"), QStringLiteral("measurement")}};
    const QJsonObject diagnostic{{QStringLiteral("entity_category"), QStringLiteral("diagnostic")}};
    sensor(QStringLiteral("actual_temperature"), QStringLiteral("Actual temperature"), temperature);
    sensor(QStringLiteral("average_temperature"), QStringLiteral("Average temperature"),
           temperature);
    sensor(QStringLiteral("relay_on_time"), QStringLiteral("Relay on time"), duration);
    sensor(QStringLiteral("relay_off_time"), QStringLiteral("Relay off time"), duration);
    sensor(QStringLiteral("line/state"), QStringLiteral("Line state"), diagnostic);
    sensor(QStringLiteral("line/problem"), QStringLiteral("Line problem"), diagnostic);
    QJsonObject lastWrite = diagnostic;
    lastWrite.insert(QStringLiteral("device_class"), QStringLiteral("timestamp"));
    sensor(QStringLiteral("log/last_write"), QStringLiteral("Last log write"), lastWrite);

    QJsonObject relay = entityConfig(view, QStringLiteral("relay"), QStringLiteral("Relay"));
    insertAll(relay, {{QStringLiteral("state_topic"), QString(base + QStringLiteral("relay"))},
                      {QStringLiteral("payload_on"), QStringLiteral("ON")},
                      {QStringLiteral("payload_off"), QStringLiteral("OFF")},
                      {QStringLiteral("device_class"), QStringLiteral("running")}});
    discovery.add("binary_sensor", QStringLiteral("relay"), relay);

    const DisplayUnits units = wireUnits(view);
    for (int box = 0; box < InputBoxCount; ++box) {
        const QString object = QString::fromLatin1(ParameterKeys[std::size_t(box)]);
        QJsonObject config = entityConfig(view, object, parameterName(box));
        config.insert(QStringLiteral("state_topic"), parameterTopic(view.boardId, box));
        switch (entryBox(box).kind) {
        case EntryKind::Temperature:
            config.insert(QStringLiteral("device_class"), QStringLiteral("temperature"));
            config.insert(QStringLiteral("unit_of_measurement"), unit);
            break;
        case EntryKind::Hysteresis: // a difference: no temperature device class
            config.insert(QStringLiteral("unit_of_measurement"), unit);
            break;
        case EntryKind::Duration:
            config.insert(QStringLiteral("device_class"), QStringLiteral("duration"));
            config.insert(QStringLiteral("unit_of_measurement"), QStringLiteral("s"));
            break;
        case EntryKind::OperationModes:
            break;
        }
        // A parameter is a sensor or a number; the other's config, retained from a run
        // with the other choice, is cleared (an empty retained message) so the hub does
        // not show it twice.
        discovery.clear(view.control ? "sensor" : "number", object);
        if (!view.control) {
            discovery.add("sensor", object, config);
            continue;
        }
        const EntryRange range = entryRange(box, units);
        insertAll(config, {{QStringLiteral("command_topic"), commandTopic(view.boardId, box)},
                           {QStringLiteral("min"), range.min},
                           {QStringLiteral("max"), range.max},
                           {QStringLiteral("step"), range.step},
                           {QStringLiteral("mode"), QStringLiteral("box")},
                           {QStringLiteral("entity_category"), QStringLiteral("config")}});
        discovery.add("number", object, config);
    }
    return discovery.messages();
}

Outcome<QString> entryTextOfPayload(int box, const QByteArray& payload)
{
    const QString name = parameterName(box);
    if (payload.trimmed().isEmpty())
        return failure(QStringLiteral("%1: empty payload, nothing sent").arg(name));
    if (payload.size() > LongestCommand)
        return failure(QStringLiteral("%1: payload longer than %2 bytes, nothing sent")
                           .arg(name)
                           .arg(LongestCommand));
    const QString text = QString::fromUtf8(payload).trimmed();
    bool isNumber = false;
    const double value = wireLocale().toDouble(text, &isNumber);
    if (!isNumber || !std::isfinite(value))
        return failure(QStringLiteral("%1: \"%2\" is not a number, nothing sent").arg(name, text));
    if (entryBox(box).kind != EntryKind::Duration)
        return text;
    const EntryRange range = entryRange(box, DisplayUnits{});
    if (value != std::floor(value) || value < range.min || value > range.max)
        return failure(QStringLiteral("%1: \"%2\" is not a whole number of seconds from %3 to "
                                      "%4, nothing sent")
                           .arg(name, text)
                           .arg(range.min)
                           .arg(range.max));
    const int seconds = int(value);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

CommandGate::Decision CommandGate::take(const QString& topic, const QByteArray& payload,
                                        bool retained, int writesUnderWay)
{
    const std::optional<int> box = boxOfCommandTopic(m_boardId, topic);
    if (!box)
        return {};
    if (retained) {
        // The broker keeps no empty retained message, so one never comes as retained.
        if (payload.isEmpty())
            return {Action::Ignore, *box, false};
        ++m_echoes[topic];
        const bool first = !m_told.contains(topic);
        m_told.insert(topic);
        return {Action::ClearRetained, *box, first};
    }
    if (payload.isEmpty()) {
        const auto echo = m_echoes.find(topic);
        if (echo != m_echoes.end()) {
            if (--*echo == 0)
                m_echoes.erase(echo);
            return {Action::Ignore, *box, false};
        }
    }
    if (writesUnderWay >= MostMqttWrites)
        return {Action::RefuseBusy, *box, false};
    return {Action::Write, *box, false};
}

QString CommandGate::busyReason()
{
    return QStringLiteral("too many writes waiting from MQTT (at most %1); try again")
        .arg(MostMqttWrites);
}

} // namespace kelvaro::mqtt
