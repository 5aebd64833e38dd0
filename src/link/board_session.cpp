#include "link/board_session.h"

#include "core/event_names.h"
#include "core/field_names.h"
#include "history/trend_buffer.h"
#include "link/settings_check.h"
#include "values/parameter_entry.h"
#include "values/parameter_values.h"

#include <algorithm>

namespace kelvaro {

namespace {
constexpr std::chrono::milliseconds RefreshInterval{2000};
} // namespace

BoardSession::BoardSession(Kelv_Main& state, QString folder, QObject* parent)
    : QObject(parent), m_state(state), m_folder(std::move(folder)),
      m_settingsKeeper(state.settings, m_folder), m_link(state.link, state.registers),
      m_writes(m_link, state.registers)
{
    connect(&m_settingsKeeper, &SettingsKeeper::communicationChanged, this, [this] {
        if (isRunning() && !m_attached)
            applyCommunication();
    });
    // Every change, from whichever door, is held to the check the next start makes. The
    // logging choices are checked as if logging were on, also while it is off: choices
    // saved while it is off would otherwise become a start's refusal the moment it is
    // switched on. A fault the record already holds (a hand-edited file, choices never
    // made) stops no change; a change that brings a new one is refused.
    m_settingsKeeper.setCheck([this](const Settings_Record& record) {
        const QDate today = QDate::currentDate();
        const bool deviceGiven = !m_device.isEmpty();
        QList<SettingsKeeper::Fault> faults;
        const auto add = [&](const Settings_Record& checked) {
            for (const SettingsFinding& finding :
                 checkStartSettings(checked, m_folder, deviceGiven, today, m_ownFiles).faults) {
                if (std::none_of(faults.begin(), faults.end(),
                                 [&](const auto& f) { return f.line == finding.line; }))
                    faults.append({finding.line, findingText(finding)});
            }
        };
        add(record);
        if (!record.Log_Active.equalsNumber(1)) {
            Settings_Record on = record;
            on.Log_Active = LooseValue::number(1);
            add(on);
        }
        return faults;
    });
    m_refreshTimer.setInterval(RefreshInterval);
    connect(&m_refreshTimer, &QTimer::timeout, this, &BoardSession::refreshTick);
}

BoardSession::~BoardSession() = default;

TrendBuffer& BoardSession::keepTrend()
{
    if (!m_trend) {
        m_trend = std::make_unique<TrendBuffer>();
        connect(&m_link, &BoardLink::blockReceived, this, &BoardSession::appendTrend);
    }
    return *m_trend;
}

void BoardSession::appendTrend()
{
    m_trend->append(QDateTime::currentMSecsSinceEpoch(), m_state.registers.Reg_Words);
    Q_EMIT trendAppended();
}

void BoardSession::mirrorBlock(const Words& words)
{
    m_state.registers.Reg_Words = words;
    if (m_trend)
        appendTrend();
}

DisplayUnits BoardSession::displayUnits() const
{
    return {m_state.settings.Use_Fahrenheit, calibrationValue(m_state.settings.Timer_CalValue),
            QLocale()};
}

Outcome<QueuedEntry> BoardSession::writeEntry(int box, const QString& text,
                                              const DisplayUnits& units,
                                              std::chrono::milliseconds timeout)
{
    if (box < 0 || box >= InputBoxCount)
        return failure(
            QStringLiteral("there is no entry box %1 (0 to %2)").arg(box).arg(InputBoxCount - 1));
    const Outcome<ParameterWrite> checked =
        commitEntry(box, text, m_state.registers.Reg_Words, units);
    if (!checked)
        return failure(checked.reason());
    const std::optional<quint64> id = queueWrite(checked->word, checked->value, timeout);
    if (!id)
        return failure(QStringLiteral("the write queue is full; try again"));
    // What the box will show once a block holds the value: the board keeps it rounded
    // (times in two-second ticks), so the writer is told what it will see, not what it typed.
    Words after = m_state.registers.Reg_Words;
    after[std::size_t(checked->word)] = checked->value;
    return QueuedEntry{*id, checked->word, checked->value,
                       inputTexts(after, units)[std::size_t(box)]};
}

std::optional<quint64> BoardSession::queueWrite(int word, qint32 value,
                                                std::chrono::milliseconds timeout)
{
    if (word < 0 || word >= RegisterCount || value < 0 || value > 0xFFFF)
        return std::nullopt;
    return m_writes.enqueue(parameterFrame(qint16(word), value), word, value, timeout);
}

std::optional<quint64> BoardSession::queueReset(std::chrono::milliseconds timeout)
{
    return m_writes.enqueue(ResetFrame, -1, 0, timeout);
}

PortSettings BoardSession::portSettings() const
{
    const Settings_Record& settings = m_state.settings;
    return {settings.Comm_Port, settings.Comm_Baud, settings.Comm_RTS, settings.Comm_DTR, m_device};
}

void BoardSession::start()
{
    m_link.resetFlags();
    Init_Field_Names(m_state.Field_Names);
    Init_Event_Names(m_state.Event_Names);
    m_settingsRead = m_settingsKeeper.load();
    if (!m_attached)
        openLine();
    m_state.link.Inputs_Loaded = false;
    m_refreshTimer.start();
}

void BoardSession::openLine()
{
    m_link.setStallTimeout(std::chrono::seconds(m_state.settings.Comm_TimeOut));
    m_link.open(portSettings(), m_folder);
}

void BoardSession::setAttached(bool attached)
{
    if (attached == m_attached)
        return;
    m_attached = attached;
    m_state.link.Inputs_Loaded = false;
    if (attached)
        m_link.close();
    else if (isRunning())
        openLine();
}

void BoardSession::stop()
{
    m_refreshTimer.stop();
    m_link.close();
}

void BoardSession::applyCommunication()
{
    m_link.setStallTimeout(std::chrono::seconds(m_state.settings.Comm_TimeOut));
    m_link.reopen(portSettings(), m_folder);
}

void BoardSession::refreshTick()
{
    Q_EMIT refresh();
    if (m_attached || !loggingDue(m_state.settings, m_state.link.Inputs_Loaded))
        return;
    QDateTime passTime;
    const LogPass pass = LogTick(m_state, m_folder, [this, &passTime] {
        passTime = m_clock();
        return passTime;
    });
    if (pass.wrote) {
        m_lastLogWrite = passTime;
        endLogFailureEpisode();
    } else if (!pass.result) {
        const bool newEpisode = m_logFailure.isEmpty();
        m_logFailure = pass.result.reason();
        Q_EMIT logFailing(m_logFailure, newEpisode);
    }
}

void BoardSession::endLogFailureEpisode()
{
    if (m_logFailure.isEmpty())
        return;
    m_logFailure.clear();
    Q_EMIT logRecovered();
}

} // namespace kelvaro
