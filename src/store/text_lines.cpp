#include "store/text_lines.h"

#include <charconv>
#include <string>

namespace kelvaro {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

CappedLines readCappedLines(QIODevice& device, int maxLines)
{
    CappedLines result;
    // One buffer for the whole file: QIODevice::readLine(maxSize) would allocate the full
    // cap for every line and shrink it again, costing a memory mapping per line.
    QByteArray buffer(MaxLineBytes + 3, Qt::Uninitialized);
    while (result.lines.size() < maxLines) {
        const qint64 length = device.readLine(buffer.data(), buffer.size());
        QByteArray line = length > 0 ? QByteArray(buffer.constData(), length) : QByteArray();
        if (line.isEmpty()) {
            // readLine gives nothing at the end of the data and on failure alike.
            result.readError = !device.atEnd();
            break;
        }
        const bool ended = line.endsWith('\n');
        if (!ended && !device.atEnd()) {
            result.overlong = true; // the line goes on beyond what was read
            break;
        }
        if (ended)
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() > MaxLineBytes) {
            result.overlong = true;
            break;
        }
        result.lines.append(line);
    }
    return result;
}

QList<LineItem> splitItems(QStringView line)
{
    QList<LineItem> items;
    qsizetype pos = 0;
    const qsizetype end = line.size();
    for (;;) {
        while (pos < end && isBlank(line[pos]))
            ++pos;
        LineItem item;
        if (pos < end && line[pos] == u'"') {
            const qsizetype close = line.indexOf(u'"', pos + 1);
            const qsizetype textEnd = close < 0 ? end : close;
            item.kind = LineItem::Kind::Quoted;
            item.text = line.mid(pos + 1, textEnd - pos - 1).toString();
            pos = close < 0 ? end : close + 1;
            // Anything between the closing quote and the next comma is not part of it.
            const qsizetype comma = line.indexOf(u',', pos);
            pos = comma < 0 ? end : comma;
        } else {
            const qsizetype comma = line.indexOf(u',', pos);
            qsizetype itemEnd = comma < 0 ? end : comma;
            const qsizetype next = itemEnd;
            while (itemEnd > pos && isBlank(line[itemEnd - 1]))
                --itemEnd;
            item.text = line.mid(pos, itemEnd - pos).toString();
            item.kind = item.text.isEmpty() ? LineItem::Kind::Empty : LineItem::Kind::Bare;
            pos = next;
        }
        items.append(std::move(item));
        if (pos >= end)
            return items;
        ++pos; // the comma
    }
}

std::optional<double> parsePlainNumber(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && isDigit(text[i]))
        ++i, ++digits;
    if (i < n && text[i] == u'.') {
        ++i;
        while (i < n && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < n && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        qsizetype exponentDigits = 0;
        while (i < n && isDigit(text[i]))
            ++i, ++exponentDigits;
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;

    // Only ASCII is left; from_chars ignores the C locale, unlike strtod. It takes no "+".
    std::string ascii = text.toLatin1().toStdString();
    const std::size_t start = ascii.front() == '+' ? 1 : 0;
    double value = 0.0;
    const auto [ptr, ec] =
        std::from_chars(ascii.data() + start, ascii.data() + ascii.size(), value);
    if (ec != std::errc() || ptr != ascii.data() + ascii.size())
        return std::nullopt; // out of range of a double
    return value;
}

} // namespace kelvaro
