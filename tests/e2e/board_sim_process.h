#pragma once
// The real kelvaro-board-sim executable on a pseudo-terminal, driven through its stdin
// commands. Every wait keeps the event loop running, so a program hosted in the test
// process goes on talking to the simulator meanwhile.

#include <QByteArray>
#include <QHash>
#include <QProcess>
#include <QStringList>
#include <QTest>
#include <array>
#include <ctime>
#include <optional>

namespace kelvaro::e2e {

using BoardWords = std::array<qint32, 20>;

class BoardSimProcess
{
public:
    explicit BoardSimProcess(QString folder) : m_folder(std::move(folder)) {}
    ~BoardSimProcess() { stop(); }
    BoardSimProcess(const BoardSimProcess&) = delete;
    BoardSimProcess& operator=(const BoardSimProcess&) = delete;

    // Starts the simulator for port 1 in the folder with `options` and waits for its
    // ready line. On failure, error() says why.
    bool start(const QStringList& options)
    {
        m_process.start(QStringLiteral(KELVARO_BOARD_SIM_PATH),
                        QStringList{QStringLiteral("--folder"), m_folder, QStringLiteral("--port"),
                                    QStringLiteral("1")} +
                            options);
        if (!m_process.waitForStarted(5000)) {
            m_error = m_process.errorString();
            return false;
        }
        if (waitForLine("kelvaro-board-sim: port 1 is ", 10000).isEmpty()) {
            m_error = QString::fromLocal8Bit(m_process.readAllStandardError());
            return false;
        }
        return true;
    }

    // Ends the simulator ("quit", then the signal) and returns its last counters line.
    QByteArray stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return {};
        m_process.write("quit\n");
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        return waitForLine("stats ", 0);
    }

    void command(const QByteArray& line) { m_process.write(line + '\n'); }

    // The counters of the "stats" line by name (polls, answers, blocks, writes, resets,
    // lost, unexpected); empty when the simulator did not answer.
    QHash<QByteArray, qint64> stats()
    {
        QHash<QByteArray, qint64> counters;
        const QByteArray line = request("stats", "stats ");
        for (const QByteArray& pair : line.split(' ')) {
            const qsizetype eq = pair.indexOf('=');
            if (eq > 0)
                counters.insert(pair.left(eq), pair.mid(eq + 1).toLongLong());
        }
        return counters;
    }

    // The board's twenty register words.
    std::optional<BoardWords> dump()
    {
        const QList<QByteArray> fields = request("dump", "words ").split(' ');
        if (fields.size() != 21)
            return std::nullopt;
        BoardWords words{};
        for (std::size_t k = 0; k < words.size(); ++k)
            words[k] = fields[qsizetype(k) + 1].toInt();
        return words;
    }

    // Waits until the board holds `value` in `word`.
    bool waitForWord(int word, qint32 value, int timeoutMs = 5000)
    {
        return QTest::qWaitFor(
            [&] {
                const auto words = dump();
                return words && (*words)[std::size_t(word)] == value;
            },
            timeoutMs);
    }

    // The first line beginning with `prefix` that the simulator printed (and not yet
    // taken), waiting up to `timeoutMs`; empty when none came.
    QByteArray waitForLine(const QByteArray& prefix, int timeoutMs)
    {
        QByteArray found;
        const bool seen = QTest::qWaitFor(
            [&] {
                m_process.waitForReadyRead(0);
                while (m_process.canReadLine())
                    m_lines.append(m_process.readLine().trimmed());
                for (qsizetype i = 0; i < m_lines.size(); ++i) {
                    if (m_lines[i].startsWith(prefix)) {
                        found = m_lines.takeAt(i);
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        return seen ? found : QByteArray();
    }

    QString error() const { return m_error; }
    QProcess& process() { return m_process; }

private:
    QByteArray request(const QByteArray& commandLine, const QByteArray& answerPrefix)
    {
        m_lines.removeIf([&](const QByteArray& line) { return line.startsWith(answerPrefix); });
        command(commandLine);
        return waitForLine(answerPrefix, 5000);
    }

    QString m_folder;
    QProcess m_process;
    QList<QByteArray> m_lines;
    QString m_error;
};

// CPU time this process has used, in milliseconds.
inline qint64 processCpuMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace kelvaro::e2e
