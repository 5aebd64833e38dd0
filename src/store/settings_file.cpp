#include "store/settings_file.h"

#include "core/rounding.h"
#include "store/file_replace.h"
#include "store/text_encoding.h"
#include "store/text_lines.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <cmath>
#include <cstring>
#include <optional>
#include <variant>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvaro {

namespace {

// A header line: written for the reader of the file, read back and thrown away.
struct Header
{
    QLatin1String text;
};

using Target = std::variant<Header, qint16*, qint32*, double*, bool*, QString*, LooseValue*>;

struct Slot
{
    Target target;
    QString name;           // how the operator knows the value, for a refused save
    QString correctIn = {}; // the menu path of the window that changes it; empty: none
};

const QString InThermistor = QStringLiteral("Tools, Calibration, Thermistor");
const QString InTimers = QStringLiteral("Tools, Calibration, Timers Duration");
const QString InLogging = QStringLiteral("Logging, Settings");

// The record's values in file order, one per line.
std::vector<Slot> settingsSlots(Settings_Record& r)
{
    std::vector<Slot> lineSlots{
        {Header{QLatin1String("[Communication]")}, {}},
        {&r.Comm_Port, QStringLiteral("serial port number")},
        {&r.Comm_Baud, QStringLiteral("baud rate")},
        {&r.Comm_RTS, QStringLiteral("RTS setting")},
        {&r.Comm_DTR, QStringLiteral("DTR setting")},
        {&r.Comm_TimeOut, QStringLiteral("time-out")},
        {Header{QLatin1String("[Thermistor]")}, {}},
        {&r.Ntc_T0, QStringLiteral("thermistor T0 value"), InThermistor},
        {&r.Ntc_R0, QStringLiteral("thermistor R0 value"), InThermistor},
        {&r.Ntc_MinTH, QStringLiteral("lowest thermistor temperature"), InThermistor},
        {&r.Ntc_MaxTH, QStringLiteral("highest thermistor temperature"), InThermistor},
        {&r.Ntc_R25, QStringLiteral("thermistor R25 value"), InThermistor},
        {&r.Ntc_B, QStringLiteral("thermistor B value"), InThermistor},
        {Header{QLatin1String("[Timers]")}, {}},
        {&r.Timer_SetTimeOn, QStringLiteral("timer test's set time on"), InTimers},
        {&r.Timer_ActTimeOn, QStringLiteral("timer test's actual time on"), InTimers},
        {&r.Timer_CalValue, QStringLiteral("timers calculation value"), InTimers},
        {Header{QLatin1String("[Logging]")}, {}},
        {&r.Log_Active, QStringLiteral("logging switch"), QStringLiteral("Logging, Start")},
        {&r.Log_NameFormat, QStringLiteral("log file-name format"), InLogging},
    };
    for (int i = 0; i < LogFieldCount; ++i)
        lineSlots.push_back(
            {&r.Log_Fields[i], QStringLiteral("name of logged field %1").arg(i + 1), InLogging});
    lineSlots.push_back({&r.Log_Event, QStringLiteral("logging event"), InLogging});
    lineSlots.push_back({Header{QLatin1String("[Acrobat]")}, {}});
    lineSlots.push_back(
        {&r.Acrobat_Path, QStringLiteral("reader path"), QStringLiteral("Help, Acrobat")});
    lineSlots.push_back({Header{QLatin1String("[Manuals]")}, {}});
    const QLatin1String manuals[ManualCount] = {QLatin1String("Operation"),
                                                QLatin1String("Drawings"), QLatin1String("Source"),
                                                QLatin1String("Modes")};
    for (int i = 0; i < ManualCount; ++i)
        lineSlots.push_back(
            {&r.Manual_Files[i], QStringLiteral("file name of the %1 manual").arg(manuals[i])});
    lineSlots.push_back({Header{QLatin1String("[AT90S2313]")}, {}});
    lineSlots.push_back({&r.Show_Direct, QStringLiteral("Direct Data setting")});
    lineSlots.push_back({Header{QLatin1String("[Celsius-Fareneit]")}, {}});
    lineSlots.push_back({&r.Use_Fahrenheit, QStringLiteral("unit setting")});
    return lineSlots;
}

constexpr int SettingsLineCount = 42;

const QLatin1String TrueItem("#TRUE#");
const QLatin1String FalseItem("#FALSE#");

// ---- writing ----

// Why `text` cannot be written between two double quotes, or no value when it can.
// A line break would split the item over two lines and shift every later value.
std::optional<QString> unwritableText(const QString& text, const QString& name)
{
    if (text.contains(u'"'))
        return QStringLiteral("The %1 contains a double quote (\"), which Settings.txt cannot "
                              "hold.")
            .arg(name);
    if (text.contains(u'\n') || text.contains(u'\r'))
        return QStringLiteral("The %1 contains a line break, which Settings.txt cannot hold.")
            .arg(name);
    return std::nullopt;
}

// Infinity and NaN have no plain decimal form that reads back as a number.
std::optional<QString> unwritableNumber(double value, const QString& name)
{
    if (std::isfinite(value))
        return std::nullopt;
    return QStringLiteral("The %1 is not a finite number, which Settings.txt cannot hold.")
        .arg(name);
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// The line for one slot, or no value with `refusal` saying why it cannot be written.
std::optional<QString> slotLine(const Slot& slot, QString& refusal)
{
    const auto refuse = [&](std::optional<QString> why) {
        if (why)
            refusal = *why;
        return why.has_value();
    };
    return std::visit(
        [&](const auto& target) -> std::optional<QString> {
            using T = std::decay_t<decltype(target)>;
            if constexpr (std::is_same_v<T, Header>) {
                return quoted(QString(target.text));
            } else if constexpr (std::is_same_v<T, qint16*> || std::is_same_v<T, qint32*>) {
                return QString::number(*target);
            } else if constexpr (std::is_same_v<T, double*>) {
                if (refuse(unwritableNumber(*target, slot.name)))
                    return std::nullopt;
                return plainNumberText(*target);
            } else if constexpr (std::is_same_v<T, bool*>) {
                return *target ? QString(TrueItem) : QString(FalseItem);
            } else if constexpr (std::is_same_v<T, QString*>) {
                if (refuse(unwritableText(*target, slot.name)))
                    return std::nullopt;
                return quoted(*target);
            } else {
                const LooseValue& value = *target;
                if (value.isUnset())
                    return QString(); // an empty line
                if (value.isText()) {
                    if (refuse(unwritableText(value.toText(), slot.name)))
                        return std::nullopt;
                    return quoted(value.toText());
                }
                if (refuse(unwritableNumber(value.toNumber(), slot.name)))
                    return std::nullopt;
                return plainNumberText(value.toNumber());
            }
        },
        slot.target);
}

// The value a slot holds as text, to tell one unwritable value from another.
QString heldText(const Slot& slot)
{
    return std::visit(
        [](const auto& target) -> QString {
            using T = std::decay_t<decltype(target)>;
            if constexpr (std::is_same_v<T, QString*>) {
                return *target;
            } else if constexpr (std::is_same_v<T, double*>) {
                return QString::number(*target, 'g', 17);
            } else if constexpr (std::is_same_v<T, LooseValue*>) {
                return target->isText() ? target->toText()
                                        : QString::number(target->toNumber(), 'g', 17);
            } else {
                return QString();
            }
        },
        slot.target);
}

// ---- reading ----

std::optional<bool> booleanItem(const LineItem& item)
{
    if (item.kind != LineItem::Kind::Bare)
        return std::nullopt;
    if (item.text.compare(TrueItem, Qt::CaseInsensitive) == 0)
        return true;
    if (item.text.compare(FalseItem, Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

// A number slot takes a number, an empty item as 0, and #TRUE#/#FALSE# as -1/0, the
// values the original program gave booleans in number variables. A quoted text or
// letters are not a number: the read stops there rather than store a made-up value.
std::optional<double> numberItem(const LineItem& item)
{
    if (item.kind == LineItem::Kind::Empty)
        return 0.0;
    if (item.kind != LineItem::Kind::Bare)
        return std::nullopt;
    if (const auto b = booleanItem(item))
        return *b ? -1.0 : 0.0;
    return parsePlainNumber(item.text);
}

// Converts `item` into the slot's kind and stores it; false when it does not convert,
// and then the slot is unchanged.
bool storeItem(const Slot& slot, const LineItem& item)
{
    return std::visit(
        [&](const auto& target) -> bool {
            using T = std::decay_t<decltype(target)>;
            if constexpr (std::is_same_v<T, Header>) {
                return true; // any text, never compared
            } else if constexpr (std::is_same_v<T, qint16*> || std::is_same_v<T, qint32*>) {
                using Int = std::remove_pointer_t<T>;
                const auto number = numberItem(item);
                const auto whole = number ? roundToInteger<Int>(*number) : std::nullopt;
                if (!whole)
                    return false;
                *target = *whole;
                return true;
            } else if constexpr (std::is_same_v<T, double*>) {
                const auto number = numberItem(item);
                if (!number)
                    return false;
                *target = *number;
                return true;
            } else if constexpr (std::is_same_v<T, bool*>) {
                // A number counts as true when it is not zero, as the original program
                // converted numbers to booleans.
                if (const auto b = booleanItem(item)) {
                    *target = *b;
                    return true;
                }
                const auto number = numberItem(item);
                if (!number)
                    return false;
                *target = *number != 0.0;
                return true;
            } else if constexpr (std::is_same_v<T, QString*>) {
                *target = item.text; // quoted, bare or empty: its characters
                return true;
            } else {
                LooseValue& value = *target;
                switch (item.kind) {
                case LineItem::Kind::Empty:
                    value = LooseValue();
                    return true;
                case LineItem::Kind::Quoted:
                    value = LooseValue::text(item.text);
                    return true;
                case LineItem::Kind::Bare:
                    break;
                }
                // A bare item that is no number is kept as a text, as a loose value can
                // hold either; it is written back quoted.
                if (const auto number = numberItem(item))
                    value = LooseValue::number(*number);
                else
                    value = LooseValue::text(item.text);
                return true;
            }
        },
        slot.target);
}

// Why `item` does not convert into `slot`.
QString refusedItem(const Slot& slot, const LineItem& item)
{
    const QString what = std::visit(
        [](const auto& target) -> QString {
            using T = std::decay_t<decltype(target)>;
            if constexpr (std::is_same_v<T, qint16*>)
                return QStringLiteral("a whole number from -32768 to 32767");
            else if constexpr (std::is_same_v<T, qint32*>)
                return QStringLiteral("a whole number from -2147483648 to 2147483647");
            else if constexpr (std::is_same_v<T, bool*>)
                return QStringLiteral("#TRUE#, #FALSE# or a number");
            else
                return QStringLiteral("a number");
        },
        slot.target);
    return QStringLiteral("the %1 must be %2, not %3")
        .arg(slot.name, what,
             item.kind == LineItem::Kind::Quoted ? QLatin1Char('"') + item.text + QLatin1Char('"')
                                                 : item.text);
}

SettingsRead readSettings(Settings_Record& record, QIODevice& device)
{
    const CappedLines read = readCappedLines(device, SettingsLineCount);
    const auto stopped = [](qsizetype line, const QString& reason) {
        return SettingsRead{SettingsRead::Kind::Stopped, int(line), reason};
    };
    // One encoding for the whole file; lines hold no '\n', so splitting undoes the join.
    const QStringList lines =
        read.lines.isEmpty() ? QStringList() : decodeFileText(read.lines.join('\n')).split(u'\n');
    const std::vector<Slot> lineSlots = settingsSlots(record);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // One item per line; anything after a comma that ends it is not read.
        const LineItem item = splitItems(lines[i]).constFirst();
        if (!storeItem(lineSlots[static_cast<std::size_t>(i)], item))
            return stopped(i + 1, refusedItem(lineSlots[static_cast<std::size_t>(i)], item));
    }
    if (lines.size() == SettingsLineCount)
        return {};
    if (read.overlong)
        return stopped(lines.size() + 1,
                       QStringLiteral("the line is longer than %1 bytes").arg(MaxLineBytes));
    if (read.readError)
        return stopped(lines.size() + 1,
                       QStringLiteral("the file could not be read (%1)").arg(device.errorString()));
    if (lines.isEmpty())
        return stopped(1, QStringLiteral("the file is empty"));
    return stopped(lines.size() + 1, QStringLiteral("the file ends after line %1 of %2")
                                         .arg(lines.size())
                                         .arg(SettingsLineCount));
}

} // namespace

bool LoadSettings(Settings_Record& record, const QString& folder)
{
    return readSettingsFile(record, folder).kind == SettingsRead::Kind::Whole;
}

SettingsRead readSettingsFile(Settings_Record& record, const QString& folder)
{
    const QString path = QDir(folder).filePath(SettingsFileName);
    const auto unreadable = [](const QString& why) {
        return SettingsRead{SettingsRead::Kind::Unreadable, 0, why};
    };
    QFile file;
#ifdef Q_OS_UNIX
    // Without blocking: opening a FIFO for reading would wait for a writer forever.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            return {SettingsRead::Kind::Missing, 0, {}};
        return unreadable(QString::fromLocal8Bit(std::strerror(error)).toLower());
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return unreadable(S_ISDIR(status.st_mode) ? QStringLiteral("it is a folder, not a file")
                                                  : QStringLiteral("it is not a regular file"));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return unreadable(file.errorString());
    }
#else
    file.setFileName(path);
    if (!file.exists())
        return {SettingsRead::Kind::Missing, 0, {}};
    if (!file.open(QIODevice::ReadOnly))
        return unreadable(file.errorString());
#endif
    return readSettings(record, file);
}

FileResult SaveSettings(const Settings_Record& record, const QString& folder)
{
    const Outcome<QByteArray> bytes = settingsFileBytes(record);
    if (!bytes)
        return failure(bytes.reason());
    return replaceFileAtomically(folder, SettingsFileName, bytes.value());
}

Outcome<QByteArray> settingsFileBytes(const Settings_Record& record)
{
    Settings_Record copy = record; // the slots point into a record; never into the caller's
    QString text;
    for (const Slot& slot : settingsSlots(copy)) {
        QString refusal;
        const std::optional<QString> line = slotLine(slot, refusal);
        if (!line)
            return failure(refusal + QStringLiteral(" The settings were not saved."));
        text += *line + QLatin1String("\r\n");
    }
    return encodeFileText(text);
}

QList<SettingsProblem> settingsProblems(const Settings_Record& record)
{
    Settings_Record copy = record;
    const std::vector<Slot> lineSlots = settingsSlots(copy);
    QList<SettingsProblem> problems;
    for (std::size_t i = 0; i < lineSlots.size(); ++i) {
        QString refusal;
        if (!slotLine(lineSlots[i], refusal))
            problems.append(
                {static_cast<int>(i) + 1, heldText(lineSlots[i]), refusal, lineSlots[i].correctIn});
    }
    return problems;
}

bool parseSettings(Settings_Record& record, const QByteArray& bytes)
{
    return parseSettingsRead(record, bytes).kind == SettingsRead::Kind::Whole;
}

SettingsRead parseSettingsRead(Settings_Record& record, const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return readSettings(record, buffer);
}

} // namespace kelvaro
