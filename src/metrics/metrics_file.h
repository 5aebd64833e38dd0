#pragma once
// Publishing the metrics text: the file is replaced whole, so a reader such as
// node_exporter sees the complete old or the complete new exposition, never a part.

#include "store/file_result.h"

#include <QByteArray>
#include <QString>

namespace kelvaro {

// Replaces the file at `path` with `exposition`. The file is readable by everyone
// (0644) whatever the process's umask: the exporter that reads it runs as another user,
// and it holds nothing that the board's display does not show. The temporary file it is
// written to does not end in ".prom", so the textfile collector never reads it half
// written. It is not synced to disk: a snapshot rewritten every second is not worth a
// flash write per block. On failure the old file stays and the reason names the file.
FileResult writeMetricsFile(const QString& path, const QByteArray& exposition);

} // namespace kelvaro
