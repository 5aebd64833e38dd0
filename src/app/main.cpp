// The program starts with the splash window; the splash opens the main window, whose
// start-up runs the session's (settings, the board's port) and its own.

#include "app/quit_signals.h"
#include "app/report_command.h"
#include "core/kelv_main.h"
#include "core/version.h"
#include "link/board_session.h"
#include "service/service_address.h"
#include "windows/frm_main.h"
#include "windows/program_start.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <cstdio>
#include <string_view>

namespace {

// The window program's options, printed by --help; kept in step with its manual page by a
// test.
constexpr const char* HelpText =
    "Usage: kelvaro [--attach SOCKET|ssh://[USER@]HOST[:PORT][/DEVICE|/PATH]]\n"
    "       kelvaro --report [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--attach ADDRESS]\n"
    "       kelvaro --plot FILE.png [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--size WxH]\n"
    "Operator program for the Kelvaro relay thermostat board. Works in the current folder,\n"
    "the board's folder (Settings.txt, Parameters.txt and the daily log files).\n"
    "\n"
    "Options:\n"
    "  -h, --help           Displays this help.\n"
    "  -v, --version        Displays version information.\n"
    "  --attach <address>   Work through the kelvaro-recorder serving this socket, or one on\n"
    "                       another machine through ssh: ssh://[user@]host[:port], then\n"
    "                       /DEVICE (its /run/kelvaro/DEVICE/kelvaro.sock) or /PATH of the\n"
    "                       socket; without either, the only recorder there. With\n"
    "                       --report, report its board folder's log files.\n"
    "  --report             Print a CSV report of the daily log files, one row per day,\n"
    "                       without a window.\n"
    "  --plot <file>        Draw the daily log files into this PNG file, without a window.\n"
    "  --from <date>        --report, --plot: the first day, YYYY-MM-DD.\n"
    "  --to <date>          --report, --plot: the last day, YYYY-MM-DD.\n"
    "  --size <WxH>         --plot: the image's size in pixels (default 1200x600).\n";

} // namespace

int main(int argc, char* argv[])
{
    // --help and --version need neither a display nor the board's folder.
    for (int k = 1; k < argc; ++k) {
        const std::string_view argument(argv[k]);
        if (argument == "-h" || argument == "--help") {
            std::fputs(HelpText, stdout);
            return 0;
        }
        if (argument == "-v" || argument == "--version") {
            std::printf("Kelvaro %s\n", qPrintable(kelvaro::versionText()));
            return 0;
        }
    }
    // --report and --plot run without windows and end here.
    if (const int status = kelvaro::runHistoryCommandLine(argc, argv); status >= 0)
        return status;

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvaro"));
    QApplication::setApplicationVersion(kelvaro::versionText());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/icon.svg")));

    // Closing the windows runs the main window's own shutdown (auxiliary windows closed,
    // session stopped, port closed) and deletes them, as the window frame's close does.
    kelvaro::installQuitSignals(&application, [] {
        QApplication::closeAllWindows();
        QApplication::quit();
    });

    // --attach ADDRESS: work through the recorder's service there. Without it the window
    // attaches by itself when it finds its port held by a recorder.
    QString attachSocket;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype k = 1; k < arguments.size(); ++k) {
        if (arguments[k] == QStringLiteral("--attach")) {
            if (k + 1 >= arguments.size() || arguments[k + 1].isEmpty()) {
                std::fputs(
                    "kelvaro: --attach needs the socket of a kelvaro-recorder, or its "
                    "ssh address\n"
                    "usage: kelvaro [--attach SOCKET|ssh://[USER@]HOST[:PORT][/DEVICE|/PATH]]\n",
                    stderr);
                return 2;
            }
            attachSocket = arguments[++k];
        } else if (arguments[k].startsWith(QStringLiteral("--attach="))) {
            attachSocket = arguments[k].mid(9);
        }
    }
    if (!attachSocket.isEmpty()) {
        const auto address = kelvaro::service::parseServiceAddress(attachSocket);
        if (!address) {
            std::fprintf(stderr, "kelvaro: %s\n", qPrintable(address.reason()));
            return 2;
        }
    }

    kelvaro::Kelv_Main state;
    kelvaro::BoardSession session(state, QDir::currentPath());

    kelvaro::startProgram(session, [attachSocket](kelvaro::Frm_Main* window) {
        if (!attachSocket.isEmpty())
            window->attachAtStart(attachSocket);
    });
    return QApplication::exec();
}
