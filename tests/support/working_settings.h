#pragma once
// A settings record the start check passes: port 1 at 9600 baud, logging on into
// DD-MM-YYYY.txt, the actual temperature on every change of the board's counter.

#include "core/settings_record.h"

namespace kelvaro::test {

inline Settings_Record workingSettings()
{
    Settings_Record r;
    r.Comm_Port = 1;
    r.Comm_Baud = 9600;
    r.Log_Active = LooseValue::number(1);
    r.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
    for (LooseValue& field : r.Log_Fields)
        field = LooseValue::text(QStringLiteral("None"));
    r.Log_Fields[0] = LooseValue::text(QStringLiteral("Actual Temperature (i16)"));
    r.Log_Event = LooseValue::text(QStringLiteral("On Counter Change"));
    return r;
}

} // namespace kelvaro::test
