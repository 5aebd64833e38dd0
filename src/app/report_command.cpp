#include "app/report_command.h"

#include "app/plot_command.h"
#include "history/history_command.h"
#include "service/remote_history.h"
#include "service/service_client.h"

#include <QCoreApplication>
#include <QDir>
#include <chrono>
#include <cstdio>

namespace kelvaro {

namespace {

void usage(const QString& error)
{
    const QByteArray text =
        (QStringLiteral("kelvaro: ") + error +
         QStringLiteral("\nusage: kelvaro --report [--from YYYY-MM-DD] [--to YYYY-MM-DD] "
                        "[--attach SOCKET]\n"
                        "       kelvaro --plot FILE.png [--from YYYY-MM-DD] [--to YYYY-MM-DD] "
                        "[--size WxH]\n"))
            .toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
}

void print(std::FILE* to, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
}

// The recorder asked for does not answer, or went away, or cannot send its history.
constexpr int NoRecorder = 3;
// How long the recorder has to say hello.
constexpr std::chrono::seconds HelloWait{10};

// --report --attach: the report the recorder makes in its board folder, written out as
// the local report is (the CSV to stdout, unreadable files to stderr, the same status).
int runAttachedReport(const QString& address, const HistoryCommand& command)
{
    service::ServiceClient client;
    client.setHelloTimeout(HelloWait);
    service::RemoteHistory history(client);
    int status = NoRecorder;
    bool connected = false;
    QObject::connect(&client, &service::ServiceClient::connected, &history, [&] {
        connected = true;
        history.requestReport(command.from, command.to);
    });
    QObject::connect(
        &client, &service::ServiceClient::failed, &history, [&](const QString& reason) {
            if (!connected) {
                print(stderr, QStringLiteral("kelvaro: no recorder answers: %1\n").arg(reason));
                QCoreApplication::exit(NoRecorder);
            }
        });
    QObject::connect(&history, &service::RemoteHistory::failed, &history,
                     [&](const QString& reason) {
                         print(stderr, QStringLiteral("kelvaro: %1\n").arg(reason));
                         QCoreApplication::exit(NoRecorder);
                     });
    QObject::connect(&history, &service::RemoteHistory::reportReady, &history,
                     [&](const QByteArray& csv, const QStringList& errors, int days, int read) {
                         for (const QString& error : errors)
                             print(stderr, error + QLatin1Char('\n'));
                         std::fwrite(csv.constData(), 1, size_t(csv.size()), stdout);
                         std::fflush(stdout);
                         status = (days > 0 && read == 0) ? 1 : 0;
                         client.close();
                         QCoreApplication::exit(status);
                     });
    // From within the event loop: a socket that is not there fails at once, and its exit
    // must come after exec() has started.
    QMetaObject::invokeMethod(
        &client, [&client, address] { client.connectTo(address); }, Qt::QueuedConnection);
    status = QCoreApplication::exec();
    return status;
}

} // namespace

int runHistoryCommandLine(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (!isHistoryCommand(arguments))
        return -1;
    // --attach ADDRESS (or --attach=ADDRESS): the report comes from that recorder.
    std::optional<QString> attach;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QStringLiteral("--attach")) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty() ||
                arguments[i + 1].startsWith(QStringLiteral("--"))) {
                usage(QStringLiteral("--attach needs the socket of a kelvaro-recorder"));
                return 2;
            }
            attach = arguments[i + 1];
            arguments.remove(i, 2);
            --i;
        } else if (arguments[i].startsWith(QStringLiteral("--attach="))) {
            attach = arguments[i].mid(9);
            arguments.remove(i);
            --i;
        }
    }
    QString error;
    const std::optional<HistoryCommand> command = parseHistoryCommand(arguments, &error);
    if (!command) {
        usage(error);
        return 2;
    }
    if (attach && (command->kind != HistoryCommand::Kind::Report || attach->isEmpty())) {
        usage(attach->isEmpty() ? QStringLiteral("--attach needs the socket of a kelvaro-recorder")
                                : QStringLiteral("--attach is for --report"));
        return 2;
    }
    if (command->kind == HistoryCommand::Kind::Plot)
        return runPlotCommand(argc, argv, *command);
    if (attach) {
        QCoreApplication application(argc, argv);
        return runAttachedReport(*attach, *command);
    }
    // The report reads files only: no display, no windows.
    QCoreApplication application(argc, argv);
    return runReport(QDir::currentPath(), *command, stdout, stderr);
}

} // namespace kelvaro
