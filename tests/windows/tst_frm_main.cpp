#include "link/board_session.h"
#include "link/serial_port.h"
#include "store/settings_file.h"
#include "support/board_line.h"
#include "windows/frm_logging.h"
#include "windows/frm_main.h"
#include "windows/frm_settings.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

using namespace kelvaro;

namespace {

const QString degreeC = QString::fromUtf8("\xC2\xB0"
                                          "C");

using kelvaro::test::BoardLine;

// A main window started in its own folder, with an optional settings file and an optional
// device behind "com7".
struct Program
{
    explicit Program(const std::optional<Settings_Record>& settings = std::nullopt,
                     const QString& com7Target = {})
    {
        if (settings)
            SaveSettings(*settings, dir.path());
        if (!com7Target.isEmpty())
            QFile::link(com7Target, dir.filePath(QStringLiteral("com7")));
        window = std::make_unique<Frm_Main>(session);
        window->startUp();
    }

    QLineEdit* box(int i) const
    {
        return window->findChild<QLineEdit*>(QStringLiteral("Txt_Inputs_%1").arg(i));
    }
    QLabel* label(const QString& name) const { return window->findChild<QLabel*>(name); }
    QAction* action(const char* name) const
    {
        return window->findChild<QAction*>(QString::fromLatin1(name));
    }
    QString panel(int i) const { return label(QStringLiteral("Panel%1").arg(i))->text(); }
    Settings_Record savedSettings() const
    {
        Settings_Record record;
        LoadSettings(record, dir.path());
        return record;
    }
    QMessageBox* message() const { return window->findChild<QMessageBox*>(); }
    QString comPath(int port) const { return dir.filePath(QStringLiteral("com%1").arg(port)); }
    QString linkToolTip() const { return label(QStringLiteral("Panel3"))->toolTip(); }
    // Tools > Communication.
    Frm_Settings* communicationDialog() const
    {
        action("mnuCommunication")->trigger();
        return window->findChild<Frm_Settings*>();
    }
    void type(int i, const QString& text)
    {
        box(i)->setFocus();
        box(i)->selectAll();
        QTest::keyClicks(box(i), text);
        QTest::keyClick(box(i), Qt::Key_Return);
    }

    QTemporaryDir dir;
    Kelv_Main state;
    BoardSession session{state, dir.path()};
    std::unique_ptr<Frm_Main> window;
};

// Port 7 at 9600 baud, where Program puts its "com7".
Settings_Record onPort7()
{
    Settings_Record settings;
    settings.Comm_Port = 7;
    settings.Comm_Baud = 9600;
    return settings;
}

// "B" and 40 data bytes with word `index` = `value`, the others 0.
QByteArray blockWith(int index, int value)
{
    QByteArray block(41, '\0');
    block[0] = 'B';
    block[1 + 2 * index] = char(value & 0xFF);
    block[2 + 2 * index] = char(value >> 8);
    return block;
}

QByteArray frame(const LinkFlags& flags)
{
    QByteArray bytes;
    for (quint8 b : flags.Tx_Frame)
        bytes.append(char(b));
    return bytes;
}

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void startWithoutSettings_showsZeroImageAndWaitTexts();
    void startWithDirectDataAndFahrenheit_wideAndChecked();
    void enterInBox_storesWordAndQueuesFrame_data();
    void enterInBox_storesWordAndQueuesFrame();
    void refusedEntry_changesNothingAndKeepsText();
    void otherKeys_doNothing();
    void refresh_followsImage();
    void rawColumn_keptWhileHidden();
    void menuToggles_rewriteSettingsFile();
    void resetButton_queuesResetFrame();
    void manualWithoutReader_showsMessage();
    void exit_closesAuxiliaryWindows();
    void linkBlock_refillsBoxesOnce();
    void unpluggedDevice_reopenedAndTheExchangeStartsAfresh();
    void missingDeviceAtStart_answeredOncePluggedIn();
    void communicationOk_newPortOpenedAtOnceAndQueuedFrameSentThere();
    void communicationOk_newTimeOutDropsAStalledBlock();
    void fullDisk_reportedWhileTimerAndLinkRunOn_data();
    void fullDisk_reportedWhileTimerAndLinkRunOn();
    void refresh_everyLabelAndBoxFollowsTheImage();
    void valueLabels_tellTheirValueToAssistiveTechnology_data();
    void valueLabels_tellTheirValueToAssistiveTechnology();
    void showDirectOtherThanOne_oneRuleForWidthCheckAndRefresh_data();
    void showDirectOtherThanOne_oneRuleForWidthCheckAndRefresh();
    void refusedLoggingChoice_doesNotPoisonLaterSaves();
    void doubleQuoteFromAnEditedFile_correctedInTheLoggingWindow();
    void loggingFailure_markedUntilALineIsWritten_toldOncePerEpisode();
    void exit_leavesSettingsFileByteIdentical();
    void loggingThatCannotWork_namedInTheLoggingPanelAtStart_data();
    void loggingThatCannotWork_namedInTheLoggingPanelAtStart();
};

