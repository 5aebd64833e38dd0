#include "history/history_data.h"

#include "history/daily_report.h"
#include "history/log_line.h"

#include <QDateTime>
#include <algorithm>
#include <atomic>
#include <numeric>
#include <thread>

namespace kelvaro {

namespace {

// The lines of one column count, row after row.
struct WidthRows
{
    std::vector<qint32> seconds;
    std::vector<qint32> values;
};

} // namespace

HistoryData::Day HistoryData::readDay(const QDate& date, std::string_view bytes,
                                      const QStringList& loggedNames)
{
    const ColumnKinds kinds = columnKinds(loggedNames);
    const QDateTime midnight(date, QTime(0, 0));
    const QDateTime nextMidnight(date.addDays(1), QTime(0, 0));
    // On a day without a change of the clock, a line's time is midnight plus its seconds.
    const bool steady = midnight.offsetFromUtc() == nextMidnight.offsetFromUtc() &&
                        midnight.secsTo(nextMidnight) == 86400;
    const qint64 dayStart = midnight.toSecsSinceEpoch();

    std::array<std::unique_ptr<WidthRows>, MaxLogColumns + 1> byWidth;
    const LogScanCount count = scanLogBytes(bytes, [&](const LogLine& line) {
        auto& slot = byWidth[size_t(line.count)];
        if (!slot)
            slot = std::make_unique<WidthRows>();
        const qint64 t =
            steady ? dayStart + line.secondOfDay
                   : QDateTime(date, QTime(0, 0).addSecs(line.secondOfDay)).toSecsSinceEpoch();
        slot->seconds.push_back(qint32(t));
        for (int c = 0; c < line.count; ++c)
            slot->values.push_back(canonicalValue(kinds[size_t(c)], line.values[size_t(c)]));
    });

    Day day;
    day.date = date;
    day.lines = count.lines;
    int best = -1;
    for (int w = MaxLogColumns; w >= 0; --w) {
        const auto& rows = byWidth[size_t(w)];
        if (rows && (best < 0 || rows->seconds.size() > byWidth[size_t(best)]->seconds.size()))
            best = w;
    }
    if (best < 0) {
        day.skipped = day.lines;
        return day;
    }
    WidthRows& rows = *byWidth[size_t(best)];
    const size_t n = rows.seconds.size();
    day.width = best;
    day.skipped = day.lines - qint64(n);

    // Time order (a hand-edited file, or the hour repeated when summer time ends).
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t(0));
    if (!std::is_sorted(rows.seconds.begin(), rows.seconds.end()))
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return rows.seconds[a] < rows.seconds[b]; });
    day.seconds.resize(n);
    day.values.resize(n * size_t(best));
    for (size_t i = 0; i < n; ++i) {
        const size_t from = order[i];
        day.seconds[i] = rows.seconds[from];
        for (size_t c = 0; c < size_t(best); ++c)
            day.values[c * n + i] = rows.values[from * size_t(best) + c];
    }

    if (n > 1) {
        std::vector<qint32> steps(n - 1);
        for (size_t i = 1; i < n; ++i)
            steps[i - 1] = day.seconds[i] - day.seconds[i - 1];
        auto middle = steps.begin() + std::ptrdiff_t(steps.size() / 2);
        std::nth_element(steps.begin(), middle, steps.end());
        day.medianStepMs = qint64(*middle) * 1000;
    }
    return day;
}

std::unique_ptr<HistoryData> HistoryData::load(const std::vector<LogDayFile>& files,
                                               const QStringList& loggedNames, int threads,
                                               QStringList* errors)
{
    std::vector<Day> days(files.size());
    std::vector<QString> failures(files.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        LogFileBytes file; // one buffer per thread
        for (size_t i = next++; i < files.size(); i = next++) {
            if (file.open(files[i].path, logDayMayChange(files[i].date), &failures[i]))
                days[i] = readDay(files[i].date, file.bytes(), loggedNames);
            else if (failures[i].isEmpty())
                failures[i] = QStringLiteral("cannot be read");
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads && size_t(t) < files.size(); ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& t : pool)
        t.join();

    std::vector<Day> read;
    read.reserve(days.size());
    for (size_t i = 0; i < files.size(); ++i) {
        if (failures[i].isEmpty())
            read.push_back(std::move(days[i]));
        else if (errors)
            errors->append(files[i].path + QStringLiteral(": ") + failures[i]);
    }
    return std::make_unique<HistoryData>(std::move(read), loggedNames, threads);
}

HistoryData::HistoryData(std::vector<Day> days, const QStringList& loggedNames, int threads)
    : m_days(std::move(days))
{
    int width = 0;
    qint64 step = 0;
    for (const Day& day : m_days) {
        m_offsets.push_back(m_count);
        m_count += qint64(day.seconds.size());
        width = std::max(width, day.width);
        step = std::max(step, day.medianStepMs);
    }
    // A stretch without lines is a gap when it is clearly longer than the usual spacing.
    m_gapMs = std::max<qint64>(10000, 4 * step);

    const ColumnKinds kinds = columnKinds(loggedNames);
    for (int c = 0; c < width; ++c)
        m_series.push_back({columnName(loggedNames, c), kinds[size_t(c)]});
    m_summaries.assign(size_t(width), MinMaxSummary(0));

    std::atomic<int> nextSeries{0};
    auto build = [&] {
        for (int s = nextSeries++; s < width; s = nextSeries++) {
            MinMaxSummary& summary = m_summaries[size_t(s)];
            qint64 index = 0;
            for (const Day& day : m_days) {
                const size_t n = day.seconds.size();
                for (size_t i = 0; i < n; ++i, ++index) {
                    const qint32 v = s < day.width ? day.values[size_t(s) * n + i] : MissingValue;
                    summary.append(index, qint64(day.seconds[i]) * 1000, v);
                }
            }
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads && t < width; ++t)
        pool.emplace_back(build);
    build();
    for (std::thread& t : pool)
        t.join();
}

qint64 HistoryData::totalLines() const
{
    qint64 total = 0;
    for (const Day& day : m_days)
        total += day.lines;
    return total;
}

qint64 HistoryData::totalSkipped() const
{
    qint64 total = 0;
    for (const Day& day : m_days)
        total += day.skipped;
    return total;
}

size_t HistoryData::dayOf(qint64 index) const
{
    const auto it = std::upper_bound(m_offsets.begin(), m_offsets.end(), index);
    return size_t(it - m_offsets.begin()) - 1;
}

qint64 HistoryData::timeAt(qint64 index) const
{
    const size_t d = dayOf(index);
    return qint64(m_days[d].seconds[size_t(index - m_offsets[d])]) * 1000;
}

qint32 HistoryData::valueAt(int series, qint64 index) const
{
    const size_t d = dayOf(index);
    const Day& day = m_days[d];
    if (series >= day.width)
        return MissingValue;
    return day.values[size_t(series) * day.seconds.size() + size_t(index - m_offsets[d])];
}

} // namespace kelvaro
