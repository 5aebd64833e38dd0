#pragma once
// Whether the settings a program starts with can work: a port number that names a device,
// a usable baud rate and, with logging on, a file-name pattern, fields and an event that
// exist. Each finding names its line in Settings.txt. Settings that are valid but leave
// logging idle, or logging only the date and the time, are findings of their own (notes),
// so that a quiet log is explained once at start instead of being found out days later.

#include "core/settings_record.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace kelvaro {

// The line of the logging switch; the logging choices follow it.
inline constexpr int LogActiveLine = 19;

struct SettingsFinding
{
    int line = 0; // in Settings.txt, from 1
    QString text; // what is wrong or what follows from it, for the operator
    bool operator==(const SettingsFinding&) const = default;
};

struct StartSettingsCheck
{
    QList<SettingsFinding> faults; // values that cannot work
    QList<SettingsFinding> notes;  // valid values that leave logging idle or empty
};

// Checks `settings` for a start in `folder` on `today`. With `deviceGiven` the port is a
// device named directly and the port number is not used. `ownFiles` names further files
// of the program in the folder (the metrics file, the socket) that the log must not be
// written into; Settings.txt and Parameters.txt are always refused.
StartSettingsCheck checkStartSettings(const Settings_Record& settings, const QString& folder,
                                      bool deviceGiven, const QDate& today,
                                      const QStringList& ownFiles = {});

// Why logging that is switched on writes no line at all, or lines with no value (only the
// date and the time); none while it is off or writes values. The same words as the notes
// of the start check.
std::optional<QString> idleLoggingReason(const Settings_Record& settings);

// "Settings.txt line 3: baud rate 0 is not usable"
QString findingText(const SettingsFinding& finding);

} // namespace kelvaro
