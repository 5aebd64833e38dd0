// The addresses a client is given: what each ssh address reaches on the far side and what
// ssh is asked to run, the ones refused, and the words each way an ssh connection can end
// is told in.

#include "service/service_address.h"

#include <QTest>

using namespace kelvaro::service;

class TestServiceAddress : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void sshCommand_quotesTheFarSocketAndKeepsTheHostFromOptions();
    void sshFailure_data();
    void sshFailure();
};

void TestServiceAddress::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host"); // empty: refused, or a local socket
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("socket"); // the far side's; for a refusal, a part of the reason
    QTest::addColumn<QString>("label");

    QTest::newRow("device") << "ssh://pi/ttyUSB0"
                            << "pi"
                            << "" << 0 << "/run/kelvaro/ttyUSB0/kelvaro.sock"
                            << "ttyUSB0 on pi";
    QTest::newRow("user, port, device") << "ssh://op@pi.local:2222/ttyACM1/"
                                        << "pi.local"
                                        << "op" << 2222 << "/run/kelvaro/ttyACM1/kelvaro.sock"
                                        << "ttyACM1 on op@pi.local";
    QTest::newRow("socket path") << "ssh://pi/var/lib/kelvaro/east/kelvaro.sock"
                                 << "pi"
                                 << "" << 0 << "/var/lib/kelvaro/east/kelvaro.sock"
                                 << "east on pi";
    QTest::newRow("the only one there") << "ssh://pi"
                                        << "pi"
                                        << "" << 0 << ""
                                        << "pi";
    QTest::newRow("slash alone") << "ssh://pi/"
                                 << "pi"
                                 << "" << 0 << ""
                                 << "pi";
    QTest::newRow("IPv6") << "ssh://[::1]:22/ttyS0"
                          << "::1"
                          << "" << 22 << "/run/kelvaro/ttyS0/kelvaro.sock"
                          << "ttyS0 on ::1";
    QTest::newRow("space in a path") << "ssh://pi/srv/a%20b/kelvaro.sock"
                                     << "pi"
                                     << "" << 0 << "/srv/a b/kelvaro.sock"
                                     << "a b on pi";

    QTest::newRow("no host") << "ssh:///ttyUSB0"
                             << ""
                             << "" << 0 << "no host"
                             << "";
    QTest::newRow("host as option") << "ssh://-oProxyCommand=x/ttyUSB0"
                                    << ""
                                    << "" << 0 << "ssh address"
                                    << "";
    QTest::newRow("user as option") << "ssh://-oProxyCommand=x@pi/ttyUSB0"
                                    << ""
                                    << "" << 0 << "may not begin with \"-\""
                                    << "";
    QTest::newRow("password") << "ssh://op:secret@pi/ttyUSB0"
                              << ""
                              << "" << 0 << "password"
                              << "";
    QTest::newRow("port 0") << "ssh://pi:0/ttyUSB0"
                            << ""
                            << "" << 0 << "1-65535"
                            << "";
    QTest::newRow("port too high") << "ssh://pi:70000/ttyUSB0"
                                   << ""
                                   << "" << 0 << "no valid address"
                                   << "";
    QTest::newRow("query") << "ssh://pi/ttyUSB0?x=1"
                           << ""
                           << "" << 0 << "query"
                           << "";
    QTest::newRow("device ..") << "ssh://pi/.."
                               << ""
                               << "" << 0 << "is no device"
                               << "";
}

void TestServiceAddress::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(QString, user);
    QFETCH(int, port);
    QFETCH(QString, socket);
    QFETCH(QString, label);

    const kelvaro::Outcome<ServiceAddress> address = parseServiceAddress(text);
    QVERIFY(isSshAddress(text));
    if (host.isEmpty()) {
        QVERIFY(!address);
        QVERIFY2(address.reason().contains(socket), qPrintable(address.reason()));
        QVERIFY(address.reason().contains(u"ssh://[user@]host[:port]"));
        return;
    }
    QVERIFY2(address, qPrintable(address.reason()));
    QVERIFY(address->overSsh());
    QCOMPARE(address->host, host);
    QCOMPARE(address->user, user);
    QCOMPARE(address->port, port);
    QCOMPARE(address->socketPath, socket);
    QCOMPARE(address->label(), label);
}

