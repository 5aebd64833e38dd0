#include "values/duration.h"
#include "values/parameter_values.h"

#include <QTest>

using namespace kelvaro;

class TestDuration : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void wordToText_data();
    void wordToText();
    void textToWord_data();
    void textToWord();
    void boardSeconds_data();
    void boardSeconds();
    void calibrationOfZeroOrBelowGivesNoValue();
    void calibrationValueFromSettings();
};

void TestDuration::wordToText_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<int>("k");
    QTest::addColumn<QString>("shown");
    QTest::newRow("0") << 0 << 10000 << "0:00";
    QTest::newRow("1") << 1 << 10000 << "0:02";
    QTest::newRow("30") << 30 << 10000 << "1:00";
    QTest::newRow("1770") << 1770 << 10000 << "59:00";
    QTest::newRow("1800 shows 60 minutes") << 1800 << 10000 << "60:00";
    QTest::newRow("65535") << 65535 << 10000 << "2184:30";
    QTest::newRow("30 at 9677 is 1:02") << 30 << 9677 << "1:02";
    QTest::newRow("29 at 9677 back to 1:00") << 29 << 9677 << "1:00";
    QTest::newRow("1713 at 9677 back to 59:00") << 1713 << 9677 << "59:00";
    QTest::newRow("larger value shows shorter") << 30 << 10345 << "0:58";
}

void TestDuration::wordToText()
{
    QFETCH(int, word);
    QFETCH(int, k);
    QFETCH(QString, shown);
    QCOMPARE(durationWordText(word, k), std::optional<QString>(shown));
}

void TestDuration::textToWord_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("k");
    QTest::addColumn<std::optional<qint32>>("word");
    QTest::newRow("0:00") << "0:00" << 10000 << std::optional<qint32>(0);
    QTest::newRow("0:01 tie to 0") << "0:01" << 10000 << std::optional<qint32>(0);
    QTest::newRow("0:03 tie to 2") << "0:03" << 10000 << std::optional<qint32>(2);
    QTest::newRow("0:05 tie to 2") << "0:05" << 10000 << std::optional<qint32>(2);
    QTest::newRow("1:00") << "1:00" << 10000 << std::optional<qint32>(30);
    QTest::newRow("59:00") << "59:00" << 10000 << std::optional<qint32>(1770);
    QTest::newRow("59:59") << "59:59" << 10000 << std::optional<qint32>(1800);
    QTest::newRow("5 is five minutes") << "5" << 10000 << std::optional<qint32>(150);
    QTest::newRow("1:00 at 9677") << "1:00" << 9677 << std::optional<qint32>(29);
    QTest::newRow("59:00 at 9677") << "59:00" << 9677 << std::optional<qint32>(1713);
    QTest::newRow("single digits") << "1:5" << 10000 << std::optional<qint32>(32);
    QTest::newRow("blanks around") << " 1:00 " << 10000 << std::optional<qint32>(30);
    QTest::newRow("60 minutes unreadable") << "60:00" << 10000 << std::optional<qint32>();
    QTest::newRow("60 seconds unreadable") << "1:60" << 10000 << std::optional<qint32>();
    QTest::newRow("two colons") << "1:00:00" << 10000 << std::optional<qint32>();
    QTest::newRow("letters") << "ab" << 10000 << std::optional<qint32>();
    QTest::newRow("empty") << "" << 10000 << std::optional<qint32>();
    QTest::newRow("negative") << "-1:00" << 10000 << std::optional<qint32>();
    QTest::newRow("decimal point") << "1.30" << 10000 << std::optional<qint32>();
}

void TestDuration::textToWord()
{
    QFETCH(QString, typed);
    QFETCH(int, k);
    QFETCH(std::optional<qint32>, word);
    QCOMPARE(durationWordFromText(typed, k), word);
}

void TestDuration::boardSeconds_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("k");
    QTest::addColumn<int>("seconds");
    QTest::newRow("59:00 at 9677 is 3426") << "59:00" << 9677 << 3426;
    QTest::newRow("1:00 at 9677 is 58") << "1:00" << 9677 << 58;
    QTest::newRow("plain seconds at 10000") << "2:00" << 10000 << 120;
}

void TestDuration::boardSeconds()
{
    QFETCH(QString, typed);
    QFETCH(int, k);
    QFETCH(int, seconds);
    QCOMPARE(Duration_To_Board_Seconds(typed, k), std::optional<qint32>(seconds));
    QCOMPARE(Board_Seconds_To_Duration(seconds, NominalCalibration),
             Board_Seconds_To_Duration(seconds, 10000));
}

void TestDuration::calibrationOfZeroOrBelowGivesNoValue()
{
    QCOMPARE(Board_Seconds_To_Duration(60, 0), std::nullopt);
    QCOMPARE(Board_Seconds_To_Duration(0, 0), std::nullopt);
    QCOMPARE(Board_Seconds_To_Duration(60, -5), std::nullopt);
    QCOMPARE(Duration_To_Board_Seconds(QStringLiteral("1:00"), 0), std::nullopt);
    QCOMPARE(durationWordFromText(QStringLiteral("1:00"), -1), std::nullopt);
    // board seconds * 10000 must stay within 32 bits
    QCOMPARE(Board_Seconds_To_Duration(214749, 10000), std::nullopt);
    QCOMPARE(Board_Seconds_To_Duration(214748, 10000),
             std::optional<QString>(QStringLiteral("3579:08")));
}

void TestDuration::calibrationValueFromSettings()
{
    QCOMPARE(calibrationValue(LooseValue()), 10000); // nothing measured yet: nominal clock
    QCOMPARE(calibrationValue(LooseValue::number(9677)), 9677);
    QCOMPARE(calibrationValue(LooseValue::number(9677.5)), 9678);
    QCOMPARE(calibrationValue(LooseValue::number(0)), 0);
    QCOMPARE(calibrationValue(LooseValue::text(QStringLiteral("9677"))), 9677);
    QCOMPARE(calibrationValue(LooseValue::text(QStringLiteral("fast"))), 0);
    QCOMPARE(calibrationValue(LooseValue::number(1e12)), 0);
}

QTEST_GUILESS_MAIN(TestDuration)
#include "tst_duration.moc"
