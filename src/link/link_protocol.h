#pragma once
// The program's side of the board-driven exchange. The board polls with "Q"; the
// program answers "R" (the board then sends "B" and the 40-byte block) or, when a frame
// waits, "W" (the board then prompts with "S" and receives the 4-byte frame).
// Fed one received byte at a time; knows nothing of the serial port.

#include "core/link_flags.h"
#include "core/register_image.h"

#include <QByteArrayView>
#include <QString>

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

// What the exchange needs from its owner.
class LinkHandler
{
public:
    virtual ~LinkHandler() = default;
    // Bytes to send to the board, in order.
    virtual void writeToBoard(QByteArrayView bytes) = 0;
    // A whole block has arrived in Rx_Bytes: rebuild the register image.
    virtual void Update_Param() = 0;
    // First complete block since start-up or since a write announcement: refill the
    // parameter entry boxes from the image.
    virtual void Update_Inputs() = 0;
    // New text for the link panel of the status bar.
    virtual void setLinkStatus(const QString& text) = 0;
};

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

    // Queues the write of register `address` (0..19) with `value` (0..65535), replacing
    // any frame still waiting. Returns false and queues nothing for anything the frame
    // cannot carry.
    bool WrParam(qint16 address, qint32 value);
    // Queues the restart frame, replacing any frame still waiting.
    void queueReset();

    const LinkFlags& flags() const { return m_flags; }

private:
    void queueFrame(const std::array<quint8, 4>& frame);

    LinkFlags& m_flags;
    RegisterImage& m_image;
    LinkHandler& m_handler;
};

// The four bytes that write `value` into register `address`: its low-byte position,
// its parameter index, then the value low byte first. No check of the arguments.
std::array<quint8, 4> parameterFrame(qint16 address, qint32 value);

} // namespace kelvaro
