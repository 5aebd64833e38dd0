#include "board_sim.h"

#include <QDir>
#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <cstdio>
#include <unistd.h>
#include <utility>

namespace kelvaro::boardsim {

namespace {

constexpr int ModelIntervalMs = 100;

} // namespace

BoardSim::BoardSim(const SimOptions& options, QObject* parent)
    : QObject(parent), m_options(options), m_model(options.startCelsius), m_silent(options.silent),
      m_garbagePending(options.garbage)
{
    if (options.stopBlock)
        m_exchange.cutNextBlock();
    if (options.ignoreWrite)
        m_exchange.ignoreNextFrame();

    m_port.setBaud(options.baud);
    connect(&m_port, &PtyPort::bytesReceived, this, &BoardSim::received);
    connect(&m_port, &PtyPort::drained, this, [this] {
        if (std::exchange(m_pollWhenDrained, false))
            armPoll();
    });
    connect(&m_port, &PtyPort::failed, this, [this](const QString& reason) {
        complain(QStringLiteral("port %1 failed (%2); closed").arg(m_options.port).arg(reason));
        closePort();
    });

    m_pollTimer.setSingleShot(true);
    connect(&m_pollTimer, &QTimer::timeout, this, &BoardSim::pollNow);
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, &BoardSim::answerOverdue);
    connect(&m_modelTimer, &QTimer::timeout, this, &BoardSim::advanceModel);
}

BoardSim::~BoardSim()
{
    finish();
}

QString BoardSim::start()
{
    if (const QString error = openPort(); !error.isEmpty())
        return error;
    m_modelClock.start();
    m_modelTimer.start(ModelIntervalMs);

    m_stdinNotifier = new QSocketNotifier(qintptr(STDIN_FILENO), QSocketNotifier::Read, this);
    connect(m_stdinNotifier, &QSocketNotifier::activated, this, &BoardSim::readStdin);
    m_started = true;
    return {};
}

void BoardSim::finish()
{
    if (!m_started || std::exchange(m_finished, true))
        return;
    m_pollTimer.stop();
    m_answerTimer.stop();
    m_modelTimer.stop();
    say(m_exchange.stats().line());
    if (!m_linkTarget.isEmpty())
        removeLinkTo(linkPath(), m_linkTarget);
    m_port.close();
}

void BoardSim::runCommand(const SimCommand& command)
{
    switch (command.kind) {
    case SimCommand::Kind::StopBlock:
        m_exchange.cutNextBlock();
        break;
    case SimCommand::Kind::Garbage:
        m_garbagePending = true;
        sendGarbageIfIdle();
        break;
    case SimCommand::Kind::IgnoreWrite:
        m_exchange.ignoreNextFrame();
        break;
    case SimCommand::Kind::Silent:
        m_silent = true;
        m_pollTimer.stop();
        break;
    case SimCommand::Kind::Resume:
        m_silent = false;
        armPoll();
        break;
    case SimCommand::Kind::Close:
        closePort();
        break;
    case SimCommand::Kind::Reopen:
        if (const QString error = openPort(); !error.isEmpty())
            complain(error);
        break;
    case SimCommand::Kind::Stats:
        say(m_exchange.stats().line());
        break;
    case SimCommand::Kind::Dump:
        say(dumpLine(m_model.words()));
        break;
    case SimCommand::Kind::Set:
        m_model.setWord(command.word, command.value);
        break;
    case SimCommand::Kind::Quit:
        Q_EMIT quitRequested();
        break;
    }
}

void BoardSim::sendToProgram(QByteArrayView bytes)
{
    m_port.send(bytes);
}

