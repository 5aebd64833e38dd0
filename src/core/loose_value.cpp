#include "core/loose_value.h"

#include <QLocale>
#include <cmath>

namespace kelvaro {

double LooseValue::toNumber() const
{
    if (const double* n = std::get_if<double>(&m_value))
        return *n;
    return 0.0;
}

QString LooseValue::toText() const
{
    if (const QString* t = std::get_if<QString>(&m_value))
        return *t;
    if (const double* n = std::get_if<double>(&m_value))
        return plainNumberText(*n);
    return {};
}

bool LooseValue::equalsNumber(double value) const
{
    if (isText())
        return false;
    return toNumber() == value;
}

QString plainNumberText(double value)
{
    if (value == 0.0)
        return QStringLiteral("0"); // also for -0
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    // Shortest round-trip form, then unfold any exponent into plain digits.
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('e')))
        return text;
    text = QString::number(value, 'f', QLocale::FloatingPointShortest);
    return text;
}

} // namespace kelvaro
