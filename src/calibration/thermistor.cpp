#include "calibration/thermistor.h"

#include "core/rounding.h"

#include <QStringList>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kelvaro {

namespace {

// Whole kelvin and the 298 K reference, as the board's table has always been computed.
constexpr int KelvinOffset = 273;
constexpr double ReferenceKelvin = 298.0;
constexpr int MaxRows = std::numeric_limits<qint16>::max();

bool allFinite(const ThermistorInput& in)
{
    for (const double v : {in.T0, in.R0, in.B, in.R25, in.MinTH, in.MaxTH})
        if (!std::isfinite(v))
            return false;
    return true;
}

QString entryMessage(int celsius)
{
    return QStringLiteral("The pulse for %1 °C is not a usable number; check B and the "
                          "resistor values.")
        .arg(celsius);
}

} // namespace

Outcome<ThermistorTable> calibrateThermistor(const ThermistorInput& input)
{
    if (!allFinite(input))
        return failure(QStringLiteral("Every value must be a finite number."));
    if (input.R0 == 0.0)
        return failure(QStringLiteral("R0 must not be 0."));
    if (input.MinTH > input.MaxTH)
        return failure(QStringLiteral("The minimum temperature is above the maximum temperature."));

    ThermistorTable table;
    table.k = input.T0 / input.R0;
    if (!std::isfinite(table.k))
        return failure(QStringLiteral("T0 / R0 is not a finite number."));

    const std::optional<qint32> rows =
        roundToInteger<qint32>(input.MaxTH + std::fabs(input.MinTH) + 1.0);
    if (!rows || *rows > MaxRows)
        return failure(
            QStringLiteral("The temperature range gives more than %1 rows.").arg(MaxRows));
    table.rowCount = *rows;

    // MinTH <= MaxTH and both are finite, so both round into range once the row count
    // is known to be small (|MinTH| and MaxTH are then below 32767).
    const int tmin = static_cast<int>(roundHalfEven(input.MinTH));
    const int tmax = static_cast<int>(roundHalfEven(input.MaxTH));
    if (tmin + KelvinOffset <= 0)
        return failure(
            QStringLiteral("The minimum temperature rounds to %1 °C; the table must start "
                           "above -%2 °C.")
                .arg(tmin)
                .arg(KelvinOffset));

    const auto count = static_cast<std::size_t>(tmax - tmin + 1);
    table.points.reserve(count);
    table.entries.reserve(count);
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(count));
    for (int t = tmin; t <= tmax; ++t) {
        const double kelvin = t + KelvinOffset;
        const double resistance =
            input.R25 * std::exp(input.B * (1.0 / kelvin - 1.0 / ReferenceKelvin));
        const double pulse = (input.R0 + resistance) * table.k;
        const std::optional<qint32> entry = roundToInteger<qint32>(pulse);
        if (!entry)
            return failure(entryMessage(t));
        table.points.push_back({t, pulse});
        table.entries.push_back(*entry);
        texts.append(QString::number(*entry));
    }
    table.curveText = texts.join(QStringLiteral(", "));
    return table;
}

} // namespace kelvaro
