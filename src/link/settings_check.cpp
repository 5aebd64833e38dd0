#include "link/settings_check.h"

#include "core/event_names.h"
#include "core/field_names.h"
#include "core/printable_text.h"
#include "history/log_files.h"
#include "link/port_naming.h"
#include "link/serial_port.h"
#include "logging/log_recorder.h"
#include "store/settings_file.h"

#include <algorithm>

namespace kelvaro {

namespace {

// Lines of Settings.txt (from 1) of the values checked here.
constexpr int PortLine = 2;
constexpr int BaudLine = 3;
constexpr int NameFormatLine = 20;
constexpr int FirstFieldLine = 21;
constexpr int EventLine = 31;

QString looseText(const LooseValue& value)
{
    if (value.isUnset())
        return QStringLiteral("empty");
    if (value.isNumber())
        return plainNumberText(value.toNumber());
    return QLatin1Char('"') + printableText(value.toText()) + QLatin1Char('"');
}

// A name of `names` equal to `name` but for case: what the operator most likely meant.
QString sameButCase(const auto& names, const QString& name)
{
    const auto found = std::find_if(names.begin(), names.end(), [&](const QString& known) {
        return known.compare(name, Qt::CaseInsensitive) == 0;
    });
    return found == names.end() ? QString() : *found;
}

QString unknownName(const QString& what, const LooseValue& value, const auto& names)
{
    QString text = QStringLiteral("%1 %2 is not one the program knows").arg(what, looseText(value));
    if (value.isText()) {
        if (const QString meant = sameButCase(names, value.toText()); !meant.isEmpty())
            text += QStringLiteral(" (names are case-sensitive: \"%1\")").arg(meant);
    }
    return text;
}

void checkLogging(const Settings_Record& settings, const QDate& today, const QStringList& ownFiles,
                  StartSettingsCheck& check)
{
    FieldNameTable fields;
    Init_Field_Names(fields);
    EventNameTable events;
    Init_Event_Names(events);

    const QString pattern = settings.Log_NameFormat.toText();
    Outcome<QString> fileName = logFileName(pattern, today);
    // Another file of the program is refused whether today's name or some other day's
    // would hit it.
    for (const QString& own : ownFiles) {
        if (fileName &&
            (fileName->compare(own, Qt::CaseInsensitive) == 0 || logDateFromFileName(pattern, own)))
            fileName = failure(QStringLiteral("it names the program's own file %1").arg(own));
    }
    if (!fileName)
        check.faults.append({NameFormatLine, QStringLiteral("the log file-name format \"%1\" "
                                                            "makes no usable file name: %2")
                                                 .arg(printableText(pattern), fileName.reason())});

    int logged = 0;
    bool listEnded = false;
    for (int box = 0; box < LogFieldCount; ++box) {
        const LooseValue& field = settings.Log_Fields[box];
        const QString name = field.isText() ? field.toText() : QString();
        // An empty text is an empty box, as the log recorder reads it.
        const bool empty = field.isUnset() || name.isEmpty() || name == fields[FieldNone];
        if (!empty && !fieldPosition(fields, name)) {
            check.faults.append(
                {FirstFieldLine + box,
                 unknownName(QStringLiteral("logged field %1").arg(box + 1), field, fields)});
        } else if (empty) {
            listEnded = true;
        } else if (listEnded) {
            // The first empty box ends the list.
            check.notes.append({FirstFieldLine + box,
                                QStringLiteral("logged field %1 follows an empty field and is "
                                               "not logged")
                                    .arg(box + 1)});
        } else {
            ++logged;
        }
    }

    const LooseValue& event = settings.Log_Event;
    const bool knownEvent =
        event.isText() && std::find(events.begin(), events.end(), event.toText()) != events.end();
    if (!knownEvent)
        check.faults.append(
            {EventLine, unknownName(QStringLiteral("the logging event"), event, events)});
    else if (event.toText() == events[EventNone])
        check.notes.append({EventLine, QStringLiteral("the logging event is \"%1\": no log line "
                                                      "is ever written")
                                           .arg(events[EventNone])});
    if (logged == 0 && (!knownEvent || event.toText() != events[EventNone]))
        check.notes.append({FirstFieldLine, QStringLiteral("no field is chosen for logging: log "
                                                           "lines hold only the date and the "
                                                           "time")});
}

} // namespace

StartSettingsCheck checkStartSettings(const Settings_Record& settings, const QString& folder,
                                      bool deviceGiven, const QDate& today,
                                      const QStringList& ownFiles)
{
    StartSettingsCheck check;
    if (!deviceGiven && portDeviceName(settings.Comm_Port, folder).isEmpty())
        check.faults.append({PortLine, QStringLiteral("port %1 names no serial device (ports "
                                                      "1-96, or a link comN in the folder)")
                                           .arg(settings.Comm_Port)});
    if (!baudFromLineSettings(lineSettingsText(settings.Comm_Baud)))
        check.faults.append(
            {BaudLine, QStringLiteral("baud rate %1 is not usable").arg(settings.Comm_Baud)});

    const LooseValue& active = settings.Log_Active;
    if (active.equalsNumber(1))
        checkLogging(settings, today, ownFiles, check);
    else if (active.isUnset() || active.equalsNumber(0))
        check.notes.append({LogActiveLine, QStringLiteral("logging is off: no log line is "
                                                          "written")});
    else
        check.faults.append({LogActiveLine, QStringLiteral("the logging switch is %1; 1 is on, "
                                                           "0 is off")
                                                .arg(looseText(active))});
    std::sort(check.faults.begin(), check.faults.end(),
              [](const SettingsFinding& a, const SettingsFinding& b) { return a.line < b.line; });
    return check;
}

std::optional<QString> idleLoggingReason(const Settings_Record& settings)
{
    if (!settings.Log_Active.equalsNumber(1))
        return std::nullopt;
    StartSettingsCheck check;
    checkLogging(settings, QDate::currentDate(), {}, check);
    for (const SettingsFinding& note : check.notes) {
        if (note.line == EventLine || note.line == FirstFieldLine)
            return note.text;
    }
    return std::nullopt;
}

QString findingText(const SettingsFinding& finding)
{
    return QStringLiteral("%1 line %2: %3")
        .arg(SettingsFileName)
        .arg(finding.line)
        .arg(finding.text);
}

} // namespace kelvaro
