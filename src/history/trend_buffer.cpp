#include "history/trend_buffer.h"

#include "core/register_words.h"

namespace kelvaro {

TrendBuffer::TrendBuffer(qint64 capacity) : m_capacity(std::max<qint64>(capacity, 1))
{
    // Reserved, not filled: the memory becomes resident as blocks arrive, so a program
    // that runs for an hour does not carry a day's worth of samples.
    m_times.reserve(size_t(m_capacity));
    m_values.reserve(size_t(m_capacity));
    m_summaries.reserve(SeriesCount);
    for (int s = 0; s < SeriesCount; ++s)
        m_summaries.emplace_back(m_capacity);
}

qint32 TrendBuffer::seriesValue(int series, const std::array<qint32, RegisterCount>& words)
{
    switch (series) {
    case Actual:
        return canonicalValue(FieldKind::Temperature, words[reg::Actual]);
    case Average:
        return canonicalValue(FieldKind::Temperature, words[reg::Average]);
    case LowRising:
        return canonicalValue(FieldKind::Temperature, words[reg::LowRising]);
    case LowFalling:
        return canonicalValue(FieldKind::Temperature, words[reg::LowFalling]);
    case Lower:
        return canonicalValue(FieldKind::Temperature, words[reg::LowerSetpoint]);
    case Relay:
        return canonicalValue(FieldKind::Relay, highByte(words[reg::Status]));
    default:
        break;
    }
    return MissingValue;
}

ChartSeries TrendBuffer::series(int index) const
{
    switch (index) {
    case Actual:
        return {QStringLiteral("Actual Temperature"), FieldKind::Temperature};
    case Average:
        return {QStringLiteral("Average Temperature"), FieldKind::Temperature};
    case LowRising:
        return {QStringLiteral("Low Setpoint Raising"), FieldKind::Temperature};
    case LowFalling:
        return {QStringLiteral("Low Setpoint Falling"), FieldKind::Temperature};
    case Lower:
        return {QStringLiteral("Lower Setpoint"), FieldKind::Temperature};
    case Relay:
        return {QStringLiteral("Relay"), FieldKind::Relay};
    default:
        break;
    }
    return {};
}

void TrendBuffer::append(const QDateTime& time, const std::array<qint32, RegisterCount>& words)
{
    append(time.toMSecsSinceEpoch(), words);
}

void TrendBuffer::append(qint64 msecsSinceEpoch, const std::array<qint32, RegisterCount>& words)
{
    qint64 t = msecsSinceEpoch;
    if (m_end > m_first) {
        const qint64 last = timeAt(m_end - 1);
        if (t < last - 60000)
            clear();
        else
            t = std::max(t, last);
    }
    const qint64 index = m_end++;
    if (slot(index) == m_times.size()) { // still filling the ring for the first time
        m_times.push_back(t);
        m_values.emplace_back();
    }
    m_times[slot(index)] = t;
    std::array<qint16, SeriesCount>& values = m_values[slot(index)];
    for (int s = 0; s < SeriesCount; ++s) {
        const qint32 v = seriesValue(s, words);
        values[size_t(s)] = qint16(std::clamp<qint32>(v, -32768, 32767));
        m_summaries[size_t(s)].append(index, t, values[size_t(s)]);
    }
    m_first = std::max(m_first, m_end - m_capacity);
    while (m_first < m_end && m_times[slot(m_first)] < t - KeepMs)
        ++m_first;
}

void TrendBuffer::clear()
{
    m_first = m_end = 0;
    for (MinMaxSummary& summary : m_summaries)
        summary.clear();
}

qint64 TrendBuffer::timeAt(qint64 index) const
{
    return m_times[slot(index)];
}

qint32 TrendBuffer::valueAt(int series, qint64 index) const
{
    return m_values[slot(index)][size_t(series)];
}

const MinMaxSummary& TrendBuffer::summary(int series) const
{
    return m_summaries[size_t(series)];
}

} // namespace kelvaro
