#pragma once
// The recorder's MQTT options read and checked before anything connects: the broker URL,
// the board id that names the topics, and the password file.

#include "core/outcome.h"

#include <QString>

namespace kelvaro::mqtt {

struct BrokerAddress
{
    bool tls = false;
    QString user; // empty: no user name is sent
    QString host;
    int port = 1883;
    bool operator==(const BrokerAddress&) const = default;
};

// "mqtt://[user@]host[:port]" or "mqtts://..." (port 1883 or 8883 when none is given).
// A host may be a name, an IPv4 address or an IPv6 address in brackets. Anything else
// (another scheme, a password in the URL, a path or query, a port outside 1..65535) is
// refused with the reason.
Outcome<BrokerAddress> parseBrokerUrl(const QString& url);

// A board id names topics: letters, digits, '_' and '-' only, 1 to 64 of them.
Outcome<QString> checkBoardId(const QString& id);

// The board id when none is given: the file name of the serial device (ttyUSB0 for
// /dev/ttyUSB0), every character a topic must not carry turned into '_'.
QString boardIdFromDevice(const QString& device);

// The password from the first line of `path` (its line end dropped). Refused when the
// file cannot be read, holds no password, or may be read by others (o+r in its mode): a
// password every user of the machine can read is no secret.
Outcome<QString> readPasswordFile(const QString& path);

} // namespace kelvaro::mqtt
