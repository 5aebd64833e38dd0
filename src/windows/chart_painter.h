#pragma once
// Draws chart data with QPainter: temperatures against the set-points on a real time
// axis, relay times and other numbers in lanes of their own, the relay as a step trace
// below. Each series hands over at most one min/max per pixel column. Used by the chart
// window and by `kelvaro --plot`.

#include "history/chart_data.h"

#include <QColor>
#include <QFontMetrics>
#include <QPainter>
#include <QRect>
#include <optional>
#include <vector>

namespace kelvaro {

struct ChartView
{
    qint64 t0 = 0; // shown time range, milliseconds since the epoch
    qint64 t1 = 1;
    // The temperature axis in the shown unit; automatic from the visible data when unset.
    std::optional<std::pair<double, double>> temperatureRange;
};

class ChartPainter
{
public:
    ChartPainter(const ChartData& data, const ValueUnits& units);

    // Lays out lanes and axes for `area` and the view; call before the others.
    void layout(const QRect& area, const ChartView& view);
    void paint(QPainter& painter) const;

    // The plotting rectangle of the time axis (inside the axes' labels).
    QRect plotRect() const { return m_plot; }
    qint64 timeAtX(double x) const;
    double xAtTime(qint64 time) const;
    // The readout at time `time`: the time and each series' value nearest to it.
    QStringList readout(qint64 time) const;

    static QColor seriesColor(int series);
    // A time-axis label for a tick `time` when ticks are `step` milliseconds apart.
    static QString timeText(qint64 time, qint64 step);

private:
    enum class LaneKind
    {
        Temperature,
        Duration,
        Number,
        Relay
    };
    struct Lane
    {
        LaneKind kind = LaneKind::Number;
        std::vector<int> series;
        QRect rect;
        double low = 0.0; // shown values at the bottom and top of the lane
        double high = 1.0;
    };
    double yAt(const Lane& lane, double shown) const;
    void paintLane(QPainter& painter, const Lane& lane) const;
    std::vector<qint64> timeTicks(const QFontMetrics& metrics, qint64* step) const;
    void paintTimeGrid(QPainter& painter) const;
    void paintTimeAxis(QPainter& painter) const;
    QString laneTitle(const Lane& lane) const;

    const ChartData& m_data;
    ValueUnits m_units;
    ChartView m_view;
    QRect m_area;
    QRect m_plot;
    std::vector<Lane> m_lanes;
    std::vector<std::vector<ChartColumn>> m_columns; // per series, for the current layout
};

} // namespace kelvaro
