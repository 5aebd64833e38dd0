#include "values/locale_numbers.h"
#include "values/parameter_values.h"
#include "values/temperature.h"

#include <QTest>

using namespace kelvaro;

namespace {
const QLocale dot(QLocale::English, QLocale::UnitedStates);
const QLocale comma(QLocale::German, QLocale::Germany);
} // namespace

class TestTemperature : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void wordToText_data();
    void wordToText();
    void textToWord_data();
    void textToWord();
    void hysteresis_data();
    void hysteresis();
    void unitSuffix();
    void roundTrip_everySignedWordInBothUnitsAndLocales_data();
    void roundTrip_everySignedWordInBothUnitsAndLocales();
    void operationModes_data();
    void operationModes();
};

void TestTemperature::wordToText_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("celsius");
    QTest::addColumn<QString>("fahrenheit");
    QTest::newRow("0") << 0 << "0.00"
                       << "32.00";
    QTest::newRow("1, 32.018") << 1 << "0.01"
                               << "32.02";
    QTest::newRow("50") << 50 << "0.50"
                        << "32.90";
    QTest::newRow("2345") << 2345 << "23.45"
                          << "74.21";
    QTest::newRow("4600") << 4600 << "46.00"
                          << "114.80";
    QTest::newRow("-6.00 as 64936") << 64936 << "-6.00"
                                    << "21.20";
    QTest::newRow("32767 top of signed range") << 32767 << "327.67"
                                               << "621.81";
    QTest::newRow("32768 is -327.68") << 32768 << "-327.68"
                                      << "-557.82";
    QTest::newRow("65535 is -0.01") << 65535 << "-0.01"
                                    << "31.98";
    QTest::newRow("-17.78 C shows 0.00 F, not -0.00") << 65536 - 1778 << "-17.78"
                                                      << "0.00";
    QTest::newRow("loaded value outside 16 bits kept") << 70000 << "700.00"
                                                       << "1292.00";
}

void TestTemperature::wordToText()
{
    QFETCH(int, word);
    QFETCH(QString, celsius);
    QFETCH(QString, fahrenheit);
    QCOMPARE(temperatureWordText(word, false, dot), celsius);
    QCOMPARE(temperatureWordText(word, true, dot), fahrenheit);
    QCOMPARE(temperatureWordText(word, true, comma), QString(fahrenheit).replace(u'.', u','));
}

void TestTemperature::textToWord_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<std::optional<qint32>>("word");
    QTest::newRow("23.45 C") << "23.45" << false << std::optional<qint32>(2345);
    QTest::newRow("74.21 F") << "74.21" << true << std::optional<qint32>(2345);
    QTest::newRow("100 F is 37.777") << "100" << true << std::optional<qint32>(3778);
    QTest::newRow("114.8 F") << "114.8" << true << std::optional<qint32>(4600);
    QTest::newRow("0.125 tie to even") << "0.125" << false << std::optional<qint32>(12);
    QTest::newRow("0.375 tie to even") << "0.375" << false << std::optional<qint32>(38);
    QTest::newRow("32.9 F") << "32.9" << true << std::optional<qint32>(50);
    QTest::newRow("50 above the hint") << "50" << false << std::optional<qint32>(5000);
    QTest::newRow("-6 C as 64936") << "-6" << false << std::optional<qint32>(64936);
    QTest::newRow("21.2 F is -6 C") << "21.2" << true << std::optional<qint32>(64936);
    QTest::newRow("surrounding blanks") << " 23.45 " << false << std::optional<qint32>(2345);
    QTest::newRow("-327.68 lowest") << "-327.68" << false << std::optional<qint32>(32768);
    QTest::newRow("327.67 highest") << "327.67" << false << std::optional<qint32>(32767);
    QTest::newRow("327.68 too high") << "327.68" << false << std::optional<qint32>();
    QTest::newRow("655.35 too high") << "655.35" << false << std::optional<qint32>();
    QTest::newRow("-327.69 too low") << "-327.69" << false << std::optional<qint32>();
    QTest::newRow("empty") << "" << false << std::optional<qint32>();
    QTest::newRow("letters") << "abc" << false << std::optional<qint32>();
    QTest::newRow("number then letters") << "12abc" << false << std::optional<qint32>();
    QTest::newRow("comma in a dot locale") << "23,45" << false << std::optional<qint32>();
    QTest::newRow("infinite") << "inf" << false << std::optional<qint32>();
    QTest::newRow("huge") << "1e300" << false << std::optional<qint32>();
}

void TestTemperature::textToWord()
{
    QFETCH(QString, typed);
    QFETCH(bool, fahrenheit);
    QFETCH(std::optional<qint32>, word);
    QCOMPARE(temperatureWordFromText(typed, fahrenheit, dot), word);
    if (!typed.contains(u','))
        QCOMPARE(temperatureWordFromText(QString(typed).replace(u'.', u','), fahrenheit, comma),
                 word);
}

