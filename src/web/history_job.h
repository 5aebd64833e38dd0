#pragma once
// One history question of a browser or a script to a recorder, on a connection of its own
// (a recorder answers one history request per connection at a time, and the live
// subscription must not wait behind a year of history): the days that have log files, a
// range's chart, or the daily report. The job ends itself after its one answer.

#include "history/field_meaning.h"
#include "service/remote_history.h"
#include "service/service_client.h"

#include <QByteArray>
#include <QDate>
#include <QJsonObject>
#include <QObject>
#include <functional>
#include <optional>

namespace kelvaro::web {

class HistoryJob : public QObject
{
    Q_OBJECT
public:
    // At most this many jobs run at once; more are refused (a recorder serves 16 clients).
    static constexpr int MaxRunning = 4;
    static int running();

    // {"type":"days","dates":[...]} or {"type":"error","reason":...}
    static void days(const QString& socket, std::function<void(QJsonObject)> done);
    // {"type":"chart", ...chartJson..., "days", "read", "errors"} or an error.
    static void history(const QString& socket, QDate from, QDate to, int width, ValueUnits units,
                        std::function<void(QJsonObject)> done);
    // The CSV, or why not.
    static void report(const QString& socket, std::optional<QDate> from, std::optional<QDate> to,
                       std::function<void(Outcome<QByteArray>)> done);

private:
    explicit HistoryJob(const QString& socket);
    ~HistoryJob() override;
    // A new job whose failure goes to `fail`, or nullptr (and `fail` told) when too many run.
    static HistoryJob* open(const QString& socket, std::function<void(const QString&)> fail);
    // Connects, and asks once the recorder has said it can send its history.
    void whenConnected(std::function<void()> ask);
    void begin();
    void finish();

    service::ServiceClient m_client;
    service::RemoteHistory m_history{m_client};
    QString m_socket;
    QStringList m_dates;
    std::function<void(const QString&)> m_fail;
};

} // namespace kelvaro::web
