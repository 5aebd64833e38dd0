#include "core/field_names.h"
#include "core/kelv_main.h"
#include "windows/frm_settings.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using namespace kelvaro;

class TestFrmSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void load_showsRecord_data();
    void load_showsRecord();
    void ok_storesEntries_data();
    void ok_storesEntries();
    void ok_rewritesSettingsFile();
    void ok_refusesBadNumber_data();
    void ok_refusesBadNumber();
    void ok_saveFailure_keepsValuesAndDialog();
    void cancel_storesNothing();

private:
    Frm_Settings* openDialog(const QString& folder);
    QComboBox* combo(const char* name) const
    {
        return m_dialog->findChild<QComboBox*>(QLatin1String(name));
    }
    QLineEdit* timeOutBox() const { return m_dialog->findChild<QLineEdit*>(u"Txt_TimeOut"_s); }
    void click(const char* button) const
    {
        QTest::mouseClick(m_dialog->findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
    }
    QString settingsPath() const { return m_folder->filePath(QStringLiteral("Settings.txt")); }

    Kelv_Main m_state;
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<SettingsKeeper> m_keeper;
    QPointer<Frm_Settings> m_dialog;
};

void TestFrmSettings::initTestCase()
{
    // Typed numbers are read in the operator's locale; pin one for the tables below.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestFrmSettings::init()
{
    m_state = Kelv_Main{};
    Init_Field_Names(m_state.Field_Names);
    Init_Event_Names(m_state.Event_Names);
    m_state.settings.Comm_Port = 1;
    m_state.settings.Comm_Baud = 9600;
    m_state.settings.Comm_RTS = true;
    m_state.settings.Comm_DTR = false;
    m_state.settings.Comm_TimeOut = 5;
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

void TestFrmSettings::cleanup()
{
    delete m_dialog;
}

Frm_Settings* TestFrmSettings::openDialog(const QString& folder)
{
    m_keeper = std::make_unique<SettingsKeeper>(m_state.settings, folder);
    m_dialog = new Frm_Settings(*m_keeper);
    m_dialog->show();
    return m_dialog;
}

void TestFrmSettings::load_showsRecord_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("rts");
    QTest::addColumn<bool>("dtr");
    QTest::addColumn<int>("timeOut");
    QTest::addColumn<QStringList>("shown"); // port, baud, RTS, DTR, time-out
    QTest::newRow("listed values") << 2 << 19200 << true << false << 0
                                   << QStringList{u"2"_s, u"19200"_s, u"YES"_s, u"NO"_s, u"0"_s};
    QTest::newRow("values beyond the lists")
        << 33 << 115200 << false << true << 32767
        << QStringList{u"33"_s, u"115200"_s, u"NO"_s, u"YES"_s, u"32767"_s};
}

void TestFrmSettings::load_showsRecord()
{
    QFETCH(int, port);
    QFETCH(int, baud);
    QFETCH(bool, rts);
    QFETCH(bool, dtr);
    QFETCH(int, timeOut);
    QFETCH(QStringList, shown);
    m_state.settings.Comm_Port = static_cast<qint16>(port);
    m_state.settings.Comm_Baud = baud;
    m_state.settings.Comm_RTS = rts;
    m_state.settings.Comm_DTR = dtr;
    m_state.settings.Comm_TimeOut = static_cast<qint16>(timeOut);
    openDialog(m_folder->path());
    const QStringList actual{combo("Cmb_Port")->currentText(), combo("Cmb_Baudrate")->currentText(),
                             combo("Cmb_RTS")->currentText(), combo("Cmb_DTR")->currentText(),
                             timeOutBox()->text()};
    QCOMPARE(actual, shown);
}

void TestFrmSettings::ok_storesEntries_data()
{
    QTest::addColumn<QStringList>("typed"); // port, baud, RTS, DTR, time-out
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("rts");
    QTest::addColumn<bool>("dtr");
    QTest::addColumn<int>("timeOut");
    QTest::newRow("YES stores true") << QStringList{u"1"_s, u"9600"_s, u"YES"_s, u"YES"_s, u"0"_s}
                                     << 1 << 9600 << true << true << 0;
    QTest::newRow("yes stores false") << QStringList{u"1"_s, u"9600"_s, u"yes"_s, u"Yes"_s, u"0"_s}
                                      << 1 << 9600 << false << false << 0;
    QTest::newRow("YES with a blank stores false")
        << QStringList{u"1"_s, u"9600"_s, u" YES"_s, u"YES "_s, u"0"_s} << 1 << 9600 << false
        << false << 0;
    QTest::newRow("anything else stores false")
        << QStringList{u"1"_s, u"9600"_s, u""_s, u"1"_s, u"0"_s} << 1 << 9600 << false << false
        << 0;
    QTest::newRow("port typed, not listed")
        << QStringList{u"3"_s, u"9600"_s, u"NO"_s, u"NO"_s, u"0"_s} << 3 << 9600 << false << false
        << 0;
    QTest::newRow("baud rate not in the list")
        << QStringList{u"1"_s, u"57600"_s, u"NO"_s, u"NO"_s, u"0"_s} << 1 << 57600 << false << false
        << 0;
    QTest::newRow("largest values")
        << QStringList{u"32767"_s, u"2147483647"_s, u"NO"_s, u"NO"_s, u"32767"_s} << 32767
        << 2147483647 << false << false << 32767;
    QTest::newRow("halves round to even")
        << QStringList{u"2.5"_s, u"9600.5"_s, u"NO"_s, u"NO"_s, u"3.5"_s} << 2 << 9600 << false
        << false << 4;
    QTest::newRow("blanks around numbers")
        << QStringList{u" 4 "_s, u" 1200"_s, u"NO"_s, u"NO"_s, u"7 "_s} << 4 << 1200 << false
        << false << 7;
}

void TestFrmSettings::ok_storesEntries()
{
    QFETCH(QStringList, typed);
    QFETCH(int, port);
    QFETCH(int, baud);
    QFETCH(bool, rts);
    QFETCH(bool, dtr);
    QFETCH(int, timeOut);
    QPointer<Frm_Settings> dialog = openDialog(m_folder->path());
    combo("Cmb_Port")->setEditText(typed[0]);
    combo("Cmb_Baudrate")->setEditText(typed[1]);
    combo("Cmb_RTS")->setEditText(typed[2]);
    combo("Cmb_DTR")->setEditText(typed[3]);
    timeOutBox()->setText(typed[4]);
    click("Cmd_Ok");

    QCOMPARE(m_state.settings.Comm_Port, port);
    QCOMPARE(m_state.settings.Comm_Baud, baud);
    QCOMPARE(m_state.settings.Comm_RTS, rts);
    QCOMPARE(m_state.settings.Comm_DTR, dtr);
    QCOMPARE(m_state.settings.Comm_TimeOut, timeOut);
    QVERIFY(QFile::exists(settingsPath()));
    QTRY_VERIFY(dialog.isNull()); // closed and unloaded
}

void TestFrmSettings::ok_rewritesSettingsFile()
{
    openDialog(m_folder->path());
    QComboBox* port = combo("Cmb_Port");
    port->lineEdit()->selectAll();
    QTest::keyClicks(port->lineEdit(), QStringLiteral("3"));
    click("Cmd_Ok");

    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QVERIFY(lines.size() > 2);
    QCOMPARE(lines[1], QByteArray("3\r"));
}

void TestFrmSettings::ok_refusesBadNumber_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("named"); // the box as the message names it
    QTest::newRow("port letters") << "Cmb_Port"
                                  << "COM1"
                                  << "Port";
    QTest::newRow("port empty") << "Cmb_Port"
                                << ""
                                << "Port";
    QTest::newRow("port 0") << "Cmb_Port"
                            << "0"
                            << "Port";
    QTest::newRow("port beyond 16 bits") << "Cmb_Port"
                                         << "32768"
                                         << "Port";
    QTest::newRow("port rounds to 0") << "Cmb_Port"
                                      << "0.5"
                                      << "Port";
    QTest::newRow("baud 0") << "Cmb_Baudrate"
                            << "0"
                            << "Baudrate";
    QTest::newRow("baud beyond 32 bits") << "Cmb_Baudrate"
                                         << "2147483648"
                                         << "Baudrate";
    QTest::newRow("baud grouped") << "Cmb_Baudrate"
                                  << "9,600"
                                  << "Baudrate";
    QTest::newRow("time-out empty") << "Txt_TimeOut"
                                    << ""
                                    << "Time Out";
    QTest::newRow("time-out negative") << "Txt_TimeOut"
                                       << "-1"
                                       << "Time Out";
    QTest::newRow("time-out beyond 16 bits") << "Txt_TimeOut"
                                             << "32768"
                                             << "Time Out";
}

