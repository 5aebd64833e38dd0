#pragma once
// How the program starts: the splash first; its timer or a click opens the main window
// once, which runs its start-up (hiding the splash) before it is shown.

#include "core/kelv_main.h"

#include <QString>
#include <functional>

namespace kelvaro {

class Frm_Main;
class Frm_Splash;

// Shows the splash and returns it; both windows delete themselves when closed. `opened`,
// when given, is told about the main window as soon as it exists, before its start-up.
Frm_Splash* startProgram(Kelv_Main& state, const QString& folder,
                         std::function<void(Frm_Main*)> opened = {});

} // namespace kelvaro
