#include "web/chart_json.h"

#include <QJsonArray>
#include <cmath>

namespace kelvaro::web {

namespace {

QString kindName(FieldKind kind)
{
    switch (kind) {
    case FieldKind::Temperature:
        return QStringLiteral("temperature");
    case FieldKind::Hysteresis:
        return QStringLiteral("hysteresis");
    case FieldKind::Relay:
        return QStringLiteral("relay");
    case FieldKind::Duration:
        return QStringLiteral("duration");
    case FieldKind::Number:
        break;
    }
    return QStringLiteral("number");
}

// Shown values with two decimals at most: the page draws them, it does not compute.
QJsonValue shown(FieldKind kind, qint32 canonical, const ValueUnits& units)
{
    const double value = displayValue(kind, canonical, units);
    if (!std::isfinite(value))
        return QJsonValue::Null;
    return std::round(value * 100.0) / 100.0;
}

} // namespace

QJsonObject chartJson(const ChartData& data, qint64 t0, qint64 t1, int width,
                      const ValueUnits& units)
{
    QJsonArray series;
    for (int s = 0; s < data.seriesCount(); ++s) {
        const ChartSeries about = data.series(s);
        QJsonArray columns;
        for (const ChartColumn& column : data.columns(s, t0, t1, width)) {
            columns.append(QJsonArray{
                column.column, shown(about.kind, column.min, units),
                shown(about.kind, column.max, units), shown(about.kind, column.first, units),
                shown(about.kind, column.last, units), column.joined ? 1 : 0});
        }
        series.append(QJsonObject{{QStringLiteral("name"), about.name},
                                  {QStringLiteral("unit"), unitText(about.kind, units).trimmed()},
                                  {QStringLiteral("kind"), kindName(about.kind)},
                                  {QStringLiteral("columns"), columns}});
    }
    return QJsonObject{{QStringLiteral("from"), double(t0)},
                       {QStringLiteral("to"), double(t1)},
                       {QStringLiteral("width"), width},
                       {QStringLiteral("series"), series}};
}

} // namespace kelvaro::web
