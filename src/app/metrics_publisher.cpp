#include "app/metrics_publisher.h"

#include "link/board_session.h"
#include "link/settings_check.h"
#include "metrics/board_metrics.h"
#include "metrics/metrics_file.h"
#include "values/parameter_values.h"

#include <QDir>

namespace kelvaro {

MetricsPublisher::MetricsPublisher(BoardSession& session, QString path, Writer tell,
                                   QObject* parent)
    : QObject(parent), m_session(session), m_path(std::move(path)), m_tell(std::move(tell))
{
    BoardLink& link = session.link();
    m_pending.setSingleShot(true);
    connect(&m_pending, &QTimer::timeout, this, &MetricsPublisher::publish);
    connect(&link, &BoardLink::blockReceived, this, &MetricsPublisher::publishSoon);
    connect(&link, &BoardLink::problemChanged, this, &MetricsPublisher::publish);
    connect(&link, &BoardLink::opened, this, &MetricsPublisher::publish);
}

void MetricsPublisher::publishSoon()
{
    if (m_pending.isActive())
        return;
    const auto since = std::chrono::milliseconds(m_sinceWrite.isValid() ? m_sinceWrite.elapsed()
                                                                        : m_interval.count());
    if (since >= m_interval)
        publish();
    else
        m_pending.start(m_interval - since);
}

void MetricsPublisher::publish()
{
    m_pending.stop();
    m_sinceWrite.start();
    const Kelv_Main& state = m_session.state();
    const BoardLink& link = m_session.link();
    BoardMetrics metrics;
    metrics.words = state.registers.Reg_Words;
    metrics.timerCalValue = calibrationValue(state.settings.Timer_CalValue);
    metrics.lineOpen = link.isOpen();
    metrics.silentSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(link.silentFor()).count();
    metrics.reopenCount = link.reopenCount();
    metrics.logActive = state.settings.Log_Active.equalsNumber(1);
    metrics.logFailing = !m_session.logFailure().isEmpty();
    metrics.logIdle = idleLoggingReason(state.settings).has_value();
    if (const auto written = m_session.lastLogWrite())
        metrics.lastLogWriteUnix = written->toSecsSinceEpoch();
    const FileResult result = writeMetricsFile(
        m_path, metricsExposition(metrics, QDir::toNativeSeparators(m_session.folder())));
    if (!result && !m_failing)
        m_tell(QStringLiteral("metrics write failed: ") + result.reason());
    else if (result && m_failing)
        m_tell(QStringLiteral("metrics written again"));
    m_failing = !result;
}

} // namespace kelvaro
