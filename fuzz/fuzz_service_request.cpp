// What a client of the recorder's socket sends, as raw bytes cut into chunks at the
// input's 0xFF bytes: the line reader never hands out a line over the limit nor anything
// after an over-long line, and every line it hands out is read as a request or refused
// with a reason, a request naming an entry box 0..9 when it writes one.

#include "fuzz_check.h"
#include "service/service_protocol.h"

#include <QByteArrayView>
#include <cstddef>
#include <cstdint>

using kelvaro::fuzz::require;
using namespace kelvaro::service;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    LineReader reader;
    qsizetype start = 0;
    const auto takeLines = [&] {
        while (const auto line = reader.nextLine()) {
            require(!reader.overLong(), "no line is handed out once over-long");
            require(line->size() <= MaxLineLength, "a line is at most the limit");
            require(!line->contains('\n'), "a line holds no newline");
            const auto request = parseRequest(*line);
            if (!request) {
                require(!request.reason().isEmpty(), "a refusal says why");
                continue;
            }
            if (request->type == RequestType::Set)
                require(request->box >= 0 && request->box <= 9, "a write names box 0..9");
            require(request->timeout.count() > 0, "a time-out is above 0");
        }
    };
    for (qsizetype k = 0; k <= input.size(); ++k) {
        if (k == input.size() || input[k] == char(0xFF)) {
            reader.append(input.sliced(start, k - start));
            takeLines();
            start = k + 1;
        }
    }
    // A huge line made of the input stays bounded.
    if (size > 0 && size < 64) {
        LineReader flood;
        for (qsizetype n = 0; n <= MaxLineLength / qsizetype(size) + 1; ++n)
            flood.append(input);
        while (flood.nextLine()) {
        }
        flood.append(QByteArrayView("\n"));
        while (const auto line = flood.nextLine())
            require(line->size() <= MaxLineLength, "a flooded line is at most the limit");
    }
    return 0;
}
