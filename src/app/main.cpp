// The program starts with the splash window; the splash opens the main window, whose
// start-up runs the session's (settings, the board's port) and its own.

#include "app/quit_signals.h"
#include "app/report_command.h"
#include "core/kelv_main.h"
#include "core/version.h"
#include "link/board_session.h"
#include "windows/frm_main.h"
#include "windows/program_start.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <cstdio>

int main(int argc, char* argv[])
{
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

    // --attach SOCKET: work through the recorder's service on SOCKET. Without it the window
    // attaches by itself when it finds its port held by a recorder.
    QString attachSocket;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype k = 1; k < arguments.size(); ++k) {
        if (arguments[k] == QStringLiteral("--attach")) {
            if (k + 1 >= arguments.size() || arguments[k + 1].isEmpty()) {
                std::fputs("kelvaro: --attach needs the socket of a kelvaro-recorder\n"
                           "usage: kelvaro [--attach SOCKET]\n",
                           stderr);
                return 2;
            }
            attachSocket = arguments[++k];
        } else if (arguments[k].startsWith(QStringLiteral("--attach="))) {
            attachSocket = arguments[k].mid(9);
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