void TestServiceAddress::sshCommand_quotesTheFarSocketAndKeepsTheHostFromOptions()
{
    qunsetenv("KELVARO_SSH_COMMAND");
    const ServiceAddress address =
        *parseServiceAddress(QStringLiteral("ssh://op@pi:2222/srv/it's/k.sock"));
    const SshCommand scripted = sshCommand(address, true, false);
    QCOMPARE(scripted.program, QStringLiteral("ssh"));
    QCOMPARE(
        scripted.arguments,
        (QStringList{QStringLiteral("-T"), QStringLiteral("-o"), QStringLiteral("BatchMode=yes"),
                     QStringLiteral("-p"), QStringLiteral("2222"), QStringLiteral("-l"),
                     QStringLiteral("op"), QStringLiteral("--"), QStringLiteral("pi"),
                     QStringLiteral("kelvaro-ctl --socket '/srv/it'\\''s/k.sock' bridge")}));
    // The window asks no BatchMode (ssh may ask for a passphrase) and notices a lost link.
    qputenv("KELVARO_SSH_COMMAND", "ssh -F '/home/op/my config'");
    const SshCommand window =
        sshCommand(*parseServiceAddress(QStringLiteral("ssh://pi")), false, true);
    qunsetenv("KELVARO_SSH_COMMAND");
    QCOMPARE(window.program, QStringLiteral("/bin/sh"));
    QCOMPARE(
        window.arguments,
        (QStringList{QStringLiteral("-c"), QStringLiteral("ssh -F '/home/op/my config' \"$@\""),
                     QStringLiteral("ssh"), QStringLiteral("-T"), QStringLiteral("-o"),
                     QStringLiteral("ConnectTimeout=10"), QStringLiteral("-o"),
                     QStringLiteral("ServerAliveInterval=10"), QStringLiteral("-o"),
                     QStringLiteral("ServerAliveCountMax=3"), QStringLiteral("--"),
                     QStringLiteral("pi"), QStringLiteral("kelvaro-ctl bridge")}));
}

void TestServiceAddress::sshFailure_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("wasConnected");
    QTest::addColumn<QByteArray>("errors");
    QTest::addColumn<QString>("said");

    QTest::newRow("unknown host")
        << 255 << false
        << QByteArray("ssh: Could not resolve hostname pi: Name or service not known\n")
        << "ssh could not connect to pi: ssh: Could not resolve hostname pi: Name or service not "
           "known";
    QTest::newRow("key changed")
        << 255 << false
        << QByteArray("@@@@@@@@@@@\n@    WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!     @\n"
                      "@@@@@@@@@@@\nIT IS POSSIBLE THAT SOMEONE IS DOING SOMETHING NASTY!\n"
                      "Host key verification failed.\n")
        << "ssh refused pi: the host's key has changed (ssh: WARNING: REMOTE HOST IDENTIFICATION "
           "HAS CHANGED! Host key verification failed.) If the host was set up again, remove "
           "its old key with ssh-keygen -R.";
    QTest::newRow("permission denied")
        << 255 << false << QByteArray("op@pi: Permission denied (publickey).\n")
        << "ssh could not connect to pi: op@pi: Permission denied (publickey).";
    QTest::newRow("lost") << 255 << true << QByteArray("Connection to pi closed by remote host.\n")
                          << "the connection to pi was lost (ssh: Connection to pi closed by "
                             "remote host.)";
    QTest::newRow("no kelvaro-ctl there")
        << 127 << false << QByteArray("bash: line 1: kelvaro-ctl: command not found\n")
        << "kelvaro-ctl is not installed on pi, or not on the PATH of its ssh sessions (bash: "
           "line 1: kelvaro-ctl: command not found)";
    QTest::newRow("no recorder there")
        << 3 << false
        << QByteArray("kelvaro-ctl: no service answers on /run/kelvaro/ttyUSB0/kelvaro.sock: No "
                      "such file or directory\n")
        << "on pi: no service answers on /run/kelvaro/ttyUSB0/kelvaro.sock: No such file or "
           "directory";
    QTest::newRow("kelvaro-ctl too old there")
        << 2 << false
        << QByteArray("kelvaro-ctl: give one command: values, set BOX VALUE, watch or status; "
                      "see --help\n")
        << "the kelvaro-ctl on pi does not take the bridge command: is it older than this "
           "program? (kelvaro-ctl: give one command: values, set BOX VALUE, watch or status; "
           "see --help)";
    QTest::newRow("recorder closed")
        << 0 << true << QByteArray() << "the service on pi closed the connection";
}

void TestServiceAddress::sshFailure()
{
    QFETCH(int, exitCode);
    QFETCH(bool, wasConnected);
    QFETCH(QByteArray, errors);
    QFETCH(QString, said);
    const ServiceAddress address = *parseServiceAddress(QStringLiteral("ssh://pi/ttyUSB0"));
    QCOMPARE(kelvaro::service::sshFailure(address, exitCode, false, errors, wasConnected), said);
}

QTEST_GUILESS_MAIN(TestServiceAddress)
#include "tst_service_address.moc"
