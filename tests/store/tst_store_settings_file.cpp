#include "store/settings_file.h"
#include "store/test_files.h"
#include "store/text_lines.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocale>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>
#include <limits>
#include <string>
#include <sys/stat.h>

using namespace kelvaro;
using namespace kelvaro::test;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kelvaro::Settings_Record)

namespace kelvaro {
// A record in a failed QCOMPARE shows as the lines it would be saved as.
char* toString(const Settings_Record& record)
{
    const Outcome<QByteArray> bytes = settingsFileBytes(record);
    if (!bytes)
        return qstrdup(qPrintable(bytes.reason()));
    return qstrdup(QByteArray(bytes.value()).replace("\r\n", " | ").constData());
}
} // namespace kelvaro

namespace {

Settings_Record sampleRecord()
{
    Settings_Record r;
    r.Comm_Port = 3;
    r.Comm_Baud = 19200;
    r.Comm_RTS = true;
    r.Comm_TimeOut = 5;
    r.Ntc_T0 = 12.5;
    r.Ntc_R0 = LooseValue::number(4700);
    r.Ntc_MinTH = LooseValue::number(-6);
    r.Ntc_MaxTH = 46;
    r.Ntc_R25 = LooseValue::number(10000);
    r.Ntc_B = LooseValue::number(3977.5);
    r.Timer_SetTimeOn = LooseValue::number(600);
    r.Timer_ActTimeOn = 598;
    r.Timer_CalValue = LooseValue::number(10033);
    r.Log_Active = LooseValue::number(1);
    r.Log_NameFormat = LooseValue::text(u"DD-MM-YYYY"_s);
    r.Log_Fields[0] = LooseValue::text(u"Relay Status (h08)"_s);
    r.Log_Fields[1] = LooseValue::text(u"None"_s);
    r.Log_Event = LooseValue::text(u"On Counter Change"_s);
    r.Acrobat_Path = u"C:\\Program Files\\Adobe\\Reader 9.0\\Reader\\AcroRd32.exe"_s;
    r.Manual_Files = {u"Operation.pdf"_s, u"Drawings.pdf"_s, u"Source.pdf"_s, u"Modes.pdf"_s};
    r.Show_Direct = 1;
    r.Use_Fahrenheit = true;
    return r;
}

template <typename Change> Settings_Record sampleWith(Change change)
{
    Settings_Record r = sampleRecord();
    change(r);
    return r;
}

// The start record with only the communication values of the sample.
Settings_Record sampleCommunication()
{
    const Settings_Record s = sampleRecord();
    Settings_Record r;
    r.Comm_Port = s.Comm_Port;
    r.Comm_Baud = s.Comm_Baud;
    r.Comm_RTS = s.Comm_RTS;
    r.Comm_DTR = s.Comm_DTR;
    r.Comm_TimeOut = s.Comm_TimeOut;
    return r;
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void saveThenLoad_roundTrip_data();
    void saveThenLoad_roundTrip();
    void startRecord_writesExpectedLines();
    void communicationExample_firstSixLines();
    void load_data();
    void load();
    void germanLocale_writesDotsAndReadsBackUnderAnyLocale();
    void missingFile_leavesRecordUntouched();
    void unwritableValue_refusesSaveAndKeepsOldFile_data();
    void unwritableValue_refusesSaveAndKeepsOldFile();
    void endlessFile_isNotReadWhole();
    void readSettingsFile_saysWhereAndWhy_data();
    void readSettingsFile_saysWhereAndWhy();
};

void TestSettingsFile::saveThenLoad_roundTrip_data()
{
    QTest::addColumn<Settings_Record>("record");
    QTest::newRow("start values") << Settings_Record{};
    QTest::newRow("negative and fractional reals") << sampleWith([](Settings_Record& r) {
        r.Ntc_T0 = -6;
        r.Ntc_MaxTH = -6.5;
        r.Timer_ActTimeOn = 0.1;
        r.Ntc_R0 = LooseValue::number(-0.1);
        r.Ntc_B = LooseValue::number(1e20);
        r.Ntc_R25 = LooseValue::number(1e-300);
        r.Timer_CalValue = LooseValue::number(-std::numeric_limits<double>::max());
    });
    QTest::newRow("integer limits") << sampleWith([](Settings_Record& r) {
        r.Comm_Port = std::numeric_limits<qint16>::min();
        r.Comm_Baud = std::numeric_limits<qint32>::max();
        r.Comm_TimeOut = std::numeric_limits<qint16>::max();
        r.Show_Direct = -1;
        r.Timer_SetTimeOn = LooseValue::number(std::numeric_limits<qint32>::min());
    });
    QTest::newRow("texts with blanks, backslashes and commas")
        << sampleWith([](Settings_Record& r) {
               r.Acrobat_Path = u"C:\\Program Files (x86)\\Reader, new\\a,b.exe"_s;
               r.Manual_Files[ManualDrawings] = u"  leading and trailing blanks  "_s;
               r.Manual_Files[ManualModes] = u"\\\\server\\share\\"_s;
               r.Log_NameFormat = LooseValue::text(u" DD, MM "_s);
           });
    QTest::newRow("unset among set loose values") << sampleWith([](Settings_Record& r) {
        r.Log_Fields[0] = LooseValue();
        r.Log_Fields[5] = LooseValue::text(u"Counter (u16)"_s);
        r.Log_Fields[9] = LooseValue::number(7);
        r.Log_Event = LooseValue();
        r.Ntc_MinTH = LooseValue();
    });
    QTest::newRow("texts that look like numbers or booleans stay texts")
        << sampleWith([](Settings_Record& r) {
               r.Log_Active = LooseValue::text(u"1"_s);
               r.Ntc_R0 = LooseValue::text(u"#TRUE#"_s);
               r.Log_Fields[3] = LooseValue::text(QString()); // empty text, not unset
               r.Acrobat_Path = u"#FALSE#"_s;
               r.Manual_Files[ManualOperation] = u"0"_s;
           });
    QTest::newRow("non-ASCII characters") << sampleWith([](Settings_Record& r) {
        r.Acrobat_Path = u"/home/jürgen/bin/läser"_s;
        r.Manual_Files[ManualSource] = u"Überblick € “x”.pdf"_s;
        r.Log_Fields[4] = LooseValue::text(u"温度 📈"_s);
    });
}

void TestSettingsFile::saveThenLoad_roundTrip()
{
    QFETCH(Settings_Record, record);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const FileResult saved = SaveSettings(record, dir.path());
    QVERIFY2(saved, qPrintable(saved.reason()));
    Settings_Record loaded;
    QVERIFY(LoadSettings(loaded, dir.path()));
    QCOMPARE(loaded, record);
}

void TestSettingsFile::startRecord_writesExpectedLines()
{
    const QByteArrayList expected = {R"("[Communication]")",
                                     "0",
                                     "0",
                                     "#FALSE#",
                                     "#FALSE#",
                                     "0", // 1-6
                                     R"("[Thermistor]")",
                                     "0",
                                     "",
                                     "",
                                     "0",
                                     "",
                                     "", // 7-13
                                     R"("[Timers]")",
                                     "",
                                     "0",
                                     "", // 14-17
                                     R"("[Logging]")",
                                     "",
                                     "",
                                     "",
                                     "",
                                     "",
                                     "",
                                     "",
                                     "",
                                     "",
                                     "",
                                     "",
                                     "",
                                     "", // 18-31
                                     R"("[Acrobat]")",
                                     R"("")", // 32-33
                                     R"("[Manuals]")",
                                     R"("")",
                                     R"("")",
                                     R"("")",
                                     R"("")", // 34-38
                                     R"("[AT90S2313]")",
                                     "0",
                                     R"("[Celsius-Fareneit]")",
                                     "#FALSE#"}; // 39-42
    QCOMPARE(expected.size(), 42);
    QTemporaryDir dir;
    QVERIFY(SaveSettings(Settings_Record{}, dir.path()));
    QCOMPARE(readBytes(dir.filePath(SettingsFileName)), QByteArray(expected.join("\r\n") + "\r\n"));
}

void TestSettingsFile::communicationExample_firstSixLines()
{
    Settings_Record r;
    r.Comm_Port = 1;
    r.Comm_Baud = 9600;
    r.Comm_RTS = false;
    r.Comm_DTR = true;
    r.Comm_TimeOut = 0;
    QVERIFY(settingsFileBytes(r).value().startsWith(
        "\"[Communication]\"\r\n1\r\n9600\r\n#FALSE#\r\n#TRUE#\r\n0\r\n\"[Thermistor]\"\r\n"));
}

void TestSettingsFile::load_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Settings_Record>("expected");
    QTest::addColumn<bool>("complete");

