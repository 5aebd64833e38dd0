// One pass of the recorder, and the logging switch of the menu and status bar.
#include "logging/log_recorder.h"

namespace kelvaro {

QDateTime systemClock()
{
    return QDateTime::currentDateTime();
}

QString FieldValueText(const Kelv_Main& state, const QString& fieldName)
{
    if (fieldName.isEmpty())
        return {};
    const std::optional<FieldPosition> position = fieldPosition(state.Field_Names, fieldName);
    if (!position)
        return {};
    return QString::number(fieldValue(*position, state.registers.Reg_Words) & 0xFFFF);
}

LogPass LogTick(Kelv_Main& state, const QString& folder, const Clock& clock)
{
    const Settings_Record& settings = state.settings;
    RecorderState& recorder = state.recorder;

    // One reading for the date and the time (see the header).
    const QDateTime now = clock ? clock() : systemClock();
    const QDate date = now.date();
    const QTime time = now.time();
    const QString pattern = settings.Log_NameFormat.toText();
    Outcome<QString> fileName = failure(QStringLiteral("The clock gave no valid date and time."));
    if (now.isValid()) {
        fileName = logFileName(pattern, date);
        if (!fileName)
            fileName = failure(QStringLiteral("The log file name pattern \"%1\" does not make a "
                                              "usable file name: %2.")
                                   .arg(pattern, fileName.reason()));
    }

    QString line =
        formatLogDate(pattern, date) % QLatin1Char(',') % formatLogTime(time) % QLatin1Char(',');

    recorder.Fields_Changed = false;
    for (int box = 0; box < LogFieldCount; ++box) {
        const QString value = FieldValueText(state, settings.Log_Fields[box].toText());
        if (value.isEmpty())
            break; // the first empty box ends the list; later boxes are neither logged nor compared
        line += value % QLatin1Char(',');
        if (!recorder.Prev_FieldValues[box].equalsText(value))
            recorder.Fields_Changed = true;
        recorder.Prev_FieldValues[box] = LooseValue::text(value);
    }

    // Counter and average are tracked in every pass, whatever the event and the boxes,
    // so the change flags always describe the change since the previous pass.
    const QString counter = FieldValueText(state, state.Field_Names[FieldCounter]);
    recorder.Counter_Changed = counter != recorder.Prev_Counter;
    recorder.Prev_Counter = counter;

    const QString average = FieldValueText(state, state.Field_Names[FieldAverage]);
    recorder.Average_Changed = !recorder.Prev_Average.equalsText(average);
    recorder.Prev_Average = LooseValue::text(average);

    // Only a text can name an event; an empty one never matches, even a table that was
    // never filled.
    const QString event = settings.Log_Event.isText() ? settings.Log_Event.toText() : QString();
    bool due = false;
    if (!event.isEmpty()) {
        const bool changed[EventNameCount] = {false, recorder.Counter_Changed,
                                              recorder.Fields_Changed, recorder.Average_Changed};
        for (int e = EventNone; e < EventNameCount; ++e) {
            if (state.Event_Names[e] == event)
                due = changed[e];
        }
    }

    LogPass pass;
    if (!due)
        return pass;
    if (!fileName) {
        pass.result = failure(fileName.reason());
        return pass;
    }
    pass.result = AppendLogLine(folder, fileName.value(), line);
    pass.wrote = bool(pass.result);
    return pass;
}

LogSwitch loggingAtStartup(const Settings_Record& settings)
{
    if (settings.Log_Active.equalsNumber(1))
        return {true, LogStatusActivate};
    return {false, LogStatusDisable};
}

LogSwitch toggleLogging(Settings_Record& settings)
{
    // Decided by "is it on", the same test the start-up and the refresh tick use, so a
    // stray value (2, a text) that shows as off is switched on by the first click.
    if (!settings.Log_Active.equalsNumber(1)) {
        settings.Log_Active = LooseValue::number(1);
        return {true, LogStatusActive};
    }
    settings.Log_Active = LooseValue::number(0);
    return {false, LogStatusDisable};
}

bool loggingDue(const Settings_Record& settings, bool Inputs_Loaded)
{
    return Inputs_Loaded && settings.Log_Active.equalsNumber(1);
}

} // namespace kelvaro
