#pragma once
// The daily report: per day that has a log file, its line counts and the minimum, mean
// and maximum of each logged field (the relay's share of "on" lines), as CSV.

#include "history/field_meaning.h"
#include "history/log_files.h"
#include "history/log_line.h"

#include <QByteArray>
#include <QStringList>
#include <array>
#include <string_view>
#include <vector>

namespace kelvaro {

using ColumnKinds = std::array<FieldKind, MaxLogColumns>;

// The kind of each value column: named columns by their field, the rest numbers.
ColumnKinds columnKinds(const QStringList& loggedNames);

struct ColumnStats
{
    qint32 min = 0; // canonical values
    qint32 max = 0;
    qint64 sum = 0;
};

struct DaySummary
{
    QDate date;
    bool read = false; // the file could be read; otherwise `error` says why
    QString error;
    qint64 lines = 0;   // every line of the file
    qint64 skipped = 0; // lines that could not be used
    qint64 used = 0;    // lines summarised in `columns`
    std::vector<ColumnStats> columns;
};

// Summarises one day's bytes. The day keeps the column count that most of its usable
// lines have (the wider on a tie); lines with another count - cut short, or written
// before the logged fields were changed - are skipped with the malformed ones.
DaySummary summariseLogDay(std::string_view bytes, const ColumnKinds& kinds);

// Reads and summarises each file, on up to `threads` threads; results in the files' order.
std::vector<DaySummary> summariseLogDays(const std::vector<LogDayFile>& files,
                                         const ColumnKinds& kinds, int threads);

// The report's CSV: a header line, then one row per readable day. Columns: date, lines,
// skipped, then per value column "<name> min,<name> mean,<name> max" ("Relay Status on"
// for the relay: the share of used lines with the relay on, three decimals). Value columns are
// the logged fields, plus "column N" for any a day holds beyond them. Temperatures with
// two decimals in the chosen unit, other minima and maxima as logged, means with two
// decimals; cells a day has no value for stay empty. Lines end with LF.
QByteArray reportCsv(const std::vector<DaySummary>& days, const QStringList& loggedNames,
                     const ValueUnits& units);

} // namespace kelvaro
