#pragma once
// The one owner of the settings record: dialogs and menu entries hand it plain values, it
// checks them on a copy, saves the copy to Settings.txt and only then takes it into the
// record. A value Settings.txt cannot hold never reaches the record.

#include "core/settings_record.h"
#include "store/settings_file.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>

namespace kelvaro {

// The communication dialog's values.
struct CommunicationSettings
{
    qint16 port = 0;
    qint32 baud = 0;
    bool rts = false;
    bool dtr = false;
    qint16 timeOut = 0;
    bool operator==(const CommunicationSettings&) const = default;
};

// The logging dialog's values, each as the text its box shows.
struct LoggingChoices
{
    QString nameFormat;
    std::array<QString, LogFieldCount> fields{};
    QString event;
    bool operator==(const LoggingChoices&) const = default;
};

// The six values a thermistor calibration was calculated from.
struct ThermistorSettings
{
    double T0 = 0;
    double R0 = 0;
    double MinTH = 0;
    double MaxTH = 0;
    double R25 = 0;
    double B = 0;
};

// The timer calibration: the calculation value and the test's two times in board seconds.
struct TimerSettings
{
    qint32 calValue = 0;
    qint32 setTimeOn = 0;
    qint32 actTimeOn = 0;
};

// What became of a change.
struct SettingsOutcome
{
    enum class Kind
    {
        Saved,    // in the record and in Settings.txt
        NotSaved, // in the record for this run; Settings.txt could not be written
        Refused   // a value Settings.txt cannot hold: the record is unchanged
    };
    Kind kind = Kind::Saved;
    QString message; // for the operator when not saved: what happened and what to do

    explicit operator bool() const { return kind == Kind::Saved; }
    bool applied() const { return kind != Kind::Refused; }
};

class SettingsKeeper : public QObject
{
    Q_OBJECT
public:
    // `record` is the program's settings record; `folder` holds Settings.txt.
    SettingsKeeper(Settings_Record& record, QString folder, QObject* parent = nullptr);

    const Settings_Record& settings() const { return m_record; }
    const QString& folder() const { return m_folder; }

    // Reads Settings.txt into the record (see LoadSettings) and says how the read ended.
    SettingsRead load();

    // Each of these changes its values and saves the whole record. A new value that
    // Settings.txt cannot hold is refused and changes nothing. When the record can be
    // changed but not saved (a folder that cannot be written, a full disk, or an
    // unwritable value that an edited file brought in and that the change does not
    // correct), the change stays in effect for this run and is saved with the next
    // successful save, so nothing the operator chose is lost.
    SettingsOutcome setCommunication(const CommunicationSettings& values);
    SettingsOutcome setLogging(const LoggingChoices& choices);
    SettingsOutcome setTimers(const TimerSettings& values);
    SettingsOutcome setFahrenheit(bool on);
    SettingsOutcome setShowDirect(qint16 value);
    SettingsOutcome setLogActive(const LooseValue& value);
    SettingsOutcome setReaderPath(const QString& path);
    // A calibration takes effect in memory at once; Ok saves it with save().
    void applyThermistor(const ThermistorSettings& values);
    // Saves the record as it is.
    SettingsOutcome save();

    static CommunicationSettings communication(const Settings_Record& record);

    // Another process keeps Settings.txt (a window attached to the recorder): a change that
    // passes the checks goes to `forward` instead of the file, and is taken into the record
    // when the outcome says it applies. An empty function saves to the file again.
    using Forward =
        std::function<SettingsOutcome(const Settings_Record& before, const Settings_Record& after)>;
    void setForward(Forward forward) { m_forward = std::move(forward); }
    // The check a start makes of the settings: the faults it finds in a record, each with
    // its line in Settings.txt and the words the start would refuse it with. A change that
    // brings a fault on a line that had none is refused with those words and changes
    // nothing, so that no door to the settings can save what would keep the next start
    // from working. A line already at fault (a hand-edited file, choices never made) stops
    // no change.
    struct Fault
    {
        int line = 0;
        QString text;
    };
    using Check = std::function<QList<Fault>(const Settings_Record& record)>;
    void setCheck(Check check) { m_check = std::move(check); }
    // Takes the record the keeper of Settings.txt holds now, without saving it.
    void adopt(const Settings_Record& record);

Q_SIGNALS:
    // The record changed (saved or not).
    void changed();
    // The communication values changed; the line is to be reopened with `now`.
    void communicationChanged(const kelvaro::CommunicationSettings& old,
                              const kelvaro::CommunicationSettings& now);

private:
    enum class Save
    {
        Now,
        Later
    };
    SettingsOutcome change(const std::function<void(Settings_Record&)>& edit,
                           Save save = Save::Now);
    void take(const Settings_Record& next);

    Settings_Record& m_record;
    QString m_folder;
    Forward m_forward;
    Check m_check;
};

} // namespace kelvaro
