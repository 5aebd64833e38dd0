#include "web/browser_channel.h"

#include "core/version.h"
#include "history/field_meaning.h"
#include "values/parameter_entry.h"
#include "web/chart_json.h"
#include "web/history_job.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>

namespace kelvaro::web {

namespace {

QJsonObject withId(QJsonObject message, std::optional<qint64> id)
{
    if (id)
        message.insert(QStringLiteral("id"), double(*id));
    else
        message.remove(QStringLiteral("id"));
    return message;
}

} // namespace

BrowserChannel::BrowserChannel(std::unique_ptr<QWebSocket> socket, Caller caller, WebServer& server)
    : QObject(&server), m_socket(std::move(socket)), m_caller(std::move(caller)), m_server(server)
{
    m_socket->setMaxAllowedIncomingMessageSize(quint64(BrowserMessageMaxBytes));
    m_socket->setMaxAllowedIncomingFrameSize(quint64(BrowserMessageMaxBytes));
    m_window.start();
    connect(m_socket.get(), &QWebSocket::textMessageReceived, this, &BrowserChannel::onText);
    connect(m_socket.get(), &QWebSocket::binaryMessageReceived, this,
            [this] { close(QStringLiteral("binary message")); });
    connect(m_socket.get(), &QWebSocket::disconnected, this, [this] { deleteLater(); });
    connect(&server.hub(), &BoardHub::boardsChanged, this, &BrowserChannel::onBoards);
    connect(&server.hub(), &BoardHub::stateArrived, this, &BrowserChannel::onState);
    send(QJsonObject{{QStringLiteral("type"), QStringLiteral("welcome")},
                     {QStringLiteral("user"), m_caller.user},
                     {QStringLiteral("role"), roleName(m_caller.role)},
                     {QStringLiteral("login"), m_caller.user != u"local"},
                     {QStringLiteral("version"), versionText()},
                     {QStringLiteral("boards"), server.hub().boardsJson()}});
}

BrowserChannel::~BrowserChannel()
{
    disconnect(m_socket.get(), nullptr, this, nullptr);
}

QString BrowserChannel::who() const
{
    return QStringLiteral("web: %1 (%2) from %3")
        .arg(m_caller.user, roleName(m_caller.role), m_caller.address);
}

void BrowserChannel::close(const QString& why)
{
    if (m_closing)
        return;
    m_closing = true;
    journal(QStringLiteral("%1: page closed: %2").arg(who(), why));
    m_socket->close(QWebSocketProtocol::CloseCodePolicyViolated, why.left(100));
    deleteLater();
}

void BrowserChannel::send(const QJsonObject& message)
{
    if (m_closing)
        return;
    if (m_socket->bytesToWrite() > MaxUnsentBytes)
        return close(QStringLiteral("the page does not read what it is sent"));
    m_socket->sendTextMessage(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void BrowserChannel::sendError(std::optional<qint64> id, const QString& reason)
{
    send(withId(QJsonObject{{QStringLiteral("type"), QStringLiteral("error")},
                            {QStringLiteral("reason"), reason}},
                id));
}

void BrowserChannel::onBoards()
{
    send(QJsonObject{{QStringLiteral("type"), QStringLiteral("boards")},
                     {QStringLiteral("boards"), m_server.hub().boardsJson()}});
}

void BrowserChannel::onState(const QString& board, const QJsonObject& state)
{
    if (board == m_board)
        send(state);
}

void BrowserChannel::onText(const QString& text)
{
    if (m_closing)
        return;
    if (m_window.elapsed() >= 1000) {
        m_window.restart();
        m_inWindow = 0;
    }
    if (++m_inWindow > MaxMessagesPerSecond)
        return close(QStringLiteral("more than %1 messages a second").arg(MaxMessagesPerSecond));
    const auto read = readBrowserMessage(text.toUtf8());
    if (const auto* refusal = std::get_if<BrowserRefusal>(&read))
        return sendError(refusal->id, refusal->reason);
    take(std::get<BrowserRequest>(read));
}

void BrowserChannel::take(const BrowserRequest& request)
{
    const auto id = request.id;
    if (changesBoard(request.ask) && m_caller.role != Role::Operator) {
        journal(QStringLiteral("%1: refused a change: the user is a viewer").arg(who()));
        return sendError(
            id, QStringLiteral("A viewer cannot change the board: log in as an operator."));
    }
    if (const auto* watch = std::get_if<WatchBoard>(&request.ask)) {
        if (!m_server.hub().socketOf(watch->board))
            return sendError(id, QStringLiteral("there is no board \"%1\"").arg(watch->board));
        m_board = watch->board;
        if (const auto state = m_server.hub().lastState(m_board))
            send(*state);
        return;
    }
    if (m_board.isEmpty())
        return sendError(id, QStringLiteral("choose a board first"));
    QPointer<BrowserChannel> self(this);
    const QString board = m_board;
    if (const auto* set = std::get_if<SetBox>(&request.ask)) {
        const QString what =
            QStringLiteral("set \"%1\" to \"%2\" on %3")
                .arg(QLatin1String(EntryBoxes[size_t(set->box)].caption), set->text, board);
        journal(QStringLiteral("%1: %2").arg(who(), what));
        const QString whoText = who();
        const int box = set->box;
        m_server.hub().request(
            board,
            QJsonObject{{QStringLiteral("type"), QStringLiteral("set")},
                        {QStringLiteral("box"), set->box},
                        {QStringLiteral("text"), set->text},
                        {QStringLiteral("locale"), set->locale}},
            [self, id, box, whoText, what](const QJsonObject& message, bool final) {
                QJsonObject answer = message;
                if (answer.value(u"type").toString() == u"error") {
                    answer = QJsonObject{{QStringLiteral("type"), QStringLiteral("write")},
                                         {QStringLiteral("state"), QStringLiteral("not-confirmed")},
                                         {QStringLiteral("reason"), message.value(u"reason")}};
                }
                answer.insert(QStringLiteral("box"), box);
                if (final || answer.value(u"state").toString() == u"queued") {
                    QString line = QStringLiteral("%1: %2: %3")
                                       .arg(whoText, what, answer.value(u"state").toString());
                    if (const QString reason = answer.value(u"reason").toString();
                        !reason.isEmpty())
                        line += QStringLiteral(" (%1)").arg(reason);
                    journal(line);
                }
                if (self)
                    self->send(withId(answer, id));
            });
        return;
    }
    if (const auto* change = std::get_if<ChangeSettings>(&request.ask)) {
        QJsonObject settings = change->change;
        settings.insert(QStringLiteral("type"), QStringLiteral("settings"));
        const QString what =
            QStringLiteral("settings %1 on %2")
                .arg(
                    QString::fromUtf8(QJsonDocument(change->change).toJson(QJsonDocument::Compact)),
                    board);
        const QString whoText = who();
        m_server.hub().request(
            board, settings, [self, id, whoText, what](const QJsonObject& message, bool) {
                QJsonObject answer = message;
                if (answer.value(u"type").toString() == u"error") {
                    answer = QJsonObject{{QStringLiteral("type"), QStringLiteral("settings")},
                                         {QStringLiteral("result"), QStringLiteral("refused")},
                                         {QStringLiteral("message"), message.value(u"reason")}};
                }
                journal(QStringLiteral("%1: %2: %3 %4")
                            .arg(whoText, what, answer.value(u"result").toString(),
                                 answer.value(u"message").toString())
                            .trimmed());
                if (self)
                    self->send(withId(answer, id));
            });
        return;
    }
    const bool fahrenheit =
        m_server.hub().lastState(board).value_or(QJsonObject{}).value(u"unit").toString() == u"F";
    const ValueUnits units{fahrenheit, 10000};
    if (const auto* trend = std::get_if<AskTrend>(&request.ask)) {
        const TrendBuffer* buffer = m_server.hub().trend(board);
        const qint64 t1 = buffer && !buffer->isEmpty() ? buffer->timeAt(buffer->endIndex() - 1)
                                                       : QDateTime::currentMSecsSinceEpoch();
        // A trend younger than the period (kelvaro-web started recently) fills the width
        // rather than sitting at its right edge.
        qint64 t0 = t1 - qint64(trend->hours) * 3600 * 1000;
        if (buffer && !buffer->isEmpty())
            t0 = std::max(t0, std::min(buffer->timeAt(buffer->firstIndex()), t1 - 60 * 1000));
        QJsonObject chart =
            buffer ? chartJson(*buffer, t0, t1 + 1, trend->width, units) : QJsonObject{};
        chart.insert(QStringLiteral("type"), QStringLiteral("chart"));
        chart.insert(QStringLiteral("kind"), QStringLiteral("trend"));
        return send(withId(chart, id));
    }
    if (m_historyRunning)
        return sendError(id, QStringLiteral("one history question at a time"));
    const QString socket = *m_server.hub().socketOf(board);
    m_historyRunning = true;
    auto done = [self, id](QJsonObject answer) {
        if (!self)
            return;
        self->m_historyRunning = false;
        self->send(withId(answer, id));
    };
    if (std::holds_alternative<AskDays>(request.ask))
        return HistoryJob::days(socket, done);
    const auto& history = std::get<AskHistory>(request.ask);
    HistoryJob::history(socket, history.from, history.to, history.width, units,
                        [done](QJsonObject answer) {
                            if (answer.value(u"type").toString() == u"chart")
                                answer.insert(QStringLiteral("kind"), QStringLiteral("history"));
                            done(answer);
                        });
}

} // namespace kelvaro::web
