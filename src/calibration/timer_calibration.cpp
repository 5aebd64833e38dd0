#include "calibration/timer_calibration.h"

#include "core/rounding.h"
#include "values/duration.h"

#include <limits>

namespace kelvaro {

Outcome<qint32> calibrateTimers(const QString& setText, const QString& actualText)
{
    // Both times are plain seconds: the set time is taken at face value, whatever the
    // calibration value currently in use.
    const std::optional<qint32> set = Duration_To_Board_Seconds(setText, NominalCalibration);
    if (!set)
        return failure(QStringLiteral("The set time \"%1\" is not a time m:ss.").arg(setText));
    const std::optional<qint32> actual = Duration_To_Board_Seconds(actualText, NominalCalibration);
    if (!actual)
        return failure(
            QStringLiteral("The measured time \"%1\" is not a time m:ss.").arg(actualText));
    if (*actual == 0)
        return failure(QStringLiteral("The measured time must not be 0:00."));

    const qint64 scaledSet = qint64(*set) * NominalCalibration;
    const std::optional<qint32> value = roundToInteger<qint32>(double(scaledSet) / double(*actual));
    constexpr qint32 maxValue = std::numeric_limits<qint16>::max();
    if (!value || *value < 1 || *value > maxValue)
        return failure(QStringLiteral("%1 and %2 give a calibration value outside 1 to %3; check "
                                      "both times.")
                           .arg(setText.trimmed(), actualText.trimmed())
                           .arg(maxValue));
    return *value;
}

} // namespace kelvaro
