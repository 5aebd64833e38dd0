#pragma once
// The data logger: one pass per refresh tick writes the chosen register fields, with
// date and time, to the day's comma-separated file when the chosen event happened.

#include "core/kelv_main.h"
#include "store/file_result.h"

#include <QDate>
#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

namespace kelvaro {

using Clock = std::function<QDateTime()>;
// The local wall clock.
QDateTime systemClock();

// Value text of a field: decimal, unsigned, or empty for "None", an empty or unknown name.
QString FieldValueText(const Kelv_Main& state, const QString& fieldName);

// The date written with `pattern`: DD, MM, YYYY (also dd, mm, yyyy), YY, D and M are
// replaced, every other character stands for itself.
QString formatLogDate(const QString& pattern, const QDate& date);

// The log file name for `date` ("07-12-2026.txt"), or no value when the pattern does not
// make a plain file name in the working folder (empty, a path separator, "." or "..",
// control characters, too long), with `error` saying why.
std::optional<QString> logFileName(const QString& pattern, const QDate& date,
                                   QString* error = nullptr);

// Appends `line` without its last character, then CR LF, to <folder>/<fileName>. Writes
// the whole line or nothing; never follows a symbolic link out of the folder.
FileResult AppendLogLine(const QString& folder, const QString& fileName, const QString& line);

struct LogPass
{
    bool wrote = false; // a line was appended
    FileResult result;  // failure of the file name or the append, for the operator
};

// One pass of the recorder over the current image and logging settings.
LogPass LogTick(Kelv_Main& state, const QString& folder, const Clock& clock = systemClock);

// Logging on/off, as the "Start" menu entry and the status bar show it.
inline const QString LogStatusActive = QStringLiteral("Logging Status: Active");
inline const QString LogStatusDisable = QStringLiteral("Logging Status: Disable");
inline const QString LogStatusActivate = QStringLiteral("Logging Status: Activate");

struct LogSwitch
{
    bool checked = false;
    QString statusText;
};

// The state at start-up: checked with "Activate" when Log_Active equals 1.
LogSwitch loggingAtStartup(const Settings_Record& settings);
// Flips Log_Active between 1 and 0 (unset counts as 0); the caller saves the settings.
LogSwitch toggleLogging(Settings_Record& settings);
// The gate of the refresh tick: Log_Active equals 1 and the boxes hold board data.
bool loggingDue(const Settings_Record& settings, bool Inputs_Loaded);

} // namespace kelvaro
