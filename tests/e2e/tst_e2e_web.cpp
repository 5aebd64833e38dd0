// kelvaro-web as its operators meet it: the real simulated board, a real recorder and the
// real kelvaro-web on free loopback ports, its users made with its own --add-user, and the
// page driven in Debian's Chromium by tests/web/browser_test.py (skipped where Chromium,
// its driver or Selenium is not installed). Also the refusals it starts with.

#include "board_sim_process.h"
#include "recorder_process.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvaro::e2e;
using namespace Qt::StringLiterals;

namespace {

const QString Web = QStringLiteral(KELVARO_WEB_PATH);

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// Adds a user with the password on standard input, as a script would.
bool addUser(const QString& users, const QString& name, const QString& role,
             const QByteArray& password)
{
    QProcess process;
    process.start(Web, {u"--users"_s, users, u"--add-user"_s, name, u"--role"_s, role});
    process.write(password + '\n');
    process.closeWriteChannel();
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

} // namespace

class TestE2eWeb : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void refusesToStart_data();
    void refusesToStart();
    void page_inChromium();
};

void TestE2eWeb::refusesToStart_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    QTest::newRow("network without users")
        << QStringList{u"--listen"_s, u"0.0.0.0:18641"_s} << 78 << u"needs users"_s;
    QTest::newRow("missing users file")
        << QStringList{u"--users"_s, u"no-such-file"_s} << 78 << u"no-such-file"_s;
    QTest::newRow("half of TLS") << QStringList{u"--tls-cert"_s, u"cert.pem"_s} << 2
                                 << u"--tls-key"_s;
    QTest::newRow("bad address") << QStringList{u"--listen"_s, u"pi.local:80"_s} << 2
                                 << u"ADDRESS:PORT"_s;
}

void TestE2eWeb::refusesToStart()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const CtlRun run = runProgram(Web, dir.path(), arguments);
    QCOMPARE(run.exitCode, status);
    QVERIFY2(run.err.contains(says), qPrintable(run.err));
}

void TestE2eWeb::page_inChromium()
{
    // Debian's Python, which python3-selenium is installed into (not one a user put first
    // on PATH).
    const QString python = u"/usr/bin/python3"_s;
    if (!QFile::exists(u"/usr/bin/chromium"_s) || !QFile::exists(u"/usr/bin/chromedriver"_s) ||
        QProcess::execute(python, {u"-c"_s, u"import selenium"_s}) != 0)
        QSKIP("needs chromium, chromium-driver and python3-selenium (scripts/deps.sh)");

    QTemporaryDir dir;
    const QString folder = dir.filePath(u"east"_s);
    QVERIFY(QDir().mkpath(folder));
    BoardSimProcess sim(folder);
    Recorder recorder;
    const QString started = startBoardAndRecorder(sim, recorder, folder);
    QVERIFY2(started.isEmpty(), qPrintable(started));

    const QString users = dir.filePath(u"users"_s);
    QVERIFY(addUser(users, u"anna"_s, u"operator"_s, "anna's long password"));
    QVERIFY(addUser(users, u"desk"_s, u"viewer"_s, "desk's long password"));
    const quint16 port = freePort();
    QProcess web;
    web.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    web.start(Web, {u"--listen"_s, u"127.0.0.1:%1"_s.arg(port), u"--users"_s, users, u"--socket"_s,
                    folder + u"/kelvaro.sock"_s});
    QVERIFY(web.waitForStarted(5000));

    QProcess browser;
    browser.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"KELVARO_WEB_URL"_s, u"http://127.0.0.1:%1/"_s.arg(port));
    environment.insert(u"KELVARO_WEB_OPERATOR"_s, u"anna:anna's long password"_s);
    environment.insert(u"KELVARO_WEB_VIEWER"_s, u"desk:desk's long password"_s);
    environment.insert(u"KELVARO_CTL"_s, QStringLiteral(KELVARO_CTL_PATH));
    environment.insert(u"KELVARO_SOCKET"_s, folder + u"/kelvaro.sock"_s);
    if (!qEnvironmentVariableIsSet("KELVARO_SHOTS"))
        environment.insert(u"KELVARO_SHOTS"_s, dir.filePath(u"shots"_s));
    browser.setProcessEnvironment(environment);
    browser.start(python, {QStringLiteral(KELVARO_BROWSER_TEST)});
    QVERIFY(browser.waitForFinished(240000));
    QCOMPARE(browser.exitCode(), 0);
    web.terminate();
    QVERIFY(web.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestE2eWeb)
#include "tst_e2e_web.moc"
