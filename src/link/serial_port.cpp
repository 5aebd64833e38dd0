#include "link/serial_port.h"

#include "link/port_naming.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace kelvaro {

namespace {

const QString LineFormatSuffix = QStringLiteral(",n,8,1");

// "3" for 3000 ms, "0.2" for 200 ms.
QString secondsText(std::chrono::milliseconds duration)
{
    return QString::number(double(duration.count()) / 1000.0);
}

// A baud rate the platform sets without a custom divisor.
bool isStandardBaud(qint32 baud)
{
    return QSerialPortInfo::standardBaudRates().contains(baud);
}

#ifdef Q_OS_UNIX
QByteArray nativePath(const QString& path)
{
    return QFile::encodeName(path);
}

// What is wrong with the device file itself, before QSerialPort tries it; empty when it
// is a character device.
QString deviceFileProblem(const QString& path)
{
    struct stat status = {};
    if (::stat(nativePath(path).constData(), &status) != 0)
        return errno == ENOENT || errno == ENOTDIR ? QStringLiteral("no such device") : QString();
    return S_ISCHR(status.st_mode) ? QString() : QStringLiteral("not a serial device");
}

// Who holds the lock file QSerialPort keeps for `path` (it tries these folders in this
// order and uses the first it may write to): "kelvaro-recorder (process 812)", or
// "another program" when no lock file tells; `pidOut` gets its process when one does.
QString lockHolder(const QString& path, qint64* pidOut)
{
    // Named after the device below /dev, with "/" made "_": LCK..ttyUSB0, LCK..pts_3.
    QString device = path;
    if (device.startsWith(QStringLiteral("/dev/")))
        device = device.mid(5);
    const QString name =
        QStringLiteral("LCK..") + device.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* folder :
         {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp"}) {
        const QString lockPath = QString::fromLatin1(folder) + QLatin1Char('/') + name;
        if (!QFileInfo::exists(lockPath))
            continue;
        QLockFile lock(lockPath);
        qint64 pid = 0;
        QString host;
        QString application;
        if (!lock.getLockInfo(&pid, &host, &application) || pid <= 0)
            continue;
        if (application.isEmpty()) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            if (comm.open(QIODevice::ReadOnly))
                application = QString::fromLocal8Bit(comm.readLine().trimmed());
        }
        if (application.isEmpty())
            application = QStringLiteral("another program");
        *pidOut = pid;
        return QStringLiteral("%1 (process %2)").arg(application).arg(pid);
    }
    return QStringLiteral("another program");
}

// QSerialPort reports missing access rights, a device held exclusively by another
// program and a lock file held by another program all as a permission error; only the
// first one is about this user's rights.
QString permissionProblem(const QString& path, bool* heldByOther, qint64* holderPid)
{
    const QByteArray native = nativePath(path);
    if (::access(native.constData(), R_OK | W_OK) == 0) {
        *heldByOther = true;
        return QStringLiteral("in use by ") + lockHolder(path, holderPid);
    }
    struct stat status = {};
    constexpr mode_t groupReadWrite = S_IRGRP | S_IWGRP;
    if (::stat(native.constData(), &status) == 0 &&
        (status.st_mode & groupReadWrite) == groupReadWrite) {
        if (const group* owner = ::getgrgid(status.st_gid))
            return QStringLiteral("permission denied: add your user to the %1 group")
                .arg(QString::fromLocal8Bit(owner->gr_name));
    }
    return QStringLiteral("permission denied");
}

// The device itself rather than a link to it: QSerialPort names its lock file after the
// path it opens, so two programs reaching one device by different links still exclude
// each other, as they do with programs that lock the device by its own name.
QString systemLocation(const QString& deviceName)
{
    const QString target = QFileInfo(deviceName).canonicalFilePath();
    return target.isEmpty() ? deviceName : target;
}
#else
QString deviceFileProblem(const QString&)
{
    return {};
}

QString permissionProblem(const QString&, bool* heldByOther, qint64*)
{
    *heldByOther = true;
    return QStringLiteral("in use by another program");
}

QString systemLocation(const QString& deviceName)
{
    return deviceName;
}
#endif

} // namespace

QString lineSettingsText(qint32 baud)
{
    return QString::number(baud) + LineFormatSuffix;
}

