#include "windows/program_start.h"

#include "windows/frm_main.h"
#include "windows/frm_splash.h"

#include <memory>

namespace kelvaro {

Frm_Splash* startProgram(BoardSession& session, std::function<void(Frm_Main*)> opened)
{
    auto* splash = new Frm_Splash;
    splash->setAttribute(Qt::WA_DeleteOnClose);
    auto mainOpened = std::make_shared<bool>(false);
    QObject::connect(splash, &Frm_Splash::showMainWindow, splash,
                     [&session, opened = std::move(opened), mainOpened, splash] {
                         if (*mainOpened)
                             return;
                         *mainOpened = true;
                         auto* mainWindow = new Frm_Main(session);
                         mainWindow->setAttribute(Qt::WA_DeleteOnClose);
                         if (opened)
                             opened(mainWindow);
                         mainWindow->startUp(splash);
                         mainWindow->show();
                     });
    splash->show();
    return splash;
}

} // namespace kelvaro
