#pragma once
// What Enter in a parameter entry box writes: the register word the box stands for and
// its new value, or why the typed text was refused.

#include "core/outcome.h"
#include "core/register_words.h"
#include "values/display_texts.h"

#include <QString>
#include <array>

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

// Txt_Inputs(0..9) in the window's order: the word each writes, its kind, its caption.
inline constexpr std::array<EntryBox, InputBoxCount> EntryBoxes{{
    {reg::LowRising, EntryKind::Temperature, "Low Setpoint Raising:"},
    {reg::PeriodHysteresis, EntryKind::Hysteresis, "Lower Hysterisis:"},
    {reg::LowerSetpoint, EntryKind::Temperature, "Lower Setpoint:"},
    {reg::LowFalling, EntryKind::Temperature, "Low Setpoint Falling:"},
    {reg::LowOff, EntryKind::Duration, "Low Time Off:"},
    {reg::LowOn, EntryKind::Duration, "Low Time On:"},
    {reg::LowerOff, EntryKind::Duration, "Lower Time Off:"},
    {reg::LowerOn, EntryKind::Duration, "Lower Time On:"},
    {reg::Modes, EntryKind::OperationModes, "Operation Modes:"},
    {reg::Delay, EntryKind::Duration, "Time Delay:"},
}};

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
