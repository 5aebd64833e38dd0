#include "values/display_texts.h"

#include "core/register_words.h"
#include "values/duration.h"
#include "values/temperature.h"

namespace kelvaro {

namespace {

QString durationText(qint32 word, const DisplayUnits& units)
{
    return durationWordText(word, units.calibration).value_or(NoDuration);
}

QString temperatureText(qint32 word, const DisplayUnits& units)
{
    return temperatureWordText(word, units.Use_Fahrenheit, units.locale);
}

} // namespace

std::array<QString, OutputLabelCount> outputTexts(const Words& words, const DisplayUnits& units)
{
    const QString suffix = Temp_Unit_Suffix(units.Use_Fahrenheit);
    std::array<QString, OutputLabelCount> texts;
    texts[0] = temperatureText(words[reg::Actual], units) + suffix;
    texts[1] = QString::number(words[reg::Pulse]) + QStringLiteral(" us");
    texts[2] = temperatureText(words[reg::Average], units) + suffix;
    texts[3] = QString::number(lowByte(words[reg::StageStatus]));
    texts[5] = QString::number(highByte(words[reg::StageStatus]));
    texts[7] = durationText(words[reg::TimeOn], units);
    texts[6] = durationText(words[reg::TimeOff], units);
    return texts;
}

QString relayStatusText(const Words& words)
{
    return highByte(words[reg::Status]) == 1 ? QStringLiteral("On") : QStringLiteral("Off");
}

std::array<QString, InputBoxCount> inputTexts(const Words& words, const DisplayUnits& units)
{
    std::array<QString, InputBoxCount> texts;
    texts[0] = temperatureText(words[reg::LowRising], units);
    texts[1] =
        hysteresisText(highByte(words[reg::PeriodHysteresis]), units.Use_Fahrenheit, units.locale);
    texts[3] = temperatureText(words[reg::LowFalling], units);
    texts[2] = temperatureText(words[reg::LowerSetpoint], units);
    texts[7] = durationText(words[reg::LowerOn], units);
    texts[6] = durationText(words[reg::LowerOff], units);
    texts[5] = durationText(words[reg::LowOn], units);
    texts[4] = durationText(words[reg::LowOff], units);
    texts[8] = QString::number(lowByte(words[reg::Modes]));
    texts[9] = durationText(words[reg::Delay], units);
    return texts;
}

QString directText(qint32 word)
{
    return QString::number(word);
}

} // namespace kelvaro
