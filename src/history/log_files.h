#pragma once
// Finding the daily log files of the working folder by the logging pattern of the
// settings, and reading one file's bytes without copying them.

#include <QDate>
#include <QFile>
#include <QString>
#include <optional>
#include <string_view>
#include <vector>

namespace kelvaro {

// The day a log file name stands for under `pattern` (the name as logFileName makes it,
// ".txt" included), or no value when the name is not one the pattern makes for a date.
// The pattern must hold a year, a month and a day token, otherwise one file is not one
// day and no name matches.
std::optional<QDate> logDateFromFileName(const QString& pattern, const QString& fileName);

struct LogDayFile
{
    QDate date;
    QString path;
};

// The log files of `folder` for days from `from` to `to` (each end open when not given),
// sorted by date.
std::vector<LogDayFile> findLogDays(const QString& folder, const QString& pattern,
                                    std::optional<QDate> from = {}, std::optional<QDate> to = {});

// One file's bytes, mapped into memory read-only (an empty file gives no bytes).
class MappedFile
{
public:
    // False, with the reason in `error`, when the file cannot be opened or mapped.
    bool open(const QString& path, QString* error = nullptr);
    std::string_view bytes() const { return m_bytes; }

private:
    QFile m_file;
    std::string_view m_bytes;
};

} // namespace kelvaro
