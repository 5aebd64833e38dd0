#include "core/event_names.h"

namespace kelvaro {

void Init_Event_Names(EventNameTable& Event_Names)
{
    Event_Names = {
        QStringLiteral("None"),
        QStringLiteral("On Counter Change"),
        QStringLiteral("On Fields Change"),
        QStringLiteral("On Average Temperature Change"),
    };
}

} // namespace kelvaro
