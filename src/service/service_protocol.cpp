#include "service/service_protocol.h"

#include "values/display_texts.h"
#include "values/parameter_entry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocale>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

namespace kelvaro::service {

namespace {

constexpr double LongestTimeoutSeconds = 3600;

struct TypeName
{
    const char* name;
    RequestType type;
};
constexpr std::array<TypeName, 12> TypeNames{{
    {"hello", RequestType::Hello},
    {"subscribe", RequestType::Subscribe},
    {"unsubscribe", RequestType::Unsubscribe},
    {"values", RequestType::Values},
    {"status", RequestType::Status},
    {"set", RequestType::Set},
    {"reset", RequestType::Reset},
    {"settings", RequestType::Settings},
    {"days", RequestType::Days},
    {"history", RequestType::History},
    {"detail", RequestType::Detail},
    {"report", RequestType::Report},
}};

QString str(const char* text)
{
    return QString::fromLatin1(text);
}

// A day written YYYY-MM-DD, exactly.
std::optional<QDate> isoDay(const QJsonValue& value)
{
    const QString text = value.toString();
    if (!value.isString() || text.size() != 10)
        return std::nullopt;
    const QDate date = QDate::fromString(text, Qt::ISODate);
    return date.isValid() ? std::optional<QDate>(date) : std::nullopt;
}

// The "from" and "to" of a history request.
Outcome<void> readRange(const QJsonObject& object, Request& request)
{
    const std::array<std::pair<QLatin1StringView, std::optional<QDate>*>, 2> fields{
        {{QLatin1StringView("from"), &request.from}, {QLatin1StringView("to"), &request.to}}};
    for (const auto& [key, target] : fields) {
        if (!object.contains(key))
            continue;
        *target = isoDay(object.value(key));
        if (!*target)
            return failure(QStringLiteral("\"%1\" must be a day written YYYY-MM-DD").arg(key));
    }
    const bool needsBoth =
        request.type == RequestType::History || request.type == RequestType::Detail;
    if (needsBoth && (!request.from || !request.to))
        return failure(str("\"history\" and \"detail\" need \"from\" and \"to\""));
    if (request.from && request.to) {
        if (*request.from > *request.to)
            return failure(str("\"from\" is after \"to\""));
        if (request.from->daysTo(*request.to) >= MaxHistoryDays)
            return failure(QStringLiteral("the range covers more than %1 days; ask for less")
                               .arg(MaxHistoryDays));
    }
    return {};
}

// A whole number within [min, max] from a JSON number.
std::optional<qint64> wholeNumber(const QJsonValue& value, qint64 min, qint64 max)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::floor(number) || number < double(min) ||
        number > double(max))
        return std::nullopt;
    return qint64(number);
}

Outcome<CommunicationSettings> readCommunication(const QJsonValue& value)
{
    if (!value.isObject())
        return failure(str("\"communication\" must be an object"));
    const QJsonObject object = value.toObject();
    CommunicationSettings settings;
    const auto port = wholeNumber(object.value(u"port"), 1, 32767);
    const auto baud = wholeNumber(object.value(u"baud"), 1, std::numeric_limits<qint32>::max());
    const auto timeOut = wholeNumber(object.value(u"timeout"), 0, 32767);
    if (!port)
        return failure(str("\"communication\" needs \"port\", a whole number from 1"));
    if (!baud)
        return failure(str("\"communication\" needs \"baud\", a whole number from 1"));
    if (!timeOut)
        return failure(str("\"communication\" needs \"timeout\", whole seconds from 0"));
    for (const char* flag : {"rts", "dtr"}) {
        if (!object.value(QLatin1String(flag)).isBool())
            return failure(QStringLiteral("\"communication\" needs \"%1\", true or false")
                               .arg(QLatin1String(flag)));
    }
    settings.port = qint16(*port);
    settings.baud = qint32(*baud);
    settings.timeOut = qint16(*timeOut);
    settings.rts = object.value(u"rts").toBool();
    settings.dtr = object.value(u"dtr").toBool();
    return settings;
}

