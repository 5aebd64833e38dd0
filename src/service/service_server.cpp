#include "service/service_server.h"

#include "core/printable_text.h"
#include "core/version.h"
#include "link/board_session.h"
#include "link/settings_check.h"
#include "service/history_answers.h"
#include "service/live_state.h"
#include "values/parameter_entry.h"

#include <QDateTime>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace kelvaro::service {

namespace {

// Requests of one client handled in one turn of the event loop.
constexpr int LinesPerTurn = 16;

// Straight to the socket while nothing waits in its buffer, as the serial port does: no
// buffer copy and no extra turn of the event loop per client and block. Whatever the
// socket cannot take now goes through QLocalSocket's buffer (and counts as unread).
void sendLine(QLocalSocket& socket, const QByteArray& line)
{
    qsizetype sent = 0;
    if (socket.bytesToWrite() == 0 && socket.socketDescriptor() >= 0) {
        const ssize_t n = ::send(int(socket.socketDescriptor()), line.constData(),
                                 std::size_t(line.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        sent = n > 0 ? qsizetype(n) : 0;
    }
    if (sent < line.size())
        socket.write(line.constData() + sent, line.size() - sent);
}

QJsonObject withId(QJsonObject message, const QJsonValue& id)
{
    if (!id.isNull() && !id.isUndefined())
        message.insert(QStringLiteral("id"), id);
    return message;
}

QString settingsResult(const SettingsOutcome& outcome)
{
    switch (outcome.kind) {
    case SettingsOutcome::Kind::Saved:
        return QStringLiteral("saved");
    case SettingsOutcome::Kind::NotSaved:
        return QStringLiteral("not-saved");
    case SettingsOutcome::Kind::Refused:
        return QStringLiteral("refused");
    }
    return {};
}

} // namespace

struct ServiceServer::Client
{
    QLocalSocket* socket = nullptr;
    LineReader reader;
    int number = 0;
    qint64 uid = -1;
    qint64 pid = -1;
    bool subscribed = false;
    bool wantsRecord = false;       // sent the settings record, now and whenever it changes
    std::optional<bool> fahrenheit; // none: the unit of the settings
    QLocale locale = QLocale::c();
    int writesOpen = 0;
    bool spoke = false;                     // sent a request line
    std::unique_ptr<HistoryAnswer> history; // the history request being answered
};

ServiceServer::ServiceServer(BoardSession& session, QString programName, Journal journal,
                             QObject* parent)
    : QObject(parent), m_session(session), m_programName(std::move(programName)),
      m_journal(std::move(journal))
{
    connect(&m_session.link(), &BoardLink::blockReceived, this, &ServiceServer::onBlock);
    connect(&m_session.writes(), &WriteQueue::writeChanged, this, &ServiceServer::onWriteChanged);
    connect(&m_session.settingsKeeper(), &SettingsKeeper::changed, this,
            &ServiceServer::onSettingsChanged);
}

ServiceServer::~ServiceServer()
{
    close();
}

Outcome<void> ServiceServer::listen(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st
    {
    };
    if (::lstat(native.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return failure(QStringLiteral("%1 is a symbolic link; it is neither followed nor "
                                          "replaced")
                               .arg(path));
        if (!S_ISSOCK(st.st_mode))
            return failure(
                QStringLiteral("%1 exists and is not a socket; it is left alone").arg(path));
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(1000)) {
            probe.abort();
            return failure(
                QStringLiteral("another service answers on %1; it is left alone").arg(path));
        }
        if (probe.error() != QLocalSocket::ConnectionRefusedError)
            return failure(QStringLiteral("%1 is a socket that cannot be tried (%2); it is left "
                                          "alone")
                               .arg(path, probe.errorString()));
        if (::unlink(native.constData()) != 0)
            return failure(QStringLiteral("the stale socket %1 cannot be removed: %2")
                               .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        m_journal(QStringLiteral("replaced the stale socket %1 (nobody answered on it)").arg(path));
    }
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
    if (!server->listen(path))
        return failure(QStringLiteral("cannot listen on %1: %2").arg(path, server->errorString()));
    // Qt makes it 0770 (owner and group only); execute means nothing on a socket, so make
    // it the plain 0660 an administrator expects. Checked first: only our socket is changed.
    struct stat made
    {
    };
    if (::lstat(native.constData(), &made) == 0 && S_ISSOCK(made.st_mode))
        ::chmod(native.constData(), 0660);
    connect(server.get(), &QLocalServer::newConnection, this, &ServiceServer::onNewConnection);
    m_server = std::move(server);
    m_path = path;
    return {};
}

void ServiceServer::close()
{
    const auto sockets = m_clients.keys();
    for (QLocalSocket* socket : sockets)
        drop(socket);
    if (m_server) {
        m_server->close(); // removes the socket file
        m_server.reset();
    }
}

QString ServiceServer::who(const Client& client) const
{
    return QStringLiteral("client %1 (uid %2, pid %3)")
        .arg(client.number)
        .arg(client.uid)
        .arg(client.pid);
}

void ServiceServer::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        if (m_clients.size() >= MaxClients) {
            socket->write(encodeMessage(errorMessage(
                QStringLiteral("too many clients (at most %1); try again later").arg(MaxClients))));
            socket->disconnectFromServer();
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (socket->state() == QLocalSocket::UnconnectedState)
                socket->deleteLater();
            continue;
        }
        auto client = std::make_shared<Client>();
        client->socket = socket;
        client->number = m_nextClientNumber++;
#ifdef SO_PEERCRED
        ucred credentials{};
        socklen_t size = sizeof credentials;
        if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials,
                         &size) == 0) {
            client->uid = credentials.uid;
            client->pid = credentials.pid;
        }
#endif
        // Qt stops reading from a client that sends faster than it is answered.
        socket->setReadBufferSize(4 * MaxLineLength);
        m_clients.insert(socket, client);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (const auto found = m_clients.value(socket))
                onReadable(*found);
        });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { drop(socket); });
        QTimer::singleShot(m_idleLimit, socket, [this, socket] {
            const auto idle = m_clients.value(socket);
            if (!idle || idle->spoke)
                return;
            send(*idle, errorMessage(QStringLiteral("no request within %1 s; connection closed")
                                         .arg(double(m_idleLimit.count()) / 1000.0)));
            socket->flush();
            drop(socket);
        });
        send(*client, {{QStringLiteral("type"), QStringLiteral("hello")},
                       {QStringLiteral("protocol"), ProtocolVersion},
                       {QStringLiteral("program"), m_programName},
                       {QStringLiteral("version"), versionText()},
                       {QStringLiteral("folder"), m_session.folder()}});
    }
}

