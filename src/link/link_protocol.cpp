#include "link/link_protocol.h"

namespace kelvaro {

void LinkProtocol::resetFlags()
{
    m_flags.Rx_Count = 0;
    m_flags.Write_Pending = false;
    m_flags.Read_Active = false;
}

void LinkProtocol::receiveByte(quint8 c)
{
    // The tests run in this order and only the first that applies acts.
    if (c == PromptChar && m_flags.Write_Pending && m_flags.Rx_Count == 1) {
        // Send prompt after "W" (or as the first data byte of a block while a frame
        // waits, in which case the block goes on waiting for its "B").
        const auto& frame = m_flags.Tx_Frame;
        const char bytes[4] = {char(frame[0]), char(frame[1]), char(frame[2]), char(frame[3])};
        m_handler.writeToBoard(QByteArrayView(bytes, 4));
        m_flags.Rx_Count = 0;
        m_flags.Write_Pending = false;
        m_handler.frameSent();
        return;
    }
    if (c == PollChar && !m_flags.Read_Active) {
        if (m_flags.Write_Pending) {
            m_handler.writeToBoard(QByteArrayView("W", 1));
            m_handler.setLinkStatus(StatusWrite);
            m_flags.Inputs_Loaded = false;
            m_flags.Rx_Count = 1;
        } else {
            m_handler.writeToBoard(QByteArrayView("R", 1));
            m_handler.setLinkStatus(StatusRead);
            m_flags.Rx_Count = 0;
            m_flags.Read_Active = true;
        }
        return;
    }
    if (!m_flags.Read_Active)
        return; // nothing expected: dropped
    if (m_flags.Rx_Count == 0 && c != BlockChar) {
        m_flags.Read_Active = false; // the read is dropped; the next poll is answered again
        return;
    }
    if (m_flags.Rx_Count != 0)
        m_image.Rx_Bytes[m_flags.Rx_Count - 1] = c;
    ++m_flags.Rx_Count;
    if (m_flags.Rx_Count > BlockSize) {
        m_image.Update_Param();
        m_handler.imageRebuilt();
        if (!m_flags.Inputs_Loaded) {
            m_handler.Update_Inputs();
            m_flags.Inputs_Loaded = true;
        }
        m_flags.Rx_Count = 0;
        m_flags.Read_Active = false;
    }
}

void LinkProtocol::receiveByte(quint8 c, LinkTime now)
{
    if (m_flags.Read_Active && m_stallTimeout > std::chrono::seconds(0) &&
        now - m_lastByteTime > m_stallTimeout)
        dropStalledBlock();
    m_lastByteTime = now;
    receiveByte(c);
}

void LinkProtocol::dropStalledBlock()
{
    if (!m_flags.Read_Active)
        return;
    m_flags.Read_Active = false;
    m_flags.Rx_Count = 0;
}

void LinkProtocol::resumeAfterReconnect()
{
    m_flags.Read_Active = false;
    m_flags.Rx_Count = 0; // also forgets a "W" answer the board may never have seen
    m_flags.Inputs_Loaded = false;
}

std::array<quint8, 4> parameterFrame(qint16 address, qint32 value)
{
    const qint32 low = value & 0xFF;
    return {quint8(address * 2),
            quint8(address >= FirstParameterWord ? address - FirstParameterWord : 0), quint8(low),
            quint8((value - low) / 256)};
}

bool LinkProtocol::WrParam(qint16 address, qint32 value)
{
    if (address < 0 || address >= RegisterCount || value < 0 || value > 0xFFFF)
        return false;
    queueFrame(parameterFrame(address, value));
    return true;
}

void LinkProtocol::queueReset()
{
    queueFrame(ResetFrame);
}

bool LinkProtocol::withdrawFrame()
{
    if (!m_flags.Write_Pending)
        return true;
    if (!m_flags.Read_Active && m_flags.Rx_Count == 1)
        return false; // "W" went out: the board waits for the frame
    m_flags.Write_Pending = false;
    return true;
}

void LinkProtocol::queueFrame(const std::array<quint8, 4>& frame)
{
    m_flags.Tx_Frame = frame;
    m_flags.Write_Pending = true;
}

} // namespace kelvaro
