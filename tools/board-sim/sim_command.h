#pragma once
// The commands the simulator reads on stdin, one per line, so a test can inject a fault
// or look at the board at a moment of its choosing.

#include "thermostat_model.h"

#include <QString>
#include <QStringView>
#include <optional>

namespace kelvaro::boardsim {

struct SimCommand
{
    enum class Kind
    {
        StopBlock,   // "stop-block": cut the next block after 20 data bytes
        Garbage,     // "garbage": one stray byte at the next idle moment
        IgnoreWrite, // "ignore-write": take the next frame but do not apply it
        Silent,      // "silent": stop polling
        Resume,      // "resume": poll again
        Close,       // "close": close the pty master, as if the adapter were unplugged
        Reopen,      // "reopen": a new pty behind the same comN link
        Stats,       // "stats": print the counters
        Dump,        // "dump": print the twenty words
        Set,         // "set <word> <value>": set a register word
        Quit         // "quit"
    };
    Kind kind = Kind::Stats;
    int word = 0;
    quint16 value = 0;
};

// The command on one line (surrounding blanks ignored). No value for an unknown command,
// wrong arguments, a word outside 0..19 or a value outside 0..65535.
std::optional<SimCommand> parseCommand(QStringView line);

// "words w0 w1 ... w19" in decimal.
QString dumpLine(const RegisterWords& words);

} // namespace kelvaro::boardsim
