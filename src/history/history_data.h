#pragma once
// Recorded days for the chart: the usable lines of a range of daily log files, one series
// per logged column with its meaning, and their min/max summaries.

#include "history/chart_data.h"
#include "history/log_files.h"

#include <QDate>
#include <QStringList>
#include <memory>
#include <string_view>
#include <vector>

namespace kelvaro {

class HistoryData final : public ChartData
{
public:
    // One day's usable lines: those with the column count most of them have (as the
    // report counts them), in time order.
    struct Day
    {
        QDate date;
        qint64 lines = 0;
        qint64 skipped = 0;
        int width = 0;               // value columns
        std::vector<qint32> seconds; // seconds since the epoch, per line
        std::vector<qint32> values;  // column after column: values[c * lines + i]
        qint64 medianStepMs = 0;     // typical spacing of the lines
    };

    // Parses one file's bytes for `date` (local time; both hours of a day that changes to
    // or from summer time are placed right). `kinds` make the canonical values.
    static Day readDay(const QDate& date, std::string_view bytes, const QStringList& loggedNames);

    // Reads the files on up to `threads` threads; a file that cannot be read is left out
    // and named in `errors` ("<path>: <reason>").
    static std::unique_ptr<HistoryData> load(const std::vector<LogDayFile>& files,
                                             const QStringList& loggedNames, int threads,
                                             QStringList* errors = nullptr);
    // Builds from days already read, in date order.
    HistoryData(std::vector<Day> days, const QStringList& loggedNames, int threads = 1);

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

private:
    size_t dayOf(qint64 index) const;

    std::vector<Day> m_days;
    std::vector<qint64> m_offsets; // first global index of each day
    qint64 m_count = 0;
    qint64 m_gapMs = 10000;
    std::vector<ChartSeries> m_series;
    std::vector<MinMaxSummary> m_summaries;
};

} // namespace kelvaro
