#pragma once
// Decimation for charts: a small multi-level min/max summary of one series, built while
// the samples arrive, and the fold of a time range into one min/max per pixel column, so
// a ten-minute and a one-year view cost about the same to draw.

#include <QtGlobal>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace kelvaro {

// A sample that does not exist (a column a day's lines do not have).
inline constexpr qint32 MissingValue = std::numeric_limits<qint32>::min();

// The summary of a run of samples: their time span and values. `count` is 0 when every
// sample of the run was missing.
struct SummaryEntry
{
    qint64 tFirst = 0; // milliseconds since the epoch
    qint64 tLast = 0;
    qint32 min = 0;
    qint32 max = 0;
    qint32 first = 0;
    qint32 last = 0;
    qint32 count = 0;

    static SummaryEntry sample(qint64 time, qint32 value);
    void merge(const SummaryEntry& next);
};

// Levels above the samples: level l summarises 16^l consecutive samples. Held as rings of
// the size a bounded series needs, so a ring buffer of samples can drop its oldest.
class MinMaxSummary
{
public:
    static constexpr int Fanout = 16;
    static constexpr int Levels = 5; // up to blocks of 16^5 (about a million) samples

    // `capacity`: the most samples held at once (0: no limit, nothing is ever dropped).
    explicit MinMaxSummary(qint64 capacity = 0);

    // Adds sample number `index` (indices count up from 0 without holes).
    void append(qint64 index, qint64 time, qint32 value);
    void clear();

    static qint64 blockSize(int level);
    // The complete block `block` of `level` (1..Levels); the caller keeps to blocks that
    // are complete and still held.
    const SummaryEntry& entry(int level, qint64 block) const;

private:
    qint64 m_capacity = 0;
    std::vector<std::vector<SummaryEntry>> m_levels; // index 0 is level 1
    std::vector<SummaryEntry> m_open;                // the block being filled, per level
    std::array<qint64, Levels> m_ringSizes{};        // with a capacity: each level's ring
};

// One pixel column of a folded series.
struct ChartColumn
{
    int column = 0; // may be -1 or `width` for the samples just outside the view
    qint32 min = 0; // canonical values
    qint32 max = 0;
    qint32 first = 0;
    qint32 last = 0;
    bool joined = false; // a line runs from the previous column's last value to `first`
};

// Gathers summary entries, in time order, into pixel columns spanning [t0, t1).
// Consecutive data more than `gapMs` apart, or separated by missing samples, is not joined.
class ColumnFolder
{
public:
    ColumnFolder(qint64 t0, qint64 t1, int width, qint64 gapMs)
        : m_t0(t0), m_width(width), m_gapMs(gapMs), m_scale(double(width) / double(t1 - t0))
    {
    }

    void add(const SummaryEntry& e)
    {
        if (e.count == 0) {
            m_havePrevious = false; // missing samples break the line
            return;
        }
        const double x = std::floor(double(e.tFirst - m_t0) * m_scale);
        const int column = int(std::clamp(x, -1.0, double(m_width)));
        const bool joined = m_havePrevious && e.tFirst - m_previous.tLast <= m_gapMs;
        if (!m_out.empty() && m_out.back().column == column && m_havePrevious) {
            ChartColumn& c = m_out.back();
            c.min = std::min(c.min, e.min);
            c.max = std::max(c.max, e.max);
            c.last = e.last;
        } else {
            m_out.push_back({column, e.min, e.max, e.first, e.last, joined});
        }
        m_previous = e;
        m_havePrevious = true;
    }
    // Breaks the line, as a missing sample does.
    void breakLine() { m_havePrevious = false; }
    std::vector<ChartColumn> take() { return std::move(m_out); }

private:
    qint64 m_t0;
    int m_width;
    qint64 m_gapMs;
    double m_scale;
    bool m_havePrevious = false;
    SummaryEntry m_previous;
    std::vector<ChartColumn> m_out;
};

// Folds samples [begin, end) into `width` columns spanning [t0, t1) (see ColumnFolder).
// `raw` gives time(i) and value(i) of a held sample. Returns at most width + 2 columns.
template <class Raw>
std::vector<ChartColumn> foldColumns(const MinMaxSummary& summary, const Raw& raw, qint64 begin,
                                     qint64 end, qint64 t0, qint64 t1, int width, qint64 gapMs)
{
    if (begin >= end || width <= 0 || t1 <= t0)
        return {};
    // The coarsest level that still gives about two entries per column.
    int top = 0;
    while (top < MinMaxSummary::Levels &&
           (end - begin) / MinMaxSummary::blockSize(top + 1) >= 2 * qint64(width))
        ++top;

    ColumnFolder folder(t0, t1, width, gapMs);
    for (qint64 p = begin; p < end;) {
        int level = top;
        while (level > 0 && (p % MinMaxSummary::blockSize(level) != 0 ||
                             p + MinMaxSummary::blockSize(level) > end))
            --level;
        if (level == 0) {
            const qint32 v = raw.value(p);
            folder.add(v == MissingValue ? SummaryEntry{} : SummaryEntry::sample(raw.time(p), v));
            ++p;
        } else {
            folder.add(summary.entry(level, p / MinMaxSummary::blockSize(level)));
            p += MinMaxSummary::blockSize(level);
        }
    }
    return folder.take();
}

// First index in [begin, end) whose time is at or after `time` (end when none): the
// times must not decrease.
template <class Raw> qint64 lowerBoundTime(const Raw& raw, qint64 begin, qint64 end, qint64 time)
{
    while (begin < end) {
        const qint64 mid = begin + (end - begin) / 2;
        if (raw.time(mid) < time)
            begin = mid + 1;
        else
            end = mid;
    }
    return begin;
}

} // namespace kelvaro
