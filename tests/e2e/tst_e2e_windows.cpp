// The program's real main window, hosted in this process, talking through its real serial
// port to the real simulated board over a pseudo-terminal: what the operator sees and
// types against what the board holds.

#include "board_sim_process.h"
#include "link/board_session.h"
#include "logging/log_recorder.h"
#include "store/parameter_file.h"
#include "store/settings_file.h"
#include "windows/frm_main.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvaro;
using namespace kelvaro::e2e;

namespace {

// Fast and still: unpaced line, quick polls, and a model that does not move unless told
// to. The answer time-out is generous, so a busy machine loses no exchange.
const QStringList FastStillBoard{QStringLiteral("--poll-ms"),
                                 QStringLiteral("20"),
                                 QStringLiteral("--baud"),
                                 QStringLiteral("0"),
                                 QStringLiteral("--time-scale"),
                                 QStringLiteral("0"),
                                 QStringLiteral("--answer-timeout-ms"),
                                 QStringLiteral("500")};
// A short one instead (the last value counts): the polls that go unanswered after a cut
// block come every 120 ms and soon fill it.
const QStringList QuickTimeOut{QStringLiteral("--answer-timeout-ms"), QStringLiteral("100")};

Settings_Record portOneSettings()
{
    Settings_Record settings;
    settings.Comm_Port = 1;
    settings.Comm_Baud = 9600;
    settings.Comm_DTR = true;
    settings.Timer_CalValue = LooseValue::number(10000);
    return settings;
}

// A folder with the simulated board behind com1 and the main window started in it.
struct Rig
{
    bool startBoard(const QStringList& options = FastStillBoard)
    {
        return dir.isValid() && sim.start(options);
    }
    // Commands for the board before the window opens the port; the dump waits until the
    // simulator has carried them out.
    bool prepareBoard(const QList<QByteArray>& commands)
    {
        for (const QByteArray& c : commands)
            sim.command(c);
        return sim.dump().has_value();
    }
    bool startWindow(const Settings_Record& settings = portOneSettings())
    {
        if (!SaveSettings(settings, dir.path()))
            return false;
        window = std::make_unique<Frm_Main>(session);
        window->startUp();
        return true;
    }
    // The board's next blocks have brought its whole image into the program.
    bool imageMatchesBoard(int timeoutMs = 5000)
    {
        const auto words = sim.dump();
        return words &&
               QTest::qWaitFor(
                   [&] { return state.registers.Reg_Words == *words && state.link.Inputs_Loaded; },
                   timeoutMs);
    }

    template <class T> T* child(const QString& name) const { return window->findChild<T*>(name); }
    QLineEdit* box(int i) const { return child<QLineEdit>(QStringLiteral("Txt_Inputs_%1").arg(i)); }
    QString label(const QString& name) const { return child<QLabel>(name)->text(); }
    QString linkToolTip() const { return child<QLabel>(QStringLiteral("Panel3"))->toolTip(); }
    void trigger(const char* action) const
    {
        child<QAction>(QString::fromLatin1(action))->trigger();
    }
    void type(int i, const QString& text)
    {
        box(i)->setFocus();
        box(i)->selectAll();
        QTest::keyClicks(box(i), text);
        QTest::keyClick(box(i), Qt::Key_Return);
    }

    QTemporaryDir dir;
    BoardSimProcess sim{dir.path()};
    Kelv_Main state;
    BoardSession session{state, dir.path()};
    std::unique_ptr<Frm_Main> window;
};

} // namespace

class TestE2eWindows : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void startUp_boardValuesReachImageLabelsAndBoxes();
    void parameterEntry_reachesBoardAndBoxShowsItsValue_data();
    void parameterEntry_reachesBoardAndBoxShowsItsValue();
    void resetButton_restartsTheBoard();
    void logging_oneLinePerCounterChangeInTheDailyFile();
    void parameterFile_savesBoardImageAndLoadedValuesGoBack();
    void lineFaults_noBusyLoopAndExchangeResumes_data();
    void lineFaults_noBusyLoopAndExchangeResumes();
};

