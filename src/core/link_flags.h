#pragma once
// The state of the board link between two received bytes.

#include <QtGlobal>
#include <array>

namespace kelvaro {

struct LinkFlags
{
    // During a read: 0 = waiting for "B", n = n - 1 data bytes stored. Outside a read:
    // 1 = "W" was sent and the send prompt is awaited, 0 otherwise.
    quint8 Rx_Count = 0;
    bool Read_Active = false;
    bool Write_Pending = false;
    std::array<quint8, 4> Tx_Frame{};
    // The entry boxes hold board data received since the last write announcement.
    bool Inputs_Loaded = false;
};

} // namespace kelvaro
