#include "board_exchange.h"

#include "link/link_protocol.h"

namespace kelvaro::boardsim {

DecodedFrame decodeFrame(const Frame& frame)
{
    if (frame == ResetFrame)
        return {FrameKind::Reset, 0, 0};
    const int word = frame[0] / 2;
    const bool parameter = frame[0] % 2 == 0 && word >= FirstParameterWord &&
                           word < RegisterCount && frame[1] == word - FirstParameterWord;
    if (!parameter)
        return {};
    return {FrameKind::Parameter, word, quint16(frame[2] | frame[3] << 8)};
}

QString ExchangeStats::line() const
{
    return QStringLiteral("stats polls=%1 answers=%2 blocks=%3 writes=%4 resets=%5 lost=%6 "
                          "unexpected=%7")
        .arg(polls)
        .arg(answers)
        .arg(blocks)
        .arg(writes)
        .arg(resets)
        .arg(lost)
        .arg(unexpected);
}

bool BoardExchange::poll()
{
    if (m_state != State::Idle)
        return false;
    m_state = State::AwaitingAnswer;
    ++m_stats.polls;
    const char q = PollChar;
    m_output.sendToProgram(QByteArrayView(&q, 1));
    return true;
}

void BoardExchange::receiveByte(quint8 c)
{
    switch (m_state) {
    case State::Idle:
        ++m_stats.unexpected;
        return;
    case State::AwaitingAnswer:
        if (c == quint8(ReadChar)) {
            ++m_stats.answers;
            m_state = State::Idle;
            sendBlock();
        } else if (c == quint8(WriteChar)) {
            ++m_stats.answers;
            m_state = State::AwaitingFrame;
            m_frameCount = 0;
            const char s = PromptChar;
            m_output.sendToProgram(QByteArrayView(&s, 1));
        } else {
            ++m_stats.unexpected; // still waiting: the timer decides when to give up
        }
        return;
    case State::AwaitingFrame:
        m_frame[std::size_t(m_frameCount++)] = c;
        if (m_frameCount == int(m_frame.size())) {
            m_state = State::Idle;
            takeFrame();
        }
        return;
    }
}

void BoardExchange::answerOverdue()
{
    if (m_state == State::Idle)
        return;
    ++m_stats.lost;
    m_state = State::Idle;
}

void BoardExchange::abandon()
{
    m_state = State::Idle;
}

void BoardExchange::sendGarbage()
{
    const char g = GarbageByte;
    m_output.sendToProgram(QByteArrayView(&g, 1));
}

void BoardExchange::sendBlock()
{
    QByteArray bytes = BlockChar + m_model.block();
    if (m_cutNextBlock) {
        m_cutNextBlock = false;
        bytes.truncate(1 + CutBlockBytes);
    } else {
        ++m_stats.blocks;
    }
    m_output.sendToProgram(bytes);
}

void BoardExchange::takeFrame()
{
    const DecodedFrame decoded = decodeFrame(m_frame);
    if (decoded.kind == FrameKind::Reset)
        ++m_stats.resets;
    else
        ++m_stats.writes;
    if (m_ignoreNextFrame) {
        m_ignoreNextFrame = false;
        return;
    }
    if (decoded.kind == FrameKind::Reset)
        m_model.restart();
    else if (decoded.kind == FrameKind::Parameter)
        m_model.applyParameter(decoded.word, decoded.value);
}

} // namespace kelvaro::boardsim