void TestFrmMain::startWithoutSettings_showsZeroImageAndWaitTexts()
{
    Program p;
    QCOMPARE(p.window->windowTitle(), QStringLiteral("Kelvaro Ver. 1.38"));
    QCOMPARE(p.panel(2), QStringLiteral("Logging Status: Disable"));
    QCOMPARE(p.panel(3), QStringLiteral("RS232 Status: Wait"));
    QVERIFY(!p.action("mnuLogStart")->isChecked());
    QVERIFY(!p.action("mnuDirectData")->isChecked());
    QCOMPARE(p.action("mnuCtoF")->text(), QStringLiteral("[") + degreeC + u"] Celsius"_s);
    for (int i : {0, 1, 2, 3})
        QCOMPARE(p.box(i)->text(), QStringLiteral("0.00"));
    for (int i : {4, 5, 6, 7, 9})
        QCOMPARE(p.box(i)->text(), QStringLiteral("0:00"));
    QCOMPARE(p.box(8)->text(), QStringLiteral("0"));
    QCOMPARE(p.window->centralWidget()->width(), 648);
    QVERIFY(!p.panel(3).isEmpty());
    QVERIFY(!p.label(QStringLiteral("Panel3"))->toolTip().isEmpty()); // why the line is silent
}

void TestFrmMain::startWithDirectDataAndFahrenheit_wideAndChecked()
{
    Settings_Record settings;
    settings.Show_Direct = 1;
    settings.Use_Fahrenheit = true;
    settings.Log_Active = LooseValue::number(1);
    Program p(settings);
    QVERIFY(p.action("mnuDirectData")->isChecked());
    QCOMPARE(p.window->centralWidget()->width(), 718);
    QCOMPARE(p.action("mnuCtoF")->text(), QString::fromUtf8("[\xC2\xB0"
                                                            "F] Fareneit"));
    QCOMPARE(p.box(0)->text(), QStringLiteral("32.00"));
    QVERIFY(p.action("mnuLogStart")->isChecked());
    QCOMPARE(p.panel(2), QStringLiteral("Logging Status: Activate"));
}

void TestFrmMain::enterInBox_storesWordAndQueuesFrame_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("value");
    QTest::newRow("box 0, 23.45") << 0 << "23.45" << false << 17 << 2345;
    QTest::newRow("box 0, 114.8 F") << 0 << "114.8" << true << 17 << 4600;
    QTest::newRow("box 2, 50") << 2 << "50" << false << 11 << 5000;
    QTest::newRow("box 1, 0.50 keeps low byte 100") << 1 << "0.50" << false << 10 << 12900;
    QTest::newRow("box 1, 0.90 F") << 1 << "0.90" << true << 10 << 50 * 256 + 100;
    QTest::newRow("box 1, 1 F") << 1 << "1" << true << 10 << 56 * 256 + 100;
    QTest::newRow("box 7, 1:00") << 7 << "1:00" << false << 12 << 30;
    QTest::newRow("box 4, 0:00") << 4 << "0:00" << false << 16 << 0;
    QTest::newRow("box 9, 0:03") << 9 << "0:03" << false << 18 << 2;
    QTest::newRow("box 8, 4") << 8 << "4" << false << 19 << 4;
    QTest::newRow("box 3, -6 goes as 0xFDA8") << 3 << "-6" << false << 14 << 64936;
}

void TestFrmMain::enterInBox_storesWordAndQueuesFrame()
{
    QFETCH(int, box);
    QFETCH(QString, typed);
    QFETCH(bool, fahrenheit);
    QFETCH(int, word);
    QFETCH(int, value);
    Settings_Record settings;
    settings.Use_Fahrenheit = fahrenheit;
    Program p(settings);
    p.state.registers.Reg_Words[10] = 100;
    p.state.registers.Reg_Words[19] = 0x0502;
    p.type(box, typed);
    QCOMPARE(p.state.registers.Reg_Words[word], value);
    QVERIFY(p.state.link.Write_Pending);
    QByteArray expected;
    for (int b : {word * 2, word - 10, value & 0xFF, value >> 8})
        expected.append(char(b));
    QCOMPARE(frame(p.state.link), expected);
    QCOMPARE(p.box(box)->text(), typed); // the box keeps the typed text
    QVERIFY(!p.message());
}

void TestFrmMain::refusedEntry_changesNothingAndKeepsText()
{
    Program p;
    p.state.registers.Reg_Words[10] = 0x05C8;
    p.type(1, QStringLiteral("3.00"));
    QCOMPARE(p.state.registers.Reg_Words[10], 0x05C8);
    QVERIFY(!p.state.link.Write_Pending);
    QCOMPARE(p.box(1)->text(), QStringLiteral("3.00"));
    QMessageBox* box = p.message();
    QVERIFY(box);
    QVERIFY(box->text().contains(QStringLiteral("Lower Hysterisis:")));
    QVERIFY(box->text().contains(QStringLiteral("2.55")));
}

