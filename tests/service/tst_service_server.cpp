// The recorder's socket as a local client meets it, with the session in this process: who
// may connect and how many, how long a silent connection may hold a slot, how many writes
// one client may have under way, every field of the state message, settings refused with
// the start check's words, and error answers that name their request.

#include "link/board_session.h"
#include "service/service_protocol.h"
#include "service/service_server.h"
#include "store/settings_file.h"
#include "support/board_line.h"
#include "support/working_settings.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <memory>
#include <sys/stat.h>

using namespace kelvaro;
using kelvaro::test::workingSettings;
using namespace kelvaro::service;
using namespace std::chrono_literals;

namespace {

// A "settings" request for the logging choices: the name format, the first fields (the
// rest "None") and the event.
QByteArray loggingRequest(const QString& nameFormat, const QStringList& fields,
                          const QString& event, int id = 0)
{
    QJsonArray boxes;
    for (int k = 0; k < LogFieldCount; ++k)
        boxes.append(fields.value(k, QStringLiteral("None")));
    QJsonObject request{
        {QStringLiteral("type"), QStringLiteral("settings")},
        {QStringLiteral("logging"), QJsonObject{{QStringLiteral("nameFormat"), nameFormat},
                                                {QStringLiteral("fields"), boxes},
                                                {QStringLiteral("event"), event}}}};
    if (id != 0)
        request.insert(QStringLiteral("id"), id);
    return QJsonDocument(request).toJson(QJsonDocument::Compact);
}

// A local client reading the server's messages, one JSON object a line.
class Client
{
public:
    explicit Client(const QString& path) { m_socket.connectToServer(path); }

    bool send(const QByteArray& line)
    {
        m_socket.write(line + '\n');
        return m_socket.waitForBytesWritten(2000);
    }
    // The next message of `type` (after any others), or an empty object.
    QJsonObject next(const QString& type, int ms = 3000)
    {
        QJsonObject found;
        [[maybe_unused]] const bool came = QTest::qWaitFor(
            [&] {
                m_buffer += m_socket.readAll();
                qsizetype end = 0;
                while ((end = m_buffer.indexOf('\n')) >= 0) {
                    const QJsonObject message =
                        QJsonDocument::fromJson(m_buffer.left(end)).object();
                    m_buffer.remove(0, end + 1);
                    if (message.value(u"type").toString() == type) {
                        found = message;
                        return true;
                    }
                }
                return false;
            },
            ms);
        return found;
    }
    bool closedByServer(int ms = 3000)
    {
        return QTest::qWaitFor([&] { return m_socket.state() == QLocalSocket::UnconnectedState; },
                               ms);
    }
    QLocalSocket& socket() { return m_socket; }

private:
    QLocalSocket m_socket;
    QByteArray m_buffer;
};

struct Rig
{
    QTemporaryDir dir;
    Kelv_Main state;
    std::unique_ptr<BoardSession> session;
    QStringList journal;
    std::unique_ptr<ServiceServer> server;
    QString path;

    bool start()
    {
        state.settings = workingSettings();
        if (!dir.isValid() || !SaveSettings(state.settings, dir.path()))
            return false;
        session = std::make_unique<BoardSession>(state, dir.path());
        server =
            std::make_unique<ServiceServer>(*session, QStringLiteral("kelvaro-recorder"),
                                            [this](const QString& line) { journal.append(line); });
        path = dir.filePath(QStringLiteral("kelvaro.sock"));
        return bool(server->listen(path));
    }
};

} // namespace

class TestServiceServer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void socket_readWriteForOwnerAndGroupOnly();
    void clients_sixteenServedTheSeventeenthTurnedAway();
    void silentConnection_closedOneThatAskedStays();
    void writes_eightUnderWayPerClient();
    void stateMessage_everyCaptionInTheWindowsOrder();
    void settings_refusedWithTheStartWordsAndJournalled();
    void loggingIdle_saidInTheStatus();
    void badRequest_errorNamesTheRequest();
    void lateWrite_answeredSentLateAndJournalled();
};

void TestServiceServer::socket_readWriteForOwnerAndGroupOnly()
{
    Rig rig;
    QVERIFY(rig.start());
    struct stat st
    {
    };
    QCOMPARE(::lstat(QFile::encodeName(rig.path).constData(), &st), 0);
    QVERIFY(S_ISSOCK(st.st_mode));
    QCOMPARE(st.st_mode & 07777, mode_t(0660));
}

void TestServiceServer::clients_sixteenServedTheSeventeenthTurnedAway()
{
    Rig rig;
    QVERIFY(rig.start());
    std::vector<std::unique_ptr<Client>> clients;
    for (int k = 0; k < ServiceServer::MaxClients; ++k) {
        clients.push_back(std::make_unique<Client>(rig.path));
        QVERIFY(!clients.back()->next(QStringLiteral("hello")).isEmpty());
    }
    QCOMPARE(ServiceServer::MaxClients, 16);
    Client extra(rig.path);
    QCOMPARE(extra.next(QStringLiteral("error")).value(u"reason").toString(),
             QStringLiteral("too many clients (at most 16); try again later"));
    QVERIFY(extra.closedByServer());
    QCOMPARE(rig.server->clientCount(), 16);
}

