#pragma once
// The board's side of the exchange. The board polls with "Q"; the program's "R" is
// answered with "B" and the 40-byte block, its "W" with the send prompt "S", after which
// four frame bytes are taken and applied to the model. Plain code fed one byte at a time:
// the simulator's timers decide when to poll and when an answer is overdue.

#include "thermostat_model.h"

#include <QByteArrayView>
#include <QString>
#include <array>

namespace kelvaro::boardsim {

using Frame = std::array<quint8, 4>;

enum class FrameKind
{
    Parameter, // word 10..19 with its value
    Reset,     // restart the board
    Ignored    // anything else: a non-parameter word or an inconsistent index byte
};

struct DecodedFrame
{
    FrameKind kind = FrameKind::Ignored;
    int word = 0;
    quint16 value = 0;
};

// Reads a frame: byte 0 = word * 2, byte 1 = word - 10, then the value low byte first.
// The reset frame 0x08 0x08 0x01 0x00 is recognised before anything else.
DecodedFrame decodeFrame(const Frame& frame);

// Data bytes of a block cut short by the "stop-block" fault.
inline constexpr int CutBlockBytes = 20;
inline constexpr char GarbageByte = 0x7E;

struct ExchangeStats
{
    quint64 polls = 0;      // "Q" sent
    quint64 answers = 0;    // "R" or "W" received in answer to a poll
    quint64 blocks = 0;     // whole blocks sent (cut ones not counted)
    quint64 writes = 0;     // parameter frames received (applied or not)
    quint64 resets = 0;     // reset frames received
    quint64 lost = 0;       // exchanges abandoned because an answer or frame byte was overdue
    quint64 unexpected = 0; // bytes received when none was expected, or not "R"/"W" after a poll

    // "stats polls=.. answers=.. blocks=.. writes=.. resets=.. lost=.. unexpected=.."
    QString line() const;
};

// Where the board's bytes go.
class BoardOutput
{
public:
    virtual ~BoardOutput() = default;
    virtual void sendToProgram(QByteArrayView bytes) = 0;
};

class BoardExchange
{
public:
    enum class State
    {
        Idle,           // nothing expected from the program
        AwaitingAnswer, // "Q" sent
        AwaitingFrame   // "S" sent, frame bytes being collected
    };

    BoardExchange(ThermostatModel& model, BoardOutput& output) : m_model(model), m_output(output) {}

    // Sends "Q" when idle; returns false (and sends nothing) otherwise.
    bool poll();
    // One byte from the program.
    void receiveByte(quint8 c);
    // The answer or the rest of the frame did not come in time: the exchange counts as
    // lost and the board is idle again. Does nothing when idle.
    void answerOverdue();
    // The line went away: back to idle, counting nothing.
    void abandon();
    // One stray byte on the line, as noise would make.
    void sendGarbage();

    // One-shot faults for tests: the next block stops after CutBlockBytes data bytes; the
    // next frame (parameter or reset) is received but not applied.
    void cutNextBlock() { m_cutNextBlock = true; }
    void ignoreNextFrame() { m_ignoreNextFrame = true; }

    State state() const { return m_state; }
    const ExchangeStats& stats() const { return m_stats; }

private:
    void sendBlock();
    void takeFrame();

    ThermostatModel& m_model;
    BoardOutput& m_output;
    State m_state = State::Idle;
    Frame m_frame{};
    int m_frameCount = 0;
    bool m_cutNextBlock = false;
    bool m_ignoreNextFrame = false;
    ExchangeStats m_stats;
};

} // namespace kelvaro::boardsim
