#pragma once
// Finding the daily log files of the working folder by the logging pattern of the
// settings, and reading one file's bytes in one large read.

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

// One file's bytes. A past day's file is final and is mapped into memory; a file that
// may still grow (today's) is read whole into a buffer that the next open() reuses,
// since the recorder may cut it back after a failed write while it is being read, which
// a mapping would answer with SIGBUS.
class LogFileBytes
{
public:
    // False, with the reason in `error`, when the file cannot be opened or read.
    bool open(const QString& path, bool mayChange, QString* error = nullptr);
    std::string_view bytes() const { return m_bytes; }

private:
    QFile m_file;
    std::vector<char> m_buffer;
    std::string_view m_bytes;
};

// Whether the recorder may still write to the file of `date`: today's or a later day's
// (a clock set back).
bool logDayMayChange(const QDate& date);

} // namespace kelvaro
