#pragma once
// The recorder's history as messages on the service socket, written by the server and read
// by its clients: a day's counts, its five-minute buckets one column a message (int32
// little-endian, base64), a log file's bytes in chunks, text in chunks, and the lists of
// unreadable files. Each message stays well under MaxLineLength.

#include "core/outcome.h"
#include "history/history_data.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QStringList>
#include <vector>

namespace kelvaro::service {

// Bytes of a file or of the report carried by one message: 36 KiB, 48 KiB as base64.
inline constexpr qsizetype ChunkBytes = 36 * 1024;
// Dates per "dates" message.
inline constexpr int DatesPerMessage = 1000;
// Text of file errors per message, about.
inline constexpr qsizetype ErrorTextPerMessage = 32 * 1024;

// "day": what HistoryData::Day holds but its lines and buckets.
QJsonObject dayMessage(const HistoryData::Day& day);
// "buckets": the day's buckets of each column, one message a column.
std::vector<QJsonObject> bucketMessages(const HistoryData::Day& day);
// "file": the bytes of the day's log file, in chunks (one empty message for an empty file),
// each packed with zlib as qCompress packs it (the size first, big-endian).
std::vector<QJsonObject> fileMessages(const QDate& date, QByteArrayView bytes);
// Messages of `type` carrying `bytes` in chunks, as "data" (base64).
std::vector<QJsonObject> chunkMessages(const QString& type, QByteArrayView bytes);
// The errors in groups of about ErrorTextPerMessage: all but the last as "errors" messages,
// the last group returned for the closing message.
QJsonArray errorGroups(const QStringList& errors, std::vector<QJsonObject>& messages);

// A "day" message read back: the day without lines, its buckets all empty yet.
Outcome<HistoryData::Day> readDayMessage(const QJsonObject& message);
// A "buckets" message's column written into `buckets` of `day` (sized for the day).
Outcome<void> readBucketMessage(const QJsonObject& message, const HistoryData::Day& day,
                                std::vector<HistoryData::Bucket>& buckets);
// The base64 "data" of a message; no value when it is not base64.
std::optional<QByteArray> messageData(const QJsonObject& message);
// The "data" of a "file" message unpacked; no value when it is not base64, does not unpack,
// or would unpack to more than ChunkBytes.
std::optional<QByteArray> fileChunkData(const QJsonObject& message);
// A day written YYYY-MM-DD.
std::optional<QDate> messageDate(const QJsonValue& value);

} // namespace kelvaro::service