Outcome<LoggingChoices> readLogging(const QJsonValue& value)
{
    if (!value.isObject())
        return failure(str("\"logging\" must be an object"));
    const QJsonObject object = value.toObject();
    LoggingChoices choices;
    if (!object.value(u"nameFormat").isString() || !object.value(u"event").isString())
        return failure(str("\"logging\" needs the texts \"nameFormat\" and \"event\""));
    const QJsonArray fields = object.value(u"fields").toArray();
    if (!object.value(u"fields").isArray() || fields.size() != LogFieldCount)
        return failure(QStringLiteral("\"logging\" needs \"fields\", %1 texts").arg(LogFieldCount));
    choices.nameFormat = object.value(u"nameFormat").toString();
    choices.event = object.value(u"event").toString();
    for (int k = 0; k < LogFieldCount; ++k) {
        if (!fields[k].isString())
            return failure(str("\"logging\" needs \"fields\" as texts"));
        choices.fields[std::size_t(k)] = fields[k].toString();
    }
    return choices;
}

std::optional<bool> unitIsFahrenheit(const QJsonValue& unit)
{
    const QString text = unit.toString().toUpper();
    if (text == u"C")
        return false;
    if (text == u"F")
        return true;
    return std::nullopt;
}

Outcome<SettingsChange> readSettings(const QJsonObject& object)
{
    SettingsChange change;
    int given = 0;
    if (object.contains(u"communication")) {
        const auto read = readCommunication(object.value(u"communication"));
        if (!read)
            return failure(read.reason());
        change.communication = *read;
        ++given;
    }
    if (object.contains(u"logging")) {
        const auto read = readLogging(object.value(u"logging"));
        if (!read)
            return failure(read.reason());
        change.logging = *read;
        ++given;
    }
    if (object.contains(u"logActive")) {
        if (!object.value(u"logActive").isBool())
            return failure(str("\"logActive\" must be true or false"));
        change.logActive = object.value(u"logActive").toBool();
        ++given;
    }
    if (object.contains(u"displayUnit")) {
        change.fahrenheit = unitIsFahrenheit(object.value(u"displayUnit"));
        if (!change.fahrenheit)
            return failure(str("\"displayUnit\" must be \"C\" or \"F\""));
        ++given;
    }
    if (object.contains(u"showDirect")) {
        const auto shown = wholeNumber(object.value(u"showDirect"), 0, 1);
        if (!shown)
            return failure(str("\"showDirect\" must be 0 or 1"));
        change.showDirect = qint16(*shown);
        ++given;
    }
    if (given != 1)
        return failure(str("\"settings\" takes exactly one of \"communication\", \"logging\", "
                           "\"logActive\", \"displayUnit\" and \"showDirect\""));
    return change;
}

QString normalCaption(QString caption)
{
    caption = caption.trimmed().toCaseFolded();
    if (caption.endsWith(u':'))
        caption.chop(1);
    return caption.trimmed();
}

} // namespace

void LineReader::append(QByteArrayView bytes)
{
    if (m_overLong)
        return;
    m_buffer.append(bytes);
}

std::optional<QByteArray> LineReader::nextLine()
{
    if (m_overLong)
        return std::nullopt;
    const qsizetype end = m_buffer.indexOf('\n', m_scanned);
    if (end < 0) {
        m_scanned = m_buffer.size();
        // A line longer than the limit (and its "\r") is refused before its end arrives.
        if (m_buffer.size() > MaxLineLength + 1) {
            m_overLong = true;
            m_buffer.clear();
        }
        return std::nullopt;
    }
    QByteArray line = m_buffer.left(end);
    m_buffer.remove(0, end + 1);
    m_scanned = 0;
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.size() > MaxLineLength) {
        m_overLong = true;
        m_buffer.clear();
        return std::nullopt;
    }
    return line;
}

std::optional<int> entryBoxNamed(const QJsonValue& box)
{
    if (box.isDouble()) {
        const auto index = wholeNumber(box, 0, InputBoxCount - 1);
        return index ? std::optional<int>(int(*index)) : std::nullopt;
    }
    if (!box.isString())
        return std::nullopt;
    const QString wanted = normalCaption(box.toString());
    for (int k = 0; k < InputBoxCount; ++k) {
        if (normalCaption(QString::fromUtf8(entryBox(k).caption)) == wanted)
            return k;
    }
    return std::nullopt;
}

bool readsHistory(RequestType type)
{
    return type == RequestType::Days || type == RequestType::History ||
           type == RequestType::Detail || type == RequestType::Report;
}

