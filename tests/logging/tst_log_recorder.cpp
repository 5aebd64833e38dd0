#include "logging/log_recorder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using namespace kelvaro;

Q_DECLARE_METATYPE(kelvaro::LooseValue)

namespace {

using WordChanges = QMap<int, int>; // register word -> value, set before a pass

const QString Counter = QStringLiteral("Counter_2sec (l08)");
const QString Relay = QStringLiteral("Relay Status (h08)");
const QString ActualTemp = QStringLiteral("Actual Temperature (i16)");
const QString Average = QStringLiteral("Average Temperature (i16)");
const QString None = QStringLiteral("None");

LooseValue text(const char* value)
{
    return LooseValue::text(QString::fromUtf8(value));
}
const LooseValue OnCounter = text("On Counter Change");
const LooseValue OnFields = text("On Fields Change");
const LooseValue OnAverage = text("On Average Temperature Change");
const LooseValue EventNoneText = text("None");

const QDateTime Start(QDate(2026, 12, 7), QTime(17, 5, 3));

// The program's state as start-up leaves it, a working folder, and a clock that moves two
// seconds, one refresh tick, after every pass.
struct Recorder
{
    Kelv_Main state;
    QTemporaryDir dir;
    QDateTime now = Start;
    Clock clock = [this] { return now; };

    Recorder(const LooseValue& event, const QStringList& fields)
    {
        Init_Field_Names(state.Field_Names);
        Init_Event_Names(state.Event_Names);
        state.settings.Log_NameFormat = text("DD-MM-YYYY");
        state.settings.Log_Event = event;
        for (int i = 0; i < fields.size(); ++i)
            state.settings.Log_Fields[i] = LooseValue::text(fields[i]);
    }
    Recorder(const Recorder&) = delete;

    void set(const WordChanges& changes)
    {
        for (auto it = changes.begin(); it != changes.end(); ++it)
            state.registers.Reg_Words[it.key()] = it.value();
    }
    LogPass pass(const WordChanges& changes = {})
    {
        set(changes);
        const LogPass result = LogTick(state, dir.path(), clock);
        now = now.addSecs(2);
        return result;
    }
    // One refresh tick as the main window runs it: the recorder only when logging is on.
    void tick(const WordChanges& changes = {})
    {
        if (loggingDue(state.settings, true)) {
            pass(changes);
        } else {
            set(changes);
            now = now.addSecs(2);
        }
    }
    QByteArray file(const QString& name) const
    {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QStringList entries() const
    {
        return QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    }
};

QByteArray crlfLines(const QStringList& lines)
{
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toUtf8() + "\r\n";
    return bytes;
}

} // namespace

class TestLogRecorder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fieldValueText_data();
    void fieldValueText();

    void logTick_writesWhenTheChosenEventHappened_data();
    void logTick_writesWhenTheChosenEventHappened();
    void logTick_eventNone_stillTracksPreviousValues();
    void logTick_switchedOffAndOn_comparesWithLastPassBeforeOff();
    void logTick_midnight_writesNextDaysFileAndLeavesPreviousAlone();
    void logTick_readsTheClockOncePerPass();
    void logTick_unusablePattern_reportedOnlyWhenALineIsDue_data();
    void logTick_unusablePattern_reportedOnlyWhenALineIsDue();
    void logTick_appendFailure_reportedAndNextPassWritesWholeLine();

    void startup_showsTheStoredSwitch_data();
    void startup_showsTheStoredSwitch();
    void startMenu_flipsLogging_data();
    void startMenu_flipsLogging();
};

