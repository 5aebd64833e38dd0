#include "metrics/board_metrics.h"

#include "core/register_words.h"
#include "core/rounding.h"
#include "values/temperature.h"

namespace kelvaro {

QByteArray exposedLabelValue(const QString& value)
{
    QByteArray out;
    const QByteArray utf8 = value.toUtf8();
    out.reserve(utf8.size());
    for (const char c : utf8) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

namespace {

// Collects metric families: one HELP and one TYPE line, then its samples.
class Exposition
{
public:
    explicit Exposition(const QString& folder)
        : m_folderLabel("folder=\"" + exposedLabelValue(folder) + '"')
    {
    }

    void family(const char* name, const char* type, const char* help)
    {
        m_text += QByteArray("# HELP ") + name + ' ' + help + '\n';
        m_text += QByteArray("# TYPE ") + name + ' ' + type + '\n';
    }

    // `extraLabels` is written as it stands after the folder label: fixed ASCII only.
    void sample(const char* name, const QByteArray& value, const char* extraLabels = nullptr)
    {
        m_text += QByteArray(name) + '{' + m_folderLabel;
        if (extraLabels)
            m_text += QByteArray(",") + extraLabels;
        m_text += "} " + value + '\n';
    }

    QByteArray text() const { return m_text; }

private:
    QByteArray m_folderLabel;
    QByteArray m_text;
};

// Degrees Celsius of a signed temperature word, two decimals, always with ".".
QByteArray celsius(qint32 word)
{
    return QByteArray::number(Word_To_Celsius(signedTemperature(word)), 'f', 2);
}

// Real seconds of a running-time word (two-second board ticks), rounded as the window
// rounds its "m:ss"; none when the calibration value is 0 or below.
std::optional<qint64> runningSeconds(qint32 word, qint32 timerCalValue)
{
    if (timerCalValue <= 0)
        return std::nullopt;
    return roundToInteger<qint64>(double(word) * 2.0 * double(NominalCalibration) /
                                  double(timerCalValue));
}

} // namespace

QByteArray metricsExposition(const BoardMetrics& metrics, const QString& boardFolder)
{
    Exposition out(boardFolder);
    const auto& w = metrics.words;

    out.family("kelvaro_actual_temperature_celsius", "gauge",
               "Actual temperature measured by the board, in degrees Celsius.");
    out.sample("kelvaro_actual_temperature_celsius", celsius(w[reg::Actual]));
    out.family("kelvaro_average_temperature_celsius", "gauge",
               "Average temperature computed by the board, in degrees Celsius.");
    out.sample("kelvaro_average_temperature_celsius", celsius(w[reg::Average]));

    out.family("kelvaro_setpoint_celsius", "gauge",
               "Set-points of the board's Low (rising and falling) and Lower stages, in "
               "degrees Celsius.");
    out.sample("kelvaro_setpoint_celsius", celsius(w[reg::LowRising]), "setpoint=\"low_rising\"");
    out.sample("kelvaro_setpoint_celsius", celsius(w[reg::LowFalling]), "setpoint=\"low_falling\"");
    out.sample("kelvaro_setpoint_celsius", celsius(w[reg::LowerSetpoint]), "setpoint=\"lower\"");

    // The window shows "On" only for a relay byte of exactly 1.
    out.family("kelvaro_relay_on", "gauge", "1 while the board's relay is on, 0 otherwise.");
    out.sample("kelvaro_relay_on", highByte(w[reg::Status]) == 1 ? "1" : "0");

    const std::optional<qint64> on = runningSeconds(w[reg::TimeOn], metrics.timerCalValue);
    const std::optional<qint64> off = runningSeconds(w[reg::TimeOff], metrics.timerCalValue);
    if (on && off) {
        out.family("kelvaro_relay_on_time_seconds", "gauge",
                   "Running time of the relay on, in seconds corrected by the timer "
                   "calibration.");
        out.sample("kelvaro_relay_on_time_seconds", QByteArray::number(*on));
        out.family("kelvaro_relay_off_time_seconds", "gauge",
                   "Running time of the relay off, in seconds corrected by the timer "
                   "calibration.");
        out.sample("kelvaro_relay_off_time_seconds", QByteArray::number(*off));
    }

    out.family("kelvaro_line_open", "gauge", "1 while the serial port is open, 0 otherwise.");
    out.sample("kelvaro_line_open", metrics.lineOpen ? "1" : "0");
    out.family("kelvaro_line_silent_seconds", "gauge",
               "Seconds since the last byte from the board.");
    out.sample("kelvaro_line_silent_seconds", QByteArray::number(metrics.silentSeconds));
    out.family("kelvaro_line_reopens_total", "counter",
               "Times the serial port was opened again after its device went away.");
    out.sample("kelvaro_line_reopens_total", QByteArray::number(metrics.reopenCount));

    // Only while logging is on, as the last write's time only once there is one: a series
    // that is absent while there is no log to watch is what absent() is for.
    if (metrics.logActive) {
        out.family("kelvaro_log_failing", "gauge",
                   "1 while the due log lines cannot be written to the daily log file.");
        out.sample("kelvaro_log_failing", metrics.logFailing ? "1" : "0");
        out.family("kelvaro_log_idle", "gauge",
                   "1 while logging is on but its choices write no line, or lines without a "
                   "value.");
        out.sample("kelvaro_log_idle", metrics.logIdle ? "1" : "0");
    }

    if (metrics.lastLogWriteUnix) {
        out.family("kelvaro_last_log_write_timestamp_seconds", "gauge",
                   "Unix time of the last line written to the daily log file.");
        out.sample("kelvaro_last_log_write_timestamp_seconds",
                   QByteArray::number(*metrics.lastLogWriteUnix));
    }
    return out.text();
}

} // namespace kelvaro
