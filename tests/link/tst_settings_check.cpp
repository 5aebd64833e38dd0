// The one check of the settings: what a start refuses, a change from any door is refused
// with the same words and leaves the record and Settings.txt as they were; the log file
// name can never name one of the program's own files.

#include "link/board_session.h"
#include "link/settings_check.h"
#include "store/settings_file.h"
#include "support/working_settings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvaro;
using kelvaro::test::workingSettings;

namespace {

LoggingChoices choicesOf(const Settings_Record& r)
{
    LoggingChoices choices{r.Log_NameFormat.toText(), {}, r.Log_Event.toText()};
    for (int i = 0; i < LogFieldCount; ++i)
        choices.fields[std::size_t(i)] = r.Log_Fields[i].toText();
    return choices;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestSettingsCheck : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void loggingChoices_data();
    void loggingChoices();
    void idleLogging_data();
    void idleLogging();
    void heldFault_doesNotBlockAnotherChange();
    void loggingOff_choicesCheckedAllTheSame();
};

void TestSettingsCheck::loggingChoices_data()
{
    QTest::addColumn<QString>("nameFormat");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("fault"); // the start's words; empty: taken and saved
    const QString name = QStringLiteral("DD-MM-YYYY");
    const QString temperature = QStringLiteral("Actual Temperature (i16)");
    const QString counter = QStringLiteral("On Counter Change");
    QTest::newRow("working choices") << name << temperature << counter << QString();
    QTest::newRow("unknown event")
        << name << temperature << QStringLiteral("On Tuesday")
        << QStringLiteral("Settings.txt line 31: the logging event \"On Tuesday\" is not one "
                          "the program knows");
    QTest::newRow("unknown field")
        << name << QStringLiteral("Bogus field") << counter
        << QStringLiteral("Settings.txt line 21: logged field 1 \"Bogus field\" is not one the "
                          "program knows");
    QTest::newRow("empty name format")
        << QString() << temperature << counter
        << QStringLiteral("Settings.txt line 20: the log file-name format \"\" makes no usable "
                          "file name: the pattern is empty");
    QTest::newRow("NUL in the name format, shown escaped")
        << QStringLiteral("DD%1MM").arg(QChar(0)) << temperature << counter
        << QStringLiteral("Settings.txt line 20: the log file-name format \"DD\\x00MM\" makes "
                          "no usable file name: it contains a control character");
    QTest::newRow("the settings file")
        << QStringLiteral("Settings") << temperature << counter
        << QStringLiteral("Settings.txt line 20: the log file-name format \"Settings\" makes no "
                          "usable file name: it names the program's own file Settings.txt");
    QTest::newRow("the parameter file, another case")
        << QStringLiteral("parameters") << temperature << counter
        << QStringLiteral("Settings.txt line 20: the log file-name format \"parameters\" makes "
                          "no usable file name: it names the program's own file "
                          "Parameters.txt");
    QTest::newRow("the metrics file")
        << QStringLiteral("metrics") << temperature << counter
        << QStringLiteral("Settings.txt line 20: the log file-name format \"metrics\" makes no "
                          "usable file name: it names the program's own file metrics.txt");
    QTest::newRow("a name some day's log would give the metrics file")
        << QStringLiteral("YYYY-MM-DD") << temperature << counter
        << QStringLiteral("Settings.txt line 20: the log file-name format \"YYYY-MM-DD\" makes "
                          "no usable file name: it names the program's own file "
                          "2031-01-01.txt");
}

// Through the session's settings owner, as the socket, an attached window and the
// window's dialogs all reach it.
void TestSettingsCheck::loggingChoices()
{
    QFETCH(QString, nameFormat);
    QFETCH(QString, field);
    QFETCH(QString, event);
    QFETCH(QString, fault);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Kelv_Main state;
    state.settings = workingSettings();
    QVERIFY(SaveSettings(state.settings, dir.path()));
    const QByteArray fileBefore = fileBytes(dir.filePath(SettingsFileName));
    BoardSession session(state, dir.path());
    session.setOwnFiles({QStringLiteral("metrics.txt"), QStringLiteral("2031-01-01.txt")});

    LoggingChoices choices = choicesOf(state.settings);
    choices.nameFormat = nameFormat;
    choices.fields[0] = field;
    choices.event = event;
    const Settings_Record before = state.settings;
    const SettingsOutcome outcome = session.settingsKeeper().setLogging(choices);
    if (fault.isEmpty()) {
        QVERIFY2(outcome, qPrintable(outcome.message));
        return;
    }
    QCOMPARE(outcome.kind, SettingsOutcome::Kind::Refused);
    QCOMPARE(outcome.message.section(u'\n', 0, 0), fault);
    QCOMPARE(state.settings, before);
    QCOMPARE(fileBytes(dir.filePath(SettingsFileName)), fileBefore);

    // The next start would refuse the same record with the same words.
    Settings_Record refused = before;
    refused.Log_NameFormat = LooseValue::text(nameFormat);
    refused.Log_Fields[0] = LooseValue::text(field);
    refused.Log_Event = LooseValue::text(event);
    QStringList faults;
    for (const SettingsFinding& finding :
         checkStartSettings(refused, dir.path(), false, QDate::currentDate(), session.ownFiles())
             .faults)
        faults.append(findingText(finding));
    QVERIFY(faults.contains(fault));
}

void TestSettingsCheck::idleLogging_data()
{
    QTest::addColumn<int>("active");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("reason");
    const QString temperature = QStringLiteral("Actual Temperature (i16)");
    QTest::newRow("writes values") << 1 << temperature << "On Counter Change" << QString();
    QTest::newRow("off") << 0 << "None"
                         << "None" << QString();
    QTest::newRow("no field")
        << 1 << "None"
        << "On Counter Change"
        << "no field is chosen for logging: log lines hold only the date and the time";
    QTest::newRow("event None") << 1 << temperature << "None"
                                << "the logging event is \"None\": no log line is ever written";
}

void TestSettingsCheck::idleLogging()
{
    QFETCH(int, active);
    QFETCH(QString, field);
    QFETCH(QString, event);
    QFETCH(QString, reason);
    Settings_Record r = workingSettings();
    r.Log_Active = LooseValue::number(active);
    r.Log_Fields[0] = LooseValue::text(field);
    r.Log_Fields[1] = LooseValue::text(QStringLiteral("None"));
    r.Log_Event = LooseValue::text(event);
    QCOMPARE(idleLoggingReason(r).value_or(QString()), reason);
}

// A fault an edited Settings.txt brought in stays the operator's to correct; it does not
// stop an unrelated change, which is checked on its own.
void TestSettingsCheck::heldFault_doesNotBlockAnotherChange()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Kelv_Main state;
    state.settings = workingSettings();
    state.settings.Log_Event = LooseValue::text(QStringLiteral("On Tuesday"));
    BoardSession session(state, dir.path());
    QCOMPARE(session.settingsKeeper().setFahrenheit(true).kind, SettingsOutcome::Kind::Saved);
    QVERIFY(state.settings.Use_Fahrenheit);
    LoggingChoices choices = choicesOf(state.settings);
    choices.nameFormat = QStringLiteral("Settings");
    QCOMPARE(session.settingsKeeper().setLogging(choices).kind, SettingsOutcome::Kind::Refused);
}

// Choices saved while logging is off would stop the next start once it is switched on,
// so they are checked all the same; switching on choices never made is the operator's.
void TestSettingsCheck::loggingOff_choicesCheckedAllTheSame()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Kelv_Main state;
    state.settings = workingSettings();
    state.settings.Log_Active = LooseValue::number(0);
    BoardSession session(state, dir.path());
    LoggingChoices choices = choicesOf(state.settings);
    choices.event = QStringLiteral("On Tuesday");
    QCOMPARE(session.settingsKeeper().setLogging(choices).kind, SettingsOutcome::Kind::Refused);

    Kelv_Main fresh; // no logging choices at all, as a new Settings.txt has them
    BoardSession window(fresh, dir.path());
    QVERIFY(window.settingsKeeper().setLogActive(LooseValue::number(1)));
    QVERIFY(fresh.settings.Log_Active.equalsNumber(1));
}

QTEST_GUILESS_MAIN(TestSettingsCheck)
#include "tst_settings_check.moc"
