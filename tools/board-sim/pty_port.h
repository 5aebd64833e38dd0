#pragma once
// The simulator's end of the serial line: the master side of a pseudo-terminal whose
// slave is the device the program opens, and the comN link that names it. Output is
// paced like a real line at a given baud rate.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace kelvaro::boardsim {

class PtyPort : public QObject
{
    Q_OBJECT

public:
    explicit PtyPort(QObject* parent = nullptr);
    ~PtyPort() override;

    // Opens a new pseudo-terminal (master non-blocking, slave raw). The previous one, if
    // any, is closed first. Returns an error text, empty on success.
    QString open();
    // Closes the master, as an unplugged adapter would: the program sees a hang-up and
    // the device file is gone. A descriptor of the old slave is kept until the next
    // close (or the end), so the system does not hand the same device name to another
    // pseudo-terminal while the comN link, or a program retrying it, may still name it.
    void close();
    bool isOpen() const { return m_master >= 0; }
    // The device the program opens, e.g. /dev/pts/3.
    QString slavePath() const { return m_slavePath; }

    // Characters per second = baud / 10 (start, 8 data, stop bits); 0 sends unpaced.
    void setBaud(int baud);
    // Queues bytes for the program; dropped when the port is closed.
    void send(QByteArrayView bytes);
    bool hasPendingOutput() const { return !m_out.isEmpty(); }
    // Throws away what the program has not read yet. We keep a slave descriptor open so
    // the master never sees a hang-up between program runs; without this, polls nobody
    // read would pile up for the next program to find.
    void discardUnread();

Q_SIGNALS:
    void bytesReceived(const QByteArray& bytes);
    // Every queued byte has been written.
    void drained();
    // The line failed (read or write error); the port has been closed.
    void failed(const QString& reason);

private:
    void readAvailable();
    void writeDue();
    void fail(const QString& reason);

    int m_master = -1;
    int m_slave = -1;
    int m_unpluggedSlave = -1;
    QString m_slavePath;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QByteArray m_out;
    QTimer m_paceTimer;
    QElapsedTimer m_clock;
    qint64 m_charNs = 0;     // duration of one character on the line, 0 = unpaced
    qint64 m_nextCharNs = 0; // when the line may start the next character
};

// Points `linkPath` at `target`, replacing an existing symbolic link (atomically, by
// rename) but never any other kind of file. Returns an error text, empty on success.
QString pointLink(const QString& linkPath, const QString& target);
// Removes `linkPath` if it is a symbolic link to `target`, so a link that someone else
// has since re-pointed is left alone.
void removeLinkTo(const QString& linkPath, const QString& target);

} // namespace kelvaro::boardsim
