#pragma once
// The board's twenty 16-bit registers as the program last received them, and the
// 40-byte receive buffer they are built from (low byte of each word first).

#include <QtGlobal>
#include <array>

namespace kelvaro {

inline constexpr int RegisterCount = 20;
inline constexpr int BlockSize = 2 * RegisterCount;
inline constexpr int FirstParameterWord = 10;

struct RegisterImage
{
    // Each entry holds one register as an unsigned value 0..65535; a loaded parameter
    // file may put other values here, so the type is wider than the register.
    std::array<qint32, RegisterCount> Reg_Words{};
    // The bytes of the last complete or partial block, in arrival order.
    std::array<quint8, BlockSize> Rx_Bytes{};

    // Rebuilds every word from Rx_Bytes: word k = byte(2k+1) * 256 + byte(2k).
    void Update_Param();
};

// Bits 0..7 and 8..15 of a word. For words outside 0..65535 (only a hand-edited
// parameter file makes those) these are the bytes of its 16-bit pattern.
constexpr qint32 lowByte(qint32 word)
{
    return word & 0xFF;
}
constexpr qint32 highByte(qint32 word)
{
    return (word >> 8) & 0xFF;
}

} // namespace kelvaro
