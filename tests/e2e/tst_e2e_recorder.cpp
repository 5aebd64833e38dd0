// The shipped kelvaro-recorder as a service runs it, with no display, against the real
// simulated board on a pseudo-terminal: what it logs, what it tells the journal when the
// line comes and goes, how it ends, and how it leaves a line another recorder holds.

#include "board_sim_process.h"
#include "recorder_process.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace kelvaro::e2e;

using namespace Qt::StringLiterals;

namespace {

// The board answers polls again: its count of answered polls grows.
bool answering(BoardSimProcess& sim, int timeoutMs = 10000)
{
    const qint64 before = sim.stats().value("answers", -1);
    return before >= 0 &&
           QTest::qWaitFor([&] { return sim.stats().value("answers") > before; }, timeoutMs);
}

} // namespace

class TestE2eRecorder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void loggedLines_matchTheBoard();
    void lineComesAndGoes_answeredAgainAndToldInTheJournal_data();
    void lineComesAndGoes_answeredAgainAndToldInTheJournal();
    void sigterm_endsBetweenTwoLines();
    void secondRecorderOnTheLine_refusedAndTheFirstAnswersOn();
};

void TestE2eRecorder::loggedLines_matchTheBoard()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    BoardSimProcess sim(dir.path());
    QVERIFY2(sim.start({QStringLiteral("--time-scale"), QStringLiteral("0")}), // still
             qPrintable(sim.error()));
    // Board states, each with a new counter (low byte of word 0): a line per state.
    // Temperature first, so no pass sees the new counter with the old temperature; -5.00
    // (65036) is logged as the word it is, with no sign.
    const QList<QList<QByteArray>> states{
        {"set 1 2350", "set 0 257"}, {"set 1 65036", "set 0 2"}, {"set 1 1999", "set 0 259"}};
    Recorder recorder;
    for (qsizetype n = 0; n < states.size(); ++n) {
        for (const QByteArray& command : states[n])
            sim.command(command);
        const auto words = sim.dump(); // answered after the commands are carried out
        QVERIFY(words);
        if (n == 0) {
            QVERIFY(recorder.start(dir.path()));
            QVERIFY2(recorder.waitForJournal(QStringLiteral("opened "), 10000),
                     qPrintable(recorder.journalText()));
            QVERIFY(QFile::exists(dir.filePath(QStringLiteral("Settings.txt"))));
        }
        QStringList lines;
        QVERIFY2(QTest::qWaitFor([&] { return (lines = logLines(dir.path())).size() > n; }, 15000),
                 qPrintable(lines.join(u'|')));
        QCOMPARE(lines.size(), n + 1);
        const QRegularExpressionMatch match = LogLine.match(lines.constLast());
        QVERIFY2(match.hasMatch(), qPrintable(lines.constLast()));
        QCOMPARE(match.captured(1).toInt(), (*words)[1]);
        QCOMPARE(match.captured(2).toInt(), (*words)[0] >> 8);
    }
    QCOMPARE(recorder.process().state(), QProcess::Running);
}

void TestE2eRecorder::lineComesAndGoes_answeredAgainAndToldInTheJournal_data()
{
    // Steps: what happens ("recorder" starts it on the folder's com1, "board" starts the
    // simulated board, "close" and "reopen" unplug and replug it) and the journal line
    // that must follow. Every (re)opened line must be answering.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("journal");
    QTest::newRow("unplugged and plugged in")
        << QStringList{u"board"_s, u"recorder"_s, u"close"_s, u"reopen"_s}
        << QStringList{QString(), u"opened "_s, u": device removed; retrying every 3 s"_s,
                       u"reopened "_s};
    QTest::newRow("device missing at start, plugged in later")
        << QStringList{u"recorder"_s, u"board"_s, u"close"_s, u"reopen"_s}
        << QStringList{u": no such device; retrying every 3 s"_s, u"reopened "_s,
                       u": device removed; retrying every 3 s"_s, u"reopened "_s};
}

void TestE2eRecorder::lineComesAndGoes_answeredAgainAndToldInTheJournal()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, journal);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    BoardSimProcess sim(dir.path());
    Recorder recorder;
    const QString com1 = dir.filePath(QStringLiteral("com1"));
    for (qsizetype k = 0; k < steps.size(); ++k) {
        const QString& step = steps[k];
        if (step == QStringLiteral("recorder"))
            QVERIFY(recorder.start(dir.path(), {QStringLiteral("--device"), com1}));
        else if (step == QStringLiteral("board"))
            QVERIFY2(sim.start({}), qPrintable(sim.error()));
        else
            sim.command(step.toLatin1());
        if (journal[k].isEmpty())
            continue;
        // A device that appears is opened at the next attempt: within the 3 s interval
        // and the time a busy machine takes.
        QVERIFY2(recorder.waitForJournal(journal[k], 6000),
                 qPrintable(step + QStringLiteral(":\n") + recorder.journalText()));
        if (journal[k].contains(QStringLiteral("opened ")))
            QVERIFY2(answering(sim, 5000), qPrintable(step));
    }
    QCOMPARE(recorder.process().state(), QProcess::Running);
}

void TestE2eRecorder::sigterm_endsBetweenTwoLines()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    BoardSimProcess sim(dir.path());
    // The model runs fast, so every two-second pass has a new counter and writes a line.
    QVERIFY2(sim.start({QStringLiteral("--time-scale"), QStringLiteral("5")}),
             qPrintable(sim.error()));
    Recorder recorder;
    QVERIFY(recorder.start(dir.path()));
    QVERIFY(QTest::qWaitFor([&] { return logLines(dir.path()).size() >= 2; }, 20000));
    // Right as the next line is due.
    const qsizetype written = logLines(dir.path()).size();
    QVERIFY(QTest::qWaitFor([&] { return logLines(dir.path()).size() > written; }, 10000));
    QTest::qWait(1990);
    ::kill(pid_t(recorder.process().processId()), SIGTERM);

    QCOMPARE(recorder.waitForExit(10000), 0);
    QCOMPARE(recorder.journal().constLast(), QStringLiteral("kelvaro-recorder: stopped"));
    QByteArray bytes;
    const QStringList lines = logLines(dir.path(), &bytes);
    QVERIFY(bytes.endsWith("\r\n"));
    for (const QString& line : lines)
        QVERIFY2(LogLine.match(line).hasMatch(), qPrintable(line));
}

void TestE2eRecorder::secondRecorderOnTheLine_refusedAndTheFirstAnswersOn()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    BoardSimProcess sim(dir.path());
    QVERIFY2(sim.start({}), qPrintable(sim.error()));
    Recorder first;
    QVERIFY(first.start(dir.path()));
    QVERIFY2(first.waitForJournal(QStringLiteral("opened "), 10000),
             qPrintable(first.journalText()));
    QVERIFY(answering(sim));

    Recorder second;
    QVERIFY(second.start(dir.path()));
    QCOMPARE(second.waitForExit(15000), 1);
    const QString holder =
        QStringLiteral("in use by kelvaro-recorder (process %1)").arg(first.process().processId());
    QVERIFY2(second.journal().constLast().contains(QStringLiteral("not started: ")) &&
                 second.journal().constLast().contains(holder),
             qPrintable(second.journalText()));

    QVERIFY(answering(sim));
    QCOMPARE(first.process().state(), QProcess::Running);
    QVERIFY2(!first.journalText().contains(QStringLiteral("removed")),
             qPrintable(first.journalText()));
}

QTEST_GUILESS_MAIN(TestE2eRecorder)
#include "tst_e2e_recorder.moc"
