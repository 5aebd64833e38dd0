#include "app/folder_lock.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvaro {

FolderLock::~FolderLock()
{
#ifdef Q_OS_UNIX
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
#endif
}

#ifdef Q_OS_UNIX
FolderLock::Result FolderLock::lock(const QString& folder, const QString& program)
{
    const QByteArray path = QFile::encodeName(QDir(folder).filePath(FolderLockFileName));
    // Never through a link, never blocking on a FIFO put in its place.
    const int fd =
        ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        m_why = QString::fromLocal8Bit(std::strerror(errno));
        return Result::NoLock;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        m_why = QStringLiteral("%1 is not a regular file").arg(FolderLockFileName);
        return Result::NoLock;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            char text[128] = {};
            const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
            ::close(fd);
            const QStringList fields =
                QString::fromLocal8Bit(text, n > 0 ? n : 0).trimmed().split(QLatin1Char(' '));
            bool isPid = false;
            const qint64 pid = fields.value(0).toLongLong(&isPid);
            m_holder = isPid && fields.size() >= 2
                           ? QStringLiteral("%1 (process %2)").arg(fields.value(1)).arg(pid)
                           : QStringLiteral("another recorder");
            return Result::Held;
        }
        ::close(fd);
        m_why = QString::fromLocal8Bit(std::strerror(error));
        return Result::NoLock;
    }
    const QByteArray holder =
        QByteArray::number(qint64(::getpid())) + ' ' + QFile::encodeName(program) + '\n';
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, holder.constData(), std::size_t(holder.size()), 0) != holder.size()) {
        // The lock holds all the same; only the name for the next one is missing.
    }
    m_fd = fd;
    return Result::Locked;
}
#else
FolderLock::Result FolderLock::lock(const QString&, const QString&)
{
    return Result::Locked;
}
#endif

} // namespace kelvaro