std::optional<qint32> baudFromLineSettings(const QString& text)
{
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    if (comma <= 0 || text.mid(comma).compare(LineFormatSuffix, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QStringView digits = QStringView(text).left(comma);
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const qint32 baud = digits.toInt(&ok);
    if (!ok || baud <= 0)
        return std::nullopt;
    return baud;
}

SerialPort::SerialPort(QObject* parent) : QObject(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &SerialPort::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialPort::onPortError);
    connect(&m_port, &QSerialPort::bytesWritten, this, &SerialPort::onBytesWritten);
    m_reopenTimer.setSingleShot(true);
    m_reopenTimer.setInterval(std::chrono::seconds(3));
    connect(&m_reopenTimer, &QTimer::timeout, this, &SerialPort::onReopenTimer);
    m_silenceTimer.setSingleShot(true);
    m_silenceTimer.setInterval(std::chrono::seconds(5));
    connect(&m_silenceTimer, &QTimer::timeout, this, &SerialPort::onSilence);
    m_gatherTimer.setSingleShot(true);
    m_gatherTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_gatherTimer, &QTimer::timeout, this, &SerialPort::onGatherTimer);
}

SerialPort::~SerialPort()
{
    closePort();
}

void SerialPort::setReceiver(Receiver receiver)
{
    m_receiver = std::move(receiver);
}

void SerialPort::setAwaitedBytes(AwaitedBytes awaited)
{
    m_awaited = std::move(awaited);
}

void SerialPort::setReopenInterval(std::chrono::milliseconds interval)
{
    m_reopenTimer.setInterval(interval);
}

void SerialPort::setSilenceLimit(std::chrono::milliseconds limit)
{
    m_silenceTimer.setInterval(limit);
}

bool SerialPort::open(const PortSettings& settings, const QString& folder)
{
    m_settings = settings;
    m_folder = folder;
    const QString problem = openSession();
    // Only a port that was open and vanished is retried, not one lost during its own open.
    m_reopenTimer.stop();
    setProblem(problem);
    return problem.isEmpty();
}

bool SerialPort::openOrWait(const PortSettings& settings, const QString& folder)
{
    m_settings = settings;
    m_folder = folder;
    const QString problem = openSession();
    if (problem.isEmpty()) {
        setProblem({});
        return true;
    }
    m_lastFailure = problem;
    m_removedText = problem + QStringLiteral("; retrying every %1 s")
                                  .arg(secondsText(m_reopenTimer.intervalAsDuration()));
    setProblem(m_removedText);
    m_reopenTimer.start();
    return false;
}

QString SerialPort::openSession()
{
    m_reopenTimer.stop();
    closePort();
    m_failReason.clear();
    m_heldByOther = false;
    m_holderPid = 0;
    m_portNumber = m_settings.port;
    m_deviceName =
        m_settings.device.isEmpty() ? portDeviceName(m_settings.port, m_folder) : m_settings.device;
    // The port is configured from the text the operator sees, read back, so the two
    // cannot disagree.
    const std::optional<qint32> baud = baudFromLineSettings(lineSettingsText(m_settings.baud));
    const QString baudProblem = QStringLiteral("baud rate %1 is not usable").arg(m_settings.baud);
    m_portText.clear();
    if (m_deviceName.isEmpty()) {
        m_failReason = QStringLiteral("names no serial device");
        QString text = QStringLiteral("Port %1 names no serial device").arg(m_settings.port);
        if (!baud)
            text += QStringLiteral("; ") + baudProblem;
        return text;
    }
    m_portText = describePort();
    if (!baud)
        return fail(baudProblem);
    if (const QString problem = deviceFileProblem(m_deviceName); !problem.isEmpty())
        return fail(problem);

    m_port.setPortName(systemLocation(m_deviceName));
    m_port.setBaudRate(*baud);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    // QSerialPort opens non-blocking and raw (cfmakeraw: no XON/XOFF, no CR/LF mapping,
    // no echo, every byte value passes).
    if (!m_port.open(QIODevice::ReadWrite))
        return fail(openFailure(*baud));

    // The line levels can only be set on an open port; Linux raises DTR and RTS as the
    // device opens, so they are set at once, before any byte is exchanged. A
    // pseudo-terminal has no modem lines and refuses ("Inappropriate ioctl for device");
    // that does not stop the port from working.
    m_port.setDataTerminalReady(m_settings.dtr);
    m_port.setRequestToSend(m_settings.rts);
    if (!m_port.isOpen())
        return fail(QStringLiteral("device removed")); // it went away meanwhile
    m_port.clearError();

#ifdef Q_OS_UNIX
    // No tty raises an exception condition in normal work; poll() reports a hang-up on
    // every kind of notifier, so this one fires exactly when the device is gone.
    m_hangUpNotifier = new QSocketNotifier(m_port.handle(), QSocketNotifier::Exception, this);
    connect(m_hangUpNotifier, &QSocketNotifier::activated, this, &SerialPort::onDeviceGone);
    m_readMinimum = 0; // QSerialPort opens with VMIN 0: a read wake-up for every byte
#endif
    m_silentFor = std::chrono::milliseconds(0);
    m_silenceTimer.start();
    return {};
}