void TestLogRecorder::fieldValueText_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("last byte of the block") << 19 << 0xAB12 << "Sp19 (h08)"
                                            << "171";
    QTest::newRow("zero is a value, not empty") << 8 << 0 << Average << "0";
    QTest::newRow("None") << 0 << 385 << None << "";
    QTest::newRow("empty name") << 0 << 385 << ""
                                << "";
    QTest::newRow("case differs") << 0 << 385 << "counter_2sec (l08)"
                                  << "";
    QTest::newRow("trailing space") << 0 << 385 << "Counter_2sec (l08) "
                                    << "";
    QTest::newRow("name without tag") << 0 << 385 << "Counter_2sec"
                                      << "";
    // A hand-edited parameter file can put any number into the image; the log keeps to
    // the register's 16 bits, as the byte fields do.
    QTest::newRow("word below 0 from a parameter file") << 3 << -1 << "Sp3 (u16)"
                                                        << "65535";
    QTest::newRow("word above 65535 from a parameter file") << 3 << 70000 << "Sp3 (u16)"
                                                            << "4464";
}

void TestLogRecorder::fieldValueText()
{
    QFETCH(int, word);
    QFETCH(int, value);
    QFETCH(QString, name);
    QFETCH(QString, text);
    Kelv_Main state;
    Init_Field_Names(state.Field_Names);
    state.registers.Reg_Words[word] = value;
    QCOMPARE(FieldValueText(state, name), text);
}

void TestLogRecorder::logTick_writesWhenTheChosenEventHappened_data()
{
    QTest::addColumn<LooseValue>("event");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QList<WordChanges>>("passes");
    QTest::addColumn<QStringList>("lines"); // the day's file; none at all when empty

    // Passes run at 17:05:03, :05, :07, ... on 7 December 2026.
    QTest::newRow("fields: first pass writes, previous values unset")
        << OnFields << QStringList{Counter} << QList<WordChanges>{{}}
        << QStringList{u"07-12-2026,17:05:03,0"_s};
    QTest::newRow("fields: three fields, line as the operator reads it")
        << OnFields << QStringList{Counter, Relay, Average}
        << QList<WordChanges>{{{0, 1 * 256 + 23}, {8, 2456}}}
        << QStringList{u"07-12-2026,17:05:03,23,1,2456"_s};
    QTest::newRow("fields: unchanged values write nothing")
        << OnFields << QStringList{Counter, Average}
        << QList<WordChanges>{{{0, 5}, {8, 2456}}, {}, {{8, 2457}}}
        << QStringList{u"07-12-2026,17:05:03,5,2456"_s, u"07-12-2026,17:05:07,5,2457"_s};
    QTest::newRow("box 3 None: box 4 neither logged nor compared")
        << OnFields << QStringList{Counter, Relay, None, Average}
        << QList<WordChanges>{{{0, 385}, {8, 2456}}, {{8, 2457}}}
        << QStringList{u"07-12-2026,17:05:03,129,1"_s};
    QTest::newRow("unknown name ends the list like None")
        << OnFields << QStringList{Relay, u"relay status (h08)"_s, Counter}
        << QList<WordChanges>{{{0, 385}}, {{0, 386}}} << QStringList{u"07-12-2026,17:05:03,1"_s};
    QTest::newRow("same field in two boxes logged twice")
        << OnFields << QStringList{Average, Average} << QList<WordChanges>{{{8, 2456}}}
        << QStringList{u"07-12-2026,17:05:03,2456,2456"_s};
    QTest::newRow("high and low byte of 385")
        << OnFields << QStringList{Relay, Counter} << QList<WordChanges>{{{0, 385}}}
        << QStringList{u"07-12-2026,17:05:03,1,129"_s};
    QTest::newRow("i16 word logged unsigned")
        << OnFields << QStringList{ActualTemp} << QList<WordChanges>{{{1, 65535}}}
        << QStringList{u"07-12-2026,17:05:03,65535"_s};
    QTest::newRow("counter: a line per change, not for other changes")
        << OnCounter << QStringList{Average} << QList<WordChanges>{{{0, 1}}, {{8, 9}}, {{0, 2}}}
        << QStringList{u"07-12-2026,17:05:03,0"_s, u"07-12-2026,17:05:07,9"_s};
    QTest::newRow("counter: tracked although not logged in a box")
        << OnCounter << QStringList{Relay}
        << QList<WordChanges>{{{0, 256 + 1}}, {{0, 256 + 1}}, {{0, 512 + 1}}, {{0, 512 + 2}}}
        << QStringList{u"07-12-2026,17:05:03,1"_s, u"07-12-2026,17:05:09,2"_s};
    QTest::newRow("average: a line per change, not for counter changes")
        << OnAverage << QStringList{Counter} << QList<WordChanges>{{{8, 100}}, {{0, 7}}, {{8, 101}}}
        << QStringList{u"07-12-2026,17:05:03,0"_s, u"07-12-2026,17:05:07,7"_s};
    QTest::newRow("event None writes nothing")
        << EventNoneText << QStringList{Counter} << QList<WordChanges>{{{0, 1}}, {{0, 2}}}
        << QStringList{};
    QTest::newRow("event unset writes nothing")
        << LooseValue() << QStringList{Counter} << QList<WordChanges>{{{0, 1}}, {{0, 2}}}
        << QStringList{};
    QTest::newRow("foreign event text writes nothing")
        << text("on fields change") << QStringList{Counter}
        << QList<WordChanges>{{{0, 1}}, {{0, 2}}} << QStringList{};
    QTest::newRow("event read as a number writes nothing")
        << LooseValue::number(2) << QStringList{Counter} << QList<WordChanges>{{{0, 1}}}
        << QStringList{};
    QTest::newRow("first box None, fields: nothing")
        << OnFields << QStringList{None, Counter} << QList<WordChanges>{{{0, 1}}, {{0, 2}}}
        << QStringList{};
    QTest::newRow("first box None, counter: date and time only")
        << OnCounter << QStringList{None, Counter} << QList<WordChanges>{{{0, 1}}, {}, {{0, 2}}}
        << QStringList{u"07-12-2026,17:05:03"_s, u"07-12-2026,17:05:07"_s};
    QTest::newRow("no boxes stored, counter: date and time only")
        << OnCounter << QStringList{} << QList<WordChanges>{{{0, 1}}}
        << QStringList{u"07-12-2026,17:05:03"_s};
}

