#include "service/service_address.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QUrl>
#include <algorithm>

namespace kelvaro::service {

namespace {

constexpr QStringView Scheme = u"ssh://";

} // namespace

QString ServiceAddress::label() const
{
    if (!overSsh())
        return socketPath;
    const QString where = user.isEmpty() ? host : user + u'@' + host;
    if (!device.isEmpty())
        return QStringLiteral("%1 on %2").arg(device, where);
    // A socket's own path is named by its folder, as the board folder's name ("east").
    if (!socketPath.isEmpty())
        return QStringLiteral("%1 on %2").arg(QFileInfo(socketPath).dir().dirName(), where);
    return where;
}

bool isSshAddress(const QString& text)
{
    return text.startsWith(Scheme, Qt::CaseInsensitive);
}

Outcome<ServiceAddress> parseServiceAddress(const QString& text)
{
    ServiceAddress address;
    address.text = text;
    if (!isSshAddress(text)) {
        if (text.isEmpty())
            return failure(QStringLiteral("the address of a recorder's socket is empty"));
        address.socketPath = QDir::current().absoluteFilePath(text);
        return address;
    }
    const auto refuse = [&text](const QString& why) {
        return failure(QStringLiteral("\"%1\" is not an ssh address of a recorder: %2; write "
                                      "ssh://[user@]host[:port][/DEVICE or /PATH]")
                           .arg(text, why));
    };
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return refuse(QStringLiteral("it is no valid address"));
    if (url.host().isEmpty())
        return refuse(QStringLiteral("no host"));
    if (!url.password().isEmpty())
        return refuse(QStringLiteral("a password has no place in it (ssh asks, or uses keys)"));
    if (url.hasQuery() || url.hasFragment())
        return refuse(QStringLiteral("it has a query or a fragment"));
    address.host = url.host();
    address.user = url.userName();
    // ssh would take a name that begins with "-" for an option.
    if (address.host.startsWith(u'-') || address.user.startsWith(u'-'))
        return refuse(QStringLiteral("a host or user may not begin with \"-\""));
    const int port = url.port(-1); // a port above 65535 already made the address invalid
    if (port == 0)
        return refuse(QStringLiteral("the port must be 1-65535"));
    address.port = std::max(port, 0);

    QString path = url.path(QUrl::FullyDecoded);
    while (path.endsWith(u'/') && path.size() > 1)
        path.chop(1);
    if (path.isEmpty() || path == u"/")
        return address; // the only recorder there
    const QString name = path.mid(1);
    if (!name.contains(u'/')) {
        if (name == u"." || name == u"..")
            return refuse(QStringLiteral("\"%1\" is no device").arg(name));
        address.device = name;
        address.socketPath =
            QStringLiteral("%1/%2/kelvaro.sock").arg(QLatin1String(RunFolder), name);
    } else {
        address.socketPath = path;
    }
    return address;
}

SshCommand sshCommand(const ServiceAddress& address, bool batchMode, bool keepAlive)
{
    SshCommand command;
    command.program = QStringLiteral("ssh");
    command.arguments << QStringLiteral("-T");
    if (batchMode)
        command.arguments << QStringLiteral("-o") << QStringLiteral("BatchMode=yes");
    if (keepAlive)
        command.arguments << QStringLiteral("-o") << QStringLiteral("ConnectTimeout=10")
                          << QStringLiteral("-o") << QStringLiteral("ServerAliveInterval=10")
                          << QStringLiteral("-o") << QStringLiteral("ServerAliveCountMax=3");
    if (address.port > 0)
        command.arguments << QStringLiteral("-p") << QString::number(address.port);
    if (!address.user.isEmpty())
        command.arguments << QStringLiteral("-l") << address.user;
    QString remote = QStringLiteral("kelvaro-ctl");
    if (!address.socketPath.isEmpty())
        remote += QStringLiteral(" --socket ") + shellQuoted(address.socketPath);
    remote += QStringLiteral(" bridge");
    command.arguments << QStringLiteral("--") << address.host << remote;
    // Another ssh, or ssh with options, is run by the shell, which reads its quotes.
    const QString own =
        QProcessEnvironment::systemEnvironment().value(QStringLiteral("KELVARO_SSH_COMMAND"));
    if (!own.trimmed().isEmpty()) {
        command.arguments.prepend(QStringLiteral("ssh"));
        command.arguments.prepend(own + QStringLiteral(" \"$@\""));
        command.arguments.prepend(QStringLiteral("-c"));
        command.program = QStringLiteral("/bin/sh");
    }
    return command;
}

QString sshFailure(const ServiceAddress& address, int exitCode, bool crashed,
                   const QByteArray& errors, bool wasConnected)
{
    // ssh frames its warnings in lines of "@"; those and blank lines say nothing.
    QStringList lines;
    for (const QByteArray& raw : errors.split('\n')) {
        QString line = QString::fromLocal8Bit(raw).trimmed();
        while (line.startsWith(u'@') || line.endsWith(u'@'))
            line = line.startsWith(u'@') ? line.mid(1).trimmed() : line.chopped(1).trimmed();
        if (!line.isEmpty())
            lines << line;
    }
    const QString last = lines.isEmpty() ? QString() : lines.last();
    const QString host = address.host;
    if (crashed)
        return QStringLiteral("the connection to %1 ended: ssh stopped (%2)")
            .arg(host, last.isEmpty() ? QStringLiteral("killed") : last);
    if (exitCode == 255) {
        // ssh's own failure. A changed host key is said first: the last line alone
        // ("Host key verification failed.") does not tell it from an unknown host.
        for (const QString& line : std::as_const(lines)) {
            if (line.contains(QStringLiteral("IDENTIFICATION HAS CHANGED"))) {
                return QStringLiteral("ssh refused %1: the host's key has changed (ssh: %2 %3) "
                                      "If the host was set up again, remove its old key with "
                                      "ssh-keygen -R.")
                    .arg(host, line, last);
            }
        }
        return (wasConnected ? QStringLiteral("the connection to %1 was lost (ssh: %2)")
                             : QStringLiteral("ssh could not connect to %1: %2"))
            .arg(host, last.isEmpty() ? QStringLiteral("no reason given") : last);
    }
    if (exitCode == 127)
        return QStringLiteral("kelvaro-ctl is not installed on %1, or not on the PATH of its ssh "
                              "sessions (%2)")
            .arg(host, last);
    // A kelvaro-ctl from before the bridge refuses the command as bad usage.
    if (exitCode == 2)
        return QStringLiteral("the kelvaro-ctl on %1 does not take the bridge command: is it "
                              "older than this program? (%2)")
            .arg(host, last);
    // The bridge's own words ("kelvaro-ctl: no service answers on ...").
    QString said = last;
    if (said.startsWith(QStringLiteral("kelvaro-ctl: ")))
        said = said.mid(13);
    if (exitCode == 0)
        return QStringLiteral("the service on %1 closed the connection").arg(host);
    return QStringLiteral("on %1: %2")
        .arg(host, said.isEmpty() ? QStringLiteral("the far side ended with "
                                                   "exit code %1")
                                        .arg(exitCode)
                                  : said);
}

QString shellQuoted(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

} // namespace kelvaro::service
