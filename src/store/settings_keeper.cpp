#include "store/settings_keeper.h"

#include "store/settings_file.h"

#include <algorithm>

namespace kelvaro {

namespace {

const QString KeptInEffect =
    QStringLiteral("The change stays in effect and is saved with the next successful save.");

// What the operator does about a value an edited Settings.txt brought in.
QString correction(const SettingsProblem& problem)
{
    if (problem.correctIn.isEmpty())
        return QStringLiteral("Correct line %1 of %2 with a text editor while the program is "
                              "closed.")
            .arg(problem.line)
            .arg(SettingsFileName);
    return QStringLiteral("Correct it in %1.").arg(problem.correctIn);
}

} // namespace

SettingsKeeper::SettingsKeeper(Settings_Record& record, QString folder, QObject* parent)
    : QObject(parent), m_record(record), m_folder(std::move(folder))
{
}

SettingsRead SettingsKeeper::load()
{
    const SettingsRead read = readSettingsFile(m_record, m_folder);
    Q_EMIT changed();
    return read;
}

CommunicationSettings SettingsKeeper::communication(const Settings_Record& record)
{
    return {record.Comm_Port, record.Comm_Baud, record.Comm_RTS, record.Comm_DTR,
            record.Comm_TimeOut};
}

SettingsOutcome SettingsKeeper::change(const std::function<void(Settings_Record&)>& edit, Save save)
{
    Settings_Record next = m_record;
    edit(next);

    // A value that cannot be written is refused when this change brings it; one that was
    // already held (from a hand-edited file) does not stop the change, only the save.
    const QList<SettingsProblem> held = settingsProblems(m_record);
    const QList<SettingsProblem> problems = settingsProblems(next);
    for (const SettingsProblem& problem : problems) {
        const bool old = std::any_of(held.begin(), held.end(), [&](const SettingsProblem& p) {
            return p.line == problem.line && p.value == problem.value;
        });
        if (!old)
            return {SettingsOutcome::Kind::Refused,
                    QStringLiteral("%1\nNothing was changed: correct the value and try again.")
                        .arg(problem.reason)};
    }

    if (m_check) {
        const QList<Fault> before = m_check(m_record);
        for (const Fault& fault : m_check(next)) {
            const bool lineAtFault = std::any_of(
                before.begin(), before.end(), [&](const Fault& f) { return f.line == fault.line; });
            if (!lineAtFault)
                return {SettingsOutcome::Kind::Refused,
                        QStringLiteral("%1\nNothing was changed: correct the value and try "
                                       "again.")
                            .arg(fault.text)};
        }
    }

    SettingsOutcome outcome;
    if (m_forward && save == Save::Now) {
        outcome = m_forward(m_record, next);
        if (!outcome.applied())
            return outcome;
    } else if (save == Save::Now) {
        if (!problems.isEmpty()) {
            const SettingsProblem& first = problems.constFirst();
            outcome = {SettingsOutcome::Kind::NotSaved,
                       QStringLiteral("%1 %2\nThe settings were not saved. %3")
                           .arg(first.reason, correction(first), KeptInEffect)};
        } else if (const FileResult saved = SaveSettings(next, m_folder); !saved) {
            outcome = {SettingsOutcome::Kind::NotSaved,
                       QStringLiteral("%1\n%2").arg(saved.reason(), KeptInEffect)};
        }
    }

    take(next);
    return outcome;
}

void SettingsKeeper::adopt(const Settings_Record& record)
{
    take(record);
}

void SettingsKeeper::take(const Settings_Record& next)
{
    const CommunicationSettings before = communication(m_record);
    m_record = next;
    Q_EMIT changed();
    const CommunicationSettings now = communication(m_record);
    if (now != before)
        Q_EMIT communicationChanged(before, now);
}

SettingsOutcome SettingsKeeper::setCommunication(const CommunicationSettings& values)
{
    return change([&](Settings_Record& r) {
        r.Comm_Port = values.port;
        r.Comm_Baud = values.baud;
        r.Comm_RTS = values.rts;
        r.Comm_DTR = values.dtr;
        r.Comm_TimeOut = values.timeOut;
    });
}

SettingsOutcome SettingsKeeper::setLogging(const LoggingChoices& choices)
{
    return change([&](Settings_Record& r) {
        r.Log_NameFormat = LooseValue::text(choices.nameFormat);
        for (int i = 0; i < LogFieldCount; ++i)
            r.Log_Fields[i] = LooseValue::text(choices.fields[i]);
        r.Log_Event = LooseValue::text(choices.event);
    });
}

SettingsOutcome SettingsKeeper::setTimers(const TimerSettings& values)
{
    return change([&](Settings_Record& r) {
        r.Timer_CalValue = LooseValue::number(values.calValue);
        r.Timer_SetTimeOn = LooseValue::number(values.setTimeOn);
        r.Timer_ActTimeOn = values.actTimeOn;
    });
}

SettingsOutcome SettingsKeeper::setFahrenheit(bool on)
{
    return change([&](Settings_Record& r) { r.Use_Fahrenheit = on; });
}

SettingsOutcome SettingsKeeper::setShowDirect(qint16 value)
{
    return change([&](Settings_Record& r) { r.Show_Direct = value; });
}

SettingsOutcome SettingsKeeper::setLogActive(const LooseValue& value)
{
    return change([&](Settings_Record& r) { r.Log_Active = value; });
}

SettingsOutcome SettingsKeeper::setReaderPath(const QString& path)
{
    return change([&](Settings_Record& r) { r.Acrobat_Path = path; });
}

void SettingsKeeper::applyThermistor(const ThermistorSettings& values)
{
    // Finite numbers only reach here (the calculation refuses anything else); a value the
    // file cannot hold would be refused like any other.
    change(
        [&](Settings_Record& r) {
            r.Ntc_T0 = values.T0;
            r.Ntc_R0 = LooseValue::number(values.R0);
            r.Ntc_MinTH = LooseValue::number(values.MinTH);
            r.Ntc_MaxTH = values.MaxTH;
            r.Ntc_R25 = LooseValue::number(values.R25);
            r.Ntc_B = LooseValue::number(values.B);
        },
        Save::Later);
}

SettingsOutcome SettingsKeeper::save()
{
    return change([](Settings_Record&) {});
}

} // namespace kelvaro