void TestLogRecorder::logTick_writesWhenTheChosenEventHappened()
{
    QFETCH(LooseValue, event);
    QFETCH(QStringList, fields);
    QFETCH(QList<WordChanges>, passes);
    QFETCH(QStringList, lines);

    Recorder recorder(event, fields);
    QVERIFY(recorder.dir.isValid());
    int written = 0;
    for (const WordChanges& changes : passes) {
        const LogPass pass = recorder.pass(changes);
        QVERIFY2(pass.result, qPrintable(pass.result.reason()));
        written += pass.wrote;
    }
    QCOMPARE(written, lines.size());
    if (lines.isEmpty()) {
        QCOMPARE(recorder.entries(), QStringList());
    } else {
        QCOMPARE(recorder.entries(), QStringList{u"07-12-2026.txt"_s});
        QCOMPARE(recorder.file(u"07-12-2026.txt"_s), crlfLines(lines));
    }
}

void TestLogRecorder::logTick_eventNone_stillTracksPreviousValues()
{
    Recorder recorder(EventNoneText, {Counter});
    QVERIFY(!recorder.pass({{0, 5}}).wrote);

    recorder.state.settings.Log_Event = OnFields;
    QVERIFY(!recorder.pass().wrote); // 5 was seen while no event was chosen
    QVERIFY(recorder.pass({{0, 6}}).wrote);
    QCOMPARE(recorder.file(u"07-12-2026.txt"_s), QByteArray("07-12-2026,17:05:07,6\r\n"));
}