void TestE2eWindows::startUp_boardValuesReachImageLabelsAndBoxes()
{
    Rig rig;
    QVERIFY2(rig.startBoard(), qPrintable(rig.sim.error()));
    // 23.45 °C measured, relay on with counter 5, a spare word with a marker.
    QVERIFY(rig.prepareBoard({"set 1 2345", "set 0 261", "set 9 4242"}));
    Settings_Record settings = portOneSettings();
    settings.Show_Direct = 1;
    QVERIFY(rig.startWindow(settings));
    QCOMPARE(rig.linkToolTip(), QString()); // the port opened

    QTRY_COMPARE(rig.label(QStringLiteral("Panel3")), StatusRead);
    QVERIFY(rig.imageMatchesBoard());
    const BoardWords words = *rig.sim.dump();
    QVERIFY(rig.sim.stats().value("answers") >= 1);

    rig.session.refreshTick();
    QCOMPARE(rig.label(QStringLiteral("Lbl_Outputs_0")), QStringLiteral("23.45 \u00B0C"));
    QCOMPARE(rig.label(QStringLiteral("Lbl_Outputs_1")), QStringLiteral("%1 us").arg(words[5]));
    QCOMPARE(rig.label(QStringLiteral("Lbl_Outputs_4")), QStringLiteral("On"));
    for (int k = 0; k < 20; ++k)
        QCOMPARE(rig.label(QStringLiteral("Lbl_DirectRead_%1").arg(k)),
                 QString::number(words[std::size_t(k)]));
    // The first block filled the boxes with the board's own parameters.
    QCOMPARE(rig.box(0)->text(), QStringLiteral("21.00"));
    QCOMPARE(rig.box(2)->text(), QStringLiteral("18.00"));
    QCOMPARE(rig.box(7)->text(), QStringLiteral("1:00"));
    QCOMPARE(rig.box(8)->text(), QStringLiteral("2"));
}

void TestE2eWindows::parameterEntry_reachesBoardAndBoxShowsItsValue_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("shown"); // the box after the board's next block

    QTest::newRow("Low Setpoint Raising") << 0 << "23.4" << 17 << 2340 << "23.40";
    QTest::newRow("negative set-point as its 16-bit pattern")
        << 2 << "-5" << 11 << 65036 << "-5.00";
    // The board's measure period (low byte 2) stays.
    QTest::newRow("hysteresis keeps the low byte") << 1 << "0.7" << 10 << 70 * 256 + 2 << "0.70";
    QTest::newRow("Lower Time On in minutes") << 7 << "2" << 12 << 60 << "2:00";
}

void TestE2eWindows::parameterEntry_reachesBoardAndBoxShowsItsValue()
{
    QFETCH(int, box);
    QFETCH(QString, typed);
    QFETCH(int, word);
    QFETCH(int, value);
    QFETCH(QString, shown);

    Rig rig;
    QVERIFY2(rig.startBoard(), qPrintable(rig.sim.error()));
    QVERIFY(rig.startWindow());
    QVERIFY(rig.imageMatchesBoard());
    const auto before = rig.sim.stats(); // polls went unanswered until the port opened

    rig.type(box, typed);
    QCOMPARE(rig.state.registers.Reg_Words[std::size_t(word)], value);
    QVERIFY(rig.sim.waitForWord(word, value));
    QTRY_COMPARE(rig.box(box)->text(), shown);
    QVERIFY(rig.state.link.Inputs_Loaded);
    const auto after = rig.sim.stats();
    QCOMPARE(after.value("writes"), 1);
    for (const char* counter : {"lost", "unexpected"})
        QCOMPARE(after.value(counter), before.value(counter));
}

