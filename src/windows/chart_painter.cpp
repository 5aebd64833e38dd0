#include "windows/chart_painter.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QLocale>
#include <cmath>

namespace kelvaro {

namespace {

constexpr int LeftMargin = 64;
constexpr int RightMargin = 12;
constexpr int TopMargin = 8;
constexpr int TimeAxisHeight = 40;
constexpr int RelayLaneHeight = 40;
constexpr int LaneGap = 10;

// A "nice" step (1, 2 or 5 times a power of ten) for about `count` ticks over `span`.
double niceStep(double span, int count)
{
    if (span <= 0)
        return 1.0;
    const double raw = span / std::max(count, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (raw <= m * power)
            return m * power;
    }
    return 10.0 * power;
}

QString shownNumber(double value, double step)
{
    const int decimals = step >= 1.0 ? 0 : std::min(3, int(std::ceil(-std::log10(step))));
    return QString::number(value, 'f', decimals);
}

} // namespace

ChartPainter::ChartPainter(const ChartData& data, const ValueUnits& units)
    : m_data(data), m_units(units)
{
}

QColor ChartPainter::seriesColor(int series)
{
    static const QColor colors[] = {QColor(0xd6, 0x27, 0x28), QColor(0x1f, 0x77, 0xb4),
                                    QColor(0x2c, 0xa0, 0x2c), QColor(0xff, 0x7f, 0x0e),
                                    QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                                    QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf),
                                    QColor(0x7f, 0x7f, 0x7f), QColor(0xbc, 0xbd, 0x22)};
    return colors[size_t(series) % (sizeof colors / sizeof colors[0])];
}

QString ChartPainter::timeText(qint64 time, qint64 step)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(time);
    if (step >= 86400LL * 1000)
        return t.toString(QStringLiteral("yyyy-MM-dd"));
    if (t.time() == QTime(0, 0))
        return t.toString(QStringLiteral("MM-dd"));
    if (step < 60LL * 1000)
        return t.toString(QStringLiteral("HH:mm:ss"));
    return t.toString(QStringLiteral("HH:mm"));
}

void ChartPainter::layout(const QRect& area, const ChartView& view)
{
    m_area = area;
    m_view = view;
    if (m_view.t1 <= m_view.t0)
        m_view.t1 = m_view.t0 + 1;
    m_plot = area.adjusted(LeftMargin, TopMargin, -RightMargin, -TimeAxisHeight);

    // Lanes: temperatures, relay times, other numbers, then one strip per relay series.
    m_lanes.clear();
    Lane temperature{LaneKind::Temperature, {}, {}, 0, 1};
    Lane duration{LaneKind::Duration, {}, {}, 0, 1};
    Lane number{LaneKind::Number, {}, {}, 0, 1};
    std::vector<Lane> relays;
    for (int s = 0; s < m_data.seriesCount(); ++s) {
        switch (m_data.series(s).kind) {
        case FieldKind::Temperature:
        case FieldKind::Hysteresis:
            temperature.series.push_back(s);
            break;
        case FieldKind::Duration:
            duration.series.push_back(s);
            break;
        case FieldKind::Number:
            number.series.push_back(s);
            break;
        case FieldKind::Relay:
            relays.push_back({LaneKind::Relay, {s}, {}, -0.15, 1.9});
            break;
        }
    }
    for (Lane* lane : {&temperature, &duration, &number}) {
        if (!lane->series.empty())
            m_lanes.push_back(*lane);
    }
    for (const Lane& lane : relays)
        m_lanes.push_back(lane);

    int fixed = 0;
    int weights = 0;
    for (const Lane& lane : m_lanes) {
        if (lane.kind == LaneKind::Relay)
            fixed += RelayLaneHeight;
        else
            weights += lane.kind == LaneKind::Temperature ? 3 : 1;
        fixed += LaneGap;
    }
    const int free = std::max(0, m_plot.height() - fixed);
    int y = m_plot.top();
    for (Lane& lane : m_lanes) {
        int height = RelayLaneHeight;
        if (lane.kind != LaneKind::Relay)
            height =
                weights > 0 ? free * (lane.kind == LaneKind::Temperature ? 3 : 1) / weights : 0;
        lane.rect = QRect(m_plot.left(), y + LaneGap, m_plot.width(), height);
        y += height + LaneGap;
    }

    // The folded columns, and each lane's value range from what is visible.
    m_columns.assign(size_t(m_data.seriesCount()), {});
    for (Lane& lane : m_lanes) {
        bool any = false;
        double low = 0.0;
        double high = 0.0;
        for (const int s : lane.series) {
            m_columns[size_t(s)] = m_data.columns(s, m_view.t0, m_view.t1, m_plot.width());
            const FieldKind kind = m_data.series(s).kind;
            for (const ChartColumn& c : m_columns[size_t(s)]) {
                const double a = displayValue(kind, c.min, m_units);
                const double b = displayValue(kind, c.max, m_units);
                if (!std::isfinite(a) || !std::isfinite(b))
                    continue;
                low = any ? std::min(low, a) : a;
                high = any ? std::max(high, b) : b;
                any = true;
            }
        }
        if (lane.kind == LaneKind::Relay)
            continue;
        if (lane.kind == LaneKind::Temperature && m_view.temperatureRange &&
            m_view.temperatureRange->first < m_view.temperatureRange->second) {
            lane.low = m_view.temperatureRange->first;
            lane.high = m_view.temperatureRange->second;
            continue;
        }
        if (!any) {
            low = 0.0;
            high = 1.0;
        }
        if (lane.kind == LaneKind::Duration) {
            low /= 60.0; // relay times are drawn in minutes
            high /= 60.0;
        }
        const double pad = std::max((high - low) * 0.08, 0.5);
        lane.low = low - pad;
        lane.high = high + pad;
    }
}

