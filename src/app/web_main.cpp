// kelvaro-web: the board's page for browsers, on phones and other desks, and a small JSON
// API for scripts. A client of the recorders' local sockets and never of a serial line:
// whatever reaches it from the network reaches the board only through the recorder's own
// checks and its one write queue. Also adds and removes the page's users and the scripts'
// tokens.
//
// Exit codes: 0 done, 1 cannot listen, 2 bad usage, 78 the configuration is refused (the
// users or tokens file, the TLS files, a network address without users).

#include "app/quit_signals.h"
#include "core/version.h"
#include "service/service_address.h"
#include "web/api_tokens.h"
#include "web/board_hub.h"
#include "web/web_options.h"
#include "web/web_server.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTextStream>
#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

enum Exit
{
    Done = 0,
    CannotListen = 1,
    Usage = 2,
    Config = 78
};

using namespace kelvaro::web;

void say(const QString& text)
{
    const QByteArray bytes = (text + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

// One line of standard input; without echo when it is a terminal.
std::optional<QString> readSecret(const char* prompt)
{
    const bool terminal = isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    const bool read = bool(std::getline(std::cin, line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (!read)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}

int addUser(const WebOptions& options)
{
    const auto password = readSecret("Password: ");
    if (!password) {
        say(QStringLiteral("kelvaro-web: no password given"));
        return Usage;
    }
    if (isatty(STDIN_FILENO)) {
        const auto again = readSecret("The same again: ");
        if (again != password) {
            say(QStringLiteral("kelvaro-web: the two passwords differ; nothing changed"));
            return Usage;
        }
    }
    UsersFile users(options.usersPath);
    if (const auto set = users.setUser(options.name, options.role, *password); !set) {
        say(QStringLiteral("kelvaro-web: %1").arg(set.reason()));
        return Config;
    }
    say(QStringLiteral("kelvaro-web: %1 is a%2 %3 in %4")
            .arg(options.name, options.role == Role::Operator ? QStringLiteral("n") : QString(),
                 roleName(options.role), options.usersPath));
    return Done;
}

int changeFiles(const WebOptions& options)
{
    if (options.command == WebOptions::Command::AddUser)
        return addUser(options);
    if (options.command == WebOptions::Command::RemoveUser) {
        UsersFile users(options.usersPath);
        if (const auto removed = users.removeUser(options.name); !removed) {
            say(QStringLiteral("kelvaro-web: %1").arg(removed.reason()));
            return Config;
        }
        say(QStringLiteral("kelvaro-web: %1 removed; a running kelvaro-web ends their sessions "
                           "within seconds")
                .arg(options.name));
        return Done;
    }
    UsersFile users(options.usersPath);
    if (const auto loaded = users.load(); !loaded) {
        say(QStringLiteral("kelvaro-web: %1").arg(loaded.reason()));
        return Config;
    }
    ApiTokens tokens(options.tokensPath);
    if (const auto loaded = tokens.load(); !loaded) {
        say(QStringLiteral("kelvaro-web: %1").arg(loaded.reason()));
        return Config;
    }
    if (options.command == WebOptions::Command::AddToken) {
        if (!users.role(options.name)) {
            say(QStringLiteral("kelvaro-web: there is no user \"%1\" in %2")
                    .arg(options.name, options.usersPath));
            return Config;
        }
        const auto made = tokens.create(options.name);
        if (!made) {
            say(QStringLiteral("kelvaro-web: %1").arg(made.reason()));
            return Config;
        }
        // The token itself goes to standard output, once, for a script to keep.
        std::printf("%s %s\n", qPrintable(made->id), made->token.constData());
        say(QStringLiteral("kelvaro-web: a token for %1, id %2; it is not shown again")
                .arg(options.name, made->id));
        return Done;
    }
    if (const auto revoked = tokens.revoke(options.name); !revoked) {
        say(QStringLiteral("kelvaro-web: %1").arg(revoked.reason()));
        return Config;
    }
    say(QStringLiteral("kelvaro-web: token %1 revoked").arg(options.name));
    return Done;
}

std::optional<QSslConfiguration> readTls(const WebOptions& options, QString* error)
{
    QFile certFile(options.tlsCert);
    QFile keyFile(options.tlsKey);
    if (!certFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(options.tlsCert, certFile.errorString());
        return std::nullopt;
    }
    if (!keyFile.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(options.tlsKey, keyFile.errorString());
        return std::nullopt;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certFile.readAll(), QSsl::Pem);
    if (chain.isEmpty()) {
        *error = QStringLiteral("%1 holds no PEM certificate").arg(options.tlsCert);
        return std::nullopt;
    }
    const QByteArray keyBytes = keyFile.readAll();
    QSslKey key(keyBytes, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(keyBytes, QSsl::Ec, QSsl::Pem);
    if (key.isNull()) {
        *error = QStringLiteral("%1 holds no PEM private key (RSA or EC, not encrypted)")
                     .arg(options.tlsKey);
        return std::nullopt;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(chain.first());
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

} // namespace

int main(int argc, char* argv[])
{
    kelvaro::catchQuitSignals();
    QCoreApplication app(argc, argv);
    // Qt's own note on a refused WebSocket repeats the journal's line, without the reason.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.httpserver.warning=false"));
    QCoreApplication::setApplicationName(QStringLiteral("kelvaro-web"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const auto options = readWebOptions(arguments);
    if (!options) {
        say(QStringLiteral("kelvaro-web: %1").arg(options.reason()));
        return Usage;
    }
    switch (options->command) {
    case WebOptions::Command::Help:
        std::fputs(qPrintable(webUsage()), stdout);
        return Done;
    case WebOptions::Command::Version:
        std::printf("kelvaro-web %s\n", kelvaro::VersionText);
        return Done;
    case WebOptions::Command::Serve:
        break;
    default:
        return changeFiles(*options);
    }
    if (options->usersPath.isEmpty() && !isLoopback(options->listenAddress)) {
        say(QStringLiteral("kelvaro-web: %1 can be reached from other machines, which needs users: "
                           "add one with kelvaro-web --users FILE --add-user NAME --role operator, "
                           "then start with --users FILE")
                .arg(options->listenText()));
        return Config;
    }
    WebServerConfig config;
    config.listenAddress = options->listenAddress;
    config.port = options->port;
    config.hostNames = options->hostNames;
    config.publicUrl = options->publicUrl;
    config.usersPath = options->usersPath;
    config.tokensPath = options->tokensPath;
    if (options->tls()) {
        QString error;
        config.tls = readTls(*options, &error);
        if (!config.tls) {
            say(QStringLiteral("kelvaro-web: %1").arg(error));
            return Config;
        }
    }
    BoardHub hub(options->sockets, QLatin1String(kelvaro::service::RunFolder));
    WebServer server(config, hub);
    if (const auto started = server.start(); !started) {
        say(QStringLiteral("kelvaro-web: %1").arg(started.reason()));
        return started.reason().startsWith(u"cannot listen") ? CannotListen : Config;
    }
    hub.start();
    const QString scheme = options->tls() ? QStringLiteral("https") : QStringLiteral("http");
    QString host = options->listenText();
    if (options->listenAddress.protocol() == QAbstractSocket::IPv6Protocol)
        host = u'[' + host + u']';
    say(QStringLiteral("kelvaro-web %1: the page is at %2://%3:%4/")
            .arg(kelvaro::versionText(), scheme, host)
            .arg(server.port()));
    if (options->usersPath.isEmpty())
        say(QStringLiteral("kelvaro-web: no users file: only this machine can reach the page, and "
                           "whoever reaches it may operate the board"));
    kelvaro::installQuitSignals(&app, [] { QCoreApplication::quit(); });
    return app.exec();
}
