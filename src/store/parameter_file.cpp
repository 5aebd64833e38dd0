#include "store/parameter_file.h"

#include "core/rounding.h"
#include "store/file_replace.h"
#include "store/text_encoding.h"
#include "store/text_lines.h"

#include <QBuffer>
#include <QDir>
#include <QFile>

namespace kelvaro {

namespace {

// A value item as a hand edit or the original program may have left it: empty reads as
// 0, and a number in quotes as that number. Anything else must be a plain number.
std::optional<double> valueItem(const LineItem& item)
{
    switch (item.kind) {
    case LineItem::Kind::Empty:
        return 0.0;
    case LineItem::Kind::Quoted: {
        const QString text = item.text.trimmed();
        return text.isEmpty() ? std::optional<double>(0.0) : parsePlainNumber(text);
    }
    case LineItem::Kind::Bare:
        break;
    }
    return parsePlainNumber(item.text);
}

// Twenty lines of a label (quoted or not, never checked) and a value each. Only the
// first twenty lines are read, each of bounded length, whatever the file holds.
Outcome<RegisterWords> readParameters(QIODevice& device)
{
    const CappedLines read = readCappedLines(device, RegisterCount);
    const qsizetype count = read.lines.size();
    if (read.overlong)
        return failure(QStringLiteral("Line %1 is far longer than a parameter line; "
                                      "this is not a parameter file.")
                           .arg(count + 1));
    if (read.readError)
        return failure(QStringLiteral("The file could not be read after line %1.").arg(count));
    if (count == 0)
        return failure(QStringLiteral("The file is empty; a parameter file has twenty lines."));
    if (count < RegisterCount)
        return failure(QStringLiteral("The file ends after %1 line(s); a parameter file has "
                                      "twenty.")
                           .arg(count));

    const QStringList lines = decodeFileText(read.lines.join('\n')).split(u'\n');
    RegisterWords words{};
    for (int k = 0; k < RegisterCount; ++k) {
        const QList<LineItem> items = splitItems(lines[k]);
        // The value is the item after the label; anything after it on the line is ignored.
        const std::optional<double> number = items.size() >= 2 ? valueItem(items[1]) : std::nullopt;
        if (!number)
            return failure(QStringLiteral("Line %1 holds no number after its label.").arg(k + 1));
        // A fraction, which only a hand edit makes, rounds as every conversion does.
        const std::optional<qint32> word = roundToInteger<qint32>(*number);
        if (!word)
            return failure(QStringLiteral("The value on line %1 is outside the range "
                                          "-2147483648 to 2147483647.")
                               .arg(k + 1));
        words[static_cast<std::size_t>(k)] = *word;
    }
    return words;
}

} // namespace

FileResult SaveParameters(const RegisterWords& words, const QString& folder)
{
    return replaceFileAtomically(folder, ParametersFileName, parametersFileBytes(words));
}

FileResult LoadParameters(RegisterWords& words, const QString& folder)
{
    QFile file(QDir(folder).filePath(ParametersFileName));
    if (!file.open(QIODevice::ReadOnly))
        return FileResult::failure(
            QStringLiteral("%1 could not be opened in %2: %3. The "
                           "parameters were not changed.")
                .arg(ParametersFileName, folderForOperator(folder), file.errorString()));
    const Outcome<RegisterWords> loaded = readParameters(file);
    if (!loaded)
        return FileResult::failure(
            QStringLiteral("%1 in %2 was not loaded. %3 The parameters were not changed.")
                .arg(ParametersFileName, folderForOperator(folder), loaded.reason()));
    words = loaded.value();
    return FileResult::success();
}

QByteArray parametersFileBytes(const RegisterWords& words)
{
    QByteArray bytes;
    for (int k = 0; k < RegisterCount; ++k) {
        bytes.append("\"Param").append(QByteArray::number(k)).append("\",");
        bytes.append(QByteArray::number(words[static_cast<std::size_t>(k)])).append("\r\n");
    }
    return bytes;
}

Outcome<RegisterWords> parseParameters(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return readParameters(buffer);
}

} // namespace kelvaro
