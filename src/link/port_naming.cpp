#include "link/port_naming.h"

#include <QDir>
#include <QFileInfo>

namespace kelvaro {

namespace {

struct DeviceRange
{
    int firstPort;
    const char* prefix;
};

inline constexpr int PortsPerRange = 32;
inline constexpr DeviceRange DeviceRanges[] = {
    {1, "/dev/ttyS"},
    {33, "/dev/ttyUSB"},
    {65, "/dev/ttyACM"},
};

} // namespace

QString portDeviceName(int port, const QString& folder)
{
    if (port < 1)
        return {};
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    return port <= 255 ? QStringLiteral("COM%1").arg(port) : QString();
#else
    // Absolute, because QSerialPort reads a name without a leading "/" or "./" as a
    // name under /dev.
    const QString entry = QDir(folder).absoluteFilePath(QStringLiteral("com%1").arg(port));
    const QFileInfo info(entry);
    if (info.isSymLink() || info.exists())
        return entry;
    for (const DeviceRange& range : DeviceRanges) {
        if (port >= range.firstPort && port < range.firstPort + PortsPerRange)
            return QLatin1String(range.prefix) + QString::number(port - range.firstPort);
    }
    return {};
#endif
}

} // namespace kelvaro
