// kelvaro-recorder: answers the board's polls and writes the daily log files of a board
// folder, with no window and no display (QtCore and QtSerialPort only), for a machine that
// logs day and night. Each change of the line's state is one line on stderr, for the
// journal; SIGTERM, SIGINT and SIGHUP end it between two events. Exit statuses: 0 stopped
// by a signal, 1 the line or the folder held by another program, 2 a wrong command line
// or --metrics path or MQTT option, 78 (EX_CONFIG) a Settings.txt that cannot work.

#include "app/folder_lock.h"
#include "app/metrics_publisher.h"
#include "app/quit_signals.h"
#include "app/recorder_mqtt.h"
#include "app/recorder_service.h"
#include "app/recorder_start.h"
#include "core/kelv_main.h"
#include "core/version.h"
#include "link/board_session.h"
#include "link/line_journal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <memory>

namespace {

void tell(const QString& line)
{
    std::fprintf(stderr, "kelvaro-recorder: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

int main(int argc, char* argv[])
{
    // Before anything else: a SIGTERM from here on ends the recorder cleanly.
    kelvaro::catchQuitSignals();
    kelvaro::keepStandardStreams();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvaro-recorder"));
    QCoreApplication::setApplicationVersion(kelvaro::versionText());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Answers the Kelvaro board's polls and writes the daily log files of a board folder,\n"
        "without a window. Reads Settings.txt in the folder (and writes a starting one,\n"
        "port 1 at 9600 baud with logging on, when there is none)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dirOption(
        QStringLiteral("dir"), QStringLiteral("The board's folder (default: the current folder)."),
        QStringLiteral("folder"));
    const QCommandLineOption deviceOption(
        QStringLiteral("device"),
        QStringLiteral("The serial device to open, instead of the port number of Settings.txt."),
        QStringLiteral("device"));
    const QCommandLineOption metricsOption(
        QStringLiteral("metrics"),
        QStringLiteral("Rewrite this file after every block with the board's state in the "
                       "Prometheus text format (for node_exporter's textfile collector)."),
        QStringLiteral("file"));
    parser.addOption(dirOption);
    parser.addOption(deviceOption);
    const QCommandLineOption socketOption(
        QStringLiteral("socket"),
        QStringLiteral("Serve local clients (kelvaro-ctl, attached windows) on this Unix "
                       "socket (default: kelvaro.sock in the board folder)."),
        QStringLiteral("path"));
    parser.addOption(metricsOption);
    parser.addOption(socketOption);
    const kelvaro::RecorderMqttOptions mqttOptions;
    mqttOptions.addTo(parser);
    parser.process(application);
    if (!parser.positionalArguments().isEmpty()) {
        tell(QStringLiteral("unexpected argument %1; see --help")
                 .arg(parser.positionalArguments().constFirst()));
        return 2;
    }

    const auto mqttSettings = kelvaro::recorderMqttSettings(parser, mqttOptions);
    if (!mqttSettings) {
        tell(QStringLiteral("not started: ") + mqttSettings.reason());
        return 2;
    }

    const QString folder =
        QDir(parser.isSet(dirOption) ? parser.value(dirOption) : QDir::currentPath())
            .absolutePath();
    if (!QFileInfo(folder).isDir()) {
        tell(QStringLiteral("the board folder %1 does not exist").arg(folder));
        return 2;
    }
    kelvaro::FolderLock folderLock;
    kelvaro::Kelv_Main state;
    if (const int status = kelvaro::prepareRecorder(
            folder, parser.isSet(deviceOption),
            parser.isSet(metricsOption) ? std::optional(parser.value(metricsOption)) : std::nullopt,
            folderLock, state.settings, tell))
        return status;

    kelvaro::BoardSession session(state, folder);
    if (parser.isSet(deviceOption))
        session.setDevice(parser.value(deviceOption));

    std::unique_ptr<kelvaro::MetricsPublisher> metrics;
    std::unique_ptr<kelvaro::mqtt::MqttBridge> mqtt;
    kelvaro::installQuitSignals(&application, [&session, &metrics, &mqtt] {
        session.stop();
        if (mqtt)
            mqtt->stop(); // "offline" now, not the broker's will
        if (metrics)
            metrics->publish(); // the line is closed now
        tell(QStringLiteral("stopped"));
        QCoreApplication::quit();
    });

    tell(QStringLiteral("board folder %1").arg(folder));
    session.start();
    const kelvaro::BoardLink& link = session.link();
    if (!link.isOpen() && link.heldByOther()) {
        // Two programs answering one board would garble the exchange: leave it alone.
        session.stop();
        tell(QStringLiteral("not started: ") + link.openFailure());
        return 1;
    }
    const QString socketPath = parser.isSet(socketOption)
                                   ? QFileInfo(parser.value(socketOption)).absoluteFilePath()
                                   : kelvaro::defaultSocketPath(folder);
    // The log must never be written into another file of the recorder's in the folder.
    QStringList ownFiles{kelvaro::FolderLockFileName};
    for (const QString& path :
         {socketPath, parser.isSet(metricsOption) ? parser.value(metricsOption) : QString()}) {
        const QFileInfo file(path);
        if (!path.isEmpty() && QFileInfo(file.absolutePath()).canonicalFilePath() ==
                                   QFileInfo(folder).canonicalFilePath())
            ownFiles.append(file.fileName());
    }
    session.setOwnFiles(ownFiles);
    const auto service =
        kelvaro::startRecorderService(session, socketPath, parser.isSet(socketOption), tell);
    if (service.refused) {
        session.stop();
        return 1;
    }
    tell(link.isOpen() ? QStringLiteral("opened ") + link.deviceName() : link.problem());
    // From here on every change of the line's state is told as it happens.
    kelvaro::LineJournal journal(session, tell);
    if (*mqttSettings) {
        mqtt = kelvaro::startRecorderMqtt(session, **mqttSettings, tell);
        if (!mqtt) {
            session.stop();
            return 2;
        }
    }
    if (parser.isSet(metricsOption)) {
        metrics = std::make_unique<kelvaro::MetricsPublisher>(
            session, QFileInfo(parser.value(metricsOption)).absoluteFilePath(), tell);
        metrics->publish();
    }
    return QCoreApplication::exec();
}
