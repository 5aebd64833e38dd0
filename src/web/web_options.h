#pragma once
// kelvaro-web's command line: what to serve and where, or one change to the users or the
// tokens file. Read without touching any file, so every rule of the line is tested alone.

#include "core/outcome.h"
#include "web/users_file.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <optional>

namespace kelvaro::web {

inline constexpr quint16 DefaultWebPort = 8640;

struct WebOptions
{
    enum class Command
    {
        Serve,
        AddUser,
        RemoveUser,
        AddToken,
        RevokeToken,
        Help,
        Version
    };
    Command command = Command::Serve;
    QHostAddress listenAddress{QHostAddress::LocalHost};
    quint16 port = DefaultWebPort;
    QStringList sockets;   // empty: found in the run folder and the current folder
    QString usersPath;     // empty: no users file
    QString tokensPath;    // the users file's path and ".tokens" unless given
    QStringList hostNames; // further names the Host header may carry
    QString publicUrl;     // a reverse proxy's address for the page ("https://heating.example.org")
    QString tlsCert;
    QString tlsKey;
    QString name; // the user to add or remove, or to make a token for; the token's id
    Role role = Role::Viewer;

    bool tls() const { return !tlsCert.isEmpty(); }
    // The listen address as the Host checks take it ("127.0.0.1", "::1", "0.0.0.0").
    QString listenText() const { return listenAddress.toString(); }
};

// `arguments` without the program's name. A refusal says what to write instead.
Outcome<WebOptions> readWebOptions(const QStringList& arguments);

// "ADDR:PORT" or "[V6]:PORT" (a port alone listens on loopback).
Outcome<std::pair<QHostAddress, quint16>> readListenAddress(const QString& text);

// Whether only this machine can reach the address.
bool isLoopback(const QHostAddress& address);

QString webUsage();

} // namespace kelvaro::web
