#pragma once
// Relay times: the board counts ticks of two seconds on its own clock; the operator
// reads and types "m:ss". The calibration value scales between the two (10000 = the
// board's clock is exact; real seconds = board seconds * 10000 / calibration).

#include <QString>
#include <optional>

namespace kelvaro {

inline constexpr qint32 NominalCalibration = 10000;

// "m:ss" for `boardSeconds` at calibration `k`. No value when k is 0 or below, or when
// boardSeconds * 10000 leaves the 32-bit range.
std::optional<QString> Board_Seconds_To_Duration(qint32 boardSeconds, qint32 k);

// Board seconds for a typed duration. The text is read as the minutes and seconds of a
// time of day after "00:" is put in front ("5" is five minutes, "1:30" a minute and a
// half; minutes and seconds 0..59). No value for unreadable text or k of 0 or below.
std::optional<qint32> Duration_To_Board_Seconds(const QString& text, qint32 k);

// Register word (two-second ticks) to shown text.
std::optional<QString> durationWordText(qint32 word, qint32 k);
// Typed text to a register word (0..65535), the board seconds halved and rounded again.
std::optional<qint32> durationWordFromText(const QString& text, qint32 k);

} // namespace kelvaro
