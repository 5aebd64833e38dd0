#pragma once
// The four logging events, by the texts the settings file stores.

#include <QString>
#include <array>

namespace kelvaro {

inline constexpr int EventNameCount = 4;
using EventNameTable = std::array<QString, EventNameCount>;

enum LogEvent
{
    EventNone = 0,
    EventCounterChange = 1,
    EventFieldsChange = 2,
    EventAverageChange = 3
};

void Init_Event_Names(EventNameTable& Event_Names);

} // namespace kelvaro
