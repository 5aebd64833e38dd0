#include "history/daily_report.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

namespace kelvaro {

ColumnKinds columnKinds(const QStringList& loggedNames)
{
    ColumnKinds kinds;
    kinds.fill(FieldKind::Number);
    for (int c = 0; c < MaxLogColumns && c < loggedNames.size(); ++c)
        kinds[static_cast<size_t>(c)] = fieldKind(loggedNames.at(c));
    return kinds;
}

namespace {

// The running summary of the lines that have one particular column count.
struct WidthSummary
{
    qint64 lines = 0;
    std::vector<ColumnStats> columns;
};

} // namespace

DaySummary summariseLogDay(std::string_view bytes, const ColumnKinds& kinds)
{
    std::array<std::unique_ptr<WidthSummary>, MaxLogColumns + 1> byWidth;
    const LogScanCount count = scanLogBytes(bytes, [&](const LogLine& line) {
        std::unique_ptr<WidthSummary>& slot = byWidth[static_cast<size_t>(line.count)];
        if (!slot)
            slot = std::make_unique<WidthSummary>();
        WidthSummary& summary = *slot;
        const bool first = summary.lines++ == 0;
        if (first)
            summary.columns.resize(static_cast<size_t>(line.count));
        for (int c = 0; c < line.count; ++c) {
            const qint32 v =
                canonicalValue(kinds[static_cast<size_t>(c)], line.values[static_cast<size_t>(c)]);
            ColumnStats& s = summary.columns[static_cast<size_t>(c)];
            if (first) {
                s.min = s.max = v;
            } else {
                s.min = std::min(s.min, v);
                s.max = std::max(s.max, v);
            }
            s.sum += v;
        }
    });

    DaySummary day;
    day.read = true;
    day.lines = count.lines;
    int best = -1;
    for (int w = MaxLogColumns; w >= 0; --w) {
        const auto& summary = byWidth[static_cast<size_t>(w)];
        if (summary && (best < 0 || summary->lines > byWidth[static_cast<size_t>(best)]->lines))
            best = w;
    }
    if (best >= 0) {
        day.used = byWidth[static_cast<size_t>(best)]->lines;
        day.columns = std::move(byWidth[static_cast<size_t>(best)]->columns);
    }
    day.skipped = day.lines - day.used;
    return day;
}

std::vector<DaySummary> summariseLogDays(const std::vector<LogDayFile>& files,
                                         const ColumnKinds& kinds, int threads)
{
    std::vector<DaySummary> days(files.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        LogFileBytes file; // one buffer per thread
        for (size_t i = next++; i < files.size(); i = next++) {
            QString error;
            if (file.open(files[i].path, logDayMayChange(files[i].date), &error)) {
                days[i] = summariseLogDay(file.bytes(), kinds);
            } else {
                days[i].error = error;
            }
            days[i].date = files[i].date;
        }
    };
    const size_t helpers =
        std::min(files.size(), static_cast<size_t>(std::max(threads, 1))) - (files.empty() ? 0 : 1);
    std::vector<std::thread> pool;
    for (size_t t = 0; t < helpers; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& t : pool)
        t.join();
    return days;
}

QByteArray reportCsv(const std::vector<DaySummary>& days, const QStringList& loggedNames,
                     const ValueUnits& units)
{
    size_t columns = static_cast<size_t>(loggedNames.size());
    for (const DaySummary& day : days)
        columns = std::max(columns, day.columns.size());
    columns = std::min(columns, static_cast<size_t>(MaxLogColumns));
    const ColumnKinds kinds = columnKinds(loggedNames);

    QByteArray out;
    out.reserve(static_cast<qsizetype>(64 + days.size() * (16 + columns * 24)));
    out += "date,lines,skipped";
    for (size_t c = 0; c < columns; ++c) {
        const QByteArray name = columnName(loggedNames, static_cast<int>(c)).toUtf8();
        if (kinds[c] == FieldKind::Relay)
            out += ",Relay Status on"; // the share of lines with the relay on
        else
            out += ',' + name + " min," + name + " mean," + name + " max";
    }
    out += '\n';

    for (const DaySummary& day : days) {
        if (!day.read)
            continue;
        out += day.date.toString(Qt::ISODate).toLatin1() + ',' + QByteArray::number(day.lines) +
               ',' + QByteArray::number(day.skipped);
        for (size_t c = 0; c < columns; ++c) {
            const FieldKind kind = kinds[c];
            if (c >= day.columns.size() || day.used == 0) {
                out += kind == FieldKind::Relay ? "," : ",,,";
                continue;
            }
            const ColumnStats& s = day.columns[c];
            const double mean = static_cast<double>(s.sum) / static_cast<double>(day.used);
            if (kind == FieldKind::Relay) {
                out += ',' + QByteArray::number(mean, 'f', 3);
            } else if (kind == FieldKind::Temperature || kind == FieldKind::Hysteresis) {
                out += ',' + twoDecimals(displayValue(kind, s.min, units)).toLatin1() + ',' +
                       twoDecimals(displayValue(kind, mean, units)).toLatin1() + ',' +
                       twoDecimals(displayValue(kind, s.max, units)).toLatin1();
            } else {
                out += ',' + QByteArray::number(s.min) + ',' + twoDecimals(mean).toLatin1() + ',' +
                       QByteArray::number(s.max);
            }
        }
        out += '\n';
    }
    return out;
}

} // namespace kelvaro
