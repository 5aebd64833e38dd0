#include "web/browser_request.h"

#include "core/printable_text.h"
#include "values/display_texts.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QRegularExpression>

namespace kelvaro::web {

namespace {

using Read = std::variant<BrowserRequest, BrowserRefusal>;

// A whole number in [low, high] from a JSON value, or nothing.
std::optional<qint64> wholeNumber(const QJsonValue& value, qint64 low, qint64 high)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!(number >= double(low) && number <= double(high)) || number != double(qint64(number)))
        return std::nullopt;
    return qint64(number);
}

std::optional<QDate> dayOf(const QJsonValue& value)
{
    static const QRegularExpression shape(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    const QString text = value.toString();
    if (!shape.match(text).hasMatch())
        return std::nullopt;
    const QDate date = QDate::fromString(text, Qt::ISODate);
    return date.isValid() ? std::optional(date) : std::nullopt;
}

std::optional<int> widthOf(const QJsonObject& message)
{
    if (!message.contains(u"width"))
        return 600;
    const auto width = wholeNumber(message.value(u"width"), ChartMinWidth, ChartMaxWidth);
    return width ? std::optional(int(*width)) : std::nullopt;
}

Read refuse(std::optional<qint64> id, QString reason)
{
    return BrowserRefusal{id, std::move(reason)};
}

Read readSet(std::optional<qint64> id, const QJsonObject& message)
{
    const auto box = wholeNumber(message.value(u"box"), 0, InputBoxCount - 1);
    if (!box)
        return refuse(id, QStringLiteral("\"box\" must be an entry box's number, 0 to 9"));
    const QJsonValue text = message.value(u"text");
    if (!text.isString() || text.toString().size() > 64)
        return refuse(id,
                      QStringLiteral("\"text\" must be the value as typed, at most 64 characters"));
    QString locale = QStringLiteral("C");
    if (message.contains(u"locale")) {
        static const QRegularExpression shape(
            QStringLiteral("^[A-Za-z]{2,3}([_-][A-Za-z0-9]{2,8}){0,3}$"));
        locale = message.value(u"locale").toString();
        if (!shape.match(locale).hasMatch())
            return refuse(id, QStringLiteral("\"locale\" must be a locale's name such as de_DE"));
        locale.replace(u'-', u'_');
    }
    return BrowserRequest{id, SetBox{int(*box), text.toString(), locale}};
}

Read readSettings(std::optional<qint64> id, const QJsonObject& message)
{
    const bool log = message.contains(u"logActive");
    const bool unit = message.contains(u"displayUnit");
    if (log == unit)
        return refuse(
            id, QStringLiteral("settings: send exactly one of \"logActive\" and \"displayUnit\""));
    if (log) {
        const QJsonValue on = message.value(u"logActive");
        if (!on.isBool())
            return refuse(id, QStringLiteral("\"logActive\" must be true or false"));
        return BrowserRequest{id, ChangeSettings{QJsonObject{{QStringLiteral("logActive"), on}}}};
    }
    const QString letter = message.value(u"displayUnit").toString();
    if (letter != u"C" && letter != u"F")
        return refuse(id, QStringLiteral("\"displayUnit\" must be \"C\" or \"F\""));
    return BrowserRequest{id, ChangeSettings{QJsonObject{{QStringLiteral("displayUnit"), letter}}}};
}

Read readHistory(std::optional<qint64> id, const QJsonObject& message)
{
    const auto from = dayOf(message.value(u"from"));
    const auto to = dayOf(message.value(u"to"));
    if (!from || !to)
        return refuse(id, QStringLiteral("\"from\" and \"to\" must be days written YYYY-MM-DD"));
    if (*from > *to)
        return refuse(id, QStringLiteral("\"from\" comes after \"to\""));
    const auto width = widthOf(message);
    if (!width)
        return refuse(
            id, QStringLiteral("\"width\" must be %1 to %2").arg(ChartMinWidth).arg(ChartMaxWidth));
    return BrowserRequest{id, AskHistory{*from, *to, *width}};
}

Read readTrend(std::optional<qint64> id, const QJsonObject& message)
{
    const auto hours = message.contains(u"hours")
                           ? wholeNumber(message.value(u"hours"), 1, TrendMaxHours)
                           : std::optional<qint64>(6);
    if (!hours)
        return refuse(id, QStringLiteral("\"hours\" must be 1 to %1").arg(TrendMaxHours));
    const auto width = widthOf(message);
    if (!width)
        return refuse(
            id, QStringLiteral("\"width\" must be %1 to %2").arg(ChartMinWidth).arg(ChartMaxWidth));
    return BrowserRequest{id, AskTrend{int(*hours), *width}};
}

} // namespace

std::variant<BrowserRequest, BrowserRefusal> readBrowserMessage(const QByteArray& text)
{
    if (text.size() > BrowserMessageMaxBytes)
        return refuse(std::nullopt,
                      QStringLiteral("message longer than %1 bytes").arg(BrowserMessageMaxBytes));
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return refuse(std::nullopt, QStringLiteral("not a JSON object"));
    const QJsonObject message = document.object();
    std::optional<qint64> id;
    if (message.contains(u"id")) {
        id = wholeNumber(message.value(u"id"), 0, qint64(1) << 52);
        if (!id)
            return refuse(std::nullopt, QStringLiteral("\"id\" must be a whole number from 0"));
    }
    const QString type = message.value(u"type").toString();
    if (type == u"board") {
        const QString board = message.value(u"board").toString();
        if (board.isEmpty() || board.size() > 255)
            return refuse(id, QStringLiteral("\"board\" must name a board"));
        return BrowserRequest{id, WatchBoard{board}};
    }
    if (type == u"set")
        return readSet(id, message);
    if (type == u"settings")
        return readSettings(id, message);
    if (type == u"trend")
        return readTrend(id, message);
    if (type == u"days")
        return BrowserRequest{id, AskDays{}};
    if (type == u"history")
        return readHistory(id, message);
    return refuse(id,
                  QStringLiteral("unknown request type \"%1\"").arg(printableText(type.left(40))));
}

bool changesBoard(const BrowserAsk& ask)
{
    return std::holds_alternative<SetBox>(ask) || std::holds_alternative<ChangeSettings>(ask);
}

} // namespace kelvaro::web
