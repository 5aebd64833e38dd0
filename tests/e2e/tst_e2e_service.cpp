// kelvaro-recorder serving kelvaro-ctl and other local clients over its socket, against the
// real simulated board on a pseudo-terminal: writes reach the board as frames and are
// confirmed, refusals send nothing, bad clients disturb nothing, and the socket is made
// and kept safely.

#include "board_sim_process.h"
#include "recorder_process.h"

#include <QDateTime>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace kelvaro::e2e;

namespace {

QString socketIn(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("kelvaro.sock"));
}

} // namespace

class TestE2eService : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void ctlAndBadClients_writesConfirmedRefusalsSendNothingAndTheLogGoesOn();
    void subscriber_getsEveryBlockAndSwitchesLoggingOffThroughTheService();
    void secondRecorderOnTheSocket_refusedAndTheFirstServesOn();
    void staleSocket_replacedWhenNobodyAnswers();
    void linkAtTheSocketPath_notFollowed();
    void noService_ctlSaysWhichSocketAndExits3();
};

void TestE2eService::ctlAndBadClients_writesConfirmedRefusalsSendNothingAndTheLogGoesOn()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    BoardSimProcess sim(dir.path());
    // The model runs fast, so every two-second pass has a new counter and writes a line.
    QVERIFY2(sim.start({QStringLiteral("--time-scale"), QStringLiteral("5")}),
             qPrintable(sim.error()));
    Recorder recorder;
    QVERIFY(recorder.start(dir.path()));
    QVERIFY2(
        recorder.waitForJournal(QStringLiteral("serving local clients on ") + socketIn(dir), 10000),
        qPrintable(recorder.journalText()));
    QVERIFY(QTest::qWaitFor([&] { return logLines(dir.path()).size() >= 1; }, 15000));

    const CtlRun values = ctl(dir.path(), {QStringLiteral("values")});
    QCOMPARE(values.exitCode, 0);
    QVERIFY2(values.out.contains(QStringLiteral("\nLower Setpoint=")) &&
                 values.out.startsWith(QStringLiteral("Actual Temperature=")),
             qPrintable(values.out));

    // Lower Setpoint (box 2, word 11) to 21.50 °C: the frame 22, 1, 0x66, 0x08 reaches the
    // board, which then holds 2150, and kelvaro-ctl ends once a block has shown it.
    const qint64 writesBefore = sim.stats().value("writes", -1);
    const CtlRun set =
        ctl(dir.path(), {QStringLiteral("set"), QStringLiteral("2"), QStringLiteral("21.5"),
                         QStringLiteral("--unit"), QStringLiteral("C")});
    QVERIFY2(set.exitCode == 0, qPrintable(set.err));
    QVERIFY(sim.waitForWord(11, 2150));
    QCOMPARE(sim.stats().value("writes"), writesBefore + 1);
    QVERIFY2(recorder.waitForJournal(QStringLiteral("pid %1) write Lower Setpoint: \"21.5\" "
                                                    "(word 11 = 2150) queued")
                                         .arg(set.pid),
                                     5000),
             qPrintable(recorder.journalText()));

    // A value the box refuses: exit 1, the window's reason, nothing on the line.
    const CtlRun refused =
        ctl(dir.path(),
            {QStringLiteral("set"), QStringLiteral("Lower Setpoint:"), QStringLiteral("500")});
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.err.contains(QStringLiteral("cannot be sent to the board")),
             qPrintable(refused.err));

    // Clients that speak no JSON, and one that sends an endless line.
    QLocalSocket garbage;
    garbage.connectToServer(socketIn(dir));
    QVERIFY(garbage.waitForConnected(5000));
    garbage.write("\x01\x02 not json\n{\"type\":\"launch\"}\n");
    QByteArray answers;
    QVERIFY(QTest::qWaitFor(
        [&] {
            answers += garbage.readAll();
            return answers.count('\n') >= 3;
        },
        5000));
    QVERIFY2(answers.contains("\"type\":\"hello\"") && answers.contains("not JSON") &&
                 answers.contains("unknown request type"),
             answers.constData());
    QLocalSocket endless;
    endless.connectToServer(socketIn(dir));
    QVERIFY(endless.waitForConnected(5000));
    for (int k = 0; k < 20 && endless.state() == QLocalSocket::ConnectedState; ++k) {
        endless.write(QByteArray(8192, 'x'));
        endless.waitForBytesWritten(1000);
    }
    QVERIFY(
        QTest::qWaitFor([&] { return endless.state() == QLocalSocket::UnconnectedState; }, 5000));
    QCOMPARE(garbage.state(), QLocalSocket::ConnectedState); // the others are served on

    QTest::qWait(4000); // two more passes of the log
    QCOMPARE(sim.stats().value("writes"), writesBefore + 1);
    const QStringList lines = logLines(dir.path());
    QVERIFY2(lines.size() >= 3, qPrintable(lines.join(u'|')));
    QVERIFY2(longestGap(lines) <= 6, qPrintable(lines.join(u'|')));
    QCOMPARE(recorder.process().state(), QProcess::Running);

    ::kill(pid_t(recorder.process().processId()), SIGTERM);
    QCOMPARE(recorder.waitForExit(10000), 0);
    QVERIFY(!QFile::exists(socketIn(dir))); // removed at a clean stop
}

