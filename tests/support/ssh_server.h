#pragma once
// A real OpenSSH server for tests: Debian's sshd on a free loopback port, with its own host
// key, configuration and authorized keys, for the user the test runs as, and an ssh client
// configuration that knows only this server. Two keys let the user in: one whose sessions
// find the build's kelvaro-ctl on their PATH, and one whose sessions find no kelvaro-ctl.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace kelvaro::test {

class SshServer
{
public:
    static constexpr char SshdPath[] = "/usr/sbin/sshd";

    ~SshServer() { stop(); }

    // Sets up keys and configuration and starts sshd; `remotePath` is the PATH of the
    // sessions of the usual key. On failure, error() says why.
    bool start(const QString& remotePath)
    {
        if (!QFileInfo::exists(QLatin1String(SshdPath)))
            return fail(QStringLiteral("no %1 (Debian package openssh-server)")
                            .arg(QLatin1String(SshdPath)));
        if (!m_dir.isValid())
            return fail(QStringLiteral("no temporary folder"));
        for (const char* key : {"host_key", "other_host_key", "client_key", "bare_key"}) {
            if (!run(QStringLiteral("ssh-keygen"),
                     {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                      QStringLiteral("-N"), QStringLiteral(""), QStringLiteral("-f"), file(key)}))
                return false;
        }
        // sshd run as root wants its privilege separation folder.
        if (::geteuid() == 0)
            QDir().mkpath(QStringLiteral("/run/sshd"));
        m_port = freePort();
        write("authorized_keys",
              QStringLiteral("environment=\"PATH=%1\" %2environment=\"PATH=/nonexistent\" %3")
                  .arg(remotePath, read("client_key.pub"), read("bare_key.pub")));
        write("sshd_config", QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\n"
                                            "AuthorizedKeysFile %3\nPidFile %4\n"
                                            "PermitUserEnvironment PATH\nStrictModes no\n"
                                            "UsePAM no\nPasswordAuthentication no\n"
                                            "KbdInteractiveAuthentication no\n"
                                            "PermitRootLogin prohibit-password\nLogLevel ERROR\n")
                                 .arg(m_port)
                                 .arg(file("host_key"), file("authorized_keys"), file("sshd.pid")));
        trustHostKey("host_key.pub");
        for (const char* key : {"client_key", "bare_key"}) {
            write(QByteArray(key) + "_config",
                  QStringLiteral("Host *\n  IdentityFile %1\n  IdentitiesOnly yes\n"
                                 "  UserKnownHostsFile %2\n  GlobalKnownHostsFile /dev/null\n"
                                 "  StrictHostKeyChecking yes\n  LogLevel ERROR\n")
                      .arg(file(key), file("known_hosts")));
        }
        return launch();
    }

    // Starts sshd again on the same port, after stop().
    bool restart() { return launch(); }

    // Ends sshd and every session it serves, as a machine that goes away would.
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        // sshd puts each connection in a session of its own: its children are found by
        // their parent and ended first, then the listener.
        killTree(pid_t(m_process.processId()));
        m_process.waitForFinished(5000);
    }

    // The client's known_hosts holds another key for this server (the host "set up again").
    void trustOtherHostKey() { trustHostKey("other_host_key.pub"); }
    void trustRightHostKey() { trustHostKey("host_key.pub"); }

    // The ssh command line for KELVARO_SSH_COMMAND: the usual key, or (bare) the key whose
    // sessions find no kelvaro-ctl.
    QString sshCommand(bool bare = false) const
    {
        return QStringLiteral("ssh -F ") + file(bare ? "bare_key_config" : "client_key_config");
    }
    // "ssh://127.0.0.1:PORT" followed by `path` (such as "/ttyUSB0" or a socket's path).
    QString address(const QString& path = {}) const
    {
        return QStringLiteral("ssh://127.0.0.1:%1%2").arg(m_port).arg(path);
    }
    int port() const { return m_port; }
    QString error() const { return m_error; }

private:
    QString file(const char* name) const { return m_dir.filePath(QLatin1String(name)); }
    QString read(const char* name) const
    {
        QFile in(file(name));
        return in.open(QIODevice::ReadOnly) ? QString::fromLatin1(in.readAll()) : QString();
    }
    void write(const QByteArray& name, const QString& text) const
    {
        QFile out(file(name.constData()));
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(text.toLatin1());
    }
    void trustHostKey(const char* publicKey) const
    {
        write("known_hosts", QStringLiteral("[127.0.0.1]:%1 %2").arg(m_port).arg(read(publicKey)));
    }
    bool fail(const QString& why)
    {
        m_error = why;
        return false;
    }
    bool run(const QString& program, const QStringList& arguments)
    {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(20000) || process.exitCode() != 0)
            return fail(program + QStringLiteral(": ") +
                        QString::fromLocal8Bit(process.readAllStandardError()) +
                        process.errorString());
        return true;
    }
    static void killTree(pid_t pid)
    {
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool number = false;
            const pid_t child = pid_t(entry.toInt(&number));
            if (!number)
                continue;
            QFile status(QStringLiteral("/proc/%1/status").arg(child));
            if (!status.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("PPid:") && line.mid(5).trimmed().toInt() == pid)
                    killTree(child);
            }
        }
        ::kill(pid, SIGKILL);
    }
    static int freePort()
    {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
    }
    bool launch()
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QLatin1String(SshdPath), {QStringLiteral("-D"), QStringLiteral("-e"),
                                                  QStringLiteral("-f"), file("sshd_config")});
        if (!m_process.waitForStarted(5000))
            return fail(m_process.errorString());
        const bool listening = QTest::qWaitFor(
            [&] {
                if (m_process.state() == QProcess::NotRunning)
                    return true;
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, quint16(m_port));
                return probe.waitForConnected(200);
            },
            10000);
        if (!listening || m_process.state() == QProcess::NotRunning)
            return fail(QStringLiteral("sshd did not listen on port %1: %2")
                            .arg(m_port)
                            .arg(QString::fromLocal8Bit(m_process.readAll())));
        return true;
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    QString m_error;
};

} // namespace kelvaro::test