void SerialPort::close()
{
    m_reopenTimer.stop();
    closePort();
}

bool SerialPort::isOpen() const
{
    return m_port.isOpen();
}

void SerialPort::write(QByteArrayView bytes)
{
    if (!m_port.isOpen() || bytes.isEmpty())
        return;
    onBytesWritten(); // a queue emptied by a reopen ends a blocked spell as well
    const qint64 queued = m_port.bytesToWrite();
    if (queued > 0 && queued + bytes.size() > MaxQueuedBytes) {
        // Whole writes only: a part of an answer would garble the exchange.
        ++m_droppedWrites;
        if (!m_outputBlocked) {
            m_outputBlocked = true;
            Q_EMIT outputBlocked();
        }
        return;
    }
#ifdef Q_OS_UNIX
    // Straight to the device while nothing waits in QSerialPort's queue. QSerialPort writes
    // at once as well, but then arms its write notifier for an extra event-loop turn only to
    // report bytesWritten, which nothing here uses: that turn was a third of the cost of an
    // exchange. Order is kept: once anything is queued, everything goes through the queue;
    // on EAGAIN or an error the rest is queued and QSerialPort reports the error itself.
    if (m_port.bytesToWrite() == 0) {
        const ssize_t n = ::write(m_port.handle(), bytes.data(), std::size_t(bytes.size()));
        if (n == bytes.size())
            return;
        if (n > 0)
            bytes = bytes.sliced(n);
    }
#endif
    m_port.write(bytes.data(), bytes.size());
}

void SerialPort::onBytesWritten()
{
    if (m_outputBlocked && m_port.bytesToWrite() == 0) {
        m_outputBlocked = false;
        Q_EMIT outputResumed(m_droppedWrites);
    }
}

void SerialPort::onReadyRead()
{
    deliver(m_port.readAll());
    gatherAwaitedBytes();
}

void SerialPort::gatherAwaitedBytes()
{
    if (!m_port.isOpen())
        return;
    const int awaited = m_awaited ? m_awaited() : 0;
    // The terminal's minimum count (VMIN, with no inter-byte time) makes poll() report the
    // line readable only once that many bytes are there: the rest of a block wakes the
    // program once, at whatever pace it comes. Anything else (a poll to answer) is read
    // byte by byte, as soon as it comes.
    const int minimum = awaited >= 2 ? std::min(awaited, 255) : 0;
    if (minimum == 0) {
        m_gatherTimer.stop();
    } else if (m_port.baudRate() > 0) {
        // A block that stops short is read after the time its bytes need at the line's
        // rate (ten bit times a character), twice over and 5 ms more, then byte by byte.
        const qint64 micros = qint64(awaited) * 10 * 1000000 / m_port.baudRate();
        m_gatherTimer.start(int(2 * micros / 1000) + 5);
    }
    setReadMinimum(minimum);
}

void SerialPort::onGatherTimer()
{
    setReadMinimum(0);
}

void SerialPort::setReadMinimum(int minimum)
{
#ifdef Q_OS_UNIX
    if (minimum == m_readMinimum || !m_port.isOpen())
        return;
    termios mode = {};
    if (::tcgetattr(m_port.handle(), &mode) != 0)
        return;
    mode.c_cc[VMIN] = cc_t(minimum);
    mode.c_cc[VTIME] = 0;
    if (::tcsetattr(m_port.handle(), TCSANOW, &mode) == 0)
        m_readMinimum = minimum;
#else
    Q_UNUSED(minimum);
#endif
}