void TestE2eWindows::resetButton_restartsTheBoard()
{
    Rig rig;
    QVERIFY2(rig.startBoard(), qPrintable(rig.sim.error()));
    QVERIFY(rig.prepareBoard({"set 0 261"})); // relay on, counter 5
    QVERIFY(rig.startWindow());
    QVERIFY(rig.imageMatchesBoard());

    QTest::mouseClick(rig.child<QPushButton>(QStringLiteral("Cmd_Reset")), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return rig.sim.stats().value("resets") == 1; }));
    // The restart cleared the counter and the relay, and the next block shows it.
    QTRY_COMPARE(rig.state.registers.Reg_Words[0], 0);
    QCOMPARE(rig.sim.stats().value("writes"), 0);
}

void TestE2eWindows::logging_oneLinePerCounterChangeInTheDailyFile()
{
    Rig rig;
    QVERIFY2(rig.startBoard(), qPrintable(rig.sim.error()));
    QVERIFY(rig.prepareBoard({"set 1 2345", "set 0 1"})); // counter 1, relay off
    Settings_Record settings = portOneSettings();
    settings.Log_Active = LooseValue::number(1);
    settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
    settings.Log_Fields.fill(LooseValue::text(QStringLiteral("None")));
    settings.Log_Fields[0] = LooseValue::text(QStringLiteral("Actual Temperature (i16)"));
    settings.Log_Fields[1] = LooseValue::text(QStringLiteral("Relay Status (h08)"));
    settings.Log_Event = LooseValue::text(QStringLiteral("On Counter Change"));
    QVERIFY(rig.startWindow(settings));

    // Each step changes the board, waits for its block and runs one refresh pass. The
    // window's own 2 s timer may run a pass in between; a counter value still gets one
    // line, and the temperature is set before the counter so no pass pairs them wrongly.
    const QList<QList<QByteArray>> steps{
        {},                          // counter 1: line 2345,0
        {"set 1 2350", "set 0 258"}, // counter 2, relay on: line 2350,1
        {"set 1 2400"},              // counter unchanged: no line
        {"set 0 259"},               // counter 3: line 2400,1
    };
    for (const QList<QByteArray>& step : steps) {
        for (const QByteArray& c : step)
            rig.sim.command(c);
        QVERIFY(rig.imageMatchesBoard());
        rig.session.refreshTick();
    }

    const QString name = logFileName(QStringLiteral("DD-MM-YYYY"), QDate::currentDate()).value();
    QFile file(QDir(rig.dir.path()).filePath(name));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(name));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 4); // three lines and the empty rest after the last CR LF
    const QRegularExpression shape(QStringLiteral("^(\\d\\d-\\d\\d-\\d{4}),\\d\\d:\\d\\d:\\d\\d,"
                                                  "(\\d+),(\\d+)\r$"));
    const QStringList expected{QStringLiteral("2345,0"), QStringLiteral("2350,1"),
                               QStringLiteral("2400,1")};
    for (int i = 0; i < 3; ++i) {
        const QRegularExpressionMatch match = shape.match(QString::fromLatin1(lines[i]));
        QVERIFY2(match.hasMatch(), lines[i].constData());
        QCOMPARE(match.captured(1) + QStringLiteral(".txt"), name);
        QCOMPARE(match.captured(2) + u',' + match.captured(3), expected[i]);
    }
    QCOMPARE(rig.child<QLabel>(QStringLiteral("Panel2"))->toolTip(), QString()); // no failure
}

