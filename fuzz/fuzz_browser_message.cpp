// What a browser sends over the page's WebSocket: whatever the bytes, the reading either
// refuses with a one-line reason or gives a request within its limits (a box that exists,
// a bounded text, a locale's name, a range in order, a chart width the server draws).

#include "fuzz_check.h"
#include "web/browser_request.h"

#include <cstddef>
#include <cstdint>

using kelvaro::fuzz::require;
using namespace kelvaro::web;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto read = readBrowserMessage(input);
    if (const auto* refusal = std::get_if<BrowserRefusal>(&read)) {
        require(!refusal->reason.isEmpty(), "a refusal says why");
        for (const QChar c : refusal->reason)
            require(c.category() != QChar::Other_Control, "a refusal is one printable line");
        return 0;
    }
    const BrowserRequest& request = std::get<BrowserRequest>(read);
    require(!request.id || *request.id >= 0, "ids are not negative");
    if (const auto* set = std::get_if<SetBox>(&request.ask)) {
        require(set->box >= 0 && set->box <= 9, "the box exists");
        require(set->text.size() <= 64, "the typed text is bounded");
        require(!set->locale.isEmpty() && set->locale.size() <= 40 && !set->locale.contains(u'-'),
                "the locale is a name");
    } else if (const auto* history = std::get_if<AskHistory>(&request.ask)) {
        require(history->from.isValid() && history->to.isValid() && history->from <= history->to,
                "the range is in order");
        require(history->width >= ChartMinWidth && history->width <= ChartMaxWidth,
                "the width is drawn");
    } else if (const auto* trend = std::get_if<AskTrend>(&request.ask)) {
        require(trend->hours >= 1 && trend->hours <= TrendMaxHours, "the hours are held");
        require(trend->width >= ChartMinWidth && trend->width <= ChartMaxWidth,
                "the width is drawn");
    } else if (const auto* settings = std::get_if<ChangeSettings>(&request.ask)) {
        require(settings->change.size() == 1, "one setting at a time");
    }
    return 0;
}
