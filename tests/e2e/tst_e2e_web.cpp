// kelvaro-web as its operators meet it: the real simulated board, a real recorder and the
// real kelvaro-web on free loopback ports, its users made with its own --add-user, and the
// page driven in Debian's Chromium by tests/web/browser_test.py (skipped where Chromium,
// its driver or Selenium is not installed). Also the refusals it starts with.

#include "board_sim_process.h"
#include "recorder_process.h"

#include <QDate>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

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
    void historyTrendAndReport_throughThePage();
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
        QProcess::execute(python, {u"-c"_s, u"import selenium"_s}) != 0) {
        if (qEnvironmentVariableIsSet("KELVARO_BROWSER_TEST_REQUIRED"))
            QFAIL("chromium, chromium-driver or python3-selenium is missing or broken");
        QSKIP("needs chromium, chromium-driver and python3-selenium (scripts/deps.sh)");
    }

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

void TestE2eWeb::historyTrendAndReport_throughThePage()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(u"west"_s);
    QVERIFY(QDir().mkpath(folder));
    BoardSimProcess sim(folder);
    Recorder recorder;
    const QString started = startBoardAndRecorder(sim, recorder, folder);
    QVERIFY2(started.isEmpty(), qPrintable(started));
    const quint16 port = freePort();
    QProcess web;
    web.setWorkingDirectory(folder);
    web.start(Web, {u"--listen"_s, u"127.0.0.1:%1"_s.arg(port)}); // no users: loopback, operator
    QVERIFY(web.waitForStarted(5000));
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += web.readAllStandardError()).contains("the page is at"),
                             10000);

    // Found without --socket: the current folder's kelvaro.sock.
    const QString origin = u"http://127.0.0.1:%1"_s.arg(port);
    QWebSocket socket(origin);
    QList<QJsonObject> received;
    connect(&socket, &QWebSocket::textMessageReceived, this, [&](const QString& text) {
        received << QJsonDocument::fromJson(text.toUtf8()).object();
    });
    socket.open(QUrl(u"ws://127.0.0.1:%1/ws"_s.arg(port)));
    QTRY_VERIFY_WITH_TIMEOUT(socket.state() == QAbstractSocket::ConnectedState, 10000);
    const auto answer = [&](int id) -> QJsonObject {
        for (const QJsonObject& message : std::as_const(received)) {
            if (message.value(u"id").toInt(-1) == id)
                return message;
        }
        return {};
    };
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    socket.sendTextMessage(uR"({"type":"board","board":"west"})"_s);
    QTRY_VERIFY_WITH_TIMEOUT(
        std::any_of(received.begin(), received.end(),
                    [](const QJsonObject& m) { return m.value(u"type").toString() == u"state"; }),
        10000);
    socket.sendTextMessage(uR"({"type":"days","id":1})"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!answer(1).isEmpty(), 10000);
    QVERIFY2(answer(1).value(u"dates").toArray().contains(today),
             QJsonDocument(answer(1)).toJson().constData());
    socket.sendTextMessage(
        u"{\"type\":\"history\",\"id\":2,\"from\":\"%1\",\"to\":\"%1\",\"width\":300}"_s.arg(
            today));
    socket.sendTextMessage(uR"({"type":"trend","id":3,"hours":1,"width":200})"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!answer(2).isEmpty() && !answer(3).isEmpty(), 15000);
    // The day's log holds the actual temperature and the relay: two series with columns.
    const QJsonArray history = answer(2).value(u"series").toArray();
    QCOMPARE(answer(2).value(u"type").toString(), u"chart"_s);
    QVERIFY(history.size() >= 1);
    QVERIFY(!history[0].toObject().value(u"columns").toArray().isEmpty());
    // The live trend: actual, average, the three set-points and the relay.
    const QJsonArray trend = answer(3).value(u"series").toArray();
    QCOMPARE(trend.size(), 6);
    QVERIFY(!trend[0].toObject().value(u"columns").toArray().isEmpty());

    QNetworkAccessManager net;
    QNetworkReply* report = net.get(QNetworkRequest(QUrl(origin + u"/report.csv?board=west"_s)));
    QSignalSpy done(report, &QNetworkReply::finished);
    QVERIFY(done.wait(15000));
    const QByteArray csv = report->readAll();
    QVERIFY2(csv.startsWith("date,lines,skipped,") && csv.contains(today.toLatin1()),
             csv.constData());
    QCOMPARE(report->rawHeader("Content-Disposition"),
             "attachment; filename=\"kelvaro-report-west.csv\""_ba);
    web.terminate();
    QVERIFY(web.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestE2eWeb)
#include "tst_e2e_web.moc"
