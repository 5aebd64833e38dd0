#include "service/history_messages.h"

#include "history/log_line.h"

#include <QJsonArray>
#include <QtEndian>

namespace kelvaro::service {

namespace {

constexpr int BucketFields = 7;
constexpr qsizetype BucketBytes = BucketFields * 4;
// A day is at most 25 hours long (the day the clock goes back).
constexpr qint64 LongestDaySeconds = 25 * 3600;

QString dayText(const QDate& date)
{
    return date.toString(Qt::ISODate);
}

} // namespace

std::optional<QDate> messageDate(const QJsonValue& value)
{
    const QString text = value.toString();
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (text.size() != 10 || !date.isValid())
        return std::nullopt;
    return date;
}

QJsonObject dayMessage(const HistoryData::Day& day)
{
    return {{QStringLiteral("type"), QStringLiteral("day")},
            {QStringLiteral("date"), dayText(day.date)},
            {QStringLiteral("lines"), day.lines},
            {QStringLiteral("skipped"), day.skipped},
            {QStringLiteral("width"), day.width},
            {QStringLiteral("medianStepMs"), day.medianStepMs},
            {QStringLiteral("start"), day.start},
            {QStringLiteral("end"), day.end}};
}

std::vector<QJsonObject> bucketMessages(const HistoryData::Day& day)
{
    std::vector<QJsonObject> messages;
    if (!day.buckets)
        return messages;
    const int count = day.bucketCount();
    QByteArray raw(count * BucketBytes, Qt::Uninitialized);
    for (int c = 0; c < day.width; ++c) {
        char* out = raw.data();
        const HistoryData::Bucket* b = day.buckets->data() + size_t(c) * size_t(count);
        for (int i = 0; i < count; ++i, ++b) {
            for (const qint32 v :
                 {b->tFirst, b->tLast, b->min, b->max, b->first, b->last, b->count}) {
                qToLittleEndian(v, out);
                out += 4;
            }
        }
        messages.push_back({{QStringLiteral("type"), QStringLiteral("buckets")},
                            {QStringLiteral("date"), dayText(day.date)},
                            {QStringLiteral("column"), c},
                            {QStringLiteral("data"), QString::fromLatin1(raw.toBase64())}});
    }
    return messages;
}

std::vector<QJsonObject> fileMessages(const QDate& date, QByteArrayView bytes)
{
    std::vector<QJsonObject> messages;
    qsizetype offset = 0;
    do {
        const QByteArrayView chunk =
            bytes.sliced(offset, std::min(ChunkBytes, bytes.size() - offset));
        messages.push_back(
            {{QStringLiteral("type"), QStringLiteral("file")},
             {QStringLiteral("date"), dayText(date)},
             {QStringLiteral("offset"), offset},
             {QStringLiteral("size"), bytes.size()},
             {QStringLiteral("data"), QString::fromLatin1(chunk.toByteArray().toBase64())}});
        offset += chunk.size();
    } while (offset < bytes.size());
    return messages;
}

std::vector<QJsonObject> chunkMessages(const QString& type, QByteArrayView bytes)
{
    std::vector<QJsonObject> messages;
    for (qsizetype offset = 0; offset < bytes.size(); offset += ChunkBytes) {
        const QByteArrayView chunk =
            bytes.sliced(offset, std::min(ChunkBytes, bytes.size() - offset));
        messages.push_back(
            {{QStringLiteral("type"), type},
             {QStringLiteral("data"), QString::fromLatin1(chunk.toByteArray().toBase64())}});
    }
    return messages;
}

QJsonArray errorGroups(const QStringList& errors, std::vector<QJsonObject>& messages)
{
    QJsonArray group;
    qsizetype size = 0;
    for (const QString& error : errors) {
        // An error's text is a path and a reason; a path is cut short rather than let one
        // error outgrow a line.
        const QString text = error.left(ErrorTextPerMessage / 8);
        if (size + text.size() > ErrorTextPerMessage && !group.isEmpty()) {
            messages.push_back({{QStringLiteral("type"), QStringLiteral("errors")},
                                {QStringLiteral("errors"), group}});
            group = {};
            size = 0;
        }
        group.append(text);
        size += text.size() + 4;
    }
    return group;
}

Outcome<HistoryData::Day> readDayMessage(const QJsonObject& message)
{
    HistoryData::Day day;
    const std::optional<QDate> date = messageDate(message.value(u"date"));
    if (!date)
        return failure(QStringLiteral("a day without a date"));
    day.date = *date;
    const auto number = [&message](QStringView key, qint64 min,
                                   qint64 max) -> std::optional<qint64> {
        const QJsonValue value = message.value(key);
        const double v = value.toDouble(-1e300);
        if (!value.isDouble() || v < double(min) || v > double(max) || v != double(qint64(v)))
            return std::nullopt;
        return qint64(v);
    };
    const auto lines = number(u"lines", 0, std::numeric_limits<qint32>::max());
    const auto skipped = number(u"skipped", 0, std::numeric_limits<qint32>::max());
    const auto width = number(u"width", 0, MaxLogColumns);
    const auto step = number(u"medianStepMs", 0, 86400LL * 1000);
    const auto start =
        number(u"start", std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    const auto end =
        number(u"end", std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    if (!lines || !skipped || !width || !step || !start || !end || *skipped > *lines ||
        *end <= *start || *end - *start > LongestDaySeconds)
        return failure(QStringLiteral("the day %1 is not told whole").arg(dayText(day.date)));
    day.lines = *lines;
    day.skipped = *skipped;
    day.width = int(*width);
    day.medianStepMs = *step;
    day.start = *start;
    day.end = *end;
    return day;
}

std::optional<QByteArray> messageData(const QJsonObject& message)
{
    const QJsonValue data = message.value(u"data");
    if (!data.isString())
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(data.toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

Outcome<void> readBucketMessage(const QJsonObject& message, const HistoryData::Day& day,
                                std::vector<HistoryData::Bucket>& buckets)
{
    const int count = day.bucketCount();
    const int column = message.value(u"column").toInt(-1);
    const std::optional<QByteArray> raw = messageData(message);
    if (column < 0 || column >= day.width || !raw || raw->size() != count * BucketBytes ||
        buckets.size() != size_t(count) * size_t(day.width))
        return failure(
            QStringLiteral("the buckets of %1 do not fit the day").arg(dayText(day.date)));
    const char* in = raw->constData();
    HistoryData::Bucket* b = buckets.data() + size_t(column) * size_t(count);
    for (int i = 0; i < count; ++i, ++b) {
        qint32 v[BucketFields];
        for (qint32& x : v) {
            x = qFromLittleEndian<qint32>(in);
            in += 4;
        }
        *b = {v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
    }
    return {};
}

} // namespace kelvaro::service
