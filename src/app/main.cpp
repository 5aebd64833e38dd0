// The program starts with the splash window; the splash opens the main window, whose
// start-up loads the settings and opens the board's port.

#include "app/report_command.h"
#include "core/kelv_main.h"
#include "windows/program_start.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <memory>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// SIGTERM and SIGINT end the program as "Exit" does, through the event loop: the handler
// only writes a byte into this pipe, and its reading end wakes the loop.
int quitPipe[2] = {-1, -1};

extern "C" void onQuitSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(quitPipe[1], &byte, 1);
    errno = saved;
}

bool installQuitSignals()
{
    if (::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT})
        ::sigaction(signal, &action, nullptr);
    return true;
}
#endif

} // namespace

int main(int argc, char* argv[])
{
    // --report and --plot run without windows and end here.
    if (const int status = kelvaro::runHistoryCommandLine(argc, argv); status >= 0)
        return status;

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvaro"));
    QApplication::setApplicationVersion(QStringLiteral("1.38"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/icon.svg")));

#ifdef Q_OS_UNIX
    std::unique_ptr<QSocketNotifier> quitNotifier;
    if (installQuitSignals()) {
        quitNotifier = std::make_unique<QSocketNotifier>(quitPipe[0], QSocketNotifier::Read);
        QObject::connect(quitNotifier.get(), &QSocketNotifier::activated, &application, [] {
            char drain[16];
            while (::read(quitPipe[0], drain, sizeof drain) > 0) {
            }
            // Closing the windows runs the main window's own shutdown (auxiliary windows
            // closed, port closed) and deletes them, as the window frame's close does.
            QApplication::closeAllWindows();
            QApplication::quit();
        });
    }
#endif

    kelvaro::Kelv_Main state;
    const QString folder = QDir::currentPath();

    kelvaro::startProgram(state, folder);
    return QApplication::exec();
}
