// The shipped kelvaro-recorder as a service runs it, with no display, against the real
// simulated board on a pseudo-terminal: what it logs, what it tells the journal when the
// line comes and goes, how it ends, and how it leaves a line another recorder holds.

#include "app/recorder_settings.h"
#include "board_sim_process.h"
#include "recorder_process.h"
#include "store/settings_file.h"
#include "support/unprivileged.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/stat.h>

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

// The starting settings' file with line `line` (from 1) replaced by `text`.
QByteArray startSettingsWith(int line = 0, const QByteArray& text = {})
{
    QList<QByteArray> lines =
        kelvaro::settingsFileBytes(kelvaro::recorderStartSettings()).value().split('\n');
    if (line > 0)
        lines[line - 1] = text + '\r';
    return lines.join('\n');
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Today's log file name under the starting settings' pattern.
QString todaysLogName()
{
    return QDate::currentDate().toString(QStringLiteral("dd-MM-yyyy")) + QStringLiteral(".txt");
}

// The metric's value in a metrics file, or an empty text when it is not there.
QString metricValue(const QByteArray& exposition, const QByteArray& name)
{
    for (const QByteArray& line : exposition.split('\n')) {
        if (line.startsWith(QByteArray(name + ' ')) || line.startsWith(QByteArray(name + '{')))
            return QString::fromLatin1(line.mid(line.lastIndexOf(' ') + 1));
    }
    return {};
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
    void badStart_refusedWithTheReasonAndNothingChanged_data();
    void badStart_refusedWithTheReasonAndNothingChanged();
    void noSettingsInAReadOnlyFolder_runsOnTheStartingSettings();
    void idleLogging_toldOnceAtStart_data();
    void idleLogging_toldOnceAtStart();
    void secondRecorderOnTheFolder_refusedWithTheHolderNamed();
    void quitSignals_stopCleanly_data();
    void quitSignals_stopCleanly();
    void metrics_atMostOnceASecond_failureToldOnce_closedAtStop();
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

    // Another folder, the same line.
    QTemporaryDir other;
    QVERIFY(other.isValid());
    Recorder second;
    QVERIFY(second.start(other.path(),
                         {QStringLiteral("--device"), dir.filePath(QStringLiteral("com1"))}));
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

void TestE2eRecorder::badStart_refusedWithTheReasonAndNothingChanged_data()
{
    // What Settings.txt is ("fifo", "folder", or its bytes), the options (DIR is the board
    // folder, LOG today's log file), the exit status and a journal line that must come.
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("journal");
    const QStringList device{u"--device"_s, u"DIR/com1"_s};
    QByteArray noise(3000, '\0');
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919) % 251);
    QTest::newRow("random bytes") << noise << device << 78 << u"Settings.txt line "_s;
    QTest::newRow("empty file") << QByteArray() << device << 78
                                << u"Settings.txt line 1: the file is empty"_s;
    QTest::newRow("cut short") << startSettingsWith().left(60) << device << 78
                               << u": the file ends after line "_s;
    QTest::newRow("a folder") << QByteArray("folder") << device << 78
                              << u"cannot be read: it is a folder, not a file"_s;
    QTest::newRow("a FIFO") << QByteArray("fifo") << device << 78
                            << u"cannot be read: it is not a regular file"_s;
    QTest::newRow("port names no device") << startSettingsWith(2, "0") << QStringList() << 78
                                          << u"Settings.txt line 2: port 0 names no serial"_s;
    QTest::newRow("baud 0") << startSettingsWith(3, "0") << device << 78
                            << u"Settings.txt line 3: baud rate 0 is not usable"_s;
    QTest::newRow("logging switch 2") << startSettingsWith(19, "2") << device << 78
                                      << u"Settings.txt line 19: the logging switch is 2"_s;
    QTest::newRow("wrongly cased field")
        << startSettingsWith(22, "\"relay status (h08)\"") << device << 78
        << u"Settings.txt line 22: logged field 2 \"relay status (h08)\" is not one the "
           "program knows (names are case-sensitive: \"Relay Status (h08)\")"_s;
    QTest::newRow("unknown event") << startSettingsWith(31, "\"On Tuesday\"") << device << 78
                                   << u"Settings.txt line 31: the logging event"_s;
    QTest::newRow("metrics is Settings.txt")
        << startSettingsWith() << device + QStringList{u"--metrics"_s, u"DIR/Settings.txt"_s} << 2
        << u"it is the board folder's Settings.txt"_s;
    QTest::newRow("metrics is Parameters.txt")
        << startSettingsWith() << device + QStringList{u"--metrics"_s, u"DIR/Parameters.txt"_s} << 2
        << u"it is the board folder's Parameters.txt"_s;
    QTest::newRow("metrics is today's log")
        << startSettingsWith() << device + QStringList{u"--metrics"_s, u"LOG"_s} << 2
        << u"it is a name of the board folder's daily log files"_s;
    QTest::newRow("metrics is another day's log")
        << startSettingsWith() << device + QStringList{u"--metrics"_s, u"DIR/01-01-2020.txt"_s} << 2
        << u"daily log files"_s;
    QTest::newRow("metrics is a device")
        << startSettingsWith() << device + QStringList{u"--metrics"_s, u"/dev/null"_s} << 2
        << u"it is not a regular file"_s;
    QTest::newRow("metrics is a folder")
        << startSettingsWith() << device + QStringList{u"--metrics"_s, u"DIR"_s} << 2
        << u"it is a folder"_s;
    QTest::newRow("metrics is a symbolic link")
        << startSettingsWith() << device + QStringList{u"--metrics"_s, u"LINK"_s} << 2
        << u"it is a symbolic link"_s;
    QTest::newRow("metrics in a missing folder")
        << startSettingsWith() << device + QStringList{u"--metrics"_s, u"DIR/none/x.prom"_s} << 2
        << u"does not exist"_s;
}

