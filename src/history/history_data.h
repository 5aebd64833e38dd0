#pragma once
// Recorded days for the chart: a range of daily log files read into a five-minute min/max
// summary per column (what a long range is drawn from, a few bytes per day), and the
// usable lines themselves only for the few days a close view needs.

#include "history/chart_data.h"
#include "history/log_files.h"

#include <QDate>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace kelvaro {

// A day's "hh:mm:ss" times turned into real time by the local zone's rules, read in file
// order. On the day the clock goes back, the repeated hour is first taken in the earlier
// offset and, from the line where the time steps back, in the later one; on the day it
// goes forward the missing hour simply has no lines.
class DayClock
{
public:
    explicit DayClock(const QDate& date);

    // Seconds since the epoch of the next line's time of day.
    qint64 resolve(int secondOfDay);
    // True when the day has no change of the clock.
    bool steady() const { return m_before == m_after; }
    // Seconds since the epoch of the day's first and last moment (exclusive).
    qint64 start() const { return m_localEpoch - m_before; }
    qint64 end() const { return m_localEpoch + 86400 - m_after; }

private:
    qint64 m_localEpoch = 0; // the day's midnight as if local time were UTC
    int m_before = 0;        // offsets from UTC before and after the change, seconds
    int m_after = 0;
    qint64 m_transition = 0; // the change, seconds since the epoch
    bool m_later = false;    // the clock has gone back: repeated times are the later ones
    int m_previous = -1;     // the previous line's time of day, when it was a repeated one
};

class HistoryData final : public ChartData
{
public:
    // The width of a summary bucket.
    static constexpr qint64 BucketSeconds = 300;
    // Ranges of at most this many days are read whole; longer ones as their summary, with
    // the lines of a close view read on demand (withDetail).
    static constexpr int DetailDays = 7;

    // A column's values within one bucket (times in seconds since the epoch).
    struct Bucket
    {
        qint32 tFirst = 0;
        qint32 tLast = 0;
        qint32 min = 0;
        qint32 max = 0;
        qint32 first = 0;
        qint32 last = 0;
        qint32 count = 0;
    };

    // One day: its counts and summary, and its usable lines (those with the column count
    // most of them have, as the report counts them) when held, in time order.
    struct Day
    {
        QDate date;
        QString path;
        qint64 lines = 0;
        qint64 skipped = 0;
        int width = 0; // value columns
        qint64 medianStepMs = 0;
        qint64 start = 0; // the day in real time, seconds since the epoch
        qint64 end = 0;
        // Column after column, a bucket per BucketSeconds from `start`; shared by the
        // copies withDetail makes.
        std::shared_ptr<const std::vector<Bucket>> buckets;
        bool held = false;           // the lines below are the day's
        std::vector<qint32> seconds; // seconds since the epoch, per line
        std::vector<qint32> values;  // column after column: values[c * lines + i]

        int bucketCount() const { return int((end - start + BucketSeconds - 1) / BucketSeconds); }
    };

    // Parses one file's bytes for `date` (local time, clock changes resolved by DayClock).
    // `loggedNames` make the canonical values.
    static Day readDay(const QDate& date, std::string_view bytes, const QStringList& loggedNames);

    // Reads the files on up to `threads` threads, keeping the lines when there are at most
    // DetailDays of them; a file that cannot be read is left out and named in `errors`
    // ("<path>: <reason>").
    static std::unique_ptr<HistoryData> load(const std::vector<LogDayFile>& files,
                                             const QStringList& loggedNames, int threads,
                                             QStringList* errors = nullptr);
    // Builds from days already read, in date order.
    HistoryData(std::vector<Day> days, const QStringList& loggedNames, int threads = 1);

    // The same days holding the lines of those from `from` to `to` only (read again from
    // their files; a file gone since is drawn from its summary).
    std::unique_ptr<HistoryData> withDetail(const QDate& from, const QDate& to) const;
    // The same, the lines of a day read by `read` (none: drawn from its summary); for days
    // that come from elsewhere than a file here.
    using DayReader = std::function<std::optional<Day>(const Day& day)>;
    std::unique_ptr<HistoryData> withDetail(const QDate& from, const QDate& to,
                                            const DayReader& read) const;
    // Whether every day with lines in [t0, t1) holds them.
    bool holdsLines(qint64 t0, qint64 t1) const;

    const std::vector<Day>& days() const { return m_days; }
    qint64 totalLines() const;
    qint64 totalSkipped() const;

    int seriesCount() const override { return int(m_series.size()); }
    ChartSeries series(int index) const override { return m_series[size_t(index)]; }
    qint64 firstIndex() const override { return 0; }
    qint64 endIndex() const override { return m_count; }
    qint64 timeAt(qint64 index) const override;
    qint32 valueAt(int series, qint64 index) const override;
    const MinMaxSummary& summary(int series) const override { return m_summaries[size_t(series)]; }
    qint64 gapMs() const override { return m_gapMs; }
    bool hasData() const override { return totalLines() > totalSkipped(); }
    // The last value of the bucket holding `time`, of a day whose lines are not held.
    std::optional<qint32> summaryValueAt(int series, qint64 time) const override;
    // From the lines where held, otherwise from the buckets.
    std::vector<ChartColumn> columns(int series, qint64 t0, qint64 t1, int width) const override;

private:
    struct Scratch;
    static Day readDay(const QDate& date, std::string_view bytes, const QStringList& loggedNames,
                       Scratch& scratch, bool keepLines);
    size_t dayOf(qint64 index) const;

    QStringList m_names;
    std::vector<Day> m_days;
    std::vector<qint64> m_offsets; // first global index of each day
    qint64 m_count = 0;
    qint64 m_gapMs = 10000;
    std::vector<ChartSeries> m_series;
    std::vector<MinMaxSummary> m_summaries;
};

// The samples of [t0, t1] as chartCsv writes them, reading the lines of days not held
// one day at a time.
QByteArray historyCsv(const HistoryData& data, qint64 t0, qint64 t1, const ValueUnits& units);

} // namespace kelvaro
