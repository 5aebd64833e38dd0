// Browsers for bench/web_cost.sh: first the time a fresh page takes to its first values
// (the page's file, then its WebSocket, the board chosen, the first state), five times;
// then COUNT WebSockets watching the board for SECONDS, counting the states they get.
// Usage: kelvaro-bench-web-clients URL BOARD COUNT SECONDS

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

QString boardRequest(const QString& board)
{
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("board")},
                                  {QStringLiteral("board"), board}})
            .toJson(QJsonDocument::Compact));
}

bool isState(const QString& message)
{
    return message.contains(QLatin1String("\"type\":\"state\""));
}

// A fresh page: GET /, then the WebSocket, then the first state; milliseconds, or -1.
qint64 firstValues(QNetworkAccessManager& net, const QUrl& url, const QString& board)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QNetworkReply* page = net.get(QNetworkRequest(url));
    QObject::connect(page, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    page->deleteLater();
    QWebSocket socket(url.toString(QUrl::RemovePath | QUrl::StripTrailingSlash));
    qint64 elapsed = -1;
    QObject::connect(&socket, &QWebSocket::connected, &socket,
                     [&] { socket.sendTextMessage(boardRequest(board)); });
    QObject::connect(&socket, &QWebSocket::textMessageReceived, &loop, [&](const QString& message) {
        if (isState(message)) {
            elapsed = clock.elapsed();
            loop.quit();
        }
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    QUrl ws = url;
    ws.setScheme(QStringLiteral("ws"));
    ws.setPath(QStringLiteral("/ws"));
    socket.open(ws);
    loop.exec();
    return elapsed;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: kelvaro-bench-web-clients URL BOARD COUNT SECONDS\n");
        return 2;
    }
    const QUrl url(args[1]);
    const QString board = args[2];
    const int count = args[3].toInt();
    const int seconds = args[4].toInt();

    QNetworkAccessManager net;
    std::vector<qint64> firsts;
    for (int i = 0; i < 5; ++i)
        firsts.push_back(firstValues(net, url, board));
    std::sort(firsts.begin(), firsts.end());
    std::printf("first_values_ms min %lld median %lld max %lld\n",
                static_cast<long long>(firsts.front()), static_cast<long long>(firsts[2]),
                static_cast<long long>(firsts.back()));

    QUrl ws = url;
    ws.setScheme(QStringLiteral("ws"));
    ws.setPath(QStringLiteral("/ws"));
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    qint64 states = 0;
    int open = 0;
    for (int i = 0; i < count; ++i) {
        auto socket =
            std::make_unique<QWebSocket>(url.toString(QUrl::RemovePath | QUrl::StripTrailingSlash));
        QWebSocket* raw = socket.get();
        QObject::connect(raw, &QWebSocket::connected, raw, [raw, &board, &open] {
            ++open;
            raw->sendTextMessage(boardRequest(board));
        });
        QObject::connect(raw, &QWebSocket::textMessageReceived, raw,
                         [&states](const QString& message) {
                             if (isState(message))
                                 ++states;
                         });
        raw->open(ws);
        sockets.push_back(std::move(socket));
    }
    std::printf("ready\n");
    std::fflush(stdout);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("sockets_open %d of %d, states %lld (%.1f a second per socket)\n", open, count,
                static_cast<long long>(states), count > 0 ? double(states) / count / seconds : 0.0);
    return open == count ? 0 : 1;
}
