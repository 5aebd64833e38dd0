#include "app/quit_signals.h"

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kelvaro {

#ifdef Q_OS_UNIX
namespace {

int quitPipe[2] = {-1, -1};

extern "C" void onQuitSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(quitPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool catchQuitSignals()
{
    if (quitPipe[0] >= 0)
        return true;
    if (::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
    return true;
}

QObject* installQuitSignals(QObject* parent, std::function<void()> onQuit)
{
    if (!catchQuitSignals())
        return nullptr;
    auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onQuit = std::move(onQuit)] {
        char drain[16];
        while (::read(quitPipe[0], drain, sizeof drain) > 0) {
        }
        onQuit();
    });
    return notifier;
}
#else
bool catchQuitSignals()
{
    return false;
}

QObject* installQuitSignals(QObject*, std::function<void()>)
{
    return nullptr;
}
#endif

} // namespace kelvaro
