#include "history/chart_data.h"

namespace kelvaro {

namespace {

// The held samples of one series as foldColumns reads them.
struct SeriesSamples
{
    const ChartData& data;
    int series;
    qint64 time(qint64 i) const { return data.timeAt(i); }
    qint32 value(qint64 i) const { return data.valueAt(series, i); }
};

} // namespace

qint64 ChartData::indexAtOrAfter(qint64 time) const
{
    return lowerBoundTime(SeriesSamples{*this, 0}, firstIndex(), endIndex(), time);
}

std::optional<qint64> ChartData::nearestIndex(qint64 time) const
{
    if (isEmpty())
        return std::nullopt;
    const qint64 after = indexAtOrAfter(time);
    qint64 best = after;
    if (after == endIndex() ||
        (after > firstIndex() && time - timeAt(after - 1) < timeAt(after) - time))
        best = after - 1;
    if (std::abs(timeAt(best) - time) > gapMs())
        return std::nullopt;
    return best;
}

std::vector<ChartColumn> ChartData::columns(int series, qint64 t0, qint64 t1, int width) const
{
    const qint64 begin = std::max(firstIndex(), indexAtOrAfter(t0) - 1);
    const qint64 end = std::min(endIndex(), indexAtOrAfter(t1) + 1);
    return foldColumns(summary(series), SeriesSamples{*this, series}, begin, end, t0, t1, width,
                       gapMs());
}

} // namespace kelvaro
