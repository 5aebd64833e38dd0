#pragma once
// How the program starts: the splash first; its timer or a click opens the main window
// once, which runs its start-up (hiding the splash) before it is shown.

#include <functional>

namespace kelvaro {

class BoardSession;
class Frm_Main;
class Frm_Splash;

// Shows the splash and returns it; both windows delete themselves when closed. `opened`,
// when given, is told about the main window as soon as it exists, before its start-up.
// The main window is the window of `session`, which must outlive it.
Frm_Splash* startProgram(BoardSession& session, std::function<void(Frm_Main*)> opened = {});

} // namespace kelvaro
