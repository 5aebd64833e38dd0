#pragma once
// The program's side of the board-driven exchange. The board polls with "Q"; the
// program answers "R" (the board then sends "B" and the 40-byte block) or, when a frame
// waits, "W" (the board then prompts with "S" and receives the 4-byte frame).
// Fed one received byte at a time; knows nothing of the serial port.

#include "core/link_flags.h"
#include "core/register_image.h"

#include <QByteArrayView>
#include <QString>
#include <chrono>

namespace kelvaro {

inline constexpr char PollChar = 'Q';
inline constexpr char ReadChar = 'R';
inline constexpr char WriteChar = 'W';
inline constexpr char PromptChar = 'S';
inline constexpr char BlockChar = 'B';

// Texts of the link panel of the status bar.
inline const QString StatusWait = QStringLiteral("RS232 Status: Wait");
inline const QString StatusRead = QStringLiteral("RS232 Status: Read");
inline const QString StatusWrite = QStringLiteral("RS232 Status: Write");

// What the exchange tells its owner. The exchange itself answers the board through
// writeToBoard and rebuilds the register image when a block is complete; the owner only
// hears about it.
class LinkHandler
{
public:
    virtual ~LinkHandler() = default;
    // Bytes to send to the board, in order.
    virtual void writeToBoard(QByteArrayView bytes) = 0;
    // A whole block has arrived and the register image has been rebuilt from it.
    virtual void imageRebuilt() {}
    // Right after imageRebuilt, for the first complete block since start-up or since a
    // write announcement: the parameter entry boxes are due to be refilled from the image.
    virtual void Update_Inputs() {}
    // New text for the link panel of the status bar.
    virtual void setLinkStatus(const QString& text) { Q_UNUSED(text); }
    // The queued frame went out after the board's send prompt; nothing waits any more.
    virtual void frameSent() {}
};

// When received bytes arrived: a monotonic clock in milliseconds, any fixed origin.
using LinkTime = std::chrono::milliseconds;
// The steady clock of this process as a LinkTime.
inline LinkTime linkClockNow()
{
    return std::chrono::duration_cast<LinkTime>(
        std::chrono::steady_clock::now().time_since_epoch());
}

// The frame that asks the board to restart: it would set word 4 to 1, but its second
// byte carries 8 where a write of word 4 carries 0. Sent as it stands.
inline constexpr std::array<quint8, 4> ResetFrame{0x08, 0x08, 0x01, 0x00};

class LinkProtocol
{
public:
    LinkProtocol(LinkFlags& flags, RegisterImage& image, LinkHandler& handler)
        : m_flags(flags), m_image(image), m_handler(handler)
    {
    }

    // Start-up values: no read, no write announced, nothing pending.
    void resetFlags();

    // One received byte; every value 0x00..0xFF is a possible data byte.
    void receiveByte(quint8 c);
    void receive(QByteArrayView bytes)
    {
        for (const char c : bytes)
            receiveByte(static_cast<quint8>(c));
    }

    // The longest silence allowed inside a block, from the poll answered with "R" to the
    // 40th data byte; 0 (or less) lets a block wait forever, so that the bytes that follow
    // a stall, polls included, are stored as its data.
    //
    // The check is made when the next byte arrives, not by a timer: a block whose previous
    // byte is older than the time-out is dropped before the new byte is taken, so a stalled
    // block followed by a poll "Q" is answered as a fresh poll. A block that stalls and is
    // never followed by anything stays open, which nobody can tell from a dropped one. The
    // bytes of one chunk arrive at one time, so only the chunk boundaries are checked, at
    // the cost of one comparison per byte.
    void setStallTimeout(std::chrono::seconds timeout) { m_stallTimeout = timeout; }
    std::chrono::seconds stallTimeout() const { return m_stallTimeout; }
    // Received bytes that arrived at `now`, checked against the stall time-out. Use either
    // these or the untimed forms above for one line, not both.
    void receiveByte(quint8 c, LinkTime now);
    void receive(QByteArrayView bytes, LinkTime now)
    {
        for (const char c : bytes)
            receiveByte(static_cast<quint8>(c), now);
    }
    // Drops a block in progress ("R" answered, Read_Active true): back to Idle, the
    // register image and Inputs_Loaded untouched, a queued frame kept. Nothing otherwise.
    void dropStalledBlock();

    // The line was lost and is back (device unplugged and plugged in again): an exchange
    // in progress is abandoned, since the board starts afresh; a queued frame stays queued
    // and goes out at the next poll, as the operator asked for it; Inputs_Loaded is cleared
    // so that the first complete block refills the entry boxes from the board, which may
    // have been restarted or replaced meanwhile. (resetFlags would also forget the queued
    // frame, leaving the operator's value in its box but never on the board.)
    void resumeAfterReconnect();

    // Queues the write of register `address` (0..19) with `value` (0..65535), replacing
    // any frame still waiting. Returns false and queues nothing for anything the frame
    // cannot carry.
    bool WrParam(qint16 address, qint32 value);
    // Queues the restart frame, replacing any frame still waiting.
    void queueReset();
    // Queues `frame` as it stands, replacing any frame still waiting.
    void queueFrame(const std::array<quint8, 4>& frame);
    // Takes back the queued frame, so that the next poll is answered with a read. Refused
    // (false, the frame stays) once "W" has answered a poll: the board then waits for the
    // frame's four bytes, and whatever came next would be taken as them. True when no
    // frame was queued.
    bool withdrawFrame();

    const LinkFlags& flags() const { return m_flags; }
    // How many bytes of a block are still on their way: after "R" the "B" and the 40 data
    // bytes, fewer as they arrive; 0 when no block is under way.
    int bytesAwaited() const
    {
        return m_flags.Read_Active ? BlockSize + 1 - int(m_flags.Rx_Count) : 0;
    }

private:
    LinkFlags& m_flags;
    RegisterImage& m_image;
    LinkHandler& m_handler;
    std::chrono::seconds m_stallTimeout{0};
    LinkTime m_lastByteTime{0};
};

// The four bytes that write `value` into register `address`: its low-byte position,
// its parameter index, then the value low byte first. No check of the arguments.
std::array<quint8, 4> parameterFrame(qint16 address, qint32 value);

} // namespace kelvaro
