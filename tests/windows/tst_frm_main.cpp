#include "link/board_line.h"
#include "link/serial_port.h"
#include "store/settings_file.h"
#include "windows/frm_main.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

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
        window = std::make_unique<Frm_Main>(state, dir.path());
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
    void type(int i, const QString& text)
    {
        box(i)->setFocus();
        box(i)->selectAll();
        QTest::keyClicks(box(i), text);
        QTest::keyClick(box(i), Qt::Key_Return);
    }

    QTemporaryDir dir;
    Kelv_Main state;
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
    void fullDisk_reportedWhileTimerAndLinkRunOn_data();
    void fullDisk_reportedWhileTimerAndLinkRunOn();
};

void TestFrmMain::startWithoutSettings_showsZeroImageAndWaitTexts()
{
    Program p;
    QCOMPARE(p.window->windowTitle(), QStringLiteral("Kelvaro Ver. 1.38"));
    QCOMPARE(p.panel(2), QStringLiteral("Logging Status: Disable"));
    QCOMPARE(p.panel(3), QStringLiteral("RS232 Status: Wait"));
    QVERIFY(!p.action("mnuLogStart")->isChecked());
    QVERIFY(!p.action("mnuDirectData")->isChecked());
    QCOMPARE(p.action("mnuCtoF")->text(), QStringLiteral("[") + degreeC + "] Celsius");
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
    Program p;
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
    QVERIFY(!p.window->port().isOpen());
}

void TestFrmMain::linkBlock_refillsBoxesOnce()
{
    Program p;
    QByteArray block(41, '\0');
    block[0] = 'B';
    block[1 + 2 * 17] = char(0x29); // word 17 = 2345
    block[2 + 2 * 17] = char(0x09);
    p.window->link().receive(QByteArray("Q").append(block));
    QCOMPARE(p.box(0)->text(), QStringLiteral("23.45"));
    QCOMPARE(p.panel(3), QStringLiteral("RS232 Status: Read"));
    p.box(0)->setText(QStringLiteral("typing"));
    p.window->link().receive(QByteArray("Q").append(block));
    QCOMPARE(p.box(0)->text(), QStringLiteral("typing"));
}

void TestFrmMain::unpluggedDevice_reopenedAndTheExchangeStartsAfresh()
{
    auto line = std::make_unique<BoardLine>();
    QVERIFY(line->isValid());
    Program p(onPort7(), line->deviceName());
    QVERIFY2(p.window->port().isOpen(), qPrintable(p.window->port().problem()));
    QLabel* panel3 = p.label(QStringLiteral("Panel3"));
    QCOMPARE(panel3->toolTip(), QString());

    QVERIFY(line->send("Q" + blockWith(17, 2345)));
    QTRY_COMPARE(p.box(0)->text(), QStringLiteral("23.45"));
    // Unplugged in the middle of the next block.
    QVERIFY(line->send("QB" + QByteArray(20, '\x7F')));
    QTRY_COMPARE(p.state.link.Rx_Count, quint8(21));
    line->unplug();
    QTRY_VERIFY(panel3->toolTip().endsWith(QStringLiteral(": device removed; retrying every 3 s")));
    QCOMPARE(p.panel(3), QStringLiteral("RS232 Status: Read"));

    p.window->port().setReopenInterval(std::chrono::milliseconds(100)); // not 3 s in a test
    line = std::make_unique<BoardLine>();
    QVERIFY(QFile::remove(p.dir.filePath(QStringLiteral("com7"))));
    QVERIFY(QFile::link(line->deviceName(), p.dir.filePath(QStringLiteral("com7"))));
    QTRY_VERIFY(p.window->port().isOpen());
    QCOMPARE(panel3->toolTip(), QString());

    // The first poll is answered, not stored in the old half block, and the boxes show the
    // board as it is now.
    QVERIFY(line->send("Q"));
    QTRY_COMPARE(line->received(), QByteArray("R"));
    QVERIFY(line->send(blockWith(17, 1000)));
    QTRY_COMPARE(p.box(0)->text(), QStringLiteral("10.00"));
    QCOMPARE(p.state.registers.Reg_Words[17], 1000);
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
    QVERIFY(p.window->port().isOpen());
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

QTEST_MAIN(TestFrmMain)
#include "tst_frm_main.moc"
