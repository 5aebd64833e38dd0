#include "app/recorder_service.h"

#include <QDir>

namespace kelvaro {

QString defaultSocketPath(const QString& folder)
{
    return QDir(folder).filePath(QStringLiteral("kelvaro.sock"));
}

std::unique_ptr<service::ServiceServer>
startRecorderService(BoardSession& session, const QString& path,
                     const std::function<void(const QString&)>& tell)
{
    auto server =
        std::make_unique<service::ServiceServer>(session, QStringLiteral("kelvaro-recorder"), tell);
    const Outcome<void> listening = server->listen(path);
    if (!listening) {
        tell(QStringLiteral("not started: ") + listening.reason());
        return nullptr;
    }
    tell(QStringLiteral("serving local clients on %1").arg(path));
    return server;
}

} // namespace kelvaro
