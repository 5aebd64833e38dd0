#pragma once
// The data logger: one pass per refresh tick writes the chosen register fields, with
// date and time, to the day's comma-separated file when the chosen event happened.

#include "core/kelv_main.h"
#include "core/outcome.h"
#include "store/file_result.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <functional>
#include <optional>

namespace kelvaro {

// Where a pass takes the date and time from; tests hand in a fixed or scripted clock.
using Clock = std::function<QDateTime()>;
// The local wall clock.
QDateTime systemClock();

// Value text of a field: decimal, unsigned, or empty for "None", an empty or unknown name
// (exact, case-sensitive match against Field_Names entries 1..25). A word is logged as
// its 16-bit pattern (0..65535), like its bytes, also when a hand-edited parameter file
// put a value outside that range into the image.
QString FieldValueText(const Kelv_Main& state, const QString& fieldName);

// The date written with `pattern`. Tokens, matched greedily left to right: YYYY or yyyy
// (four-digit year), YY (two-digit year), DD or dd (day, two digits), D (day without a
// leading zero), MM or mm (month, two digits), M (month without a leading zero). Every
// other character, including a single lower-case d, m or y, stands for itself.
QString formatLogDate(const QString& pattern, const QDate& date);

// The token of the date pattern at the start of `rest`, by the rules above, and how many
// characters of the pattern it takes; Literal for a character that stands for itself.
// formatLogDate and the history's reading of file names back both walk a pattern with it.
enum class LogDateToken
{
    Year4,
    Year2,
    Day2,
    Day,
    Month2,
    Month,
    Literal
};
LogDateToken logDateToken(QStringView rest, qsizetype* length);

// The time of a log line: "hh:mm:ss", 24-hour clock, whatever the locale.
QString formatLogTime(const QTime& time);

// The log file name for `date` ("07-12-2026.txt"), or why the pattern does not make a
// plain file name in the working folder (empty, a path separator, "." or "..", control
// characters, not valid text, longer than 200 UTF-8 bytes, or characters the file
// system refuses), as a clause for the operator's message ("it contains a folder
// separator ...").
Outcome<QString> logFileName(const QString& pattern, const QDate& date);

// Appends `line` without its last character (the trailing ","), then CR LF, as UTF-8 to
// <folder>/<fileName>; the file is created when missing. Writes the whole line or, when
// the write fails midway, cuts the file back to its previous size. Refuses a name that is
// not a plain file name, a symbolic link (never followed, wherever it points), and
// anything that is not a regular file. Never throws; failures come back with a reason.
FileResult AppendLogLine(const QString& folder, const QString& fileName, const QString& line);

struct LogPass
{
    bool wrote = false; // a line was appended
    FileResult result;  // failure of the file name or the append, for the operator; only
                        // set when a line was due, so an unusable pattern is not reported
                        // while the chosen event writes nothing
};

// One pass of the recorder over the current image and logging settings, in `folder`.
// The clock is read once: the date of the file name and the time of the line come from
// the same reading, so a pass that straddles midnight cannot pair one day's date with
// the next day's time. The previous values are tracked in every pass, whether or not a
// line is due and whether or not it could be written.
LogPass LogTick(Kelv_Main& state, const QString& folder, const Clock& clock = systemClock);

// Logging on/off, as the "Start" menu entry and the status bar show it.
inline const QString LogStatusActive = QStringLiteral("Logging Status: Active");
inline const QString LogStatusDisable = QStringLiteral("Logging Status: Disable");
inline const QString LogStatusActivate = QStringLiteral("Logging Status: Activate");

struct LogSwitch
{
    bool checked = false;
    QString statusText;
    bool operator==(const LogSwitch&) const = default;
};

// The state at start-up: checked with "Activate" when Log_Active equals 1, otherwise
// unchecked with "Disable".
LogSwitch loggingAtStartup(const Settings_Record& settings);
// The "Start" menu entry. Logging that is off (Log_Active not equal to 1: 0, unset, or a
// stray value from a hand-edited file) is switched on: Log_Active = 1, checked, "Active".
// Logging that is on is switched off: Log_Active = 0, unchecked, "Disable". The caller
// saves the settings.
LogSwitch toggleLogging(Settings_Record& settings);
// The gate of the refresh tick: Log_Active equals 1 and the boxes hold board data.
bool loggingDue(const Settings_Record& settings, bool Inputs_Loaded);

} // namespace kelvaro
