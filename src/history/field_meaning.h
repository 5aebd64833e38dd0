#pragma once
// What a logged column means: its name from the logging settings, and how its raw number
// becomes the value the chart and the report show (temperature, relay on/off, relay time,
// or the number itself).

#include "core/field_names.h"
#include "core/settings_record.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace kelvaro {

enum class FieldKind
{
    Temperature, // "(i16)" word: signed hundredths of a degree Celsius
    Hysteresis,  // "Lower Hysterisis (h08)": unsigned hundredths, shown like a temperature
    Relay,       // "Relay Status (h08)": 0 off, anything else on
    Duration,    // relay times: two-second board ticks, shown through the timer calibration
    Number       // everything else, and columns the settings do not name
};

FieldKind fieldKind(const QString& fieldName);

// The fields the recorder writes, in box order: the Log_Fields texts up to the first one
// that is not a field name (as the recorder stops there).
QStringList loggedFieldNames(const Settings_Record& settings, const FieldNameTable& Field_Names);

// The name of value column `index` (0-based) of a log line: the logged field's name, or
// "column N" (N counted from 1) for a column the settings do not name.
QString columnName(const QStringList& loggedNames, int index);

// The number a column is summarised and compared by: temperatures signed (65300 is
// -236), the relay 0 or 1, others as logged. Order-preserving for what is shown, so
// minimum and maximum can be taken on it before conversion.
qint32 canonicalValue(FieldKind kind, qint32 raw);

// How shown values are made from canonical ones.
struct ValueUnits
{
    bool fahrenheit = false;
    qint32 calibration = 10000; // Timer_CalValue as the duration conversions take it
};

// The shown value of a canonical value: temperatures in the chosen unit (the hysteresis
// through the same path, its +32 offset included, as the main window shows it), relay
// 0 or 1, relay times in real seconds (NaN when the calibration is unusable), numbers as
// they are.
double displayValue(FieldKind kind, double canonical, const ValueUnits& units);

// The unit text of a kind: " °C"/" °F", "s" for relay times, empty otherwise.
QString unitText(FieldKind kind, const ValueUnits& units);

// A shown value as text for files: "." decimals, temperatures with two, relay times as
// "m:ss", relay "1"/"0", numbers as integers (or two decimals when not whole).
QString valueFileText(FieldKind kind, double canonical, const ValueUnits& units);

// Two decimals with "." and never "-0.00".
QString twoDecimals(double value);

} // namespace kelvaro
