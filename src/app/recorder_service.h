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

// Listens on `path` for local clients of `session`; tells the journal where, or why not.
// A socket that was asked for (`required`) and cannot be served ends the start: nothing is
// returned. So does the default socket, unless the board folder cannot hold it at all (a
// read-only folder): the recorder then answers the board all the same, serving no clients,
// and says so.
struct RecorderService
{
    bool refused = false;
    std::unique_ptr<service::ServiceServer> server;
};
RecorderService startRecorderService(BoardSession& session, const QString& path, bool required,
                                     const std::function<void(const QString&)>& tell);

} // namespace kelvaro