void TestE2eWindows::parameterFile_savesBoardImageAndLoadedValuesGoBack()
{
    Rig rig;
    QVERIFY2(rig.startBoard(), qPrintable(rig.sim.error()));
    QVERIFY(rig.prepareBoard({"set 9 4242"}));
    QVERIFY(rig.startWindow());
    QVERIFY(rig.imageMatchesBoard());

    rig.trigger("mnuSaveParameters");
    QFile file(QDir(rig.dir.path()).filePath(ParametersFileName));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const auto saved = parseParameters(file.readAll());
    QVERIFY(saved);
    QCOMPARE(*saved, *rig.sim.dump());

    // Someone changes the board; loading brings the saved set-point back into the image
    // and the box, and Enter in the box sends it to the board.
    rig.sim.command("set 17 1500");
    QTRY_COMPARE(rig.state.registers.Reg_Words[17], 1500);
    rig.trigger("mnuLoadParameters");
    QCOMPARE(rig.state.registers.Reg_Words[17], 2100);
    QCOMPARE(rig.box(0)->text(), QStringLiteral("21.00"));
    QCOMPARE(rig.sim.dump()->at(17), 1500); // loading alone sends nothing
    rig.type(0, rig.box(0)->text());
    QVERIFY(rig.sim.waitForWord(17, 2100));
}

void TestE2eWindows::lineFaults_noBusyLoopAndExchangeResumes_data()
{
    QTest::addColumn<QByteArray>("fault");
    QTest::addColumn<QByteArray>("recovery"); // the simulator's command that ends it, if any
    QTest::addColumn<QString>("toolTip");     // what the link panel says meanwhile, if it can

    // A cut block is completed by the polls that follow it (its stall never lasts the
    // time-out) and then replaced by the next whole one.
    QTest::newRow("block cut short") << QByteArray("stop-block") << QByteArray() << QString();
    QTest::newRow("stray byte") << QByteArray("garbage") << QByteArray() << QString();
    QTest::newRow("write taken but not applied")
        << QByteArray("ignore-write") << QByteArray() << QString();
    QTest::newRow("board stops polling")
        << QByteArray("silent") << QByteArray("resume") << QStringLiteral("no data from the board");
    QTest::newRow("device unplugged and plugged in again")
        << QByteArray("close") << QByteArray("reopen") << QStringLiteral("device removed");
}

void TestE2eWindows::lineFaults_noBusyLoopAndExchangeResumes()
{
    QFETCH(QByteArray, fault);
    QFETCH(QByteArray, recovery);
    QFETCH(QString, toolTip);

    Rig rig;
    QVERIFY2(rig.startBoard(FastStillBoard + QuickTimeOut), qPrintable(rig.sim.error()));
    QVERIFY(rig.startWindow());
    QVERIFY(rig.imageMatchesBoard());

    rig.sim.command(fault);
    const bool writeFault = fault == "ignore-write";
    if (writeFault)
        rig.type(2, QStringLiteral("25")); // Lower Setpoint, 18.00 on the board

    const qint64 cpuBefore = processCpuMs();
    QTest::qWait(2000);
    const qint64 cpuUsed = processCpuMs() - cpuBefore;
    qInfo("CPU time in 2 s of \"%s\": %lld ms", fault.constData(), cpuUsed);
    QVERIFY2(cpuUsed < 150, qPrintable(QString::number(cpuUsed)));
    // Silence is only noticed after a few seconds of it.
    if (!toolTip.isEmpty())
        QTRY_VERIFY2_WITH_TIMEOUT(rig.linkToolTip().contains(toolTip),
                                  qPrintable(rig.linkToolTip()), 8000);

    if (!recovery.isEmpty())
        rig.sim.command(recovery);
    // A new value on the board reaching the image proves whole blocks arrive again.
    rig.sim.command("set 9 777");
    QVERIFY(QTest::qWaitFor([&] { return rig.state.registers.Reg_Words[9] == 777; }, 8000));
    QVERIFY(rig.imageMatchesBoard());
    QCOMPARE(rig.linkToolTip(), QString());
    if (writeFault) {
        // The board kept its value and the box shows it again.
        QCOMPARE(rig.sim.dump()->at(11), 1800);
        QCOMPARE(rig.box(2)->text(), QStringLiteral("18.00"));
        QCOMPARE(rig.sim.stats().value("writes"), 1);
    }
}

QTEST_MAIN(TestE2eWindows)
#include "tst_e2e_windows.moc"
