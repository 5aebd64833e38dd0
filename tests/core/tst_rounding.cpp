#include "core/rounding.h"

#include <QTest>

using namespace kelvaro;

class TestRounding : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void halvesGoToEven_data();
    void halvesGoToEven();
    void integerConversion_refusesWhatDoesNotFit();
};

void TestRounding::halvesGoToEven_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("expected");
    QTest::newRow("0.5 down to 0") << 0.5 << 0.0;
    QTest::newRow("1.5 up to 2") << 1.5 << 2.0;
    QTest::newRow("2.5 down to 2") << 2.5 << 2.0;
    QTest::newRow("12.5 down to 12") << 12.5 << 12.0;
    QTest::newRow("37.5 up to 38") << 37.5 << 38.0;
    QTest::newRow("-2.5 to -2") << -2.5 << -2.0;
    QTest::newRow("-3.5 to -4") << -3.5 << -4.0;
    QTest::newRow("not a tie rounds to nearest") << 2.51 << 3.0;
    QTest::newRow("just below a tie") << 2.4999999 << 2.0;
    QTest::newRow("12345.5 to 12346") << 12345.5 << 12346.0;
    QTest::newRow("12346.5 to 12346") << 12346.5 << 12346.0;
    QTest::newRow("312.5 to 312") << 312.5 << 312.0;
    QTest::newRow("937.5 to 938") << 937.5 << 938.0;
}

void TestRounding::halvesGoToEven()
{
    QFETCH(double, x);
    QFETCH(double, expected);
    QCOMPARE(roundHalfEven(x), expected);
}

void TestRounding::integerConversion_refusesWhatDoesNotFit()
{
    QCOMPARE(roundToInteger<qint16>(32767.4), std::optional<qint16>(32767));
    QCOMPARE(roundToInteger<qint16>(32767.5), std::nullopt);                   // rounds to 32768
    QCOMPARE(roundToInteger<qint16>(-32768.5), std::optional<qint16>(-32768)); // tie to even
    QCOMPARE(roundToInteger<qint32>(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    QCOMPARE(roundToInteger<qint32>(std::numeric_limits<double>::infinity()), std::nullopt);
    QCOMPARE(roundToInteger<qint32>(3e9), std::nullopt);
}

QTEST_GUILESS_MAIN(TestRounding)
#include "tst_rounding.moc"
