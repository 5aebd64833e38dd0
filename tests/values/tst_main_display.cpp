#include "values/display_texts.h"
#include "values/parameter_entry.h"

#include <QTest>

using namespace kelvaro;

namespace {

DisplayUnits units(bool fahrenheit = false, qint32 calibration = 10000)
{
    return {fahrenheit, calibration, QLocale(QLocale::English, QLocale::UnitedStates)};
}

} // namespace

class TestMainDisplay : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void commitEntry_writesTheBoxWord_data();
    void commitEntry_writesTheBoxWord();
    void commitEntry_refusesWhatTheFrameCannotCarry_data();
    void commitEntry_refusesWhatTheFrameCannotCarry();
    void outputs_followTheImage();
    void relayStatus_data();
    void relayStatus();
    void inputs_followTheImage();
    void zeroImage_showsZeroesInBothUnits();
    void calibrationZero_showsNoDurationButEverythingElse();
};

void TestMainDisplay::commitEntry_writesTheBoxWord_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<int>("word10");
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("value");
    QTest::newRow("box 0, 23.45") << 0 << "23.45" << false << 0 << 17 << 2345;
    QTest::newRow("box 0, 114.8 F") << 0 << "114.8" << true << 0 << 17 << 4600;
    QTest::newRow("box 2, 50 above the hint") << 2 << "50" << false << 0 << 11 << 5000;
    QTest::newRow("box 3, -6") << 3 << "-6" << false << 0 << 14 << 64936;
    QTest::newRow("box 1, 0.50 keeps low byte 100") << 1 << "0.50" << false << 100 << 10 << 12900;
    QTest::newRow("box 1, 0.10 against 0x05C8") << 1 << "0.10" << false << 0x05C8 << 10 << 2760;
    QTest::newRow("box 1, 0.90 F") << 1 << "0.90" << true << 0 << 10 << 50 * 256;
    QTest::newRow("box 7, 1:00") << 7 << "1:00" << false << 0 << 12 << 30;
    QTest::newRow("box 4, 0:00") << 4 << "0:00" << false << 0 << 16 << 0;
    QTest::newRow("box 9, 0:03") << 9 << "0:03" << false << 0 << 18 << 2;
    QTest::newRow("box 5, 0:01 writes 0") << 5 << "0:01" << false << 0 << 15 << 0;
    QTest::newRow("box 6, 59:00") << 6 << "59:00" << false << 0 << 13 << 1770;
    QTest::newRow("box 8, 4 replaces the whole word") << 8 << "4" << false << 0 << 19 << 4;
}

void TestMainDisplay::commitEntry_writesTheBoxWord()
{
    QFETCH(int, box);
    QFETCH(QString, typed);
    QFETCH(bool, fahrenheit);
    QFETCH(int, word10);
    QFETCH(int, word);
    QFETCH(int, value);
    Words words{};
    words[10] = word10;
    words[19] = 0x0502;
    const auto result = commitEntry(box, typed, words, units(fahrenheit));
    QVERIFY2(result, qPrintable(result.reason()));
    QCOMPARE(result.value(), (ParameterWrite{word, value}));
}

void TestMainDisplay::commitEntry_refusesWhatTheFrameCannotCarry_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("calibration");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("letters in a set-point") << 2 << "warm" << 10000 << "Lower Setpoint:";
    QTest::newRow("empty set-point") << 0 << "" << 10000 << "Low Setpoint Raising:";
    QTest::newRow("set-point above 327.67") << 3 << "400" << 10000 << "327.67";
    QTest::newRow("hysteresis above 2.55") << 1 << "2.56" << 10000 << "2.55";
    QTest::newRow("negative hysteresis") << 1 << "-0.5" << 10000 << "Lower Hysterisis:";
    QTest::newRow("unreadable time") << 4 << "1:75" << 10000 << "59:59";
    QTest::newRow("time with calibration 0") << 9 << "1:00" << 0 << "calibration";
    QTest::newRow("negative modes") << 8 << "-1" << 10000 << "32767";
    QTest::newRow("modes above 32767") << 8 << "40000" << 10000 << "Operation Modes:";
}

