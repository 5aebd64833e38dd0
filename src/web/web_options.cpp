#include "web/web_options.h"

#include "core/printable_text.h"
#include "web/request_checks.h"

#include <QRegularExpression>

namespace kelvaro::web {

namespace {

Failure refuse(const QString& reason)
{
    return Failure{reason};
}

bool isHostName(const QString& name)
{
    static const QRegularExpression shape(
        QStringLiteral("^(?=.{1,253}$)[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                       "(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*$"));
    return shape.match(name).hasMatch();
}

} // namespace

bool isLoopback(const QHostAddress& address)
{
    return address.isLoopback();
}

Outcome<std::pair<QHostAddress, quint16>> readListenAddress(const QString& text)
{
    static const QRegularExpression shape(
        QStringLiteral("^(?:(\\[[0-9A-Fa-f:.]+\\]|[0-9.]+|localhost):)?([0-9]{1,5})$"));
    const auto match = shape.match(text);
    const QString form = QStringLiteral("--listen wants ADDRESS:PORT, such as 127.0.0.1:8640, "
                                        "0.0.0.0:8640 or [::1]:8640, not \"%1\"")
                             .arg(printableText(text));
    if (!match.hasMatch())
        return refuse(form);
    QString host = match.captured(1);
    const int port = match.captured(2).toInt();
    if (port < 1 || port > 65535)
        return refuse(form);
    if (host.isEmpty() || host == u"localhost")
        host = QStringLiteral("127.0.0.1");
    const bool bracketed = host.startsWith(u'[');
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    QHostAddress address;
    if (!address.setAddress(host) ||
        (address.protocol() == QAbstractSocket::IPv6Protocol) != bracketed)
        return refuse(form);
    return std::pair{address, quint16(port)};
}

Outcome<WebOptions> readWebOptions(const QStringList& arguments)
{
    WebOptions options;
    bool tokensGiven = false;
    std::optional<WebOptions::Command> command;
    bool roleGiven = false;
    const auto setCommand = [&](WebOptions::Command wanted) -> Outcome<void> {
        if (command)
            return refuse(QStringLiteral("give one of --add-user, --remove-user, --add-token "
                                         "and --revoke-token at a time"));
        command = wanted;
        return {};
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        if (option == u"--help" || option == u"-h") {
            options.command = WebOptions::Command::Help;
            return options;
        }
        if (option == u"--version") {
            options.command = WebOptions::Command::Version;
            return options;
        }
        static const QStringList withValue{
            QStringLiteral("--listen"),    QStringLiteral("--socket"),
            QStringLiteral("--users"),     QStringLiteral("--tokens"),
            QStringLiteral("--host-name"), QStringLiteral("--tls-cert"),
            QStringLiteral("--tls-key"),   QStringLiteral("--add-user"),
            QStringLiteral("--role"),      QStringLiteral("--remove-user"),
            QStringLiteral("--add-token"), QStringLiteral("--revoke-token"),
            QStringLiteral("--public-url")};
        if (!withValue.contains(option))
            return refuse(
                QStringLiteral("unknown option \"%1\" (see --help)").arg(printableText(option)));
        if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty())
            return refuse(QStringLiteral("%1 needs a value").arg(option));
        const QString value = arguments[++i];
        if (option == u"--listen") {
            const auto listen = readListenAddress(value);
            if (!listen)
                return refuse(listen.reason());
            options.listenAddress = listen->first;
            options.port = listen->second;
        } else if (option == u"--socket") {
            options.sockets << value;
        } else if (option == u"--users") {
            options.usersPath = value;
        } else if (option == u"--tokens") {
            options.tokensPath = value;
            tokensGiven = true;
        } else if (option == u"--host-name") {
            if (!isHostName(value))
                return refuse(QStringLiteral("--host-name wants a name such as pi.local, without "
                                             "a port, not \"%1\"")
                                  .arg(printableText(value)));
            options.hostNames << value.toLower();
        } else if (option == u"--public-url") {
            if (!RequestChecks(QStringLiteral("127.0.0.1"), 1, false).addPublicOrigin(value))
                return refuse(
                    QStringLiteral("--public-url wants the address browsers open, such as "
                                   "https://heating.example.org, not \"%1\"")
                        .arg(printableText(value)));
            options.publicUrl = value;
        } else if (option == u"--tls-cert") {
            options.tlsCert = value;
        } else if (option == u"--tls-key") {
            options.tlsKey = value;
        } else if (option == u"--role") {
            const auto role = roleFromName(value);
            if (!role)
                return refuse(QStringLiteral("--role is viewer or operator, not \"%1\"")
                                  .arg(printableText(value)));
            options.role = *role;
            roleGiven = true;
        } else {
            const auto wanted = option == u"--add-user"      ? WebOptions::Command::AddUser
                                : option == u"--remove-user" ? WebOptions::Command::RemoveUser
                                : option == u"--add-token"   ? WebOptions::Command::AddToken
                                                             : WebOptions::Command::RevokeToken;
            if (const auto set = setCommand(wanted); !set)
                return refuse(set.reason());
            options.name = value;
        }
    }
    if (command)
        options.command = *command;
    if (options.tlsCert.isEmpty() != options.tlsKey.isEmpty())
        return refuse(QStringLiteral("TLS needs both --tls-cert and --tls-key"));
    if (roleGiven && options.command != WebOptions::Command::AddUser)
        return refuse(QStringLiteral("--role goes with --add-user"));
    if (options.command == WebOptions::Command::AddUser && !roleGiven)
        return refuse(QStringLiteral("--add-user needs --role viewer or --role operator"));
    if (options.command != WebOptions::Command::Serve && options.usersPath.isEmpty())
        return refuse(QStringLiteral("changing users or tokens needs --users FILE"));
    if ((options.command == WebOptions::Command::AddUser ||
         options.command == WebOptions::Command::RemoveUser) &&
        !isValidUserName(options.name))
        return refuse(QStringLiteral("a user's name is 1 to 32 of A-Z a-z 0-9 . _ -, not \"%1\"")
                          .arg(printableText(options.name)));
    if (!tokensGiven && !options.usersPath.isEmpty())
        options.tokensPath = options.usersPath + QStringLiteral(".tokens");
    return options;
}

QString webUsage()
{
    return QStringLiteral(
        "Usage: kelvaro-web [--listen ADDRESS:PORT] [--socket PATH]... [--users FILE]\n"
        "                   [--tokens FILE] [--host-name NAME]... [--public-url URL]\n"
        "                   [--tls-cert PEM --tls-key PEM]\n"
        "       kelvaro-web --users FILE --add-user NAME --role viewer|operator\n"
        "       kelvaro-web --users FILE --remove-user NAME\n"
        "       kelvaro-web --users FILE [--tokens FILE] --add-token USER\n"
        "       kelvaro-web --users FILE [--tokens FILE] --revoke-token ID\n"
        "\n"
        "Serves the board's page to browsers and a JSON API to scripts, as a client of the\n"
        "recorders' sockets (every /run/kelvaro/*/kelvaro.sock and ./kelvaro.sock unless\n"
        "--socket names them). Listens on 127.0.0.1:8640 unless --listen says otherwise;\n"
        "anything but a loopback address needs --users. Without --users anyone who reaches\n"
        "the loopback address may operate the board.\n"
        "\n"
        "  --listen ADDRESS:PORT  where to listen (127.0.0.1:8640, 0.0.0.0:8640, [::1]:8640)\n"
        "  --socket PATH          a recorder's socket (repeat for several boards)\n"
        "  --users FILE           the users and their roles (NAME:ROLE:HASH, mode 0600)\n"
        "  --tokens FILE          the scripts' tokens (default: the users file and .tokens)\n"
        "  --host-name NAME       a further name browsers reach this server by (pi.local)\n"
        "  --public-url URL       the address browsers open when a reverse proxy serves the\n"
        "                         page (https://heating.example.org)\n"
        "  --tls-cert PEM, --tls-key PEM\n"
        "                         serve HTTPS with this certificate and key\n"
        "  --add-user NAME --role viewer|operator\n"
        "                         add a user or change one's role and password (asked on\n"
        "                         the terminal, or one line of standard input)\n"
        "  --remove-user NAME     remove a user and end their sessions\n"
        "  --add-token USER       make a token for scripts; printed once as \"ID TOKEN\"\n"
        "  --revoke-token ID      revoke a token\n"
        "  --version, --help\n");
}

} // namespace kelvaro::web
