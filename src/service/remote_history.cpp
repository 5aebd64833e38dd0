#include "service/remote_history.h"

#include "history/history_command.h"
#include "service/history_messages.h"

#include <QJsonArray>
#include <QPromise>
#include <QThreadPool>

namespace kelvaro::service {

namespace {

// The largest log file taken whole: a day at a line a second is about 3 MB.
constexpr qint64 LargestFile = 256LL * 1024 * 1024;

QString dayText(const QDate& date)
{
    return date.toString(Qt::ISODate);
}

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), size_t(bytes.size())};
}

} // namespace

std::optional<QString> RemoteHistory::cannotSend(int protocol)
{
    if (protocol >= 2)
        return std::nullopt;
    return QStringLiteral("the recorder is older (protocol %1) and cannot send its history")
        .arg(protocol);
}

RemoteHistory::RemoteHistory(ServiceClient& client, QObject* parent)
    : QObject(parent), m_client(client)
{
    connect(&m_client, &ServiceClient::message, this, &RemoteHistory::onMessage);
    connect(&m_client, &ServiceClient::failed, this, [this](const QString& reason) {
        if (!m_id.isEmpty())
            fail(reason);
    });
    connect(&m_building, &QFutureWatcher<std::shared_ptr<const HistoryData>>::finished, this,
            [this] {
                const std::shared_ptr<const HistoryData> data = m_building.result();
                Q_EMIT historyReady(data, m_buildErrors);
            });
}

RemoteHistory::~RemoteHistory()
{
    m_building.waitForFinished();
}

void RemoteHistory::requestHistory(const QDate& from, const QDate& to)
{
    m_base.reset();
    send(Kind::History, {{QStringLiteral("type"), QStringLiteral("history")},
                         {QStringLiteral("from"), dayText(from)},
                         {QStringLiteral("to"), dayText(to)}});
}

void RemoteHistory::requestDetail(std::shared_ptr<const HistoryData> base, const QDate& from,
                                  const QDate& to)
{
    m_base = std::move(base);
    m_from = from;
    m_to = to;
    send(Kind::Detail, {{QStringLiteral("type"), QStringLiteral("detail")},
                        {QStringLiteral("from"), dayText(from)},
                        {QStringLiteral("to"), dayText(to)}});
}

void RemoteHistory::requestReport(std::optional<QDate> from, std::optional<QDate> to)
{
    QJsonObject request{{QStringLiteral("type"), QStringLiteral("report")}};
    if (from)
        request.insert(QStringLiteral("from"), dayText(*from));
    if (to)
        request.insert(QStringLiteral("to"), dayText(*to));
    send(Kind::Report, request);
}

void RemoteHistory::send(Kind kind, QJsonObject request)
{
    if (busy()) {
        // Said later, as every other outcome is.
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT failed(QStringLiteral("a history request is under way")); },
            Qt::QueuedConnection);
        return;
    }
    m_kind = kind;
    m_received = {};
    if (const std::optional<QString> why = cannotSend(m_client.serverProtocol())) {
        QMetaObject::invokeMethod(
            this, [this, reason = *why] { Q_EMIT failed(reason); }, Qt::QueuedConnection);
        return;
    }
    m_id = QStringLiteral("history-%1").arg(m_nextId++);
    request.insert(QStringLiteral("id"), m_id);
    m_client.send(request);
}

void RemoteHistory::fail(const QString& reason)
{
    m_id.clear();
    m_received = {};
    Q_EMIT failed(reason);
}

void RemoteHistory::onMessage(const QJsonObject& message)
{
    if (m_id.isEmpty() || message.value(u"id").toString() != m_id)
        return;
    const QString type = message.value(u"type").toString();
    if (type == u"error") {
        fail(QStringLiteral("the recorder refused: %1").arg(message.value(u"reason").toString()));
        return;
    }
    if (type == u"end") {
        finish(message);
        return;
    }
    if (const Outcome<void> taken = take(message); !taken)
        fail(QStringLiteral("the recorder sent a history that cannot be read: %1")
                 .arg(taken.reason()));
}

