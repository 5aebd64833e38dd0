// The live trend buffer: what each series takes from a block, a bounded ring that keeps
// 24 hours, and times that never run backwards.

#include "core/register_words.h"
#include "history/trend_buffer.h"

#include <QTest>
#include <QTimeZone>

using namespace kelvaro;

namespace {

using Words = std::array<qint32, RegisterCount>;

Words block(qint32 actual, qint32 relayWord = 0)
{
    Words w{};
    w[reg::Actual] = actual;
    w[reg::Average] = actual;
    w[reg::Status] = relayWord;
    w[reg::LowRising] = 2300;
    w[reg::LowFalling] = 2100;
    w[reg::LowerSetpoint] = 64936; // -6.00
    return w;
}

const QDateTime Start(QDate(2026, 12, 7), QTime(8, 0), QTimeZone::utc());

} // namespace

class TestTrendBuffer : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void seriesValue_data()
    {
        QTest::addColumn<int>("series");
        QTest::addColumn<Words>("words");
        QTest::addColumn<qint32>("value");
        QTest::newRow("actual below zero") << int(TrendBuffer::Actual) << block(65300) << -236;
        QTest::newRow("lower set-point -6.00") << int(TrendBuffer::Lower) << block(0) << -600;
        QTest::newRow("low raising") << int(TrendBuffer::LowRising) << block(0) << 2300;
        QTest::newRow("low falling") << int(TrendBuffer::LowFalling) << block(0) << 2100;
        QTest::newRow("relay on is the high byte")
            << int(TrendBuffer::Relay) << block(0, 0x0105) << 1;
        QTest::newRow("counter alone is relay off")
            << int(TrendBuffer::Relay) << block(0, 0x00FF) << 0;
    }
    void seriesValue()
    {
        QFETCH(int, series);
        QFETCH(Words, words);
        QFETCH(qint32, value);
        QCOMPARE(TrendBuffer::seriesValue(series, words), value);
    }

    void ringKeepsTheNewest()
    {
        TrendBuffer trend(100);
        for (int i = 0; i < 1000; ++i)
            trend.append(Start.addSecs(2 * i), block(i));
        QCOMPARE(trend.endIndex() - trend.firstIndex(), 100);
        QCOMPARE(trend.valueAt(TrendBuffer::Actual, trend.firstIndex()), 900);
        QCOMPARE(trend.timeAt(trend.endIndex() - 1), Start.addSecs(2 * 999).toMSecsSinceEpoch());
        // The fold over everything held sees exactly the held values.
        const std::vector<ChartColumn> columns =
            trend.columns(TrendBuffer::Actual, trend.timeAt(trend.firstIndex()),
                          trend.timeAt(trend.endIndex() - 1) + 1, 10);
        QVERIFY(!columns.empty());
        qint32 lo = columns.front().min;
        qint32 hi = columns.front().max;
        for (const ChartColumn& c : columns) {
            lo = std::min(lo, c.min);
            hi = std::max(hi, c.max);
        }
        QCOMPARE(lo, 900);
        QCOMPARE(hi, 999);
    }

    void keepsTwentyFourHours()
    {
        TrendBuffer trend(10000);
        trend.append(Start, block(1));
        trend.append(Start.addSecs(3600), block(2));
        trend.append(Start.addSecs(24 * 3600 + 1), block(3));
        QCOMPARE(trend.endIndex() - trend.firstIndex(), 2);
        QCOMPARE(trend.valueAt(TrendBuffer::Actual, trend.firstIndex()), 2);
    }

    void clockSetBack_data()
    {
        QTest::addColumn<int>("backSeconds");
        QTest::addColumn<qint64>("held");
        QTest::newRow("a second back is held at the last time") << 1 << 3LL;
        QTest::newRow("an hour back starts anew") << 3600 << 1LL;
    }
    void clockSetBack()
    {
        QFETCH(int, backSeconds);
        QFETCH(qint64, held);
        TrendBuffer trend(100);
        trend.append(Start, block(1));
        trend.append(Start.addSecs(2), block(2));
        trend.append(Start.addSecs(2 - backSeconds), block(3));
        QCOMPARE(trend.endIndex() - trend.firstIndex(), held);
        for (qint64 i = trend.firstIndex() + 1; i < trend.endIndex(); ++i)
            QVERIFY(trend.timeAt(i) >= trend.timeAt(i - 1));
    }

    void nearestSampleWithinTheGap()
    {
        TrendBuffer trend(100);
        trend.append(Start, block(10));
        trend.append(Start.addSecs(2), block(20));
        const qint64 t = Start.toMSecsSinceEpoch();
        QCOMPARE(trend.nearestIndex(t + 1500).value_or(-1), trend.firstIndex() + 1);
        QCOMPARE(trend.nearestIndex(t + 400).value_or(-1), trend.firstIndex());
        QVERIFY(!trend.nearestIndex(t + 3600000));
    }
};

QTEST_GUILESS_MAIN(TestTrendBuffer)
#include "tst_trend_buffer.moc"
