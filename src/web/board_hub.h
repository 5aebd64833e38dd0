#pragma once
// kelvaro-web's side of the recorders: one connection to each recorder's socket, subscribed
// to its blocks, however many browsers watch. Keeps each board's last state and its live
// trend, passes writes and settings changes on and routes every answer back to whoever
// asked; the recorder checks them exactly as it checks every other client's. Sockets are
// the ones given, or found in the run folder and the current folder, again every few
// seconds as recorders come and go.

#include "history/trend_buffer.h"
#include "service/service_client.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

namespace kelvaro::web {

class BoardHub : public QObject
{
    Q_OBJECT
public:
    // `sockets` empty: look for them under `runFolder` (its */kelvaro.sock) and in the
    // current folder.
    explicit BoardHub(QStringList sockets, QString runFolder, QObject* parent = nullptr);
    ~BoardHub() override;

    void start();

    struct Board
    {
        QString name;
        QString socket;
        bool connected = false;
        QString reason; // why it is not connected
    };
    QList<Board> boards() const;
    // [{"name", "connected", "reason"}], in name order.
    QJsonArray boardsJson() const;
    // The board's latest "state" (with "board"), or nothing before its first block.
    std::optional<QJsonObject> lastState(const QString& board) const;
    const TrendBuffer* trend(const QString& board) const;
    std::optional<QString> socketOf(const QString& board) const;

    // Every message the recorder sends for the request; `final` on the last one.
    using Answer = std::function<void(const QJsonObject& message, bool final)>;
    // Sends `request` ("set" or "settings") to the board's recorder. When there is no such
    // board, or it is not connected, `answer` hears an "error" at once.
    void request(const QString& board, QJsonObject request, Answer answer);

    // How often sockets are looked for and lost recorders tried again.
    static constexpr int RetryMs = 5000;

Q_SIGNALS:
    void boardsChanged();
    void stateArrived(const QString& board, const QJsonObject& state);

private:
    struct Link;
    void scan();
    void connectLink(Link& link);
    void onMessage(Link& link, const QJsonObject& message);
    void onFailed(Link& link, const QString& reason);
    Link* find(const QString& board) const;
    QString nameFor(const QString& socket) const;

    QStringList m_given;
    QString m_runFolder;
    QTimer m_scan;
    std::map<QString, std::unique_ptr<Link>> m_links; // by socket path
    qint64 m_nextId = 1;
};

} // namespace kelvaro::web
