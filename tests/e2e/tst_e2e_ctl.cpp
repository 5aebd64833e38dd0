// kelvaro-ctl against stand-ins for the recorder on a temporary socket: a server that says
// nothing, one that is no recorder, one that greets and then never answers, and one that
// answers a write as the recorder may. kelvaro-ctl always ends, with the exit status and
// message a script can act on; its arguments are read as an operator types them.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// The recorder's hello, field for field.
const QByteArray Hello = R"({"type":"hello","protocol":1,"program":"kelvaro-recorder",)"
                         R"("version":"1.38","folder":"/var/lib/kelvaro/ttyUSB0"})"
                         "\n";

// Greets every client with `greeting` (any bytes, or none), keeps the lines it is sent and
// answers the first with `answer`, in which ID stands for the request's id.
class FakeServer : public QObject
{
public:
    FakeServer(QByteArray greeting, QByteArray answer)
        : m_greeting(std::move(greeting)), m_answer(std::move(answer))
    {
        connect(&m_server, &QLocalServer::newConnection, this, &FakeServer::onNewConnection);
    }

    bool listen(const QString& path) { return m_server.listen(path); }
    const QList<QByteArray>& requests() const { return m_requests; }

private:
    void onNewConnection()
    {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadable(socket); });
            socket->write(m_greeting);
        }
    }

    void onReadable(QLocalSocket* socket)
    {
        while (socket->canReadLine()) {
            const QByteArray line = socket->readLine().trimmed();
            m_requests << line;
            if (m_requests.size() > 1)
                continue;
            const QByteArray id =
                QJsonDocument::fromJson(line).object().value(u"id").toVariant().toByteArray();
            socket->write(QByteArray(m_answer).replace("ID", id));
        }
    }

    QLocalServer m_server;
    QByteArray m_greeting;
    QByteArray m_answer;
    QList<QByteArray> m_requests;
};

const QByteArray Queued = R"({"type":"write","state":"queued","write":7,"id":ID})"
                          "\n";
const QByteArray Confirmed = Queued + R"({"type":"write","state":"confirmed","write":7,"id":ID})"
                                      "\n";

// One row: what the server sends first and as its answer, kelvaro-ctl's arguments (S: the
// server's socket, M: a missing one), the exit status, a part of stderr, a part of the
// request line.
void row(const QByteArray& name, const QByteArray& greeting, const QByteArray& answer,
         const char* arguments, int exitCode, const char* message = "", const char* sent = "")
{
    QTest::newRow(name.constData()) << greeting << answer << QString::fromUtf8(arguments)
                                    << exitCode << QString::fromUtf8(message) << QByteArray(sent);
}

} // namespace

class TestE2eCtl : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void ctl_endsInTimeWithItsExitStatus_data();
    void ctl_endsInTimeWithItsExitStatus();
};

void TestE2eCtl::ctl_endsInTimeWithItsExitStatus_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("sent");

    const char* noRecorder = "does not speak the recorder's protocol";
    for (const char* command : {"values", "status", "set 2 21.5", "watch"}) {
        const QByteArray name(command);
        row("silent, " + name, "", "", command, 3, "nothing answered");
        row("not JSON, " + name, "SSH-2.0-OpenSSH_9.2p1\r\n", "", command, 3, noRecorder);
    }
    row("no line end", "\x01\x02", "", "values", 3, noRecorder);
    row("JSON, no hello",
        R"({"type":"welcome"})"
        "\n",
        "", "status", 3, noRecorder);
    row("hello, then nothing, values", Hello, "", "values", 3, "did not answer");
    row("hello, then nothing, status", Hello, "", "status", 3, "did not answer");
    row("hello, then nothing, set", Hello, "", "set 2 21.5", 3, "nothing is known to be queued");
    row("hello, then not JSON", Hello, "<html>\n", "values", 3, noRecorder);

    row("set 2 -6", Hello, Confirmed, "set 2 -6", 0, "", R"("text":"-6")");
    row("set 2 -0.5, option after it", Hello, Confirmed, "set 2 -0.5 --timeout 20", 0, "",
        R"("text":"-0.5","timeout":20)");
    row("sent late", Hello,
        Queued + R"({"type":"write","state":"sent-late","write":7,"id":ID,"reason":"late"})"
                 "\n",
        "set 2 21.5", 4, "late");
    row("error for the request", Hello,
        R"({"type":"error","id":ID,"reason":"box 2 is busy"})"
        "\n",
        "set 2 21.5", 1, "box 2 is busy");
    row("error for another request", Hello,
        R"({"type":"error","id":"another","reason":"not yours"})"
        "\n" +
            Confirmed,
        "set 2 21.5", 0);

    // Bounds: taken, the command runs and finds no service (3); refused as bad usage (2).
    for (const char* option : {"--timeout", "--connect-timeout"}) {
        for (const auto& [value, exitCode] :
             {std::pair{"3600", 3}, {"0.001", 3}, {"3600.5", 2}, {"0", 2}, {"nan", 2}}) {
            const QByteArray arguments =
                QByteArray("--socket M set 2 21.5 ") + option + ' ' + value;
            row(arguments, "", "", arguments.constData(), exitCode, exitCode == 2 ? option : "");
        }
    }
    row("--socket \"\"", "", "", "--socket  set 2 21.5", 2, "--socket");
}

void TestE2eCtl::ctl_endsInTimeWithItsExitStatus()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QByteArray, answer);
    QFETCH(QString, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QByteArray, sent);
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("kelvaro.sock"));
    FakeServer server(greeting, answer);
    QVERIFY(server.listen(socket));
    QStringList list = QStringList{QStringLiteral("--connect-timeout"), QStringLiteral("1"),
                                   QStringLiteral("--socket"), QStringLiteral("S")} +
                       arguments.split(u' ');
    for (QString& argument : list) {
        if (argument == u"S" || argument == u"M")
            argument = argument == u"S" ? socket : dir.filePath(QStringLiteral("missing"));
    }

    QProcess ctl;
    QEventLoop loop;
    QObject::connect(&ctl, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    ctl.start(QStringLiteral(KELVARO_CTL_PATH), list);
    loop.exec();
    const QString err = QString::fromUtf8(ctl.readAllStandardError());
    QVERIFY2(clock.elapsed() < 3000, qPrintable(err)); // the connect time-out and 2 s
    QCOMPARE(ctl.exitStatus(), QProcess::NormalExit);
    QVERIFY2(ctl.exitCode() == exitCode, qPrintable(err));
    QVERIFY2(err.contains(message), qPrintable(err));
    if (!sent.isEmpty())
        QVERIFY2(server.requests().value(0).contains(sent), server.requests().value(0).data());
}

QTEST_GUILESS_MAIN(TestE2eCtl)
#include "tst_e2e_ctl.moc"
