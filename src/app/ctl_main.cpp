// kelvaro-ctl: the recorder's service from a shell script or cron. Reads the live values,
// writes an entry box as the window would, follows every block, or tells the service's
// status, over the recorder's local socket or, with --host ssh://..., another machine's
// through ssh; "bridge" is what ssh runs on that machine. QtCore and QtNetwork only.
//
// Exit codes: 0 done, 1 write refused (nothing sent), 2 bad usage, 3 no service answers
// (nothing, or no recorder, on the socket, or no answer in time; for set: nothing is known
// to be queued), 4 write not confirmed in time. No command waits without a limit but watch
// once the recorder has said hello.

#include "app/ctl_bridge.h"
#include "core/version.h"
#include "service/service_client.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

enum Exit
{
    Done = 0,
    Refused = 1,
    Usage = 2,
    NoService = 3,
    NotConfirmed = 4
};

void printOut(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

void printErr(const QString& text)
{
    std::fprintf(stderr, "kelvaro-ctl: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// "Actual Temperature:" and "Lower Mode :" become "Actual Temperature" and "Lower Mode".
QString plainCaption(QString caption)
{
    caption = caption.trimmed();
    if (caption.endsWith(u':'))
        caption.chop(1);
    return caption.trimmed();
}

// The longest --timeout and --connect-timeout: an hour.
constexpr double MaxSeconds = 3600;
// How much longer than its --timeout set waits for the service's own not-confirmed answer.
constexpr std::chrono::milliseconds OutcomeMargin{3000};

// Seconds as --timeout and --connect-timeout take them: above 0, at most MaxSeconds.
std::optional<double> secondsFrom(const QString& text)
{
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !(seconds > 0) || seconds > MaxSeconds)
        return std::nullopt;
    return seconds;
}

// At least a millisecond: a zero time-out would mean no limit to the client.
std::chrono::milliseconds millisecondsOf(double seconds)
{
    return std::chrono::milliseconds(std::max<qint64>(1, std::llround(seconds * 1000)));
}

// "-6", "-0.5" or, in a locale with a decimal comma, "-,5": a value, not an option.
bool isNegativeNumber(const QString& argument, const QString& decimalPoint)
{
    if (argument.size() < 2 || argument[0] != u'-')
        return false;
    if (argument[1].isDigit())
        return true;
    const qsizetype digit = 1 + decimalPoint.size();
    return argument.mid(1).startsWith(decimalPoint) && argument.size() > digit &&
           argument[digit].isDigit();
}

// QCommandLineParser takes every argument that begins with a minus sign for an option, so
// "set 2 -6" would fail as "Unknown option '6'". After the set command such a negative
// number is made a positional argument: the options (with the values they take) go first,
// then "--", then the positional arguments in their order. Other commands take no values,
// and their arguments are left as they are.
QStringList negativeValuesAsPositional(const QStringList& arguments,
                                       const QStringList& optionsWithValue)
{
    const QString decimalPoint = QLocale().decimalPoint();
    QStringList options{arguments.value(0)};
    QStringList positional;
    bool afterDashes = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (afterDashes) {
            positional << argument;
        } else if (argument == u"--") {
            afterDashes = true;
        } else if (argument.size() > 1 && argument.startsWith(u'-') &&
                   !(positional.value(0) == u"set" && isNegativeNumber(argument, decimalPoint))) {
            options << argument;
            // "--socket PATH": the next argument is the option's value, whatever it is.
            if (optionsWithValue.contains(argument) && i + 1 < arguments.size())
                options << arguments[++i];
        } else {
            positional << argument;
        }
    }
    if (positional.value(0) != u"set")
        return arguments;
    return options + QStringList{QStringLiteral("--")} + positional;
}

QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void printValues(const QJsonObject& state, bool json)
{
    const QJsonArray values = state.value(u"values").toArray();
    QJsonObject byCaption;
    for (const QJsonValue& pair : values) {
        const QString caption = plainCaption(pair.toArray().at(0).toString());
        const QString text = pair.toArray().at(1).toString();
        if (json)
            byCaption.insert(caption, text);
        else
            printOut(caption + u'=' + text);
    }
    if (json)
        printOut(compact(byCaption));
}

void printStatus(const QJsonObject& status)
{
    const QJsonObject line = status.value(u"line").toObject();
    const QJsonObject board = status.value(u"board").toObject();
    const QJsonObject log = status.value(u"log").toObject();
    const QJsonObject clients = status.value(u"clients").toObject();
    const QJsonObject writes = status.value(u"writes").toObject();
    printOut(
        QStringLiteral("line: %1, %2, %3%4")
            .arg(line.value(u"device").toString(),
                 line.value(u"open").toBool() ? QStringLiteral("open") : QStringLiteral("not open"),
                 line.value(u"status").toString(),
                 line.value(u"problem").toString().isEmpty()
                     ? QString()
                     : QStringLiteral(", ") + line.value(u"problem").toString()));
    printOut(QStringLiteral("board: %1, %2 blocks")
                 .arg(board.value(u"answering").toBool() ? QStringLiteral("answering")
                                                         : QStringLiteral("not answering"))
                 .arg(board.value(u"blocks").toInteger()));
    printOut(QStringLiteral("log: %1 in %2, last line %3%4")
                 .arg(log.value(u"active").toBool() ? QStringLiteral("on") : QStringLiteral("off"),
                      log.value(u"folder").toString(),
                      log.value(u"lastWrite").toString(QStringLiteral("none")),
                      log.value(u"failure").toString().isEmpty()
                          ? QString()
                          : QStringLiteral(", failing: ") + log.value(u"failure").toString()));
    if (const QString idle = log.value(u"idle").toString(); !idle.isEmpty())
        printOut(QStringLiteral("log: writes nothing of use: ") + idle);
    printOut(QStringLiteral("clients: %1 connected, %2 subscribed (at most %3)")
                 .arg(clients.value(u"connected").toInt())
                 .arg(clients.value(u"subscribed").toInt())
                 .arg(clients.value(u"max").toInt()));
    printOut(QStringLiteral("writes: %1 waiting, %2 sent and not yet confirmed")
                 .arg(writes.value(u"waiting").toInteger())
                 .arg(writes.value(u"unconfirmed").toInteger()));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvaro-ctl"));
    QCoreApplication::setApplicationVersion(kelvaro::versionText());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Talks to kelvaro-recorder over its local socket.\n\n"
        "Commands:\n"
        "  values          the live values, one caption=value line each (--json: one object)\n"
        "  set BOX VALUE   write entry box BOX (0-9 or its caption) with VALUE as typed in\n"
        "                  the window; waits until a block from the board shows it. A VALUE\n"
        "                  that begins with a minus sign and a digit (set 2 -6) is a value,\n"
        "                  not an option\n"
        "  watch           one JSON line per block from the board until interrupted\n"
        "  status          the line, the board, the log and the clients\n"
        "  bridge          pass standard input and output to the socket until either side\n"
        "                  closes (what ssh runs for --host and kelvaro --attach ssh://...);\n"
        "                  without --socket: the only recorder's under /run/kelvaro\n\n"
        "Exit codes: 0 done, 1 refused (nothing sent), 2 bad usage, 3 no service answers\n"
        "(nothing or no recorder on the socket, or no answer within --connect-timeout; for\n"
        "set: nothing is known to be queued), 4 not confirmed within the time-out."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption socketOption(
        QStringLiteral("socket"),
        QStringLiteral("The recorder's socket (default: kelvaro.sock in the current folder; "
                       "an empty path is refused)."),
        QStringLiteral("path"));
    const QCommandLineOption hostOption(
        QStringLiteral("host"),
        QStringLiteral("A recorder on another machine, through ssh (BatchMode): "
                       "ssh://[user@]host[:port][/DEVICE or /PATH]; without /DEVICE or /PATH "
                       "the only recorder there. KELVARO_SSH_COMMAND names another ssh."),
        QStringLiteral("address"));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("values, status: print one JSON object."));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"),
        QStringLiteral("set: seconds to wait for the board to show the value (default 10, "
                       "above 0, at most 3600)."),
        QStringLiteral("seconds"), QStringLiteral("10"));
    const QCommandLineOption unitOption(
        QStringLiteral("unit"),
        QStringLiteral("C or F: the unit of temperatures shown and typed (default: the "
                       "recorder's setting)."),
        QStringLiteral("unit"));
    const QCommandLineOption connectTimeoutOption(
        QStringLiteral("connect-timeout"),
        QStringLiteral("Seconds to wait for the recorder's hello, and then for the answer to "
                       "the request (default 5, above 0, at most 3600)."),
        QStringLiteral("seconds"), QStringLiteral("5"));
    parser.addOption(socketOption);
    parser.addOption(hostOption);
    parser.addOption(jsonOption);
    parser.addOption(timeoutOption);
    parser.addOption(connectTimeoutOption);
    parser.addOption(unitOption);
    if (!parser.parse(negativeValuesAsPositional(
            QCoreApplication::arguments(),
            {QStringLiteral("--socket"), QStringLiteral("--host"), QStringLiteral("--timeout"),
             QStringLiteral("--connect-timeout"), QStringLiteral("--unit")}))) {
        printErr(parser.errorText());
        return Usage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        printOut(parser.helpText());
        return Done;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        printOut(QStringLiteral("kelvaro-ctl ") + kelvaro::versionText());
        return Done;
    }

    const QStringList args = parser.positionalArguments();
    const QString command = args.value(0);
    const qsizetype wanted = command == u"set" ? 3 : 1;
    if (!QStringList{QStringLiteral("values"), QStringLiteral("set"), QStringLiteral("watch"),
                     QStringLiteral("status"), QStringLiteral("bridge")}
             .contains(command) ||
        args.size() != wanted) {
        printErr(command.isEmpty() || args.size() == wanted
                     ? QStringLiteral("give one command: values, set BOX VALUE, watch, status or "
                                      "bridge; see --help")
                     : QStringLiteral("%1 takes %2 argument(s); see --help")
                           .arg(command)
                           .arg(wanted - 1));
        return Usage;
    }
    const std::optional<double> timeout = secondsFrom(parser.value(timeoutOption));
    if (!timeout) {
        printErr(QStringLiteral("--timeout takes seconds above 0, at most 3600"));
        return Usage;
    }
    const std::optional<double> connectTimeout = secondsFrom(parser.value(connectTimeoutOption));
    if (!connectTimeout) {
        printErr(QStringLiteral("--connect-timeout takes seconds above 0, at most 3600"));
        return Usage;
    }
    const QString unit = parser.value(unitOption).toUpper();
    if (parser.isSet(unitOption) && unit != u"C" && unit != u"F") {
        printErr(QStringLiteral("--unit takes C or F"));
        return Usage;
    }
    // An empty path would silently name the current folder.
    if (parser.isSet(socketOption) && parser.value(socketOption).isEmpty()) {
        printErr(QStringLiteral("--socket takes the path of the recorder's socket, not an "
                                "empty one"));
        return Usage;
    }
    if (parser.isSet(hostOption) && parser.isSet(socketOption)) {
        printErr(QStringLiteral("give --host or --socket, not both: the far side's socket goes "
                                "into the address, as ssh://HOST/PATH"));
        return Usage;
    }
    if (parser.isSet(hostOption)) {
        const kelvaro::Outcome<kelvaro::service::ServiceAddress> address =
            kelvaro::service::parseServiceAddress(parser.value(hostOption));
        if (!address || !address->overSsh()) {
            printErr(address ? QStringLiteral("--host takes an ssh://... address; a local socket "
                                              "is given with --socket")
                             : address.reason());
            return Usage;
        }
        if (command == u"bridge") {
            printErr(QStringLiteral("bridge passes a local socket on; it takes no --host"));
            return Usage;
        }
    }
    if (command == u"bridge") {
        QString error;
        const QString socket =
            parser.isSet(socketOption)
                ? QDir::current().absoluteFilePath(parser.value(socketOption))
                : kelvaro::bridgeSocket(QLatin1String(kelvaro::service::RunFolder), &error);
        const int code = socket.isEmpty() ? NoService : kelvaro::runBridge(socket, &error);
        if (!error.isEmpty())
            printErr(error);
        return code;
    }
    const QString path = parser.isSet(hostOption)
                             ? parser.value(hostOption)
                             : QDir::current().absoluteFilePath(
                                   parser.isSet(socketOption) ? parser.value(socketOption)
                                                              : QStringLiteral("kelvaro.sock"));
    const bool json = parser.isSet(jsonOption);

    kelvaro::service::ServiceClient client;
    client.setHelloTimeout(millisecondsOf(*connectTimeout));
    client.setBatchMode(true);
    int exitCode = Done;
    bool finished = false;
    // The answer to the request (for set: the write's "queued" or "refused") must come
    // within the connect time-out; set's outcome then within its own time-out and a margin.
    QTimer answerTimer;
    QTimer outcomeTimer;
    answerTimer.setSingleShot(true);
    outcomeTimer.setSingleShot(true);
    const auto finish = [&](int code) {
        if (finished)
            return;
        finished = true;
        exitCode = code;
        answerTimer.stop();
        outcomeTimer.stop();
        client.close();
        QCoreApplication::exit(code);
    };
    // The id the service echoes in every answer to this program's one request.
    const QJsonValue requestId(1);
    // Every request names the unit (when given) and this program's locale, so values come
    // and are read as the operator's window would show and read them.
    const auto request = [&](const QString& type) {
        QJsonObject object{{QStringLiteral("type"), type},
                           {QStringLiteral("id"), requestId},
                           {QStringLiteral("locale"), QLocale().name()}};
        if (!unit.isEmpty())
            object.insert(QStringLiteral("unit"), unit);
        return object;
    };
    const QString connectSeconds = QString::number(*connectTimeout);

    QObject::connect(&answerTimer, &QTimer::timeout, &application, [&] {
        printErr(command == u"set"
                     ? QStringLiteral("the service on %1 did not take the write within %2 s; "
                                      "nothing is known to be queued")
                           .arg(path, connectSeconds)
                     : QStringLiteral("the service on %1 did not answer within %2 s")
                           .arg(path, connectSeconds));
        finish(NoService);
    });
    QObject::connect(&outcomeTimer, &QTimer::timeout, &application, [&] {
        printErr(
            QStringLiteral("the write was queued, but no outcome came within %1 s").arg(*timeout));
        finish(NotConfirmed);
    });
    QObject::connect(&client, &kelvaro::service::ServiceClient::failed, &application,
                     [&](const QString& reason) {
                         printErr(reason);
                         finish(NoService);
                     });
    QObject::connect(&client, &kelvaro::service::ServiceClient::connected, &application, [&] {
        if (command == u"values") {
            client.send(request(QStringLiteral("values")));
        } else if (command == u"status") {
            client.send(request(QStringLiteral("status")));
        } else if (command == u"watch") {
            client.send(request(QStringLiteral("subscribe")));
            return; // runs until interrupted
        } else {
            QJsonObject set = request(QStringLiteral("set"));
            bool isIndex = false;
            const int index = args[1].toInt(&isIndex);
            set.insert(QStringLiteral("box"), isIndex ? QJsonValue(index) : QJsonValue(args[1]));
            set.insert(QStringLiteral("text"), args[2]);
            set.insert(QStringLiteral("timeout"), *timeout);
            client.send(set);
        }
        answerTimer.start(millisecondsOf(*connectTimeout));
    });
    QObject::connect(
        &client, &kelvaro::service::ServiceClient::message, &application,
        [&](const QJsonObject& message) {
            const QString type = message.value(u"type").toString();
            const QJsonValue id = message.value(u"id");
            if (type == u"error") {
                // An error without an id answers a line the service could not read, and
                // this program sends only its one request; one with another id is not for
                // this program.
                if (!id.isUndefined() && id != requestId)
                    return;
                printErr(QStringLiteral("the service refused: ") +
                         message.value(u"reason").toString());
                finish(command == u"set" ? Refused : Usage);
            } else if (command == u"values" && type == u"state") {
                printValues(message, json);
                finish(Done);
            } else if (command == u"status" && type == u"status") {
                if (json)
                    printOut(compact(message));
                else
                    printStatus(message);
                finish(Done);
            } else if (command == u"watch" && type == u"state") {
                printOut(compact(message));
            } else if (command == u"set" && type == u"write") {
                const QString state = message.value(u"state").toString();
                const QString reason = message.value(u"reason").toString();
                if (state == u"refused") {
                    printErr(reason);
                    finish(Refused);
                } else if (state == u"queued" || state == u"sent") {
                    // The service waits --timeout for the board and then answers
                    // not-confirmed; the margin is for that answer to arrive.
                    answerTimer.stop();
                    if (!outcomeTimer.isActive())
                        outcomeTimer.start(millisecondsOf(*timeout) + OutcomeMargin);
                } else if (state == u"confirmed") {
                    finish(Done);
                } else if (state == u"not-confirmed") {
                    printErr(QStringLiteral("not confirmed: ") + reason);
                    finish(NotConfirmed);
                } else if (state == u"sent-late") {
                    // The frame was on its way when the time-out passed: it may yet reach
                    // the board, but nothing confirms it.
                    printErr(QStringLiteral("not confirmed, sent after the time-out: ") + reason);
                    finish(NotConfirmed);
                }
            }
        });
    // From the event loop, so that a failure to connect ends it like any other.
    QTimer::singleShot(0, &client, [&] { client.connectTo(path); });
    const int code = QCoreApplication::exec();
    return code == 0 ? exitCode : code;
}