void TestServiceServer::silentConnection_closedOneThatAskedStays()
{
    Rig rig;
    QVERIFY(rig.start());
    QCOMPARE(ServiceServer::DefaultIdleLimit, 30s);
    rig.server->setIdleLimit(1000ms);
    Client silent(rig.path);
    Client asking(rig.path);
    QVERIFY(asking.send(R"({"type":"status"})"));
    QVERIFY(!asking.next(QStringLiteral("status")).isEmpty());
    QCOMPARE(silent.next(QStringLiteral("error")).value(u"reason").toString(),
             QStringLiteral("no request within 1 s; connection closed"));
    QVERIFY(silent.closedByServer());
    QTest::qWait(300);
    QCOMPARE(asking.socket().state(), QLocalSocket::ConnectedState);
    QCOMPARE(rig.server->clientCount(), 1);
}

// The board is silent, so nothing is confirmed and every write stays under way.
void TestServiceServer::writes_eightUnderWayPerClient()
{
    Rig rig;
    QVERIFY(rig.start());
    Client first(rig.path);
    for (int k = 1; k <= 8; ++k) {
        QVERIFY(first.send(
            QStringLiteral(R"({"type":"set","id":%1,"box":2,"text":"2%1"})").arg(k).toUtf8()));
        const QJsonObject answer = first.next(QStringLiteral("write"));
        QCOMPARE(answer.value(u"state").toString(), QStringLiteral("queued"));
        QCOMPARE(answer.value(u"id").toInt(), k);
        QCOMPARE(answer.value(u"word").toInt(), 11);
        QCOMPARE(answer.value(u"value").toInt(), (20 + k) * 100);
        QCOMPARE(answer.value(u"shown").toString(), QStringLiteral("2%1.00").arg(k));
    }
    QVERIFY(first.send(R"({"type":"set","id":9,"box":2,"text":"29"})"));
    const QJsonObject ninth = first.next(QStringLiteral("write"));
    QCOMPARE(ninth.value(u"state").toString(), QStringLiteral("refused"));
    QCOMPARE(ninth.value(u"id").toInt(), 9);
    QCOMPARE(ninth.value(u"reason").toString(),
             QStringLiteral("too many writes waiting from this client (at most 8)"));
    // The limit is each client's own.
    Client second(rig.path);
    QVERIFY(second.send(R"({"type":"set","box":2,"text":"30"})"));
    QCOMPARE(second.next(QStringLiteral("write")).value(u"state").toString(),
             QStringLiteral("queued"));
    QCOMPARE(rig.session->writes().waiting(), std::size_t(9));
}

void TestServiceServer::stateMessage_everyCaptionInTheWindowsOrder()
{
    Rig rig;
    QVERIFY(rig.start());
    Words& words = rig.state.registers.Reg_Words;
    words[0] = 0x0100; // relay on
    words[1] = 1946;
    Client client(rig.path);
    QVERIFY(client.send(R"({"type":"values","id":"v","unit":"C"})"));
    const QJsonObject state = client.next(QStringLiteral("state"));
    QCOMPARE(state.value(u"id").toString(), QStringLiteral("v"));
    QCOMPARE(state.value(u"unit").toString(), QStringLiteral("C"));
    QCOMPARE(state.value(u"relay").toString(), QStringLiteral("On"));
    QVERIFY(state.value(u"time").toString().endsWith(u'Z'));
    const QJsonArray values = state.value(u"values").toArray();
    const std::array captions{"Actual Temperature:", "NE555 Pulse:",     "Average Temperature:",
                              "Lower Mode :",        "Relay Status:",    "Low Mode :",
                              "Time Off :",          "Time On :",        "Low Setpoint Raising:",
                              "Lower Hysterisis:",   "Lower Setpoint:",  "Low Setpoint Falling:",
                              "Low Time Off:",       "Low Time On:",     "Lower Time Off:",
                              "Lower Time On:",      "Operation Modes:", "Time Delay:"};
    QCOMPARE(values.size(), qsizetype(captions.size()));
    for (std::size_t k = 0; k < captions.size(); ++k)
        QCOMPARE(values.at(qsizetype(k)).toArray().at(0).toString(),
                 QString::fromUtf8(captions[k]));
    QCOMPARE(values.at(0).toArray().at(1).toString(), QStringLiteral("19.46 \u00B0C"));
    QCOMPARE(values.at(4).toArray().at(1).toString(), QStringLiteral("On"));
    QCOMPARE(state.value(u"words").toArray().at(1).toInt(), 1946);
}

