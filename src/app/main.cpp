// The program starts with the splash window; the splash opens the main window, whose
// start-up runs the session's (settings, the board's port) and its own.

#include "app/quit_signals.h"
#include "app/report_command.h"
#include "core/kelv_main.h"
#include "core/version.h"
#include "link/board_session.h"
#include "windows/program_start.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

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

    kelvaro::Kelv_Main state;
    kelvaro::BoardSession session(state, QDir::currentPath());

    kelvaro::startProgram(session);
    return QApplication::exec();
}
