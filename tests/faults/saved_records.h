#pragma once
// The two settings records the killed saver writes in turn. They differ in every section
// and in length, so a file that mixed them, or stopped part way, reads back as neither.

#include "core/settings_record.h"

namespace kelvaro::test {

inline Settings_Record savedRecord(bool second)
{
    Settings_Record r;
    r.Comm_Port = second ? 2 : 1;
    r.Comm_Baud = second ? 19200 : 9600;
    r.Comm_DTR = second;
    r.Ntc_T0 = second ? 301.25 : 17.5;
    r.Ntc_B = LooseValue::number(second ? 3977.0 : 3435.0);
    r.Timer_CalValue = LooseValue::number(second ? 10020 : 9980);
    r.Log_Active = LooseValue::number(second ? 1 : 0);
    r.Log_NameFormat =
        LooseValue::text(second ? QStringLiteral("MM-DD-YYYY") : QStringLiteral("DD-MM-YYYY"));
    r.Log_Fields[0] = LooseValue::text(QStringLiteral("Counter_2sec (l08)"));
    r.Acrobat_Path = second ? QStringLiteral("/opt/reader/") + QString(4000, u'b')
                            : QStringLiteral("/usr/bin/okular");
    for (QString& manual : r.Manual_Files)
        manual = second ? QString(1000, u'm') : QStringLiteral("manual.pdf");
    r.Show_Direct = second ? 1 : 0;
    r.Use_Fahrenheit = second;
    return r;
}

} // namespace kelvaro::test
