#include "history/log_files.h"

#include "logging/log_recorder.h"

#include <QDir>
#include <algorithm>

namespace kelvaro {

namespace {

// Reads `digits` digits (or 1..2 when `flexible`) at `pos`; -1 when there are none.
int readNumber(QStringView text, qsizetype& pos, int digits, bool flexible)
{
    int value = 0;
    int read = 0;
    const int most = flexible ? 2 : digits;
    while (read < most && pos < text.size() && text[pos].isDigit() && text[pos].unicode() < 128) {
        value = value * 10 + (text[pos].unicode() - u'0');
        ++pos;
        ++read;
    }
    if (read == 0 || (!flexible && read != digits))
        return -1;
    return value;
}

} // namespace

std::optional<QDate> logDateFromFileName(const QString& pattern, const QString& fileName)
{
    const QString suffix = QStringLiteral(".txt");
    if (!fileName.endsWith(suffix))
        return std::nullopt;
    const QStringView text = QStringView(fileName).chopped(suffix.size());
    const QStringView p(pattern);
    int year = -1;
    int month = -1;
    int day = -1;
    qsizetype pos = 0;
    for (qsizetype i = 0; i < p.size();) {
        qsizetype length = 0;
        const LogDateToken token = logDateToken(p.sliced(i), &length);
        int* target = nullptr;
        int digits = 0;
        bool flexible = false;
        switch (token) {
        case LogDateToken::Year4:
            target = &year, digits = 4;
            break;
        case LogDateToken::Year2:
            target = &year, digits = 2;
            break;
        case LogDateToken::Day2:
            target = &day, digits = 2;
            break;
        case LogDateToken::Day:
            target = &day, flexible = true;
            break;
        case LogDateToken::Month2:
            target = &month, digits = 2;
            break;
        case LogDateToken::Month:
            target = &month, flexible = true;
            break;
        case LogDateToken::Literal:
            if (pos >= text.size() || text[pos] != p[i])
                return std::nullopt;
            ++pos;
            ++i;
            continue;
        }
        i += length;
        const int value = readNumber(text, pos, digits, flexible);
        if (value < 0)
            return std::nullopt;
        if (target == &year && digits == 2)
            *target = 2000 + value;
        else
            *target = value;
    }
    if (pos != text.size() || year < 0 || month < 0 || day < 0)
        return std::nullopt;
    const QDate date(year, month, day);
    // The name must be exactly what the recorder writes for that date (a pattern with a
    // token twice must agree with itself).
    if (!date.isValid() || logFileName(pattern, date) != fileName)
        return std::nullopt;
    return date;
}

std::vector<LogDayFile> findLogDays(const QString& folder, const QString& pattern,
                                    std::optional<QDate> from, std::optional<QDate> to)
{
    std::vector<LogDayFile> days;
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral("*.txt")}, QDir::Files);
    for (const QString& name : names) {
        const std::optional<QDate> date = logDateFromFileName(pattern, name);
        if (!date || (from && *date < *from) || (to && *date > *to))
            continue;
        days.push_back({*date, dir.filePath(name)});
    }
    std::sort(days.begin(), days.end(),
              [](const LogDayFile& a, const LogDayFile& b) { return a.date < b.date; });
    return days;
}

bool logDayMayChange(const QDate& date)
{
    return date >= QDate::currentDate().addDays(-1); // a day's last line may come late
}

bool LogFileBytes::open(const QString& path, bool mayChange, QString* error)
{
    m_bytes = {};
    if (m_file.isOpen())
        m_file.close(); // also drops the previous mapping
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = m_file.errorString();
        return false;
    }
    // The size at opening; a line appended meanwhile is read the next time.
    const qint64 size = m_file.size();
    if (size <= 0)
        return true;
    if (!mayChange) {
        if (const uchar* data = m_file.map(0, size)) {
            m_bytes = std::string_view(reinterpret_cast<const char*>(data), size_t(size));
            return true;
        }
    }
    if (m_buffer.size() < size_t(size))
        m_buffer.resize(size_t(size));
    qint64 done = 0;
    while (done < size) {
        const qint64 n = m_file.read(m_buffer.data() + done, size - done);
        if (n < 0) {
            if (error)
                *error = m_file.errorString();
            return false;
        }
        if (n == 0)
            break; // cut back while being read
        done += n;
    }
    m_bytes = std::string_view(m_buffer.data(), size_t(done));
    return true;
}

} // namespace kelvaro
