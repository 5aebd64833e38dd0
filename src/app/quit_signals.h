#pragma once
// SIGTERM, SIGINT and SIGHUP end a program through its event loop: the handler only
// writes a byte into a pipe, and the pipe's reading end wakes the loop, which then runs
// `onQuit` between two events (never in the middle of a log line or a frame to the board).
// SIGPIPE is ignored, so a reader of stderr that went away (a journal restarted, a closed
// terminal pipe) costs only the lines it does not get.

#include <QObject>
#include <functional>

namespace kelvaro {

// Catches the quit signals from now on and ignores SIGPIPE. Called first thing in main(),
// before anything else starts: a signal that comes before installQuitSignals watches the
// pipe waits in it and ends the program as soon as its event loop runs. Idempotent; false
// where signals cannot be caught this way.
bool catchQuitSignals();

// Catches the signals (if catchQuitSignals was not called yet) and returns the object that
// watches the pipe (owned by `parent`), or nullptr where signals cannot be caught this way.
QObject* installQuitSignals(QObject* parent, std::function<void()> onQuit);

} // namespace kelvaro
