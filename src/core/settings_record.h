#pragma once
// Every operator choice that outlives a run, in the order of the settings file.

#include "core/loose_value.h"

#include <QString>
#include <array>

namespace kelvaro {

inline constexpr int LogFieldCount = 10;
inline constexpr int ManualCount = 4;

// Indices of Manual_Files, in file order.
enum ManualIndex
{
    ManualOperation = 0,
    ManualDrawings = 1,
    ManualSource = 2,
    ManualModes = 3
};

struct Settings_Record
{
    // [Communication]
    qint16 Comm_Port = 0;
    qint32 Comm_Baud = 0;
    bool Comm_RTS = false;
    bool Comm_DTR = false;
    qint16 Comm_TimeOut = 0;
    // [Thermistor]
    double Ntc_T0 = 0.0;
    LooseValue Ntc_R0;
    LooseValue Ntc_MinTH;
    double Ntc_MaxTH = 0.0;
    LooseValue Ntc_R25;
    LooseValue Ntc_B;
    // [Timers]
    LooseValue Timer_SetTimeOn;
    double Timer_ActTimeOn = 0.0;
    LooseValue Timer_CalValue;
    // [Logging]
    LooseValue Log_Active;
    LooseValue Log_NameFormat;
    std::array<LooseValue, LogFieldCount> Log_Fields{};
    LooseValue Log_Event;
    // [Acrobat]
    QString Acrobat_Path;
    // [Manuals]: Operation, Drawings, Source, Modes
    std::array<QString, ManualCount> Manual_Files{};
    // [AT90S2313]
    qint16 Show_Direct = 0;
    // [Celsius-Fareneit]
    bool Use_Fahrenheit = false;

    bool operator==(const Settings_Record&) const = default;
};

} // namespace kelvaro
