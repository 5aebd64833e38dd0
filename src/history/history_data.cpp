#include "history/history_data.h"

#include "history/daily_report.h"
#include "history/log_line.h"

#include <QDateTime>
#include <QTimeZone>
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

int offsetAt(qint64 secondsSinceEpoch)
{
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch).offsetFromUtc();
}

} // namespace

DayClock::DayClock(const QDate& date)
{
    m_localEpoch = QDateTime(date, QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
    // The offsets in force at noon of the day before and of the day after: a change of the
    // clock lies between them, never at the very edge of the day.
    const qint64 lowNoon = m_localEpoch - 12 * 3600;
    const qint64 highNoon = m_localEpoch + 36 * 3600;
    qint64 low = lowNoon - offsetAt(lowNoon);
    qint64 high = highNoon - offsetAt(highNoon);
    m_before = offsetAt(low);
    m_after = offsetAt(high);
    if (steady())
        return;
    // The first moment in the later offset, found by halving.
    while (high - low > 1) {
        const qint64 mid = low + (high - low) / 2;
        (offsetAt(mid) == m_before ? low : high) = mid;
    }
    m_transition = high;
}

qint64 DayClock::resolve(int secondOfDay)
{
    const qint64 local = m_localEpoch + secondOfDay;
    if (steady())
        return local - m_before;
    const qint64 before = local - m_before;
    const qint64 after = local - m_after;
    const bool asBefore = before < m_transition;
    const bool asAfter = after >= m_transition;
    if (asBefore && asAfter) {
        // A repeated time: the later one once the clock was seen to step back.
        if (m_previous > secondOfDay)
            m_later = true;
        m_previous = secondOfDay;
        return m_later ? after : before;
    }
    m_previous = -1;
    if (asAfter) {
        m_later = true;
        return after;
    }
    return before; // also a time the clock skipped (a hand edit): read in the earlier offset
}

// What reading a day needs besides the day itself, kept by a reading thread from one day
// to the next so that a long range costs no allocation per day.
struct HistoryData::Scratch
{
    std::array<WidthRows, MaxLogColumns + 1> byWidth;
    std::vector<size_t> order;
    std::vector<qint32> steps;
};

HistoryData::Day HistoryData::readDay(const QDate& date, std::string_view bytes,
                                      const QStringList& loggedNames)
{
    Scratch scratch;
    return readDay(date, bytes, loggedNames, scratch, true);
}

HistoryData::Day HistoryData::readDay(const QDate& date, std::string_view bytes,
                                      const QStringList& loggedNames, Scratch& scratch,
                                      bool keepLines)
{
    const ColumnKinds kinds = columnKinds(loggedNames);
    DayClock clock(date);

    for (WidthRows& rows : scratch.byWidth) {
        rows.seconds.clear();
        rows.values.clear();
    }
    const LogScanCount count = scanLogBytes(bytes, [&](const LogLine& line) {
        WidthRows& rows = scratch.byWidth[size_t(line.count)];
        rows.seconds.push_back(qint32(clock.resolve(line.secondOfDay)));
        for (int c = 0; c < line.count; ++c)
            rows.values.push_back(canonicalValue(kinds[size_t(c)], line.values[size_t(c)]));
    });

    Day day;
    day.date = date;
    day.lines = count.lines;
    day.start = clock.start();
    day.end = clock.end();
    day.held = keepLines;
    int best = 0;
    for (int w = MaxLogColumns; w >= 0; --w) {
        if (scratch.byWidth[size_t(w)].seconds.size() >
            scratch.byWidth[size_t(best)].seconds.size())
            best = w;
    }
    const WidthRows& rows = scratch.byWidth[size_t(best)];
    const size_t n = rows.seconds.size();
    day.skipped = day.lines - qint64(n);
    if (n == 0) {
        day.buckets = std::make_shared<const std::vector<Bucket>>();
        return day;
    }
    day.width = best;
    const auto width = size_t(best);

    // Time order (a hand-edited file).
    std::vector<size_t>& order = scratch.order;
    order.resize(n);
    std::iota(order.begin(), order.end(), size_t(0));
    if (!std::is_sorted(rows.seconds.begin(), rows.seconds.end()))
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return rows.seconds[a] < rows.seconds[b]; });
    if (keepLines) {
        day.seconds.resize(n);
        day.values.resize(n * width);
        for (size_t i = 0; i < n; ++i) {
            const size_t from = order[i];
            day.seconds[i] = rows.seconds[from];
            for (size_t c = 0; c < width; ++c)
                day.values[c * n + i] = rows.values[from * width + c];
        }
    }

    // The summary, in time order.
    const int bucketCount = day.bucketCount();
    auto buckets = std::make_shared<std::vector<Bucket>>(size_t(bucketCount) * width);
    for (size_t i = 0; i < n; ++i) {
        const size_t from = order[i];
        const qint32 t = rows.seconds[from];
        const auto b =
            size_t(std::clamp<qint64>((t - day.start) / BucketSeconds, 0, bucketCount - 1));
        for (size_t c = 0; c < width; ++c) {
            Bucket& k = (*buckets)[c * size_t(bucketCount) + b];
            const qint32 v = rows.values[from * width + c];
            if (k.count == 0) {
                k = {t, t, v, v, v, v, 1};
            } else {
                k.tLast = t;
                k.min = std::min(k.min, v);
                k.max = std::max(k.max, v);
                k.last = v;
                ++k.count;
            }
        }
    }
    day.buckets = std::move(buckets);

    if (n > 1) {
        std::vector<qint32>& steps = scratch.steps;
        steps.resize(n - 1);
        for (size_t i = 1; i < n; ++i)
            steps[i - 1] = rows.seconds[order[i]] - rows.seconds[order[i - 1]];
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
    const bool keepLines = files.size() <= size_t(DetailDays);
    std::vector<Day> days(files.size());
    std::vector<QString> failures(files.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        LogFileBytes file; // one buffer per thread
        Scratch scratch;
        for (size_t i = next++; i < files.size(); i = next++) {
            if (file.open(files[i].path, logDayMayChange(files[i].date), &failures[i])) {
                days[i] = readDay(files[i].date, file.bytes(), loggedNames, scratch, keepLines);
                days[i].path = files[i].path;
            } else if (failures[i].isEmpty()) {
                failures[i] = QStringLiteral("cannot be read");
            }
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
    : m_names(loggedNames), m_days(std::move(days))
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
    for (int t = 1; t < threads && t < width && m_count > 0; ++t)
        pool.emplace_back(build);
    build();
    for (std::thread& t : pool)
        t.join();
}

std::unique_ptr<HistoryData> HistoryData::withDetail(const QDate& from, const QDate& to) const
{
    LogFileBytes file;
    return withDetail(from, to, [this, &file](const Day& day) -> std::optional<Day> {
        if (!file.open(day.path, logDayMayChange(day.date)))
            return std::nullopt;
        return readDay(day.date, file.bytes(), m_names);
    });
}

std::unique_ptr<HistoryData> HistoryData::withDetail(const QDate& from, const QDate& to,
                                                     const DayReader& reader) const
{
    std::vector<Day> days;
    days.reserve(m_days.size());
    for (const Day& day : m_days) {
        const bool wanted = day.date >= from && day.date <= to;
        if (wanted && !day.held) {
            Day read = day;
            if (std::optional<Day> again = reader(day)) {
                // The counts and the summary stay those of the first reading, so the
                // lines match them only when the file has not changed since.
                if (again->width == day.width && again->lines == day.lines) {
                    read.seconds = std::move(again->seconds);
                    read.values = std::move(again->values);
                    read.held = true;
                }
            }
            days.push_back(std::move(read));
        } else if (!wanted && day.held) {
            Day summary;
            summary.date = day.date;
            summary.path = day.path;
            summary.lines = day.lines;
            summary.skipped = day.skipped;
            summary.width = day.width;
            summary.medianStepMs = day.medianStepMs;
            summary.start = day.start;
            summary.end = day.end;
            summary.buckets = day.buckets;
            days.push_back(std::move(summary));
        } else {
            days.push_back(day);
        }
    }
    return std::make_unique<HistoryData>(std::move(days), m_names);
}

bool HistoryData::holdsLines(qint64 t0, qint64 t1) const
{
    for (const Day& day : m_days) {
        if (!day.held && day.lines > day.skipped && day.start * 1000 < t1 && day.end * 1000 > t0)
            return false;
    }
    return true;
}

std::vector<ChartColumn> HistoryData::columns(int series, qint64 t0, qint64 t1, int width) const
{
    if (holdsLines(t0, t1))
        return ChartData::columns(series, t0, t1, width);
    if (width <= 0 || t1 <= t0)
        return {};
    ColumnFolder folder(t0, t1, width, m_gapMs);
    for (const Day& day : m_days) {
        if (day.end * 1000 <= t0 || day.start * 1000 >= t1)
            continue;
        if (series >= day.width) {
            folder.breakLine();
            continue;
        }
        const int count = day.bucketCount();
        const Bucket* b = day.buckets->data() + size_t(series) * size_t(count);
        for (int i = 0; i < count; ++i, ++b) {
            if (b->count == 0 || qint64(b->tLast) * 1000 < t0 || qint64(b->tFirst) * 1000 >= t1)
                continue;
            folder.add({qint64(b->tFirst) * 1000, qint64(b->tLast) * 1000, b->min, b->max, b->first,
                        b->last, b->count});
        }
    }
    return folder.take();
}

std::optional<qint32> HistoryData::summaryValueAt(int series, qint64 time) const
{
    const qint64 second = time / 1000;
    for (const Day& day : m_days) {
        if (day.held || series >= day.width || second < day.start || second >= day.end)
            continue;
        const int count = day.bucketCount();
        const Bucket& b = (*day.buckets)[size_t(series) * size_t(count) +
                                         size_t((second - day.start) / BucketSeconds)];
        if (b.count > 0)
            return b.last;
    }
    return std::nullopt;
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

QByteArray historyCsv(const HistoryData& data, qint64 t0, qint64 t1, const ValueUnits& units)
{
    QByteArray out = chartCsv(data, t0, t1, units);
    if (data.holdsLines(t0, t1 + 1))
        return out;
    // Only the header came from the lines held; the rows are read one day at a time.
    out.truncate(out.indexOf("\r\n") + 2);
    for (const HistoryData::Day& day : data.days()) {
        if (day.end * 1000 <= t0 || day.start * 1000 > t1)
            continue;
        const QByteArray rows =
            chartCsv(*data.withDetail(day.date, day.date), std::max(t0, day.start * 1000),
                     std::min(t1, day.end * 1000 - 1), units);
        out += rows.mid(rows.indexOf("\r\n") + 2);
    }
    return out;
}

} // namespace kelvaro