void TestLogRecorder::logTick_switchedOffAndOn_comparesWithLastPassBeforeOff()
{
    Recorder recorder(OnFields, {Counter});
    recorder.state.settings.Log_Active = LooseValue::number(1);
    recorder.tick({{0, 5}});
    QCOMPARE(recorder.entries(), QStringList{u"07-12-2026.txt"_s});

    QCOMPARE(toggleLogging(recorder.state.settings).checked, false);
    recorder.tick();
    recorder.tick();
    QCOMPARE(toggleLogging(recorder.state.settings).checked, true);
    recorder.tick(); // board values unchanged since the last pass before switching off
    QCOMPARE(recorder.file(u"07-12-2026.txt"_s), QByteArray("07-12-2026,17:05:03,5\r\n"));

    // A change while logging was off shows at the first pass after switching on.
    toggleLogging(recorder.state.settings);
    recorder.tick({{0, 6}});
    toggleLogging(recorder.state.settings);
    recorder.tick();
    QCOMPARE(recorder.file(u"07-12-2026.txt"_s),
             QByteArray("07-12-2026,17:05:03,5\r\n07-12-2026,17:05:13,6\r\n"));
}

void TestLogRecorder::logTick_midnight_writesNextDaysFileAndLeavesPreviousAlone()
{
    Recorder recorder(OnCounter, {Counter});
    recorder.now = QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59));
    QVERIFY(recorder.pass({{0, 1}}).wrote);
    const QByteArray dayBefore = recorder.file(u"07-12-2026.txt"_s);
    QCOMPARE(dayBefore, QByteArray("07-12-2026,23:59:59,1\r\n"));

    QCOMPARE(recorder.now, QDateTime(QDate(2026, 12, 8), QTime(0, 0, 1)));
    QVERIFY(recorder.pass({{0, 2}}).wrote);
    QCOMPARE(recorder.file(u"08-12-2026.txt"_s), QByteArray("08-12-2026,00:00:01,2\r\n"));
    QCOMPARE(recorder.file(u"07-12-2026.txt"_s), dayBefore);
}

void TestLogRecorder::logTick_readsTheClockOncePerPass()
{
    // A clock that crosses midnight between two readings: a second reading for the time
    // would stamp the 7 December line with 00:00:00.
    Recorder recorder(OnCounter, {Counter});
    int readings = 0;
    recorder.clock = [&readings] {
        return ++readings == 1 ? QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59, 999))
                               : QDateTime(QDate(2026, 12, 8), QTime(0, 0, 0));
    };
    QVERIFY(recorder.pass({{0, 1}}).wrote);
    QCOMPARE(readings, 1);
    QCOMPARE(recorder.entries(), QStringList{u"07-12-2026.txt"_s});
    QCOMPARE(recorder.file(u"07-12-2026.txt"_s), QByteArray("07-12-2026,23:59:59,1\r\n"));
}

void TestLogRecorder::logTick_unusablePattern_reportedOnlyWhenALineIsDue_data()
{
    QTest::addColumn<LooseValue>("pattern");
    QTest::newRow("parent folder") << text("../x");
    QTest::newRow("parent folder, backslash") << text("..\\x");
    QTest::newRow("dots and double slash") << text("....//x");
    QTest::newRow("absolute path") << text("/tmp/x");
    QTest::newRow("empty") << text("");
    QTest::newRow("unset") << LooseValue();
    QTest::newRow("control character") << text("a\x01"
                                               "b");
}

void TestLogRecorder::logTick_unusablePattern_reportedOnlyWhenALineIsDue()
{
    QFETCH(LooseValue, pattern);
    Recorder recorder(EventNoneText, {Counter});
    const QString work = recorder.dir.filePath(u"work"_s);
    QVERIFY(QDir().mkdir(work));
    const bool tmpFileExisted = QFile::exists(u"/tmp/x.txt"_s);
    recorder.state.settings.Log_NameFormat = pattern;

    // No line due: an unusable pattern is nothing to tell the operator about.
    recorder.state.registers.Reg_Words[0] = 1;
    LogPass pass = LogTick(recorder.state, work, recorder.clock);
    QVERIFY(pass.result);

    recorder.state.settings.Log_Event = OnCounter;
    recorder.state.registers.Reg_Words[0] = 2;
    pass = LogTick(recorder.state, work, recorder.clock);
    QVERIFY(!pass.wrote);
    QVERIFY(!pass.result);
    QVERIFY(pass.result.reason().contains(u"pattern"_s));

    QCOMPARE(
        QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
        QStringList());
    QCOMPARE(recorder.entries(), QStringList{u"work"_s});
    QCOMPARE(QFile::exists(u"/tmp/x.txt"_s), tmpFileExisted);
}

