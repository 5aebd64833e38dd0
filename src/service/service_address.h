#pragma once
// Where a client finds the recorder's service: the path of a local socket, or an ssh
// address, ssh://[user@]host[:port][/DEVICE or /PATH], whose far side runs
// "kelvaro-ctl bridge" under the user's own ssh (its config, keys, agent and known hosts).

#include "core/outcome.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kelvaro::service {

// The folder the recorder's systemd unit keeps one socket per device in.
inline constexpr char RunFolder[] = "/run/kelvaro";

struct ServiceAddress
{
    QString text;       // as given, for messages
    QString socketPath; // local: the socket; ssh: the far side's, empty for the only one there
    QString user;       // ssh only; empty for ssh's own choice
    QString host;       // empty for a local socket
    int port = 0;       // 0: ssh's own choice
    QString device;     // ssh with /DEVICE: the device's name, for titles

    bool overSsh() const { return !host.isEmpty(); }
    // What a title or a status panel names: "ttyUSB0 on pi", "east on pi" for a socket in
    // the folder east, "pi" for the only recorder there, or a local socket's path.
    QString label() const;
};

// True for a text that is meant as an ssh address (it begins with "ssh://").
bool isSshAddress(const QString& text);

// Reads an address. A text without "ssh://" is a local socket's path (made absolute against
// the current folder); an ssh address is refused when it is not one ssh can be given
// safely: no host, a host or user that begins with "-", a port outside 1-65535, a password,
// a query, or a device named "." or "..".
Outcome<ServiceAddress> parseServiceAddress(const QString& text);

// The program and arguments that reach the far side's service: the user's ssh (or
// KELVARO_SSH_COMMAND, run by /bin/sh, for another ssh or its options), -T, and
// "kelvaro-ctl [--socket PATH] bridge" as the command. `batchMode` keeps ssh from asking
// for passwords or host-key confirmations (scripts); `keepAlive` has ssh give up a host
// that does not answer within 10 s and notice a lost connection within about 30 s (the
// window, which then tries again).
struct SshCommand
{
    QString program;
    QStringList arguments;
};
SshCommand sshCommand(const ServiceAddress& address, bool batchMode, bool keepAlive);

// Why a connection through ssh ended, in words an operator can act on, from ssh's exit
// code and the end of what it (and the far side's kelvaro-ctl) wrote to standard error:
// ssh's own last line (host unknown, key changed, permission denied), kelvaro-ctl missing
// on the far side (the shell's 127), no recorder there (the bridge's own message), or the
// connection lost after `wasConnected`.
QString sshFailure(const ServiceAddress& address, int exitCode, bool crashed,
                   const QByteArray& errors, bool wasConnected);

// `text` as one word for a POSIX shell: in single quotes, with any single quote closed,
// escaped and reopened.
QString shellQuoted(const QString& text);

} // namespace kelvaro::service
