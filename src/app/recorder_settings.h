#pragma once
// The Settings.txt an unattended recorder writes into a board folder that has none, so
// that a new folder logs at once: port 1 at 9600 baud (RTS off, DTR on), the thermistor's
// design values, nominal timers, logging of the actual temperature and the relay on every
// change of the board's counter into one file per day named DD-MM-YYYY.txt, Celsius. The
// same starting point as the demo's; the operator edits it (or uses the window program's
// Tools menu on a copy) to change the speed or what is logged.

#include "core/settings_record.h"

namespace kelvaro {

Settings_Record recorderStartSettings();

} // namespace kelvaro
