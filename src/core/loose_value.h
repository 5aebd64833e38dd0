#pragma once
// A setting that may be unset, a number or a text, and keeps which of the three it is,
// so the settings file writes it back the way it was read.

#include <QString>
#include <variant>

namespace kelvaro {

class LooseValue
{
public:
    LooseValue() = default;
    static LooseValue number(double value) { return LooseValue(Storage(value)); }
    static LooseValue text(QString value) { return LooseValue(Storage(std::move(value))); }

    bool isUnset() const { return std::holds_alternative<std::monostate>(m_value); }
    bool isNumber() const { return std::holds_alternative<double>(m_value); }
    bool isText() const { return std::holds_alternative<QString>(m_value); }

    // The number held; 0 for unset. A text is not a number: 0 as well.
    double toNumber() const;
    // The text held; empty for unset. A number is written in plain decimal notation
    // with "." (a whole number without a decimal point).
    QString toText() const;

    // Unset compares equal to 0 and to the empty text; a text never equals a number.
    bool equalsNumber(double value) const;
    bool equalsText(const QString& value) const { return !isNumber() && toText() == value; }

    // Same kind and same content (unset equals only unset).
    bool operator==(const LooseValue&) const = default;

private:
    using Storage = std::variant<std::monostate, double, QString>;
    explicit LooseValue(Storage value) : m_value(std::move(value)) {}
    Storage m_value;
};

// Plain decimal notation with "." whatever the locale; whole numbers without a point.
// The shortest text that reads back to the same double.
QString plainNumberText(double value);

} // namespace kelvaro
