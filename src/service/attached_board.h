#pragma once
// A window program's way to the board when kelvaro-recorder keeps the line: it finds the
// recorder's socket (the one asked for, or the one of the recorder that holds the port),
// subscribes, and mirrors every block into the session's register image and the
// recorder's settings into the session's record, so that the windows show exactly what
// they would show holding the line themselves. Writes and settings changes go to the
// recorder. When the recorder goes away its socket is tried again every few seconds, and
// the session opens its own line only when the recorder has not come back for a while.

#include "core/settings_record.h"
#include "service/service_client.h"
#include "store/settings_keeper.h"
#include "values/display_texts.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

namespace kelvaro {
class BoardSession;
}

namespace kelvaro::service {

class AttachedBoard : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::seconds RetryInterval{2};
    // A recorder on another machine is tried less often: each try is an ssh connection.
    static constexpr std::chrono::seconds RemoteRetryInterval{5};
    // How long the line is left to a service that went away (or is not there yet) before
    // the session opens it itself: a recorder restarted by systemd (10 s later) gets its
    // port back instead of finding it held by this window.
    static constexpr std::chrono::seconds TakeOverAfter{20};

    explicit AttachedBoard(BoardSession& session, QObject* parent = nullptr);
    // Another wait than TakeOverAfter (tests).
    void setTakeOverAfter(std::chrono::milliseconds wait) { m_takeOver.setInterval(wait); }
    ~AttachedBoard() override;

    // Works through the service on `address` from now on: the session's line stays closed
    // while the socket is tried, and is opened only when nobody answers there. An ssh
    // address (a recorder on another machine) is waited for however long it takes: the
    // board is not on this machine's line.
    void attachTo(const QString& address);
    // Leaves the service for good (the window closes).
    void detach();

    bool isAttached() const { return m_attached; }
    // The connection to the service while attached (for requests of its own, such as the
    // history), or none.
    ServiceClient* client() const { return m_attached ? m_client.get() : nullptr; }
    // The socket in use, or last used.
    QString socketPath() const { return m_path; }
    // The program that serves it, or last served it, as its hello says ("kelvaro-recorder").
    QString serviceProgram() const { return m_program; }
    // Whether the service asked for is on another machine (an ssh address).
    bool isRemote() const { return m_remote.overSsh(); }
    // The remote board, as a title names it ("ttyUSB0 on pi"); empty for a local one.
    QString remoteLabel() const { return isRemote() ? m_remote.label() : QString(); }

    // The text typed into entry box `box`, sent for the service's check and its queue;
    // a refusal comes back as writeRefused.
    void writeEntry(int box, const QString& text, const DisplayUnits& units);
    void reset();

    // The sockets a recorder holding the session's port may serve, most likely first: the
    // one its command line names, the board folder's, and the systemd unit's.
    QStringList candidateSockets() const;

Q_SIGNALS:
    // Attached (`on`), or the service went away; `text` says which and why.
    void attachedChanged(bool on, const QString& text);
    // The service did not come back in time: the session opened its own line.
    void lineTakenBack();
    // The line's panel text and its problem, as the service's session has them.
    void lineStatus(const QString& status, const QString& problem);
    // The entry boxes are due to be filled again: the first block since attaching, or a
    // block whose parameters differ from the last one's.
    void inputsDue();
    // The service's record was taken into the session's (unit, raw column, logging...).
    void settingsAdopted();
    void logFailing(const QString& reason, bool newEpisode);
    void logRecovered();
    void writeRefused(const QString& reason);
    // The service could not save or refused a settings change this window made.
    void settingsNotSaved(const kelvaro::SettingsOutcome& outcome);

private:
    void tryNext();
    void onConnected();
    void onMessage(const QJsonObject& message);
    void onFailed(const QString& reason);
    void onLineProblem();
    void onState(const QJsonObject& message);
    void onRecord(const QJsonObject& message);
    void send(QJsonObject request);
    QString waitingText(const QString& reason) const;
    SettingsOutcome forward(const Settings_Record& before, const Settings_Record& after);

    BoardSession& m_session;
    std::unique_ptr<ServiceClient> m_client;
    QString m_preferred;     // asked for with attachTo
    ServiceAddress m_remote; // the ssh address asked for, if any
    QString m_path;
    QString m_program = QStringLiteral("kelvaro-recorder");
    QStringList m_toTry;
    bool m_attached = false;
    bool m_leaving = false;
    QTimer m_retry;
    QTimer m_takeOver;
    Settings_Record m_serviceRecord;
    bool m_recordSeen = false;
    bool m_localEdits = false; // this window changed values the service does not take
    bool m_blockSeen = false;
    bool m_toldMissing = false;
    QString m_logFailure;
    qint64 m_nextRequest = 1;
};

} // namespace kelvaro::service