void TestE2eRecorder::badStart_refusedWithTheReasonAndNothingChanged()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QString, journal);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString settingsPath = dir.filePath(QStringLiteral("Settings.txt"));
    if (settings == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(settingsPath).constData(), 0600), 0);
    } else if (settings == "folder") {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Settings.txt")));
    } else {
        QFile file(settingsPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(settings);
    }
    const QString logPath = dir.filePath(todaysLogName());
    const QByteArray log = "01-01-2020,10:00:00,2350,1,\r\n";
    {
        QFile file(logPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(log);
    }
    // LINK: a link to a file that is not there yet, which the recorder must not create.
    const QString linkTarget = dir.filePath(u"target.prom"_s);
    QVERIFY(QFile::link(linkTarget, dir.filePath(u"board.prom"_s)));
    for (QString& option : options)
        option.replace(u"DIR"_s, dir.path())
            .replace(u"LOG"_s, logPath)
            .replace(u"LINK"_s, dir.filePath(u"board.prom"_s));

    Recorder recorder;
    QVERIFY(recorder.start(dir.path(), options));
    QCOMPARE(recorder.waitForExit(10000), status);
    QVERIFY2(recorder.journalText().contains(journal), qPrintable(recorder.journalText()));
    QVERIFY2(recorder.journal().constLast().contains(u"not started: "_s),
             qPrintable(recorder.journalText()));
    QCOMPARE(fileBytes(logPath), log);
    QVERIFY(!QFileInfo::exists(linkTarget));
    const QFileInfo after(settingsPath);
    if (settings == "fifo")
        QVERIFY(!after.isFile() && !after.isDir() && after.exists());
    else if (settings == "folder")
        QVERIFY(after.isDir());
    else
        QCOMPARE(fileBytes(settingsPath), settings);
}

void TestE2eRecorder::noSettingsInAReadOnlyFolder_runsOnTheStartingSettings()
{
    KELVARO_RUN_UNPRIVILEGED();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const auto writable = qScopeGuard([&] {
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
    });
    Recorder recorder;
    QVERIFY(recorder.start(dir.path(),
                           {QStringLiteral("--device"), dir.filePath(QStringLiteral("com1"))}));
    // 9600 baud and a device to wait for: the starting settings are in use.
    QVERIFY2(recorder.waitForJournal(u"retrying every 3 s"_s, 10000),
             qPrintable(recorder.journalText()));
    QVERIFY2(recorder.journalText().contains(u"running on the starting settings"_s),
             qPrintable(recorder.journalText()));
    ::kill(pid_t(recorder.process().processId()), SIGTERM);
    QCOMPARE(recorder.waitForExit(10000), 0);
    QVERIFY(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

void TestE2eRecorder::idleLogging_toldOnceAtStart_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("journal");
    QTest::newRow("logging off") << startSettingsWith(19, "0")
                                 << u"Settings.txt line 19: logging is off"_s;
    QTest::newRow("no field chosen")
        << startSettingsWith(21, "\"None\"")
        << u"Settings.txt line 21: no field is chosen for logging: log lines hold only the "
           "date and the time"_s;
    QTest::newRow("event None") << startSettingsWith(31, "\"None\"")
                                << u"Settings.txt line 31: the logging event is \"None\""_s;
}

void TestE2eRecorder::idleLogging_toldOnceAtStart()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, journal);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString settingsPath = dir.filePath(QStringLiteral("Settings.txt"));
    {
        QFile file(settingsPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(settings);
    }
    Recorder recorder;
    QVERIFY(recorder.start(dir.path(),
                           {QStringLiteral("--device"), dir.filePath(QStringLiteral("com1"))}));
    QVERIFY2(recorder.waitForJournal(u"retrying every 3 s"_s, 10000),
             qPrintable(recorder.journalText()));
    ::kill(pid_t(recorder.process().processId()), SIGTERM);
    QCOMPARE(recorder.waitForExit(10000), 0);
    QCOMPARE(recorder.journal().filter(journal).size(), 1);
    QCOMPARE(fileBytes(settingsPath), settings);
}

void TestE2eRecorder::secondRecorderOnTheFolder_refusedWithTheHolderNamed()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Recorder first;
    QVERIFY(first.start(dir.path(),
                        {QStringLiteral("--device"), dir.filePath(QStringLiteral("com1"))}));
    QVERIFY2(first.waitForJournal(u"retrying every 3 s"_s, 10000), qPrintable(first.journalText()));
    QByteArray log;
    logLines(dir.path(), &log);

    // Another device, the same folder: its lines would interleave with the first board's.
    Recorder second;
    QVERIFY(second.start(dir.path(),
                         {QStringLiteral("--device"), dir.filePath(QStringLiteral("com2"))}));
    QCOMPARE(second.waitForExit(10000), 1);
    QCOMPARE(second.journal(),
             QStringList{u"kelvaro-recorder: not started: the board folder %1 is in use by "
                         "kelvaro-recorder (process %2)"_s.arg(dir.path())
                             .arg(first.process().processId())});
    QCOMPARE(first.process().state(), QProcess::Running);

    // Once the first ends, however it ends, the folder is free.
    first.process().kill();
    QCOMPARE(first.waitForExit(5000), -1);
    Recorder third;
    QVERIFY(third.start(dir.path(),
                        {QStringLiteral("--device"), dir.filePath(QStringLiteral("com2"))}));
    QVERIFY2(third.waitForJournal(u"retrying every 3 s"_s, 10000), qPrintable(third.journalText()));
}

