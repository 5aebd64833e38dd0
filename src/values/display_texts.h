#pragma once
// The texts the main window shows for a register image: measured values, relay state,
// raw registers and the parameter entry boxes.

#include "core/register_image.h"

#include <QLocale>
#include <QString>
#include <array>

namespace kelvaro {

inline constexpr int InputBoxCount = 10;
inline constexpr int OutputLabelCount = 8;

// Shown where a relay time cannot be computed (a calibration value of 0 or below).
inline const QString NoDuration = QStringLiteral("-:--");

struct DisplayUnits
{
    bool Use_Fahrenheit = false;
    qint32 calibration = 10000; // Timer_CalValue as the duration conversions use it
    QLocale locale;
};

using Words = std::array<qint32, RegisterCount>;

// The captions beside Lbl_Outputs(0..7) in the window, for whoever shows the values as text.
inline constexpr std::array<const char*, OutputLabelCount> OutputCaptions{
    "Actual Temperature:", "NE555 Pulse:", "Average Temperature:", "Lower Mode :",
    "Relay Status:",       "Low Mode :",   "Time Off :",           "Time On :"};

// Lbl_Outputs(0..7) except the relay status (index 4), which keeps its slot empty.
std::array<QString, OutputLabelCount> outputTexts(const Words& words, const DisplayUnits& units);
// Lbl_Outputs(4): "On" when the high byte of word 0 is 1, otherwise "Off".
QString relayStatusText(const Words& words);
// Txt_Inputs(0..9) from the image.
std::array<QString, InputBoxCount> inputTexts(const Words& words, const DisplayUnits& units);
// Lbl_DirectRead(k): the word in decimal, no separators.
QString directText(qint32 word);

} // namespace kelvaro
