#pragma once
// What kelvaro-recorder settles before it touches the line: the standard streams, the
// folder lock (one recorder per folder), the settings it runs on and the metrics path. Settings
// that cannot work are named with their line in Settings.txt and end the start with
// SettingsErrorStatus instead of a retry that can never succeed; a folder without Settings.txt gets
// the starting settings (written there when the folder allows, used in memory when not); settings
// that leave logging idle are told once.

#include "app/folder_lock.h"
#include "core/settings_record.h"

#include <QString>
#include <functional>
#include <optional>

namespace kelvaro {

// EX_CONFIG of sysexits.h: the unit does not restart the recorder after it.
inline constexpr int SettingsErrorStatus = 78;

// Opens /dev/null on any of stdin, stdout and stderr that is closed, so that a descriptor
// opened later (the serial port, a log file) can never be one of them and receive the
// journal's lines.
void keepStandardStreams();

using JournalWriter = std::function<void(const QString& line)>;

// Fills `settings` for the start in `folder` as described above and tells what it did;
// 0 to go on, or SettingsErrorStatus. Settings.txt is only read, never changed, unless it
// is missing.
int prepareRecorderSettings(Settings_Record& settings, const QString& folder, bool deviceGiven,
                            const JournalWriter& tell);

// All of the start's checks, in this order: `lock` taken on `folder` (held by another
// recorder: status 1; a folder where no lock file can be made is told and run without),
// the settings as above, and `metricsPath` (when given) checked with
// metricsPathProblem (status 2). 0 to go on; otherwise the status to end with, the reason
// told.
int prepareRecorder(const QString& folder, bool deviceGiven,
                    const std::optional<QString>& metricsPath, FolderLock& lock,
                    Settings_Record& settings, const JournalWriter& tell);

} // namespace kelvaro
