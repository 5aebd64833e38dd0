#pragma once
// The chart area of the chart window: paints chart data through ChartPainter and lets the
// operator move in time with the mouse - the wheel zooms the time axis around the pointer,
// a drag pans it, a double-click goes back to following the clock - with a readout of the
// time and values under the pointer.

#include "windows/chart_painter.h"

#include <QImage>
#include <QPoint>
#include <QWidget>
#include <functional>
#include <optional>

namespace kelvaro {

class ChartWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ChartWidget(std::function<ValueUnits()> units, QWidget* parent = nullptr);

    void setData(const ChartData* data);
    const ChartData* data() const { return m_data; }

    ChartView view() const { return m_view; }
    void setTimeRange(qint64 t0, qint64 t1);
    void setTemperatureRange(std::optional<std::pair<double, double>> range);

    // Following: the view's end stays at the clock's "now" (live trend).
    bool following() const { return m_following; }
    void setFollowing(bool following);
    // Moves a following view to end at `now`; does nothing otherwise.
    void follow(qint64 now);

    // Exactly what the widget shows, drawn at its size.
    QImage image() const;
    int paintCount() const { return m_paints; }

Q_SIGNALS:
    void followingChanged(bool following);
    // The shown time range changed (set, zoomed, panned or following the clock).
    void viewChanged();
    // The operator zoomed the time axis to `span` milliseconds.
    void zoomed(qint64 span);
    void painted();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // Paints the chart and returns the readout's lines: at the pointer, or at the newest
    // time shown.
    QStringList draw(QPainter& painter, bool withReadout) const;

    std::function<ValueUnits()> m_units;
    const ChartData* m_data = nullptr;
    ChartView m_view;
    bool m_following = false;
    std::optional<QPoint> m_dragFrom;
    qint64 m_dragT0 = 0;
    qint64 m_dragT1 = 0;
    std::optional<QPoint> m_pointer;
    int m_paints = 0;
};

} // namespace kelvaro
