#pragma once
// The remaining conversions of the main window's values: plain integers typed in the
// operator's locale, and the timer calibration value as stored in the settings.

#include "core/loose_value.h"

#include <QLocale>
#include <QString>
#include <optional>

namespace kelvaro {

// The operation-modes word from typed text: a number in the operator's locale, a
// fraction rounded half to even, accepted when 0..32767 (a non-negative 16-bit value).
std::optional<qint32> operationModesFromText(const QString& text, const QLocale& locale);

// A typed whole number (fraction rounded half to even) within [min, max]; no value for
// text that is not a number or lies outside.
std::optional<qint32> integerFromText(const QString& text, const QLocale& locale, qint32 min,
                                      qint32 max);

// The calibration value the duration conversions use. A setting never stored (no
// timer calibration measured yet) means the board's nominal clock, 10000. A stored
// number is rounded half to even, so is a text holding a number; other text or a number
// beyond 32 bits gives 0, which the
// conversions refuse.
qint32 calibrationValue(const LooseValue& Timer_CalValue);

} // namespace kelvaro