qint64 ChartPainter::timeAtX(double x) const
{
    const double f = (x - m_plot.left()) / std::max(1, m_plot.width());
    return m_view.t0 + qint64(std::llround(f * double(m_view.t1 - m_view.t0)));
}

double ChartPainter::xAtTime(qint64 time) const
{
    return m_plot.left() +
           double(time - m_view.t0) * m_plot.width() / double(m_view.t1 - m_view.t0);
}

double ChartPainter::yAt(const Lane& lane, double shown) const
{
    const double f = (shown - lane.low) / (lane.high - lane.low);
    return lane.rect.bottom() - f * lane.rect.height();
}

QString ChartPainter::laneTitle(const Lane& lane) const
{
    switch (lane.kind) {
    case LaneKind::Temperature:
        return unitText(FieldKind::Temperature, m_units).trimmed();
    case LaneKind::Duration:
        return QStringLiteral("min");
    case LaneKind::Number:
    case LaneKind::Relay:
        break;
    }
    return {};
}

void ChartPainter::paint(QPainter& painter) const
{
    painter.save();
    painter.fillRect(m_area, Qt::white);
    painter.setRenderHint(QPainter::Antialiasing, false);
    paintTimeGrid(painter);
    for (const Lane& lane : m_lanes)
        paintLane(painter, lane);
    paintTimeAxis(painter);
    if (!m_data.hasData()) {
        painter.setPen(Qt::darkGray);
        painter.drawText(m_plot, Qt::AlignCenter, QStringLiteral("No data"));
    }
    painter.restore();
}

void ChartPainter::paintLane(QPainter& painter, const Lane& lane) const
{
    const QFontMetrics metrics = painter.fontMetrics();
    painter.setPen(QColor(0xc0, 0xc0, 0xc0));
    painter.drawRect(lane.rect.adjusted(0, 0, -1, -1));

    // Value axis: grid lines and labels.
    if (lane.kind == LaneKind::Relay) {
        painter.setPen(Qt::black);
        painter.drawText(QRect(m_area.left(), lane.rect.top(), LeftMargin - 6, lane.rect.height()),
                         Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("on/off"));
    } else {
        const int count = std::max(2, lane.rect.height() / 40);
        const double step = niceStep(lane.high - lane.low, count);
        for (double v = std::ceil(lane.low / step) * step; v <= lane.high; v += step) {
            const int y = int(std::lround(yAt(lane, v)));
            painter.setPen(QColor(0xe8, 0xe8, 0xe8));
            painter.drawLine(lane.rect.left() + 1, y, lane.rect.right() - 1, y);
            if (y < lane.rect.top() + metrics.height() / 2)
                continue; // room for the unit above the axis
            painter.setPen(Qt::black);
            painter.drawText(
                QRect(m_area.left(), y - metrics.height() / 2, LeftMargin - 6, metrics.height()),
                Qt::AlignRight | Qt::AlignVCenter, shownNumber(v, step));
        }
        painter.drawText(
            QRect(m_area.left(), lane.rect.top() - LaneGap, LeftMargin - 6, metrics.height()),
            Qt::AlignRight | Qt::AlignTop, laneTitle(lane));
    }

    // Series, clipped to the lane.
    painter.save();
    painter.setClipRect(lane.rect);
    QVector<QLineF> lines;
    for (const int s : lane.series) {
        const FieldKind kind = m_data.series(s).kind;
        const double scale = lane.kind == LaneKind::Duration ? 1.0 / 60.0 : 1.0;
        auto y = [&](qint32 canonical) {
            return yAt(lane, displayValue(kind, canonical, m_units) * scale);
        };
        lines.clear();
        double previousX = 0.0;
        double previousY = 0.0;
        for (const ChartColumn& c : m_columns[size_t(s)]) {
            const double x = m_plot.left() + c.column + 0.5;
            if (c.min != c.max)
                lines.append(QLineF(x, y(c.min), x, y(c.max)));
            if (c.joined) {
                if (lane.kind == LaneKind::Relay) {
                    lines.append(QLineF(previousX, previousY, x, previousY));
                    lines.append(QLineF(x, previousY, x, y(c.first)));
                } else {
                    lines.append(QLineF(previousX, previousY, x, y(c.first)));
                }
            } else if (c.min == c.max) {
                lines.append(QLineF(x - 0.5, y(c.first), x + 0.5, y(c.first)));
            }
            previousX = x;
            previousY = y(c.last);
        }
        painter.setPen(QPen(seriesColor(s), 1)); // one pixel column per column
        painter.drawLines(lines);
    }
    painter.restore();

    // Legend at the top left of the lane.
    int x = lane.rect.left() + 6;
    for (const int s : lane.series) {
        const QString name = m_data.series(s).name;
        painter.fillRect(QRect(x, lane.rect.top() + 5, 12, 3), seriesColor(s));
        painter.setPen(Qt::black);
        painter.drawText(x + 16, lane.rect.top() + 3 + metrics.ascent() - metrics.height() / 2 + 4,
                         name);
        x += 16 + metrics.horizontalAdvance(name) + 14;
    }
}

