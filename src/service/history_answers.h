#pragma once
// The recorder's answers to "days", "history", "detail" and "report": the board folder's
// daily log files read on worker threads, the answer's messages sent as the client takes
// them (never more than a few hundred KiB waiting in the socket), closed by an "end".
// The event loop only lists, queues and writes; a client that goes away stops the work.

#include "history/field_meaning.h"
#include "history/log_files.h"
#include "service/service_protocol.h"

#include <QFutureWatcher>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <atomic>
#include <deque>
#include <memory>
#include <vector>

class QLocalSocket;

namespace kelvaro {
class BoardSession;
}

namespace kelvaro::service {

class HistoryAnswer : public QObject
{
    Q_OBJECT
public:
    // What the answers read: the board folder, the log files' name pattern, the logged
    // fields and the units of the recorder's settings.
    struct Source
    {
        QString folder;
        QString pattern;
        QStringList loggedNames;
        ValueUnits units;
    };
    static Source sourceOf(const BoardSession& session);

    // Sending pauses while more than this waits in the socket.
    static constexpr qint64 MaxWaiting = 256 * 1024;
    // Days summarised by one worker task.
    static constexpr int DaysPerTask = 32;

    // Why `request` is refused before any file is read (a "detail" longer than the lines
    // the chart holds), or no value.
    static std::optional<QString> refusal(const Request& request);

    HistoryAnswer(QLocalSocket& socket, const Request& request, Source source,
                  QObject* parent = nullptr);
    // Stops the work: a task under way finishes on its own, its result unread.
    ~HistoryAnswer() override;

    void start();
    const QJsonValue& requestId() const { return m_id; }

Q_SIGNALS:
    // The answer's last message (or its refusal) is handed to the socket.
    void finished();

public:
    // What a worker task hands back: the lines to send and the files it could not read.
    struct Piece
    {
        std::vector<LogDayFile> files; // the listing
        std::vector<QByteArray> lines;
        QStringList errors;
        int read = 0;
    };

private:
    void run(std::function<Piece()> task);
    void onPiece();
    void next();
    void pump();
    void queue(const QJsonObject& message);
    void finish(const QJsonObject& last);

    QLocalSocket& m_socket;
    Request m_request;
    QJsonValue m_id;
    Source m_source;
    std::shared_ptr<std::atomic<bool>> m_stop = std::make_shared<std::atomic<bool>>(false);
    QFutureWatcher<Piece> m_task;
    std::vector<LogDayFile> m_files;
    bool m_working = false; // a task runs or its result is not taken yet
    bool m_listed = false;
    size_t m_nextFile = 0;
    bool m_lines = false; // files sent whole, for the client to read the lines
    std::deque<QByteArray> m_waiting;
    QStringList m_errors;
    int m_read = 0;
    bool m_done = false;     // the last message is queued
    bool m_finished = false; // and handed to the socket
};

} // namespace kelvaro::service