void TestFrmMain::otherKeys_doNothing()
{
    Program p;
    p.box(2)->setFocus();
    QTest::keyClicks(p.box(2), QStringLiteral("12"));
    QTest::keyClick(p.box(2), Qt::Key_Tab);
    QCOMPARE(p.state.registers.Reg_Words[11], 0);
    QVERIFY(!p.state.link.Write_Pending);
    p.window->Txt_Inputs_KeyPress(12, 13); // no such box
    p.window->Txt_Inputs_KeyPress(2, 10);
    QVERIFY(!p.state.link.Write_Pending);
}

void TestFrmMain::refresh_followsImage()
{
    Program p;
    auto& words = p.state.registers.Reg_Words;
    words[0] = 0x01C8;
    words[1] = 2345;
    words[2] = 0x01FF;
    words[5] = 4850;
    p.window->mainTimer_Timer();
    QCOMPARE(p.label(QStringLiteral("Lbl_Outputs_4"))->text(), QStringLiteral("On"));
    QCOMPARE(p.label(QStringLiteral("Lbl_Outputs_0"))->text(), QStringLiteral("23.45 ") + degreeC);
    QCOMPARE(p.label(QStringLiteral("Lbl_Outputs_1"))->text(), QStringLiteral("4850 us"));
    QCOMPARE(p.label(QStringLiteral("Lbl_Outputs_3"))->text(), QStringLiteral("255"));
    QCOMPARE(p.label(QStringLiteral("Lbl_Outputs_5"))->text(), QStringLiteral("1"));
    words[0] = 0x0200;
    p.window->mainTimer_Timer();
    QCOMPARE(p.label(QStringLiteral("Lbl_Outputs_4"))->text(), QStringLiteral("Off"));
}

void TestFrmMain::rawColumn_keptWhileHidden()
{
    Settings_Record settings;
    settings.Show_Direct = 1;
    Program p(settings);
    p.state.registers.Reg_Words[7] = 65535;
    p.window->mainTimer_Timer();
    QCOMPARE(p.label(QStringLiteral("Lbl_DirectRead_7"))->text(), QStringLiteral("65535"));
    p.action("mnuDirectData")->trigger();
    p.state.registers.Reg_Words[7] = 12;
    p.window->mainTimer_Timer();
    QCOMPARE(p.label(QStringLiteral("Lbl_DirectRead_7"))->text(), QStringLiteral("65535"));
    QCOMPARE(p.window->centralWidget()->width(), 648);
}

void TestFrmMain::menuToggles_rewriteSettingsFile()
{
    Program p;
    p.action("mnuCtoF")->trigger();
    QVERIFY(p.savedSettings().Use_Fahrenheit);
    QCOMPARE(p.box(0)->text(), QStringLiteral("32.00")); // boxes rewritten at once
    p.action("mnuCtoF")->trigger();
    QVERIFY(!p.savedSettings().Use_Fahrenheit);

    p.action("mnuDirectData")->trigger();
    QCOMPARE(p.savedSettings().Show_Direct, qint16(1));
    QCOMPARE(p.window->centralWidget()->width(), 718);

    p.action("mnuLogStart")->trigger();
    QVERIFY(p.savedSettings().Log_Active.equalsNumber(1));
    QCOMPARE(p.panel(2), QStringLiteral("Logging Status: Active"));
    p.action("mnuLogStart")->trigger();
    QVERIFY(p.savedSettings().Log_Active.equalsNumber(0));
    QCOMPARE(p.panel(2), QStringLiteral("Logging Status: Disable"));
}

void TestFrmMain::resetButton_queuesResetFrame()
{
    Program p;
    QTest::mouseClick(p.window->findChild<QPushButton*>(QStringLiteral("Cmd_Reset")),
                      Qt::LeftButton);
    QVERIFY(p.state.link.Write_Pending);
    QCOMPARE(frame(p.state.link), QByteArray("\x08\x08\x01\x00", 4));
}

void TestFrmMain::manualWithoutReader_showsMessage()
{
    Program p;
    p.action("mnuOperation")->trigger();
    QMessageBox* box = p.message();
    QVERIFY(box);
    QCOMPARE(
        box->text(),
        QStringLiteral("Can't find Adobe Acrobat Reader .Use Help -> Acrobat to find the Reader."));
    QCOMPARE(box->windowTitle(), QStringLiteral("Adobe Acrobat Reader not Found"));
}

