#include "metrics/metrics_file.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kelvaro {

FileResult writeMetricsFile(const QString& path, const QByteArray& exposition)
{
    const QFileInfo file(path);
    const auto failure = [&](const QString& why) {
        return FileResult::failure(
            QStringLiteral("%1 could not be written: %2. The previous file is unchanged.")
                .arg(QDir::toNativeSeparators(file.absoluteFilePath()), why));
    };
    // Beside the file, so the rename stays on one file system; a dot name ending in
    // random letters, never in ".prom".
    QTemporaryFile temporary(file.absolutePath() + QStringLiteral("/.") + file.fileName() +
                             QStringLiteral(".XXXXXX"));
    if (!temporary.open())
        return failure(temporary.errorString());
    if (!temporary.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ReadGroup | QFileDevice::ReadOther))
        return failure(temporary.errorString());
    if (temporary.write(exposition) != exposition.size() || !temporary.flush())
        return failure(temporary.errorString());
    temporary.close();
    // Renamed without syncing to disk first: a metrics file is a snapshot, rewritten within
    // a second; after a crash an empty or old one is harmless, while a sync per block would
    // wear an SD card all day. The rename still keeps readers from seeing half a file.
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(),
                    QFile::encodeName(file.absoluteFilePath()).constData()) != 0)
        return failure(QString::fromLocal8Bit(std::strerror(errno)));
    temporary.setAutoRemove(false);
    return FileResult::success();
}

} // namespace kelvaro