// A new pseudo-terminal behind the link (closing the old one): start-up and replugging.
QString BoardSim::openPort()
{
    closePort();
    if (const QString error = m_port.open(); !error.isEmpty())
        return error;
    if (const QString error = pointLink(linkPath(), m_port.slavePath()); !error.isEmpty()) {
        m_port.close();
        return error;
    }
    m_linkTarget = m_port.slavePath();
    say(QStringLiteral("kelvaro-board-sim: port %1 is %2").arg(m_options.port).arg(m_linkTarget));
    armPoll();
    return {};
}

// Unplugging: the link stays, pointing at a device that no longer exists.
void BoardSim::closePort()
{
    m_port.close();
    m_exchange.abandon();
    m_pollTimer.stop();
    m_answerTimer.stop();
    m_pollWhenDrained = false;
}

// Schedules the next poll once the board is idle and its last bytes are on the line.
void BoardSim::armPoll()
{
    if (!m_port.isOpen() || m_silent || m_exchange.state() != BoardExchange::State::Idle)
        return;
    if (m_port.hasPendingOutput()) {
        m_pollWhenDrained = true;
        return;
    }
    m_pollTimer.start(m_options.pollMs);
}

void BoardSim::pollNow()
{
    if (!m_port.isOpen() || m_silent)
        return;
    if (m_exchange.poll())
        m_answerTimer.start(m_options.answerTimeoutMs);
}

void BoardSim::received(const QByteArray& bytes)
{
    for (const char c : bytes) {
        const BoardExchange::State before = m_exchange.state();
        m_exchange.receiveByte(quint8(c));
        const BoardExchange::State after = m_exchange.state();
        if (after == before)
            continue;
        if (after == BoardExchange::State::AwaitingFrame)
            m_answerTimer.start(m_options.answerTimeoutMs); // the frame gets its own time
        else if (after == BoardExchange::State::Idle)
            exchangeEnded();
    }
}

void BoardSim::answerOverdue()
{
    m_exchange.answerOverdue();
    // A poll nobody answered is gone, as on a real line; it must not wait in the pty for
    // the next program that opens the port.
    m_port.discardUnread();
    exchangeEnded();
}

void BoardSim::exchangeEnded()
{
    m_answerTimer.stop();
    sendGarbageIfIdle();
    armPoll();
}

void BoardSim::sendGarbageIfIdle()
{
    if (!m_garbagePending || !m_port.isOpen() || m_exchange.state() != BoardExchange::State::Idle)
        return;
    m_garbagePending = false;
    m_exchange.sendGarbage();
}

void BoardSim::advanceModel()
{
    const double realSeconds = double(m_modelClock.nsecsElapsed()) / 1e9;
    m_modelClock.restart();
    m_model.step(realSeconds * m_options.timeScale);
}

void BoardSim::readStdin()
{
    std::array<char, 1024> buffer{};
    ssize_t n = -1;
    do {
        n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (n <= 0) {
        // End of input (or an unreadable stdin): keep running, just stop listening.
        m_stdinNotifier->setEnabled(false);
        return;
    }
    m_stdinBuffer.append(buffer.data(), qsizetype(n));
    qsizetype end = -1;
    while ((end = m_stdinBuffer.indexOf('\n')) >= 0) {
        const QString line = QString::fromLocal8Bit(m_stdinBuffer.left(end)).trimmed();
        m_stdinBuffer.remove(0, end + 1);
        if (line.isEmpty())
            continue;
        if (const std::optional<SimCommand> command = parseCommand(line))
            runCommand(*command);
        else
            complain(QStringLiteral("unknown command: %1").arg(line));
    }
}

void BoardSim::say(const QString& line)
{
    const QByteArray text = line.toLocal8Bit() + '\n';
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
    std::fflush(stdout);
}

void BoardSim::complain(const QString& line)
{
    const QByteArray text = "kelvaro-board-sim: " + line.toLocal8Bit() + '\n';
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
    std::fflush(stderr);
}

QString BoardSim::linkPath() const
{
    return QDir(m_options.folder).filePath(QStringLiteral("com%1").arg(m_options.port));
}

} // namespace kelvaro::boardsim
