#pragma once
// The table of loggable register fields and the rule that locates a field in the
// register block from the width tags of the names before it.

#include "core/register_image.h"

#include <QString>
#include <array>
#include <optional>

namespace kelvaro {

inline constexpr int FieldNameCount = 26;
using FieldNameTable = std::array<QString, FieldNameCount>;

// Entries with a fixed role elsewhere.
inline constexpr int FieldNone = 0;
inline constexpr int FieldCounter = 1;  // "Counter_2sec (l08)"
inline constexpr int FieldAverage = 12; // "Average Temperature (i16)"

// Fills the table with the 26 names, "None" first. The texts are a data format: the
// settings file stores chosen fields by these names, and their tags fix the positions.
void Init_Field_Names(FieldNameTable& Field_Names);

enum class FieldPart
{
    LowByte,
    HighByte,
    Word
};

struct FieldPosition
{
    int word = 0;
    FieldPart part = FieldPart::Word;
    bool operator==(const FieldPosition&) const = default;
};

// Where the field named `name` sits, found by walking entries 1..25 and counting bytes
// by their "08"/"16" tags. No value for "None", an empty name or an unknown name
// (exact, case-sensitive comparison).
std::optional<FieldPosition> fieldPosition(const FieldNameTable& Field_Names, const QString& name);

// The field's value taken from a register word: a byte 0..255 or a word as held.
qint32 fieldValue(const FieldPosition& position, const std::array<qint32, RegisterCount>& words);

} // namespace kelvaro
