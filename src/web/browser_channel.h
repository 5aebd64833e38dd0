#pragma once
// One open page: its WebSocket, who is logged in on it and the board it watches. Reads the
// page's requests, refuses what the user's role does not allow, passes the rest on, and
// sends the watched board's every block. A page that floods, sends oversized or binary
// messages, or stops reading what it is sent is closed.

#include "web/browser_request.h"
#include "web/web_server.h"

#include <QElapsedTimer>
#include <QObject>
#include <QWebSocket>
#include <memory>

namespace kelvaro::web {

class BrowserChannel : public QObject
{
    Q_OBJECT
public:
    BrowserChannel(std::unique_ptr<QWebSocket> socket, Caller caller, WebServer& server);
    ~BrowserChannel() override;

    // At most this many messages a second from the page.
    static constexpr int MaxMessagesPerSecond = 20;
    // Closed when more than this waits unsent to the page.
    static constexpr qint64 MaxUnsentBytes = 4 * 1024 * 1024;

private:
    void onText(const QString& text);
    void take(const BrowserRequest& request);
    void send(const QJsonObject& message);
    void sendError(std::optional<qint64> id, const QString& reason);
    void close(const QString& why);
    void onBoards();
    void onState(const QString& board, const QJsonObject& state);
    QString who() const;

    std::unique_ptr<QWebSocket> m_socket;
    Caller m_caller;
    WebServer& m_server;
    QString m_board;
    QElapsedTimer m_window;
    int m_inWindow = 0;
    bool m_historyRunning = false;
    bool m_closing = false;
};

} // namespace kelvaro::web
