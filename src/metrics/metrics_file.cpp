#include "metrics/metrics_file.h"

#include "store/file_replace.h"

#include <QFileInfo>

namespace kelvaro {

FileResult writeMetricsFile(const QString& path, const QByteArray& exposition)
{
    const QFileInfo file(path);
    return replaceFileAtomically(file.absolutePath(), file.fileName(), exposition,
                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                     QFileDevice::ReadGroup | QFileDevice::ReadOther);
}

} // namespace kelvaro
