#include "calibration/timer_calibration.h"

#include <QTest>
#include <optional>

using namespace kelvaro;

class TestTimerCalibration : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void calibrateTimers_data();
    void calibrateTimers();
};

namespace {

void row(const char* name, const char* set, const char* actual, std::optional<qint32> value)
{
    QTest::newRow(name) << QString::fromLatin1(set) << QString::fromLatin1(actual) << value;
}

} // namespace

void TestTimerCalibration::calibrateTimers_data()
{
    QTest::addColumn<QString>("set");
    QTest::addColumn<QString>("actual");
    QTest::addColumn<std::optional<qint32>>("value");
    const std::nullopt_t refused = std::nullopt;
    row("1:00 measured 1:02, slow clock", "1:00", "1:02", 9677);
    row("1:00 measured 0:58, fast clock", "1:00", "0:58", 10345);
    row("2:00 measured 2:00", "2:00", "2:00", 10000);
    row("equal times", "0:47", "0:47", 10000);
    row("312.5 to even 312", "0:01", "0:32", 312);
    row("937.5 to even 938", "0:03", "0:32", 938);
    row("31579 fits", "1:00", "0:19", 31579);
    row("33333 beyond 16 bits", "1:00", "0:18", refused);
    row("set 0:00 gives 0", "0:00", "1:00", refused);
    row("measured 0:00", "1:00", "0:00", refused);
    row("set unreadable", "abc", "1:00", refused);
    row("measured 60 minutes", "1:00", "60:00", refused);
}

void TestTimerCalibration::calibrateTimers()
{
    QFETCH(QString, set);
    QFETCH(QString, actual);
    QFETCH(std::optional<qint32>, value);
    const kelvaro::Outcome<qint32> result = kelvaro::calibrateTimers(set, actual);
    if (value) {
        QVERIFY2(result, qPrintable(result.reason()));
        QCOMPARE(result.value(), *value);
    } else {
        QVERIFY(!result);
        QVERIFY(!result.reason().isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestTimerCalibration)
#include "tst_timer_calibration.moc"
