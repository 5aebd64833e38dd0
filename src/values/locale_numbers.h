#pragma once
// Numbers as the operator sees and types them: the locale's decimal separator and
// never a group separator.

#include <QLocale>
#include <QString>
#include <optional>

namespace kelvaro {

// `locale` with group separators switched off for output and refused on input.
QLocale operatorLocale(const QLocale& locale = QLocale());

// Pattern "##0.00": at least one integer digit, exactly two decimals, no grouping.
// A value that rounds to zero never shows a minus sign.
QString formatTwoDecimals(double value, const QLocale& locale);

// A decimal number typed in `locale` (surrounding blanks allowed); no value otherwise.
std::optional<double> readLocaleNumber(const QString& text, const QLocale& locale);

} // namespace kelvaro
