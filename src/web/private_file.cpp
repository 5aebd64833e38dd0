#include "web/private_file.h"

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvaro::web {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Closes the descriptor however the reading ends.
struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

Outcome<std::optional<QByteArray>> readPrivateFile(const QString& path, const QString& what,
                                                   uid_t owner)
{
    // Never through a link, never blocking on a FIFO put in its place.
    Descriptor file;
    file.fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file.fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            return std::optional<QByteArray>();
        if (error == ELOOP)
            return failure(
                QStringLiteral("%1 %2 is a symbolic link; give the file itself").arg(what, path));
        return failure(QStringLiteral("cannot open %1 %2: %3").arg(what, path, systemError(error)));
    }
    struct stat status = {};
    if (::fstat(file.fd, &status) != 0)
        return failure(QStringLiteral("cannot read %1 %2: %3").arg(what, path, systemError(errno)));
    if (!S_ISREG(status.st_mode))
        return failure(QStringLiteral("%1 %2 is not a regular file").arg(what, path));
    if (status.st_uid != owner)
        return failure(QStringLiteral("%1 %2 belongs to user id %3, not to user id %4 that runs "
                                      "kelvaro-web; run: chown %4 %2")
                           .arg(what, path)
                           .arg(status.st_uid)
                           .arg(owner));
    const unsigned mode = status.st_mode & 07777;
    if ((mode & 077) != 0)
        return failure(QStringLiteral("%1 %2 has mode %3, which lets %4 read or change it; run: "
                                      "chmod 600 %2")
                           .arg(what, path, QStringLiteral("%1").arg(mode, 4, 8, QLatin1Char('0')),
                                (mode & 070) && (mode & 07) ? QStringLiteral("its group and others")
                                : (mode & 070)              ? QStringLiteral("its group")
                                                            : QStringLiteral("others")));
    if (status.st_size > PrivateFileMaxBytes)
        return failure(QStringLiteral("%1 %2 is larger than %3 bytes")
                           .arg(what, path)
                           .arg(PrivateFileMaxBytes));

    QByteArray contents;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return failure(
                QStringLiteral("cannot read %1 %2: %3").arg(what, path, systemError(errno)));
        if (n == 0)
            break;
        contents.append(buffer, n);
        if (contents.size() > PrivateFileMaxBytes)
            return failure(QStringLiteral("%1 %2 is larger than %3 bytes")
                               .arg(what, path)
                               .arg(PrivateFileMaxBytes));
    }
    return std::optional<QByteArray>(contents);
}

Outcome<std::optional<QByteArray>> readPrivateFile(const QString& path, const QString& what)
{
    return readPrivateFile(path, what, ::geteuid());
}

Outcome<void> writePrivateFile(const QString& path, const QString& what, const QByteArray& contents)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failure(
            QStringLiteral("cannot write %1 %2: %3").arg(what, path, file.errorString()));
    // Before a byte is written: the new file is the owner's alone, whatever mode the old one
    // had or the umask gives.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return failure(QStringLiteral("cannot make %1 %2 private (mode 0600): %3")
                           .arg(what, path, file.errorString()));
    if (file.write(contents) != contents.size() || !file.commit())
        return failure(
            QStringLiteral("cannot write %1 %2: %3").arg(what, path, file.errorString()));
    return {};
}

} // namespace kelvaro::web
