#pragma once
// A chart as the page draws it: each series folded into the pixel columns of the width the
// page asked for, in shown units, so the answer's size follows the page's width and not
// the number of samples (a year of history is as light as an hour).

#include "history/chart_data.h"
#include "history/field_meaning.h"

#include <QJsonObject>

namespace kelvaro::web {

// {"from": t0, "to": t1, "width": W, "series": [{"name", "unit", "kind", "columns":
// [[column, min, max, first, last, joined], ...]}]}; times in milliseconds since the epoch.
QJsonObject chartJson(const ChartData& data, qint64 t0, qint64 t1, int width,
                      const ValueUnits& units);

} // namespace kelvaro::web