void TestE2eService::subscriber_getsEveryBlockAndSwitchesLoggingOffThroughTheService()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    BoardSimProcess sim(dir.path());
    QVERIFY2(sim.start({QStringLiteral("--time-scale"), QStringLiteral("5")}),
             qPrintable(sim.error()));
    Recorder recorder;
    QVERIFY(recorder.start(dir.path()));
    QVERIFY(recorder.waitForJournal(QStringLiteral("opened "), 10000));
    QVERIFY(QTest::qWaitFor([&] { return logLines(dir.path()).size() >= 1; }, 15000));

    QLocalSocket client;
    client.connectToServer(socketIn(dir));
    QVERIFY(client.waitForConnected(5000));
    QByteArray received;
    const auto linesWith = [&](const QByteArray& text) {
        received += client.readAll();
        qsizetype count = 0;
        for (const QByteArray& line : received.split('\n'))
            count += line.contains(text) ? 1 : 0;
        return count;
    };
    client.write(R"({"type":"subscribe","unit":"F","id":1})"
                 "\n");
    // Blocks come about four times a second at the simulated board's pace.
    QVERIFY(QTest::qWaitFor([&] { return linesWith("\"type\":\"state\"") >= 4; }, 10000));
    // Temperatures in the subscriber's unit, as the window shows them in °F.
    QVERIFY(received.contains("\"unit\":\"F\"") && received.contains("\xC2\xB0"
                                                                     "F\""));

    client.write(R"({"type":"settings","logActive":false,"id":"off"})"
                 "\n");
    QVERIFY(QTest::qWaitFor(
        [&] { return linesWith(R"("id":"off","result":"saved","type":"settings")") == 1; }, 5000));
    QVERIFY2(recorder.waitForJournal(QStringLiteral("settings: logging off: saved"), 5000),
             qPrintable(recorder.journalText()));
    QFile settings(dir.filePath(QStringLiteral("Settings.txt")));
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QList<QByteArray> fileLines = settings.readAll().split('\n');
    const qsizetype logging = fileLines.indexOf("\"[Logging]\"\r");
    QVERIFY(logging >= 0);
    QCOMPARE(fileLines.value(logging + 1), QByteArray("0\r"));
    const qsizetype written = logLines(dir.path()).size();
    QTest::qWait(4500); // two passes of the log
    QCOMPARE(logLines(dir.path()).size(), written);
}

void TestE2eService::secondRecorderOnTheSocket_refusedAndTheFirstServesOn()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // No board: the recorders wait for their devices, so only the socket can stop the second,
    // which serves another folder but is told the first one's socket.
    QTemporaryDir otherDir;
    QVERIFY(otherDir.isValid());
    Recorder first;
    QVERIFY(first.start(dir.path(),
                        {QStringLiteral("--device"), dir.filePath(QStringLiteral("com1"))}));
    QVERIFY2(first.waitForJournal(QStringLiteral("serving local clients"), 10000),
             qPrintable(first.journalText()));
    Recorder second;
    QVERIFY(second.start(otherDir.path(),
                         {QStringLiteral("--device"), dir.filePath(QStringLiteral("com2")),
                          QStringLiteral("--socket"), socketIn(dir)}));
    QCOMPARE(second.waitForExit(10000), 1);
    QVERIFY2(second.journalText().contains(QStringLiteral("another service answers on ") +
                                           socketIn(dir)),
             qPrintable(second.journalText()));
    const CtlRun status = ctl(dir.path(), {QStringLiteral("status")});
    QCOMPARE(status.exitCode, 0);
    QVERIFY2(status.out.contains(QStringLiteral("clients: 1 connected")), qPrintable(status.out));
}

void TestE2eService::staleSocket_replacedWhenNobodyAnswers()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList device{QStringLiteral("--device"), dir.filePath(QStringLiteral("com1"))};
    {
        Recorder crashed;
        QVERIFY(crashed.start(dir.path(), device));
        QVERIFY(crashed.waitForJournal(QStringLiteral("serving local clients"), 10000));
        crashed.process().kill(); // no clean stop: the socket file stays
        crashed.waitForExit(5000);
    }
    QVERIFY(QFileInfo(socketIn(dir)).exists());
    Recorder next;
    QVERIFY(next.start(dir.path(), device));
    QVERIFY2(next.waitForJournal(QStringLiteral("replaced the stale socket"), 10000),
             qPrintable(next.journalText()));
    QCOMPARE(ctl(dir.path(), {QStringLiteral("status")}).exitCode, 0);
}

void TestE2eService::linkAtTheSocketPath_notFollowed()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QFile::link(target, socketIn(dir)));
    Recorder recorder;
    QVERIFY(recorder.start(dir.path(),
                           {QStringLiteral("--device"), dir.filePath(QStringLiteral("com1"))}));
    QCOMPARE(recorder.waitForExit(10000), 1);
    QVERIFY2(recorder.journalText().contains(QStringLiteral("is a symbolic link")),
             qPrintable(recorder.journalText()));
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(QFileInfo(socketIn(dir)).isSymLink());
}

void TestE2eService::noService_ctlSaysWhichSocketAndExits3()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const CtlRun run = ctl(dir.path(), {QStringLiteral("values")});
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(run.err.contains(socketIn(dir)), qPrintable(run.err));
    QCOMPARE(ctl(dir.path(), {QStringLiteral("frobnicate")}).exitCode, 2);
}

QTEST_GUILESS_MAIN(TestE2eService)
#include "tst_e2e_service.moc"
