#pragma once
// The program's start-up and shutdown around the line, with no window: name tables,
// Settings.txt, the port, and the two-second refresh that runs the log recorder. The
// window program and the unattended recorder both run it; the windows only subscribe.

#include "core/kelv_main.h"
#include "core/outcome.h"
#include "link/board_link.h"
#include "link/write_queue.h"
#include "logging/log_recorder.h"
#include "store/settings_keeper.h"
#include "values/display_texts.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>

namespace kelvaro {

class TrendBuffer;

// A checked entry-box write in the queue: its id there, the word and the whole new value.
struct QueuedEntry
{
    quint64 id = 0;
    int word = 0;
    qint32 value = 0;
    QString shown; // the box's text once a block shows the value
};

class BoardSession : public QObject
{
    Q_OBJECT
public:
    // `folder` is the board's working folder: Settings.txt, Parameters.txt, the log files
    // and the comN port links live there.
    BoardSession(Kelv_Main& state, QString folder, QObject* parent = nullptr);
    ~BoardSession() override;

    // Open this device instead of the one the settings' port number names (a recorder
    // told its device on the command line). Takes effect at start() or applyCommunication().
    void setDevice(const QString& device) { m_device = device; }
    // Names of further files of the program in the folder (the metrics file, the socket),
    // which a log file name must never name.
    void setOwnFiles(const QStringList& names) { m_ownFiles = names; }
    const QStringList& ownFiles() const { return m_ownFiles; }

    // The start-up sequence: link flags cleared, name tables built, Settings.txt loaded,
    // the line opened (or waited for, when its device is not there yet) with the stall
    // time-out of the settings, and the refresh started. Each step that fails is skipped.
    void start();
    // How reading Settings.txt at the last start() ended.
    const SettingsRead& settingsRead() const { return m_settingsRead; }
    // The shutdown: refresh stopped, line closed (also a line still being waited for).
    void stop();
    bool isRunning() const { return m_refreshTimer.isActive(); }
    // Another process keeps the line and the log (a window attached to the recorder): the
    // line is closed here and nothing is logged, while the refresh goes on for the windows.
    // Leaving opens the line again as start() does.
    void setAttached(bool attached);
    bool isAttached() const { return m_attached; }
    // A block the service's line brought, taken into the image (and the live trend) as a
    // block of this session's own line would be.
    void mirrorBlock(const Words& words);

    // Closes the line and opens it with the communication settings of the record (port,
    // speed, line levels, stall time-out), keeping a frame queued for the board. Runs by
    // itself when the settings keeper changes them.
    void applyCommunication();

    // One refresh: refresh() for whoever shows the image, then, when logging is on and the
    // entry boxes hold board data, one pass of the log recorder. Runs every 2 s.
    void refreshTick();

    Kelv_Main& state() { return m_state; }
    const Kelv_Main& state() const { return m_state; }
    const QString& folder() const { return m_folder; }
    BoardLink& link() { return m_link; }
    // The one queue of frames for the board: every write goes through it.
    WriteQueue& writes() { return m_writes; }
    // The write of the text typed into entry box `box` (0..9), checked as the window checks
    // it and queued; the reason when refused (nothing queued). `units` are the writer's.
    Outcome<QueuedEntry> writeEntry(int box, const QString& text, const DisplayUnits& units,
                                    std::chrono::milliseconds timeout = WriteQueue::DefaultTimeout);
    // Queues `value` for `word`; no id when a frame cannot carry it or the queue is full.
    std::optional<quint64>
    queueWrite(int word, qint32 value,
               std::chrono::milliseconds timeout = WriteQueue::DefaultTimeout);
    // Queues the frame that restarts the board.
    std::optional<quint64>
    queueReset(std::chrono::milliseconds timeout = WriteQueue::DefaultTimeout);
    // The units the window shows values in: the settings' unit and timer calibration, and
    // this process's locale.
    DisplayUnits displayUnits() const;
    // The one owner of the settings record: every change goes through it.
    SettingsKeeper& settingsKeeper() { return m_settingsKeeper; }
    const BoardLink& link() const { return m_link; }
    // The port settings the record (and a device given to setDevice) make.
    PortSettings portSettings() const;
    // Why the last due line could not be written; empty while lines are written.
    QString logFailure() const { return m_logFailure; }
    // Logging was switched off: a failure episode under way ends (logRecovered).
    void endLogFailureEpisode();
    // The wall-clock time of the last line the recorder wrote, when there was one.
    std::optional<QDateTime> lastLogWrite() const { return m_lastLogWrite; }
    // The live trend of the last 24 hours, made on the first call (a program without a
    // chart never pays for its memory) and fed with every complete block from then on.
    TrendBuffer& keepTrend();
    // Where the log recorder takes its time from; the system clock unless a test says.
    void setClock(Clock clock) { m_clock = std::move(clock); }

Q_SIGNALS:
    // Every 2 s: time to show the image again.
    void refresh();
    // A line that was due could not be written; `newEpisode` is true for the first failure
    // after lines were written (or since start-up, or since logging was switched off), so
    // that whoever tells the operator does it once per episode.
    void logFailing(const QString& reason, bool newEpisode);
    // A line was written again after failures, or logging was switched off meanwhile.
    void logRecovered();
    // A complete block was added to the live trend.
    void trendAppended();

private:
    void openLine();
    void appendTrend();

    Kelv_Main& m_state;
    QString m_folder;
    QString m_device;
    QStringList m_ownFiles;
    SettingsKeeper m_settingsKeeper;
    BoardLink m_link;
    WriteQueue m_writes;
    QTimer m_refreshTimer;
    bool m_attached = false;
    Clock m_clock = systemClock;
    std::optional<QDateTime> m_lastLogWrite;
    QString m_logFailure;
    SettingsRead m_settingsRead;
    std::unique_ptr<TrendBuffer> m_trend;
};

} // namespace kelvaro
