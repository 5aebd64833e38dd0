#pragma once
// The chart window (menu Logging, "Chart"): the live trend of the last 24 hours, or the
// recorded days of the daily log files, on one real time axis, with range presets, pause,
// value-axis control and export of what is shown (PNG, CSV).

#include "core/kelv_main.h"
#include "history/history_data.h"
#include "history/trend_buffer.h"

#include <QFutureWatcher>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDoubleSpinBox;
class QLabel;
class QPushButton;

namespace kelvaro {

class ChartWidget;

namespace service {
class RemoteHistory;
class ServiceClient;
} // namespace service

class Frm_Chart : public QWidget
{
    Q_OBJECT
public:
    enum class Mode
    {
        Live,
        History
    };

    // `trend` is filled by the program's owner of the board line; `folder` holds the log
    // files and Settings.txt.
    Frm_Chart(Kelv_Main& state, const TrendBuffer& trend, QString folder,
              QWidget* parent = nullptr);
    ~Frm_Chart() override;

    // The recorder's connection while the window program is attached to one (none
    // otherwise): History then asks the recorder for its board folder's days.
    using RecorderClient = std::function<service::ServiceClient*()>;
    void setRecorder(RecorderClient recorder) { m_recorder = std::move(recorder); }

    Mode mode() const { return m_mode; }
    void setMode(Mode mode);
    // Reads the days from `from` to `to` in the background and shows them when read.
    void showDays(const QDate& from, const QDate& to);
    // Shows the last `span` milliseconds (live, following) or the first of the days shown.
    void showSpan(qint64 span);
    ChartWidget* chart() const { return m_chart; }
    const HistoryData* history() const { return m_history.get(); }
    QString statusText() const;

public Q_SLOTS:
    // A block was added to the trend: repaints at most once, and not at all while hidden,
    // paused, or showing recorded days.
    void onTrendAppended();
    // The unit setting changed: redraws in the new unit.
    void onUnitChanged();

Q_SIGNALS:
    // The recorded days asked for are read and handed to the chart.
    void historyShown();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void applyValueAxis();
    void setPaused(bool paused);
    void exportPng();
    void exportCsv();
    // In History mode, reads in the background the lines of the days a close view shows
    // when they are not held (a long range is held as its summary).
    void loadDetailForView();
    // The live view's span at `now`: the chosen one, or while the trend holds less, the
    // span it holds (a minute at least), so a new trend is not a sliver at the edge.
    qint64 liveSpanAt(qint64 now) const;
    // Moves a following live view to end at `now`.
    void followClock(qint64 now);
    // Writes in the background and tells the outcome in the status line.
    void writeInBackground(const QString& path, std::function<bool()> write);
    ValueUnits units() const;
    // Shows days read (here or by the recorder) and what could not be read.
    void showLoaded(std::shared_ptr<const HistoryData> days, const QStringList& errors);
    // Takes a history with the lines of a close view, when it is still of the days shown.
    void takeDetail(std::shared_ptr<const HistoryData> detail);
    // The recorder's history when attached to one, or none (then the folder is read).
    service::RemoteHistory* remote();
    bool loading() const;
    // A Show asked for while the recorder was sending a close view's lines.
    void showPending();

    Kelv_Main& m_state;
    const TrendBuffer& m_trend;
    QString m_folder;
    Mode m_mode = Mode::Live;
    struct Loaded
    {
        std::shared_ptr<const HistoryData> data;
        QStringList errors; // files that could not be read
    };
    std::shared_ptr<const HistoryData> m_history;
    QFutureWatcher<Loaded> m_loading;
    QFutureWatcher<std::shared_ptr<const HistoryData>> m_detailLoading;
    QStringList m_loadErrors;
    RecorderClient m_recorder;
    std::unique_ptr<service::RemoteHistory> m_remote;
    QPointer<service::ServiceClient> m_remoteClient; // the client m_remote asks through
    enum class Asking
    {
        Nothing,
        History,
        Detail
    };
    Asking m_asking = Asking::Nothing;
    QString m_source;        // where the days shown came from, when not the folder
    QString m_remoteProblem; // why the recorder sent no history
    std::optional<std::pair<QDate, QDate>> m_pendingShow;
    qint64 m_liveSpan = 3600 * 1000;
    qint64 m_lastFollow = 0; // when the live view last moved with the clock

    ChartWidget* m_chart = nullptr;
    QComboBox* m_modeBox = nullptr;
    QDateEdit* m_from = nullptr;
    QDateEdit* m_to = nullptr;
    QPushButton* m_show = nullptr;
    QPushButton* m_pause = nullptr;
    QCheckBox* m_autoAxis = nullptr;
    QDoubleSpinBox* m_axisLow = nullptr;
    QDoubleSpinBox* m_axisHigh = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace kelvaro