    const Settings_Record sample = sampleRecord();
    const QByteArray file = settingsFileBytes(sample).value();
    QByteArrayList lines = file.split('\n'); // each keeps its '\r'
    lines.removeLast();
    QCOMPARE(lines.size(), 42);
    const auto edited =
        [&](std::initializer_list<std::pair<int, QByteArray>> changes) -> QByteArray {
        QByteArrayList copy = lines;
        for (const auto& [lineNumber, text] : changes)
            copy[lineNumber - 1] = text + '\r';
        return copy.join('\n') + '\n';
    };

    QTest::newRow("only the communication section")
        << QByteArray(lines.mid(0, 6).join('\n') + '\n') << sampleCommunication() << false;
    QTest::newRow("header texts changed or dropped") << edited({{1, R"("Settings")"},
                                                                {7, "[Thermistor]"},
                                                                {14, ""},
                                                                {18, "42"},
                                                                {32, R"("")"},
                                                                {39, "x,y"},
                                                                {41, R"("[Celsius-Fahrenheit]")"}})
                                                     << sample << true;
    QTest::newRow("lines after the 42nd ignored") << file + "\"[Extra]\"\r\nletters\r\n"
                                                  << sample << true;
    QTest::newRow("LF line ends, none after the last line")
        << QByteArray(file).replace("\r\n", "\n").chopped(1) << sample << true;
    QTest::newRow("blanks around items")
        << edited({{2, "  7  "}, {33, "\t \"C:\\x y\"  "}, {42, " #TRUE# "}})
        << sampleWith([](Settings_Record& r) {
               r.Comm_Port = 7;
               r.Acrobat_Path = u"C:\\x y"_s;
           })
        << true;
    QTest::newRow("empty lines give zero, false and the empty text")
        << edited({{2, ""}, {4, ""}, {8, ""}, {33, ""}, {40, "   "}})
        << sampleWith([](Settings_Record& r) {
               r.Comm_Port = 0;
               r.Comm_RTS = false;
               r.Ntc_T0 = 0;
               r.Acrobat_Path.clear();
               r.Show_Direct = 0;
           })
        << true;
    QTest::newRow("fractions into integers round half to even")
        << edited({{2, "2.5"}, {6, "3.5"}, {40, "-0.5"}}) << sampleWith([](Settings_Record& r) {
               r.Comm_Port = 2;
               r.Comm_TimeOut = 4;
               r.Show_Direct = 0;
           })
        << true;
    QTest::newRow("numbers into booleans (nonzero is true), #TRUE# and #FALSE# into numbers")
        << edited({{4, "0"}, {5, "2"}, {42, "-1"}, {2, "#TRUE#"}, {8, "#false#"}, {9, "#TRUE#"}})
        << sampleWith([](Settings_Record& r) {
               r.Comm_RTS = false;
               r.Comm_DTR = true;
               r.Use_Fahrenheit = true;
               r.Comm_Port = -1;
               r.Ntc_T0 = 0;
               r.Ntc_R0 = LooseValue::number(-1);
           })
        << true;
    QTest::newRow("unquoted items in text and loose slots are texts")
        << edited({{20, "DD-MM-YY"}, {33, "C:\\Acrobat\\acrord32.exe"}})
        << sampleWith([](Settings_Record& r) {
               r.Log_NameFormat = LooseValue::text(u"DD-MM-YY"_s);
               r.Acrobat_Path = u"C:\\Acrobat\\acrord32.exe"_s;
           })
        << true;
    QTest::newRow("only the first item of a line is read")
        << edited({{2, "5,6"}, {33, R"("a,b",junk)"}}) << sampleWith([](Settings_Record& r) {
               r.Comm_Port = 5;
               r.Acrobat_Path = u"a,b"_s;
           })
        << true;
    QTest::newRow("unclosed quote runs to the line end")
        << edited({{33, "\"C:\\x"}})
        << sampleWith([](Settings_Record& r) { r.Acrobat_Path = u"C:\\x"_s; }) << true;
    QTest::newRow("Windows-1252 text")
        << edited({{33, "\"/home/j\xFCrgen/\x80\""}})
        << sampleWith([](Settings_Record& r) { r.Acrobat_Path = u"/home/jürgen/€"_s; }) << true;
    QTest::newRow("UTF-8 text") << edited({{33, "\"/home/j\xC3\xBCrgen\""}})
                                << sampleWith([](Settings_Record& r) {
                                       r.Acrobat_Path = u"/home/jürgen"_s;
                                   })
                                << true;

