#pragma once
// "kelvaro-ctl bridge": the far end of an ssh connection to a recorder. Passes bytes both
// ways between standard input/output and the recorder's socket until either side closes.

#include <QString>

namespace kelvaro {

// The socket a bridge without --socket uses: the only recorder's under /run/kelvaro, or
// kelvaro.sock in the current folder when there is none. Empty, with the reason in `error`
// (naming every socket found), when that does not name one socket.
QString bridgeSocket(const QString& runFolder, QString* error);

// Runs the bridge on the socket at `path`. Returns the exit code: 0 when either side
// closed, 3 (with the reason in `error`) when no service answers on the socket.
int runBridge(const QString& path, QString* error);

} // namespace kelvaro
