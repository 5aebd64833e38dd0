#include "pty_port.h"

#include <QFile>
#include <QSocketNotifier>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace kelvaro::boardsim {

namespace {

QString errnoText(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1StringView(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

PtyPort::PtyPort(QObject* parent) : QObject(parent)
{
    m_paceTimer.setSingleShot(true);
    m_paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_paceTimer, &QTimer::timeout, this, &PtyPort::writeDue);
    m_clock.start();
}

PtyPort::~PtyPort()
{
    close();
    closeFd(m_unpluggedSlave);
}

QString PtyPort::open()
{
    close();
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return errnoText("posix_openpt");
    std::array<char, 128> name{};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name.data(), name.size()) != 0) {
        const QString error = errnoText("pseudo-terminal set-up");
        closeFd(master);
        return error;
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    int slave = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    if (slave < 0 || ::tcgetattr(slave, &mode) != 0) {
        const QString error = errnoText("slave open");
        closeFd(slave);
        closeFd(master);
        return error;
    }
    ::cfmakeraw(&mode);
    ::tcsetattr(slave, TCSANOW, &mode);

    m_master = master;
    m_slave = slave;
    m_slavePath = QFile::decodeName(name.data());
    m_readNotifier = new QSocketNotifier(qintptr(m_master), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyPort::readAvailable);
    m_writeNotifier = new QSocketNotifier(qintptr(m_master), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
        m_writeNotifier->setEnabled(false);
        writeDue();
    });
    return {};
}

void PtyPort::close()
{
    // The notifiers may be the ones whose signal is being handled: delete them later.
    for (QSocketNotifier* notifier : {m_readNotifier, m_writeNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    m_paceTimer.stop();
    m_out.clear();
    closeFd(m_master);
    if (m_slave >= 0) {
        closeFd(m_unpluggedSlave);
        m_unpluggedSlave = std::exchange(m_slave, -1);
    }
}

void PtyPort::setBaud(int baud)
{
    m_charNs = baud > 0 ? qint64(10) * 1000000000 / baud : 0;
}

void PtyPort::send(QByteArrayView bytes)
{
    if (m_master < 0 || bytes.isEmpty())
        return;
    // A line that has been idle starts the first character now, with no credit for the
    // idle time; a busy one continues after its last character.
    if (m_out.isEmpty())
        m_nextCharNs = std::max(m_nextCharNs, m_clock.nsecsElapsed());
    m_out.append(bytes);
    writeDue();
}

void PtyPort::discardUnread()
{
    if (m_slave >= 0)
        ::tcflush(m_slave, TCIFLUSH);
}

void PtyPort::readAvailable()
{
    QByteArray got;
    std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t n = ::read(m_master, buffer.data(), buffer.size());
        if (n > 0) {
            got.append(buffer.data(), qsizetype(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // End of file or EIO: the slave side is gone for good.
        const QString reason = n == 0 ? QStringLiteral("read: end of file") : errnoText("read");
        if (!got.isEmpty())
            Q_EMIT bytesReceived(got);
        fail(reason);
        return;
    }
    if (!got.isEmpty())
        Q_EMIT bytesReceived(got);
}

void PtyPort::writeDue()
{
    if (m_master < 0 || m_out.isEmpty() || (m_writeNotifier && m_writeNotifier->isEnabled()))
        return;
    const qint64 now = m_clock.nsecsElapsed();
    qsizetype due = m_out.size();
    if (m_charNs > 0) {
        // Characters whose start time has come, including any a late timer owes.
        due = now < m_nextCharNs ? 0 : std::min<qint64>(due, (now - m_nextCharNs) / m_charNs + 1);
    }
    qsizetype written = 0;
    while (written < due) {
        const ssize_t n =
            ::write(m_master, m_out.constData() + written, std::size_t(due - written));
        if (n > 0) {
            written += qsizetype(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true); // the pty buffer is full: wait for room
            break;
        }
        fail(errnoText("write"));
        return;
    }
    m_out.remove(0, written);
    m_nextCharNs += qint64(written) * m_charNs;
    if (m_out.isEmpty()) {
        Q_EMIT drained();
        return;
    }
    if (m_charNs > 0 && !m_writeNotifier->isEnabled()) {
        const qint64 waitNs = std::max<qint64>(0, m_nextCharNs - now);
        m_paceTimer.start(int((waitNs + 999999) / 1000000));
    }
}

void PtyPort::fail(const QString& reason)
{
    close();
    Q_EMIT failed(reason);
}

QString pointLink(const QString& linkPath, const QString& target)
{
    const QByteArray link = QFile::encodeName(linkPath);
    struct stat existing
    {
    };
    if (::lstat(link.constData(), &existing) == 0 && !S_ISLNK(existing.st_mode))
        return QStringLiteral("%1 exists and is not a symbolic link; not replacing it")
            .arg(linkPath);
    // Make the new link beside the old one and rename it over: the name never dangles.
    const QByteArray temporary = link + ".new-" + QByteArray::number(::getpid());
    ::unlink(temporary.constData());
    if (::symlink(QFile::encodeName(target).constData(), temporary.constData()) != 0)
        return errnoText("symlink");
    if (::rename(temporary.constData(), link.constData()) != 0) {
        const QString error = errnoText("rename");
        ::unlink(temporary.constData());
        return error;
    }
    return {};
}

void removeLinkTo(const QString& linkPath, const QString& target)
{
    const QByteArray link = QFile::encodeName(linkPath);
    std::array<char, 4096> pointee{};
    const ssize_t n = ::readlink(link.constData(), pointee.data(), pointee.size() - 1);
    if (n > 0 && QFile::decodeName(QByteArray(pointee.data(), qsizetype(n))) == target)
        ::unlink(link.constData());
}

} // namespace kelvaro::boardsim