QJsonValue readableRequestId(QByteArrayView line)
{
    const QJsonValue id = QJsonDocument::fromJson(line.toByteArray()).object().value(u"id");
    return id.isDouble() || id.isString() ? id : QJsonValue();
}

Outcome<Request> parseRequest(QByteArrayView line)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError)
        return failure(
            QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset));
    if (!document.isObject())
        return failure(str("a request is one JSON object"));
    const QJsonObject object = document.object();
    Request request;
    request.id = object.value(u"id");
    if (request.id.isUndefined())
        request.id = QJsonValue();
    if (!request.id.isNull() && !request.id.isDouble() && !request.id.isString())
        return failure(str("\"id\" must be a number or a text"));

    const QString type = object.value(u"type").toString();
    const auto named = std::find_if(TypeNames.begin(), TypeNames.end(), [&](const TypeName& t) {
        return type == QLatin1String(t.name);
    });
    if (named == TypeNames.end())
        return failure(QStringLiteral("unknown request type \"%1\"").arg(type.left(40)));
    request.type = named->type;

    if (object.contains(u"unit")) {
        request.fahrenheit = unitIsFahrenheit(object.value(u"unit"));
        if (!request.fahrenheit)
            return failure(str("\"unit\" must be \"C\" or \"F\""));
    }
    if (object.contains(u"locale")) {
        const QString locale = object.value(u"locale").toString();
        if (!object.value(u"locale").isString() || locale.size() > 40)
            return failure(str("\"locale\" must be a locale name such as \"de_DE\" or \"C\""));
        request.locale = locale;
    }
    if (object.contains(u"timeout")) {
        const QJsonValue timeout = object.value(u"timeout");
        const double seconds = timeout.toDouble(-1);
        if (!timeout.isDouble() || !(seconds > 0) || seconds > LongestTimeoutSeconds)
            return failure(str("\"timeout\" must be seconds above 0, at most 3600"));
        request.timeout = std::chrono::milliseconds(qint64(std::ceil(seconds * 1000)));
    }

    switch (request.type) {
    case RequestType::Set: {
        const auto box = entryBoxNamed(object.value(u"box"));
        if (!box)
            return failure(str("\"box\" must name an entry box: 0 to 9, or its caption"));
        if (!object.value(u"text").isString())
            return failure(str("\"text\" must be the value as typed in the window"));
        request.box = *box;
        request.text = object.value(u"text").toString();
        break;
    }
    case RequestType::Subscribe:
        if (object.contains(u"record") && !object.value(u"record").isBool())
            return failure(str("\"record\" must be true or false"));
        request.withRecord = object.value(u"record").toBool();
        break;
    case RequestType::Settings: {
        const auto change = readSettings(object);
        if (!change)
            return failure(change.reason());
        request.settings = *change;
        break;
    }
    case RequestType::Days:
    case RequestType::History:
    case RequestType::Detail:
    case RequestType::Report:
        if (const Outcome<void> range = readRange(object, request); !range)
            return failure(range.reason());
        break;
    default:
        break;
    }
    return request;
}

QByteArray encodeMessage(const QJsonObject& message)
{
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

QJsonObject recordMessage(const Settings_Record& record)
{
    QJsonObject message{{QStringLiteral("type"), QStringLiteral("record")}};
    const Outcome<QByteArray> bytes = settingsFileBytes(record);
    if (bytes)
        message.insert(u"settings", QString::fromUtf8(*bytes));
    else
        message.insert(u"problem", bytes.reason());
    return message;
}

Outcome<void> readRecordMessage(const QJsonObject& message, Settings_Record& record)
{
    const QJsonValue text = message.value(u"settings");
    if (!text.isString())
        return failure(message.value(u"problem").toString(str("the record holds no settings")));
    Settings_Record read = record;
    const SettingsRead result = parseSettingsRead(read, text.toString().toUtf8());
    if (result.kind != SettingsRead::Kind::Whole)
        return failure(result.reason);
    record = read;
    return {};
}

QJsonObject errorMessage(const QString& reason, const QJsonValue& id)
{
    QJsonObject message{{QStringLiteral("type"), QStringLiteral("error")},
                        {QStringLiteral("reason"), reason}};
    if (!id.isNull() && !id.isUndefined())
        message.insert(u"id", id);
    return message;
}

} // namespace kelvaro::service
