// What a recorder (or whatever answers at the far end of an ssh connection) sends as its
// history, one JSON line per chunk of the input cut at its 0xFF bytes: a "day" read back
// is a day the chart can hold, a "buckets" message fills only the day it was sized for,
// and no "file" chunk unpacks to more than a chunk, whatever size its header claims.

#include "fuzz_check.h"
#include "history/log_line.h"
#include "service/history_messages.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstddef>
#include <cstdint>

using kelvaro::HistoryData;
using kelvaro::fuzz::require;
using namespace kelvaro::service;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    std::optional<HistoryData::Day> day;
    std::vector<HistoryData::Bucket> buckets;
    qsizetype start = 0;
    for (qsizetype k = 0; k <= input.size(); ++k) {
        if (k < input.size() && input[k] != char(0xFF))
            continue;
        const QJsonObject message =
            QJsonDocument::fromJson(input.sliced(start, k - start).toByteArray()).object();
        start = k + 1;
        const QString type = message.value(u"type").toString();
        if (type == u"day") {
            const auto read = readDayMessage(message);
            if (!read)
                continue;
            require(read->width >= 0 && read->width <= kelvaro::MaxLogColumns,
                    "a day has at most the columns a log line can have");
            require(read->bucketCount() > 0 && read->bucketCount() <= 300,
                    "a day has at most 25 hours of buckets");
            day = *read;
            buckets.assign(size_t(day->bucketCount()) * size_t(day->width), {});
        } else if (type == u"buckets" && day) {
            const std::vector<HistoryData::Bucket> before = buckets;
            const auto read = readBucketMessage(message, *day, buckets);
            require(buckets.size() == before.size(), "the buckets keep the day's size");
            if (!read)
                require(!read.reason().isEmpty(), "a refusal says why");
        } else {
            const std::optional<QByteArray> chunk = fileChunkData(message);
            require(!chunk || chunk->size() <= ChunkBytes, "a file chunk is at most a chunk");
        }
    }
    return 0;
}
