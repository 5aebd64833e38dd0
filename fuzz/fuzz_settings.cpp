// The settings file reader on arbitrary bytes (an edited, truncated or foreign file), and
// the save/load round trip: whatever was loaded and can be saved must load back to the
// same record. The save refuses texts with a double quote or a line break and non-finite
// numbers, which the format cannot hold; such records are skipped after checking that the
// refusal names a reason.

#include "fuzz_check.h"
#include "store/settings_file.h"

#include <cstddef>
#include <cstdint>

using kelvaro::fuzz::require;
using namespace kelvaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    Settings_Record loaded;
    parseSettings(loaded, bytes);

    // The bytes SaveSettings writes (it adds only the atomic file replacement).
    const Outcome<QByteArray> written = settingsFileBytes(loaded);
    if (!written) {
        require(!written.reason().isEmpty(), "a refused save says why");
        return 0;
    }
    const QByteArray& saved = written.value();
    Settings_Record reloaded;
    require(parseSettings(reloaded, saved), "a saved record reads back whole");
    require(reloaded == loaded, "a loaded record saves and loads back unchanged");
    require(settingsFileBytes(reloaded).value() == saved,
            "saving the reloaded record writes the same");
    return 0;
}