void TestTemperature::hysteresis_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<std::optional<qint32>>("byte");
    QTest::newRow("0.50 C") << "0.50" << false << std::optional<qint32>(50);
    QTest::newRow("0.10 C") << "0.10" << false << std::optional<qint32>(10);
    QTest::newRow("0.90 F is 0.50 C: the scale only")
        << "0.90" << true << std::optional<qint32>(50);
    QTest::newRow("0.18 F is 0.10 C") << "0.18" << true << std::optional<qint32>(10);
    QTest::newRow("1 F") << "1" << true << std::optional<qint32>(56);
    QTest::newRow("4.59 F highest") << "4.59" << true << std::optional<qint32>(255);
    QTest::newRow("4.60 F too high") << "4.60" << true << std::optional<qint32>();
    QTest::newRow("32.90 F is far too high") << "32.90" << true << std::optional<qint32>();
    QTest::newRow("2.55 C highest") << "2.55" << false << std::optional<qint32>(255);
    QTest::newRow("2.56 C too high") << "2.56" << false << std::optional<qint32>();
    QTest::newRow("0 C") << "0" << false << std::optional<qint32>(0);
    QTest::newRow("-0.01 C negative") << "-0.01" << false << std::optional<qint32>();
    QTest::newRow("0 F is no hysteresis") << "0" << true << std::optional<qint32>(0);
    QTest::newRow("-0.01 F negative") << "-0.01" << true << std::optional<qint32>();
}

void TestTemperature::hysteresis()
{
    QFETCH(QString, typed);
    QFETCH(bool, fahrenheit);
    QFETCH(std::optional<qint32>, byte);
    QCOMPARE(hysteresisFromText(typed, fahrenheit, dot), byte);
    if (byte)
        QCOMPARE(hysteresisFromText(hysteresisText(*byte, fahrenheit, comma), fahrenheit, comma),
                 byte);
    QCOMPARE(hysteresisText(50, true, dot), QStringLiteral("0.90"));
    QCOMPARE(hysteresisText(10, true, dot), QStringLiteral("0.18"));
    // Every byte reads back from its own Fahrenheit text.
    for (qint32 b = 0; b <= 255; ++b)
        QCOMPARE(hysteresisFromText(hysteresisText(b, true, dot), true, dot), b);
}

void TestTemperature::unitSuffix()
{
    QCOMPARE(Temp_Unit_Suffix(false), QString::fromUtf8(" \xC2\xB0"
                                                        "C"));
    QCOMPARE(Temp_Unit_Suffix(true), QString::fromUtf8(" \xC2\xB0"
                                                       "F"));
    QCOMPARE(Temp_Unit_Suffix(true).size(), 3);
    QCOMPARE(Celsius_To_Fahrenheit(100), 212.0);
    QCOMPARE(Fahrenheit_To_Celsius(212), 100.0);
    QCOMPARE(Celsius_To_Display(10, false), 10.0);
    QCOMPARE(Display_To_Celsius(50, true), 10.0);
}

void TestTemperature::roundTrip_everySignedWordInBothUnitsAndLocales_data()
{
    QTest::addColumn<bool>("fahrenheit");
    QTest::addColumn<QLocale>("locale");
    QTest::newRow("Celsius, dot") << false << dot;
    QTest::newRow("Celsius, comma") << false << comma;
    QTest::newRow("Fahrenheit, dot") << true << dot;
    QTest::newRow("Fahrenheit, comma") << true << comma;
}

void TestTemperature::roundTrip_everySignedWordInBothUnitsAndLocales()
{
    QFETCH(bool, fahrenheit);
    QFETCH(QLocale, locale);
    const QChar group = locale.groupSeparator().at(0);
    for (qint32 word = 0; word <= 65535; ++word) {
        const QString text = temperatureWordText(word, fahrenheit, locale);
        if (text.contains(group))
            QFAIL(qPrintable(QStringLiteral("group separator in %1").arg(text)));
        const std::optional<qint32> back = temperatureWordFromText(text, fahrenheit, locale);
        if (back != word)
            QFAIL(qPrintable(
                QStringLiteral("%1 -> %2 -> %3").arg(word).arg(text).arg(back.value_or(-1))));
    }
    // Beyond the signed range the digits still come without grouping: 655.35 C is 1211.63 F.
    QCOMPARE(formatTwoDecimals(Celsius_To_Fahrenheit(655.35), locale),
             locale == dot ? QStringLiteral("1211.63") : QStringLiteral("1211,63"));
}

void TestTemperature::operationModes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<std::optional<qint32>>("word");
    QTest::newRow("4") << "4" << std::optional<qint32>(4);
    QTest::newRow("fraction rounded to even") << "2.5" << std::optional<qint32>(2);
    QTest::newRow("32767") << "32767" << std::optional<qint32>(32767);
    QTest::newRow("32768 refused") << "32768" << std::optional<qint32>();
    QTest::newRow("negative refused") << "-1" << std::optional<qint32>();
    QTest::newRow("letters refused") << "four" << std::optional<qint32>();
}

void TestTemperature::operationModes()
{
    QFETCH(QString, typed);
    QFETCH(std::optional<qint32>, word);
    QCOMPARE(operationModesFromText(typed, dot), word);
}

QTEST_GUILESS_MAIN(TestTemperature)
#include "tst_temperature.moc"
