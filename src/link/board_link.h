#pragma once
// The one owner of the line to the board: the serial port and the exchange. It answers the
// board itself, rebuilds the register image on every complete block and tells whoever
// listens (windows, recorder, trend) through signals. Opening, the retry while the device
// is missing or unplugged, and closing are its business too.

#include "core/kelv_main.h"
#include "link/link_protocol.h"
#include "link/serial_port.h"

#include <QObject>
#include <QString>
#include <chrono>

namespace kelvaro {

class BoardLink : public QObject, private LinkHandler
{
    Q_OBJECT
public:
    BoardLink(LinkFlags& flags, RegisterImage& image, QObject* parent = nullptr);
    ~BoardLink() override;

    // Opens the port with `settings` (the devices named relative to `folder`). A port that
    // cannot be opened now is tried again every reopen interval until it opens; the
    // problem text says what the line is waiting for. Returns whether it is open now.
    bool open(const PortSettings& settings, const QString& folder);
    // Closes the line and opens it again with new settings, keeping a frame queued for
    // the board; the exchange starts afresh on the new line.
    bool reopen(const PortSettings& settings, const QString& folder);
    // Closes the port and stops every retry.
    void close();
    bool isOpen() const { return m_port.isOpen(); }

    // Start-up values of the exchange: no read, no write announced, nothing pending.
    void resetFlags() { m_protocol.resetFlags(); }
    // Queues the write of register `address` with `value`, sent at the board's next poll;
    // false (nothing queued) for anything a frame cannot carry.
    bool WrParam(qint16 address, qint32 value) { return m_protocol.WrParam(address, value); }
    // Queues the frame that restarts the board.
    void queueReset() { m_protocol.queueReset(); }
    // Queues `frame` as it stands (the session's write queue hands them over one by one).
    void queueFrame(const std::array<quint8, 4>& frame) { m_protocol.queueFrame(frame); }
    // A frame is loaded and waits for the board's next poll.
    bool framePending() const { return m_protocol.flags().Write_Pending; }
    // Takes a loaded frame back before it goes out (see LinkProtocol::withdrawFrame).
    bool withdrawFrame() { return m_protocol.withdrawFrame(); }
    void setStallTimeout(std::chrono::seconds timeout) { m_protocol.setStallTimeout(timeout); }

    // Why the line is silent, for the operator; empty while it works.
    QString problem() const { return m_port.problem(); }
    // The link panel's text: "RS232 Status: Wait", "... Read" or "... Write".
    QString status() const { return m_status; }
    // The device opened or last tried.
    QString deviceName() const { return m_port.deviceName(); }
    bool isRetrying() const { return m_port.isReopening(); }
    // The last attempt to open failed because another program holds the line.
    bool heldByOther() const { return m_port.heldByOther(); }
    // The process that holds the line, when its lock file tells; 0 otherwise.
    qint64 holderPid() const { return m_port.holderPid(); }
    // Why the first attempt of open() failed, without the retry.
    QString openFailure() const { return m_port.lastFailure(); }
    quint64 reopenCount() const { return m_port.reopenCount(); }
    std::chrono::milliseconds silentFor() const { return m_port.silentFor(); }
    std::chrono::milliseconds silenceLimit() const { return m_port.silenceLimit(); }
    // Test and tuning knobs of the port: retry interval (3 s) and silence step (5 s).
    void setReopenInterval(std::chrono::milliseconds interval);
    void setSilenceLimit(std::chrono::milliseconds limit);

    // Bytes as if they had come from the board now (tests, replays).
    void receive(QByteArrayView bytes) { m_protocol.receive(bytes, linkClockNow()); }

Q_SIGNALS:
    // A whole block arrived and the register image was rebuilt from it.
    void blockReceived();
    // First complete block since start-up or since a write announcement: the parameter
    // entry boxes are due to be refilled from the image.
    void inputsLoaded();
    void statusChanged(const QString& status);
    // The operator's text for why the line is silent changed; empty when it works again.
    void problemChanged(const QString& problem);
    // The port opened: at the first attempt, after a retry, or after a new device came.
    void opened();
    // The line takes nothing and answers are dropped; it takes them again (see SerialPort).
    void outputBlocked();
    void outputResumed(quint64 dropped);
    // The loaded frame went out to the board.
    void frameSentToBoard();

private:
    // LinkHandler
    void writeToBoard(QByteArrayView bytes) override;
    void imageRebuilt() override { Q_EMIT blockReceived(); }
    void Update_Inputs() override { Q_EMIT inputsLoaded(); }
    void setLinkStatus(const QString& text) override;
    void frameSent() override { Q_EMIT frameSentToBoard(); }

    SerialPort m_port;
    LinkProtocol m_protocol;
    QString m_status = StatusWait;
};

} // namespace kelvaro
