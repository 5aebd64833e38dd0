#include "app/report_command.h"

#include "app/plot_command.h"
#include "history/history_command.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

namespace kelvaro {

namespace {

void usage(const QString& error)
{
    const QByteArray text =
        (QStringLiteral("kelvaro: ") + error +
         QStringLiteral("\nusage: kelvaro --report [--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
                        "       kelvaro --plot FILE.png [--from YYYY-MM-DD] [--to YYYY-MM-DD] "
                        "[--size WxH]\n"))
            .toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
}

} // namespace

int runHistoryCommandLine(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (!isHistoryCommand(arguments))
        return -1;
    QString error;
    const std::optional<HistoryCommand> command = parseHistoryCommand(arguments, &error);
    if (!command) {
        usage(error);
        return 2;
    }
    if (command->kind == HistoryCommand::Kind::Plot)
        return runPlotCommand(argc, argv, *command);
    // The report reads files only: no display, no windows.
    QCoreApplication application(argc, argv);
    return runReport(QDir::currentPath(), *command, stdout, stderr);
}

} // namespace kelvaro