void SerialPort::deliver(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    m_silenceTimer.start();
    if (m_silentFor.count() != 0) {
        m_silentFor = std::chrono::milliseconds(0);
        setProblem({});
    }
    if (!m_receiver)
        return;
    // A copy, so a receiver that replaces itself does not destroy the function it runs in.
    const Receiver receiver = m_receiver;
    receiver(bytes);
}

void SerialPort::onPortError(QSerialPort::SerialPortError error)
{
    // Every error the port reports passes here. While it is not open, open() reads the
    // error back itself. Line, write and time-out errors and the pseudo-terminal's
    // refusal of DTR/RTS leave the port working. A device that is gone ends the session
    // at once: Qt would otherwise go on reporting on a dead descriptor. Qt 6.4 reports
    // the zero-byte reads of a hung-up tty as a read error, hence ReadError too.
    if (!m_port.isOpen())
        return;
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError)
        onDeviceGone();
}

void SerialPort::onDeviceGone()
{
    if (!m_port.isOpen())
        return;
    closePort();
    m_removedText = m_portText + QStringLiteral(": device removed; retrying every %1 s")
                                     .arg(secondsText(m_reopenTimer.intervalAsDuration()));
    setProblem(m_removedText);
    m_reopenTimer.start();
}

void SerialPort::onReopenTimer()
{
    if (openSession().isEmpty()) {
        ++m_reopenCount;
        setProblem({});
        Q_EMIT reopened();
        return;
    }
    // A device that is simply not back yet needs no more words; anything else (a device
    // back with other access rights, taken by another program) is worth showing.
    QString text = m_removedText;
    if (m_failReason != QStringLiteral("no such device") &&
        m_failReason != QStringLiteral("device removed") && !m_removedText.contains(m_failReason))
        text += QStringLiteral(" (last attempt: %1)").arg(m_failReason);
    setProblem(text);
    m_reopenTimer.start();
}

void SerialPort::onSilence()
{
    if (!m_port.isOpen())
        return;
    m_silentFor += m_silenceTimer.intervalAsDuration();
    setProblem(m_portText +
               QStringLiteral(": no data from the board for %1 s").arg(secondsText(m_silentFor)));
    m_silenceTimer.start(); // counts on while the silence lasts
}

void SerialPort::closePort()
{
    m_gatherTimer.stop();
    m_silenceTimer.stop();
    m_silentFor = std::chrono::milliseconds(0);
    if (m_hangUpNotifier) {
        // Disabled before the descriptor closes; deleted later because this may be the
        // notifier being delivered right now.
        m_hangUpNotifier->setEnabled(false);
        m_hangUpNotifier->deleteLater();
        m_hangUpNotifier = nullptr;
    }
    if (m_port.isOpen())
        m_port.close();
}

QString SerialPort::fail(const QString& reason)
{
    m_failReason = reason;
    return m_portText + QStringLiteral(": ") + reason;
}

QString SerialPort::openFailure(qint32 baud)
{
    switch (m_port.error()) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::ResourceError: // a device node without hardware behind it
        return QStringLiteral("no such device");
    case QSerialPort::PermissionError:
        return permissionProblem(systemLocation(m_deviceName), &m_heldByOther, &m_holderPid);
    case QSerialPort::UnsupportedOperationError:
        // A standard rate cannot fail, so the device is no terminal (ENOTTY).
        return isStandardBaud(baud) ? QStringLiteral("not a serial device")
                                    : QStringLiteral("baud rate %1 is not usable").arg(baud);
    default:
        return QStringLiteral("cannot open (%1)").arg(m_port.errorString());
    }
}

QString SerialPort::describePort() const
{
    QString text = m_settings.device.isEmpty()
                       ? QStringLiteral("Port %1 is %2").arg(m_portNumber).arg(m_deviceName)
                       : QStringLiteral("Device %1").arg(m_deviceName);
    const QFileInfo info(m_deviceName);
    if (info.isSymLink())
        text += QStringLiteral(" (") + info.symLinkTarget() + QLatin1Char(')');
    return text;
}

void SerialPort::setProblem(const QString& problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    Q_EMIT problemChanged(m_problem);
}

} // namespace kelvaro
