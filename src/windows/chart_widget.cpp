#include "windows/chart_widget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

namespace kelvaro {

namespace {

// An empty chart still needs a data set to lay out its axes.
class NoData final : public ChartData
{
public:
    int seriesCount() const override { return 0; }
    ChartSeries series(int) const override { return {}; }
    qint64 firstIndex() const override { return 0; }
    qint64 endIndex() const override { return 0; }
    qint64 timeAt(qint64) const override { return 0; }
    qint32 valueAt(int, qint64) const override { return MissingValue; }
    const MinMaxSummary& summary(int) const override { return m_summary; }
    qint64 gapMs() const override { return 0; }

private:
    MinMaxSummary m_summary;
};

constexpr qint64 ShortestSpan = 10 * 1000;               // ten seconds
constexpr qint64 LongestSpan = 400LL * 24 * 3600 * 1000; // over a year

} // namespace

ChartWidget::ChartWidget(std::function<ValueUnits()> units, QWidget* parent)
    : QWidget(parent), m_units(std::move(units))
{
    setMouseTracking(true);
    setAccessibleName(QStringLiteral("Chart"));
    setMinimumSize(400, 240);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
}

void ChartWidget::setData(const ChartData* data)
{
    m_data = data;
    update();
}

void ChartWidget::setTimeRange(qint64 t0, qint64 t1)
{
    const qint64 span = std::clamp(t1 - t0, ShortestSpan, LongestSpan);
    m_view.t0 = t0;
    m_view.t1 = t0 + span;
    update();
    Q_EMIT viewChanged();
}

void ChartWidget::setTemperatureRange(std::optional<std::pair<double, double>> range)
{
    m_view.temperatureRange = range;
    update();
}

void ChartWidget::setFollowing(bool following)
{
    if (m_following == following)
        return;
    m_following = following;
    Q_EMIT followingChanged(following);
}

void ChartWidget::follow(qint64 now)
{
    if (!m_following)
        return;
    const qint64 span = m_view.t1 - m_view.t0;
    m_view.t1 = now;
    m_view.t0 = now - span;
    update();
    Q_EMIT viewChanged();
}

QStringList ChartWidget::draw(QPainter& painter, bool withReadout) const
{
    static const NoData empty;
    ChartPainter chart(m_data ? *m_data : empty, m_units());
    chart.layout(rect(), m_view);
    chart.paint(painter);
    if (!m_data || !m_data->hasData())
        return {QStringLiteral("No data")};
    const bool atPointer = m_pointer && chart.plotRect().contains(*m_pointer);
    // A long range held as its summary: read out at the end of the view.
    const qint64 newest = m_data->isEmpty()
                              ? m_view.t1 - 1
                              : std::min(m_view.t1, m_data->timeAt(m_data->endIndex() - 1));
    const QStringList lines = chart.readout(atPointer ? chart.timeAtX(m_pointer->x()) : newest);
    if (!withReadout || !atPointer)
        return lines;
    // The readout: a line at the pointer and a box of time and values beside it.
    const QRect plot = chart.plotRect();
    painter.setPen(QPen(QColor(0x60, 0x60, 0x60), 1, Qt::DashLine));
    painter.drawLine(m_pointer->x(), plot.top(), m_pointer->x(), plot.bottom());
    const QFontMetrics metrics = painter.fontMetrics();
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    QRect box(0, 0, width + 12, int(lines.size()) * metrics.height() + 8);
    box.moveTopLeft(*m_pointer + QPoint(14, 14));
    if (box.right() > plot.right())
        box.moveRight(m_pointer->x() - 14);
    if (box.bottom() > plot.bottom())
        box.moveBottom(plot.bottom());
    painter.fillRect(box, QColor(255, 255, 240, 235));
    painter.setPen(Qt::darkGray);
    painter.drawRect(box);
    for (int i = 0; i < lines.size(); ++i) {
        painter.setPen(i == 0 ? Qt::black : ChartPainter::seriesColor(i - 1));
        painter.drawText(box.left() + 6, box.top() + 4 + metrics.ascent() + i * metrics.height(),
                         lines.at(i));
    }
    return lines;
}

void ChartWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // A painted chart says nothing to a screen reader by itself: its description carries
    // the readout's values (at the pointer, or at the newest time shown).
    const QString description = draw(painter, true).join(QStringLiteral("; "));
    if (description != accessibleDescription())
        setAccessibleDescription(description);
    ++m_paints;
    Q_EMIT painted();
}

QImage ChartWidget::image() const
{
    QImage image(size(), QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setFont(font());
    draw(painter, false);
    return image;
}

void ChartWidget::wheelEvent(QWheelEvent* event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0.0)
        return;
    // Zoom the time axis around the pointer: a notch is a factor of 1.25.
    const double factor = std::pow(1.25, -steps);
    const qint64 span = m_view.t1 - m_view.t0;
    const qint64 newSpan =
        std::clamp(qint64(std::llround(double(span) * factor)), ShortestSpan, LongestSpan);
    const double f = std::clamp(event->position().x() / std::max(1, width()), 0.0, 1.0);
    const qint64 anchor = m_view.t0 + qint64(f * double(span));
    if (m_following) {
        m_view.t0 = m_view.t1 - newSpan; // keep the end at "now" while following
    } else {
        m_view.t0 = anchor - qint64(f * double(newSpan));
        m_view.t1 = m_view.t0 + newSpan;
    }
    update();
    Q_EMIT viewChanged();
    Q_EMIT zoomed(newSpan);
    event->accept();
}

void ChartWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragFrom = event->position().toPoint();
    m_dragT0 = m_view.t0;
    m_dragT1 = m_view.t1;
}

void ChartWidget::mouseMoveEvent(QMouseEvent* event)
{
    m_pointer = event->position().toPoint();
    if (m_dragFrom && (event->buttons() & Qt::LeftButton)) {
        const int dx = m_pointer->x() - m_dragFrom->x();
        if (dx != 0) {
            setFollowing(false);
            const qint64 shift =
                qint64(double(dx) * double(m_dragT1 - m_dragT0) / std::max(1, width() - 76));
            m_view.t0 = m_dragT0 - shift;
            m_view.t1 = m_dragT1 - shift;
            Q_EMIT viewChanged();
        }
    }
    update();
}

void ChartWidget::mouseReleaseEvent(QMouseEvent*)
{
    m_dragFrom.reset();
}

void ChartWidget::mouseDoubleClickEvent(QMouseEvent*)
{
    setFollowing(true);
}

void ChartWidget::leaveEvent(QEvent*)
{
    m_pointer.reset();
    update();
}

} // namespace kelvaro
