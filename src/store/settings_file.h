#pragma once
// "Settings.txt": the positional 42-line file that mirrors Settings_Record.

#include "core/settings_record.h"
#include "store/file_result.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace kelvaro {

inline const QString SettingsFileName = QStringLiteral("Settings.txt");

// Reads <folder>/Settings.txt into `record`: the first item of each of the first 42 lines
// (a header's text is never compared), each line at most 64 KiB long, so a huge or
// endless file is not read whole. Reading stops at the first item that is missing or
// cannot be converted to its slot; what was read before it is kept, the rest keeps its
// current (start) value. A missing file changes nothing. Returns whether the whole record
// was read. Conversions:
//  - integer and real slots take a number ("." decimals; a fraction rounds half to even
//    into an integer, which must fit the slot), an empty item as 0, #TRUE#/#FALSE# as -1/0;
//    a quoted text, letters or an integer out of range stop the read;
//  - boolean slots take #TRUE#/#FALSE#, a number (nonzero is true), an empty item as false;
//  - text slots take the item's characters, quoted or not;
//  - loose slots take a quoted item as text, a number (or #TRUE#/#FALSE#) as a number, an
//    empty item as unset, any other unquoted item as text.
// Text is UTF-8 when the lines read are valid UTF-8, otherwise Windows-1252.
bool LoadSettings(Settings_Record& record, const QString& folder);

// How a read of Settings.txt ended.
struct SettingsRead
{
    enum class Kind
    {
        Whole,      // all 42 lines were read
        Missing,    // there is no Settings.txt; nothing was read
        Unreadable, // it cannot be opened or is no regular file; nothing was read
        Stopped     // reading stopped at `line`; the values before it were read
    };
    Kind kind = Kind::Whole;
    int line = 0;   // Stopped: the line reading stopped at, from 1
    QString reason; // Unreadable and Stopped: why, for the operator
};

// LoadSettings, saying how it ended. The file is opened without blocking and checked to be
// a regular file before anything is read from it, so a FIFO, a device or a folder put in
// its place is refused at once instead of hanging the start.
SettingsRead readSettingsFile(Settings_Record& record, const QString& folder);

// Replaces <folder>/Settings.txt atomically with `record`, written as UTF-8. Refused, with
// the field named in the reason, when a text holds a double quote or a line break, or a
// real is infinite or NaN: none of these reads back. On any failure (also a folder that
// cannot be written, a full disk) the old file is left as it was.
FileResult SaveSettings(const Settings_Record& record, const QString& folder);

// The file's bytes for `record` (CR LF lines, "." decimals), or, when a value cannot be
// written, why, naming the field.
Outcome<QByteArray> settingsFileBytes(const Settings_Record& record);
// A value of a record that Settings.txt cannot hold.
struct SettingsProblem
{
    int line = 0;      // its line in Settings.txt, from 1
    QString value;     // the value as held, to tell it from another unwritable value
    QString reason;    // for the operator: "The reader path contains a double quote ..."
    QString correctIn; // the menu path of the window that changes it; empty when none does
    bool operator==(const SettingsProblem&) const = default;
};

// Every value of `record` that SaveSettings would refuse, in file order; empty when the
// record can be written.
QList<SettingsProblem> settingsProblems(const Settings_Record& record);

// Parses file bytes as LoadSettings does.
bool parseSettings(Settings_Record& record, const QByteArray& bytes);
// The same, saying where and why reading stopped (never Missing or Unreadable).
SettingsRead parseSettingsRead(Settings_Record& record, const QByteArray& bytes);

} // namespace kelvaro
