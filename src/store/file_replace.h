#pragma once
// Replacing one of the store's files whole, so that a failure never leaves it half
// written: the bytes go to a temporary file in the same folder, which takes the old
// file's place only when every byte is on disk.

#include "store/file_result.h"

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <optional>

namespace kelvaro {

// Replaces <folder>/<fileName> with `bytes`. On failure the old file is left as it was
// and the reason names the file, the folder and the system's error. The new file keeps
// the old one's permissions (a new one gets the umask's), unless `permissions` are given.
FileResult replaceFileAtomically(const QString& folder, const QString& fileName,
                                 const QByteArray& bytes,
                                 std::optional<QFileDevice::Permissions> permissions = {});

// The folder as the operator knows it: absolute, with the system's separators.
QString folderForOperator(const QString& folder);

} // namespace kelvaro
