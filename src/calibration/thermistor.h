#pragma once
// The thermistor curve table for the board's EEPROM: the NE555 pulse for every whole
// degree, from R0 (series resistor), T0 (pulse with the thermistor shorted), the
// thermistor's B value and R25, between a lowest and a highest temperature.

#include "core/outcome.h"

#include <QString>
#include <vector>

namespace kelvaro {

struct ThermistorInput
{
    double T0 = 0;    // us
    double R0 = 0;    // ohm
    double B = 0;     // kelvin
    double R25 = 0;   // ohm
    double MinTH = 0; // degrees Celsius
    double MaxTH = 0; // degrees Celsius
};

struct ThermistorPoint
{
    int celsius = 0;
    double pulseUs = 0; // unrounded P(t)
};

struct ThermistorTable
{
    double k = 0;                        // T0 / R0, us per ohm
    int rowCount = 0;                    // MaxTH + |MinTH| + 1, rounded
    std::vector<ThermistorPoint> points; // tmin..tmax
    std::vector<qint32> entries;         // P(t) rounded half to even
    QString curveText;                   // entries joined by ", "
};

// The table, or a message saying which input is outside what the calculation can use
// (R0 of 0, minimum above maximum, a temperature at or below -273 degrees, more than
// 32767 rows, a value that is not finite).
Outcome<ThermistorTable> calibrateThermistor(const ThermistorInput& input);

} // namespace kelvaro
