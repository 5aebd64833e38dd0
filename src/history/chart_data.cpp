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

#include <QDateTime>

namespace kelvaro {

QString localTimeText(qint64 time)
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(time);
    const QString text = t.toString(format);
    const int offset = t.offsetFromUtc();
    constexpr qint64 DayMs = 86400LL * 1000;
    for (const qint64 probe : {time - DayMs, time + DayMs}) {
        const int other = QDateTime::fromMSecsSinceEpoch(probe).offsetFromUtc();
        if (other == offset)
            continue;
        // The same wall-clock time in the other offset, if the clock shows it.
        const QDateTime twin = QDateTime::fromMSecsSinceEpoch(time + qint64(offset - other) * 1000);
        if (twin.offsetFromUtc() == other && twin.toString(format) == text) {
            const int minutes = std::abs(offset) / 60;
            return text + QStringLiteral(" %1%2:%3")
                              .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                              .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
        }
    }
    return text;
}

QByteArray chartCsv(const ChartData& data, qint64 t0, qint64 t1, const ValueUnits& units)
{
    QByteArray out = "time";
    for (int s = 0; s < data.seriesCount(); ++s) {
        const ChartSeries series = data.series(s);
        QString unit = series.kind == FieldKind::Duration ? QStringLiteral(" [m:ss]")
                                                          : unitText(series.kind, units).trimmed();
        if (!unit.isEmpty() && !unit.startsWith(QLatin1Char(' ')))
            unit = QStringLiteral(" [") + unit + QLatin1Char(']');
        if (series.kind == FieldKind::Relay)
            unit = QStringLiteral(" [on=1]");
        out += ',' + (series.name + unit).toUtf8();
    }
    out += "\r\n";
    const qint64 end = data.indexAtOrAfter(t1 + 1);
    for (qint64 i = data.indexAtOrAfter(t0); i < end; ++i) {
        out += localTimeText(data.timeAt(i)).toLatin1();
        for (int s = 0; s < data.seriesCount(); ++s) {
            out += ',';
            const qint32 v = data.valueAt(s, i);
            if (v != MissingValue)
                out += valueFileText(data.series(s).kind, v, units).toUtf8();
        }
        out += "\r\n";
    }
    return out;
}

} // namespace kelvaro
