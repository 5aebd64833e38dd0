#pragma once
// The live trend: the plotted values of every complete block of the last 24 hours in a
// ring buffer of fixed size (no allocation per sample), with the min/max summaries the
// chart draws from. Series: actual and average temperature, the three set-points
// (low raising, low falling, lower) and the relay.

#include "core/register_image.h"
#include "history/chart_data.h"

#include <QDateTime>
#include <array>
#include <vector>

namespace kelvaro {

class TrendBuffer final : public ChartData
{
public:
    enum Series
    {
        Actual,
        Average,
        LowRising,
        LowFalling,
        Lower,
        Relay,
        SeriesCount
    };
    static constexpr qint64 KeepMs = 24LL * 3600 * 1000;
    // A block every 250 ms (the demo's poll) for 24 hours: about 7 MiB.
    static constexpr qint64 DefaultCapacity = KeepMs / 250;

    explicit TrendBuffer(qint64 capacity = DefaultCapacity);

    // Adds one complete block. Samples older than 24 hours before `time`, or beyond the
    // capacity, are dropped. A clock set back by more than a minute starts the trend
    // anew; a smaller step back is held at the last time, so times never decrease.
    void append(const QDateTime& time, const std::array<qint32, RegisterCount>& words);
    // The same at `msecsSinceEpoch` (UTC milliseconds): no time-zone work per block.
    void append(qint64 msecsSinceEpoch, const std::array<qint32, RegisterCount>& words);
    void clear();

    qint64 capacity() const { return m_capacity; }

    int seriesCount() const override { return SeriesCount; }
    ChartSeries series(int index) const override;
    qint64 firstIndex() const override { return m_first; }
    qint64 endIndex() const override { return m_end; }
    qint64 timeAt(qint64 index) const override;
    qint32 valueAt(int series, qint64 index) const override;
    const MinMaxSummary& summary(int series) const override;
    qint64 gapMs() const override { return 15000; }

    // The canonical value of series `series` in a block of words.
    static qint32 seriesValue(int series, const std::array<qint32, RegisterCount>& words);

private:
    size_t slot(qint64 index) const { return size_t(index % m_capacity); }

    qint64 m_capacity;
    qint64 m_first = 0;
    qint64 m_end = 0;
    std::vector<qint64> m_times;
    // The series' canonical values; each fits 16 bits (signed hundredths, relay 0/1).
    std::vector<std::array<qint16, SeriesCount>> m_values;
    std::vector<MinMaxSummary> m_summaries;
};

} // namespace kelvaro
