#pragma once
// `kelvaro --report` and `kelvaro --plot`: the history of the working folder's log files
// for scripts, without windows and without a display; `kelvaro --report --attach SOCKET`
// asks a recorder for the report of its board folder instead.

namespace kelvaro {

// Runs the command when argv asks for --report or --plot and returns its exit status;
// returns -1 when argv asks for neither (the program starts its windows).
int runHistoryCommandLine(int argc, char* argv[]);

} // namespace kelvaro