    // A value that does not convert stops the read; what came before it is kept.
    QTest::newRow("letters where a number belongs stop the read") << edited({{3, "fast"}}) << [] {
        Settings_Record r;
        r.Comm_Port = 3;
        return r;
    }() << false;
    QTest::newRow("quoted text where a number belongs stops")
        << edited({{2, R"("3")"}}) << Settings_Record{} << false;
    QTest::newRow("integer beyond its range stops")
        << edited({{2, "32768"}}) << Settings_Record{} << false;
    QTest::newRow("overlong line stops before it")
        << edited({{33, QByteArray(70000, 'a')}}) << sampleWith([](Settings_Record& r) {
               r.Acrobat_Path.clear();
               r.Manual_Files = {};
               r.Show_Direct = 0;
               r.Use_Fahrenheit = false;
           })
        << false;
    QTest::newRow("empty file") << QByteArray() << Settings_Record{} << false;
    QTest::newRow("binary garbage")
        << QByteArray("\x00\xFF\r\n\xFE\x00zz\r\n\x01", 11) << Settings_Record{} << false;
}

void TestSettingsFile::load()
{
    QFETCH(QByteArray, file);
    QFETCH(Settings_Record, expected);
    QFETCH(bool, complete);
    QTemporaryDir dir;
    QVERIFY(writeBytes(dir.filePath(SettingsFileName), file));
    Settings_Record loaded;
    QCOMPARE(LoadSettings(loaded, dir.path()), complete);
    QCOMPARE(loaded, expected);
}

