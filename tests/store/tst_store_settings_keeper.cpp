// The settings owner: a refused value never reaches the record or the file, a save that
// fails on the disk keeps the change in effect, and every failure is told once.

#include "store/settings_file.h"
#include "store/settings_keeper.h"
#include "store/test_files.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

using namespace kelvaro;
using namespace kelvaro::test;
using namespace Qt::StringLiterals;

namespace {

using Change = std::function<SettingsOutcome(SettingsKeeper&)>;

Settings_Record sample()
{
    Settings_Record r;
    r.Comm_Port = 1;
    r.Comm_Baud = 9600;
    r.Log_NameFormat = LooseValue::text(u"DD-MM-YYYY"_s);
    r.Acrobat_Path = u"/usr/bin/okular"_s;
    return r;
}

LoggingChoices fieldOne(const QString& text)
{
    LoggingChoices choices;
    choices.nameFormat = u"DD-MM-YYYY"_s;
    choices.fields.fill(u"None"_s);
    choices.fields[0] = text;
    choices.event = u"On Counter Change"_s;
    return choices;
}

} // namespace

Q_DECLARE_METATYPE(Change)

class TestSettingsKeeper : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void refusedValue_leavesRecordAndFile_data();
    void refusedValue_leavesRecordAndFile();
    void refusal_doesNotPoisonTheNextSave();
    void valueFromAnEditedFile_blocksOnlyTheSave_andIsCorrectable();
    void diskFailure_keepsTheChangeInEffect();
    void communicationChange_signalledWithOldAndNew();
};

void TestSettingsKeeper::refusedValue_leavesRecordAndFile_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("named");
    QTest::newRow("double quote in a logged field")
        << Change([](SettingsKeeper& k) { return k.setLogging(fieldOne(u"Relay \"A\""_s)); })
        << u"logged field 1"_s;
    QTest::newRow("line break in the event") << Change([](SettingsKeeper& k) {
        LoggingChoices c = fieldOne(u"None"_s);
        c.event = u"On\nCounter"_s;
        return k.setLogging(c);
    }) << u"logging event"_s;
    QTest::newRow("double quote in the reader path")
        << Change([](SettingsKeeper& k) { return k.setReaderPath(u"/opt/\"r\""_s); })
        << u"reader path"_s;
}

void TestSettingsKeeper::refusedValue_leavesRecordAndFile()
{
    QFETCH(Change, change);
    QFETCH(QString, named);
    QTemporaryDir dir;
    Settings_Record record = sample();
    QVERIFY(SaveSettings(record, dir.path()));
    const QByteArray before = readBytes(dir.filePath(SettingsFileName));
    SettingsKeeper keeper(record, dir.path());
    QSignalSpy changed(&keeper, &SettingsKeeper::changed);

    const SettingsOutcome outcome = change(keeper);
    QCOMPARE(outcome.kind, SettingsOutcome::Kind::Refused);
    QVERIFY(!outcome.applied());
    QVERIFY2(outcome.message.contains(named), qPrintable(outcome.message));
    QCOMPARE(record, sample());
    QCOMPARE(readBytes(dir.filePath(SettingsFileName)), before);
    QCOMPARE(changed.size(), 0);
}

void TestSettingsKeeper::refusal_doesNotPoisonTheNextSave()
{
    QTemporaryDir dir;
    Settings_Record record = sample();
    SettingsKeeper keeper(record, dir.path());
    QVERIFY(!keeper.setLogging(fieldOne(u"Relay \"A\""_s)).applied());
    const SettingsOutcome outcome = keeper.setFahrenheit(true);
    QVERIFY2(outcome, qPrintable(outcome.message));
    Settings_Record saved;
    QVERIFY(LoadSettings(saved, dir.path()));
    QVERIFY(saved.Use_Fahrenheit);
    QCOMPARE(saved.Log_Fields[0], LooseValue());
}

void TestSettingsKeeper::valueFromAnEditedFile_blocksOnlyTheSave_andIsCorrectable()
{
    QTemporaryDir dir;
    Settings_Record record = sample();
    record.Log_Fields[0] = LooseValue::text(u"Relay\"A"_s); // a bare item a hand edit left
    SettingsKeeper keeper(record, dir.path());

    const SettingsOutcome unit = keeper.setFahrenheit(true);
    QCOMPARE(unit.kind, SettingsOutcome::Kind::NotSaved);
    QVERIFY(record.Use_Fahrenheit); // the operator's choice is in effect
    QVERIFY2(unit.message.contains(u"logged field 1"_s), qPrintable(unit.message));
    QVERIFY2(unit.message.contains(u"Logging, Settings"_s), qPrintable(unit.message));
    QCOMPARE(unit.message.count(u"not saved"_s), 1);
    QVERIFY(!QFile::exists(dir.filePath(SettingsFileName)));

    // Another quoted text in the same box is still a new value, and refused.
    QVERIFY(!keeper.setLogging(fieldOne(u"Relay\"B"_s)).applied());
    QCOMPARE(record.Log_Fields[0], LooseValue::text(u"Relay\"A"_s));

    // The window that shows the value corrects it, and everything is saved.
    const SettingsOutcome fixed = keeper.setLogging(fieldOne(u"Relay Status (h08)"_s));
    QVERIFY2(fixed, qPrintable(fixed.message));
    Settings_Record saved;
    QVERIFY(LoadSettings(saved, dir.path()));
    QVERIFY(saved.Use_Fahrenheit);
    QCOMPARE(saved.Log_Fields[0], LooseValue::text(u"Relay Status (h08)"_s));
}

void TestSettingsKeeper::diskFailure_keepsTheChangeInEffect()
{
    QTemporaryDir dir;
    Settings_Record record = sample();
    SettingsKeeper keeper(record, dir.filePath(u"missing"_s));
    QSignalSpy changed(&keeper, &SettingsKeeper::changed);
    const SettingsOutcome outcome = keeper.setShowDirect(1);
    QCOMPARE(outcome.kind, SettingsOutcome::Kind::NotSaved);
    QVERIFY(outcome.applied());
    QCOMPARE(record.Show_Direct, qint16(1));
    QCOMPARE(changed.size(), 1);
    QVERIFY2(outcome.message.contains(SettingsFileName), qPrintable(outcome.message));
    QVERIFY2(outcome.message.contains(u"next successful save"_s), qPrintable(outcome.message));
}

void TestSettingsKeeper::communicationChange_signalledWithOldAndNew()
{
    QTemporaryDir dir;
    Settings_Record record = sample();
    SettingsKeeper keeper(record, dir.path());
    QSignalSpy line(&keeper, &SettingsKeeper::communicationChanged);
    QVERIFY(keeper.setFahrenheit(true));
    QCOMPARE(line.size(), 0);
    const CommunicationSettings now{7, 19200, true, false, 3};
    QVERIFY(keeper.setCommunication(now));
    QCOMPARE(line.size(), 1);
    QCOMPARE(line[0][0].value<CommunicationSettings>(), (CommunicationSettings{1, 9600}));
    QCOMPARE(line[0][1].value<CommunicationSettings>(), now);
    QVERIFY(keeper.setCommunication(now));
    QCOMPARE(line.size(), 1); // unchanged values: no new line
}

QTEST_GUILESS_MAIN(TestSettingsKeeper)
#include "tst_store_settings_keeper.moc"
