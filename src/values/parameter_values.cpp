#include "values/parameter_values.h"

#include "core/rounding.h"
#include "values/duration.h"
#include "values/locale_numbers.h"

namespace kelvaro {

std::optional<qint32> integerFromText(const QString& text, const QLocale& locale, qint32 min,
                                      qint32 max)
{
    const std::optional<double> x = readLocaleNumber(text, locale);
    if (!x)
        return std::nullopt;
    const std::optional<qint32> v = roundToInteger<qint32>(*x);
    if (!v || *v < min || *v > max)
        return std::nullopt;
    return v;
}

std::optional<qint32> operationModesFromText(const QString& text, const QLocale& locale)
{
    return integerFromText(text, locale, 0, 32767);
}

qint32 calibrationValue(const LooseValue& Timer_CalValue)
{
    if (Timer_CalValue.isUnset())
        return NominalCalibration;
    double value = Timer_CalValue.toNumber();
    if (Timer_CalValue.isText()) {
        bool ok = false;
        value = Timer_CalValue.toText().trimmed().toDouble(&ok);
        if (!ok)
            return 0;
    }
    return roundToInteger<qint32>(value).value_or(0);
}

} // namespace kelvaro
