#pragma once
// "Settings.txt": the positional 42-line file that mirrors Settings_Record.

#include "core/settings_record.h"
#include "store/file_result.h"

#include <QByteArray>
#include <QString>

namespace kelvaro {

inline const QString SettingsFileName = QStringLiteral("Settings.txt");

// Reads <folder>/Settings.txt into `record`. Reading stops at the first item that is
// missing or cannot be converted to its slot; what was read before it is kept, the rest
// keeps its current (start) value. A missing file changes nothing. Returns whether the
// whole record was read.
bool LoadSettings(Settings_Record& record, const QString& folder);

// Replaces <folder>/Settings.txt atomically with `record`. On failure (a text holding a
// double quote, a folder that cannot be written, a full disk) the old file is left as it
// was and the reason is returned.
FileResult SaveSettings(const Settings_Record& record, const QString& folder);

// The file's bytes for `record` (CR LF lines, "." decimals); empty when a text cannot be
// written, with `error` naming the field.
QByteArray settingsFileBytes(const Settings_Record& record, QString* error = nullptr);
// Parses file bytes as LoadSettings does.
bool parseSettings(Settings_Record& record, const QByteArray& bytes);

} // namespace kelvaro