void TestFrmMain::exit_closesAuxiliaryWindows()
{
    BoardLine line;
    QVERIFY(line.isValid());
    Program p(onPort7(), line.deviceName());
    QVERIFY2(p.session.link().isOpen(), qPrintable(p.session.link().problem()));
    p.window->show();
    p.action("mnuCommunication")->trigger();
    p.action("mnuAbout")->trigger();
    p.action("mnuLogSettings")->trigger();
    const auto visibleWindows = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += w->isVisible() ? 1 : 0;
        return n;
    };
    QCOMPARE(visibleWindows(), 4);
    p.action("mnuExit")->trigger();
    QTRY_COMPARE(visibleWindows(), 0);
    QVERIFY(!p.session.link().isOpen());
    QVERIFY(!p.session.link().isRetrying());
    QVERIFY(!p.session.isRunning());
}

void TestFrmMain::linkBlock_refillsBoxesOnce()
{
    Program p;
    QByteArray block(41, '\0');
    block[0] = 'B';
    block[1 + 2 * 17] = char(0x29); // word 17 = 2345
    block[2 + 2 * 17] = char(0x09);
    p.session.link().receive(QByteArray("Q").append(block));
    QCOMPARE(p.box(0)->text(), QStringLiteral("23.45"));
    QCOMPARE(p.panel(3), QStringLiteral("RS232 Status: Read"));
    p.box(0)->setText(QStringLiteral("typing"));
    p.session.link().receive(QByteArray("Q").append(block));
    QCOMPARE(p.box(0)->text(), QStringLiteral("typing"));
}

void TestFrmMain::unpluggedDevice_reopenedAndTheExchangeStartsAfresh()
{
    auto line = std::make_unique<BoardLine>();
    QVERIFY(line->isValid());
    Program p(onPort7(), line->deviceName());
    QVERIFY2(p.session.link().isOpen(), qPrintable(p.session.link().problem()));
    QLabel* panel3 = p.label(QStringLiteral("Panel3"));
    QCOMPARE(panel3->toolTip(), QString());

    QVERIFY(line->send("Q" + blockWith(17, 2345)));
    QTRY_COMPARE(p.box(0)->text(), QStringLiteral("23.45"));
    // Unplugged in the middle of the next block.
    QVERIFY(line->send("QB" + QByteArray(20, '\x7F')));
    QTRY_COMPARE(p.state.registers.Rx_Bytes[19], quint8(0x7F));
    line->unplug();
    QTRY_VERIFY(panel3->toolTip().endsWith(QStringLiteral(": device removed; retrying every 3 s")));
    QCOMPARE(p.panel(3), QStringLiteral("RS232 Status: Read"));

    p.session.link().setReopenInterval(std::chrono::milliseconds(100)); // not 3 s in a test
    line = std::make_unique<BoardLine>();
    QVERIFY(line->plugInAt(p.comPath(7)));
    QTRY_VERIFY(p.session.link().isOpen());
    QCOMPARE(panel3->toolTip(), QString());

    // The first poll is answered, not stored in the old half block, and the boxes show the
    // board as it is now.
    QVERIFY(line->send("Q"));
    QTRY_COMPARE(line->received(), QByteArray("R"));
    QVERIFY(line->send(blockWith(17, 1000)));
    QTRY_COMPARE(p.box(0)->text(), QStringLiteral("10.00"));
    QCOMPARE(p.state.registers.Reg_Words[17], 1000);
}

void TestFrmMain::missingDeviceAtStart_answeredOncePluggedIn()
{
    // com7 names the adapter, which is not plugged in yet.
    const QTemporaryDir dev;
    const QString adapter = dev.filePath(QStringLiteral("ttyUSB0"));
    Program p(onPort7(), adapter);
    QVERIFY(!p.session.link().isOpen());
    QCOMPARE(p.panel(3), QStringLiteral("RS232 Status: Wait"));
    QCOMPARE(p.linkToolTip(),
             QStringLiteral("Port 7 is %1 (%2): no such device; retrying every 3 s")
                 .arg(p.comPath(7), adapter));

    p.session.link().setReopenInterval(std::chrono::milliseconds(100)); // not 3 s in a test
    BoardLine line;
    QVERIFY(line.isValid());
    QVERIFY(line.plugInAt(p.comPath(7)));
    QTRY_VERIFY(p.session.link().isOpen());
    QCOMPARE(p.linkToolTip(), QString());
    QVERIFY(line.send("Q" + blockWith(17, 2345)));
    QTRY_COMPARE(line.received(), QByteArray("R"));
    QTRY_COMPARE(p.box(0)->text(), QStringLiteral("23.45"));
}

