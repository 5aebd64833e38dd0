#pragma once
// The program's shared state: created once by main() and handed to every window by
// reference; tests make their own. Everything runs on the one GUI thread, so no locks.

#include "core/event_names.h"
#include "core/field_names.h"
#include "core/link_flags.h"
#include "core/recorder_state.h"
#include "core/register_image.h"
#include "core/settings_record.h"

namespace kelvaro {

struct Kelv_Main
{
    RegisterImage registers;
    LinkFlags link;
    Settings_Record settings;
    FieldNameTable Field_Names{};
    EventNameTable Event_Names{};
    RecorderState recorder;
};

} // namespace kelvaro
