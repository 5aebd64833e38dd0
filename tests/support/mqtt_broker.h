#pragma once
// A real Mosquitto broker for one test: its own folder, configuration and password file,
// anonymous clients refused, on a loopback port free when it starts (kept across a
// restart), optionally with TLS. And a client that records what the broker delivers and
// whether it came retained.

#include "mqtt/mqtt_client.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <pwd.h>
#include <unistd.h>

namespace kelvaro::test {

inline QString systemProgram(const QString& name)
{
    return QStandardPaths::findExecutable(
        name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin")});
}

class MqttBroker
{
public:
    static inline const QString User = QStringLiteral("kelvaro");
    static inline const QString Password = QStringLiteral("board-pass");

    explicit MqttBroker(QString folder) : m_folder(std::move(folder)) {}
    ~MqttBroker() { kill(); }

    // TLS on the listener with these PEM files (all in the folder); set before start().
    void useTls(const QString& ca, const QString& cert, const QString& key)
    {
        m_tls = QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\n").arg(ca, cert, key);
    }

    // Starts the broker on a free port (the same one again after kill()); false, with
    // error() saying why, when it does not listen within a few seconds.
    bool start()
    {
        const QString passwords = path(QStringLiteral("passwords"));
        if (!QFile::exists(passwords) &&
            QProcess::execute(
                systemProgram(QStringLiteral("mosquitto_passwd")),
                {QStringLiteral("-c"), QStringLiteral("-b"), passwords, User, Password}) != 0) {
            m_error = QStringLiteral("mosquitto_passwd failed");
            return false;
        }
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (m_port == 0 || attempt > 0)
                m_port = freePort();
            writeConfig(passwords);
            m_process.setProcessChannelMode(QProcess::MergedChannels);
            m_process.start(systemProgram(QStringLiteral("mosquitto")),
                            {QStringLiteral("-c"), path(QStringLiteral("mosquitto.conf"))});
            if (!m_process.waitForStarted(5000)) {
                m_error = m_process.errorString();
                return false;
            }
            if (QTest::qWaitFor([&] { return listening(); }, 5000))
                return true;
            m_error = QString::fromLocal8Bit(m_process.readAll());
            kill();
        }
        return false;
    }

    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    int port() const { return m_port; }
    QString error() const { return m_error; }
    QString path(const QString& name) const { return QDir(m_folder).filePath(name); }

    // A password file for the recorder, readable by its owner only.
    QString passwordFile(const QString& password = Password) const
    {
        const QString name = path(QStringLiteral("recorder-password"));
        QFile file(name);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(password.toUtf8() + '\n');
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return name;
    }

private:
    static int freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    bool listening()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        return socket.waitForConnected(200);
    }

    void writeConfig(const QString& passwords)
    {
        QFile config(path(QStringLiteral("mosquitto.conf")));
        config.open(QIODevice::WriteOnly | QIODevice::Truncate);
        // Started as root, Mosquitto would switch to its own user, who cannot read here.
        const passwd* me = ::getpwuid(::geteuid());
        config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous false\n"
                                    "password_file %2\npersistence false\nuser %3\n%4")
                         .arg(m_port)
                         .arg(passwords, QString::fromLocal8Bit(me ? me->pw_name : "nobody"), m_tls)
                         .toUtf8());
    }

    QString m_folder;
    QString m_tls;
    QProcess m_process;
    int m_port = 0;
    QString m_error;
};

// A client of the broker that subscribes to everything and keeps what arrives.
class MqttWatcher
{
public:
    explicit MqttWatcher(const MqttBroker& broker, const QString& id = QStringLiteral("watcher"))
        : m_client(mqtt::ClientConfig{
              {false, MqttBroker::User, QStringLiteral("127.0.0.1"), broker.port()},
              MqttBroker::Password,
              {},
              id,
              {},
              {}})
    {
        QObject::connect(&m_client, &mqtt::MqttClient::connected, &m_client,
                         [this] { m_client.subscribe(QStringLiteral("#")); });
        QObject::connect(&m_client, &mqtt::MqttClient::messageReceived, &m_client,
                         [this](const QString& topic, const QByteArray& payload, bool retained) {
                             m_last.insert(topic, payload);
                             m_all.append({topic, payload});
                             m_retained.insert(topic, retained);
                         });
    }
    ~MqttWatcher() { m_client.stop({}, {}); }

    bool start() { return bool(m_client.start()); }

    // Waits until `topic` holds `payload` (any payload when empty).
    bool waitFor(const QString& topic, const QByteArray& payload = {}, int timeoutMs = 10000)
    {
        return QTest::qWaitFor(
            [&] {
                return m_last.contains(topic) && (payload.isEmpty() || m_last[topic] == payload);
            },
            timeoutMs);
    }
    // How many messages arrived on `topic`.
    qsizetype count(const QString& topic) const
    {
        return std::count_if(m_all.begin(), m_all.end(),
                             [&](const auto& message) { return message.first == topic; });
    }
    // Whether the last message on `topic` came as one the broker kept (a watcher started
    // after it was published sees retained messages only).
    bool retained(const QString& topic) const { return m_retained.value(topic); }
    void forget()
    {
        m_last.clear();
        m_all.clear();
        m_retained.clear();
    }
    const QHash<QString, QByteArray>& last() const { return m_last; }
    mqtt::MqttClient& client() { return m_client; }

private:
    mqtt::MqttClient m_client;
    QHash<QString, QByteArray> m_last;
    QList<std::pair<QString, QByteArray>> m_all;
    QHash<QString, bool> m_retained;
};

} // namespace kelvaro::test
