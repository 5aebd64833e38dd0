#pragma once
// The board's end of a pseudo-terminal pair, for tests that drive the program's real
// serial port; the program opens the other end through a "comN" link. The test keeps its
// own descriptor of that end open, so reads of the board end never fail while the
// program's port is closed, and so that the pseudo-terminal's number stays this line's
// until the line is destroyed: an unplugged line's device is gone, but no other test
// running beside this one can be given the same device name meanwhile.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QString>
#include <QTest>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace kelvaro::test {

class BoardLine
{
public:
    // A raw line, as a real board line is set up; or the terminal defaults (echo,
    // XON/XOFF, CR/LF mapping, line editing), which the program must switch off itself.
    explicit BoardLine(bool raw = true)
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
            closeMaster();
            return;
        }
        char name[128] = {};
        if (::ptsname_r(m_master, name, sizeof name) != 0)
            return;
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio = {};
        if (m_slave < 0 || ::tcgetattr(m_slave, &tio) != 0)
            return;
        if (raw) {
            ::cfmakeraw(&tio);
        } else {
            tio.c_iflag |= ICRNL | IXON;
            tio.c_oflag |= OPOST | ONLCR;
            tio.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
        }
        ::tcsetattr(m_slave, TCSANOW, &tio);
        m_slaveName = QFile::decodeName(name);
    }
    ~BoardLine()
    {
        closeMaster();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    BoardLine(const BoardLine&) = delete;
    BoardLine& operator=(const BoardLine&) = delete;

    bool isValid() const { return m_master >= 0 && m_slave >= 0 && !m_slaveName.isEmpty(); }
    // The board's end, for a test that writes from a thread of its own.
    int boardFd() const { return m_master; }
    QString deviceName() const { return m_slaveName; }

    // Points the link `linkPath` (a folder's "comN") at this line, replacing the link that
    // is there: what plugging the adapter in does for the program.
    bool plugInAt(const QString& linkPath) const
    {
        QFile::remove(linkPath);
        return QFile::link(m_slaveName, linkPath);
    }

    // Writes every byte, running the event loop while the line is full.
    bool send(const QByteArray& data)
    {
        QByteArrayView bytes(data);
        QDeadlineTimer deadline(5000);
        while (!bytes.isEmpty() && !deadline.hasExpired()) {
            const ssize_t n = ::write(m_master, bytes.data(), size_t(bytes.size()));
            if (n > 0)
                bytes = bytes.sliced(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            else
                QTest::qWait(1);
        }
        return bytes.isEmpty();
    }

    // Everything the program has sent so far.
    QByteArray received()
    {
        char buffer[4096];
        ssize_t n = 0;
        while (m_master >= 0 && (n = ::read(m_master, buffer, sizeof buffer)) > 0)
            m_received.append(buffer, n);
        return m_received;
    }

    // What unplugging a USB adapter does to the program's end: a hang-up.
    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    // The hang-up, and the device file gone as well, as after an unplug (closing the
    // master removes it). The test's descriptor of the program's end stays open, so the
    // number is not handed out again while a link may still name it.
    void unplug() { closeMaster(); }

    // Sets the access rights of the program's end.
    bool setMode(mode_t mode) { return ::fchmod(m_slave, mode) == 0; }
    // The name of the group owning the program's end.
    QString groupName() const
    {
        struct stat status = {};
        const group* owner = ::fstat(m_slave, &status) == 0 ? ::getgrgid(status.st_gid) : nullptr;
        return owner ? QString::fromLocal8Bit(owner->gr_name) : QString();
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
    QByteArray m_received;
};

} // namespace kelvaro::test
