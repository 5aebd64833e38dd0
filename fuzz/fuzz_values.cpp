// What the operator types into the parameter boxes, as UTF-8 text: temperatures and the
// hysteresis in both units, the operation modes, and relay times at several calibration
// values, in a locale with a decimal point and one with a decimal comma. Any value a
// conversion returns must fit its register, and a temperature or hysteresis returned must
// show as a text that reads back to the same value.

#include "fuzz_check.h"
#include "values/duration.h"
#include "values/parameter_values.h"
#include "values/temperature.h"

#include <QLocale>
#include <cstddef>
#include <cstdint>
#include <limits>

using kelvaro::fuzz::require;
using namespace kelvaro;

namespace {

void checkTemperatures(const QString& text, const QLocale& locale)
{
    for (const bool fahrenheit : {false, true}) {
        if (const auto word = temperatureWordFromText(text, fahrenheit, locale)) {
            require(*word >= 0 && *word <= 65535, "a temperature word is 0..65535");
            const QString shown = temperatureWordText(*word, fahrenheit, locale);
            require(temperatureWordFromText(shown, fahrenheit, locale) == word,
                    "a temperature word's text reads back to the same word");
        }
        if (const auto byte = hysteresisFromText(text, fahrenheit, locale)) {
            require(*byte >= 0 && *byte <= 255, "a hysteresis is 0..255");
            const QString shown = hysteresisText(*byte, fahrenheit, locale);
            require(hysteresisFromText(shown, fahrenheit, locale) == byte,
                    "a hysteresis text reads back to the same byte");
        }
    }
    if (const auto modes = operationModesFromText(text, locale))
        require(*modes >= 0 && *modes <= 32767, "the operation modes are 0..32767");
}

void checkDurations(const QString& text)
{
    constexpr qint32 calibrations[] = {NominalCalibration,
                                       9677,
                                       1,
                                       0,
                                       -1,
                                       -10000,
                                       65535,
                                       std::numeric_limits<qint32>::max(),
                                       std::numeric_limits<qint32>::min()};
    for (const qint32 k : calibrations) {
        const std::optional<qint32> seconds = Duration_To_Board_Seconds(text, k);
        const std::optional<qint32> word = durationWordFromText(text, k);
        if (k <= 0) {
            require(!seconds && !word, "no duration without a positive calibration value");
            continue;
        }
        // Typed minutes and seconds stop at 59:59.
        const double longest = double(k) * 3599.0 / 10000.0;
        if (seconds)
            require(*seconds >= 0 && *seconds <= longest + 0.5, "board seconds of at most 59:59");
        if (word) {
            require(seconds.has_value(), "a duration word comes from board seconds");
            require(*word >= 0 && *word <= 65535, "a duration word is 0..65535");
        }
        // At the nominal clock a word's own text, typed again, gives the word back.
        if (word && k == NominalCalibration) {
            const std::optional<QString> shown = durationWordText(*word, k);
            require(shown.has_value(), "a duration word has a text");
            if (const auto again = durationWordFromText(*shown, k))
                require(again == word, "a duration's shown text reads back to the same word");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static const QLocale dotLocale(QLocale::English, QLocale::UnitedStates);
    static const QLocale commaLocale(QLocale::German, QLocale::Germany);
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    checkTemperatures(text, dotLocale);
    checkTemperatures(text, commaLocale);
    checkDurations(text);
    return 0;
}
