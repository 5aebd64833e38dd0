// The daily log files as read back for the report and the chart: any bytes - hand-edited
// lines, lines cut short, binary junk - through the line reader, the day summary and the
// chart's day reader. Every line is counted once, as used or skipped; a used line reads
// back the same when written again; the report and the chart agree on what they skipped;
// the report's rows have as many cells as its header.

#include "fuzz_check.h"
#include "history/daily_report.h"
#include "history/history_data.h"
#include "history/log_line.h"

#include <QByteArray>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>

using kelvaro::fuzz::require;
using namespace kelvaro;

namespace {

QByteArray lineText(const LogLine& line)
{
    char time[16];
    std::snprintf(time, sizeof time, "d,%02d:%02d:%02d", line.secondOfDay / 3600,
                  line.secondOfDay / 60 % 60, line.secondOfDay % 60);
    QByteArray text(time);
    for (int i = 0; i < line.count; ++i)
        text += ',' + QByteArray::number(line.values[size_t(i)]);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const qint64 lineEnds = std::count(bytes.begin(), bytes.end(), '\n');
    const bool cutShort = !bytes.empty() && bytes.back() != '\n';

    qint64 used = 0;
    const LogScanCount count = scanLogBytes(bytes, [&](const LogLine& line) {
        ++used;
        require(line.secondOfDay >= 0 && line.secondOfDay < 86400, "a time of day");
        require(line.count >= 0 && line.count <= MaxLogColumns, "a bounded column count");
        const QByteArray again = lineText(line);
        LogLine reread;
        require(parseLogLine(std::string_view(again.constData(), size_t(again.size())), reread),
                "a used line written again is read");
        require(reread.secondOfDay == line.secondOfDay && reread.count == line.count &&
                    std::equal(line.values.begin(), line.values.begin() + line.count,
                               reread.values.begin()),
                "and reads back the same");
    });
    require(count.lines == lineEnds + (cutShort ? 1 : 0), "every line is counted");
    require(used + count.rejected == count.lines, "each line is used or rejected");

    const QStringList names{QStringLiteral("Actual Temperature (i16)"),
                            QStringLiteral("Relay Status (h08)")};
    DaySummary day = summariseLogDay(bytes, columnKinds(names));
    require(day.lines == count.lines && day.used + day.skipped == day.lines, "day counts add up");
    require(day.used <= used, "the day uses only usable lines");
    for (const ColumnStats& column : day.columns)
        require(column.min <= column.max, "minimum below maximum");

    const HistoryData::Day chartDay = HistoryData::readDay(QDate(2026, 1, 10), bytes, names);
    require(chartDay.lines == day.lines && chartDay.skipped == day.skipped,
            "the chart skips what the report skips");
    require(qint64(chartDay.seconds.size()) == day.used &&
                chartDay.values.size() == chartDay.seconds.size() * size_t(chartDay.width),
            "one value per used line and column");
    require(std::is_sorted(chartDay.seconds.begin(), chartDay.seconds.end()), "times in order");

    day.date = QDate(2026, 1, 10);
    const QList<QByteArray> rows = reportCsv({day}, names, ValueUnits{}).split('\n');
    require(rows.size() == 3 && rows.at(2).isEmpty(), "a header and one row");
    require(rows.at(0).count(',') == rows.at(1).count(','), "the row fills the header");
    return 0;
}
