#include "core/field_names.h"

namespace kelvaro {

void Init_Field_Names(FieldNameTable& Field_Names)
{
    Field_Names = {
        QStringLiteral("None"),
        QStringLiteral("Counter_2sec (l08)"),
        QStringLiteral("Relay Status (h08)"),
        QStringLiteral("Actual Temperature (i16)"),
        QStringLiteral("Automatic Mode (l08)"),
        QStringLiteral("Manual Mode (h08)"),
        QStringLiteral("Sp3 (u16)"),
        QStringLiteral("Sp4 (l08)"),
        QStringLiteral("Sp4 (h08)"),
        QStringLiteral("Pulse Duration NE555 (u16)"),
        QStringLiteral("Actual Time On (u16)"),
        QStringLiteral("Actual Time Off (u16)"),
        QStringLiteral("Average Temperature (i16)"),
        QStringLiteral("Sp9 (u16)"),
        QStringLiteral("Measure Period Duration (l08)"),
        QStringLiteral("Lower Hysterisis (h08)"),
        QStringLiteral("Setpoint Lower (i16)"),
        QStringLiteral("Set. Lower Time On (u16)"),
        QStringLiteral("Set. Lower Time Off (u16)"),
        QStringLiteral("Setpoint Low (i16)"),
        QStringLiteral("Set. Low Time On (u16)"),
        QStringLiteral("Set. Low Time Off (u16)"),
        QStringLiteral("Setpoint Low (P) (i16)"),
        QStringLiteral("Set. Time Delay (P) (u16)"),
        QStringLiteral("Operation Modes (l08)"),
        QStringLiteral("Sp19 (h08)"),
    };
}

namespace {

// Bytes a field occupies, read from the two digits before the name's closing parenthesis.
int fieldWidth(const QString& name)
{
    const qsizetype close = name.lastIndexOf(QLatin1Char(')'));
    if (close < 2)
        return 0;
    const QStringView digits = QStringView(name).mid(close - 2, 2);
    if (digits == u"08")
        return 1;
    if (digits == u"16")
        return 2;
    return 0;
}

} // namespace

std::optional<FieldPosition> fieldPosition(const FieldNameTable& Field_Names, const QString& name)
{
    int counter = -1; // position of the last byte of the entries walked so far
    for (int entry = 1; entry < FieldNameCount; ++entry) {
        const int width = fieldWidth(Field_Names[entry]);
        counter += width;
        if (Field_Names[entry] != name)
            continue;
        if (width == 2)
            return FieldPosition{(counter - 1) / 2, FieldPart::Word};
        if (width == 1) {
            if (counter % 2 == 0)
                return FieldPosition{counter / 2, FieldPart::LowByte};
            return FieldPosition{(counter - 1) / 2, FieldPart::HighByte};
        }
        return std::nullopt;
    }
    return std::nullopt;
}

qint32 fieldValue(const FieldPosition& position, const std::array<qint32, RegisterCount>& words)
{
    const qint32 word = words[position.word];
    switch (position.part) {
    case FieldPart::LowByte:
        return lowByte(word);
    case FieldPart::HighByte:
        return highByte(word);
    case FieldPart::Word:
        break;
    }
    return word;
}

} // namespace kelvaro
