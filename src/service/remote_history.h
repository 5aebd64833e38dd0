#pragma once
// The recorder's history from a client's end of the socket: asks for a range's chart
// summary, the lines of a close view, or the daily report, and hands over the assembled
// result. A day's lines are read from its file's bytes by HistoryData::readDay, the code
// the local chart uses, so a remote history draws exactly as a local one.

#include "history/history_data.h"
#include "service/service_client.h"

#include <QByteArray>
#include <QDate>
#include <QFutureWatcher>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace kelvaro::service {

class RemoteHistory : public QObject
{
    Q_OBJECT
public:
    // `client` is connected (or about to be) and outlives this object.
    explicit RemoteHistory(ServiceClient& client, QObject* parent = nullptr);
    ~RemoteHistory() override;

    // The days from `from` to `to` as the chart draws them: historyReady, or failed.
    void requestHistory(const QDate& from, const QDate& to);
    // `base` (from requestHistory) holding the lines of the days from `from` to `to`, at
    // most HistoryData::DetailDays of them: historyReady, or failed.
    void requestDetail(std::shared_ptr<const HistoryData> base, const QDate& from, const QDate& to);
    // The daily report's CSV, as `kelvaro --report` makes it in the recorder's folder.
    void requestReport(std::optional<QDate> from, std::optional<QDate> to);
    // A request is under way (the recorder answers one at a time).
    bool busy() const { return !m_id.isEmpty() || m_building.isRunning(); }

    // Why a recorder speaking protocol `protocol` cannot send its history, or no value.
    static std::optional<QString> cannotSend(int protocol);

Q_SIGNALS:
    // `errors` name the recorder's files it could not read ("<path>: <reason>").
    void historyReady(std::shared_ptr<const kelvaro::HistoryData> data, const QStringList& errors);
    // `days` log files were found, `read` of them could be read.
    void reportReady(const QByteArray& csv, const QStringList& errors, int days, int read);
    void failed(const QString& reason);

private:
    struct Received
    {
        QStringList names;
        std::vector<HistoryData::Day> days; // summaries, in date order
        std::vector<std::shared_ptr<std::vector<HistoryData::Bucket>>> buckets;
        std::vector<std::pair<QDate, QByteArray>> files; // whole files, in date order
        qint64 fileSize = 0;                             // the size of the last file
        QByteArray report;
        QStringList errors;
    };
    enum class Kind
    {
        History,
        Detail,
        Report
    };

    void send(Kind kind, QJsonObject request);
    void onMessage(const QJsonObject& message);
    Outcome<void> take(const QJsonObject& message);
    void finish(const QJsonObject& end);
    void fail(const QString& reason);

    ServiceClient& m_client;
    QString m_id; // of the request under way; empty when none
    int m_nextId = 1;
    Kind m_kind = Kind::History;
    std::shared_ptr<const HistoryData> m_base;
    QDate m_from;
    QDate m_to;
    Received m_received;
    QFutureWatcher<std::shared_ptr<const HistoryData>> m_building;
    QStringList m_buildErrors;
};

} // namespace kelvaro::service
