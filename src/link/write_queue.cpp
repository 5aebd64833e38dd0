#include "link/write_queue.h"

#include "link/board_link.h"

namespace kelvaro {

namespace {
constexpr std::chrono::milliseconds DeadlineCheck{200};
} // namespace

WriteQueue::WriteQueue(BoardLink& link, const RegisterImage& image, QObject* parent)
    : QObject(parent), m_link(link), m_image(image)
{
    connect(&m_link, &BoardLink::frameSentToBoard, this, &WriteQueue::onFrameSent);
    connect(&m_link, &BoardLink::blockReceived, this, &WriteQueue::onBlock);
    m_deadlineTimer.setInterval(DeadlineCheck);
    connect(&m_deadlineTimer, &QTimer::timeout, this, &WriteQueue::checkDeadlines);
}

std::optional<quint64> WriteQueue::enqueue(const Frame& frame, int word, qint32 value,
                                           std::chrono::milliseconds timeout)
{
    if (m_waiting.size() >= Capacity)
        return std::nullopt;
    const quint64 id = m_nextId++;
    m_waiting.push_back({id, frame, word, value, std::chrono::steady_clock::now() + timeout});
    loadNext();
    if (!m_deadlineTimer.isActive())
        m_deadlineTimer.start();
    return id;
}

void WriteQueue::loadNext()
{
    // A frame someone loaded straight into the link goes first; ours follow it.
    if (m_loaded || m_waiting.empty() || m_link.framePending())
        return;
    m_loaded = m_waiting.front();
    m_waiting.pop_front();
    m_link.queueFrame(m_loaded->frame);
}

void WriteQueue::onFrameSent()
{
    if (m_loaded) {
        const QueuedWrite sent = *m_loaded;
        m_loaded.reset();
        if (sent.late) {
            Q_EMIT writeChanged(sent.id, WriteState::SentLate);
        } else {
            m_sent.push_back(sent);
            Q_EMIT writeChanged(sent.id, WriteState::Sent);
        }
    }
    // The next frame waits for the next poll: one frame per poll.
    loadNext();
}

void WriteQueue::onBlock()
{
    for (auto it = m_sent.begin(); it != m_sent.end();) {
        const bool shown = it->word < 0 || (it->word < RegisterCount &&
                                            m_image.Reg_Words[std::size_t(it->word)] == it->value);
        if (!shown) {
            ++it;
            continue;
        }
        const quint64 id = it->id;
        it = m_sent.erase(it);
        Q_EMIT writeChanged(id, WriteState::Confirmed);
    }
    loadNext();
}

void WriteQueue::checkDeadlines()
{
    const auto now = std::chrono::steady_clock::now();
    const auto expire = [&](std::deque<QueuedWrite>& list) {
        for (auto it = list.begin(); it != list.end();) {
            if (it->deadline > now) {
                ++it;
                continue;
            }
            const quint64 id = it->id;
            it = list.erase(it);
            Q_EMIT writeChanged(id, WriteState::NotConfirmed);
        }
    };
    expire(m_sent);
    expire(m_waiting);
    // The loaded frame is taken back from the line, so it never goes out after its writer
    // was told it failed. Only when the board already waits for it does it stay, and its
    // writer hears that it was sent late when it goes.
    if (m_loaded && m_loaded->deadline <= now) {
        if (m_link.withdrawFrame()) {
            const quint64 id = m_loaded->id;
            m_loaded.reset();
            Q_EMIT writeChanged(id, WriteState::NotConfirmed);
            loadNext();
        } else {
            m_loaded->late = true;
        }
    }
    if (m_sent.empty() && m_waiting.empty() && !m_loaded)
        m_deadlineTimer.stop();
}

} // namespace kelvaro