void ServiceServer::drop(QLocalSocket* socket)
{
    if (!m_clients.remove(socket))
        return;
    // Writes it asked for go on; their outcome only goes to the journal now.
    for (WriteOwner& owner : m_writeOwners) {
        if (owner.socket == socket)
            owner.socket = nullptr;
    }
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void ServiceServer::onReadable(Client& client)
{
    // A turn takes a bounded share: at most LinesPerTurn requests, read from the socket a
    // line's worth at a time, so a flood of requests leaves the line's bytes their turns
    // of the event loop and waits in the socket (the client is slowed, nobody else).
    QLocalSocket* socket = client.socket;
    int handled = 0;
    while (handled < LinesPerTurn) {
        const std::optional<QByteArray> line = client.reader.nextLine();
        if (!line) {
            if (client.reader.overLong() || socket->bytesAvailable() == 0)
                break;
            client.reader.append(socket->read(MaxLineLength + 2));
            continue;
        }
        ++handled;
        if (line->trimmed().isEmpty())
            continue;
        client.spoke = true;
        const Outcome<Request> request = parseRequest(*line);
        if (!request)
            send(client, errorMessage(request.reason(), readableRequestId(*line)));
        else
            handle(client, *request);
        if (!m_clients.contains(socket))
            return; // dropped while answering
    }
    if (client.reader.overLong()) {
        send(
            client,
            errorMessage(
                QStringLiteral("line longer than %1 bytes; connection closed").arg(MaxLineLength)));
        socket->flush();
        drop(socket);
        return;
    }
    if (handled == LinesPerTurn) {
        QTimer::singleShot(0, this, [this, socket] {
            if (const auto found = m_clients.value(socket))
                onReadable(*found);
        });
    }
}

void ServiceServer::handle(Client& client, const Request& request)
{
    if (request.fahrenheit && request.type != RequestType::Set)
        client.fahrenheit = request.fahrenheit;
    if (request.locale && request.type != RequestType::Set)
        client.locale = QLocale(*request.locale);
    const QJsonObject ok{{QStringLiteral("type"), QStringLiteral("ok")}};
    const bool fahrenheit = client.fahrenheit.value_or(m_session.state().settings.Use_Fahrenheit);

    switch (request.type) {
    case RequestType::Hello:
    case RequestType::Unsubscribe:
        client.subscribed = request.type == RequestType::Hello && client.subscribed;
        send(client, withId(ok, request.id));
        return;
    case RequestType::Subscribe:
        client.subscribed = true;
        client.wantsRecord = request.withRecord;
        send(client, withId(ok, request.id));
        if (client.wantsRecord)
            send(client, recordMessage(m_session.state().settings));
        if (m_blocks > 0)
            send(client, stateMessage(m_session, fahrenheit, client.locale));
        return;
    case RequestType::Values:
        send(client, withId(stateMessage(m_session, fahrenheit, client.locale), request.id));
        return;
    case RequestType::Status:
        send(client, withId(statusMessage(), request.id));
        return;
    case RequestType::Set:
    case RequestType::Reset: {
        QJsonObject answer{{QStringLiteral("type"), QStringLiteral("write")}};
        QString what;
        Outcome<QueuedEntry> queued = failure(QStringLiteral("too many writes waiting from this "
                                                             "client (at most %1)")
                                                  .arg(MaxWritesPerClient));
        if (request.type == RequestType::Set) {
            what = QStringLiteral("%1 \"%2\"")
                       .arg(QString::fromUtf8(entryBox(request.box).caption),
                            printableText(request.text));
            if (client.writesOpen < MaxWritesPerClient) {
                DisplayUnits units = m_session.displayUnits();
                units.Use_Fahrenheit = request.fahrenheit.value_or(fahrenheit);
                units.locale = request.locale ? QLocale(*request.locale) : client.locale;
                queued = m_session.writeEntry(request.box, request.text, units, request.timeout);
            }
        } else {
            what = QStringLiteral("reset");
            if (client.writesOpen < MaxWritesPerClient) {
                const auto id = m_session.queueReset(request.timeout);
                queued = id ? Outcome<QueuedEntry>(QueuedEntry{*id, -1, 0, QString()})
                            : failure(QStringLiteral("the write queue is full; try again"));
            }
        }
        if (!queued) {
            answer.insert(QStringLiteral("state"), QStringLiteral("refused"));
            answer.insert(QStringLiteral("reason"), queued.reason());
            // Not journalled: nothing changed, and a client repeating refused writes must
            // not flood the journal.
            send(client, withId(answer, request.id));
            return;
        }
        ++client.writesOpen;
        m_writeOwners.insert(queued->id, {client.socket, request.id, what});
        answer.insert(QStringLiteral("state"), QStringLiteral("queued"));
        answer.insert(QStringLiteral("write"), qint64(queued->id));
        if (queued->word >= 0) {
            answer.insert(QStringLiteral("word"), queued->word);
            answer.insert(QStringLiteral("value"), queued->value);
            answer.insert(QStringLiteral("shown"), queued->shown);
            what += QStringLiteral(" (word %1 = %2)").arg(queued->word).arg(queued->value);
            m_writeOwners[queued->id].what = what;
        }
        send(client, withId(answer, request.id));
        m_journal(QStringLiteral("%1 write %2 queued").arg(who(client), what) +
                  (queued->shown.isEmpty()
                       ? QString()
                       : QStringLiteral(", to be shown as \"%1\"").arg(queued->shown)));
        return;
    }
    case RequestType::Settings:
        send(client, settingsAnswer(client, request));
        return;
    case RequestType::Days:
    case RequestType::History:
    case RequestType::Detail:
    case RequestType::Report:
        startHistory(client, request);
        return;
    }
}

void ServiceServer::startHistory(Client& client, const Request& request)
{
    // One at a time: a client's reading is bounded, and its answers never interleave.
    std::optional<QString> refusal = HistoryAnswer::refusal(request);
    if (client.history)
        refusal = QStringLiteral("one history request at a time: the one before is still "
                                 "being answered");
    if (refusal) {
        send(client, errorMessage(*refusal, request.id));
        return;
    }
    client.history = std::make_unique<HistoryAnswer>(*client.socket, request,
                                                     HistoryAnswer::sourceOf(m_session));
    QLocalSocket* socket = client.socket;
    connect(client.history.get(), &HistoryAnswer::finished, this, [this, socket] {
        const auto found = m_clients.value(socket);
        if (found && found->history)
            found->history.release()->deleteLater();
    });
    client.history->start();
}

namespace {

QString quoted(const QString& text)
{
    return QLatin1Char('"') + printableText(text) + QLatin1Char('"');
}

// "what old → new" for each value that a change alters, joined by ", ".
class ChangeText
{
public:
    void add(const QString& what, const QString& before, const QString& after)
    {
        if (before != after)
            m_parts.append(QStringLiteral("%1 %2 → %3").arg(what, before, after));
    }
    QString text() const
    {
        return m_parts.isEmpty() ? QStringLiteral("nothing changed")
                                 : m_parts.join(QStringLiteral(", "));
    }

private:
    QStringList m_parts;
};

QString loggingChangeText(const Settings_Record& before, const LoggingChoices& after)
{
    ChangeText change;
    change.add(QStringLiteral("name format"), quoted(before.Log_NameFormat.toText()),
               quoted(after.nameFormat));
    for (int i = 0; i < LogFieldCount; ++i)
        change.add(QStringLiteral("field %1").arg(i + 1), quoted(before.Log_Fields[i].toText()),
                   quoted(after.fields[std::size_t(i)]));
    change.add(QStringLiteral("event"), quoted(before.Log_Event.toText()), quoted(after.event));
    return change.text();
}

QString communicationChangeText(const CommunicationSettings& before,
                                const CommunicationSettings& after)
{
    ChangeText change;
    change.add(QStringLiteral("port"), QString::number(before.port), QString::number(after.port));
    change.add(QStringLiteral("baud"), QString::number(before.baud), QString::number(after.baud));
    change.add(QStringLiteral("RTS"), QString::number(before.rts), QString::number(after.rts));
    change.add(QStringLiteral("DTR"), QString::number(before.dtr), QString::number(after.dtr));
    change.add(QStringLiteral("time-out"), QString::number(before.timeOut),
               QString::number(after.timeOut));
    return change.text();
}

} // namespace

QJsonObject ServiceServer::settingsAnswer(Client& client, const Request& request)
{
    SettingsKeeper& keeper = m_session.settingsKeeper();
    const Settings_Record& before = m_session.state().settings;
    const SettingsChange& change = request.settings;
    SettingsOutcome outcome;
    QString what;
    QString changed; // old → new of each value the change alters
    const auto onOff = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
    if (change.communication) {
        what = QStringLiteral("communication");
        changed =
            communicationChangeText(SettingsKeeper::communication(before), *change.communication);
        outcome = keeper.setCommunication(*change.communication);
    } else if (change.logging) {
        what = QStringLiteral("logging choices");
        changed = loggingChangeText(before, *change.logging);
        outcome = keeper.setLogging(*change.logging);
    } else if (change.logActive) {
        what = QStringLiteral("logging ") + onOff(*change.logActive);
        ChangeText text;
        text.add(QStringLiteral("logging"), onOff(before.Log_Active.equalsNumber(1)),
                 onOff(*change.logActive));
        changed = text.text();
        outcome = keeper.setLogActive(LooseValue::number(*change.logActive ? 1 : 0));
        if (outcome.applied() && !*change.logActive)
            m_session.endLogFailureEpisode();
    } else if (change.fahrenheit) {
        const auto unit = [](bool f) {
            return f ? QStringLiteral("\u00B0F") : QStringLiteral("\u00B0C");
        };
        what = QStringLiteral("display unit ") + unit(*change.fahrenheit);
        ChangeText text;
        text.add(QStringLiteral("unit"), unit(before.Use_Fahrenheit), unit(*change.fahrenheit));
        changed = text.text();
        outcome = keeper.setFahrenheit(*change.fahrenheit);
    } else if (change.showDirect) {
        const auto shown = [](qint16 v) {
            return v == 1 ? QStringLiteral("shown") : QStringLiteral("hidden");
        };
        what = QStringLiteral("raw registers ") + shown(*change.showDirect);
        ChangeText text;
        text.add(QStringLiteral("raw registers"), shown(before.Show_Direct),
                 shown(*change.showDirect));
        changed = text.text();
        outcome = keeper.setShowDirect(*change.showDirect);
    }
    QString line =
        QStringLiteral("%1 settings: %2: %3").arg(who(client), what, settingsResult(outcome));
    if (!outcome.message.isEmpty())
        line += QStringLiteral(" (%1)").arg(printableText(outcome.message.section(u'\n', 0, 0)));
    if (outcome.applied() && !changed.isEmpty())
        line += QStringLiteral("; ") + changed;
    m_journal(line);
    QJsonObject answer{{QStringLiteral("type"), QStringLiteral("settings")},
                       {QStringLiteral("result"), settingsResult(outcome)}};
    if (!outcome.message.isEmpty())
        answer.insert(QStringLiteral("message"), outcome.message);
    return withId(answer, request.id);
}

void ServiceServer::onBlock()
{
    ++m_blocks;
    // One message per unit and locale for this block, however many clients share them.
    QHash<QString, QByteArray> made;
    const auto sockets = m_clients.keys();
    for (QLocalSocket* socket : sockets) {
        const auto client = m_clients.value(socket);
        if (!client || !client->subscribed)
            continue;
        const bool fahrenheit =
            client->fahrenheit.value_or(m_session.state().settings.Use_Fahrenheit);
        const QString key = client->locale.name() + (fahrenheit ? u'F' : u'C');
        auto line = made.find(key);
        if (line == made.end())
            line = made.insert(key,
                               encodeMessage(stateMessage(m_session, fahrenheit, client->locale)));
        if (socket->bytesToWrite() > MaxUnread) {
            m_journal(
                QStringLiteral("%1 dropped: it does not read its messages").arg(who(*client)));
            drop(socket);
            continue;
        }
        sendLine(*socket, *line);
    }
}

void ServiceServer::onSettingsChanged()
{
    QByteArray line;
    const auto sockets = m_clients.keys();
    for (QLocalSocket* socket : sockets) {
        const auto client = m_clients.value(socket);
        if (!client || !client->subscribed || !client->wantsRecord)
            continue;
        if (line.isEmpty())
            line = encodeMessage(recordMessage(m_session.state().settings));
        sendLine(*socket, line);
    }
}

void ServiceServer::onWriteChanged(quint64 id, WriteState state)
{
    const auto found = m_writeOwners.find(id);
    if (found == m_writeOwners.end())
        return; // a write of the window or of another part of this process
    const WriteOwner owner = *found;
    QString stateName;
    QString reason;
    switch (state) {
    case WriteState::Sent:
        stateName = QStringLiteral("sent");
        break;
    case WriteState::Confirmed:
        stateName = QStringLiteral("confirmed");
        break;
    case WriteState::NotConfirmed:
        stateName = QStringLiteral("not-confirmed");
        reason = QStringLiteral("no block from the board showed the value in time");
        break;
    case WriteState::SentLate:
        stateName = QStringLiteral("sent-late");
        reason = QStringLiteral("the time-out passed while the board was already waiting for "
                                "the frame; it was sent after the time-out and is not "
                                "followed");
        break;
    }
    if (state != WriteState::Sent) {
        m_writeOwners.erase(found);
        m_journal(QStringLiteral("write %1 %2").arg(owner.what, stateName));
    }
    const auto client = owner.socket ? m_clients.value(owner.socket) : nullptr;
    if (!client)
        return;
    if (state != WriteState::Sent)
        --client->writesOpen;
    QJsonObject message{{QStringLiteral("type"), QStringLiteral("write")},
                        {QStringLiteral("state"), stateName},
                        {QStringLiteral("write"), qint64(id)}};
    if (!reason.isEmpty())
        message.insert(QStringLiteral("reason"), reason);
    send(*client, withId(message, owner.requestId));
}

void ServiceServer::send(Client& client, const QJsonObject& message)
{
    if (client.socket->bytesToWrite() > MaxUnread) {
        m_journal(QStringLiteral("%1 dropped: it does not read its messages").arg(who(client)));
        drop(client.socket);
        return;
    }
    sendLine(*client.socket, encodeMessage(message));
}

QJsonObject ServiceServer::statusMessage() const
{
    const BoardLink& link = m_session.link();
    const Kelv_Main& state = m_session.state();
    int subscribed = 0;
    for (const auto& client : m_clients)
        subscribed += client->subscribed ? 1 : 0;
    QJsonObject log{{QStringLiteral("active"), state.settings.Log_Active.equalsNumber(1)},
                    {QStringLiteral("folder"), m_session.folder()},
                    {QStringLiteral("failure"), m_session.logFailure()}};
    if (const auto written = m_session.lastLogWrite())
        log.insert(QStringLiteral("lastWrite"), written->toUTC().toString(Qt::ISODate));
    // Logging that is on but writes nothing of use says so, as the start would have.
    const std::optional<QString> idle = idleLoggingReason(state.settings);
    log.insert(QStringLiteral("idle"), idle.value_or(QString()));
    log.insert(QStringLiteral("writing"), state.settings.Log_Active.equalsNumber(1) && !idle &&
                                              m_session.logFailure().isEmpty());
    return {
        {QStringLiteral("type"), QStringLiteral("status")},
        {QStringLiteral("program"), m_programName},
        {QStringLiteral("version"), versionText()},
        {QStringLiteral("line"), QJsonObject{{QStringLiteral("device"), link.deviceName()},
                                             {QStringLiteral("open"), link.isOpen()},
                                             {QStringLiteral("status"), link.status()},
                                             {QStringLiteral("problem"), link.problem()}}},
        {QStringLiteral("board"),
         QJsonObject{{QStringLiteral("blocks"), qint64(m_blocks)},
                     {QStringLiteral("answering"), m_blocks > 0 && link.problem().isEmpty()}}},
        {QStringLiteral("log"), log},
        {QStringLiteral("clients"),
         QJsonObject{{QStringLiteral("connected"), int(m_clients.size())},
                     {QStringLiteral("subscribed"), subscribed},
                     {QStringLiteral("max"), MaxClients}}},
        {QStringLiteral("writes"),
         QJsonObject{{QStringLiteral("waiting"), qint64(m_session.writes().waiting())},
                     {QStringLiteral("unconfirmed"), qint64(m_session.writes().unconfirmed())}}},
    };
}

} // namespace kelvaro::service
