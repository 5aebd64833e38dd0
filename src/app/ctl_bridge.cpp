#include "app/ctl_bridge.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kelvaro {

namespace {

constexpr int NoService = 3;

// Writes all of `size` bytes, waiting for a slow reader; false when it has gone.
bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

} // namespace

QString bridgeSocket(const QString& runFolder, QString* error)
{
    QStringList found;
    const QDir run(runFolder);
    for (const QString& device : run.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString path = run.filePath(device + QStringLiteral("/kelvaro.sock"));
        if (QFileInfo::exists(path))
            found << path;
    }
    if (found.size() == 1)
        return found.first();
    if (found.size() > 1) {
        *error = QStringLiteral("%1 recorders on this machine: %2; name one, as "
                                "ssh://HOST/DEVICE or ssh://HOST/PATH")
                     .arg(found.size())
                     .arg(found.join(QStringLiteral(", ")));
        return {};
    }
    const QString local = QDir::current().absoluteFilePath(QStringLiteral("kelvaro.sock"));
    if (QFileInfo::exists(local))
        return local;
    *error = QStringLiteral("no recorder's socket in %1/*/kelvaro.sock nor %2; is "
                            "kelvaro-recorder running?")
                 .arg(runFolder, local);
    return {};
}

int runBridge(const QString& path, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof address.sun_path) {
        *error =
            QStringLiteral("no service answers on %1: the path is too long for a socket").arg(path);
        return NoService;
    }
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0 ||
        ::connect(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *error = QStringLiteral("no service answers on %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (sock >= 0)
            ::close(sock);
        return NoService;
    }
    // A reader gone is an end like any other, not a signal that kills the bridge.
    std::signal(SIGPIPE, SIG_IGN);

    std::array<char, 64 * 1024> buffer{};
    std::array<pollfd, 2> fds{{{STDIN_FILENO, POLLIN, 0}, {sock, POLLIN, 0}}};
    const std::array<int, 2> to{sock, STDOUT_FILENO};
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        bool ended = false;
        for (size_t k = 0; k < fds.size() && !ended; ++k) {
            if (fds[k].revents == 0)
                continue;
            const ssize_t got = ::read(fds[k].fd, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            ended = got <= 0 || !writeAll(to[k], buffer.data(), size_t(got));
        }
        if (ended)
            break;
    }
    ::close(sock);
    return 0;
}

} // namespace kelvaro