void TestMainDisplay::commitEntry_refusesWhatTheFrameCannotCarry()
{
    QFETCH(int, box);
    QFETCH(QString, typed);
    QFETCH(int, calibration);
    QFETCH(QString, mentions);
    const auto result = commitEntry(box, typed, Words{}, units(false, calibration));
    QVERIFY(!result);
    QVERIFY2(result.reason().contains(mentions), qPrintable(result.reason()));
}

void TestMainDisplay::outputs_followTheImage()
{
    Words words{};
    words[1] = 2345;
    words[5] = 4850;
    words[8] = 64936;
    words[2] = 0x01FF;
    words[6] = 30;
    words[7] = 1770;
    const auto c = outputTexts(words, units());
    QCOMPARE(c[0], QString::fromUtf8("23.45 \xC2\xB0"
                                     "C"));
    QCOMPARE(c[1], QStringLiteral("4850 us"));
    QCOMPARE(c[2], QString::fromUtf8("-6.00 \xC2\xB0"
                                     "C"));
    QCOMPARE(c[3], QStringLiteral("255"));
    QCOMPARE(c[5], QStringLiteral("1"));
    QCOMPARE(c[7], QStringLiteral("1:00"));
    QCOMPARE(c[6], QStringLiteral("59:00"));
    const auto f = outputTexts(words, units(true));
    QCOMPARE(f[0], QString::fromUtf8("74.21 \xC2\xB0"
                                     "F"));
}

void TestMainDisplay::relayStatus_data()
{
    QTest::addColumn<int>("word0");
    QTest::addColumn<QString>("shown");
    QTest::newRow("relay byte 1, low 200") << 0x01C8 << "On";
    QTest::newRow("relay byte 0, low 255") << 0x00FF << "Off";
    QTest::newRow("relay byte 2") << 0x0200 << "Off";
}

void TestMainDisplay::relayStatus()
{
    QFETCH(int, word0);
    QFETCH(QString, shown);
    Words words{};
    words[0] = word0;
    QCOMPARE(relayStatusText(words), shown);
}

void TestMainDisplay::inputs_followTheImage()
{
    Words words{};
    words[10] = 0x32C8;
    words[19] = 0x0204;
    words[17] = 2345;
    words[12] = 30;
    words[18] = 65535;
    auto c = inputTexts(words, units());
    QCOMPARE(c[1], QStringLiteral("0.50"));
    QCOMPARE(c[8], QStringLiteral("4"));
    QCOMPARE(c[0], QStringLiteral("23.45"));
    QCOMPARE(c[7], QStringLiteral("1:00"));
    QCOMPARE(c[9], QStringLiteral("2184:30"));
    c = inputTexts(words, units(true));
    QCOMPARE(c[1], QStringLiteral("0.90")); // a difference: no +32
    QCOMPARE(c[0], QStringLiteral("74.21"));
}

void TestMainDisplay::zeroImage_showsZeroesInBothUnits()
{
    const auto c = inputTexts(Words{}, units());
    const auto f = inputTexts(Words{}, units(true));
    for (int box : {0, 1, 2, 3})
        QCOMPARE(c[box], QStringLiteral("0.00"));
    for (int box : {0, 2, 3})
        QCOMPARE(f[box], QStringLiteral("32.00"));
    QCOMPARE(f[1], QStringLiteral("0.00")); // no hysteresis is no hysteresis in any unit
    for (int box : {4, 5, 6, 7, 9})
        QCOMPARE(c[box], QStringLiteral("0:00"));
    QCOMPARE(c[8], QStringLiteral("0"));
}

void TestMainDisplay::calibrationZero_showsNoDurationButEverythingElse()
{
    Words words{};
    words[6] = 30;
    words[1] = 100;
    const auto o = outputTexts(words, units(false, 0));
    QCOMPARE(o[7], NoDuration);
    QCOMPARE(o[6], NoDuration);
    QCOMPARE(o[0], QString::fromUtf8("1.00 \xC2\xB0"
                                     "C"));
    const auto i = inputTexts(words, units(false, -3));
    QCOMPARE(i[4], NoDuration);
    QCOMPARE(i[0], QStringLiteral("0.00"));
}

QTEST_GUILESS_MAIN(TestMainDisplay)
#include "tst_main_display.moc"
