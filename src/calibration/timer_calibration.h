#pragma once
// The timer calibration value: how fast the board's clock runs, from a relay time set on
// the board and the time measured with a stopwatch. 10000 means exact.

#include "core/outcome.h"

#include <QString>

namespace kelvaro {

// (set seconds * 10000) / actual seconds, rounded half to even; both texts are read as
// "m:ss" at the nominal clock. A message instead when a time is unreadable, the measured
// time is 0:00, or the result is not a whole number from 1 to 32767.
Outcome<qint32> calibrateTimers(const QString& setText, const QString& actualText);

} // namespace kelvaro