void TestSettingsFile::germanLocale_writesDotsAndReadsBackUnderAnyLocale()
{
    const Settings_Record record = sampleWith([](Settings_Record& r) {
        r.Ntc_T0 = -6.5;
        r.Timer_ActTimeOn = 0.1;
        r.Ntc_B = LooseValue::number(3977.25);
    });
    const std::string systemLocale = std::setlocale(LC_ALL, nullptr);
    const auto restore = qScopeGuard([&] {
        QLocale::setDefault(QLocale::c());
        std::setlocale(LC_ALL, systemLocale.c_str());
    });
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_ALL, "de_DE.UTF-8"); // where installed: the C library's numbers too

    QTemporaryDir dir;
    QVERIFY(SaveSettings(record, dir.path()));
    const QByteArray bytes = readBytes(dir.filePath(SettingsFileName));
    QVERIFY(bytes.contains("\r\n-6.5\r\n"));
    QVERIFY(bytes.contains("\r\n0.1\r\n"));
    QVERIFY(bytes.contains("\r\n3977.25\r\n"));

    for (const QLocale& locale :
         {QLocale(QLocale::German), QLocale(QLocale::French), QLocale::c()}) {
        QLocale::setDefault(locale);
        Settings_Record loaded;
        QVERIFY(LoadSettings(loaded, dir.path()));
        QCOMPARE(loaded, record);
    }
}

void TestSettingsFile::missingFile_leavesRecordUntouched()
{
    QTemporaryDir dir;
    Settings_Record record = sampleRecord();
    QVERIFY(!LoadSettings(record, dir.path()));
    QCOMPARE(record, sampleRecord());
}

void TestSettingsFile::unwritableValue_refusesSaveAndKeepsOldFile_data()
{
    QTest::addColumn<Settings_Record>("record");
    QTest::addColumn<QString>("named");
    QTest::newRow("double quote in the reader path")
        << sampleWith([](Settings_Record& r) { r.Acrobat_Path = u"C:\\\"x\".exe"_s; })
        << u"reader path"_s;
    QTest::newRow("double quote in a manual")
        << sampleWith([](Settings_Record& r) { r.Manual_Files[ManualSource] = u"a\"b.pdf"_s; })
        << u"Source manual"_s;
    QTest::newRow("double quote in a logged field")
        << sampleWith([](Settings_Record& r) { r.Log_Fields[2] = LooseValue::text(u"x\""_s); })
        << u"logged field 3"_s;
    QTest::newRow("line break in the reader path")
        << sampleWith([](Settings_Record& r) { r.Acrobat_Path = u"/tmp/a\nb"_s; })
        << u"reader path"_s;
    QTest::newRow("carriage return in the log file-name format")
        << sampleWith([](Settings_Record& r) { r.Log_NameFormat = LooseValue::text(u"DD\rMM"_s); })
        << u"log file-name format"_s;
    QTest::newRow("infinite real") << sampleWith([](Settings_Record& r) {
        r.Ntc_T0 = std::numeric_limits<double>::infinity();
    }) << u"thermistor T0"_s;
    QTest::newRow("loose value not a number") << sampleWith([](Settings_Record& r) {
        r.Ntc_B = LooseValue::number(std::numeric_limits<double>::quiet_NaN());
    }) << u"thermistor B"_s;
}

