#pragma once
// The serial line to the board: owns the QSerialPort, opens it raw 8N1 without flow
// control, hands every received byte on unchanged and says why the line is silent. A
// device that vanishes while open is opened again by itself when it returns.

#include <QByteArrayView>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

class QSocketNotifier;

namespace kelvaro {

// "9600,n,8,1": the line settings as the operator sees them.
QString lineSettingsText(qint32 baud);
// The baud rate of a "<baud>,n,8,1" text (decimal digits, baud > 0; "N" is accepted for
// "n"); no value for anything else, including other parities, data or stop bits, since
// the line is always 8N1.
std::optional<qint32> baudFromLineSettings(const QString& text);

struct PortSettings
{
    qint16 port = 0;
    qint32 baud = 0;
    bool rts = false;
    bool dtr = false;
    // A device path to open instead of the one the port number names (an unattended
    // recorder is told its device directly); empty: by the port number.
    QString device;
};

class SerialPort : public QObject
{
    Q_OBJECT
public:
    explicit SerialPort(QObject* parent = nullptr);
    ~SerialPort() override;

    using Receiver = std::function<void(QByteArrayView)>;
    // Gets every received byte, in order and unchanged, in the chunks the port delivers.
    void setReceiver(Receiver receiver);
    // How many bytes the receiver knows to be on their way right now (the rest of a block
    // the board is sending). While two or more are, the port does not wake for each byte:
    // it reads them in one go once they are all there (or, should they stop short, after
    // twice the time they need at the line's rate). Unset: every byte is read as it comes.
    using AwaitedBytes = std::function<int()>;
    void setAwaitedBytes(AwaitedBytes awaited);

    // Closes any open session, then opens the device portDeviceName(settings.port, folder)
    // raw, 8N1, no flow control, at the baud rate read back from lineSettingsText, and sets
    // DTR and RTS to the given levels right after the open (a pseudo-terminal refuses
    // them; that is ignored). Returns false and sets problem() when any step fails; a port
    // that fails here is not tried again.
    bool open(const PortSettings& settings, const QString& folder);
    // As open(), but a port that cannot be opened now (the adapter not plugged in yet, the
    // line held by another program) is tried again once per reopen interval, exactly as a
    // vanished device is, until it opens or close() or open() is called; problem() then
    // reads "<why>; retrying every 3 s", and reopened() is emitted when it opens.
    bool openOrWait(const PortSettings& settings, const QString& folder);
    // Closes the port if open and stops trying to reopen it; problem() keeps its text.
    void close();
    bool isOpen() const;
    // Queued and sent as the port accepts it; dropped while the port is closed. The queue
    // is bounded (MaxQueuedBytes): while the line takes nothing (the other side of a
    // pseudo-terminal stopped reading, a device that never drains), a whole write that
    // would take a non-empty queue beyond it is dropped and counted instead of growing
    // memory without limit.
    void write(QByteArrayView bytes);
    static constexpr qint64 MaxQueuedBytes = 4096;
    // Writes dropped since the port was made.
    quint64 droppedWrites() const { return m_droppedWrites; }

    // The device open or last tried; empty when the port number names none.
    QString deviceName() const { return m_deviceName; }
    // Why the line is silent, for the operator; empty while the port works.
    QString problem() const { return m_problem; }

    // When the device of an open port goes away (USB adapter unplugged, pseudo-terminal
    // closed), the port closes at once and the same port number is opened again with the
    // same settings, one attempt per interval (a single-shot timer re-armed after each
    // failed attempt), until it opens or close() or open() is called. Meanwhile problem()
    // reads "<port>: device removed; retrying every 3 s". Default 3 s.
    void setReopenInterval(std::chrono::milliseconds interval);
    bool isReopening() const { return m_reopenTimer.isActive(); }
    // The last open failed because another program holds the line.
    bool heldByOther() const { return m_heldByOther; }
    // The process that holds it, when its lock file tells; 0 otherwise.
    qint64 holderPid() const { return m_holderPid; }
    // What the last failed openOrWait said, without the retry: "Port 1 is ...: why".
    QString lastFailure() const { return m_lastFailure; }
    // How often a vanished or missing device has been opened again by the retry.
    quint64 reopenCount() const { return m_reopenCount; }
    // How long the open port has been without a byte, in whole silence-limit steps
    // (0 while bytes arrive).
    std::chrono::milliseconds silentFor() const { return m_silentFor; }
    // While the port is open and no byte has come for this long, problem() reads
    // "<port>: no data from the board for 5 s", counting up by this step while the silence
    // lasts; the next byte clears it. One timer, restarted per received chunk. Default 5 s.
    void setSilenceLimit(std::chrono::milliseconds limit);
    std::chrono::milliseconds silenceLimit() const { return m_silenceTimer.intervalAsDuration(); }

Q_SIGNALS:
    void problemChanged(const QString& problem);
    // The vanished device is open again; an exchange in progress before it went is void.
    void reopened();
    // The queue is full and writes are dropped: emitted at the first dropped write.
    void outputBlocked();
    // The queue has drained after outputBlocked(); `dropped` writes were dropped in all.
    void outputResumed(quint64 dropped);

private:
    void onReadyRead();
    void onBytesWritten();
    void onPortError(QSerialPort::SerialPortError error);
    void onDeviceGone();
    void onReopenTimer();
    void onSilence();
    // After a chunk: when more bytes are known to be coming, wake only once they are all
    // there.
    void gatherAwaitedBytes();
    void onGatherTimer();
    void setReadMinimum(int minimum);
    void deliver(const QByteArray& bytes);
    void closePort();
    // Opens m_settings in m_folder; the problem text, empty on success.
    QString openSession();
    // Notes `reason` as the last failure and returns "<port text>: <reason>".
    QString fail(const QString& reason);
    QString openFailure(qint32 baud);
    QString describePort() const;
    void setProblem(const QString& problem);

    QSerialPort m_port;
    PortSettings m_settings;
    QString m_folder;
    // Fires when the device hangs up (USB adapter unplugged, pseudo-terminal closed).
    // Reads then return zero bytes; depending on the Qt version QSerialPort reports a
    // read error (with a stale errno text) or nothing at all, while its notifier spins.
    QSocketNotifier* m_hangUpNotifier = nullptr;
    // The terminal's VMIN as set here: 0 (every byte) or the bytes of a block still due.
    int m_readMinimum = 0;
    QTimer m_gatherTimer;
    AwaitedBytes m_awaited;
    Receiver m_receiver;
    qint16 m_portNumber = 0;
    QString m_deviceName;
    QString m_portText; // "Port 1 is /dev/ttyS0", with a link's target
    QString m_problem;
    QString m_failReason; // the last open's reason, without the port text

    QTimer m_reopenTimer;
    QString m_removedText; // problem() while reopening, without any last-attempt reason
    QTimer m_silenceTimer;
    std::chrono::milliseconds m_silentFor{0};
    quint64 m_reopenCount = 0;
    bool m_heldByOther = false;
    qint64 m_holderPid = 0;
    QString m_lastFailure;
    quint64 m_droppedWrites = 0;
    bool m_outputBlocked = false;
};

} // namespace kelvaro
