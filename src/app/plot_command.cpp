#include "app/plot_command.h"

#include <cstdio>

namespace kelvaro {

int runPlotCommand(int, char*[], const HistoryCommand&)
{
    std::fputs("kelvaro: --plot is not built yet\n", stderr);
    return 2;
}

} // namespace kelvaro
