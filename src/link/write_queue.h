#pragma once
// The session's one queue of frames for the board. Every writer (the window's entry boxes
// and reset button, the service's clients, MQTT) hands its frame here; frames go out in
// the order they came, one per poll, and each is followed until a later complete block
// shows its value (confirmed) or its time-out passes (not confirmed). A frame whose
// time-out passed is never sent afterwards: it is taken back from the line, or, when the
// board was already told a frame comes and waits for it, it goes and is reported as
// sent late, never as a plain success.

#include "core/register_image.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <chrono>
#include <deque>
#include <optional>

namespace kelvaro {

class BoardLink;

using Frame = std::array<quint8, 4>;

enum class WriteState
{
    Sent,         // the frame went out at the board's poll
    Confirmed,    // a later block shows the value (for the reset frame: a later block came)
    NotConfirmed, // the time-out passed first; the frame was not sent, or was and no block
                  // showed its value
    SentLate      // the time-out passed while the frame was already on its way to the board
                  // (the board had been answered "W"); it went out after the time-out
};

struct QueuedWrite
{
    quint64 id = 0;
    Frame frame{};
    int word = -1; // the word a block must show `value` in; -1 for the reset frame
    qint32 value = 0;
    std::chrono::steady_clock::time_point deadline;
    bool late = false; // its time-out passed while the board waited for it
};

class WriteQueue : public QObject
{
    Q_OBJECT
public:
    // At most this many frames wait behind the one loaded for the board.
    static constexpr std::size_t Capacity = 64;
    static constexpr std::chrono::seconds DefaultTimeout{10};

    WriteQueue(BoardLink& link, const RegisterImage& image, QObject* parent = nullptr);

    // Queues a frame that writes `value` into `word` (or, with word -1, the reset frame).
    // Its id, or no id when the queue is full (nothing queued).
    std::optional<quint64> enqueue(const Frame& frame, int word, qint32 value,
                                   std::chrono::milliseconds timeout = DefaultTimeout);
    // Frames not yet sent, the one loaded for the next poll included.
    std::size_t waiting() const { return m_waiting.size() + (m_loaded ? 1 : 0); }
    // Frames sent and not yet confirmed or timed out.
    std::size_t unconfirmed() const { return m_sent.size(); }

Q_SIGNALS:
    void writeChanged(quint64 id, kelvaro::WriteState state);

private:
    void loadNext();
    void onFrameSent();
    void onBlock();
    void checkDeadlines();

    BoardLink& m_link;
    const RegisterImage& m_image;
    std::deque<QueuedWrite> m_waiting;
    std::optional<QueuedWrite> m_loaded;
    std::deque<QueuedWrite> m_sent;
    QTimer m_deadlineTimer;
    quint64 m_nextId = 1;
};

} // namespace kelvaro
