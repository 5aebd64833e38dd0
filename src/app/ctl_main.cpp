// kelvaro-ctl: the recorder's service from a shell script or cron. Reads the live values,
// writes an entry box as the window would, follows every block, or tells the service's
// status, over the recorder's local socket. QtCore and QtNetwork only.
//
// Exit codes: 0 done, 1 write refused (nothing sent), 2 bad usage, 3 no service answers,
// 4 write not confirmed in time.

#include "core/version.h"
#include "service/service_client.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QTimer>
#include <cstdio>

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
        "                  the window; waits until a block from the board shows it\n"
        "  watch           one JSON line per block from the board until interrupted\n"
        "  status          the line, the board, the log and the clients\n\n"
        "Exit codes: 0 done, 1 refused (nothing sent), 2 bad usage, 3 no service answers,\n"
        "4 not confirmed within the time-out."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption socketOption(
        QStringLiteral("socket"),
        QStringLiteral("The recorder's socket (default: kelvaro.sock in the current folder)."),
        QStringLiteral("path"));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("values, status: print one JSON object."));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"),
        QStringLiteral("set: seconds to wait for the board to show the value (default 10)."),
        QStringLiteral("seconds"), QStringLiteral("10"));
    const QCommandLineOption unitOption(
        QStringLiteral("unit"),
        QStringLiteral("C or F: the unit of temperatures shown and typed (default: the "
                       "recorder's setting)."),
        QStringLiteral("unit"));
    parser.addOption(socketOption);
    parser.addOption(jsonOption);
    parser.addOption(timeoutOption);
    parser.addOption(unitOption);
    if (!parser.parse(QCoreApplication::arguments())) {
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
                     QStringLiteral("status")}
             .contains(command) ||
        args.size() != wanted) {
        printErr(command.isEmpty() || args.size() == wanted
                     ? QStringLiteral("give one command: values, set BOX VALUE, watch or status; "
                                      "see --help")
                     : QStringLiteral("%1 takes %2 argument(s); see --help")
                           .arg(command)
                           .arg(wanted - 1));
        return Usage;
    }
    bool timeoutOk = false;
    const double timeout = parser.value(timeoutOption).toDouble(&timeoutOk);
    if (!timeoutOk || !(timeout > 0) || timeout > 3600) {
        printErr(QStringLiteral("--timeout takes seconds above 0, at most 3600"));
        return Usage;
    }
    const QString unit = parser.value(unitOption).toUpper();
    if (parser.isSet(unitOption) && unit != u"C" && unit != u"F") {
        printErr(QStringLiteral("--unit takes C or F"));
        return Usage;
    }
    const QString path = QDir::current().absoluteFilePath(
        parser.isSet(socketOption) ? parser.value(socketOption) : QStringLiteral("kelvaro.sock"));
    const bool json = parser.isSet(jsonOption);

    kelvaro::service::ServiceClient client;
    int exitCode = Done;
    const auto finish = [&](int code) {
        exitCode = code;
        client.close();
        QCoreApplication::exit(code);
    };
    // Every request names the unit (when given) and this program's locale, so values come
    // and are read as the operator's window would show and read them.
    const auto request = [&](const QString& type) {
        QJsonObject object{{QStringLiteral("type"), type},
                           {QStringLiteral("locale"), QLocale().name()}};
        if (!unit.isEmpty())
            object.insert(QStringLiteral("unit"), unit);
        return object;
    };

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
        } else {
            QJsonObject set = request(QStringLiteral("set"));
            bool isIndex = false;
            const int index = args[1].toInt(&isIndex);
            set.insert(QStringLiteral("box"), isIndex ? QJsonValue(index) : QJsonValue(args[1]));
            set.insert(QStringLiteral("text"), args[2]);
            set.insert(QStringLiteral("timeout"), timeout);
            client.send(set);
            // The service answers "not-confirmed" at its time-out; this is the backstop.
            QTimer::singleShot(std::chrono::milliseconds(qint64(timeout * 1000) + 3000),
                               &application, [&] {
                                   printErr(QStringLiteral("no answer within %1 s").arg(timeout));
                                   finish(NotConfirmed);
                               });
        }
    });
    QObject::connect(&client, &kelvaro::service::ServiceClient::message, &application,
                     [&](const QJsonObject& message) {
                         const QString type = message.value(u"type").toString();
                         if (type == u"error") {
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
                             if (state == u"refused") {
                                 printErr(message.value(u"reason").toString());
                                 finish(Refused);
                             } else if (state == u"confirmed") {
                                 finish(Done);
                             } else if (state == u"not-confirmed") {
                                 printErr(QStringLiteral("not confirmed: ") +
                                          message.value(u"reason").toString());
                                 finish(NotConfirmed);
                             }
                         }
                     });
    // From the event loop, so that a failure to connect ends it like any other.
    QTimer::singleShot(0, &client, [&] { client.connectTo(path); });
    const int code = QCoreApplication::exec();
    return code == 0 ? exitCode : code;
}