void TestFrmMain::communicationOk_newPortOpenedAtOnceAndQueuedFrameSentThere()
{
    BoardLine first;
    BoardLine second;
    QVERIFY(first.isValid() && second.isValid());
    Program p(onPort7(), first.deviceName());
    QVERIFY(second.plugInAt(p.comPath(8)));
    QVERIFY2(p.session.link().isOpen(), qPrintable(p.session.link().problem()));
    p.type(2, QStringLiteral("50")); // word 11 = 5000, waiting for the board's next poll
    QVERIFY(p.state.link.Write_Pending);
    const QByteArray queued = frame(p.state.link);

    Frm_Settings* dialog = p.communicationDialog();
    QVERIFY(dialog);
    dialog->findChild<QComboBox*>(QStringLiteral("Cmb_Port"))->setEditText(QStringLiteral("8"));
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Cmd_Ok")), Qt::LeftButton);
    // At Ok, not at the next start or retry.
    QVERIFY2(p.session.link().isOpen(), qPrintable(p.session.link().problem()));
    QCOMPARE(p.session.link().deviceName(), p.comPath(8));
    QCOMPARE(p.savedSettings().Comm_Port, qint16(8));

    QVERIFY(second.send("Q"));
    QTRY_COMPARE(second.received(), QByteArray("W"));
    QVERIFY(second.send(QByteArray(1, PromptChar)));
    QTRY_COMPARE(second.received(), "W" + queued);
    QVERIFY(second.send("Q"));
    QTRY_COMPARE(second.received(), "W" + queued + "R");
    QCOMPARE(first.received(), QByteArray());

    // KELVARO_SHOT=<file>: the whole screen with the dialog opened again, under an X server.
    if (const QString shot = qEnvironmentVariable("KELVARO_SHOT"); !shot.isEmpty()) {
        p.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(p.communicationDialog()));
        QTest::qWait(500);
        QProcess::execute(QStringLiteral("import"),
                          {QStringLiteral("-window"), QStringLiteral("root"), shot});
    }
}

void TestFrmMain::communicationOk_newTimeOutDropsAStalledBlock()
{
    BoardLine line;
    QVERIFY(line.isValid());
    Program p(onPort7(), line.deviceName()); // time-out 0: a stalled block waits for ever
    Frm_Settings* dialog = p.communicationDialog();
    QVERIFY(dialog);
    dialog->findChild<QLineEdit*>(QStringLiteral("Txt_TimeOut"))->setText(QStringLiteral("1"));
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Cmd_Ok")), Qt::LeftButton);
    QVERIFY(p.session.link().isOpen());

    // A block cut after 20 data bytes, then a pause longer than the new time-out: the next
    // poll is answered as a poll, not stored as data of the old block.
    QVERIFY(line.send("QB" + QByteArray(20, '\x7F')));
    QTRY_COMPARE(p.state.registers.Rx_Bytes[19], quint8(0x7F));
    QCOMPARE(line.received(), QByteArray("R"));
    QTest::qWait(1500);
    QVERIFY(line.send("Q"));
    QTRY_COMPARE(line.received(), QByteArray("RR"));
}

void TestFrmMain::fullDisk_reportedWhileTimerAndLinkRunOn_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("file");
    QTest::newRow("settings") << "mnuCtoF"
                              << "Settings not saved"
                              << "Settings.txt";
    QTest::newRow("parameters") << "mnuSaveParameters"
                                << "Parameters not saved"
                                << "Parameters.txt";
}

// A file-size limit makes writes fail as on a full disk, for root too; the serial line is
// no file and goes on working.
void TestFrmMain::fullDisk_reportedWhileTimerAndLinkRunOn()
{
    QFETCH(QString, menu);
    QFETCH(QString, title);
    QFETCH(QString, file);
    BoardLine line;
    QVERIFY(line.isValid());
    Settings_Record settings = onPort7();
    settings.Log_Active = LooseValue::number(1);
    settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
    settings.Log_Fields[0] = LooseValue::text(QStringLiteral("Counter_2sec (l08)"));
    settings.Log_Event = LooseValue::text(QStringLiteral("On Counter Change"));
    Program p(settings, line.deviceName());
    QVERIFY(p.session.link().isOpen());
    const QString path = p.dir.filePath(file);
    QFile old(path);
    const QByteArray before = old.open(QIODevice::ReadOnly) ? old.readAll() : QByteArray();
    old.close();

    rlimit previous{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = previous;
    tiny.rlim_cur = 16;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const auto restore = qScopeGuard([&] {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, oldHandler);
    });

    p.action(menu.toLatin1().constData())->trigger();
    QMessageBox* box = p.message();
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), title);
    QVERIFY2(box->text().contains(file), qPrintable(box->text()));

    // With the message still open: the board is answered and the timer refreshes and
    // tries to log, which fails and says so.
    QVERIFY(line.send("Q" + blockWith(5, 4850)));
    QTRY_COMPARE(line.received(), QByteArray("R"));
    QTRY_VERIFY(p.state.link.Inputs_Loaded);
    QTRY_COMPARE(p.label(QStringLiteral("Lbl_Outputs_1"))->text(), QStringLiteral("4850 us"));
    QTRY_VERIFY(
        p.label(QStringLiteral("Panel2"))->toolTip().startsWith(QStringLiteral("Logging failed")));
    QVERIFY(box->isVisible());

    QFile after(path);
    QCOMPARE(after.open(QIODevice::ReadOnly) ? after.readAll() : QByteArray(), before);
    const QString logName = QDate::currentDate().toString(QStringLiteral("dd-MM-yyyy.txt"));
    if (QFile log(p.dir.filePath(logName)); log.exists()) {
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.size(), 0); // no part of a line
    }
}