void TestE2eRecorder::quitSignals_stopCleanly_data()
{
    // The signal, and whether the journal's reader went away before it (the recorder then
    // writes into a closed pipe when the line changes).
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("journalGone");
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("SIGHUP") << int(SIGHUP) << false;
    QTest::newRow("journal gone, then SIGTERM") << int(SIGTERM) << true;
}

void TestE2eRecorder::quitSignals_stopCleanly()
{
    QFETCH(int, signal);
    QFETCH(bool, journalGone);
    QTemporaryDir dir;
    QTemporaryDir metricsDir;
    QVERIFY(dir.isValid() && metricsDir.isValid());
    const QString metrics = metricsDir.filePath(QStringLiteral("board.prom"));
    BoardSimProcess sim(dir.path());
    QVERIFY2(sim.start({}), qPrintable(sim.error()));
    Recorder recorder;
    QVERIFY(recorder.start(dir.path(), {QStringLiteral("--metrics"), metrics}));
    QVERIFY2(recorder.waitForJournal(u"opened "_s, 10000), qPrintable(recorder.journalText()));
    QVERIFY(answering(sim));
    QTRY_COMPARE(metricValue(fileBytes(metrics), "kelvaro_line_open"), u"1"_s);
    if (journalGone) {
        recorder.process().closeReadChannel(QProcess::StandardError);
        sim.command("close"); // "device removed" goes to the closed pipe
        QTest::qWait(500);
        sim.command("reopen");
        QVERIFY(answering(sim));
        QCOMPARE(recorder.process().state(), QProcess::Running);
    }

    ::kill(pid_t(recorder.process().processId()), signal);
    QCOMPARE(recorder.waitForExit(10000), 0);
    if (!journalGone)
        QCOMPARE(recorder.journal().constLast(), u"kelvaro-recorder: stopped"_s);
    QCOMPARE(metricValue(fileBytes(metrics), "kelvaro_line_open"), u"0"_s);
}

