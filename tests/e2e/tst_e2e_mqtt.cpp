// kelvaro-recorder with --mqtt against a real Mosquitto broker (password file, anonymous
// clients refused, on a free loopback port) and the simulated board on a pseudo-terminal:
// discovery configs and retained states, writes from command topics through the entry
// check, refusals, a retained command that is not applied, the limit of writes under way,
// writes the board does not confirm, a broker restart, the will, a wrong password, TLS,
// and a server that takes the connection but is no broker.

#include "board_sim_process.h"
#include "recorder_process.h"
#include "support/mqtt_broker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace kelvaro::e2e;
using kelvaro::test::MqttBroker;
using kelvaro::test::MqttWatcher;

namespace {

QStringList mqttOptions(const MqttBroker& broker, const QString& passwordFile,
                        const QString& scheme = QStringLiteral("mqtt"))
{
    return {QStringLiteral("--mqtt"),
            QStringLiteral("%1://%2@127.0.0.1:%3").arg(scheme, MqttBroker::User).arg(broker.port()),
            QStringLiteral("--mqtt-password-file"),
            passwordFile,
            QStringLiteral("--board-id"),
            QStringLiteral("test")};
}

// Runs openssl with `arguments` in `folder`; true when it succeeded.
bool openssl(const QString& folder, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(kelvaro::test::systemProgram(QStringLiteral("openssl")), arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// A certificate authority `name`.crt/.key in `folder`.
bool makeAuthority(const QString& folder, const QString& name)
{
    return openssl(folder,
                   {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                    QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                    QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                    QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                    QStringLiteral("-out"), name + QStringLiteral(".crt"), QStringLiteral("-days"),
                    QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=") + name});
}

} // namespace

class TestE2eMqtt : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void withControl_configsStatesWritesRefusalsBrokerRestartAndWill();
    void withoutControl_commandsSendNothingAndAStopSaysOffline();
    void silentBoard_eightWritesUnderWayAtMostAndEachUnconfirmedOneReported();
    void wrongPassword_toldOnceAndTheLineAndLogGoOn();
    void tls_ownAuthorityConnectsAForeignOneIsRefused();
    void notABroker_toldWithinTheConnectTimeOut();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestE2eMqtt::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    if (kelvaro::test::systemProgram(QStringLiteral("mosquitto")).isEmpty())
        QSKIP("mosquitto is not installed (scripts/deps.sh declares it)");
}

void TestE2eMqtt::withControl_configsStatesWritesRefusalsBrokerRestartAndWill()
{
    const QString folder = m_dir->path();
    MqttBroker broker(folder);
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    BoardSimProcess sim(folder);
    QVERIFY2(sim.start({QStringLiteral("--time-scale"), QStringLiteral("5")}),
             qPrintable(sim.error()));
    MqttWatcher watcher(broker);
    QVERIFY(watcher.start());
    // A command left retained on the broker (mosquitto_pub -r) before the recorder starts.
    const QString setpoint = QStringLiteral("kelvaro/test/lower_setpoint");
    QVERIFY(QTest::qWaitFor([&] { return watcher.client().isConnected(); }, 5000));
    QVERIFY(watcher.client().publish(setpoint + QStringLiteral("/set"), "25.5", true));
    QVERIFY(watcher.waitFor(setpoint + QStringLiteral("/set"), "25.5"));
    const qint32 setpointAtStart = sim.dump().value_or(BoardWords{})[11];
    Recorder recorder;
    QVERIFY(recorder.start(folder, mqttOptions(broker, broker.passwordFile()) +
                                       QStringList{QStringLiteral("--mqtt-control")}));
    QVERIFY2(recorder.waitForJournal(QStringLiteral("MQTT: connected to mqtt://127.0.0.1:"), 10000),
             qPrintable(recorder.journalText()));
    QVERIFY(watcher.waitFor(QStringLiteral("kelvaro/test/availability"), "online"));
    QVERIFY(watcher.waitFor(QStringLiteral("kelvaro/test/log/last_write")));

    // It is not applied, and cleared: a later subscriber gets nothing on the command topic.
    const QString ignored =
        QStringLiteral("MQTT: ignored the retained command on "
                       "kelvaro/test/lower_setpoint/set (\"25.5\"); cleared it");
    QVERIFY2(recorder.waitForJournal(ignored, 5000), qPrintable(recorder.journalText()));
    QVERIFY(QTest::qWaitFor(
        [&] { return watcher.last().value(setpoint + QStringLiteral("/set")).isEmpty(); }, 5000));
    {
        MqttWatcher late(broker, QStringLiteral("late"));
        QVERIFY(late.start());
        QVERIFY(late.waitFor(QStringLiteral("kelvaro/test/availability"), "online"));
        QVERIFY(late.retained(QStringLiteral("kelvaro/test/availability")));
        QVERIFY(!late.last().contains(setpoint + QStringLiteral("/set")));
    }
    QVERIFY(!recorder.journalText().contains(QStringLiteral("MQTT write")));
    QCOMPARE(sim.dump().value_or(BoardWords{})[11], setpointAtStart);

    // Every config is JSON and names a state topic that carries the board's value.
    int numbers = 0;
    int configs = 0;
    const auto last = watcher.last();
    for (auto it = last.begin(); it != last.end(); ++it) {
        if (!it.key().startsWith(QStringLiteral("homeassistant/")) || it.value().isEmpty())
            continue;
        ++configs;
        const QJsonObject config = QJsonDocument::fromJson(it.value()).object();
        const QString state = config[QStringLiteral("state_topic")].toString();
        QVERIFY2(last.contains(state), qPrintable(it.key() + u' ' + state));
        numbers += it.key().startsWith(QStringLiteral("homeassistant/number/")) ? 1 : 0;
    }
    QCOMPARE(configs, 18);
    QCOMPARE(numbers, 10);

    // Lower Setpoint to 21.5 °C: the frame reaches the board, and the state follows a block.
    const qint64 writesBefore = sim.stats().value("writes", -1);
    QVERIFY(watcher.client().publish(setpoint + QStringLiteral("/set"), "21.5", false));
    QVERIFY(sim.waitForWord(11, 2150));
    QVERIFY(watcher.waitFor(setpoint, "21.50"));
    QVERIFY2(
        recorder.waitForJournal(
            QStringLiteral("MQTT write Lower Setpoint: \"21.5\" (word 11 = 2150) queued"), 5000),
        qPrintable(recorder.journalText()));

    // Refused payloads send nothing; each one's reason is on the error topic.
    const QList<QByteArray> refused{"warm", "nan", "", "500", "1e999", QByteArray(40, '1')};
    for (const QByteArray& payload : refused)
        QVERIFY(watcher.client().publish(setpoint + QStringLiteral("/set"), payload, false));
    const QString errors = QStringLiteral("kelvaro/test/error");
    QVERIFY(QTest::qWaitFor([&] { return watcher.count(errors) == refused.size(); }, 5000));
    QVERIFY2(watcher.last().value(errors).contains("nothing sent"),
             watcher.last().value(errors).constData());
    QTest::qWait(2000);
    QCOMPARE(sim.stats().value("writes"), writesBefore + 1);

    // A broker restarted without persistence has everything again after one reconnection.
    broker.kill();
    QVERIFY2(recorder.waitForJournal(QStringLiteral("trying again"), 10000),
             qPrintable(recorder.journalText()));
    QTest::qWait(7000); // several retries: still one line per change
    QVERIFY2(recorder.journalText().count(QStringLiteral("trying again")) <= 2,
             qPrintable(recorder.journalText()));
    watcher.forget();
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    QVERIFY2(recorder.waitForJournal(QStringLiteral("MQTT: connected"), 15000),
             qPrintable(recorder.journalText()));
    QVERIFY(watcher.waitFor(QStringLiteral("kelvaro/test/availability"), "online", 15000));
    QVERIFY(
        watcher.waitFor(QStringLiteral("homeassistant/number/kelvaro_test/lower_setpoint/config")));
    QVERIFY(watcher.waitFor(setpoint, "21.50"));

    QCOMPARE(recorder.journalText().count(QStringLiteral("ignored the retained command")), 1);

    // A recorder that dies: the broker sends its will, and keeps it for later subscribers.
    recorder.process().kill();
    QVERIFY(watcher.waitFor(QStringLiteral("kelvaro/test/availability"), "offline"));
    MqttWatcher late(broker, QStringLiteral("late"));
    QVERIFY(late.start());
    QVERIFY(late.waitFor(QStringLiteral("kelvaro/test/availability"), "offline"));
    QVERIFY(late.retained(QStringLiteral("kelvaro/test/availability")));
}

void TestE2eMqtt::withoutControl_commandsSendNothingAndAStopSaysOffline()
{
    const QString folder = m_dir->path();
    MqttBroker broker(folder);
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    BoardSimProcess sim(folder);
    QVERIFY2(sim.start({QStringLiteral("--time-scale"), QStringLiteral("5")}),
             qPrintable(sim.error()));
    MqttWatcher watcher(broker);
    QVERIFY(watcher.start());
    Recorder recorder;
    QVERIFY(recorder.start(folder, mqttOptions(broker, broker.passwordFile())));
    const QString setpoint = QStringLiteral("kelvaro/test/lower_setpoint");
    QVERIFY(watcher.waitFor(setpoint));
    QVERIFY(
        watcher.waitFor(QStringLiteral("homeassistant/sensor/kelvaro_test/lower_setpoint/config")));
    // No number entity, and none left from a run with writes.
    QVERIFY(watcher.last()
                .value(QStringLiteral("homeassistant/number/kelvaro_test/lower_setpoint/config"))
                .isEmpty());

    const qint64 writesBefore = sim.stats().value("writes", -1);
    QVERIFY(watcher.client().publish(setpoint + QStringLiteral("/set"), "21.5", false));
    QTest::qWait(3000);
    QCOMPARE(sim.stats().value("writes"), writesBefore);
    QVERIFY(!recorder.journalText().contains(QStringLiteral("MQTT write")));

    ::kill(pid_t(recorder.process().processId()), SIGTERM);
    QCOMPARE(recorder.waitForExit(10000), 0);
    QVERIFY(watcher.waitFor(QStringLiteral("kelvaro/test/availability"), "offline"));
    // The goodbye is retained: a hub that starts later sees the board offline.
    MqttWatcher late(broker, QStringLiteral("late"));
    QVERIFY(late.start());
    QVERIFY(late.waitFor(QStringLiteral("kelvaro/test/availability"), "offline"));
    QVERIFY(late.retained(QStringLiteral("kelvaro/test/availability")));
}

void TestE2eMqtt::silentBoard_eightWritesUnderWayAtMostAndEachUnconfirmedOneReported()
{
    const QString folder = m_dir->path();
    MqttBroker broker(folder);
    QVERIFY2(broker.start(), qPrintable(broker.error()));
    BoardSimProcess sim(folder);
    QVERIFY2(sim.start({QStringLiteral("--time-scale"), QStringLiteral("5")}),
             qPrintable(sim.error()));
    MqttWatcher watcher(broker);
    QVERIFY(watcher.start());
    Recorder recorder;
    QVERIFY(recorder.start(folder, mqttOptions(broker, broker.passwordFile()) +
                                       QStringList{QStringLiteral("--mqtt-control")}));
    const QString setpoint = QStringLiteral("kelvaro/test/lower_setpoint");
    QVERIFY(watcher.waitFor(setpoint));
    QVERIFY(watcher.waitFor(QStringLiteral("kelvaro/test/availability"), "online"));

    // The board stops polling: nothing goes out, nothing is confirmed.
    sim.command("silent");
    for (int k = 0; k < 9; ++k)
        QVERIFY(watcher.client().publish(setpoint + QStringLiteral("/set"),
                                         QByteArray::number(20 + k / 10.0, 'f', 1), false));
    const QString errors = QStringLiteral("kelvaro/test/error");
    QVERIFY(watcher.waitFor(errors, {}, 5000));
    QCOMPARE(watcher.last().value(errors),
             "Lower Setpoint: too many writes waiting from MQTT (at most 8); try again");
    QVERIFY(QTest::qWaitFor(
        [&] { return recorder.journalText().count(QStringLiteral("MQTT write")) == 8; }, 5000));
    QVERIFY(!recorder.journalText().contains(QStringLiteral("\"20.8\"")));

    // After the write time-out each of the eight is reported on the error topic and in the
    // journal.
    QVERIFY(QTest::qWaitFor([&] { return watcher.count(errors) == 9; }, 15000));
    QVERIFY2(watcher.last().value(errors).endsWith(") not confirmed by the board"),
             watcher.last().value(errors).constData());
    QVERIFY(QTest::qWaitFor(
        [&] {
            return recorder.journalText().count(QStringLiteral("not confirmed by the board")) == 8;
        },
        5000));
    QVERIFY2(recorder.journalText().contains(
                 QStringLiteral("MQTT write Lower Setpoint: \"20.3\" (word 11 = 2030) not "
                                "confirmed by the board")),
             qPrintable(recorder.journalText()));

    // None under way any more: the next write is taken.
    QVERIFY(watcher.client().publish(setpoint + QStringLiteral("/set"), "21", false));
    QVERIFY2(recorder.waitForJournal(
                 QStringLiteral("MQTT write Lower Setpoint: \"21\" (word 11 = 2100) queued"), 5000),
             qPrintable(recorder.journalText()));
}

void TestE2eMqtt::wrongPassword_toldOnceAndTheLineAndLogGoOn()
{
    const QString folder = m_dir->path();
    MqttBroker broker(folder);
    QVERIFY2(broker.start(), qPrintable(broker.error()));

    // A password file every user can read stops the start.
    const QString open = broker.passwordFile();
    QFile(open).setPermissions(QFile::permissions(open) | QFileDevice::ReadOther);
    Recorder careless;
    QVERIFY(careless.start(folder, mqttOptions(broker, open)));
    QCOMPARE(careless.waitForExit(10000), 2);
    QVERIFY2(careless.journalText().contains(QStringLiteral("chmod o-r")),
             qPrintable(careless.journalText()));

    BoardSimProcess sim(folder);
    QVERIFY2(sim.start({QStringLiteral("--time-scale"), QStringLiteral("5")}),
             qPrintable(sim.error()));
    Recorder recorder;
    QVERIFY(
        recorder.start(folder, mqttOptions(broker, broker.passwordFile(QStringLiteral("wrong")))));
    QVERIFY2(recorder.waitForJournal(QStringLiteral("the broker refused the connection"), 10000),
             qPrintable(recorder.journalText()));
    QTest::qWait(7000); // retries after 2 and 4 s
    QCOMPARE(recorder.journalText().count(QStringLiteral("refused the connection")), 1);
    QCOMPARE(recorder.process().state(), QProcess::Running);
    QVERIFY2(logLines(folder).size() >= 2, qPrintable(logLines(folder).join(u'|')));
}

void TestE2eMqtt::tls_ownAuthorityConnectsAForeignOneIsRefused()
{
    const QString folder = m_dir->path();
    QFile extensions(QDir(folder).filePath(QStringLiteral("server.ext")));
    QVERIFY(extensions.open(QIODevice::WriteOnly));
    extensions.write("subjectAltName=IP:127.0.0.1\n");
    extensions.close();
    QVERIFY(makeAuthority(folder, QStringLiteral("ca")));
    QVERIFY(makeAuthority(folder, QStringLiteral("foreign")));
    QVERIFY(openssl(
        folder, {QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                 QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                 QStringLiteral("-nodes"), QStringLiteral("-keyout"), QStringLiteral("server.key"),
                 QStringLiteral("-out"), QStringLiteral("server.csr"), QStringLiteral("-subj"),
                 QStringLiteral("/CN=127.0.0.1")}));
    QVERIFY(openssl(folder,
                    {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                     QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.crt"),
                     QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                     QStringLiteral("-CAcreateserial"), QStringLiteral("-out"),
                     QStringLiteral("server.crt"), QStringLiteral("-days"), QStringLiteral("2"),
                     QStringLiteral("-extfile"), QStringLiteral("server.ext")}));
    MqttBroker broker(folder);
    broker.useTls(broker.path(QStringLiteral("ca.crt")), broker.path(QStringLiteral("server.crt")),
                  broker.path(QStringLiteral("server.key")));
    QVERIFY2(broker.start(), qPrintable(broker.error()));

    // No board is needed: the recorder waits for its device (one that is never there) and
    // talks to the broker meanwhile.
    const auto noBoard = [](const QTemporaryDir& dir) {
        return QStringList{QStringLiteral("--device"), dir.filePath(QStringLiteral("no-board"))};
    };
    QTemporaryDir trusting;
    Recorder good;
    QVERIFY(good.start(
        trusting.path(),
        mqttOptions(broker, broker.passwordFile(), QStringLiteral("mqtts")) + noBoard(trusting) +
            QStringList{QStringLiteral("--mqtt-ca"), broker.path(QStringLiteral("ca.crt"))}));
    QVERIFY2(good.waitForJournal(QStringLiteral("MQTT: connected to mqtts://127.0.0.1:"), 10000),
             qPrintable(good.journalText()));

    QTemporaryDir doubting;
    Recorder refused;
    QVERIFY(refused.start(
        doubting.path(),
        mqttOptions(broker, broker.passwordFile(), QStringLiteral("mqtts")) + noBoard(doubting) +
            QStringList{QStringLiteral("--mqtt-ca"), broker.path(QStringLiteral("foreign.crt"))}));
    // Refused with a journal line: OpenSSL's own words where the library passes them on
    // (Debian 12); Debian 13's libmosquitto says only "Protocol error".
    QVERIFY2(refused.waitForJournal(QStringLiteral("; trying again"), 10000),
             qPrintable(refused.journalText()));
    QVERIFY(!refused.journalText().contains(QStringLiteral("MQTT: connected")));
}

void TestE2eMqtt::notABroker_toldWithinTheConnectTimeOut()
{
    // A server that takes connections (the kernel completes them) and never says a word.
    QTcpServer mute;
    QVERIFY(mute.listen(QHostAddress::LocalHost, 0));
    Recorder recorder;
    QVERIFY(recorder.start(
        m_dir->path(),
        {QStringLiteral("--mqtt"), QStringLiteral("mqtt://127.0.0.1:%1").arg(mute.serverPort()),
         QStringLiteral("--board-id"), QStringLiteral("test"), QStringLiteral("--device"),
         m_dir->filePath(QStringLiteral("no-board"))}));
    QVERIFY2(recorder.waitForJournal(
                 QStringLiteral("MQTT: mqtt://127.0.0.1:%1: the server accepted the connection but "
                                "did not answer as an MQTT broker within 10 s; trying again")
                     .arg(mute.serverPort()),
                 12500),
             qPrintable(recorder.journalText()));
}

QTEST_GUILESS_MAIN(TestE2eMqtt)
#include "tst_e2e_mqtt.moc"
