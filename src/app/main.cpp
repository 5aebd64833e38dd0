// The program starts with the splash window; the splash opens the main window, whose
// start-up loads the settings and opens the board's port.

#include "core/kelv_main.h"
#include "windows/frm_main.h"
#include "windows/frm_splash.h"

#include <QApplication>
#include <QDir>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvaro"));
    QApplication::setApplicationVersion(QStringLiteral("1.38"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/icon.svg")));

    kelvaro::Kelv_Main state;
    const QString folder = QDir::currentPath();

    auto* splash = new kelvaro::Frm_Splash;
    splash->setAttribute(Qt::WA_DeleteOnClose);
    kelvaro::Frm_Main* mainWindow = nullptr;
    QObject::connect(splash, &kelvaro::Frm_Splash::showMainWindow, splash, [&] {
        if (mainWindow)
            return;
        mainWindow = new kelvaro::Frm_Main(state, folder);
        mainWindow->setAttribute(Qt::WA_DeleteOnClose);
        mainWindow->startUp(splash);
        mainWindow->show();
    });
    splash->show();
    return QApplication::exec();
}