void TestLogRecorder::logTick_appendFailure_reportedAndNextPassWritesWholeLine()
{
    Recorder recorder(OnCounter, {Counter});
    QVERIFY(QDir(recorder.dir.path()).mkdir(u"07-12-2026.txt"_s));
    const LogPass failed = recorder.pass({{0, 1}});
    QVERIFY(!failed.wrote);
    QVERIFY(!failed.result);
    QVERIFY2(failed.result.reason().contains(u"07-12-2026.txt"_s),
             qPrintable(failed.result.reason()));

    QVERIFY(QDir(recorder.dir.path()).rmdir(u"07-12-2026.txt"_s));
    QVERIFY(recorder.pass({{0, 2}}).wrote);
    QCOMPARE(recorder.file(u"07-12-2026.txt"_s), QByteArray("07-12-2026,17:05:05,2\r\n"));
}

void TestLogRecorder::startup_showsTheStoredSwitch_data()
{
    QTest::addColumn<LooseValue>("active");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("status");
    QTest::newRow("1") << LooseValue::number(1) << true << "Logging Status: Activate";
    QTest::newRow("0") << LooseValue::number(0) << false << "Logging Status: Disable";
    QTest::newRow("unset") << LooseValue() << false << "Logging Status: Disable";
    QTest::newRow("2") << LooseValue::number(2) << false << "Logging Status: Disable";
    QTest::newRow("text 1 is not the number 1") << text("1") << false << "Logging Status: Disable";
    QTest::newRow("empty text") << text("") << false << "Logging Status: Disable";
}

void TestLogRecorder::startup_showsTheStoredSwitch()
{
    QFETCH(LooseValue, active);
    QFETCH(bool, checked);
    QFETCH(QString, status);
    Settings_Record settings;
    settings.Log_Active = active;
    QCOMPARE(kelvaro::loggingAtStartup(settings), (LogSwitch{checked, status}));
}

void TestLogRecorder::startMenu_flipsLogging_data()
{
    QTest::addColumn<LooseValue>("before");
    QTest::addColumn<LooseValue>("after");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("status");
    const LooseValue on = LooseValue::number(1);
    const LooseValue off = LooseValue::number(0);
    QTest::newRow("0 switches on") << off << on << true << "Logging Status: Active";
    QTest::newRow("unset switches on") << LooseValue() << on << true << "Logging Status: Active";
    QTest::newRow("1 switches off") << on << off << false << "Logging Status: Disable";
    // Values that show as off at start-up: the operator's click switches logging on.
    QTest::newRow("2 switches on")
        << LooseValue::number(2) << on << true << "Logging Status: Active";
    QTest::newRow("text switches on") << text("yes") << on << true << "Logging Status: Active";
}

void TestLogRecorder::startMenu_flipsLogging()
{
    QFETCH(LooseValue, before);
    QFETCH(LooseValue, after);
    QFETCH(bool, checked);
    QFETCH(QString, status);
    Settings_Record settings;
    settings.Log_Active = before;
    QCOMPARE(kelvaro::toggleLogging(settings), (LogSwitch{checked, status}));
    QCOMPARE(settings.Log_Active, after);
    // The refresh tick follows the switch, and waits for board data after a write.
    QCOMPARE(loggingDue(settings, true), checked);
    QVERIFY(!loggingDue(settings, false));
}

QTEST_GUILESS_MAIN(TestLogRecorder)
#include "tst_log_recorder.moc"
