// The log file-name pattern, as typed into the logging dialog or edited into the settings
// file: formatLogDate and logFileName on any text and a few dates, including ones outside
// the four-digit years and an invalid date. A name that is accepted must be a plain file
// name in the working folder ending in ".txt"; a pattern made only of DD, MM, YYYY and "-"
// must be accepted for an ordinary date.
//
// The input is read twice: as UTF-8, and as raw UTF-16 code units, which reach lone
// surrogates and every code point.

#include "fuzz_check.h"
#include "logging/log_recorder.h"

#include <QRegularExpression>
#include <cstddef>
#include <cstdint>

using kelvaro::fuzz::require;
using namespace kelvaro;

namespace {

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F) ||
           c.category() == QChar::Other_Control;
}

// The stem a pattern of only DD, MM, YYYY and "-" must give; no value for other patterns.
std::optional<QString> plainPatternStem(const QString& pattern, const QDate& date)
{
    static const QRegularExpression plain(
        QRegularExpression::anchoredPattern(QStringLiteral("(?:YYYY|DD|MM|-)+")));
    if (!plain.match(pattern).hasMatch())
        return std::nullopt;
    QString stem = pattern;
    stem.replace(QLatin1String("YYYY"), QString::number(date.year()).rightJustified(4, u'0'));
    stem.replace(QLatin1String("DD"), QString::number(date.day()).rightJustified(2, u'0'));
    stem.replace(QLatin1String("MM"), QString::number(date.month()).rightJustified(2, u'0'));
    return stem;
}

void checkPattern(const QString& pattern)
{
    const QDate dates[] = {QDate(2026, 12, 7), QDate(2000, 2, 29),   QDate(1, 1, 1),
                           QDate(-44, 3, 15),  QDate(123456, 6, 30), QDate()};
    for (const QDate& date : dates) {
        const QString stem = formatLogDate(pattern, date);
        const Outcome<QString> name = logFileName(pattern, date);
        const bool ordinaryDate = date.isValid() && date.year() >= 1000 && date.year() <= 9999;
        const std::optional<QString> expected =
            ordinaryDate ? plainPatternStem(pattern, date) : std::nullopt;
        if (!name) {
            require(!name.reason().isEmpty(), "a refused pattern says why");
            require(!expected || expected->size() + 4 > 200,
                    "a pattern of DD, MM, YYYY and - makes a file name");
            continue;
        }
        require(*name == stem + QLatin1String(".txt"), "the name is the formatted date + .txt");
        require(*name != u"." && *name != u"..", "the name is not . or ..");
        require(!name->contains(u'/') && !name->contains(u'\\'), "the name has no separator");
        for (const QChar c : *name)
            require(!isControl(c), "the name has no NUL or control character");
        require(QString::fromUtf8(name->toUtf8()) == *name, "the name is valid text");
        require(name->toUtf8().size() <= 200, "the name fits a file system's name limit");
        if (expected)
            require(stem == *expected, "DD, MM and YYYY give day, month and year");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    checkPattern(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    QString units(qsizetype(size / 2), Qt::Uninitialized);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        units[qsizetype(i / 2)] = QChar(char16_t(data[i] | data[i + 1] << 8));
    checkPattern(units);
    return 0;
}