void TestFrmSettings::ok_refusesBadNumber()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, named);
    const Settings_Record before = m_state.settings;
    openDialog(m_folder->path());
    // Changes in the other boxes must not be stored either.
    combo("Cmb_RTS")->setEditText(QStringLiteral("NO"));
    combo("Cmb_DTR")->setEditText(QStringLiteral("YES"));
    if (box == QLatin1String("Txt_TimeOut"))
        timeOutBox()->setText(typed);
    else
        combo(qPrintable(box))->setEditText(typed);
    click("Cmd_Ok");

    const auto* message = m_dialog->findChild<QMessageBox*>();
    QVERIFY(message);
    QVERIFY2(message->text().contains(named), qPrintable(message->text()));
    QVERIFY(m_state.settings == before);
    QVERIFY(!QFile::exists(settingsPath()));
    QVERIFY(m_dialog && m_dialog->isVisible());
}

void TestFrmSettings::ok_saveFailure_keepsValuesAndDialog()
{
    openDialog(m_folder->filePath(QStringLiteral("no such folder")));
    combo("Cmb_Port")->setEditText(QStringLiteral("7"));
    click("Cmd_Ok");

    QVERIFY(m_dialog->findChild<QMessageBox*>());
    QCOMPARE(m_state.settings.Comm_Port, 7); // written by the next successful save
    QVERIFY(m_dialog->isVisible());
}

void TestFrmSettings::cancel_storesNothing()
{
    const Settings_Record before = m_state.settings;
    QPointer<Frm_Settings> dialog = openDialog(m_folder->path());
    combo("Cmb_Port")->setEditText(QStringLiteral("4"));
    combo("Cmb_RTS")->setEditText(QStringLiteral("NO"));
    timeOutBox()->setText(QStringLiteral("9"));
    click("Cmd_Cancel");

    QVERIFY(m_state.settings == before);
    QVERIFY(!QFile::exists(settingsPath()));
    QTRY_VERIFY(dialog.isNull());
}

QTEST_MAIN(TestFrmSettings)
#include "tst_frm_settings.moc"
