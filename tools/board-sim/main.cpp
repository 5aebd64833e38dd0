// kelvaro-board-sim: a simulated thermostat board on a pseudo-terminal, so the program
// can run and be tested end to end without the hardware.

#include "board_sim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

using namespace kelvaro::boardsim;

namespace {

// SIGINT, SIGTERM and SIGHUP end the event loop through this pair, so the exit path (stats
// line, link removed) runs outside the signal handler.
int signalPair[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPair[0], &byte, 1);
    errno = saved;
}

bool installSignalHandlers()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPair) != 0)
        return false;
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    // A reader of our stdout that goes away must not kill us before the link is removed.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

std::optional<SimOptions> parseOptions(const QCoreApplication& app, QString& error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated Kelvaro thermostat board on a pseudo-terminal. Makes the link comN in the "
        "given folder point at the device. Reads commands on stdin, one per line: stop-block, "
        "garbage, ignore-write, silent, resume, close, reopen, stats, dump, set <word> "
        "<value>, quit."));
    parser.addHelpOption();
    const QCommandLineOption folder(QStringLiteral("folder"),
                                    QStringLiteral("Folder for the comN link (default: .)."),
                                    QStringLiteral("dir"), QStringLiteral("."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port number N (default 1)."), QStringLiteral("n"),
                                  QStringLiteral("1"));
    const QCommandLineOption pollMs(QStringLiteral("poll-ms"),
                                    QStringLiteral("Idle time between polls; 0 polls right after "
                                                   "each exchange (default 250)."),
                                    QStringLiteral("ms"), QStringLiteral("250"));
    const QCommandLineOption answerMs(QStringLiteral("answer-timeout-ms"),
                                      QStringLiteral("Time the program has to answer a poll or "
                                                     "to send its frame (default 1000)."),
                                      QStringLiteral("ms"), QStringLiteral("1000"));
    const QCommandLineOption baud(
        QStringLiteral("baud"), QStringLiteral("Line speed for pacing; 0 unpaced (default 9600)."),
        QStringLiteral("rate"), QStringLiteral("9600"));
    const QCommandLineOption startTemp(
        QStringLiteral("start-temp"),
        QStringLiteral("Room temperature at start, °C (default 19.5)."), QStringLiteral("c"),
        QStringLiteral("19.5"));
    const QCommandLineOption timeScale(
        QStringLiteral("time-scale"),
        QStringLiteral("Simulated seconds per real second (default 1)."), QStringLiteral("x"),
        QStringLiteral("1"));
    const QCommandLineOption stopBlock(QStringLiteral("stop-block"),
                                       QStringLiteral("Cut the first block after 20 data bytes."));
    const QCommandLineOption garbage(
        QStringLiteral("garbage"),
        QStringLiteral("Send one stray byte 0x7E at the first idle moment."));
    const QCommandLineOption ignoreWrite(
        QStringLiteral("ignore-write"),
        QStringLiteral("Receive the first frame without applying it."));
    const QCommandLineOption silent(QStringLiteral("silent"),
                                    QStringLiteral("Start without polling (until \"resume\")."));
    parser.addOptions({folder, port, pollMs, answerMs, baud, startTemp, timeScale, stopBlock,
                       garbage, ignoreWrite, silent});
    parser.process(app);

    auto integer = [&](const QCommandLineOption& option, int min, int max) -> std::optional<int> {
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        if (!ok || value < min || value > max) {
            error = QStringLiteral("--%1 wants a whole number from %2 to %3")
                        .arg(option.names().constFirst())
                        .arg(min)
                        .arg(max);
            return std::nullopt;
        }
        return value;
    };
    auto real = [&](const QCommandLineOption& option, double min,
                    double max) -> std::optional<double> {
        bool ok = false;
        const double value = parser.value(option).toDouble(&ok);
        if (!ok || !(value >= min && value <= max)) {
            error = QStringLiteral("--%1 wants a number from %2 to %3")
                        .arg(option.names().constFirst())
                        .arg(min)
                        .arg(max);
            return std::nullopt;
        }
        return value;
    };

    SimOptions options;
    options.folder = parser.value(folder);
    const auto portValue = integer(port, 1, 999);
    const auto pollValue = integer(pollMs, 0, 3600000);
    const auto answerValue = integer(answerMs, 1, 3600000);
    const auto baudValue = integer(baud, 0, 4000000);
    const auto startValue = real(startTemp, -40.0, 100.0);
    const auto scaleValue = real(timeScale, 0.0, 100000.0);
    if (!portValue || !pollValue || !answerValue || !baudValue || !startValue || !scaleValue)
        return std::nullopt;
    options.port = *portValue;
    options.pollMs = *pollValue;
    options.answerTimeoutMs = *answerValue;
    options.baud = *baudValue;
    options.startCelsius = *startValue;
    options.timeScale = *scaleValue;
    options.stopBlock = parser.isSet(stopBlock);
    options.garbage = parser.isSet(garbage);
    options.ignoreWrite = parser.isSet(ignoreWrite);
    options.silent = parser.isSet(silent);
    return options;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvaro-board-sim"));

    QString error;
    const std::optional<SimOptions> options = parseOptions(app, error);
    if (!options) {
        std::fprintf(stderr, "kelvaro-board-sim: %s\n", qPrintable(error));
        return 2;
    }
    if (!installSignalHandlers()) {
        std::perror("kelvaro-board-sim: socketpair");
        return 1;
    }
    QSocketNotifier signalNotifier(qintptr(signalPair[1]), QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char drain[16];
        while (::read(signalPair[1], drain, sizeof drain) > 0) {
        }
        QCoreApplication::quit();
    });

    BoardSim sim(*options);
    QObject::connect(&sim, &BoardSim::quitRequested, &app, &QCoreApplication::quit);
    if (const QString startError = sim.start(); !startError.isEmpty()) {
        std::fprintf(stderr, "kelvaro-board-sim: %s\n", qPrintable(startError));
        return 1;
    }
    const int status = QCoreApplication::exec();
    sim.finish();
    return status;
}