void TestSettingsFile::unwritableValue_refusesSaveAndKeepsOldFile()
{
    QFETCH(Settings_Record, record);
    QFETCH(QString, named);
    QTemporaryDir dir;
    QVERIFY(SaveSettings(sampleRecord(), dir.path()));
    const QString path = dir.filePath(SettingsFileName);
    const QByteArray before = readBytes(path);
    const QStringList entries = folderEntries(dir.path());

    const FileResult result = SaveSettings(record, dir.path());
    QVERIFY(!result);
    QVERIFY2(result.reason().contains(named), qPrintable(result.reason()));
    QCOMPARE(readBytes(path), before);
    QCOMPARE(folderEntries(dir.path()), entries);
}

void TestSettingsFile::endlessFile_isNotReadWhole()
{
    QTemporaryDir dir;
    if (!linkToEndlessFile(dir.path(), SettingsFileName))
        QSKIP("no /dev/zero to stand for an endless file");
    Settings_Record record = sampleRecord();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!LoadSettings(record, dir.path())); // would never return if read whole
    QVERIFY(timer.elapsed() < 2000);
    QCOMPARE(record, sampleRecord());
}

void TestSettingsFile::readSettingsFile_saysWhereAndWhy_data()
{
    // What Settings.txt is: "missing", "fifo", "folder", or its bytes.
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<SettingsRead::Kind>("kind");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");
    const QByteArray file = settingsFileBytes(sampleRecord()).value();
    const QByteArrayList lines = file.split('\n');
    using K = SettingsRead::Kind;
    QTest::newRow("whole") << file << K::Whole << 0 << QString();
    QTest::newRow("missing") << QByteArray("missing") << K::Missing << 0 << QString();
    QTest::newRow("a FIFO, not waited for")
        << QByteArray("fifo") << K::Unreadable << 0 << u"it is not a regular file"_s;
    QTest::newRow("a folder") << QByteArray("folder") << K::Unreadable << 0
                              << u"it is a folder, not a file"_s;
    QTest::newRow("empty") << QByteArray() << K::Stopped << 1 << u"the file is empty"_s;
    QTest::newRow("cut short") << QByteArray(lines.mid(0, 6).join('\n') + '\n') << K::Stopped << 7
                               << u"the file ends after line 6 of 42"_s;
    QTest::newRow("letters for the port")
        << QByteArray(lines.constFirst() + "\nseven\r\n" + lines.mid(2).join('\n')) << K::Stopped
        << 2 << u"the serial port number must be a whole number from -32768 to 32767, not seven"_s;
    QTest::newRow("quoted text for the baud")
        << QByteArray(lines.mid(0, 2).join('\n') + "\n\"9600\"\r\n") << K::Stopped << 3
        << u"the baud rate must be a whole number from -2147483648 to 2147483647, not "
           "\"9600\""_s;
    QTest::newRow("overlong line")
        << QByteArray(lines.constFirst() + '\n' + QByteArray(MaxLineBytes + 10, '7') + "\r\n")
        << K::Stopped << 2 << u"the line is longer than 65536 bytes"_s;
}

void TestSettingsFile::readSettingsFile_saysWhereAndWhy()
{
    QFETCH(QByteArray, file);
    QFETCH(SettingsRead::Kind, kind);
    QFETCH(int, line);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(SettingsFileName);
    if (file == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (file == "folder")
        QVERIFY(QDir(dir.path()).mkdir(SettingsFileName));
    else if (file != "missing")
        QVERIFY(writeBytes(path, file));
    Settings_Record record;
    const SettingsRead read = readSettingsFile(record, dir.path());
    QCOMPARE(read.kind, kind);
    QCOMPARE(read.line, line);
    QCOMPARE(read.reason, reason);
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_store_settings_file.moc"
