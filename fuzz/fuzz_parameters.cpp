// The parameter file reader on arbitrary bytes, and the round trip of what it accepts:
// the file written for the words read must read back to the same twenty words.

#include "fuzz_check.h"
#include "store/parameter_file.h"

#include <cstddef>
#include <cstdint>

using kelvaro::fuzz::require;
using namespace kelvaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const Outcome<RegisterWords> words = parseParameters(bytes);
    if (!words) {
        require(!words.reason().isEmpty(), "a refused file says why");
        return 0;
    }
    const QByteArray saved = parametersFileBytes(*words);
    const Outcome<RegisterWords> again = parseParameters(saved);
    require(bool(again), "a written parameter file reads back");
    require(*again == *words, "loaded words save and load back unchanged");
    return 0;
}
