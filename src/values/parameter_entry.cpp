#include "values/parameter_entry.h"

#include "core/register_words.h"
#include "values/duration.h"
#include "values/locale_numbers.h"
#include "values/parameter_values.h"
#include "values/temperature.h"

#include <array>

namespace kelvaro {

namespace {

// What a box takes, in hundredths of a degree Celsius (the temperature words are signed
// 16-bit values, the hysteresis is one byte), in seconds (minutes:seconds up to 59:59) and
// for the operation modes a non-negative 16-bit value.
constexpr double LowestCelsius = -327.68;
constexpr double HighestCelsius = 327.67;
constexpr qint32 HighestHysteresisByte = 255;
constexpr double LongestRelayTime = 59 * 60 + 59;
constexpr double HighestModes = 32767;

// A temperature in the shown unit, with the locale's decimal separator.
QString shownTemperature(double celsius, const DisplayUnits& units)
{
    return formatTwoDecimals(Celsius_To_Display(celsius, units.Use_Fahrenheit), units.locale) +
           Temp_Unit_Suffix(units.Use_Fahrenheit);
}

QString accepted(const EntryBox& box, const DisplayUnits& units)
{
    switch (box.kind) {
    case EntryKind::Temperature:
        return QStringLiteral("a temperature from %1 to %2")
            .arg(shownTemperature(LowestCelsius, units), shownTemperature(HighestCelsius, units));
    case EntryKind::Hysteresis:
        return QStringLiteral("a hysteresis from %1 to %2")
            .arg(hysteresisText(0, units.Use_Fahrenheit, units.locale) +
                     Temp_Unit_Suffix(units.Use_Fahrenheit),
                 hysteresisText(HighestHysteresisByte, units.Use_Fahrenheit, units.locale) +
                     Temp_Unit_Suffix(units.Use_Fahrenheit));
    case EntryKind::Duration:
        if (units.calibration <= 0)
            return QStringLiteral("a relay time, but the timer calibration value (%1) must be "
                                  "above 0: set it in Tools, Calibration, Timers Duration")
                .arg(units.calibration);
        return QStringLiteral("a relay time as minutes:seconds from 0:00 to 59:59");
    case EntryKind::OperationModes:
        // The box has always taken a fraction and rounded it (half to even); say so.
        return QStringLiteral("a number from 0 to 32767 (a fraction is rounded to a whole "
                              "number)");
    }
    return {};
}

} // namespace

const EntryBox& entryBox(int box)
{
    return EntryBoxes.at(std::size_t(box));
}

EntryRange entryRange(int box, const DisplayUnits& units)
{
    switch (entryBox(box).kind) {
    case EntryKind::Temperature:
        return {Celsius_To_Display(LowestCelsius, units.Use_Fahrenheit),
                Celsius_To_Display(HighestCelsius, units.Use_Fahrenheit), 0.01};
    case EntryKind::Hysteresis:
        return {0, hysteresisToDisplay(HighestHysteresisByte / 100.0, units.Use_Fahrenheit), 0.01};
    case EntryKind::Duration:
        return {0, LongestRelayTime, 1};
    case EntryKind::OperationModes:
        return {0, HighestModes, 1};
    }
    return {};
}

Outcome<ParameterWrite> commitEntry(int boxIndex, const QString& text, const Words& words,
                                    const DisplayUnits& units)
{
    const EntryBox& box = entryBox(boxIndex);
    std::optional<qint32> value;
    switch (box.kind) {
    case EntryKind::Temperature:
        value = temperatureWordFromText(text, units.Use_Fahrenheit, units.locale);
        break;
    case EntryKind::Hysteresis:
        if (const auto h = hysteresisFromText(text, units.Use_Fahrenheit, units.locale))
            value = lowByte(words[box.word]) + *h * 256;
        break;
    case EntryKind::Duration:
        value = durationWordFromText(text, units.calibration);
        break;
    case EntryKind::OperationModes:
        value = operationModesFromText(text, units.locale);
        break;
    }
    if (!value)
        return failure(
            QStringLiteral("%1 \"%2\" cannot be sent to the board.\nThis box accepts %3.")
                .arg(QString::fromUtf8(box.caption), text, accepted(box, units)));
    return ParameterWrite{box.word, *value};
}

} // namespace kelvaro
