#include "history/log_line.h"

#include <charconv>
#include <cstring>

namespace kelvaro {

namespace {

bool twoDigits(const char* p, int limit, int& value)
{
    const unsigned a = static_cast<unsigned char>(p[0]) - '0';
    const unsigned b = static_cast<unsigned char>(p[1]) - '0';
    if (a > 9 || b > 9)
        return false;
    value = static_cast<int>(a * 10 + b);
    return value < limit;
}

} // namespace

bool parseLogLine(std::string_view text, LogLine& line)
{
    const char* p = text.data();
    const char* const end = p + text.size();

    // Date: any non-empty text; the file name says which day it is.
    const void* comma = std::memchr(p, ',', static_cast<size_t>(end - p));
    if (!comma || comma == p)
        return false;
    p = static_cast<const char*>(comma) + 1;

    // Time: exactly hh:mm:ss, then the end of the line or a comma.
    if (end - p < 8 || p[2] != ':' || p[5] != ':')
        return false;
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    if (!twoDigits(p, 24, hours) || !twoDigits(p + 3, 60, minutes) ||
        !twoDigits(p + 6, 60, seconds))
        return false;
    line.secondOfDay = hours * 3600 + minutes * 60 + seconds;
    p += 8;
    line.count = 0;
    if (p == end)
        return true;
    if (*p != ',')
        return false;

    // Values: whole numbers, each column non-empty, the last one ending the line.
    while (true) {
        ++p;
        if (line.count == MaxLogColumns)
            return false;
        qint32 value = 0;
        const auto [next, error] = std::from_chars(p, end, value);
        if (error != std::errc() || next == p)
            return false;
        line.values[static_cast<size_t>(line.count++)] = value;
        p = next;
        if (p == end)
            return true;
        if (*p != ',')
            return false;
    }
}

} // namespace kelvaro
