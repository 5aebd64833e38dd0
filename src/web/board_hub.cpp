#include "web/board_hub.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace kelvaro::web {

struct BoardHub::Link
{
    Board board;
    std::unique_ptr<service::ServiceClient, void (*)(service::ServiceClient*)> client{
        nullptr, [](service::ServiceClient* c) {
            // Often inside the client's own signal: it hears nothing more and goes later.
            QObject::disconnect(c, nullptr, nullptr, nullptr);
            c->deleteLater();
        }};
    std::optional<QJsonObject> state;
    TrendBuffer trend;
    std::map<qint64, Answer> waiting; // by the id sent to the recorder
};

namespace {

// The requests a recorder answers with several messages: the last one of each.
bool isFinal(const QJsonObject& message)
{
    const QString type = message.value(u"type").toString();
    if (type == u"write") {
        const QString state = message.value(u"state").toString();
        return state != u"queued" && state != u"sent";
    }
    return true; // "settings", "error"
}

QJsonObject lostAnswer(const QString& reason)
{
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("error")},
                       {QStringLiteral("reason"), reason}};
}

} // namespace

BoardHub::BoardHub(QStringList sockets, QString runFolder, QObject* parent)
    : QObject(parent), m_given(std::move(sockets)), m_runFolder(std::move(runFolder))
{
    m_scan.setInterval(RetryMs);
    connect(&m_scan, &QTimer::timeout, this, &BoardHub::scan);
}

BoardHub::~BoardHub() = default;

void BoardHub::start()
{
    scan();
    m_scan.start();
}

QString BoardHub::nameFor(const QString& socket) const
{
    QString name = QFileInfo(socket).absoluteDir().dirName();
    if (name.isEmpty())
        name = QStringLiteral("board");
    QString unique = name;
    for (int n = 2; find(unique) && find(unique)->board.socket != socket; ++n)
        unique = QStringLiteral("%1 (%2)").arg(name).arg(n);
    return unique;
}

void BoardHub::scan()
{
    QStringList present = m_given;
    if (m_given.isEmpty()) {
        const QDir run(m_runFolder);
        for (const QString& folder : run.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            const QString socket = run.filePath(folder + QStringLiteral("/kelvaro.sock"));
            if (QFileInfo(socket).exists())
                present << socket;
        }
        const QString here = QDir::current().absoluteFilePath(QStringLiteral("kelvaro.sock"));
        if (QFileInfo(here).exists())
            present << here;
    }
    bool changed = false;
    for (auto it = m_links.begin(); it != m_links.end();) {
        if (!present.contains(it->first) && !it->second->board.connected) {
            for (auto& [id, answer] : it->second->waiting)
                answer(lostAnswer(QStringLiteral("the recorder went away")), true);
            it = m_links.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    for (const QString& socket : present) {
        auto& link = m_links[socket];
        if (!link) {
            link = std::make_unique<Link>();
            link->board.socket = socket;
            link->board.name = nameFor(socket);
            link->board.reason = QStringLiteral("connecting");
            changed = true;
        }
        if (!link->client)
            connectLink(*link);
    }
    if (changed)
        Q_EMIT boardsChanged();
}

void BoardHub::connectLink(Link& link)
{
    link.client.reset(new service::ServiceClient);
    link.client->setHelloTimeout(std::chrono::seconds(5));
    service::ServiceClient* client = link.client.get();
    connect(client, &service::ServiceClient::connected, this, [this, &link, client] {
        client->send(QJsonObject{{QStringLiteral("type"), QStringLiteral("subscribe")}});
        link.board.connected = true;
        link.board.reason.clear();
        Q_EMIT boardsChanged();
    });
    connect(client, &service::ServiceClient::message, this,
            [this, &link](const QJsonObject& message) { onMessage(link, message); });
    connect(client, &service::ServiceClient::failed, this,
            [this, &link](const QString& reason) { onFailed(link, reason); });
    client->connectTo(link.board.socket);
}

void BoardHub::onMessage(Link& link, const QJsonObject& message)
{
    const QString type = message.value(u"type").toString();
    if (type == u"state" && !message.contains(u"id")) {
        QJsonObject state = message;
        state.insert(QStringLiteral("board"), link.board.name);
        link.state = state;
        const QJsonArray words = state.value(u"words").toArray();
        if (words.size() == RegisterCount) {
            std::array<qint32, RegisterCount> image{};
            for (int i = 0; i < RegisterCount; ++i)
                image[size_t(i)] = qint32(words[i].toInteger());
            const QDateTime time =
                QDateTime::fromString(state.value(u"time").toString(), Qt::ISODateWithMs);
            link.trend.append(time.isValid() ? time.toMSecsSinceEpoch()
                                             : QDateTime::currentMSecsSinceEpoch(),
                              image);
        }
        Q_EMIT stateArrived(link.board.name, state);
        return;
    }
    const QJsonValue id = message.value(u"id");
    if (!id.isDouble())
        return;
    const auto waiting = link.waiting.find(qint64(id.toDouble()));
    if (waiting == link.waiting.end())
        return;
    const bool final = isFinal(message);
    Answer answer = waiting->second;
    if (final)
        link.waiting.erase(waiting);
    answer(message, final);
}

void BoardHub::onFailed(Link& link, const QString& reason)
{
    link.board.connected = false;
    link.board.reason = reason;
    link.client.reset(); // deleted later: this runs inside its signal
    auto waiting = std::move(link.waiting);
    link.waiting.clear();
    for (auto& [id, answer] : waiting)
        answer(
            lostAnswer(QStringLiteral("the connection to the recorder was lost: %1").arg(reason)),
            true);
    Q_EMIT boardsChanged();
}

BoardHub::Link* BoardHub::find(const QString& board) const
{
    for (const auto& [socket, link] : m_links) {
        if (link->board.name == board)
            return link.get();
    }
    return nullptr;
}

QList<BoardHub::Board> BoardHub::boards() const
{
    QList<Board> all;
    for (const auto& [socket, link] : m_links)
        all << link->board;
    std::sort(all.begin(), all.end(),
              [](const Board& a, const Board& b) { return a.name < b.name; });
    return all;
}

QJsonArray BoardHub::boardsJson() const
{
    QJsonArray all;
    for (const Board& board : boards()) {
        all.append(QJsonObject{{QStringLiteral("name"), board.name},
                               {QStringLiteral("connected"), board.connected},
                               {QStringLiteral("reason"), board.reason}});
    }
    return all;
}

std::optional<QJsonObject> BoardHub::lastState(const QString& board) const
{
    const Link* link = find(board);
    return link ? link->state : std::nullopt;
}

const TrendBuffer* BoardHub::trend(const QString& board) const
{
    const Link* link = find(board);
    return link ? &link->trend : nullptr;
}

std::optional<QString> BoardHub::socketOf(const QString& board) const
{
    const Link* link = find(board);
    return link ? std::optional(link->board.socket) : std::nullopt;
}

void BoardHub::request(const QString& board, QJsonObject request, Answer answer)
{
    Link* link = find(board);
    if (!link) {
        answer(lostAnswer(QStringLiteral("there is no board \"%1\"").arg(board)), true);
        return;
    }
    if (!link->board.connected || !link->client) {
        answer(lostAnswer(QStringLiteral("the board's recorder is not connected: %1")
                              .arg(link->board.reason)),
               true);
        return;
    }
    const qint64 id = m_nextId++;
    request.insert(QStringLiteral("id"), double(id));
    link->waiting.emplace(id, std::move(answer));
    link->client->send(request);
}

} // namespace kelvaro::web
