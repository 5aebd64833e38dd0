// Decimation: the fold of a series into pixel columns keeps every column's minimum and
// maximum, hands over no more columns than pixels, and keeps gaps as gaps.

#include "history/minmax_summary.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kelvaro;

namespace {

struct Samples
{
    std::vector<qint64> times;
    std::vector<qint32> values;
    qint64 time(qint64 i) const { return times[size_t(i)]; }
    qint32 value(qint64 i) const { return values[size_t(i)]; }
};

Samples makeSamples(qint64 count, qint64 step, quint32 seed)
{
    QRandomGenerator random(seed);
    Samples s;
    for (qint64 i = 0; i < count; ++i) {
        s.times.push_back(i * step);
        s.values.push_back(random.bounded(-5000, 5000));
    }
    return s;
}

MinMaxSummary summaryOf(const Samples& s)
{
    MinMaxSummary summary;
    for (size_t i = 0; i < s.times.size(); ++i)
        summary.append(qint64(i), s.times[i], s.values[i]);
    return summary;
}

} // namespace

class TestMinMaxSummary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void columnsMatchEverySample_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<int>("width");
        QTest::newRow("fewer samples than pixels") << 100LL << 400;
        QTest::newRow("16 samples a column") << 16LL * 300 << 300;
        QTest::newRow("4096 samples a column") << 4096LL * 50 << 50;
        QTest::newRow("a year of 2-second lines on 1000 pixels") << 1024LL * 1000 << 1000;
    }
    void columnsMatchEverySample()
    {
        QFETCH(qint64, count);
        QFETCH(int, width);
        // One sample per millisecond and a column width that is a whole number of the
        // summary's blocks: every column must hold exactly its own samples' extremes.
        const Samples s = makeSamples(count, 1, 7);
        const MinMaxSummary summary = summaryOf(s);
        const qint64 span = std::max<qint64>(count, width);
        const std::vector<ChartColumn> columns =
            foldColumns(summary, s, 0, count, 0, span, width, 10);
        QVERIFY(columns.size() <= size_t(width) + 2);
        std::vector<qint32> lo(size_t(width), std::numeric_limits<qint32>::max());
        std::vector<qint32> hi(size_t(width), std::numeric_limits<qint32>::min());
        for (qint64 i = 0; i < count; ++i) {
            const size_t c = size_t(i * width / span);
            lo[c] = std::min(lo[c], s.values[size_t(i)]);
            hi[c] = std::max(hi[c], s.values[size_t(i)]);
        }
        for (const ChartColumn& column : columns) {
            QCOMPARE(column.min, lo[size_t(column.column)]);
            QCOMPARE(column.max, hi[size_t(column.column)]);
        }
    }

    void partialViewKeepsItsExtremes()
    {
        // An unaligned view over a long series: the extremes of the samples inside the
        // view are drawn, and nothing beyond the one neighbour on each side.
        const Samples s = makeSamples(100000, 2000, 11);
        const MinMaxSummary summary = summaryOf(s);
        const qint64 t0 = 12345 * 2000 + 777;
        const qint64 t1 = 81234 * 2000 + 5;
        const qint64 begin = lowerBoundTime(s, 0, 100000, t0) - 1;
        const qint64 end = lowerBoundTime(s, 0, 100000, t1) + 1;
        const std::vector<ChartColumn> columns =
            foldColumns(summary, s, begin, end, t0, t1, 640, 5000);
        QVERIFY(columns.size() <= 642);
        qint32 lo = std::numeric_limits<qint32>::max();
        qint32 hi = std::numeric_limits<qint32>::min();
        for (qint64 i = begin; i < end; ++i) {
            lo = std::min(lo, s.values[size_t(i)]);
            hi = std::max(hi, s.values[size_t(i)]);
        }
        qint32 drawnLo = std::numeric_limits<qint32>::max();
        qint32 drawnHi = std::numeric_limits<qint32>::min();
        for (const ChartColumn& c : columns) {
            drawnLo = std::min(drawnLo, c.min);
            drawnHi = std::max(drawnHi, c.max);
            QVERIFY(c.column >= -1 && c.column <= 640);
        }
        QCOMPARE(drawnLo, lo);
        QCOMPARE(drawnHi, hi);
    }

    void gapsAreNotJoined_data()
    {
        QTest::addColumn<qint64>("hole");
        QTest::addColumn<bool>("joined");
        QTest::newRow("no line for a minute") << 60000LL << false;
        QTest::newRow("one late line") << 4000LL << true;
    }
    void gapsAreNotJoined()
    {
        QFETCH(qint64, hole);
        QFETCH(bool, joined);
        Samples s;
        for (int i = 0; i < 10; ++i) {
            s.times.push_back(i * 2000 + (i >= 5 ? hole : 0));
            s.values.push_back(i);
        }
        const MinMaxSummary summary = summaryOf(s);
        const std::vector<ChartColumn> columns =
            foldColumns(summary, s, 0, 10, 0, s.times.back() + 1, 2000, 10000);
        QCOMPARE(columns.size(), size_t(10));
        QVERIFY(!columns[0].joined);
        QCOMPARE(columns[5].joined, joined);
        QVERIFY(columns[6].joined);
    }

    void missingSamplesBreakTheLine()
    {
        Samples s;
        for (int i = 0; i < 6; ++i) {
            s.times.push_back(i * 1000);
            s.values.push_back(i == 2 || i == 3 ? MissingValue : i);
        }
        const MinMaxSummary summary = summaryOf(s);
        const std::vector<ChartColumn> columns = foldColumns(summary, s, 0, 6, 0, 6000, 6, 100000);
        QCOMPARE(columns.size(), size_t(4));
        QCOMPARE(columns[2].column, 4);
        QVERIFY(!columns[2].joined);
        QVERIFY(columns[3].joined);
    }

    // A column that holds a missing sample among real ones shows the real ones only: no
    // dip to 0 or to the missing marker, whether folded from samples or from the summary.
    void missingSampleInAColumn_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("width");
        QTest::newRow("four samples a column") << 12 << 3;
        QTest::newRow("a thousand samples a column") << 4096 << 4;
    }
    void missingSampleInAColumn()
    {
        QFETCH(int, count);
        QFETCH(int, width);
        Samples s;
        for (int i = 0; i < count; ++i) {
            s.times.push_back(i * 1000);
            s.values.push_back(i % 4 == 1 ? MissingValue : 2000 + i % 50);
        }
        const MinMaxSummary summary = summaryOf(s);
        const std::vector<ChartColumn> columns =
            foldColumns(summary, s, 0, count, 0, qint64(count) * 1000, width, 100000);
        QVERIFY(!columns.empty());
        for (const ChartColumn& c : columns) {
            QVERIFY(c.column >= -1 && c.column <= width);
            QVERIFY2(c.min >= 2000 && c.max <= 2049, qPrintable(QString::number(c.min)));
            QVERIFY(c.first >= 2000 && c.last >= 2000);
        }
    }
};

QTEST_GUILESS_MAIN(TestMinMaxSummary)
#include "tst_minmax_summary.moc"
