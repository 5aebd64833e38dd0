#include "web/history_job.h"

#include "web/chart_json.h"

#include <QJsonArray>

namespace kelvaro::web {

namespace {

int g_running = 0;

QJsonObject errorMessage(const QString& reason)
{
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("error")},
                       {QStringLiteral("reason"), reason}};
}

const QString Busy = QStringLiteral("too many history questions at once: try again in a moment");

} // namespace

int HistoryJob::running()
{
    return g_running;
}

HistoryJob::HistoryJob(const QString& socket)
{
    ++g_running;
    m_client.setHelloTimeout(std::chrono::seconds(5));
    connect(&m_client, &service::ServiceClient::failed, this, [this](const QString& reason) {
        if (m_fail)
            m_fail(reason);
    });
    connect(&m_history, &service::RemoteHistory::failed, this, [this](const QString& reason) {
        if (m_fail)
            m_fail(reason);
    });
    m_socket = socket;
}

HistoryJob::~HistoryJob()
{
    --g_running;
}

// Connects once every answer is wired: a socket that is not there fails at once.
void HistoryJob::begin()
{
    m_client.connectTo(m_socket);
}

void HistoryJob::finish()
{
    m_fail = nullptr;
    disconnect(&m_client, nullptr, this, nullptr);
    disconnect(&m_history, nullptr, this, nullptr);
    m_client.close();
    deleteLater();
}

HistoryJob* HistoryJob::open(const QString& socket, std::function<void(const QString&)> fail)
{
    if (g_running >= MaxRunning) {
        fail(Busy);
        return nullptr;
    }
    auto* job = new HistoryJob(socket);
    job->m_fail = [job, fail = std::move(fail)](const QString& reason) {
        fail(reason);
        job->finish();
    };
    return job;
}

void HistoryJob::whenConnected(std::function<void()> ask)
{
    connect(&m_client, &service::ServiceClient::connected, this, [this, ask = std::move(ask)] {
        if (const auto why = service::RemoteHistory::cannotSend(m_client.serverProtocol()))
            return m_fail(*why);
        ask();
    });
    begin();
}

void HistoryJob::days(const QString& socket, std::function<void(QJsonObject)> done)
{
    auto* job = open(socket, [done](const QString& reason) { done(errorMessage(reason)); });
    if (!job)
        return;
    connect(&job->m_client, &service::ServiceClient::message, job,
            [job, done](const QJsonObject& message) {
                const QString type = message.value(u"type").toString();
                if (type == u"dates") {
                    for (const QJsonValue date : message.value(u"dates").toArray())
                        job->m_dates << date.toString();
                } else if (type == u"end") {
                    done(QJsonObject{
                        {QStringLiteral("type"), QStringLiteral("days")},
                        {QStringLiteral("dates"), QJsonArray::fromStringList(job->m_dates)}});
                    job->finish();
                } else if (type == u"error") {
                    job->m_fail(message.value(u"reason").toString());
                }
            });
    // "days" came with protocol 2, as the rest of the history.
    job->whenConnected([job] {
        job->m_client.send(QJsonObject{{QStringLiteral("type"), QStringLiteral("days")},
                                       {QStringLiteral("id"), 1}});
    });
}

void HistoryJob::history(const QString& socket, QDate from, QDate to, int width, ValueUnits units,
                         std::function<void(QJsonObject)> done)
{
    auto* job = open(socket, [done](const QString& reason) { done(errorMessage(reason)); });
    if (!job)
        return;
    connect(&job->m_history, &service::RemoteHistory::historyReady, job,
            [job, done, from, to, width, units](std::shared_ptr<const HistoryData> data,
                                                const QStringList& errors) {
                const qint64 t0 = QDateTime(from, QTime(0, 0)).toMSecsSinceEpoch();
                const qint64 t1 = QDateTime(to.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
                QJsonObject chart = chartJson(*data, t0, t1, width, units);
                chart.insert(QStringLiteral("type"), QStringLiteral("chart"));
                chart.insert(QStringLiteral("days"), qint64(data->days().size()));
                chart.insert(QStringLiteral("errors"), QJsonArray::fromStringList(errors));
                done(chart);
                job->finish();
            });
    job->whenConnected([job, from, to] { job->m_history.requestHistory(from, to); });
}

void HistoryJob::report(const QString& socket, std::optional<QDate> from, std::optional<QDate> to,
                        std::function<void(Outcome<QByteArray>)> done)
{
    auto* job = open(socket, [done](const QString& reason) { done(Failure{reason}); });
    if (!job)
        return;
    connect(&job->m_history, &service::RemoteHistory::reportReady, job,
            [job, done](const QByteArray& csv) {
                done(csv);
                job->finish();
            });
    job->whenConnected([job, from, to] { job->m_history.requestReport(from, to); });
}

} // namespace kelvaro::web
