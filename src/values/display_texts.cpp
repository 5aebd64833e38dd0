#include "values/display_texts.h"

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
    texts[0] = temperatureText(words[1], units) + suffix;
    texts[1] = QString::number(words[5]) + QStringLiteral(" us");
    texts[2] = temperatureText(words[8], units) + suffix;
    texts[3] = QString::number(lowByte(words[2]));
    texts[5] = QString::number(highByte(words[2]));
    texts[7] = durationText(words[6], units);
    texts[6] = durationText(words[7], units);
    return texts;
}

QString relayStatusText(const Words& words)
{
    return highByte(words[0]) == 1 ? QStringLiteral("On") : QStringLiteral("Off");
}

std::array<QString, InputBoxCount> inputTexts(const Words& words, const DisplayUnits& units)
{
    std::array<QString, InputBoxCount> texts;
    texts[0] = temperatureText(words[17], units);
    texts[1] = hysteresisText(highByte(words[10]), units.Use_Fahrenheit, units.locale);
    texts[3] = temperatureText(words[14], units);
    texts[2] = temperatureText(words[11], units);
    texts[7] = durationText(words[12], units);
    texts[6] = durationText(words[13], units);
    texts[5] = durationText(words[15], units);
    texts[4] = durationText(words[16], units);
    texts[8] = QString::number(lowByte(words[19]));
    texts[9] = durationText(words[18], units);
    return texts;
}

QString directText(qint32 word)
{
    return QString::number(word);
}

} // namespace kelvaro
