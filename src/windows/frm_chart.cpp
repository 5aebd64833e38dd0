#include "windows/frm_chart.h"

#include "history/history_command.h"
#include "logging/log_recorder.h"
#include "service/remote_history.h"
#include "service/service_client.h"
#include "values/parameter_values.h"
#include "windows/chart_widget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <utility>

namespace kelvaro {

namespace {

constexpr qint64 Minute = 60LL * 1000;
constexpr qint64 Hour = 60 * Minute;
constexpr qint64 Day = 24 * Hour;

qint64 startOfDay(const QDate& date)
{
    return QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch();
}

// Writes `bytes` to `path` whole, or leaves an older file as it was.
bool writeWhole(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace

Frm_Chart::Frm_Chart(Kelv_Main& state, const TrendBuffer& trend, QString folder, QWidget* parent)
    : QWidget(parent, Qt::Window), m_state(state), m_trend(trend), m_folder(std::move(folder))
{
    setObjectName(QStringLiteral("Frm_Chart"));
    setWindowTitle(QStringLiteral("Chart"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();
    connect(&m_loading, &QFutureWatcher<Loaded>::finished, this, [this] {
        const Loaded loaded = m_loading.result();
        m_source.clear();
        showLoaded(loaded.data, loaded.errors);
    });
    connect(&m_detailLoading, &QFutureWatcher<std::shared_ptr<const HistoryData>>::finished, this,
            [this] { takeDetail(m_detailLoading.result()); });
    connect(m_chart, &ChartWidget::viewChanged, this, &Frm_Chart::loadDetailForView);
    // Zooming the live view chooses the span it follows the clock with.
    connect(m_chart, &ChartWidget::zoomed, this, [this](qint64 span) {
        if (m_mode == Mode::Live && m_chart->following())
            m_liveSpan = span;
    });
    setMode(Mode::Live);
    resize(1000, 620);
}

void Frm_Chart::showLoaded(std::shared_ptr<const HistoryData> days, const QStringList& errors)
{
    m_history = std::move(days);
    m_loadErrors = errors;
    m_show->setEnabled(m_mode == Mode::History);
    if (m_mode != Mode::History)
        return;
    m_chart->setData(m_history.get());
    m_chart->setTimeRange(startOfDay(m_from->date()), startOfDay(m_to->date().addDays(1)));
    loadDetailForView();
    m_status->setText(statusText());
    Q_EMIT historyShown();
}

void Frm_Chart::takeDetail(std::shared_ptr<const HistoryData> detail)
{
    // Only for the days read by the last Show; a newer Show supersedes it.
    auto sameDays = [](const HistoryData& a, const HistoryData& b) {
        return a.days().size() == b.days().size() && !a.days().empty() &&
               a.days().front().date == b.days().front().date &&
               a.days().back().date == b.days().back().date;
    };
    if (!detail || !m_history || loading() || !sameDays(*detail, *m_history))
        return;
    m_history = std::move(detail);
    if (m_mode == Mode::History)
        m_chart->setData(m_history.get());
    loadDetailForView(); // the view may have moved on meanwhile
}

bool Frm_Chart::loading() const
{
    return m_loading.isRunning() || m_asking == Asking::History;
}

service::RemoteHistory* Frm_Chart::remote()
{
    service::ServiceClient* client = m_recorder ? m_recorder() : nullptr;
    if (!client) {
        m_remote.reset();
        m_remoteClient = nullptr;
        return nullptr;
    }
    if (client == m_remoteClient && m_remote)
        return m_remote.get();
    // A new connection (attached again): what was asked through the old one is dropped.
    m_asking = Asking::Nothing;
    m_remoteClient = client;
    m_remote = std::make_unique<service::RemoteHistory>(*client);
    const QString where = QStringLiteral("from the recorder on %1").arg(client->path());
    connect(m_remote.get(), &service::RemoteHistory::historyReady, this,
            [this, where](std::shared_ptr<const HistoryData> days, const QStringList& errors) {
                const Asking asked = std::exchange(m_asking, Asking::Nothing);
                if (asked == Asking::History) {
                    m_source = where;
                    m_remoteProblem.clear();
                    showLoaded(std::move(days), errors);
                } else if (asked == Asking::Detail) {
                    takeDetail(std::move(days));
                }
                showPending();
            });
    connect(m_remote.get(), &service::RemoteHistory::failed, this, [this](const QString& why) {
        const Asking asked = std::exchange(m_asking, Asking::Nothing);
        if (asked == Asking::Nothing)
            return;
        // A close view without its lines is still drawn from the summary; a Show that
        // brought nothing says why instead of an empty chart.
        m_remoteProblem = why;
        if (asked == Asking::History) {
            m_history.reset();
            m_loadErrors.clear();
            m_chart->setData(nullptr);
            m_show->setEnabled(m_mode == Mode::History);
        }
        m_status->setText(statusText());
        showPending();
    });
    return m_remote.get();
}

void Frm_Chart::showPending()
{
    if (const auto pending = std::exchange(m_pendingShow, std::nullopt))
        showDays(pending->first, pending->second);
}

Frm_Chart::~Frm_Chart()
{
    m_loading.waitForFinished();
    m_detailLoading.waitForFinished();
}

void Frm_Chart::loadDetailForView()
{
    if (m_mode != Mode::History || !m_history || loading() || m_detailLoading.isRunning() ||
        m_asking == Asking::Detail)
        return;
    const ChartView view = m_chart->view();
    if (m_history->holdsLines(view.t0, view.t1))
        return;
    const QDate from = QDateTime::fromMSecsSinceEpoch(view.t0).date();
    const QDate to = QDateTime::fromMSecsSinceEpoch(view.t1 - 1).date();
    if (from.daysTo(to) >= HistoryData::DetailDays)
        return; // far enough out for the summary
    std::shared_ptr<const HistoryData> held = m_history;
    if (!m_source.isEmpty()) {
        // Days the recorder sent: their lines come from it too, while it is there.
        service::RemoteHistory* recorder = remote();
        if (!recorder || recorder->busy())
            return;
        m_asking = Asking::Detail;
        recorder->requestDetail(held, from, to);
        return;
    }
    m_detailLoading.setFuture(QtConcurrent::run([held, from, to]() {
        return std::shared_ptr<const HistoryData>(held->withDetail(from, to));
    }));
}

ValueUnits Frm_Chart::units() const
{
    return {m_state.settings.Use_Fahrenheit, calibrationValue(m_state.settings.Timer_CalValue)};
}

void Frm_Chart::buildControls()
{
    m_chart = new ChartWidget([this] { return units(); }, this);
    m_chart->setObjectName(QStringLiteral("chart"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* second = new QHBoxLayout;
    layout->addLayout(top);
    layout->addLayout(second);

    m_modeBox = new QComboBox(this);
    m_modeBox->addItems({QStringLiteral("Live"), QStringLiteral("History")});
    connect(m_modeBox, &QComboBox::activated, this,
            [this](int index) { setMode(index == 0 ? Mode::Live : Mode::History); });
    top->addWidget(m_modeBox);

    const QDate today = QDate::currentDate();
    m_from = new QDateEdit(today, this);
    m_to = new QDateEdit(today, this);
    for (QDateEdit* edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    connect(m_from, &QDateEdit::dateChanged, this, [this](const QDate& date) {
        if (m_to->date() < date)
            m_to->setDate(date);
    });
    top->addWidget(new QLabel(QStringLiteral("From:"), this));
    top->addWidget(m_from);
    top->addWidget(new QLabel(QStringLiteral("To:"), this));
    top->addWidget(m_to);
    m_show = new QPushButton(QStringLiteral("Show"), this);
    connect(m_show, &QPushButton::clicked, this,
            [this] { showDays(m_from->date(), std::max(m_from->date(), m_to->date())); });
    top->addWidget(m_show);
    top->addStretch();

    auto* exportPngButton = new QPushButton(QStringLiteral("Export PNG..."), this);
    auto* exportCsvButton = new QPushButton(QStringLiteral("Export CSV..."), this);
    connect(exportPngButton, &QPushButton::clicked, this, &Frm_Chart::exportPng);
    connect(exportCsvButton, &QPushButton::clicked, this, &Frm_Chart::exportCsv);
    top->addWidget(exportPngButton);
    top->addWidget(exportCsvButton);

    second->addWidget(new QLabel(QStringLiteral("Range:"), this));
    const std::pair<QString, qint64> presets[] = {{QStringLiteral("Hour"), Hour},
                                                  {QStringLiteral("Day"), Day},
                                                  {QStringLiteral("Week"), 7 * Day},
                                                  {QStringLiteral("Month"), 30 * Day}};
    for (const auto& [caption, span] : presets) {
        auto* button = new QPushButton(caption, this);
        const qint64 presetSpan = span;
        connect(button, &QPushButton::clicked, this, [this, presetSpan] { showSpan(presetSpan); });
        second->addWidget(button);
    }
    m_pause = new QPushButton(QStringLiteral("Pause"), this);
    m_pause->setCheckable(true);
    connect(m_pause, &QPushButton::toggled, this, &Frm_Chart::setPaused);
    second->addWidget(m_pause);
    second->addSpacing(16);

    m_autoAxis = new QCheckBox(QStringLiteral("Automatic temperature axis"), this);
    m_autoAxis->setChecked(true);
    m_axisLow = new QDoubleSpinBox(this);
    m_axisHigh = new QDoubleSpinBox(this);
    for (QDoubleSpinBox* box : {m_axisLow, m_axisHigh}) {
        box->setRange(-500.0, 1500.0);
        box->setDecimals(1);
        box->setEnabled(false);
        connect(box, &QDoubleSpinBox::valueChanged, this, &Frm_Chart::applyValueAxis);
    }
    m_axisLow->setValue(0.0);
    m_axisHigh->setValue(40.0);
    connect(m_autoAxis, &QCheckBox::toggled, this, [this](bool automatic) {
        m_axisLow->setEnabled(!automatic);
        m_axisHigh->setEnabled(!automatic);
        applyValueAxis();
    });
    second->addWidget(m_autoAxis);
    second->addWidget(m_axisLow);
    second->addWidget(new QLabel(QStringLiteral("to"), this));
    second->addWidget(m_axisHigh);
    second->addStretch();

    connect(m_chart, &ChartWidget::followingChanged, this, [this](bool following) {
        if (m_mode == Mode::Live) {
            const QSignalBlocker block(m_pause);
            m_pause->setChecked(!following);
            if (following)
                followClock(QDateTime::currentMSecsSinceEpoch());
        }
    });
    layout->addWidget(m_chart, 1);

    m_status = new QLabel(this);
    layout->addWidget(m_status);
}

void Frm_Chart::setMode(Mode mode)
{
    m_mode = mode;
    m_modeBox->setCurrentIndex(mode == Mode::Live ? 0 : 1);
    const bool history = mode == Mode::History;
    m_from->setEnabled(history);
    m_to->setEnabled(history);
    m_show->setEnabled(history && !loading());
    m_pause->setEnabled(!history);
    if (history) {
        m_chart->setFollowing(false);
        m_chart->setData(m_history.get());
        if (m_history)
            m_chart->setTimeRange(startOfDay(m_from->date()), startOfDay(m_to->date().addDays(1)));
    } else {
        m_chart->setData(&m_trend);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        m_chart->setTimeRange(now - liveSpanAt(now), now);
        m_pause->setChecked(false);
        m_chart->setFollowing(true);
    }
    m_status->setText(statusText());
}

QString Frm_Chart::statusText() const
{
    if (m_mode == Mode::Live)
        return QStringLiteral("Live: %1 blocks held (last 24 hours)")
            .arg(m_trend.endIndex() - m_trend.firstIndex());
    if (m_loading.isRunning())
        return QStringLiteral("Reading the log files...");
    if (m_asking == Asking::History)
        return QStringLiteral("Asking the recorder for its log files...");
    if (!m_history && !m_remoteProblem.isEmpty())
        return QStringLiteral("No history: %1.").arg(m_remoteProblem);
    if (!m_history)
        return QStringLiteral("Choose the days and press Show.");
    QString text = QStringLiteral("%1 days, %2 lines, %3 skipped")
                       .arg(m_history->days().size())
                       .arg(m_history->totalLines())
                       .arg(m_history->totalSkipped());
    if (!m_source.isEmpty())
        text += QStringLiteral(", ") + m_source;
    if (!m_loadErrors.isEmpty())
        text += QStringLiteral("; cannot read: ") + m_loadErrors.join(QStringLiteral("; "));
    if (m_history && !m_remoteProblem.isEmpty())
        text += QStringLiteral("; close view from the summary: ") + m_remoteProblem;
    return text;
}

void Frm_Chart::showDays(const QDate& from, const QDate& to)
{
    if (loading())
        return;
    if (m_mode != Mode::History)
        setMode(Mode::History);
    m_from->setDate(from);
    m_to->setDate(to);
    m_show->setEnabled(false);
    if (service::RemoteHistory* recorder = remote()) {
        // Attached: the days are the recorder's, from its board folder.
        if (recorder->busy()) {
            // The lines of a close view are on their way: the Show follows them.
            m_pendingShow = {from, to};
            return;
        }
        m_remoteProblem.clear();
        m_asking = Asking::History;
        recorder->requestHistory(from, to);
        m_status->setText(statusText());
        return;
    }
    HistoryCommand range;
    range.from = from;
    range.to = to;
    const QString folder = m_folder;
    // Settings are read here, on the window's thread; the files in the background.
    const QStringList names = loggedFieldNames(m_state.settings, m_state.Field_Names);
    const std::vector<LogDayFile> files =
        findLogDays(folder, m_state.settings.Log_NameFormat.toText(), from, to);
    m_loading.setFuture(QtConcurrent::run([files, names]() {
        Loaded loaded;
        loaded.data = HistoryData::load(files, names, readingThreads(), &loaded.errors);
        return loaded;
    }));
    m_status->setText(statusText());
}

void Frm_Chart::showSpan(qint64 span)
{
    if (m_mode == Mode::Live) {
        m_liveSpan = span;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        m_chart->setTimeRange(now - liveSpanAt(now), now);
        setPaused(false);
    } else {
        const qint64 t0 = m_chart->view().t0;
        m_chart->setTimeRange(t0, t0 + span);
    }
}

void Frm_Chart::setPaused(bool paused)
{
    if (m_mode != Mode::Live)
        return;
    {
        const QSignalBlocker block(m_pause);
        m_pause->setChecked(paused);
    }
    m_chart->setFollowing(!paused);
    if (!paused)
        followClock(QDateTime::currentMSecsSinceEpoch());
}

qint64 Frm_Chart::liveSpanAt(qint64 now) const
{
    const qint64 oldest = m_trend.isEmpty() ? now : m_trend.timeAt(m_trend.firstIndex());
    return std::min(m_liveSpan, std::max(Minute, now - oldest));
}

void Frm_Chart::followClock(qint64 now)
{
    if (m_mode != Mode::Live || !m_chart->following())
        return;
    m_chart->setTimeRange(now - liveSpanAt(now), now);
}

void Frm_Chart::applyValueAxis()
{
    if (m_autoAxis->isChecked() || m_axisLow->value() >= m_axisHigh->value())
        m_chart->setTemperatureRange(std::nullopt);
    else
        m_chart->setTemperatureRange(std::make_pair(m_axisLow->value(), m_axisHigh->value()));
}

void Frm_Chart::onTrendAppended()
{
    if (!isVisible() || m_mode != Mode::Live || !m_chart->following())
        return;
    // The view moves on only when the clock has moved it by a pixel column or more: a
    // faster poll than the view can show costs no extra repaints.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const ChartView view = m_chart->view();
    const qint64 msPerPixel = (view.t1 - view.t0) / std::max(1, m_chart->width() - 76);
    if (now - m_lastFollow < msPerPixel)
        return;
    m_lastFollow = now;
    followClock(now); // schedules one repaint
    m_status->setText(statusText());
}

void Frm_Chart::onUnitChanged()
{
    m_chart->update();
}

void Frm_Chart::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_mode == Mode::Live)
        followClock(QDateTime::currentMSecsSinceEpoch());
}

void Frm_Chart::exportPng()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export PNG"), m_folder,
                                                      QStringLiteral("PNG image (*.png)"));
    if (path.isEmpty())
        return;
    const QImage image = m_chart->image();
    writeInBackground(path, [image, path] { return image.save(path, "PNG"); });
}

void Frm_Chart::exportCsv()
{
    // The recorder's days hold their lines only where a close view asked for them; the
    // rest are not here to be written.
    if (m_mode == Mode::History && m_history && !m_source.isEmpty() &&
        !m_history->holdsLines(m_chart->view().t0, m_chart->view().t1 + 1)) {
        m_status->setText(QStringLiteral("The recorder's days are exported from a close view: "
                                         "zoom in to %1 days or fewer.")
                              .arg(HistoryData::DetailDays));
        return;
    }
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), m_folder,
                                                      QStringLiteral("CSV file (*.csv)"));
    if (path.isEmpty())
        return;
    const ChartView view = m_chart->view();
    if (m_mode == Mode::History && m_history) {
        // Recorded days can be long: converted and written in the background.
        std::shared_ptr<const HistoryData> recorded = m_history;
        const ValueUnits u = units();
        writeInBackground(path, [recorded, view, u, path] {
            return writeWhole(path, historyCsv(*recorded, view.t0, view.t1, u));
        });
    } else {
        const QByteArray bytes = chartCsv(m_trend, view.t0, view.t1, units());
        writeInBackground(path, [bytes, path] { return writeWhole(path, bytes); });
    }
}

void Frm_Chart::writeInBackground(const QString& path, std::function<bool()> write)
{
    m_status->setText(QStringLiteral("Writing %1...").arg(path));
    const QPointer<QLabel> status = m_status;
    (void)QtConcurrent::run([status, path, write] {
        const bool written = write();
        QMetaObject::invokeMethod(QCoreApplication::instance(), [status, path, written] {
            if (status)
                status->setText(written ? QStringLiteral("Written: %1").arg(path)
                                        : QStringLiteral("Could not write %1").arg(path));
        });
    });
}

} // namespace kelvaro
