#pragma once
// Reads the lines of a daily log file straight from its bytes: "<date>,hh:mm:ss,v1,v2,..."
// ending in CR LF or LF. No text conversion, no allocation per line.

#include <QtGlobal>
#include <array>
#include <cstring>
#include <string_view>

namespace kelvaro {

// More value columns than this make a line unusable (the recorder writes at most ten).
inline constexpr int MaxLogColumns = 32;

struct LogLine
{
    int secondOfDay = 0; // from the "hh:mm:ss" column
    int count = 0;       // value columns after date and time
    std::array<qint32, MaxLogColumns> values{};
};

// Parses one line without its line end. False, with `line` in an unspecified state, for
// a line that cannot be used: fewer than two columns, an empty date, a time that is not
// "hh:mm:ss" of a real time of day, a value column that is empty or not a whole
// number in the 32-bit range (spaces, signs other than a leading "-", text), or more than
// MaxLogColumns values.
bool parseLogLine(std::string_view text, LogLine& line);

struct LogScanCount
{
    qint64 lines = 0;    // every line of the bytes
    qint64 rejected = 0; // of them, those parseLogLine refused, or cut short
};

// Calls use(const LogLine&) for every usable line of `bytes`, in order. A line ends at
// LF; a CR before it is dropped. A last line without a line end was cut short while being
// written (the recorder always ends its lines) and counts as rejected.
template <class Use> LogScanCount scanLogBytes(std::string_view bytes, Use&& use)
{
    LogScanCount count;
    LogLine line;
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end) {
        const void* found = std::memchr(p, '\n', static_cast<size_t>(end - p));
        ++count.lines;
        if (!found) {
            ++count.rejected; // cut short
            break;
        }
        const char* eol = static_cast<const char*>(found);
        const char* stop = (eol > p && eol[-1] == '\r') ? eol - 1 : eol;
        if (parseLogLine(std::string_view(p, static_cast<size_t>(stop - p)), line))
            use(static_cast<const LogLine&>(line));
        else
            ++count.rejected;
        p = eol + 1;
    }
    return count;
}

} // namespace kelvaro
