// What arrives from an MQTT broker: a payload on a parameter's command topic (the first
// byte picks the parameter) and, as a second reading of the same bytes, a broker URL. A
// payload let through must be text the entry box takes or refuses with a reason, and a
// write it makes must fit its register; a URL taken must name a host and a valid port.

#include "fuzz_check.h"
#include "mqtt/mqtt_options.h"
#include "mqtt/mqtt_topics.h"
#include "values/parameter_entry.h"

#include <cstddef>
#include <cstdint>

using kelvaro::fuzz::require;
using namespace kelvaro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int box = data[0] % InputBoxCount;
    const QByteArray payload(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    const Outcome<QString> text = mqtt::entryTextOfPayload(box, payload);
    if (text) {
        require(payload.size() <= mqtt::LongestCommand, "a taken payload is not over-long");
        for (const bool fahrenheit : {false, true}) {
            const DisplayUnits units{fahrenheit, NominalCalibration, QLocale::c()};
            const Outcome<ParameterWrite> write = commitEntry(box, *text, Words{}, units);
            require(write || !write.reason().isEmpty(), "a refusal says why");
            if (write)
                require(write->value >= 0 && write->value <= 65535, "a write fits its word");
        }
    } else {
        require(!text.reason().isEmpty(), "a refused payload says why");
    }

    const Outcome<mqtt::BrokerAddress> address = mqtt::parseBrokerUrl(QString::fromUtf8(payload));
    if (address)
        require(!address->host.isEmpty() && address->port >= 1 && address->port <= 65535,
                "a taken URL names a host and a port");
    return 0;
}
