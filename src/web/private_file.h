#pragma once
// Files that hold secrets (the users file, the tokens file): read only when nobody but
// their owner, the user running kelvaro-web, may read or write them, and rewritten whole
// and atomically with mode 0600.

#include "core/outcome.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

namespace kelvaro::web {

// The largest secrets file read; a users file of a few hundred users is far below it.
inline constexpr qint64 PrivateFileMaxBytes = 1024 * 1024;

// The contents of `path`, or nothing when there is no such file. Refused, saying what to
// do: a file that is not a regular file (a link is not followed), one whose owner is not
// `owner`, one whose mode lets the group or others in (the mode found and the chmod to
// run), one larger than PrivateFileMaxBytes. `what` names the file in the reasons.
Outcome<std::optional<QByteArray>> readPrivateFile(const QString& path, const QString& what,
                                                   uid_t owner);
// The same, owned by the user running this process.
Outcome<std::optional<QByteArray>> readPrivateFile(const QString& path, const QString& what);

// Replaces `path` with `contents` all at once (a crash leaves the old file or the new one,
// never half of one), with mode 0600; creates it when missing.
Outcome<void> writePrivateFile(const QString& path, const QString& what,
                               const QByteArray& contents);

} // namespace kelvaro::web
