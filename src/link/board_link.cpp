#include "link/board_link.h"

namespace kelvaro {

BoardLink::BoardLink(LinkFlags& flags, RegisterImage& image, QObject* parent)
    : QObject(parent), m_protocol(flags, image, *this)
{
    // Each chunk carries its arrival time, for the stall time-out of a block.
    m_port.setReceiver([this](QByteArrayView bytes) { m_protocol.receive(bytes, linkClockNow()); });
    // The rest of a block is read in one go rather than a wake-up per byte.
    m_port.setAwaitedBytes([this] { return m_protocol.bytesAwaited(); });
    connect(&m_port, &SerialPort::problemChanged, this, &BoardLink::problemChanged);
    connect(&m_port, &SerialPort::outputBlocked, this, &BoardLink::outputBlocked);
    connect(&m_port, &SerialPort::outputResumed, this, &BoardLink::outputResumed);
    // A device that came (back): whatever was under way on the old line is void.
    connect(&m_port, &SerialPort::reopened, this, [this] {
        m_protocol.resumeAfterReconnect();
        Q_EMIT opened();
    });
}

BoardLink::~BoardLink() = default;

bool BoardLink::open(const PortSettings& settings, const QString& folder)
{
    const bool isOpenNow = m_port.openOrWait(settings, folder);
    if (isOpenNow)
        Q_EMIT opened();
    return isOpenNow;
}

bool BoardLink::reopen(const PortSettings& settings, const QString& folder)
{
    m_port.close();
    // The board on the new line knows nothing of an exchange begun on the old one; a
    // frame the operator queued stays queued.
    m_protocol.resumeAfterReconnect();
    setLinkStatus(StatusWait);
    return open(settings, folder);
}

void BoardLink::close()
{
    m_port.close();
}

void BoardLink::setReopenInterval(std::chrono::milliseconds interval)
{
    m_port.setReopenInterval(interval);
}

void BoardLink::setSilenceLimit(std::chrono::milliseconds limit)
{
    m_port.setSilenceLimit(limit);
}

void BoardLink::writeToBoard(QByteArrayView bytes)
{
    m_port.write(bytes);
}

void BoardLink::setLinkStatus(const QString& text)
{
    if (text == m_status)
        return;
    m_status = text;
    Q_EMIT statusChanged(m_status);
}

} // namespace kelvaro
