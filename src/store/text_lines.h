#pragma once
// Bounded reading of the store's line files and the item rules they share. A file can be
// anything an operator points the program at (a huge log, a device, binary data), so
// reading takes at most a given number of lines, each of bounded length, and never the
// whole file.

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

namespace kelvaro {

// Longer than any path or text a setting holds; a line beyond it is not one of ours.
inline constexpr qint64 MaxLineBytes = 64 * 1024;

struct CappedLines
{
    QList<QByteArray> lines; // without their CR LF or LF
    bool overlong = false;   // reading stopped at a line longer than MaxLineBytes
    bool readError = false;  // reading stopped because the device failed
};

// Reads up to `maxLines` lines from `device`. A last line without a line end counts.
CappedLines readCappedLines(QIODevice& device, int maxLines);

// One item of a line: leading blanks skipped; a quoted item is the text up to the next
// double quote (or the end of the line when none follows); any other item runs to a comma
// or the end of the line, trailing blanks removed.
struct LineItem
{
    enum class Kind
    {
        Empty,
        Quoted,
        Bare
    };
    Kind kind = Kind::Empty;
    QString text;
};

// The items of `line`, split at commas outside quotes. An empty or blank line has one
// empty item.
QList<LineItem> splitItems(QStringView line);

// A plain decimal number with "." whatever the locale: optional sign, digits with an
// optional fraction, optional exponent. No value for anything else, or when it does not
// fit a double.
std::optional<double> parsePlainNumber(QStringView text);

} // namespace kelvaro
