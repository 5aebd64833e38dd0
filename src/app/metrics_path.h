#pragma once
// Which files --metrics may replace. The metrics file is replaced whole at every write, so
// a path that names the board's own files (Settings.txt, Parameters.txt, a daily log
// file, a comN port link, the folder lock), a device node, a folder or a link would be
// destroyed at the first block. Only a regular file, or a new name in a folder that
// exists, is taken.

#include <QString>
#include <optional>

namespace kelvaro {

// Why `path` cannot be the metrics file of the board folder `folder`, whose log files are
// named by `logPattern`; no value when it can.
std::optional<QString> metricsPathProblem(const QString& path, const QString& folder,
                                          const QString& logPattern);

} // namespace kelvaro
