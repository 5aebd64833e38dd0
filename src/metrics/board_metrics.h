#pragma once
// The board's state in the Prometheus text exposition format, the format node_exporter's
// textfile collector reads: what the recorder publishes with --metrics after every block.

#include "core/register_image.h"
#include "values/duration.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

namespace kelvaro {

// Plain values, so that the text can be built and tested without a line or a log.
struct BoardMetrics
{
    std::array<qint32, RegisterCount> words{}; // the register image after a complete block
    qint32 timerCalValue = NominalCalibration; // scales the relay running times
    bool lineOpen = false;
    qint64 silentSeconds = 0;               // since the last byte from the board
    quint64 reopenCount = 0;                // times the port was opened again after it went away
    std::optional<qint64> lastLogWriteUnix; // none until a log line has been written
    bool logActive = false;  // logging is switched on; the two below are published only then
    bool logFailing = false; // the last due line could not be written
    bool logIdle = false;    // on, but its choices write no line or lines without a value
};

// Every metric is named kelvaro_..., carries HELP and TYPE lines and the label
// folder="<boardFolder>". Numbers use "." whatever the locale. Temperatures are in °C,
// running times in seconds corrected by the timer calibration.
//
// Values that are not known are left out with their HELP and TYPE lines, never written
// as NaN or 0: the last log write before the first line is written, and the running
// times when the calibration value is 0 or below (the window shows "-:--" then). An alert
// on `time() - kelvaro_last_log_write_timestamp_seconds > ...` would never fire on NaN
// (every comparison with NaN is false) and 0 would claim a write in 1970; a missing series
// is what absent() is for.
QByteArray metricsExposition(const BoardMetrics& metrics, const QString& boardFolder);

// A label value as the exposition format writes it between double quotes: UTF-8 with
// backslash, double quote and line feed escaped as \\, \" and \n.
QByteArray exposedLabelValue(const QString& value);

} // namespace kelvaro
