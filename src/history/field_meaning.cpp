#include "history/field_meaning.h"

#include "core/rounding.h"
#include "values/duration.h"
#include "values/temperature.h"

#include <cmath>
#include <limits>

namespace kelvaro {

namespace {

const QString RelayField = QStringLiteral("Relay Status (h08)");
const QString HysteresisField = QStringLiteral("Lower Hysterisis (h08)");

bool isDurationField(const QString& name)
{
    static const QStringList names = {
        QStringLiteral("Actual Time On (u16)"),      QStringLiteral("Actual Time Off (u16)"),
        QStringLiteral("Set. Lower Time On (u16)"),  QStringLiteral("Set. Lower Time Off (u16)"),
        QStringLiteral("Set. Low Time On (u16)"),    QStringLiteral("Set. Low Time Off (u16)"),
        QStringLiteral("Set. Time Delay (P) (u16)"),
    };
    return names.contains(name);
}

} // namespace

FieldKind fieldKind(const QString& fieldName)
{
    if (fieldName == RelayField)
        return FieldKind::Relay;
    if (fieldName == HysteresisField)
        return FieldKind::Hysteresis;
    if (fieldName.endsWith(QStringLiteral("(i16)")))
        return FieldKind::Temperature;
    if (isDurationField(fieldName))
        return FieldKind::Duration;
    return FieldKind::Number;
}

QStringList loggedFieldNames(const Settings_Record& settings, const FieldNameTable& Field_Names)
{
    QStringList names;
    for (const LooseValue& field : settings.Log_Fields) {
        const QString name = field.isText() ? field.toText() : QString();
        if (!fieldPosition(Field_Names, name))
            break;
        names.append(name);
    }
    return names;
}

QString columnName(const QStringList& loggedNames, int index)
{
    if (index >= 0 && index < loggedNames.size())
        return loggedNames.at(index);
    return QStringLiteral("column %1").arg(index + 1);
}

qint32 canonicalValue(FieldKind kind, qint32 raw)
{
    switch (kind) {
    case FieldKind::Temperature:
        return signedTemperature(raw);
    case FieldKind::Relay:
        return raw != 0 ? 1 : 0;
    case FieldKind::Hysteresis:
    case FieldKind::Duration:
    case FieldKind::Number:
        break;
    }
    return raw;
}

double displayValue(FieldKind kind, double canonical, const ValueUnits& units)
{
    switch (kind) {
    case FieldKind::Temperature:
    case FieldKind::Hysteresis:
        return Celsius_To_Display(canonical / 100.0, units.fahrenheit);
    case FieldKind::Duration:
        if (units.calibration <= 0)
            return std::numeric_limits<double>::quiet_NaN();
        return canonical * 2.0 * 10000.0 / units.calibration;
    case FieldKind::Relay:
    case FieldKind::Number:
        break;
    }
    return canonical;
}

QString unitText(FieldKind kind, const ValueUnits& units)
{
    switch (kind) {
    case FieldKind::Temperature:
    case FieldKind::Hysteresis:
        return Temp_Unit_Suffix(units.fahrenheit);
    case FieldKind::Duration:
        return QStringLiteral(" s");
    case FieldKind::Relay:
    case FieldKind::Number:
        break;
    }
    return {};
}

QString twoDecimals(double value)
{
    QString text = QString::number(value, 'f', 2);
    if (text == QStringLiteral("-0.00"))
        text = QStringLiteral("0.00");
    return text;
}

QString valueFileText(FieldKind kind, double canonical, const ValueUnits& units)
{
    switch (kind) {
    case FieldKind::Temperature:
    case FieldKind::Hysteresis:
        return twoDecimals(displayValue(kind, canonical, units));
    case FieldKind::Duration: {
        const double rounded = std::nearbyint(canonical);
        if (rounded == canonical && std::abs(rounded) <= 1e9) {
            if (const auto text = durationWordText(static_cast<qint32>(rounded), units.calibration))
                return *text;
        }
        return twoDecimals(displayValue(kind, canonical, units));
    }
    case FieldKind::Relay:
        return canonical != 0 ? QStringLiteral("1") : QStringLiteral("0");
    case FieldKind::Number:
        break;
    }
    if (std::nearbyint(canonical) == canonical && std::abs(canonical) < 1e15)
        return QString::number(static_cast<qint64>(canonical));
    return twoDecimals(canonical);
}

} // namespace kelvaro