void TestServiceServer::settings_refusedWithTheStartWordsAndJournalled()
{
    Rig rig;
    QVERIFY(rig.start());
    QFile file(rig.dir.filePath(SettingsFileName));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    Client client(rig.path);
    const QString temperature = QStringLiteral("Actual Temperature (i16)");
    QVERIFY(client.send(loggingRequest(QStringLiteral("Settings"), {temperature},
                                       QStringLiteral("On Counter Change"), 3)));
    const QJsonObject refused = client.next(QStringLiteral("settings"));
    QCOMPARE(refused.value(u"id").toInt(), 3);
    QCOMPARE(refused.value(u"result").toString(), QStringLiteral("refused"));
    QVERIFY2(refused.value(u"message")
                 .toString()
                 .startsWith(
                     QStringLiteral("Settings.txt line 20: the log file-name format \"Settings\" "
                                    "makes no usable file name: it names the program's own file "
                                    "Settings.txt")),
             qPrintable(refused.value(u"message").toString()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    file.close();

    // A change taken is journalled with what it changed, old to new.
    QVERIFY(client.send(loggingRequest(QStringLiteral("YYYY-MM-DD"),
                                       {temperature, QStringLiteral("Relay Status (h08)")},
                                       QStringLiteral("On Fields Change"))));
    QCOMPARE(client.next(QStringLiteral("settings")).value(u"result").toString(),
             QStringLiteral("saved"));
    const QString last = rig.journal.constLast();
    QVERIFY2(last.contains(QStringLiteral("settings: logging choices: saved; name format "
                                          "\"DD-MM-YYYY\" \u2192 \"YYYY-MM-DD\", field 2 "
                                          "\"None\" \u2192 \"Relay Status (h08)\", event \"On "
                                          "Counter Change\" \u2192 \"On Fields Change\"")),
             qPrintable(last));
    QVERIFY2(last.contains(QStringLiteral("(uid %1, pid ").arg(::getuid())), qPrintable(last));
}

void TestServiceServer::loggingIdle_saidInTheStatus()
{
    Rig rig;
    QVERIFY(rig.start());
    Client client(rig.path);
    QVERIFY(client.send(R"({"type":"status"})"));
    QJsonObject log = client.next(QStringLiteral("status")).value(u"log").toObject();
    QCOMPARE(log.value(u"writing").toBool(), true);
    QCOMPARE(log.value(u"idle").toString(), QString());

    QVERIFY(client.send(
        loggingRequest(QStringLiteral("DD-MM-YYYY"), {}, QStringLiteral("On Counter Change"))));
    QCOMPARE(client.next(QStringLiteral("settings")).value(u"result").toString(),
             QStringLiteral("saved"));
    QVERIFY(client.send(R"({"type":"status"})"));
    log = client.next(QStringLiteral("status")).value(u"log").toObject();
    QCOMPARE(log.value(u"active").toBool(), true);
    QCOMPARE(log.value(u"writing").toBool(), false);
    QCOMPARE(log.value(u"idle").toString(),
             QStringLiteral("no field is chosen for logging: log lines hold only the date and "
                            "the time"));
}

void TestServiceServer::badRequest_errorNamesTheRequest()
{
    Rig rig;
    QVERIFY(rig.start());
    Client client(rig.path);
    QVERIFY(client.send(R"({"type":"bogus","id":6})"));
    const QJsonObject error = client.next(QStringLiteral("error"));
    QCOMPARE(error.value(u"id").toInt(), 6);
    QCOMPARE(error.value(u"reason").toString(), QStringLiteral("unknown request type \"bogus\""));
    // The connection serves on.
    QVERIFY(client.send(R"({"type":"status","id":7})"));
    QCOMPARE(client.next(QStringLiteral("status")).value(u"id").toInt(), 7);
}

// The board was answered "W" and waits for the frame when the time-out passes: the frame
// must go, and the client is told it went late, not that it was sent as asked.
void TestServiceServer::lateWrite_answeredSentLateAndJournalled()
{
    Rig rig;
    QVERIFY(rig.start());
    kelvaro::test::BoardLine line;
    QVERIFY(line.isValid());
    QVERIFY(rig.session->link().open({1, 9600, false, false, line.deviceName()}, rig.dir.path()));
    Client client(rig.path);
    QVERIFY(client.send(R"({"type":"set","id":"late","box":2,"text":"21.5","timeout":1})"));
    QCOMPARE(client.next(QStringLiteral("write")).value(u"state").toString(),
             QStringLiteral("queued"));
    QVERIFY(line.send("Q"));
    QVERIFY(QTest::qWaitFor([&] { return line.received().endsWith('W'); }, 3000));
    QTest::qWait(1600);
    QVERIFY(line.send("S"));
    const QJsonObject late = client.next(QStringLiteral("write"));
    QCOMPARE(late.value(u"state").toString(), QStringLiteral("sent-late"));
    QCOMPARE(late.value(u"id").toString(), QStringLiteral("late"));
    QVERIFY(!late.value(u"reason").toString().isEmpty());
    QCOMPARE(line.received().right(4), QByteArray("\x16\x01\x66\x08", 4));
    QVERIFY2(rig.journal.constLast().endsWith(
                 QStringLiteral("write Lower Setpoint: \"21.5\" (word 11 = 2150) sent-late")),
             qPrintable(rig.journal.constLast()));
}

QTEST_GUILESS_MAIN(TestServiceServer)
#include "tst_service_server.moc"
