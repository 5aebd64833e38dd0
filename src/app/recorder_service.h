#pragma once
// The recorder's local socket, started beside its session: kept apart from the recorder's
// main() so the service is one call there.

#include "service/service_server.h"

#include <QString>
#include <functional>
#include <memory>

namespace kelvaro {

class BoardSession;

// The socket the recorder listens on when none is given: kelvaro.sock in the board folder.
QString defaultSocketPath(const QString& folder);

// Listens on `path` for local clients of `session`; tells the journal where, or why not
// (and then returns nothing: the recorder is not to start).
std::unique_ptr<service::ServiceServer>
startRecorderService(BoardSession& session, const QString& path,
                     const std::function<void(const QString&)>& tell);

} // namespace kelvaro