// Every value label and entry box, refreshed twice with changing words: a control left out
// of a refresh keeps its first text and is caught by the second round.
void TestFrmMain::refresh_everyLabelAndBoxFollowsTheImage()
{
    Program p;
    auto& words = p.state.registers.Reg_Words;
    for (int round = 1; round <= 2; ++round) {
        for (int k = 0; k < RegisterCount; ++k)
            words[k] = 0;
        words[0] = round == 1 ? 0x0100 : 0x0000; // relay on, then off
        words[1] = 1000 * round;                 // 10.00, 20.00
        words[2] = 0x0102 * round;               // lower 2/4, low 1/2
        words[5] = 4000 + round;
        words[6] = 30 * round; // 1:00, 2:00
        words[7] = 15 * round; // 0:30, 1:00
        words[8] = 1100 * round;
        words[10] = (10 * round) << 8;
        words[11] = 500 * round;
        words[12] = 30 * round;
        words[13] = 60 * round;
        words[14] = 700 * round;
        words[15] = 90 * round;
        words[16] = 120 * round;
        words[17] = 800 * round;
        words[18] = 150 * round;
        words[19] = round;
        p.window->mainTimer_Timer();
        p.window->Update_Inputs();
        const QString r = QString::number(round);
        const QStringList outputs{QStringLiteral("%1.00 ").arg(10 * round) + degreeC,
                                  QStringLiteral("400%1 us").arg(round),
                                  QStringLiteral("%1.00 ").arg(11 * round) + degreeC,
                                  QString::number(2 * round),
                                  round == 1 ? QStringLiteral("On") : QStringLiteral("Off"),
                                  r,
                                  QStringLiteral("%1:%2")
                                      .arg((round * 30) / 60)
                                      .arg((round * 30) % 60, 2, 10, QLatin1Char('0')),
                                  QStringLiteral("%1:00").arg(round)};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(p.label(QStringLiteral("Lbl_Outputs_%1").arg(i))->text(), outputs[i]);
        const QStringList inputs{QStringLiteral("%1.00").arg(8 * round),
                                 QStringLiteral("0.%1").arg(10 * round),
                                 QStringLiteral("%1.00").arg(5 * round),
                                 QStringLiteral("%1.00").arg(7 * round),
                                 QStringLiteral("%1:00").arg(4 * round),
                                 QStringLiteral("%1:00").arg(3 * round),
                                 QStringLiteral("%1:00").arg(2 * round),
                                 QStringLiteral("%1:00").arg(round),
                                 r,
                                 QStringLiteral("%1:00").arg(5 * round)};
        for (int i = 0; i < 10; ++i)
            QCOMPARE(p.box(i)->text(), inputs[i]);
    }
}

void TestFrmMain::valueLabels_tellTheirValueToAssistiveTechnology_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("name");
    QTest::newRow("actual temperature")
        << "Lbl_Outputs_0" << 1 << 2468 << QStringLiteral("Actual Temperature: 24.68 ") + degreeC;
    QTest::newRow("pulse") << "Lbl_Outputs_1" << 5 << 4850 << "NE555 Pulse: 4850 us";
    QTest::newRow("relay") << "Lbl_Outputs_4" << 0 << 0x0100 << "Relay Status: On";
    QTest::newRow("time off") << "Lbl_Outputs_6" << 7 << 30 << "Time Off : 1:00";
    QTest::newRow("raw register 3") << "Lbl_DirectRead_3" << 3 << 1234 << "Register 3: 1234";
    QTest::newRow("raw register 19") << "Lbl_DirectRead_19" << 19 << 7 << "Register 19: 7";
}

void TestFrmMain::valueLabels_tellTheirValueToAssistiveTechnology()
{
    QFETCH(QString, label);
    QFETCH(int, word);
    QFETCH(int, value);
    QFETCH(QString, name);
    Settings_Record settings;
    settings.Show_Direct = 1;
    Program p(settings);
    p.state.registers.Reg_Words[word] = value;
    p.window->mainTimer_Timer();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(p.label(label));
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    // Kept current: the next value is what is read next.
    p.state.registers.Reg_Words[word] = 0;
    p.window->mainTimer_Timer();
    QVERIFY(accessible->text(QAccessible::Name).endsWith(p.label(label)->text()));
    QVERIFY(accessible->text(QAccessible::Name) != name);
}

