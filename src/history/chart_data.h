#pragma once
// What the chart draws, whether live or read from the log files: series of samples on a
// shared time line, each with a meaning, and their min/max fold per pixel column.

#include "history/field_meaning.h"
#include "history/minmax_summary.h"

#include <QString>
#include <optional>
#include <vector>

namespace kelvaro {

struct ChartSeries
{
    QString name;
    FieldKind kind = FieldKind::Number;
};

class ChartData
{
public:
    virtual ~ChartData() = default;

    virtual int seriesCount() const = 0;
    virtual ChartSeries series(int index) const = 0;
    // The samples held: indices firstIndex() .. endIndex() - 1, times not decreasing.
    virtual qint64 firstIndex() const = 0;
    virtual qint64 endIndex() const = 0;
    virtual qint64 timeAt(qint64 index) const = 0; // milliseconds since the epoch
    // The canonical value (see canonicalValue), or MissingValue.
    virtual qint32 valueAt(int series, qint64 index) const = 0;
    virtual const MinMaxSummary& summary(int series) const = 0;
    // Samples further apart than this are not joined by a line.
    virtual qint64 gapMs() const = 0;

    // No samples held.
    bool isEmpty() const { return firstIndex() >= endIndex(); }
    // Where no sample is held near `time`: the last value of series `series` summarised
    // around it, when there is one.
    virtual std::optional<qint32> summaryValueAt(int series, qint64 time) const
    {
        Q_UNUSED(series);
        Q_UNUSED(time);
        return std::nullopt;
    }
    // Anything to draw: samples held, or a summary of samples not held.
    virtual bool hasData() const { return !isEmpty(); }
    // First held index with a time at or after `time` (endIndex() when none).
    qint64 indexAtOrAfter(qint64 time) const;
    // The sample nearest to `time` when it lies within gapMs() of it.
    std::optional<qint64> nearestIndex(qint64 time) const;
    // Series `series` over [t0, t1) folded into `width` pixel columns, with the samples
    // just outside the view so lines run on to the edges.
    virtual std::vector<ChartColumn> columns(int series, qint64 t0, qint64 t1, int width) const;
};

} // namespace kelvaro

namespace kelvaro {

// `time` (milliseconds since the epoch) as local "yyyy-MM-dd HH:mm:ss", followed by the
// offset from UTC (" +02:00") when the clock shows that time twice that day.
QString localTimeText(qint64 time);

// The samples of [t0, t1] as CSV for a spreadsheet: a header line "time,<series> [unit],..."
// then one row per sample, the time as localTimeText writes it, values converted as
// valueFileText does ("." decimals), an empty cell for a missing value. Lines end with
// CR LF, as the log files do.
QByteArray chartCsv(const ChartData& data, qint64 t0, qint64 t1, const ValueUnits& units);

} // namespace kelvaro
