#include "history/history_command.h"

#include "history/daily_report.h"
#include "store/settings_file.h"
#include "values/parameter_values.h"

#include <algorithm>
#include <thread>

namespace kelvaro {

namespace {

const QString ReportOption = QStringLiteral("--report");
const QString PlotOption = QStringLiteral("--plot");

std::optional<QDate> isoDate(const QString& text)
{
    if (text.size() != 10)
        return std::nullopt;
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

std::optional<QSize> plotSize(const QString& text)
{
    const qsizetype x = text.indexOf(QLatin1Char('x'));
    if (x <= 0)
        return std::nullopt;
    bool okW = false;
    bool okH = false;
    const int w = text.left(x).toInt(&okW);
    const int h = text.mid(x + 1).toInt(&okH);
    if (!okW || !okH || w < 100 || h < 100 || w > 10000 || h > 10000)
        return std::nullopt;
    return QSize(w, h);
}

} // namespace

bool isHistoryCommand(const QStringList& arguments)
{
    return arguments.contains(ReportOption) || arguments.contains(PlotOption);
}

std::optional<HistoryCommand> parseHistoryCommand(const QStringList& arguments, QString* error)
{
    HistoryCommand command;
    bool haveKind = false;
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& option = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        if (option == ReportOption || option == PlotOption) {
            if (haveKind)
                return fail(QStringLiteral("give either --report or --plot, once"));
            haveKind = true;
            command.kind =
                option == ReportOption ? HistoryCommand::Kind::Report : HistoryCommand::Kind::Plot;
            if (command.kind == HistoryCommand::Kind::Plot) {
                if (!hasValue || arguments.at(i + 1).startsWith(QStringLiteral("--")))
                    return fail(QStringLiteral("--plot needs the name of the PNG file to write"));
                command.plotFile = arguments.at(++i);
            }
        } else if (option == QStringLiteral("--from") || option == QStringLiteral("--to")) {
            const std::optional<QDate> date =
                hasValue ? isoDate(arguments.at(i + 1)) : std::nullopt;
            if (!date)
                return fail(option + QStringLiteral(" needs a date written YYYY-MM-DD"));
            (option == QStringLiteral("--from") ? command.from : command.to) = date;
            ++i;
        } else if (option == QStringLiteral("--size")) {
            const std::optional<QSize> size =
                hasValue ? plotSize(arguments.at(i + 1)) : std::nullopt;
            if (!size)
                return fail(QStringLiteral("--size needs WIDTHxHEIGHT, each 100 to 10000 pixels"));
            command.size = *size;
            ++i;
        } else {
            return fail(QStringLiteral("unknown option ") + option);
        }
    }
    if (!haveKind)
        return fail(QStringLiteral("give --report or --plot"));
    if (command.kind == HistoryCommand::Kind::Report &&
        arguments.contains(QStringLiteral("--size")))
        return fail(QStringLiteral("--size is for --plot"));
    if (command.from && command.to && *command.from > *command.to)
        return fail(QStringLiteral("--from is after --to"));
    return command;
}

HistorySource historySource(const QString& folder, const HistoryCommand& command)
{
    HistorySource source;
    Init_Field_Names(source.state.Field_Names);
    Init_Event_Names(source.state.Event_Names);
    LoadSettings(source.state.settings, folder);
    source.loggedNames = loggedFieldNames(source.state.settings, source.state.Field_Names);
    source.files = findLogDays(folder, source.state.settings.Log_NameFormat.toText(), command.from,
                               command.to);
    return source;
}

int readingThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return int(std::clamp(cores, 1u, 4u));
}

int runReport(const QString& folder, const HistoryCommand& command, std::FILE* out, std::FILE* err)
{
    const HistorySource source = historySource(folder, command);
    const std::vector<DaySummary> days =
        summariseLogDays(source.files, columnKinds(source.loggedNames), readingThreads());
    bool anyRead = false;
    for (size_t i = 0; i < days.size(); ++i) {
        if (days[i].read) {
            anyRead = true;
        } else {
            const QByteArray message =
                (source.files[i].path + QStringLiteral(": ") + days[i].error + QLatin1Char('\n'))
                    .toLocal8Bit();
            std::fwrite(message.constData(), 1, size_t(message.size()), err);
        }
    }
    const ValueUnits units{source.state.settings.Use_Fahrenheit,
                           calibrationValue(source.state.settings.Timer_CalValue)};
    const QByteArray csv = reportCsv(days, source.loggedNames, units);
    std::fwrite(csv.constData(), 1, size_t(csv.size()), out);
    std::fflush(out);
    return (!days.empty() && !anyRead) ? 1 : 0;
}

} // namespace kelvaro
