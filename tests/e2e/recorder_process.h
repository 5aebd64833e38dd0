#pragma once
// The real kelvaro-recorder executable on a board folder, as a service runs it, its stderr
// read as the journal. Every wait keeps the event loop running.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

namespace kelvaro::e2e {

// One kelvaro-recorder process for the board folder, without any display in its
// environment; its stderr lines are the journal.
class Recorder
{
public:
    ~Recorder()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool start(const QString& folder, const QStringList& options = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(KELVARO_RECORDER_PATH),
                        QStringList{QStringLiteral("--dir"), folder} + options);
        return m_process.waitForStarted(5000);
    }

    // Waits for a journal line containing `text` after the last one found.
    bool waitForJournal(const QString& text, int timeoutMs)
    {
        return QTest::qWaitFor(
            [&] {
                readJournal();
                while (m_next < m_journal.size()) {
                    if (m_journal[m_next++].contains(text))
                        return true;
                }
                return false;
            },
            timeoutMs);
    }

    // Waits for the process to end; its exit code, or -1 when it did not end normally.
    int waitForExit(int timeoutMs)
    {
        const bool ended =
            QTest::qWaitFor([&] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
        readJournal();
        return ended && m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    QStringList journal()
    {
        readJournal();
        return m_journal;
    }
    QString journalText() { return journal().join(QLatin1Char('\n')); }
    QProcess& process() { return m_process; }

private:
    void readJournal()
    {
        m_pending += m_process.readAllStandardError();
        qsizetype end = 0;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            m_journal.append(QString::fromLocal8Bit(m_pending.left(end)));
            m_pending.remove(0, end + 1);
        }
    }

    QProcess m_process;
    QByteArray m_pending;
    QStringList m_journal;
    qsizetype m_next = 0;
};

// The lines of the day's log file in `folder` (the starting settings' DD-MM-YYYY name).
inline QStringList logLines(const QString& folder, QByteArray* raw = nullptr)
{
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("\?\?-\?\?-\?\?\?\?.txt")}, QDir::Files);
    QByteArray bytes;
    if (QFile file(QDir(folder).filePath(names.value(names.size() - 1, QStringLiteral("none"))));
        file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (raw)
        *raw = bytes;
    return QString::fromLatin1(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

// "date,time,temperature,relay": the starting settings log the actual temperature (word 1,
// as the unsigned word the board sent) and the relay (high byte of word 0).
inline const QRegularExpression
    LogLine(QStringLiteral("^\\d\\d-\\d\\d-\\d{4},\\d\\d:\\d\\d:\\d\\d,(\\d+),(\\d+)$"));

// The longest time between two consecutive lines of the log, in seconds.
inline qint64 longestGap(const QStringList& lines)
{
    qint64 longest = 0;
    QDateTime previous;
    for (const QString& line : lines) {
        const QDateTime time =
            QDateTime::fromString(line.left(19), QStringLiteral("dd-MM-yyyy,HH:mm:ss"));
        if (previous.isValid())
            longest = std::max(longest, previous.secsTo(time));
        previous = time;
    }
    return longest;
}

// Starts the simulated board (`sim`, on `folder`) at five times its pace and a recorder on
// the folder, and waits for the recorder's socket and its first log line. Empty when all
// went so, otherwise what did not.
template <class Sim>
QString startBoardAndRecorder(Sim& sim, Recorder& recorder, const QString& folder)
{
    if (!sim.start({QStringLiteral("--time-scale"), QStringLiteral("5")}))
        return sim.error();
    if (!recorder.start(folder) ||
        !recorder.waitForJournal(QStringLiteral("serving local clients"), 10000))
        return recorder.journalText();
    if (!QTest::qWaitFor([&] { return logLines(folder).size() >= 1; }, 15000))
        return QStringLiteral("no log line within 15 s");
    return {};
}

struct CtlRun
{
    int exitCode = -1;
    QString out;
    QString err;
    qint64 pid = 0;
};

// Runs `program` in `folder` to its end, with `environment` added to this process's own.
inline CtlRun runProgram(const QString& program, const QString& folder,
                         const QStringList& arguments, const QProcessEnvironment& environment = {})
{
    QProcess process;
    process.setWorkingDirectory(folder);
    QProcessEnvironment all = QProcessEnvironment::systemEnvironment();
    all.insert(environment);
    process.setProcessEnvironment(all);
    process.start(program, arguments);
    CtlRun run;
    if (!process.waitForStarted(5000))
        return run;
    run.pid = process.processId();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

#ifdef KELVARO_CTL_PATH
// Runs kelvaro-ctl in `folder` (so it finds the default socket there) to its end.
inline CtlRun ctl(const QString& folder, const QStringList& arguments,
                  const QProcessEnvironment& environment = {})
{
    return runProgram(QStringLiteral(KELVARO_CTL_PATH), folder, arguments, environment);
}
#endif

} // namespace kelvaro::e2e