std::vector<qint64> ChartPainter::timeTicks(const QFontMetrics& metrics, qint64* stepOut) const
{
    static const qint64 steps[] = {
        1000,     2000,     5000,      10000,     15000,      30000,        60000,       120000,
        300000,   600000,   900000,    1800000,   3600000,    7200000,      10800000,    21600000,
        43200000, 86400000, 172800000, 604800000, 1209600000, 2592000000LL, 7776000000LL};
    const qint64 span = m_view.t1 - m_view.t0;
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("0000-00-00")) + 16;
    qint64 step = steps[std::size(steps) - 1];
    for (const qint64 s : steps) {
        if (double(s) * m_plot.width() / double(span) >= labelWidth) {
            step = s;
            break;
        }
    }
    // Ticks on local-time boundaries (whole minutes, hours, midnights), each placed by the
    // offset in force where it lies, so the clock may change within the view; a local time
    // the clock skipped gets none.
    auto offsetAt = [](qint64 time) {
        return qint64(QDateTime::fromMSecsSinceEpoch(time).offsetFromUtc()) * 1000;
    };
    const qint64 offset0 = offsetAt(m_view.t0);
    std::vector<qint64> ticks;
    for (qint64 local = ((m_view.t0 + offset0) / step) * step;
         local <= m_view.t1 + offset0 + 3600LL * 1000 * 2; local += step) {
        const qint64 offset = offsetAt(local - offset0);
        const qint64 tick = local - offset;
        if (offsetAt(tick) != offset)
            continue;
        if (tick >= m_view.t0 && tick <= m_view.t1 && (ticks.empty() || tick > ticks.back()))
            ticks.push_back(tick);
    }
    *stepOut = step;
    return ticks;
}

void ChartPainter::paintTimeGrid(QPainter& painter) const
{
    qint64 step = 0;
    painter.setPen(QColor(0xe8, 0xe8, 0xe8));
    for (const qint64 tick : timeTicks(painter.fontMetrics(), &step)) {
        const int x = int(std::lround(xAtTime(tick)));
        for (const Lane& lane : m_lanes)
            painter.drawLine(x, lane.rect.top() + 1, x, lane.rect.bottom() - 1);
    }
}

void ChartPainter::paintTimeAxis(QPainter& painter) const
{
    const QFontMetrics metrics = painter.fontMetrics();
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("0000-00-00")) + 16;
    qint64 step = 0;
    const int y = m_plot.bottom() + 2;
    for (const qint64 tick : timeTicks(metrics, &step)) {
        const int x = int(std::lround(xAtTime(tick)));
        painter.setPen(Qt::black);
        painter.drawLine(x, y, x, y + 4);
        const QRect label(x - labelWidth / 2, y + 5, labelWidth, metrics.height());
        if (label.left() >= m_area.left() && label.right() <= m_area.right())
            painter.drawText(label, Qt::AlignHCenter | Qt::AlignTop, timeText(tick, step));
    }
    // The range shown, from its first to its last moment.
    const QString range =
        QDateTime::fromMSecsSinceEpoch(m_view.t0).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
        QStringLiteral(" \u2013 ") +
        QDateTime::fromMSecsSinceEpoch(m_view.t1).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    painter.setPen(Qt::darkGray);
    painter.drawText(
        QRect(m_plot.left(), y + 5 + metrics.height(), m_plot.width(), metrics.height()),
        Qt::AlignRight | Qt::AlignTop, range);
}

QStringList ChartPainter::readout(qint64 time) const
{
    QStringList lines;
    lines.append(localTimeText(time));
    const std::optional<qint64> index = m_data.nearestIndex(time);
    for (int s = 0; s < m_data.seriesCount(); ++s) {
        const ChartSeries series = m_data.series(s);
        QString value = QStringLiteral("-");
        const std::optional<qint32> held = index ? std::optional<qint32>(m_data.valueAt(s, *index))
                                                 : m_data.summaryValueAt(s, time);
        if (held) {
            const qint32 canonical = *held;
            if (canonical != MissingValue) {
                value =
                    series.kind == FieldKind::Relay
                        ? (canonical ? QStringLiteral("on") : QStringLiteral("off"))
                        : valueFileText(series.kind, canonical, m_units) +
                              (series.kind == FieldKind::Duration ? QString()
                                                                  : unitText(series.kind, m_units));
            }
        }
        lines.append(series.name + QStringLiteral(": ") + value);
    }
    return lines;
}

} // namespace kelvaro
