// The link state machine under arbitrary traffic from the board, with parameter writes and
// resets queued between received chunks, as the operator can do between any two bytes.
//
// Input: a series of steps. Each step starts with a control byte: bits 0-5 give the length
// of the chunk of received bytes that follows (cut short at the end of the input), bits 6-7
// what the operator does before it:
//   0 nothing;
//   1 WrParam of word (next byte % 20) with the 16-bit value in the two bytes after it;
//   2 the reset frame;
//   3 WrParam with any 16-bit address and any 32-bit value from the next six bytes (the
//     frame cannot carry most of these, so they must be refused without a trace).
//
// One link takes each chunk through receive(), a twin takes it byte by byte and is checked
// after every byte; both must end each chunk in the same state with the same output.

#include "fuzz_check.h"
#include "link/link_protocol.h"
#include "support/recording_handler.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

using kelvaro::fuzz::require;
using namespace kelvaro;

namespace {

using Frame = std::array<quint8, 4>;

using testing::RecordingHandler;

struct Link
{
    RegisterImage image;
    LinkFlags flags;
    RecordingHandler handler;
    LinkProtocol protocol{flags, image, handler};
};

enum class State
{
    Idle,
    WriteAnnounced,
    WaitingForBlock,
    Receiving,
};

// The four states the flags may be in between two bytes; anything else is a fault.
std::optional<State> stateOf(const LinkFlags& f)
{
    if (!f.Read_Active && f.Rx_Count == 0)
        return State::Idle;
    if (!f.Read_Active && f.Rx_Count == 1 && f.Write_Pending)
        return State::WriteAnnounced;
    if (f.Read_Active && f.Rx_Count == 0)
        return State::WaitingForBlock;
    if (f.Read_Active && f.Rx_Count >= 1 && f.Rx_Count <= BlockSize)
        return State::Receiving;
    return std::nullopt;
}

bool sameLink(const Link& a, const Link& b)
{
    return a.flags.Rx_Count == b.flags.Rx_Count && a.flags.Read_Active == b.flags.Read_Active &&
           a.flags.Write_Pending == b.flags.Write_Pending && a.flags.Tx_Frame == b.flags.Tx_Frame &&
           a.flags.Inputs_Loaded == b.flags.Inputs_Loaded && a.image.Rx_Bytes == b.image.Rx_Bytes &&
           a.image.Reg_Words == b.image.Reg_Words && a.handler.sent == b.handler.sent &&
           a.handler.blocksReceived == b.handler.blocksReceived &&
           a.handler.updateInputsCalls == b.handler.updateInputsCalls &&
           a.handler.status == b.handler.status;
}

// One received byte on `link`, checked against the exchange's rules. `queued` is the frame
// the operator queued last, if it has not been sent yet.
void receiveChecked(Link& link, quint8 c, std::optional<Frame>& queued)
{
    const LinkFlags before = link.flags;
    const int updatesBefore = link.handler.blocksReceived;
    const int inputsBefore = link.handler.updateInputsCalls;
    link.handler.writes.clear();

    link.protocol.receiveByte(c);

    const LinkFlags& after = link.flags;
    const QList<QByteArray>& writes = link.handler.writes;
    const std::optional<State> state = stateOf(after);
    require(state.has_value(), "the flags are in one of the four link states");
    require(after.Rx_Count <= BlockSize, "Rx_Count stays within 0..40");

    const int updates = link.handler.blocksReceived - updatesBefore;
    const int inputs = link.handler.updateInputsCalls - inputsBefore;

    if (c == PromptChar && before.Write_Pending && before.Rx_Count == 1) {
        // The send prompt: the queued frame goes out, once, and is forgotten.
        require(writes.size() == 1 && writes.front().size() == 4, "a prompt sends one frame");
        const QByteArray& frame = writes.front();
        for (int i = 0; i < 4; ++i)
            require(quint8(frame[i]) == (*queued)[static_cast<std::size_t>(i)],
                    "the frame sent is the frame queued last");
        queued.reset();
        require(!after.Write_Pending && after.Rx_Count == 0, "a sent frame ends the write");
        require(after.Read_Active == before.Read_Active, "a prompt leaves a read as it was");
    } else if (c == PollChar && !before.Read_Active) {
        // A poll outside a read: exactly one answer.
        require(writes.size() == 1 && writes.front().size() == 1, "a poll gets one answer");
        if (before.Write_Pending) {
            require(writes.front() == "W", "a poll with a frame waiting is answered W");
            require(state == State::WriteAnnounced, "after W the prompt is awaited");
            require(!after.Inputs_Loaded, "W clears Inputs_Loaded");
            require(link.handler.status == StatusWrite, "W shows the write status");
        } else {
            require(writes.front() == "R", "a poll with nothing waiting is answered R");
            require(state == State::WaitingForBlock, "after R the block start is awaited");
            require(link.handler.status == StatusRead, "R shows the read status");
        }
    } else {
        require(writes.isEmpty(), "only polls are answered and only prompts get a frame");
    }
    require(after.Write_Pending == queued.has_value(),
            "a queued frame waits until a prompt sends it, and no longer");

    const bool lastDataByte = before.Read_Active && before.Rx_Count == BlockSize;
    require(updates == (lastDataByte ? 1 : 0), "Update_Param runs once per complete block");
    if (lastDataByte) {
        require(link.image.Rx_Bytes[BlockSize - 1] == c, "the 40th data byte is stored");
        require(state == State::Idle, "a complete block ends the read");
        require(inputs == (before.Inputs_Loaded ? 0 : 1),
                "Update_Inputs runs for the first block after a write announcement");
        require(after.Inputs_Loaded, "a complete block loads the inputs");
    } else {
        require(inputs == 0, "Update_Inputs runs only with a complete block");
    }
    if (before.Read_Active && before.Rx_Count >= 1 && before.Rx_Count < BlockSize &&
        writes.isEmpty()) {
        require(link.image.Rx_Bytes[before.Rx_Count - 1] == c, "a data byte is stored in place");
        require(after.Read_Active && after.Rx_Count == before.Rx_Count + 1,
                "a data byte moves the receive position on");
    }
}

class Input
{
public:
    Input(const uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool atEnd() const { return m_pos >= m_size; }
    quint8 byte() { return atEnd() ? 0 : m_data[m_pos++]; }
    QByteArray take(std::size_t n)
    {
        n = std::min(n, m_size - m_pos);
        QByteArray bytes(reinterpret_cast<const char*>(m_data + m_pos), qsizetype(n));
        m_pos += n;
        return bytes;
    }

private:
    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// The frame the documented layout gives for a write of `value` into word `address`.
Frame expectedFrame(qint16 address, qint32 value)
{
    return {quint8(address * 2), quint8(address >= 10 ? address - 10 : 0), quint8(value % 256),
            quint8(value / 256)};
}

void writeParameter(Link& chunked, Link& stepped, qint16 address, qint32 value,
                    std::optional<Frame>& queued)
{
    const bool valid = address >= 0 && address < RegisterCount && value >= 0 && value <= 0xFFFF;
    const LinkFlags before = stepped.flags;
    const bool a = chunked.protocol.WrParam(address, value);
    const bool b = stepped.protocol.WrParam(address, value);
    require(a == valid && b == valid, "WrParam takes exactly what the frame can carry");
    if (valid) {
        queued = expectedFrame(address, value);
        require(stepped.flags.Write_Pending && stepped.flags.Tx_Frame == *queued,
                "WrParam queues the frame of its word and value");
    } else {
        require(stepped.flags.Write_Pending == before.Write_Pending &&
                    stepped.flags.Tx_Frame == before.Tx_Frame,
                "a refused WrParam leaves the queue as it was");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Link chunked;
    Link stepped;
    std::optional<Frame> queued;
    Input input(data, size);

    while (!input.atEnd()) {
        const quint8 control = input.byte();
        switch (control >> 6) {
        case 1: {
            const auto address = qint16(input.byte() % RegisterCount);
            const quint8 low = input.byte();
            const qint32 value = input.byte() * 256 + low;
            writeParameter(chunked, stepped, address, value, queued);
            break;
        }
        case 2:
            chunked.protocol.queueReset();
            stepped.protocol.queueReset();
            queued = ResetFrame;
            require(stepped.flags.Write_Pending && stepped.flags.Tx_Frame == ResetFrame,
                    "the reset frame is queued as it stands");
            break;
        case 3: {
            const auto address = qint16(input.byte() << 8 | input.byte());
            quint32 raw = 0;
            for (int i = 0; i < 4; ++i)
                raw = raw << 8 | input.byte();
            writeParameter(chunked, stepped, address, qint32(raw), queued);
            break;
        }
        default:
            break;
        }

        const QByteArray chunk = input.take(control & 0x3F);
        chunked.protocol.receive(chunk);
        for (const char c : chunk)
            receiveChecked(stepped, quint8(c), queued);
        require(sameLink(chunked, stepped), "a chunk acts as its bytes one at a time");
    }
    return 0;
}
