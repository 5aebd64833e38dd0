#include "service/attached_board.h"

#include "link/board_session.h"
#include "values/parameter_entry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

namespace kelvaro::service {

namespace {

// What the service takes from a window: the values of its settings requests.
void copyServiceFields(const Settings_Record& from, Settings_Record& into)
{
    into.Comm_Port = from.Comm_Port;
    into.Comm_Baud = from.Comm_Baud;
    into.Comm_RTS = from.Comm_RTS;
    into.Comm_DTR = from.Comm_DTR;
    into.Comm_TimeOut = from.Comm_TimeOut;
    into.Log_Active = from.Log_Active;
    into.Log_NameFormat = from.Log_NameFormat;
    into.Log_Fields = from.Log_Fields;
    into.Log_Event = from.Log_Event;
    into.Show_Direct = from.Show_Direct;
    into.Use_Fahrenheit = from.Use_Fahrenheit;
}

// The socket a recorder's command line names (--socket PATH or --socket=PATH), made
// absolute against its working folder when that can be read.
QString socketOnCommandLine(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> arguments = file.read(64 * 1024).split('\0');
    QString path;
    for (qsizetype k = 0; k < arguments.size(); ++k) {
        if (arguments[k] == "--socket" && k + 1 < arguments.size())
            path = QFile::decodeName(arguments[k + 1]);
        else if (arguments[k].startsWith("--socket="))
            path = QFile::decodeName(arguments[k].mid(9));
    }
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return path;
    const QString cwd = QFileInfo(QStringLiteral("/proc/%1/cwd").arg(pid)).symLinkTarget();
    return cwd.isEmpty() ? QString() : QDir(cwd).filePath(path);
}

} // namespace

AttachedBoard::AttachedBoard(BoardSession& session, QObject* parent)
    : QObject(parent), m_session(session)
{
    connect(&m_session.link(), &BoardLink::problemChanged, this, &AttachedBoard::onLineProblem);
    m_retry.setInterval(RetryInterval);
    connect(&m_retry, &QTimer::timeout, this, &AttachedBoard::onLineProblem);
    m_retry.start();
    m_takeOver.setSingleShot(true);
    m_takeOver.setInterval(TakeOverAfter);
    connect(&m_takeOver, &QTimer::timeout, this, [this] {
        if (m_attached)
            return;
        m_session.setAttached(false);
        Q_EMIT lineTakenBack();
    });
}

AttachedBoard::~AttachedBoard()
{
    detach();
}

QStringList AttachedBoard::candidateSockets() const
{
    if (isRemote())
        return {m_preferred}; // nothing on this machine is that recorder
    QStringList found;
    auto add = [&found](const QString& path) {
        if (!path.isEmpty() && !found.contains(path) && QFileInfo::exists(path))
            found.append(path);
    };
    add(m_preferred);
    add(m_path);
    const BoardLink& link = m_session.link();
    if (link.holderPid() > 0)
        add(socketOnCommandLine(link.holderPid()));
    add(QDir(m_session.folder()).filePath(QStringLiteral("kelvaro.sock")));
    // The systemd unit's socket is named after the device below /dev.
    const QString device = QFileInfo(link.deviceName()).canonicalFilePath();
    if (device.startsWith(QStringLiteral("/dev/")))
        add(QStringLiteral("/run/kelvaro/%1/kelvaro.sock").arg(device.mid(5)));
    return found;
}

void AttachedBoard::attachTo(const QString& address)
{
    const Outcome<ServiceAddress> parsed = parseServiceAddress(address);
    m_remote = parsed && parsed->overSsh() ? *parsed : ServiceAddress{};
    m_preferred = isRemote() ? address : QFileInfo(address).absoluteFilePath();
    m_retry.setInterval(isRemote() ? RemoteRetryInterval : RetryInterval);
    m_leaving = false;
    if (m_attached || m_client)
        return;
    m_session.setAttached(true); // not the line while the service is asked
    m_toTry = {m_preferred};
    // From the event loop: whoever asked finishes its own start-up first, and hears of
    // a socket that is not there after it.
    QTimer::singleShot(0, this, &AttachedBoard::tryNext);
}

void AttachedBoard::detach()
{
    m_leaving = true;
    m_retry.stop();
    m_takeOver.stop();
    if (m_client) {
        m_client->close();
        m_client.release()->deleteLater();
    }
    if (m_attached) {
        m_attached = false;
        m_session.settingsKeeper().setForward({});
    }
}

void AttachedBoard::onLineProblem()
{
    if (m_leaving || m_attached || m_client)
        return;
    // The socket last used or asked for is tried again; others only while something
    // holds the port.
    if (!m_session.link().heldByOther() && m_preferred.isEmpty() && m_path.isEmpty())
        return;
    m_toTry = candidateSockets();
    if (!m_toTry.isEmpty())
        tryNext();
}

void AttachedBoard::tryNext()
{
    if (m_client)
        m_client.release()->deleteLater();
    if (m_toTry.isEmpty()) {
        // Nobody answers: the line is left alone a while longer, then opened here.
        if (m_session.isAttached() && !m_takeOver.isActive() && !isRemote())
            m_takeOver.start();
        return;
    }
    m_client = std::make_unique<ServiceClient>();
    connect(m_client.get(), &ServiceClient::connected, this, &AttachedBoard::onConnected);
    connect(m_client.get(), &ServiceClient::message, this, &AttachedBoard::onMessage);
    connect(m_client.get(), &ServiceClient::failed, this, &AttachedBoard::onFailed);
    m_client->connectTo(m_toTry.takeFirst());
}

void AttachedBoard::onConnected()
{
    m_path = m_client->path();
    m_program = m_client->hello().value(u"program").toString();
    m_attached = true;
    m_blockSeen = false;
    m_recordSeen = false;
    m_localEdits = false;
    m_toTry.clear();
    m_takeOver.stop();
    m_session.setAttached(true);
    m_session.settingsKeeper().setForward(
        [this](const Settings_Record& before, const Settings_Record& after) {
            return forward(before, after);
        });
    send({{QStringLiteral("type"), QStringLiteral("subscribe")}, {QStringLiteral("record"), true}});
    Q_EMIT attachedChanged(
        true, isRemote() ? QStringLiteral("The line of %1 is kept by %2 there; this window works "
                                          "through ssh (%3).")
                               .arg(remoteLabel(), serviceProgram(), m_path)
                         : QStringLiteral("The line is kept by %1; this window works "
                                          "through its socket %2.")
                               .arg(serviceProgram(), m_path));
}

void AttachedBoard::onFailed(const QString& reason)
{
    if (!m_attached) {
        // The socket asked for at start does not answer: said once, then waited for.
        if (m_client && m_client->path() == m_preferred && m_path.isEmpty() && !m_toldMissing) {
            m_toldMissing = true;
            Q_EMIT attachedChanged(false, waitingText(reason));
        }
        tryNext();
        return;
    }
    m_attached = false;
    m_client.release()->deleteLater();
    SettingsKeeper& keeper = m_session.settingsKeeper();
    keeper.setForward({});
    keeper.load(); // this folder's own settings again, for this window's own line
    if (!isRemote())
        m_takeOver.start();
    if (!m_logFailure.isEmpty()) {
        m_logFailure.clear();
        Q_EMIT logRecovered();
    }
    Q_EMIT settingsAdopted();
    Q_EMIT attachedChanged(false, waitingText(reason));
}

QString AttachedBoard::waitingText(const QString& reason) const
{
    if (isRemote())
        return QStringLiteral("%1. Waiting for the recorder of %2; tried again every %3 s.")
            .arg(reason, remoteLabel())
            .arg(RemoteRetryInterval.count());
    return QStringLiteral("%1. Waiting for the service; if it has not answered within %2 s, "
                          "this window opens the port itself when it is free.")
        .arg(reason)
        .arg(TakeOverAfter.count());
}

void AttachedBoard::onMessage(const QJsonObject& message)
{
    const QString type = message.value(u"type").toString();
    if (type == u"state") {
        onState(message);
    } else if (type == u"record") {
        onRecord(message);
    } else if (type == u"write") {
        if (message.value(u"state").toString() == u"refused")
            Q_EMIT writeRefused(message.value(u"reason").toString());
    } else if (type == u"settings") {
        const QString result = message.value(u"result").toString();
        if (result == u"saved")
            return;
        const bool refused = result == u"refused";
        if (refused && m_recordSeen)
            onRecord({}); // back to what the service holds
        Q_EMIT settingsNotSaved(
            {refused ? SettingsOutcome::Kind::Refused : SettingsOutcome::Kind::NotSaved,
             message.value(u"message").toString()});
    }
}

void AttachedBoard::onState(const QJsonObject& message)
{
    const QJsonArray list = message.value(u"words").toArray();
    if (list.size() != RegisterCount)
        return;
    Words words{};
    for (int k = 0; k < RegisterCount; ++k)
        words[std::size_t(k)] = qint32(list[k].toInteger());
    const Words& before = m_session.state().registers.Reg_Words;
    bool parametersChanged = !m_blockSeen;
    for (int box = 0; box < InputBoxCount; ++box) {
        const auto word = std::size_t(entryBox(box).word);
        parametersChanged = parametersChanged || before[word] != words[word];
    }
    m_blockSeen = true;
    m_session.mirrorBlock(words);
    if (parametersChanged)
        Q_EMIT inputsDue();

    const QJsonObject line = message.value(u"line").toObject();
    Q_EMIT lineStatus(line.value(u"status").toString(), line.value(u"problem").toString());

    const QString failure = message.value(u"log").toObject().value(u"failure").toString();
    if (failure != m_logFailure) {
        const bool newEpisode = m_logFailure.isEmpty();
        m_logFailure = failure;
        if (failure.isEmpty())
            Q_EMIT logRecovered();
        else
            Q_EMIT logFailing(failure, newEpisode);
    }
}

void AttachedBoard::onRecord(const QJsonObject& message)
{
    Settings_Record record = m_serviceRecord;
    if (!message.isEmpty()) {
        record = m_session.state().settings;
        if (!readRecordMessage(message, record))
            return; // the service holds a record its file cannot: keep this one
        m_serviceRecord = record;
        m_recordSeen = true;
    }
    if (m_localEdits) {
        // What this window changed and the service does not take stays in effect here.
        Settings_Record local = m_session.state().settings;
        copyServiceFields(record, local);
        record = local;
    }
    m_session.settingsKeeper().adopt(record);
    Q_EMIT settingsAdopted();
}

SettingsOutcome AttachedBoard::forward(const Settings_Record& before, const Settings_Record& after)
{
    auto request = [](const char* field, const QJsonValue& value) {
        return QJsonObject{{QStringLiteral("type"), QStringLiteral("settings")},
                           {QLatin1String(field), value}};
    };
    const CommunicationSettings communication = SettingsKeeper::communication(after);
    if (SettingsKeeper::communication(before) != communication)
        send(request("communication",
                     QJsonObject{{QStringLiteral("port"), communication.port},
                                 {QStringLiteral("baud"), communication.baud},
                                 {QStringLiteral("rts"), communication.rts},
                                 {QStringLiteral("dtr"), communication.dtr},
                                 {QStringLiteral("timeout"), communication.timeOut}}));
    if (before.Log_NameFormat != after.Log_NameFormat || before.Log_Fields != after.Log_Fields ||
        before.Log_Event != after.Log_Event) {
        QJsonArray fields;
        for (const LooseValue& field : after.Log_Fields)
            fields.append(field.toText());
        send(request("logging",
                     QJsonObject{{QStringLiteral("nameFormat"), after.Log_NameFormat.toText()},
                                 {QStringLiteral("fields"), fields},
                                 {QStringLiteral("event"), after.Log_Event.toText()}}));
    }
    if (before.Log_Active != after.Log_Active)
        send(request("logActive", after.Log_Active.equalsNumber(1)));
    if (before.Use_Fahrenheit != after.Use_Fahrenheit)
        send(request("displayUnit",
                     after.Use_Fahrenheit ? QStringLiteral("F") : QStringLiteral("C")));
    if (before.Show_Direct != after.Show_Direct)
        send(request("showDirect", after.Show_Direct == 1 ? 1 : 0));

    // The rest of the record (reader, calibrations) is the recorder's own business.
    Settings_Record others = after;
    copyServiceFields(m_serviceRecord, others);
    if (!m_recordSeen || others == m_serviceRecord)
        return {};
    m_localEdits = true;
    return {SettingsOutcome::Kind::NotSaved,
            QStringLiteral("The recorder keeps this board's settings and takes only the "
                           "communication, logging and display choices from a window.\nThe "
                           "change is in effect in this window while it stays attached; it is "
                           "not saved.")};
}

void AttachedBoard::writeEntry(int box, const QString& text, const DisplayUnits& units)
{
    send(
        {{QStringLiteral("type"), QStringLiteral("set")},
         {QStringLiteral("box"), box},
         {QStringLiteral("text"), text},
         {QStringLiteral("unit"), units.Use_Fahrenheit ? QStringLiteral("F") : QStringLiteral("C")},
         {QStringLiteral("locale"), units.locale.name()}});
}

void AttachedBoard::reset()
{
    send({{QStringLiteral("type"), QStringLiteral("reset")}});
}

void AttachedBoard::send(QJsonObject request)
{
    if (!m_attached || !m_client)
        return;
    request.insert(u"id", m_nextRequest++);
    m_client->send(request);
}

} // namespace kelvaro::service
