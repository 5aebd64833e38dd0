#pragma once
// What the log recorder remembers from one pass to the next. Never saved.

#include "core/loose_value.h"
#include "core/settings_record.h"

#include <QString>
#include <array>

namespace kelvaro {

struct RecorderState
{
    std::array<LooseValue, LogFieldCount> Prev_FieldValues{};
    QString Prev_Counter;
    LooseValue Prev_Average;
    bool Fields_Changed = false;
    bool Counter_Changed = false;
    bool Average_Changed = false;
};

} // namespace kelvaro