Outcome<void> RemoteHistory::take(const QJsonObject& message)
{
    const QString type = message.value(u"type").toString();
    Received& r = m_received;
    if (type == u"history" || type == u"detail") {
        for (const QJsonValue& name : message.value(u"names").toArray())
            r.names.append(name.toString());
    } else if (type == u"day") {
        Outcome<HistoryData::Day> day = readDayMessage(message);
        if (!day)
            return failure(day.reason());
        if (!r.days.empty() && r.days.back().date >= day->date)
            return failure(QStringLiteral("the days are out of order"));
        r.buckets.push_back(std::make_shared<std::vector<HistoryData::Bucket>>(
            size_t(day->bucketCount()) * size_t(day->width)));
        r.days.push_back(std::move(*day));
    } else if (type == u"buckets") {
        if (r.days.empty() || messageDate(message.value(u"date")) != r.days.back().date)
            return failure(QStringLiteral("buckets of a day not announced"));
        return readBucketMessage(message, r.days.back(), *r.buckets.back());
    } else if (type == u"file") {
        const std::optional<QDate> date = messageDate(message.value(u"date"));
        const std::optional<QByteArray> data = fileChunkData(message);
        const qint64 offset = message.value(u"offset").toInteger(-1);
        const qint64 size = message.value(u"size").toInteger(-1);
        if (!date || !data || size < 0 || size > LargestFile)
            return failure(QStringLiteral("a file chunk without its date, size or data"));
        if (offset == 0) {
            if (!r.files.empty() && r.files.back().first >= *date)
                return failure(QStringLiteral("the files are out of order"));
            r.files.emplace_back(*date, QByteArray());
            r.files.back().second.reserve(qsizetype(size));
            r.fileSize = size;
        }
        if (r.files.empty() || r.files.back().first != *date ||
            offset != r.files.back().second.size() || size != r.fileSize ||
            offset + data->size() > size)
            return failure(QStringLiteral("a file chunk out of place"));
        r.files.back().second += *data;
    } else if (type == u"report") {
        const std::optional<QByteArray> data = messageData(message);
        if (!data)
            return failure(QStringLiteral("a report chunk without data"));
        r.report += *data;
    } else if (type == u"errors") {
        for (const QJsonValue& error : message.value(u"errors").toArray())
            r.errors.append(error.toString());
    }
    // Other messages (a newer recorder's) are passed over.
    return {};
}

void RemoteHistory::finish(const QJsonObject& end)
{
    for (const QJsonValue& error : end.value(u"errors").toArray())
        m_received.errors.append(error.toString());
    m_id.clear();
    Received received = std::move(m_received);
    m_received = {};
    if (!received.files.empty() && received.files.back().second.size() != received.fileSize) {
        Q_EMIT failed(QStringLiteral("the recorder's answer ended within a file"));
        return;
    }
    if (m_kind == Kind::Report) {
        Q_EMIT reportReady(received.report, received.errors, end.value(u"days").toInt(),
                           end.value(u"read").toInt());
        return;
    }
    for (size_t i = 0; i < received.days.size(); ++i)
        received.days[i].buckets = std::move(received.buckets[i]);
    received.buckets.clear();
    m_buildErrors = received.errors;
    // Reading the lines and building the summaries is the chart's own work, done off the
    // event loop as the local chart does it.
    auto promise = std::make_shared<QPromise<std::shared_ptr<const HistoryData>>>();
    m_building.setFuture(promise->future());
    auto task = [promise, received = std::move(received), base = m_base, from = m_from, to = m_to,
                 kind = m_kind]() mutable {
        promise->start();
        std::vector<HistoryData::Day> days = std::move(received.days);
        for (const auto& [date, bytes] : received.files)
            days.push_back(HistoryData::readDay(date, view(bytes), received.names));
        std::shared_ptr<const HistoryData> data;
        if (kind == Kind::Detail && base) {
            data = base->withDetail(from, to, [&days](const HistoryData::Day& day) {
                for (HistoryData::Day& read : days) {
                    if (read.date == day.date)
                        return std::optional<HistoryData::Day>(std::move(read));
                }
                return std::optional<HistoryData::Day>();
            });
        } else {
            std::sort(days.begin(), days.end(),
                      [](const auto& a, const auto& b) { return a.date < b.date; });
            data = std::make_shared<HistoryData>(std::move(days), received.names, readingThreads());
        }
        promise->addResult(std::move(data));
        promise->finish();
    };
    QThreadPool::globalInstance()->start(std::move(task));
}

} // namespace kelvaro::service
