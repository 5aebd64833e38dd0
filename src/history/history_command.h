#pragma once
// The command lines `kelvaro --report [--from D] [--to D]` and `kelvaro --plot FILE.png
// [--from D] [--to D] [--size WxH]`: reading them, and the report itself, which needs
// neither windows nor a display.

#include "core/kelv_main.h"
#include "history/log_files.h"

#include <QDate>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>
#include <vector>

namespace kelvaro {

struct HistoryCommand
{
    enum class Kind
    {
        Report,
        Plot
    };
    Kind kind = Kind::Report;
    QString plotFile;
    std::optional<QDate> from;
    std::optional<QDate> to;
    QSize size{1200, 600};
};

// True when the arguments (without the program name) ask for --report or --plot.
bool isHistoryCommand(const QStringList& arguments);

// The command, or no value with the reason in `error` (an unknown option, a date that
// is not YYYY-MM-DD, --from after --to, a size that is not WxH within 100..10000).
std::optional<HistoryCommand> parseHistoryCommand(const QStringList& arguments, QString* error);

// What the commands take from the working folder: the settings, the logged fields and
// the log files of the range.
struct HistorySource
{
    Kelv_Main state;
    QStringList loggedNames;
    std::vector<LogDayFile> files;
};
HistorySource historySource(const QString& folder, const HistoryCommand& command);

// Runs --report in `folder`: the CSV to `out`, unreadable files named on `err`. Returns
// the exit status: 0, or 1 when files were found and none of them could be read.
int runReport(const QString& folder, const HistoryCommand& command, std::FILE* out, std::FILE* err);

// Threads worth using for reading: the cores, at most four.
int readingThreads();

} // namespace kelvaro
