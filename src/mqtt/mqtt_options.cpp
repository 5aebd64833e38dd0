#include "mqtt/mqtt_options.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace kelvaro::mqtt {

Outcome<BrokerAddress> parseBrokerUrl(const QString& url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    BrokerAddress address;
    if (!parsed.isValid() || parsed.host().isEmpty())
        return failure(QStringLiteral("\"%1\" is not a broker URL: mqtt://[user@]host[:port] "
                                      "or mqtts://[user@]host[:port]")
                           .arg(url));
    if (parsed.scheme() == QLatin1String("mqtts"))
        address.tls = true;
    else if (parsed.scheme() != QLatin1String("mqtt"))
        return failure(QStringLiteral("\"%1\": the scheme must be mqtt:// or mqtts://").arg(url));
    if (!parsed.password().isEmpty() || parsed.userInfo().contains(u':'))
        return failure(QStringLiteral("\"%1\": no password in the URL; give it with "
                                      "--mqtt-password-file")
                           .arg(url));
    if (!parsed.path().isEmpty() || parsed.hasQuery() || parsed.hasFragment())
        return failure(
            QStringLiteral("\"%1\": a broker URL has no path, query or fragment").arg(url));
    const int defaultPort = address.tls ? 8883 : 1883;
    address.port = parsed.port(defaultPort);
    if (address.port < 1 || address.port > 65535)
        return failure(QStringLiteral("\"%1\": the port must be 1 to 65535").arg(url));
    address.user = parsed.userName();
    address.host = parsed.host();
    return address;
}

Outcome<QString> checkBoardId(const QString& id)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    if (!allowed.match(id).hasMatch())
        return failure(QStringLiteral("the board id \"%1\" must be 1 to 64 letters, digits, _ "
                                      "and -")
                           .arg(id));
    return id;
}

QString boardIdFromDevice(const QString& device)
{
    QString id = QFileInfo(device).fileName().left(64);
    for (QChar& c : id) {
        const bool plain = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
                           (c >= u'0' && c <= u'9') || c == u'_' || c == u'-';
        if (!plain)
            c = u'_';
    }
    return id.isEmpty() ? QStringLiteral("board") : id;
}

Outcome<QString> readPasswordFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("the password file %1 cannot be read: %2")
                           .arg(path, file.errorString()));
    if (file.permissions() & QFileDevice::ReadOther)
        return failure(QStringLiteral("the password file %1 can be read by every user; "
                                      "chmod o-r it")
                           .arg(path));
    // One line; a file of a megabyte is no password file.
    const QByteArray line = file.read(4096).split('\n').constFirst();
    const QString password = QString::fromUtf8(line.endsWith('\r') ? line.chopped(1) : line);
    if (password.isEmpty())
        return failure(QStringLiteral("the password file %1 holds no password").arg(path));
    return password;
}

} // namespace kelvaro::mqtt
