#pragma once
// `kelvaro --plot FILE.png`: the history chart of a range of days drawn into a PNG on the
// offscreen platform.

#include "history/history_command.h"

namespace kelvaro {

int runPlotCommand(int argc, char* argv[], const HistoryCommand& command);

} // namespace kelvaro
