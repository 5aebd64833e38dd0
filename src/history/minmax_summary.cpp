#include "history/minmax_summary.h"

namespace kelvaro {

SummaryEntry SummaryEntry::sample(qint64 time, qint32 value)
{
    return {time, time, value, value, value, value, 1};
}

void SummaryEntry::merge(const SummaryEntry& next)
{
    if (next.count == 0)
        return;
    if (count == 0) {
        *this = next;
        return;
    }
    tLast = next.tLast;
    min = std::min(min, next.min);
    max = std::max(max, next.max);
    last = next.last;
    count += next.count;
}

MinMaxSummary::MinMaxSummary(qint64 capacity) : m_capacity(capacity)
{
    m_levels.resize(Levels);
    m_open.resize(Levels);
    if (m_capacity > 0) {
        // Ring sizes are fixed here; the rings fill as blocks complete (see append).
        for (int level = 1; level <= Levels; ++level) {
            m_ringSizes[size_t(level - 1)] = m_capacity / blockSize(level) + 2;
            m_levels[size_t(level - 1)].reserve(size_t(m_ringSizes[size_t(level - 1)]));
        }
    }
}

qint64 MinMaxSummary::blockSize(int level)
{
    qint64 size = 1;
    for (int l = 0; l < level; ++l)
        size *= Fanout;
    return size;
}

void MinMaxSummary::append(qint64 index, qint64 time, qint32 value)
{
    // A missing sample adds nothing; a block of only missing samples has count 0.
    SummaryEntry done = value == MissingValue ? SummaryEntry{} : SummaryEntry::sample(time, value);
    for (int level = 1; level <= Levels; ++level) {
        SummaryEntry& open = m_open[size_t(level - 1)];
        const qint64 size = blockSize(level);
        open.merge(done);
        if ((index + 1) % size != 0)
            return;
        std::vector<SummaryEntry>& ring = m_levels[size_t(level - 1)];
        const qint64 block = index / size;
        if (m_capacity > 0) {
            const auto position = size_t(block % m_ringSizes[size_t(level - 1)]);
            if (position == ring.size())
                ring.push_back(open);
            else
                ring[position] = open;
        } else {
            ring.push_back(open);
        }
        done = open;
        open = SummaryEntry{};
    }
}

void MinMaxSummary::clear()
{
    for (auto& open : m_open)
        open = SummaryEntry{};
    if (m_capacity == 0) {
        for (auto& level : m_levels)
            level.clear();
    }
}

const SummaryEntry& MinMaxSummary::entry(int level, qint64 block) const
{
    const std::vector<SummaryEntry>& ring = m_levels[size_t(level - 1)];
    if (m_capacity > 0)
        return ring[size_t(block % m_ringSizes[size_t(level - 1)])];
    return ring[size_t(block)];
}

} // namespace kelvaro