void TestFrmMain::showDirectOtherThanOne_oneRuleForWidthCheckAndRefresh_data()
{
    QTest::addColumn<int>("stored");
    QTest::newRow("2 from a hand edit") << 2;
    QTest::newRow("#TRUE# read as -1") << -1;
}

void TestFrmMain::showDirectOtherThanOne_oneRuleForWidthCheckAndRefresh()
{
    QFETCH(int, stored);
    Settings_Record settings;
    settings.Show_Direct = qint16(stored);
    Program p(settings);
    QVERIFY(!p.action("mnuDirectData")->isChecked());
    QCOMPARE(p.window->centralWidget()->width(), 648);
    // One click shows the column, as the unchecked entry promises.
    p.action("mnuDirectData")->trigger();
    QVERIFY(p.action("mnuDirectData")->isChecked());
    QCOMPARE(p.window->centralWidget()->width(), 718);
    QCOMPARE(p.savedSettings().Show_Direct, qint16(1));
    p.state.registers.Reg_Words[4] = 444;
    p.window->mainTimer_Timer();
    QCOMPARE(p.label(QStringLiteral("Lbl_DirectRead_4"))->text(), QStringLiteral("444"));
}

// The operator's path of the report: a refused logging choice, read, cancelled; every later
// save still works and nothing cancelled reaches the record.
void TestFrmMain::refusedLoggingChoice_doesNotPoisonLaterSaves()
{
    Program p;
    p.action("mnuLogSettings")->trigger();
    auto* dialog = p.window->findChild<Frm_Logging*>();
    QVERIFY(dialog);
    dialog->findChild<QComboBox*>(QStringLiteral("Cmb_Filename"))
        ->setEditText(QStringLiteral("DD-MM-YYYY"));
    dialog->findChild<QComboBox*>(QStringLiteral("Cmb_Fields_0"))
        ->setEditText(QStringLiteral("Relay \"A\""));
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Cmd_Ok")), Qt::LeftButton);
    auto* refusal = dialog->findChild<QMessageBox*>();
    QVERIFY(refusal);
    QVERIFY2(refusal->text().contains(QStringLiteral("logged field 1")),
             qPrintable(refusal->text()));
    QCOMPARE(refusal->text().count(QStringLiteral("not saved")), 0);
    delete refusal;
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Cmd_Cancel")),
                      Qt::LeftButton);
    QCOMPARE(p.state.settings.Log_Fields[0], LooseValue());
    QCOMPARE(p.state.settings.Log_NameFormat, LooseValue());

    p.action("mnuCtoF")->trigger();
    p.action("mnuDirectData")->trigger();
    QVERIFY2(!p.message(), qPrintable(p.message() ? p.message()->text() : QString()));
    const Settings_Record saved = p.savedSettings();
    QVERIFY(saved.Use_Fahrenheit);
    QCOMPARE(saved.Show_Direct, qint16(1));
}

void TestFrmMain::doubleQuoteFromAnEditedFile_correctedInTheLoggingWindow()
{
    Settings_Record settings;
    settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
    const QTemporaryDir source;
    SaveSettings(settings, source.path());
    QFile file(source.filePath(SettingsFileName));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    lines[20] = "Relay\"A\r"; // field 1, a bare item with a quote in it

    Program p;
    QFile edited(p.dir.filePath(SettingsFileName));
    QVERIFY(edited.open(QIODevice::WriteOnly));
    edited.write(lines.join('\n'));
    edited.close();
    p.window->startUp();
    QCOMPARE(p.state.settings.Log_Fields[0], LooseValue::text(QStringLiteral("Relay\"A")));

    p.action("mnuCtoF")->trigger();
    QMessageBox* box = p.message();
    QVERIFY(box);
    QVERIFY2(box->text().contains(QStringLiteral("Logging, Settings")), qPrintable(box->text()));
    QCOMPARE(box->text().count(QStringLiteral("not saved")), 1);
    QVERIFY(p.state.settings.Use_Fahrenheit); // the choice stays in effect
    box->close();
    delete box;

    p.action("mnuLogSettings")->trigger();
    auto* dialog = p.window->findChild<Frm_Logging*>();
    auto* field = dialog->findChild<QComboBox*>(QStringLiteral("Cmb_Fields_0"));
    QCOMPARE(field->currentText(), QStringLiteral("Relay\"A"));
    field->setEditText(QStringLiteral("Relay Status (h08)"));
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("Cmd_Ok")), Qt::LeftButton);
    QVERIFY(!dialog->findChild<QMessageBox*>());
    const Settings_Record saved = p.savedSettings();
    QVERIFY(saved.Use_Fahrenheit);
    QCOMPARE(saved.Log_Fields[0], LooseValue::text(QStringLiteral("Relay Status (h08)")));
}