void TestE2eRecorder::metrics_atMostOnceASecond_failureToldOnce_closedAtStop()
{
    QTemporaryDir dir;
    QTemporaryDir metricsDir;
    QVERIFY(dir.isValid() && metricsDir.isValid());
    const QString metrics = metricsDir.filePath(QStringLiteral("board.prom"));
    BoardSimProcess sim(dir.path());
    QVERIFY2(sim.start({QStringLiteral("--poll-ms"), QStringLiteral("10")}),
             qPrintable(sim.error()));
    Recorder recorder;
    QVERIFY(recorder.start(dir.path(), {QStringLiteral("--metrics"), metrics}));
    QVERIFY2(recorder.waitForJournal(u"opened "_s, 10000), qPrintable(recorder.journalText()));
    QTRY_COMPARE(metricValue(fileBytes(metrics), "kelvaro_line_open"), u"1"_s);

    // Each write is a new file renamed into place: a new inode. Watched for 3 s while the
    // board sends many blocks a second.
    const qint64 blocksBefore = sim.stats().value("blocks");
    QSet<ino_t> files;
    QElapsedTimer watch;
    watch.start();
    while (watch.elapsed() < 3000) {
        struct stat status = {};
        if (::stat(QFile::encodeName(metrics).constData(), &status) == 0)
            files.insert(status.st_ino);
        QTest::qWait(20);
    }
    const qint64 blocks = sim.stats().value("blocks") - blocksBefore;
    qInfo("%lld metrics files written for %lld blocks in 3 s", qint64(files.size()), blocks);
    QVERIFY2(blocks >= 15, qPrintable(QString::number(blocks)));
    QVERIFY2(files.size() >= 2 && files.size() <= 5,
             qPrintable(u"%1 writes for %2 blocks"_s.arg(files.size()).arg(blocks)));

    // A folder where the file was: writes fail, told once; then written again.
    QVERIFY(QFile::remove(metrics));
    QVERIFY(QDir(metricsDir.path()).mkdir(QStringLiteral("board.prom")));
    QVERIFY2(recorder.waitForJournal(u"metrics write failed: "_s, 5000),
             qPrintable(recorder.journalText()));
    QTest::qWait(2500);
    QVERIFY(QDir(metricsDir.path()).rmdir(QStringLiteral("board.prom")));
    QVERIFY2(recorder.waitForJournal(u"metrics written again"_s, 5000),
             qPrintable(recorder.journalText()));
    QCOMPARE(recorder.journal().filter(u"metrics write failed"_s).size(), 1);

    ::kill(pid_t(recorder.process().processId()), SIGTERM);
    QCOMPARE(recorder.waitForExit(10000), 0);
    QCOMPARE(metricValue(fileBytes(metrics), "kelvaro_line_open"), u"0"_s);
}

QTEST_GUILESS_MAIN(TestE2eRecorder)
#include "tst_e2e_recorder.moc"
