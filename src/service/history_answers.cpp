#include "service/history_answers.h"

#include "history/daily_report.h"
#include "history/field_meaning.h"
#include "history/history_command.h"
#include "history/history_data.h"
#include "link/board_session.h"
#include "service/history_messages.h"
#include "values/parameter_values.h"

#include <QJsonArray>
#include <QLocalSocket>
#include <QPromise>
#include <QThreadPool>
#include <iterator>
#include <thread>

namespace kelvaro::service {

namespace {

QString requestName(RequestType type)
{
    switch (type) {
    case RequestType::Days:
        return QStringLiteral("days");
    case RequestType::History:
        return QStringLiteral("history");
    case RequestType::Detail:
        return QStringLiteral("detail");
    default:
        return QStringLiteral("report");
    }
}

QByteArray line(const QJsonObject& message, const QJsonValue& id)
{
    QJsonObject withId = message;
    if (!id.isNull() && !id.isUndefined())
        withId.insert(QStringLiteral("id"), id);
    return encodeMessage(withId);
}

} // namespace

HistoryAnswer::Source HistoryAnswer::sourceOf(const BoardSession& session)
{
    const Settings_Record& settings = session.state().settings;
    return {session.folder(), settings.Log_NameFormat.toText(),
            loggedFieldNames(settings, session.state().Field_Names),
            ValueUnits{settings.Use_Fahrenheit, calibrationValue(settings.Timer_CalValue)}};
}

std::optional<QString> HistoryAnswer::refusal(const Request& request)
{
    if (request.type == RequestType::Detail && request.from && request.to &&
        request.from->daysTo(*request.to) >= HistoryData::DetailDays)
        return QStringLiteral("\"detail\" covers at most %1 days").arg(HistoryData::DetailDays);
    return std::nullopt;
}

HistoryAnswer::HistoryAnswer(QLocalSocket& socket, const Request& request, Source source,
                             QObject* parent)
    : QObject(parent), m_socket(socket), m_request(request), m_id(request.id),
      m_source(std::move(source))
{
    connect(&m_task, &QFutureWatcher<Piece>::finished, this, &HistoryAnswer::onPiece);
    connect(&m_socket, &QLocalSocket::bytesWritten, this, &HistoryAnswer::pump);
}

HistoryAnswer::~HistoryAnswer()
{
    m_stop->store(true);
    m_task.disconnect(this);
}

void HistoryAnswer::start()
{
    // Listing the folder is file-system work too: it runs on a worker like the reading.
    const QString folder = m_source.folder;
    const QString pattern = m_source.pattern;
    const std::optional<QDate> from = m_request.from;
    const std::optional<QDate> to = m_request.to;
    run([folder, pattern, from, to] {
        Piece piece;
        piece.files = findLogDays(folder, pattern, from, to);
        return piece;
    });
}

void HistoryAnswer::run(std::function<Piece()> task)
{
    // QtCore's thread pool: the recorder needs no more of Qt than it links already.
    m_working = true;
    auto promise = std::make_shared<QPromise<Piece>>();
    m_task.setFuture(promise->future());
    QThreadPool::globalInstance()->start([promise, task = std::move(task)] {
        promise->start();
        promise->addResult(task());
        promise->finish();
    });
}

void HistoryAnswer::onPiece()
{
    m_working = false;
    Piece piece = m_task.result();
    if (!m_listed) {
        m_listed = true;
        m_files = std::move(piece.files);
        // An open range is bounded by the files there are; that count is bounded too.
        if (m_files.size() > size_t(MaxHistoryDays)) {
            finish(errorMessage(QStringLiteral("the folder holds %1 days in that range, more "
                                               "than %2; ask for fewer")
                                    .arg(m_files.size())
                                    .arg(MaxHistoryDays),
                                m_id));
            return;
        }
        m_lines = m_request.type == RequestType::Detail ||
                  (m_request.type == RequestType::History &&
                   m_files.size() <= size_t(HistoryData::DetailDays));
        if (m_request.type == RequestType::History || m_request.type == RequestType::Detail) {
            queue({{QStringLiteral("type"), requestName(m_request.type)},
                   {QStringLiteral("names"), QJsonArray::fromStringList(m_source.loggedNames)},
                   {QStringLiteral("days"), qint64(m_files.size())},
                   {QStringLiteral("lines"), m_lines}});
        }
    } else {
        for (QByteArray& l : piece.lines)
            m_waiting.push_back(std::move(l));
        m_errors += piece.errors;
        m_read += piece.read;
    }
    pump();
}

void HistoryAnswer::queue(const QJsonObject& message)
{
    m_waiting.push_back(line(message, m_id));
}

void HistoryAnswer::pump()
{
    while (!m_waiting.empty() && m_socket.bytesToWrite() < MaxWaiting) {
        m_socket.write(m_waiting.front());
        m_waiting.pop_front();
    }
    // A task's result is taken by onPiece, which its watcher calls only after the task
    // has ended: until then the task counts as working.
    if (!m_waiting.empty() || m_working || !m_listed || m_finished)
        return;
    if (!m_done) {
        next();
    } else {
        m_finished = true;
        Q_EMIT finished();
    }
}

void HistoryAnswer::next()
{
    const std::shared_ptr<std::atomic<bool>> stop = m_stop;
    const QJsonValue id = m_id;
    if (m_request.type == RequestType::Days) {
        QJsonArray dates;
        for (const LogDayFile& file : m_files) {
            dates.append(file.date.toString(Qt::ISODate));
            if (dates.size() == DatesPerMessage) {
                queue({{QStringLiteral("type"), QStringLiteral("dates")},
                       {QStringLiteral("dates"), dates}});
                dates = {};
            }
        }
        if (!dates.isEmpty())
            queue({{QStringLiteral("type"), QStringLiteral("dates")},
                   {QStringLiteral("dates"), dates}});
        m_read = int(m_files.size());
        m_nextFile = m_files.size();
    }
    if (m_nextFile >= m_files.size()) {
        std::vector<QJsonObject> groups;
        const QJsonArray last = errorGroups(m_errors, groups);
        for (const QJsonObject& group : groups)
            queue(group);
        finish({{QStringLiteral("type"), QStringLiteral("end")},
                {QStringLiteral("request"), requestName(m_request.type)},
                {QStringLiteral("days"), qint64(m_files.size())},
                {QStringLiteral("read"), m_read},
                {QStringLiteral("errors"), last}});
        return;
    }
    if (m_request.type == RequestType::Report) {
        // The report is a few hundred bytes a day: summarised in one task, as
        // `kelvaro --report` does.
        const std::vector<LogDayFile> files = m_files;
        const QStringList names = m_source.loggedNames;
        const ValueUnits units = m_source.units;
        m_nextFile = m_files.size();
        run([files, names, units, id] {
            Piece piece;
            const std::vector<DaySummary> days =
                summariseLogDays(files, columnKinds(names), readingThreads());
            for (size_t i = 0; i < days.size(); ++i) {
                if (days[i].read)
                    ++piece.read;
                else
                    piece.errors.append(files[i].path + QStringLiteral(": ") + days[i].error);
            }
            for (const QJsonObject& m :
                 chunkMessages(QStringLiteral("report"), reportCsv(days, names, units)))
                piece.lines.push_back(line(m, id));
            return piece;
        });
        return;
    }
    if (m_lines) {
        // One file a task: its bytes for the client to read the lines as the chart does.
        const LogDayFile file = m_files[m_nextFile++];
        run([file, id, stop] {
            Piece piece;
            if (stop->load())
                return piece;
            LogFileBytes bytes;
            QString error;
            if (!bytes.open(file.path, logDayMayChange(file.date), &error)) {
                piece.errors.append(file.path + QStringLiteral(": ") +
                                    (error.isEmpty() ? QStringLiteral("cannot be read") : error));
                return piece;
            }
            piece.read = 1;
            const std::string_view view = bytes.bytes();
            for (const QJsonObject& m :
                 fileMessages(file.date, QByteArrayView(view.data(), qsizetype(view.size()))))
                piece.lines.push_back(line(m, id));
            return piece;
        });
        return;
    }
    const size_t end = std::min(m_files.size(), m_nextFile + size_t(DaysPerTask));
    const std::vector<LogDayFile> batch(m_files.begin() + std::ptrdiff_t(m_nextFile),
                                        m_files.begin() + std::ptrdiff_t(end));
    m_nextFile = end;
    const QStringList names = m_source.loggedNames;
    run([batch, names, id, stop] {
        Piece piece;
        if (stop->load())
            return piece;
        const int threads = readingThreads();
        const auto data = HistoryData::load(batch, names, threads, &piece.errors);
        // The days are packed on as many threads as they were read on: packing (zlib)
        // costs about as much as reading.
        const std::vector<HistoryData::Day>& days = data->days();
        std::vector<std::vector<QByteArray>> packed(days.size());
        const auto pack = [&](size_t from, size_t step) {
            for (size_t k = from; k < days.size(); k += step) {
                packed[k].push_back(line(dayMessage(days[k]), id));
                for (const QJsonObject& m : bucketMessages(days[k]))
                    packed[k].push_back(line(m, id));
            }
        };
        std::vector<std::thread> helpers;
        for (int t = 1; t < threads; ++t)
            helpers.emplace_back(pack, size_t(t), size_t(threads));
        pack(0, size_t(threads));
        for (std::thread& helper : helpers)
            helper.join();
        piece.read = int(days.size());
        for (std::vector<QByteArray>& lines : packed)
            std::move(lines.begin(), lines.end(), std::back_inserter(piece.lines));
        return piece;
    });
}

void HistoryAnswer::finish(const QJsonObject& last)
{
    m_done = true;
    queue(last);
    pump();
}

} // namespace kelvaro::service