void TestFrmMain::loggingFailure_markedUntilALineIsWritten_toldOncePerEpisode()
{
    Settings_Record settings;
    settings.Log_Active = LooseValue::number(1);
    settings.Log_NameFormat = LooseValue::text(QStringLiteral("DD-MM-YYYY"));
    settings.Log_Fields[0] = LooseValue::text(QStringLiteral("Counter_2sec (l08)"));
    settings.Log_Event = LooseValue::text(QStringLiteral("On Counter Change"));
    Program p(settings);
    p.window->show();
    p.state.link.Inputs_Loaded = true;
    QLabel* panel = p.label(QStringLiteral("Panel2"));
    const QColor normal = panel->palette().color(QPalette::Window);
    const QString logName = QDate::currentDate().toString(QStringLiteral("dd-MM-yyyy.txt"));
    const QString blocker = p.dir.filePath(logName);
    QVERIFY(QDir().mkdir(blocker)); // a folder where the day's file should be
    const auto countMessages = [&] { return p.window->findChildren<QMessageBox*>().size(); };

    auto& counter = p.state.registers.Reg_Words[0];
    for (int pass = 1; pass <= 3; ++pass) {
        counter = pass;
        p.session.refreshTick();
    }
    QCOMPARE(countMessages(), 1);
    QCOMPARE(p.panel(2), QStringLiteral("Logging Status: Activate")); // the text is kept
    QVERIFY2(panel->toolTip().contains(logName), qPrintable(panel->toolTip()));
    QVERIFY(panel->autoFillBackground());
    QVERIFY(panel->palette().color(QPalette::Window) != normal);
    const QString shot = qEnvironmentVariable("KELVARO_SHOT");
    if (!shot.isEmpty())
        p.window->grab().save(shot);
    counter = 4;
    p.session.refreshTick(); // a pass with nothing new keeps the mark
    counter = 4;
    p.session.refreshTick();
    QVERIFY(panel->toolTip().contains(logName));

    QVERIFY(QDir().rmdir(blocker));
    counter = 5;
    p.session.refreshTick();
    QVERIFY(QFile::exists(blocker));
    QCOMPARE(panel->toolTip(), QString());
    QVERIFY(!panel->autoFillBackground());

    // A new episode is told again.
    QVERIFY(QFile::remove(blocker));
    QVERIFY(QDir().mkdir(blocker));
    counter = 6;
    p.session.refreshTick();
    QCOMPARE(countMessages(), 2);
}

void TestFrmMain::exit_leavesSettingsFileByteIdentical()
{
    Settings_Record settings = onPort7();
    settings.Use_Fahrenheit = true;
    settings.Log_Active = LooseValue::number(1);
    const QTemporaryDir source;
    SaveSettings(settings, source.path());
    QFile file(source.filePath(SettingsFileName));
    QVERIFY(file.open(QIODevice::ReadOnly));
    // A file as another program may have written it: a different header text.
    QByteArray bytes = file.readAll().replace("[Communication]", "[COMMUNICATION]");
    file.close();

    Program p;
    QFile own(p.dir.filePath(SettingsFileName));
    QVERIFY(own.open(QIODevice::WriteOnly));
    own.write(bytes);
    own.close();
    p.window->startUp();
    p.window->show();
    p.action("mnuExit")->trigger();
    QTRY_VERIFY(!p.window->isVisible());
    QVERIFY(own.open(QIODevice::ReadOnly));
    QCOMPARE(own.readAll(), bytes);
}

void TestFrmMain::loggingThatCannotWork_namedInTheLoggingPanelAtStart_data()
{
    // Logging on, the first field, the event; the logging panel's tool tip at start.
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("toolTip");
    QTest::newRow("logs a field") << u"Actual Temperature (i16)"_s << u"On Counter Change"_s
                                  << QString();
    QTest::newRow("unknown event")
        << u"Actual Temperature (i16)"_s << u"On Tuesday"_s
        << u"Settings.txt line 31: the logging event \"On Tuesday\" is not one the program knows"_s;
    QTest::newRow("no field") << u"None"_s << u"On Counter Change"_s
                              << u"Settings.txt line 21: no field is chosen for logging: log "
                                 "lines hold only the date and the time"_s;
}

void TestFrmMain::loggingThatCannotWork_namedInTheLoggingPanelAtStart()
{
    QFETCH(QString, field);
    QFETCH(QString, event);
    QFETCH(QString, toolTip);
    Settings_Record settings = onPort7();
    settings.Log_Active = LooseValue::number(1);
    settings.Log_NameFormat = LooseValue::text(u"DD-MM-YYYY"_s);
    settings.Log_Fields[0] = LooseValue::text(field);
    settings.Log_Event = LooseValue::text(event);
    Program p(settings);
    QCOMPARE(p.label(QStringLiteral("Panel2"))->toolTip(), toolTip);
    QCOMPARE(p.panel(2), QStringLiteral("Logging Status: Activate"));
    QVERIFY(!p.message());
}

QTEST_MAIN(TestFrmMain)
#include "tst_frm_main.moc"
