#pragma once
// Keeps the recorder's metrics file current: rewritten at every change of the line's
// state (so an unplugged or silent board shows at once), after complete blocks at most
// once per interval (a second by default: node_exporter reads it every 15 s or so, and
// the board may send twenty blocks a second all day onto an SD card), and once more when
// the recorder stops. A failed write is told once until a write succeeds again, which is
// told too.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>

namespace kelvaro {

class BoardSession;

class MetricsPublisher : public QObject
{
    Q_OBJECT
public:
    using Writer = std::function<void(const QString& line)>;
    MetricsPublisher(BoardSession& session, QString path, Writer tell, QObject* parent = nullptr);

    // Writes the file from the session's present state, now.
    void publish();
    // After a block: writes now when the last write is an interval old, otherwise once
    // when the interval is over.
    void publishSoon();
    void setInterval(std::chrono::milliseconds interval) { m_interval = interval; }

private:
    BoardSession& m_session;
    QString m_path;
    Writer m_tell;
    bool m_failing = false;
    std::chrono::milliseconds m_interval{1000};
    QElapsedTimer m_sinceWrite;
    QTimer m_pending;
};

} // namespace kelvaro
