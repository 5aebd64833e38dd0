#pragma once
// SIGTERM and SIGINT end a program through its event loop: the handler only writes a byte
// into a pipe, and the pipe's reading end wakes the loop, which then runs `onQuit` between
// two events (never in the middle of a log line or a frame to the board).

#include <QObject>
#include <functional>

namespace kelvaro {

// Installs the handlers and returns the object that watches the pipe (owned by `parent`),
// or nullptr where signals cannot be caught this way.
QObject* installQuitSignals(QObject* parent, std::function<void()> onQuit);

} // namespace kelvaro
