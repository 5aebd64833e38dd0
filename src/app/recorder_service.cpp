#include "app/recorder_service.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

namespace kelvaro {

QString defaultSocketPath(const QString& folder)
{
    return QDir(folder).filePath(QStringLiteral("kelvaro.sock"));
}

RecorderService startRecorderService(BoardSession& session, const QString& path, bool required,
                                     const std::function<void(const QString&)>& tell)
{
    auto server =
        std::make_unique<service::ServiceServer>(session, QStringLiteral("kelvaro-recorder"), tell);
    const Outcome<void> listening = server->listen(path);
    if (!listening) {
        // Only a folder that cannot hold the socket at all is passed over; a link or a
        // foreign file at the path, or another service answering there, stops the start.
        const bool folderWritable =
            ::access(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), W_OK) == 0;
        if (required || folderWritable) {
            tell(QStringLiteral("not started: ") + listening.reason());
            return {true, nullptr};
        }
        tell(QStringLiteral("serving no local clients: ") + listening.reason());
        return {};
    }
    tell(QStringLiteral("serving local clients on %1").arg(path));
    return {false, std::move(server)};
}

} // namespace kelvaro
