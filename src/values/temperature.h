#pragma once
// Temperatures are held by the board as hundredths of a degree Celsius. These turn
// register values into the shown text (Celsius or Fahrenheit) and typed text back.

#include <QLocale>
#include <QString>
#include <optional>

namespace kelvaro {

double Word_To_Celsius(qint32 value);
double Celsius_To_Fahrenheit(double c);
double Fahrenheit_To_Celsius(double f);
double Celsius_To_Display(double c, bool Use_Fahrenheit);
double Display_To_Celsius(double x, bool Use_Fahrenheit);
QString Temp_Unit_Suffix(bool Use_Fahrenheit);

// The temperature words (tagged "i16") carry signed 16-bit values: 64936 is -6.00 °C.
// Words 0..65535 are read as two's complement; anything else (a hand-edited parameter
// file) is taken as it stands.
qint32 signedTemperature(qint32 word);

// Register value to shown number, "##0.00" in the shown unit (no suffix).
// `word` is a temperature word; it is read signed.
QString temperatureWordText(qint32 word, bool Use_Fahrenheit, const QLocale& locale);
// A hysteresis is a temperature difference: in Fahrenheit it takes the 9/5 scale only.
double hysteresisToDisplay(double celsius, bool Use_Fahrenheit);
// The hysteresis byte (0..255, never negative) as shown: 50 is 0.50 or 0.90 (°F).
QString hysteresisText(qint32 byte, bool Use_Fahrenheit, const QLocale& locale);

// Typed text in the shown unit to a temperature word, the 16-bit two's-complement
// pattern of the hundredths (-6 gives 64936). No value for text that is not a number
// or a temperature outside -327.68..327.67 °C.
std::optional<qint32> temperatureWordFromText(const QString& text, bool Use_Fahrenheit,
                                              const QLocale& locale);
// Typed text to the hysteresis byte, 0..255 hundredths of a degree, the 9/5 scale alone
// undone in Fahrenheit (0.90 gives 50); no value otherwise.
std::optional<qint32> hysteresisFromText(const QString& text, bool Use_Fahrenheit,
                                         const QLocale& locale);

} // namespace kelvaro
