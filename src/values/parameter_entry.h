#pragma once
// What Enter in a parameter entry box writes: the register word the box stands for and
// its new value, or why the typed text was refused.

#include "core/outcome.h"
#include "values/display_texts.h"

#include <QString>

namespace kelvaro {

enum class EntryKind
{
    Temperature,
    Hysteresis,
    Duration,
    OperationModes
};

struct EntryBox
{
    int word; // register word written
    EntryKind kind;
    const char* caption;
};

// Box i of Txt_Inputs: its word and kind.
const EntryBox& entryBox(int box);

struct ParameterWrite
{
    int word = 0;
    qint32 value = 0; // the whole new word, 0..65535
    bool operator==(const ParameterWrite&) const = default;
};

// The numbers box `box` (0..9) accepts in `units`: the smallest and the largest and the
// step between two values the board can hold. Temperatures and the hysteresis in the unit
// shown, relay times in seconds (the box takes them as minutes:seconds), the operation
// modes as a whole number.
struct EntryRange
{
    double min = 0;
    double max = 0;
    double step = 1;
};
EntryRange entryRange(int box, const DisplayUnits& units);

// The write for `text` committed in box `box` (0..9) against the current image. The
// hysteresis goes into the high byte of word 10 and keeps its low byte. A refusal is a
// message for the operator naming the box and what it accepts.
Outcome<ParameterWrite> commitEntry(int box, const QString& text, const Words& words,
                                    const DisplayUnits& units);

} // namespace kelvaro
