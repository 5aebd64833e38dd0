#include "app/recorder_settings.h"

namespace kelvaro {

Settings_Record recorderStartSettings()
{
    Settings_Record r;
    r.Comm_Port = 1;
    r.Comm_Baud = 9600;
    r.Comm_RTS = false;
    r.Comm_DTR = true;
    r.Comm_TimeOut = 0;
    r.Ntc_T0 = 4850;
    r.Ntc_R0 = LooseValue::number(4540);
    r.Ntc_MinTH = LooseValue::number(-6);
    r.Ntc_MaxTH = 46;
    r.Ntc_R25 = LooseValue::number(10000);
    r.Ntc_B = LooseValue::number(4300);
    r.Timer_SetTimeOn = LooseValue::number(60);
    r.Timer_ActTimeOn = 60;
    r.Timer_CalValue = LooseValue::number(10000);
    r.Log_Active = LooseValue::number(1);
    r.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
    for (LooseValue& field : r.Log_Fields)
        field = LooseValue::text(QStringLiteral("None"));
    r.Log_Fields[0] = LooseValue::text(QStringLiteral("Actual Temperature (i16)"));
    r.Log_Fields[1] = LooseValue::text(QStringLiteral("Relay Status (h08)"));
    r.Log_Event = LooseValue::text(QStringLiteral("On Counter Change"));
    r.Show_Direct = 0;
    r.Use_Fahrenheit = false;
    return r;
}

} // namespace kelvaro
