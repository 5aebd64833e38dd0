#include "values/temperature.h"

#include "core/rounding.h"
#include "values/locale_numbers.h"

namespace kelvaro {

double Word_To_Celsius(qint32 value)
{
    return value / 100.0;
}

double Celsius_To_Fahrenheit(double c)
{
    return 9.0 / 5.0 * c + 32.0;
}

double Fahrenheit_To_Celsius(double f)
{
    return (f - 32.0) * (5.0 / 9.0);
}

double Celsius_To_Display(double c, bool Use_Fahrenheit)
{
    return Use_Fahrenheit ? Celsius_To_Fahrenheit(c) : c;
}

double Display_To_Celsius(double x, bool Use_Fahrenheit)
{
    return Use_Fahrenheit ? Fahrenheit_To_Celsius(x) : x;
}

QString Temp_Unit_Suffix(bool Use_Fahrenheit)
{
    return Use_Fahrenheit ? QStringLiteral(" \u00B0F") : QStringLiteral(" \u00B0C");
}

qint32 signedTemperature(qint32 word)
{
    if (word >= 32768 && word <= 65535)
        return word - 65536;
    return word;
}

namespace {

QString hundredthsText(qint32 hundredths, bool Use_Fahrenheit, const QLocale& locale)
{
    return formatTwoDecimals(Celsius_To_Display(Word_To_Celsius(hundredths), Use_Fahrenheit),
                             locale);
}

std::optional<qint32> hundredthsFromText(const QString& text, bool Use_Fahrenheit,
                                         const QLocale& locale)
{
    const std::optional<double> x = readLocaleNumber(text, locale);
    if (!x)
        return std::nullopt;
    return roundToInteger<qint32>(Display_To_Celsius(*x, Use_Fahrenheit) * 100.0);
}

} // namespace

QString temperatureWordText(qint32 word, bool Use_Fahrenheit, const QLocale& locale)
{
    return hundredthsText(signedTemperature(word), Use_Fahrenheit, locale);
}

// A hysteresis is a difference of two temperatures: the 9/5 scale applies, the +32
// offset does not (0.50 °C of hysteresis is 0.90 °F).
double hysteresisToDisplay(double celsius, bool Use_Fahrenheit)
{
    return Use_Fahrenheit ? 9.0 / 5.0 * celsius : celsius;
}

QString hysteresisText(qint32 byte, bool Use_Fahrenheit, const QLocale& locale)
{
    return formatTwoDecimals(hysteresisToDisplay(Word_To_Celsius(byte), Use_Fahrenheit), locale);
}

std::optional<qint32> temperatureWordFromText(const QString& text, bool Use_Fahrenheit,
                                              const QLocale& locale)
{
    const std::optional<qint32> v = hundredthsFromText(text, Use_Fahrenheit, locale);
    if (!v || *v < -32768 || *v > 32767)
        return std::nullopt;
    return *v < 0 ? *v + 65536 : *v;
}

std::optional<qint32> hysteresisFromText(const QString& text, bool Use_Fahrenheit,
                                         const QLocale& locale)
{
    const std::optional<double> x = readLocaleNumber(text, locale);
    if (!x)
        return std::nullopt;
    const double celsius = Use_Fahrenheit ? *x * (5.0 / 9.0) : *x;
    const std::optional<qint32> v = roundToInteger<qint32>(celsius * 100.0);
    if (!v || *v < 0 || *v > 255)
        return std::nullopt;
    return v;
}

} // namespace kelvaro
