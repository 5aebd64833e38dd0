#include "service/history_messages.h"

#include "history/log_line.h"

#include <QJsonArray>
#include <QtEndian>

namespace kelvaro::service {

namespace {

constexpr int BucketFields = 7;
constexpr qsizetype BucketBytes = BucketFields * 4;

// A bucket's fields in the order of the message.
template <class B> auto& bucketField(B& bucket, int field)
{
    switch (field) {
    case 0:
        return bucket.tFirst;
    case 1:
        return bucket.tLast;
    case 2:
        return bucket.min;
    case 3:
        return bucket.max;
    case 4:
        return bucket.first;
    case 5:
        return bucket.last;
    default:
        return bucket.count;
    }
}
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
        const HistoryData::Bucket* column = day.buckets->data() + size_t(c) * size_t(count);
        // Field after field, each bucket's value less the one before it: the times step by
        // about the bucket's width and the values change little, which zlib packs tightly
        // (a year's summary is about a fifth of its raw size).
        char* out = raw.data();
        for (int f = 0; f < BucketFields; ++f) {
            qint32 previous = 0;
            for (int i = 0; i < count; ++i) {
                const qint32 v = bucketField(column[i], f);
                qToLittleEndian(qint32(quint32(v) - quint32(previous)), out);
                out += 4;
                previous = v;
            }
        }
        messages.push_back(
            {{QStringLiteral("type"), QStringLiteral("buckets")},
             {QStringLiteral("date"), dayText(day.date)},
             {QStringLiteral("column"), c},
             {QStringLiteral("data"), QString::fromLatin1(qCompress(raw, 1).toBase64())}});
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
        messages.push_back({{QStringLiteral("type"), QStringLiteral("file")},
                            {QStringLiteral("date"), dayText(date)},
                            {QStringLiteral("offset"), offset},
                            {QStringLiteral("size"), bytes.size()},
                            {QStringLiteral("data"),
                             QString::fromLatin1(qCompress(chunk.toByteArray(), 1).toBase64())}});
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

std::optional<QByteArray> fileChunkData(const QJsonObject& message)
{
    const std::optional<QByteArray> packed = messageData(message);
    // The size is read before anything is unpacked: no message makes the client allocate
    // more than a chunk.
    if (!packed || packed->size() < 4 || qFromBigEndian<quint32>(packed->constData()) > ChunkBytes)
        return std::nullopt;
    if (qFromBigEndian<quint32>(packed->constData()) == 0)
        return QByteArray();
    QByteArray data = qUncompress(*packed);
    if (data.isEmpty())
        return std::nullopt;
    return data;
}

Outcome<void> readBucketMessage(const QJsonObject& message, const HistoryData::Day& day,
                                std::vector<HistoryData::Bucket>& buckets)
{
    const int count = day.bucketCount();
    const int column = message.value(u"column").toInt(-1);
    const std::optional<QByteArray> packed = messageData(message);
    const qsizetype expected = count * BucketBytes;
    const auto refuse = [&day] {
        return failure(
            QStringLiteral("the buckets of %1 do not fit the day").arg(dayText(day.date)));
    };
    // The packed size comes first, big-endian: checked before anything is unpacked, so a
    // message cannot make the client allocate more than the day needs.
    if (column < 0 || column >= day.width || !packed || packed->size() < 4 ||
        qFromBigEndian<quint32>(packed->constData()) != quint32(expected) ||
        buckets.size() != size_t(count) * size_t(day.width))
        return refuse();
    const QByteArray raw = qUncompress(*packed);
    if (raw.size() != expected)
        return refuse();
    const char* in = raw.constData();
    HistoryData::Bucket* b = buckets.data() + size_t(column) * size_t(count);
    for (int f = 0; f < BucketFields; ++f) {
        qint32 value = 0;
        for (int i = 0; i < count; ++i) {
            value = qint32(quint32(value) + quint32(qFromLittleEndian<qint32>(in)));
            in += 4;
            bucketField(b[i], f) = value;
        }
    }
    return {};
}

} // namespace kelvaro::service
