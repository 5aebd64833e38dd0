#include "values/locale_numbers.h"

#include <cmath>

namespace kelvaro {

QLocale operatorLocale(const QLocale& locale)
{
    QLocale result = locale;
    result.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return result;
}

QString formatTwoDecimals(double value, const QLocale& locale)
{
    const QLocale plain = operatorLocale(locale);
    QString text = plain.toString(value, 'f', 2);
    // -0.004 would read "-0.00"; the operator should see 0.00.
    if (std::signbit(value) && plain.toDouble(text) == 0.0)
        text = plain.toString(0.0, 'f', 2);
    return text;
}

std::optional<double> readLocaleNumber(const QString& text, const QLocale& locale)
{
    bool ok = false;
    const double value = operatorLocale(locale).toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace kelvaro
